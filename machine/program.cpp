#include "commands.h"

namespace sx::machine_tool {

std::unique_ptr<sx::cli::Program> make_program() {
  auto program = std::make_unique<sx::cli::Program>(
      "sxmachine",
      "Makes a simulated machine and looks at or changes what it holds: its registry, HotSync\n"
      "Manager with its users and handhelds, Outlook, the Scribbix conduit and its Outlook access\n"
      "component, and COM servers.");
  add_create_command(*program);
  add_reg_command(*program);
  add_hotsync_command(*program);
  add_handheld_command(*program);
  add_outlook_command(*program);
  add_conduit_command(*program);
  add_scribbixout_command(*program);
  add_scribbixupdate_command(*program);
  add_addin_commands(*program);
  add_com_command(*program);
  add_system_command(*program);
  add_configure_command(*program);
  add_view_command(*program);
  program->app().footer(
      "\"sxmachine COMMAND --help\" tells more about a command. Exit code: 0 on success, 1 on "
      "failure.");
  return program;
}

}  // namespace sx::machine_tool
