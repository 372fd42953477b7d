// Starting our other programs (sxfolders, HotSync Manager) from the page server as processes of
// their own, on the same machine root. Their standard input is /dev/null, so that no window host of
// theirs takes the server's terminal.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace sx::machine_view {

struct ProgramRun {
  int exit_code = -1;  // -1 when it could not be started or was killed
  std::string output;  // stdout and stderr together
};

// Runs `program` with `args` to its end and returns what it printed (at most 1 MiB is kept).
ProgramRun run_to_end(const std::string& program, const std::vector<std::string>& args);

// Starts `program` with `args`, this process's environment and `extra_environment` ("NAME=value"
// each, taking the place of a variable of the same name), and returns at once: its pid, or -1 with
// *why. Its output goes to `output_file` (replaced). The caller reaps it (waitpid).
pid_t start(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>& extra_environment, const std::string& output_file,
            std::string* why);

// Waits for child `pid` to end: its exit code, -1 when it was killed or is not a child.
int wait_for_exit(pid_t pid);

}  // namespace sx::machine_view
