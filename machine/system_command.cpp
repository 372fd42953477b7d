// sxmachine system install: what the system's setup does on a machine, in one command: HotSync
// Manager with the Palm user, Outlook with its profile (run as the machine's one Outlook
// process), the conduit, ScribbixOut, ScribbixUpdate and the two Outlook add-ins installed and
// registered, the user's notes store in the profile and the pairing of the user with the profile.
// Each part is the machine tool's own command, run in turn; the first that fails stops the rest.
#include <cstdio>

#include "commands.h"
#include "notes_setup.h"
#include "sx/cli/terminal_text.h"
#include "sx/cli/values.h"
#include "sx/hotsync.h"
#include "sx/machine.h"

namespace sx::machine_tool {
namespace {

struct SystemOptions {
  std::string user = "Palm User";
  std::string profile = "Outlook";
  bool outlook_in_each_program = false;
};

// The parts installed so far, for the message when a later one fails.
struct Progress {
  std::vector<std::string> done;
};

// Runs one command of the machine tool on this machine (its arguments as a person types them, in
// UTF-8); throws Failure, saying what is installed already, when it fails.
void step(Progress& progress, const std::vector<std::string>& args, const std::string& part) {
  std::vector<std::string> line = {"sxmachine", "--machine", sx::machine::root().string()};
  line.insert(line.end(), args.begin(), args.end());
  std::vector<const char*> argv;
  for (const std::string& a : line) argv.push_back(a.c_str());
  auto program = make_program();
  if (program->run(static_cast<int>(argv.size()), argv.data()) != 0) {
    std::string shown, done;
    for (const std::string& a : args) shown += (shown.empty() ? "" : " ") + sx::cli::shell_word(a);
    for (const std::string& d : progress.done) done += (done.empty() ? "" : ", ") + d;
    throw sx::cli::Failure(
        "The installation stopped at \"sxmachine " + shown + "\" (above). " +
        (done.empty() ? std::string("Nothing was installed.")
                      : "Installed before it: " + done + ".") +
        " Run \"sxmachine system install\" again once the problem is mended: what is installed "
        "stays and is not done twice.");
  }
  progress.done.push_back(part);
}

// Refuses, before anything is installed, a user or profile the parts could not take.
void check_names(const std::string& user, const std::string& profile) {
  std::string why;
  if (!valid_notes_store_user(user, &why)) throw sx::cli::Failure(sx::cli::sentence(why));
  if (profile.empty() || profile.find('\\') != std::string::npos || profile.size() > 255) {
    throw sx::cli::Failure("The profile name \"" + sx::cli::ansi_to_terminal(profile) +
                           "\" is not a profile name: it has 1 to 255 characters and no "
                           "backslash.");
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
  // The names in the machine's code page, converted once; the steps take them as typed.
  const std::string user = sx::cli::machine_text(o.user, "user name");
  const std::string profile = sx::cli::machine_text(o.profile, "profile name");
  check_names(user, profile);
  Progress progress;
  step(progress, {"hotsync", "install"}, "HotSync Manager");
  if (!has_user(user)) step(progress, {"hotsync", "add-user", o.user}, "the HotSync user");
  step(progress, {"outlook", "install", "--profile", o.profile}, "Outlook with the profile");
  // As on Windows: every program of the machine and the person reach one Outlook process.
  step(progress, {"outlook", "process", o.outlook_in_each_program ? "off" : "on"},
       o.outlook_in_each_program ? "an Outlook in each program" : "one Outlook process");
  step(progress, {"conduit", "install"}, "the conduit");
  step(progress, {"scribbixout", "install"}, "ScribbixOut");
  step(progress, {"scribbixupdate", "install"}, "ScribbixUpdate");
  step(progress, {"scribbixoutlookaddin", "install"}, "the notes add-in");
  step(progress, {"scribbixmonitoraddin", "install"}, "the monitor add-in");
  std::string why;
  if (!install_notes_store(profile, user, &why)) {
    throw sx::cli::Failure(
        sx::cli::sentence("The notes store cannot be installed: " +
                          sx::cli::ansi_to_terminal(why)) +
        " Everything else is installed; run \"sxmachine system install\" again once the problem "
        "is mended.");
  }
  std::printf("The notes store %s (folder \"Vorlan\\Scribbix\") is in the profile \"%s\".\n",
              sx::cli::ansi_to_terminal(notes_store_path(user)).c_str(), o.profile.c_str());
  if (!pair_profile(user, profile, &why))
    throw sx::cli::Failure(sx::cli::sentence(sx::cli::ansi_to_terminal(why)));
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
  install_cmd->add_flag("--outlook-in-each-program", options->outlook_in_each_program,
                        "let each program run an Outlook of its own on the same stores instead of "
                        "one Outlook process for the whole machine");
  program.action(install_cmd, [options] { return install(*options); });
}

}  // namespace sx::machine_tool
