// sxmachine configure [SWITCHES]: the configuration program for a person. Puts its starter
// "SXConfigure.exe" in the installation directory (as setup would) and starts it there, with the
// switches given (such as /install), on the terminal; waits until it ends.
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "install_path.h"
#include "sx/cli/companion_files.h"
#include "sx/machine.h"
#include "sx/paths.h"
#include "windows.h"

namespace sx::machine_tool {
namespace {

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The starter: runs this build's sxconfigure on the machine with the status screen.
std::string InstallStarter() {
  const std::string program = installation_path(kDefaultInstallPath) + "\\SXConfigure.exe";
  const std::filesystem::path host = sx::paths::to_host(program);
  {
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    // The machine of the process that starts it, else this one.
    out << "#!/bin/sh\n# SXConfigure of this simulated machine\nmachine=${SX_MACHINE:-"
        << ShellQuote(sx::machine::root().string()) << "}\nexec "
        << ShellQuote(std::filesystem::absolute(SX_COMPANION_FILE(SX_CONFIGURE_PROGRAM)).string())
        << " --machine \"$machine\" screen \"$@\"\n";
    if (!out) throw sx::cli::Failure("Cannot write " + host.string() + ".");
  }
  ::chmod(host.c_str(), 0755);
  return program;
}

int Run(const std::vector<std::string>& switches) {
  const std::string program = InstallStarter();
  std::string line = "\"" + program + "\"";
  for (const std::string& s : switches) line += " " + s;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  if (!CreateProcessA(program.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    throw sx::cli::Failure("SXConfigure could not be started (error " +
                           std::to_string(GetLastError()) + ").");
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code == 0 ? sx::cli::kExitSuccess : sx::cli::kExitFailure;
}

}  // namespace

void add_configure_command(sx::cli::Program& program) {
  CLI::App* configure = program.app().add_subcommand(
      "configure",
      "start the configuration program SXConfigure for a person (its status screen, menus and "
      "installation wizard on the terminal), with its switches, such as /install");
  auto switches = std::make_shared<std::vector<std::string>>();
  configure->add_option("SWITCHES", *switches, "the program's switches (/install)");
  program.rewrite_arguments(configure, sx::cli::as_positional_arguments);
  configure->footer("Exit code: 0 when SXConfigure was closed, 1 when it ended otherwise.");
  program.action(configure, [switches] { return Run(*switches); });
}

}  // namespace sx::machine_tool
