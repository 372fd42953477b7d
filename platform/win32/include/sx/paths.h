// The one place where Windows paths of the simulated machine map to files under the machine root.
//
// "C:\Program Files\Vorlan\x.dll" maps to "<root>/drive_c/Program Files/Vorlan/x.dll". Windows paths
// are case-insensitive: each component that already exists on disk under another case is found
// through a case-insensitive match, so "c:\PROGRAM FILES" reaches "Program Files". Both '\' and '/'
// separate components. "." is dropped; ".." never climbs above the drive folder. Paths without a
// drive letter are taken relative to drive C:. Thread-safe.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace sx::paths {

// Host path for a Windows path on the current machine.
std::filesystem::path to_host(std::string_view windows_path);

// Windows path ("C:\...") for a host path under the machine root; empty when it is outside the drive.
std::string to_windows(const std::filesystem::path& host_path);

}  // namespace sx::paths
