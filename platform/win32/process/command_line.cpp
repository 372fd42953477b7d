// GetCommandLineA: the Windows form of this process's command line.
#include <fstream>
#include <mutex>
#include <sstream>

#include "inheritance.h"
#include "sx/paths.h"
#include "win32/process.h"

namespace sx::process {
namespace {

// The quoted program path (its Windows path when it lies on the machine) and the arguments, as a
// Windows program's command line reads when it was not started by CreateProcessA.
std::string built_command_line() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  std::string program = ec ? std::string() : sx::paths::to_windows(self);
  if (program.empty() && !ec) program = self.string();
  std::string line = "\"" + program + "\"";
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string argument;
  bool first = true;
  while (std::getline(in, argument, '\0')) {
    if (!first) line += " " + quote_argument(argument);
    first = false;
  }
  return line;
}

}  // namespace
}  // namespace sx::process

extern "C" LPSTR GetCommandLineA() {
  static std::once_flag once;
  static std::string* line = nullptr;
  std::call_once(once, [] {
    try {
      const std::string& inherited = sx::process::inherited_command_line();
      line = new std::string(inherited.empty() ? sx::process::built_command_line() : inherited);
    } catch (...) {
      line = new std::string();
    }
  });
  return line->data();
}
