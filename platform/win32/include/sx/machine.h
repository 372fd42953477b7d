// The simulated machine: every program of the repository works on one machine root folder that
// holds the registry, the drive C: tree and the handhelds.
//
// The root is chosen, in this order, by set_root() (programs call it for a `--machine DIR` option),
// by the environment variable SX_MACHINE (a relative one is taken from the current folder), and
// otherwise defaults to "$XDG_DATA_HOME/scribbix/machine" ("$HOME/.local/share/scribbix/machine"
// when XDG_DATA_HOME is unset or empty). A relative XDG_DATA_HOME or HOME, or no HOME at all, gives
// no default: a machine under whatever folder the program happens to start in would be a different
// machine every time. Thread-safe. The folder is not created here; see `create_machine`.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace sx::machine {

inline constexpr const char* kRootEnvironmentVariable = "SX_MACHINE";

// The machine root in effect for this process, as resolve_root() finds it. Throws
// std::runtime_error (with resolve_root()'s reason) when there is none; programs call
// resolve_root() first and refuse to start instead.
std::filesystem::path root();

// The machine root in effect, or nothing with the reason in *why (a relative or missing data
// directory, see above).
std::optional<std::filesystem::path> resolve_root(std::string* why);

// Sets the machine root for this process (and, through SX_MACHINE, for the processes it starts).
// `dir` must not be empty; a relative one is taken from the current folder.
void set_root(const std::filesystem::path& dir);

// The default root, as documented above; nothing with the reason in *why when the data directory
// is relative or missing.
std::optional<std::filesystem::path> default_root(std::string* why);

// True when `dir` holds a machine: its fixed folders (drive_c, handhelds) are there, as
// create_machine() makes them.
bool holds_machine(const std::filesystem::path& dir);

// Makes sure the root and its fixed folders (drive_c, handhelds) exist. Returns false with a reason
// when the folder cannot be made.
bool create_machine(const std::filesystem::path& dir, std::string* why = nullptr);

// Number of times the root has changed in this process; components that cache machine state
// (the registry) compare it to drop their caches when a test moves to a fresh machine.
unsigned root_generation();

}  // namespace sx::machine
