#include "command_line.h"

#include <cstdio>
#include <string>

#include "component_checker.h"
#include "folder_install.h"
#include "status_dlg.h"
#include "sx/cli/terminal_text.h"
#include "sx/cli/values.h"

namespace sx::configure {
namespace {

using sx::cli::Failure;

const char* StateWord(RowState state) {
  switch (state) {
    case kGood:
      return "good";
    case kWarning:
      return "warning";
    case kFailed:
      return "failed";
    default:
      return "unchecked";
  }
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The checker of the command line: a check that ends the program ends it once what was found so
// far has been printed.
class CommandLineChecker : public CComponentChecker {
 protected:
  void EndProgram(int code) override {
    std::fflush(stdout);
    CComponentChecker::EndProgram(code);
  }
};

std::string Ansi(const std::string& terminal, const char* what) {
  return sx::cli::machine_text(terminal, what);
}

int Check() {
  CommandLineChecker checker;
  bool failed = false;
  checker.RefreshStatus([&](int row) {
    const StatusRow& r = checker.GetRow(row);
    std::printf("%s %s %s (%s)\n",
                sx::cli::pad_right(sx::cli::ansi_to_terminal(r.name), 40).c_str(),
                sx::cli::pad_right(sx::cli::ansi_to_terminal(Trimmed(r.info)), 28).c_str(),
                Trimmed(r.status).c_str(), StateWord(r.state));
    failed = failed || r.state == kFailed;
  });
  return failed ? kExitRowFailed : sx::cli::kExitSuccess;
}

int Install(const std::string& user, const std::string& profile) {
  CommandLineChecker checker;
  InstallReport report;
  InstallFolder(checker, Ansi(user, "Palm user"), Ansi(profile, "profile"), &report);
  if (report.target.empty()) throw Failure("Scribbix is not installed on this machine.");
  const std::string target = sx::cli::ansi_to_terminal(report.target);
  if (!report.installed) {
    throw Failure("The notes file " + target +
                  " was not installed: " + sx::cli::ansi_to_terminal(report.problem) + ". " +
                  (report.restored ? "Nothing was changed."
                                   : "Not everything could be put back as it was (see above)."));
  }
  if (!report.setAside.empty()) {
    std::printf("The previous notes file was set aside as %s.\n",
                sx::cli::ansi_to_terminal(report.setAside).c_str());
  }
  if (!report.stateSetAside.empty()) {
    std::printf(
        "The HotSync state of \"%s\" was set aside as %s: the next HotSync brings the "
        "handheld's notes into the new folder.\n",
        user.c_str(), sx::cli::ansi_to_terminal(report.stateSetAside).c_str());
  }
  std::printf("The notes file %s is installed in the profile \"%s\".\n", target.c_str(),
              profile.c_str());
  if (!report.addInsOn) {
    throw Failure(
        "The add-ins could not be switched on (see above); Outlook runs without them "
        "until they are.");
  }
  return sx::cli::kExitSuccess;
}

int Update(const std::string& profile) {
  CommandLineChecker checker;
  const long result = UpdateFolder(checker, Ansi(profile, "profile"));
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result) & 0xFFFFFFFFul);
  if (result == NO_UPDATE_FILE) {
    throw Failure(std::string("The update did not start (") + code +
                  "): the update store SXUpdate.pst is missing, or the profile could not be "
                  "logged on to.");
  }
  if (result == kNoNotesFolder) {
    throw Failure("The profile \"" + profile +
                  "\" has no notes folder to update; install one with: sxconfigure install");
  }
  if (result == kUpdateCancelled) {
    throw Failure("The update of the profile \"" + profile +
                  "\" was cancelled; the notes folder was kept as it was.");
  }
  if (result < 0) {
    throw Failure("The update of the profile \"" + profile + "\" failed (" + code +
                  "); the notes folder was kept as it was.");
  }
  std::printf("The update of the profile \"%s\" ended with %s.\n", profile.c_str(), code);
  return sx::cli::kExitSuccess;
}

}  // namespace

std::unique_ptr<sx::cli::Program> MakeCommandLine() {
  auto program = std::make_unique<sx::cli::Program>(
      "sxconfigure",
      "Checks the Scribbix installation of a machine, and installs or updates a profile's notes "
      "folder, as the configuration program does.");
  CLI::App& app = program->app();
  app.require_subcommand(1);

  CLI::App* check = app.add_subcommand(
      "check",
      "run the ten checks of the status screen and print each row: name, information, status "
      "and state (exit code 0 when no row failed, 2 when one did, 255 when Outlook cannot be "
      "started or is partly upgraded)");
  program->action(check, [] { return Check(); });

  auto user = std::make_shared<std::string>();
  auto profile = std::make_shared<std::string>();
  CLI::App* install = app.add_subcommand(
      "install",
      "install a fresh notes folder for a Palm user in an Outlook profile: the user's notes file "
      "\"<user> Vorlan.pst\" is made from the update store SXUpdate.pst (a previous one is set "
      "aside as \"<file>.1\" to \"<file>.100\", never deleted, with the user's HotSync state, "
      "so that the next HotSync brings the handheld's notes into the new folder), added to the "
      "profile, and the add-ins are switched on. Nothing changes when the profile cannot be "
      "logged on to, the update store is missing or Outlook holds the notes file open");
  install->add_option("--user", *user, "the Palm user")->required();
  install->add_option("--profile", *profile, "the Outlook profile")->required();
  program->action(install, [user, profile] { return Install(*user, *profile); });

  auto updateProfile = std::make_shared<std::string>();
  CLI::App* update = app.add_subcommand(
      "update",
      "rebuild the notes folder of an Outlook profile from the update store SXUpdate.pst, "
      "keeping every note");
  update->add_option("--profile", *updateProfile, "the Outlook profile")->required();
  program->action(update, [updateProfile] { return Update(*updateProfile); });

  CLI::App* screen = app.add_subcommand(
      "screen",
      "open the status screen for a person: the ten rows in their colours, RETEST, the Options, "
      "Wizard and Help menus (in a terminal: mN chooses menu item N, sN a window menu item, N "
      "presses control N, q closes). The switch /install (or -install, any case) opens the "
      "installation wizard once the screen is up");
  // The switches are the program's own (a slash or a dash, as Windows programs take them); they
  // reach it through its Windows command line and are only checked to be words here.
  auto switches = std::make_shared<std::vector<std::string>>();
  screen->add_option("SWITCHES", *switches, "switches of the program, such as /install");
  program->rewrite_arguments(screen, sx::cli::as_positional_arguments);
  screen->footer("Exit code: 0 when the screen was closed, 255 when a check ended the program.");
  program->action(screen, [switches] {
    // The status screen's checker ends the process itself (exit code -1) where Outlook cannot be
    // used at all.
    CComponentChecker checker;
    return RunConfigure(checker, GetCommandLineA());
  });
  return program;
}

}  // namespace sx::configure
