// The machine's registry file, for the programs that set up or inspect a machine (sxmachine).
// The system code uses the Reg* functions of win32/registry.h instead. Thread-safe.
#pragma once

#include <filesystem>
#include <string>

namespace sx::registry {

// "<machine root>/registry.reg" of the current machine.
std::filesystem::path file_path();

// Writes an empty registry ("REGEDIT4" and a blank line) for the current machine unless the file
// exists already. Returns false with a reason when it cannot.
bool create_empty_file(std::string* why);

}  // namespace sx::registry
