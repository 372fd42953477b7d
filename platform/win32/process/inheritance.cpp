// A process started by CreateProcessA: takes its command line and exit code file from the
// environment when it loads (and removes them, so that processes it starts by other means do not
// take them too), and writes its full exit code when it exits.
#include "inheritance.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace sx::process {
namespace {

// Where the exit code goes; a plain array, as it is read while the process exits.
char g_exit_code_file[4096] = {};

void write_exit_code(int status, void*) {
  if (g_exit_code_file[0] == '\0') return;
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%d\n", status);
  const int fd = ::open(g_exit_code_file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (::write(fd, text, static_cast<std::size_t>(length)) < 0) {
    // Nothing to do: the creator then reads the 8-bit status.
  }
  ::close(fd);
}

}  // namespace

void leave_exit_code(int code) { write_exit_code(code, nullptr); }

std::uint32_t exit_code_from_text(std::string_view text, int status_byte) {
  const auto fallback = static_cast<std::uint32_t>(status_byte);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  const std::size_t from = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() <= from || text.size() > 11 ||
      text.find_first_not_of("0123456789", from) != std::string_view::npos) {
    return fallback;
  }
  long long value = 0;
  for (std::size_t i = from; i < text.size(); ++i) value = value * 10 + (text[i] - '0');
  if (from == 1) value = -value;
  if (value < INT32_MIN || value > UINT32_MAX) return fallback;
  const auto code = static_cast<std::uint32_t>(value);
  return (code & 0xFFu) == (fallback & 0xFFu) ? code : fallback;
}

namespace {

std::string take_variable(const char* name) {
  const char* value = std::getenv(name);
  std::string text = value != nullptr ? value : "";
  ::unsetenv(name);
  return text;
}

struct Inheritance {
  std::string command_line;
  Inheritance() {
    std::string line = take_variable(kCommandLineVariable);
    std::string exit_file = take_variable(kExitCodeFileVariable);
    const std::string creator = take_variable(kCreatorVariable);
    // Only the creator's own child takes them (a starter script that execs the program is the
    // same process); anything else inherited them by accident.
    if (creator.empty() || std::strtol(creator.c_str(), nullptr, 10) != ::getppid()) return;
    command_line = std::move(line);
    if (!exit_file.empty() && exit_file.size() < sizeof g_exit_code_file) {
      std::memcpy(g_exit_code_file, exit_file.c_str(), exit_file.size() + 1);
      ::on_exit(write_exit_code, nullptr);
    }
  }
};

Inheritance& inheritance() {
  static Inheritance* i = new Inheritance();  // read once, at load (below), never destroyed
  return *i;
}

// Taken when the library loads, before the program can start processes of its own.
[[maybe_unused]] const bool g_taken_at_load = (inheritance(), true);

bool is_ours(const char* entry) {
  for (const char* name : {kCommandLineVariable, kExitCodeFileVariable, kCreatorVariable}) {
    const std::size_t n = std::strlen(name);
    if (std::strncmp(entry, name, n) == 0 && entry[n] == '=') return true;
  }
  return false;
}

}  // namespace

const std::string& inherited_command_line() { return inheritance().command_line; }

std::vector<std::string> child_environment(const std::string& command_line,
                                           const std::string& exit_code_file) {
  std::vector<std::string> environment;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    if (!is_ours(*e)) environment.emplace_back(*e);
  }
  environment.push_back(std::string(kCommandLineVariable) + "=" + command_line);
  environment.push_back(std::string(kExitCodeFileVariable) + "=" + exit_code_file);
  environment.push_back(std::string(kCreatorVariable) + "=" + std::to_string(::getpid()));
  return environment;
}

std::string quote_argument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');  // they come before the closing quote
  return quoted + "\"";
}

}  // namespace sx::process
