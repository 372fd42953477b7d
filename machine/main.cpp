// sxmachine: makes a simulated machine and looks at or changes what it holds.
#include "commands.h"

int main(int argc, char** argv) {
  sx::cli::Program program(
      "sxmachine",
      "Makes a simulated machine and looks at or changes what it holds: its registry, HotSync\n"
      "Manager with its users and handhelds, Outlook, the Scribbix conduit and its Outlook access\n"
      "component, and COM servers.");
  sx::machine_tool::add_create_command(program);
  sx::machine_tool::add_reg_command(program);
  sx::machine_tool::add_hotsync_command(program);
  sx::machine_tool::add_outlook_command(program);
  sx::machine_tool::add_conduit_command(program);
  sx::machine_tool::add_scribbixout_command(program);
  sx::machine_tool::add_scribbixupdate_command(program);
  sx::machine_tool::add_com_command(program);
  program.app().footer(
      "\"sxmachine COMMAND --help\" tells more about a command. Exit code: 0 on success, 1 on "
      "failure.");
  return program.run(argc, argv);
}
