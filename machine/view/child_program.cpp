#include "child_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace sx::machine_view {
namespace {

constexpr std::size_t kMaxOutput = 1024 * 1024;

std::vector<char*> argv_of(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// The environment with `extra` in place of the variables of the same names.
std::vector<std::string> environment_with(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& x : extra) replaced = replaced || x.rfind(name, 0) == 0;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

// Spawns with stdin from /dev/null and stdout and stderr to `out_fd`.
pid_t spawn(const std::string& program, const std::vector<std::string>& args, int out_fd,
            int close_fd, const std::vector<std::string>& extra_environment, std::string* why) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 2);
  if (close_fd >= 0) posix_spawn_file_actions_addclose(&actions, close_fd);
  auto argv = argv_of(program, args);
  const std::vector<std::string> env = environment_with(extra_environment);
  std::vector<char*> envp;
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  // The server blocks Ctrl+C and SIGTERM for its stopper thread and ignores SIGPIPE; a program it
  // starts gets them back as a program started from a shell has them.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int signal : {SIGINT, SIGTERM, SIGPIPE}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int rc =
      posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    *why = "Cannot start " + program + ": " + std::strerror(rc) + ".";
    return -1;
  }
  return pid;
}

}  // namespace

int wait_for_exit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ProgramRun run_to_end(const std::string& program, const std::vector<std::string>& args) {
  ProgramRun run;
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    run.output = std::string("Cannot make a pipe: ") + std::strerror(errno) + ".";
    return run;
  }
  std::string why;
  const pid_t pid = spawn(program, args, pipe_fds[1], pipe_fds[0], {}, &why);
  ::close(pipe_fds[1]);
  if (pid < 0) {
    ::close(pipe_fds[0]);
    run.output = why;
    return run;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (run.output.size() < kMaxOutput) run.output.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipe_fds[0]);
  run.exit_code = wait_for_exit(pid);
  return run;
}

pid_t start(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>& extra_environment, const std::string& output_file,
            std::string* why) {
  const int fd = ::open(output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *why = "Cannot write " + output_file + ": " + std::strerror(errno) + ".";
    return -1;
  }
  const pid_t pid = spawn(program, args, fd, -1, extra_environment, why);
  ::close(fd);
  return pid;
}

}  // namespace sx::machine_view
