// Internal: what a process started by CreateProcessA receives from its creator through its
// environment: the Windows command line it was started with, and the file in which it leaves its
// full 32-bit exit code (a Linux parent sees only the low 8 bits of an exit status).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sx::process {

inline constexpr const char* kCommandLineVariable = "SX_COMMAND_LINE";
inline constexpr const char* kExitCodeFileVariable = "SX_EXIT_CODE_FILE";
inline constexpr const char* kCreatorVariable = "SX_CREATOR_PID";

// The command line this process was started with by CreateProcessA; empty when it was started
// otherwise (then GetCommandLineA builds one from its arguments).
const std::string& inherited_command_line();

// The environment for a child: this process's, without the variables above, plus them for the
// child (its command line, the exit code file, this process as its creator).
std::vector<std::string> child_environment(const std::string& command_line,
                                           const std::string& exit_code_file);

// Leaves `code` in this process's exit code file, if its creator gave it one (any exit does so by
// itself; for an exit that skips the exit handlers).
void leave_exit_code(int code);

// The full exit code a child left in its exit code file ("<signed 32-bit number>\n"), when its low
// 8 bits match the status the host saw (the file is then the child's own); else that status.
std::uint32_t exit_code_from_text(std::string_view text, int status_byte);

// Windows quoting of one argument, as CommandLineToArgvW reads it back.
std::string quote_argument(const std::string& argument);

}  // namespace sx::process
