// Commands of the machine tool. Each adds its subcommand (with its options and actions) to the
// program; the actions print what they did and return the exit code, or throw sx::cli::Failure
// with a message for the person.
#pragma once

#include <memory>

#include "sx/cli/program.h"

namespace sx::machine_tool {

// sxmachine create [DIR] [--replace]
void add_create_command(sx::cli::Program& program);

// sxmachine reg query|add|delete ... (reg.exe syntax and output)
void add_reg_command(sx::cli::Program& program);

// sxmachine hotsync install|add-user|users|list|put|action|sync|preview ... (hotsync_command.cpp)
void add_hotsync_command(sx::cli::Program& program);

// sxmachine handheld USER list|show|new|edit|delete|categories|find|export|import|clock|run (the
// notes application on a user's handheld; handheld_command.cpp)
void add_handheld_command(sx::cli::Program& program);

// sxmachine outlook install|addins|prompt|close (Outlook's installation, its add-ins, its "ask for
// a profile" setting, closing it)
void add_outlook_command(sx::cli::Program& program);

// sxmachine com register|unregister PATH (what regsvr32 does)
void add_com_command(sx::cli::Program& program);

// sxmachine conduit install|uninstall (conduit_command.cpp)
void add_conduit_command(sx::cli::Program& program);

// sxmachine scribbixout install|uninstall (the Outlook access component; component_command.cpp)
void add_scribbixout_command(sx::cli::Program& program);

// sxmachine scribbixupdate install|uninstall (the folder maintenance component with the update
// store SXUpdate.pst; component_command.cpp)
void add_scribbixupdate_command(sx::cli::Program& program);

// sxmachine scribbixoutlookaddin|scribbixmonitoraddin install|uninstall (the two Outlook add-ins;
// component_command.cpp)
void add_addin_commands(sx::cli::Program& program);

// sxmachine system install (the whole system as its setup would leave it; system_command.cpp)
void add_system_command(sx::cli::Program& program);

// sxmachine configure [SWITCHES] (the configuration program for a person; configure_command.cpp)
void add_configure_command(sx::cli::Program& program);

// sxmachine view [--port N] [--user NAME] (the machine in a browser; view_command.cpp, view/)
void add_view_command(sx::cli::Program& program);

// The machine tool with all its commands.
std::unique_ptr<sx::cli::Program> make_program();

}  // namespace sx::machine_tool
