// The simulated machine: every program of the repository works on one machine root folder that
// holds the registry, the drive C: tree and the handhelds.
//
// The root is chosen, in this order, by set_root() (programs call it for a `--machine DIR` option),
// by the environment variable SX_MACHINE, and otherwise defaults to
// "$XDG_DATA_HOME/scribbix/machine" ("~/.local/share/scribbix/machine" when XDG_DATA_HOME is
// unset). Thread-safe. The folder is not created here; see `create_machine`.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace sx::machine {

inline constexpr const char* kRootEnvironmentVariable = "SX_MACHINE";

// The machine root in effect for this process.
std::filesystem::path root();

// Sets the machine root for this process (and, through SX_MACHINE, for the processes it starts).
void set_root(const std::filesystem::path& dir);

// Finds "--machine DIR" or "--machine=DIR" in argv, removes it (argc shrinks) and returns DIR.
// Returns nothing when the option is absent; throws std::invalid_argument when DIR is missing.
std::optional<std::string> take_machine_option(int& argc, char** argv);

// The default root, as documented above.
std::filesystem::path default_root();

// Makes sure the root and its fixed folders (drive_c, handhelds) exist. Returns false with a reason
// when the folder cannot be made.
bool create_machine(const std::filesystem::path& dir, std::string* why = nullptr);

// Number of times the root has changed in this process; components that cache machine state
// (the registry) compare it to drop their caches when a test moves to a fresh machine.
unsigned root_generation();

}  // namespace sx::machine
