// CreateProcessA and the process kernel object over posix_spawn and waitpid.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "inheritance.h"
#include "sx/clock.h"
#include "sx/machine.h"
#include "sx/paths.h"
#include "sx/waitable.h"
#include "sx/window.h"
#include "win32/process.h"

namespace sx::process {
namespace {

// A child process; signalled when it has ended. A reaper thread waits for it so that it never
// lingers as a zombie, whether or not anybody holds its handle.
class Process final : public sx::sync::Waitable {
 public:
  Process(pid_t pid, std::filesystem::path exit_code_file)
      : pid_(pid), exit_code_file_(std::move(exit_code_file)) {}
  bool signalled_locked() const override { return ended_; }

  pid_t pid() const { return pid_; }
  const std::filesystem::path& exit_code_file() const { return exit_code_file_; }
  // Guarded by sx::kernel::lock().
  bool ended_ = false;
  DWORD exit_code_ = STILL_ACTIVE;
  bool terminated_ = false;
  DWORD terminate_code_ = 0;

 private:
  const pid_t pid_;
  const std::filesystem::path exit_code_file_;
};

// The full exit code the child left in its file, when it matches the 8-bit status the host saw
// (the file is then trusted to be the child's own); the file is removed either way.
DWORD full_exit_code(const std::filesystem::path& file, int status_byte) {
  std::string text;
  {
    std::ifstream in(file, std::ios::binary);
    char buffer[64];
    in.read(buffer, sizeof buffer);
    text.assign(buffer, static_cast<std::size_t>(in.gcount()));
  }
  std::error_code ec;
  std::filesystem::remove(file, ec);
  return exit_code_from_text(text, status_byte);
}

void reap(std::shared_ptr<Process> process) {
  int status = 0;
  while (::waitpid(process->pid(), &status, 0) < 0 && errno == EINTR) {
  }
  const DWORD exited_with =
      WIFEXITED(status) ? full_exit_code(process->exit_code_file(), WEXITSTATUS(status)) : 0;
  if (!WIFEXITED(status)) {
    std::error_code ec;
    std::filesystem::remove(process->exit_code_file(), ec);
  }
  auto guard = sx::kernel::lock();
  if (process->terminated_) {
    process->exit_code_ = process->terminate_code_;
  } else if (WIFEXITED(status)) {
    process->exit_code_ = exited_with;
  } else if (WIFSIGNALED(status)) {
    process->exit_code_ = 128u + static_cast<DWORD>(WTERMSIG(status));
  } else {
    process->exit_code_ = 1;
  }
  process->ended_ = true;
  sx::kernel::notify_all();
}

// Splits a Windows command line into words: spaces separate, double quotes group, 2n backslashes
// before a quote give n backslashes, 2n+1 give n and a literal quote.
std::vector<std::string> split_command_line(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false, quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\') {
      std::size_t n = 0;
      while (i < line.size() && line[i] == '\\') ++n, ++i;
      if (i < line.size() && line[i] == '"') {
        word.append(n / 2, '\\');
        if (n % 2 == 1) {
          word.push_back('"');
        } else {
          quoted = !quoted;
        }
      } else {
        word.append(n, '\\');
        --i;
      }
      in_word = true;
    } else if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word.push_back(c);
      in_word = true;
    }
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL create_process(LPCSTR application, LPSTR command_line, DWORD flags, LPCSTR directory,
                    LPPROCESS_INFORMATION info) {
  if (info == nullptr || (application == nullptr && command_line == nullptr)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (flags & CREATE_SUSPENDED) return fail(ERROR_NOT_SUPPORTED);
  std::vector<std::string> words = split_command_line(command_line ? command_line : "");
  std::string program = application ? application : (words.empty() ? "" : words.front());
  if (program.empty()) return fail(ERROR_INVALID_PARAMETER);
  if (application == nullptr)
    words.erase(words.begin());
  else if (!words.empty())
    words.erase(words.begin());  // the command line repeats the program

  const std::filesystem::path host = sx::paths::to_host(program);
  std::error_code ec;
  if (host.empty() || !std::filesystem::is_regular_file(host, ec))
    return fail(ERROR_FILE_NOT_FOUND);
  if (::access(host.c_str(), X_OK) != 0) return fail(ERROR_BAD_EXE_FORMAT);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  std::string folder;
  if (directory != nullptr && *directory != '\0') {
    folder = sx::paths::to_host(directory).string();
    if (folder.empty() || !std::filesystem::is_directory(folder, ec)) {
      posix_spawn_file_actions_destroy(&actions);
      return fail(ERROR_DIRECTORY);
    }
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  }
  std::string argv0 = host.string();
  std::vector<char*> argv{argv0.data()};
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  // The child gets its Windows command line as given (GetCommandLineA) and a file for its full exit
  // code.
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path exit_code_file =
      sx::machine::root() / "processes" /
      (std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".exit");
  std::filesystem::create_directories(exit_code_file.parent_path(), ec);
  std::vector<std::string> environment = child_environment(
      command_line != nullptr ? std::string(command_line) : std::string(application),
      exit_code_file.string());
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, argv0.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0)
    return fail(rc == ENOEXEC || rc == EACCES ? ERROR_BAD_EXE_FORMAT : ERROR_FILE_NOT_FOUND);

  auto process = std::make_shared<Process>(pid, exit_code_file);
  std::thread(reap, process).detach();
  info->hProcess = sx::handles::insert(process);
  info->hThread = sx::handles::insert(process);
  info->dwProcessId = static_cast<DWORD>(pid);
  info->dwThreadId = static_cast<DWORD>(pid);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // namespace
}  // namespace sx::process

using sx::process::Process;

extern "C" {

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL, DWORD dwCreationFlags, LPVOID,
                    LPCSTR lpCurrentDirectory, LPSTARTUPINFOA,
                    LPPROCESS_INFORMATION lpProcessInformation) {
  try {
    return sx::process::create_process(lpApplicationName, lpCommandLine, dwCreationFlags,
                                       lpCurrentDirectory, lpProcessInformation);
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  auto process = sx::handles::get<Process>(hProcess);
  if (!process || lpExitCode == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto guard = sx::kernel::lock();
  *lpExitCode = process->exit_code_;
  return TRUE;
}

BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode) {
  auto process = sx::handles::get<Process>(hProcess);
  if (!process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    auto guard = sx::kernel::lock();
    if (process->ended_) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    process->terminated_ = true;
    process->terminate_code_ = uExitCode;
  }
  ::kill(process->pid(), SIGKILL);
  return TRUE;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

void ExitProcess(UINT uExitCode) {
  // As on Windows, the process ends without the program's own clean-up: its other threads (a
  // local server's, a watcher's) may still be using the static objects that clean-up would
  // destroy. What it printed is flushed and its full exit code left for its creator.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  sx::process::leave_exit_code(static_cast<int>(uExitCode));
  ::_exit(static_cast<int>(uExitCode));
}

DWORD WaitForInputIdle(HANDLE hProcess, DWORD dwMilliseconds) {
  auto process = sx::handles::get<Process>(hProcess);
  if (!process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  // The other process publishes its windows in files; look again every 50 ms of the clock.
  constexpr std::int64_t kSlice = 50;
  const std::int64_t deadline =
      dwMilliseconds == INFINITE ? sx::kernel::kNoDeadline
                                 : sx::clock::now_ms() + static_cast<std::int64_t>(dwMilliseconds);
  for (;;) {
    if (sx::window::process_has_top_level_window(static_cast<std::uint32_t>(process->pid()))) {
      return 0;
    }
    auto guard = sx::kernel::lock();
    if (process->ended_) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    const std::int64_t now = sx::clock::now_ms();
    if (deadline != sx::kernel::kNoDeadline && now >= deadline) return WAIT_TIMEOUT;
    std::int64_t until = now + kSlice;
    if (deadline != sx::kernel::kNoDeadline && until > deadline) until = deadline;
    sx::kernel::wait_until(
        guard, [&] { return process->ended_; }, until);
  }
}

}  // extern "C"
