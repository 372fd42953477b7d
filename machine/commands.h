// Subcommands of the machine tool. Each gets its own arguments (after the subcommand's name, with
// --machine already taken out and applied), prints what it did, and returns the process exit code:
// 0 on success, 1 on failure. They may throw; main() reports what they throw.
#pragma once

#include <string>
#include <vector>

namespace sx::machine_tool {

using Args = std::vector<std::string>;

// True for --help, -h and /? (the Windows way).
bool is_help(const std::string& arg);

// sxmachine create [DIR]
int run_create(const Args& args);
extern const char* const kCreateHelp;

// sxmachine reg query|add|delete ... (reg.exe syntax and output)
int run_reg(const Args& args);
extern const char* const kRegHelp;

// sxmachine hotsync install|add-user|users|list|put|sync ... (hotsync_command.cpp)
int run_hotsync_command(const Args& args);
extern const char* const kHotSyncHelp;
// sxmachine outlook install|addins|prompt|close (Outlook's installation, its add-ins, its
// "ask for a profile" setting, closing it)
int run_outlook(const Args& args);
extern const char* const kOutlookHelp;

// sxmachine com register|unregister PATH (what regsvr32 does)
int run_com_command(const Args& args);
extern const char* const kComHelp;

// sxmachine conduit install|uninstall (conduit_command.cpp)
int run_conduit_command(const Args& args);
extern const char* const kConduitHelp;

}  // namespace sx::machine_tool
