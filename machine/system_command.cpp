// sxmachine system install: what the system's setup does on a machine, in one command: HotSync
// Manager with the Palm user, Outlook with its profile, the conduit, ScribbixOut, ScribbixUpdate
// and the two Outlook add-ins installed and registered, the user's notes store in the profile and
// the pairing of the user with the profile. Each part is the machine tool's own command, run in
// turn; the first that fails stops the rest.
#include <cstdio>

#include "commands.h"
#include "notes_setup.h"
#include "sx/cli/values.h"
#include "sx/hotsync.h"
#include "sx/machine.h"

namespace sx::machine_tool {
namespace {

struct SystemOptions {
  std::string user = "Palm User";
  std::string profile = "Outlook";
};

// Runs one command of the machine tool on this machine; throws Failure when it fails.
void step(const std::vector<std::string>& args) {
  std::vector<std::string> line = {"sxmachine", "--machine", sx::machine::root().string()};
  line.insert(line.end(), args.begin(), args.end());
  std::vector<const char*> argv;
  for (const std::string& a : line) argv.push_back(a.c_str());
  auto program = make_program();
  if (program->run(static_cast<int>(argv.size()), argv.data()) != 0) {
    std::string shown;
    for (const std::string& a : args) shown += (shown.empty() ? "" : " ") + a;
    throw sx::cli::Failure("the installation stopped at \"sxmachine " + shown + "\"");
  }
}

bool has_user(const std::string& name) {
  std::vector<sx::hotsync::UserEntry> users;
  std::string why;
  if (!sx::hotsync::read_users(&users, &why)) return false;
  for (const auto& u : users) {
    if (u.name == name) return true;
  }
  return false;
}

int install(const SystemOptions& o) {
  step({"hotsync", "install"});
  if (!has_user(o.user)) step({"hotsync", "add-user", o.user});
  step({"outlook", "install", "--profile", o.profile});
  step({"conduit", "install"});
  step({"scribbixout", "install"});
  step({"scribbixupdate", "install"});
  step({"scribbixoutlookaddin", "install"});
  step({"scribbixmonitoraddin", "install"});
  std::string why;
  if (!install_notes_store(o.profile, o.user, &why)) {
    throw sx::cli::Failure("the notes store cannot be installed: " + why);
  }
  std::printf("The notes store %s (folder \"Vorlan\\Scribbix\") is in the profile \"%s\".\n",
              notes_store_path(o.user).c_str(), o.profile.c_str());
  if (!pair_profile(o.user, o.profile, &why)) throw sx::cli::Failure(why);
  std::printf("The Palm user \"%s\" synchronises with the Outlook profile \"%s\".\n",
              o.user.c_str(), o.profile.c_str());
  return sx::cli::kExitSuccess;
}

}  // namespace

void add_system_command(sx::cli::Program& program) {
  CLI::App* system = program.app().add_subcommand(
      "system", "install the whole Scribbix system on the machine, as its setup would");
  system->require_subcommand(1);
  auto options = std::make_shared<SystemOptions>();
  CLI::App* install_cmd = system->add_subcommand(
      "install",
      "install HotSync Manager with the Palm user, Outlook with the profile, the conduit, "
      "ScribbixOut, ScribbixUpdate, the notes add-in and the monitor add-in, the user's notes "
      "store \"<user> Vorlan.pst\" in the profile, and pair the user "
      "with the profile");
  install_cmd->add_option("--user", options->user, "the Palm user (default \"Palm User\")");
  install_cmd->add_option("--profile", options->profile,
                          "the Outlook profile (default \"Outlook\")");
  program.action(install_cmd, [options] { return install(*options); });
}

}  // namespace sx::machine_tool
