// sxmachine: makes a simulated machine and looks at or changes what it holds.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "commands.h"
#include "sx/machine.h"

namespace {

const char* const kUsage =
    "Usage: sxmachine [--machine DIR] COMMAND [ARGS...]\n"
    "\n"
    "Works on the simulated machine in DIR (default: $SX_MACHINE, else\n"
    "~/.local/share/scribbix/machine).\n"
    "\n"
    "Commands:\n"
    "  create [DIR]   make a fresh machine with an empty registry\n"
    "  reg ...        query, add or delete registry keys and values, as Windows's reg.exe\n"
    "  hotsync ...    install HotSync, add Palm users, list handhelds, press HotSync\n"
    "  outlook ...    install Outlook, list its add-ins, make it ask for a profile, close it\n"
    "  com ...        register or unregister a COM server, as regsvr32 does\n"
    "  conduit ...    install the Scribbix conduit into HotSync and register it\n"
    "\n"
    "\"sxmachine COMMAND --help\" tells more about a command.\n";

int run(int argc, char** argv) {
  if (auto dir = sx::machine::take_machine_option(argc, argv)) sx::machine::set_root(*dir);
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  std::string command = argv[1];
  sx::machine_tool::Args args(argv + 2, argv + argc);
  if (sx::machine_tool::is_help(command)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "create") return sx::machine_tool::run_create(args);
  if (command == "reg") return sx::machine_tool::run_reg(args);
  if (command == "hotsync") return sx::machine_tool::run_hotsync_command(args);
  if (command == "outlook") return sx::machine_tool::run_outlook(args);
  if (command == "conduit") return sx::machine_tool::run_conduit_command(args);
  if (command == "com") return sx::machine_tool::run_com_command(args);
  std::fprintf(stderr, "sxmachine: unknown command \"%s\"\n\n%s", command.c_str(), kUsage);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sxmachine: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "sxmachine: unexpected failure\n");
  }
  return 1;
}
