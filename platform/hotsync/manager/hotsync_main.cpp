// HotSync Manager: runs HotSyncs of the machine's users with the registered conduits, lists the
// conduits, changes a conduit's action, shows the HotSync log, or stays resident.
#include <strings.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "hotsync/synctypes.h"
#include "resident.h"
#include "sx/cli/program.h"
#include "sx/cli/terminal_text.h"
#include "sx/cli/values.h"
#include "sx/hotsync.h"
#include "sx/outlook/install.h"
#include "sx/paths.h"
#include "sx/preview/preview.h"

namespace {

using sx::cli::Failure;

struct Options {
  bool resident = false;
  std::string sync_user;
  std::string preview_user;
  bool list = false;
  std::vector<std::string> action;  // USER KEY
  std::string set;                  // --set WHAT: the action without the dialog
  bool as_default = false;
  std::string log_user;
  bool close = false;
};

std::string terminal(const std::string& ansi) { return sx::cli::ansi_to_terminal(ansi); }

std::string creator_text(DWORD creator) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((creator >> shift) & 0xFF);
    s += (c >= 32 && c < 127) ? c : '?';
  }
  return s;
}

void print_progress(const char* text) { std::printf("  ... %s\n", terminal(text).c_str()); }

sx::hotsync::UserEntry find_user(const std::string& name) {
  std::vector<sx::hotsync::UserEntry> users;
  std::string why;
  if (!sx::hotsync::read_users(&users, &why)) throw Failure(sx::cli::sentence(terminal(why)));
  for (const auto& u : users) {
    if (u.name == name) return u;
  }
  throw Failure("There is no HotSync user \"" + terminal(name) + "\".");
}

int sync(const std::string& user) {
  sx::hotsync::HotSyncReport report;
  const long result = sx::hotsync::run_hotsync(user, &report, print_progress);
  if (!report.not_started.empty()) {
    throw Failure(sx::cli::sentence(terminal("The HotSync did not start: " + report.not_started)));
  }
  for (const std::string& line : sx::hotsync::report_lines(report))
    std::printf("%s\n", terminal(line).c_str());
  return result == 0 ? 0 : 1;
}

int preview(const std::string& user) {
  try {
    for (const std::string& line : sx::preview::preview_lines(sx::preview::preview_hotsync(user)))
      std::printf("%s\n", terminal(line).c_str());
  } catch (const sx::preview::PreviewError& e) {
    throw Failure(terminal(e.what()));
  }
  return 0;
}

int list() {
  const auto conduits = sx::hotsync::list_conduits();
  if (conduits.empty()) std::printf("No conduits are registered.\n");
  for (const auto& c : conduits) {
    std::printf("%s %s version 0x%lX  creator '%s'  %s\n",
                sx::cli::pad_right(terminal(c.entry.key_name), 28).c_str(),
                sx::cli::pad_right(terminal(c.name), 24).c_str(),
                static_cast<unsigned long>(c.version), creator_text(c.entry.creator).c_str(),
                terminal(c.entry.conduit).c_str());
  }
  return 0;
}

// `set`: the action's name (none: the action dialog asks the person).
int action(const std::string& user, const std::string& key, const std::string& set,
           bool as_default) {
  find_user(user);
  bool registered = false;
  for (const auto& c : sx::hotsync::registered_conduits())
    registered = registered || ::strcasecmp(c.key_name.c_str(), key.c_str()) == 0;
  if (!registered) {
    throw Failure("No conduit is registered under \"" + terminal(key) +
                  "\"; \"hotsync --list\" shows the conduits.");
  }
  sx::hotsync::ConduitAction chosen;
  long result = 0;
  if (!set.empty()) {
    chosen = {sx::hotsync::sync_type_of_action(set), as_default};
    result = sx::hotsync::set_action(user, key, chosen);
  } else {
    result = sx::hotsync::change_action(user, key, &chosen);
  }
  if (result == -1) throw Failure("The action was not changed: the dialog was cancelled.");
  if (result != 0) {
    throw Failure("The action was not changed (" + sx::hotsync::result_text(result) + ").");
  }
  std::printf("%s for %s: %s, %s.\n", terminal(key).c_str(), terminal(user).c_str(),
              sx::hotsync::sync_type_name(chosen.sync_type),
              chosen.permanent ? "as the default" : "for the next HotSync");
  return 0;
}

int show_log(const std::string& user) {
  const auto who = find_user(user);
  const auto file = sx::hotsync::log_file(who.directory);
  std::ifstream in(file);
  if (!in) {
    std::printf("There is no HotSync log for \"%s\" yet.\n", terminal(user).c_str());
    return 0;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::printf("%s\n", terminal(line).c_str());
  }
  return 0;
}

// The names on the line arrive in the terminal's UTF-8; HotSync keeps the ANSI code page.
std::string ansi(const std::string& utf8, const char* what = "user name") {
  return sx::cli::machine_text(utf8, what);
}

int run(const Options& o, const CLI::App& app) {
  int given = 0;
  for (const char* name :
       {"--resident", "--sync", "--preview", "--list", "--action", "--log", "--close"})
    given += app.count(name) > 0 ? 1 : 0;
  if (given > 1) {
    throw sx::cli::UsageError(
        "Give one of --resident, --sync, --preview, --list, --action, --log and --close.");
  }
  if (app.count("--sync") > 0) return sync(ansi(o.sync_user));
  if (app.count("--preview") > 0) return preview(ansi(o.preview_user));
  if (o.list) return list();
  if ((app.count("--set") > 0 || o.as_default) && app.count("--action") == 0)
    throw sx::cli::UsageError("--set and --default go with --action.");
  if (o.as_default && app.count("--set") == 0)
    throw sx::cli::UsageError("--default goes with --set (the dialog has its own check box).");
  if (app.count("--action") > 0)
    return action(ansi(o.action[0]), ansi(o.action[1], "conduit key"), o.set, o.as_default);
  if (app.count("--log") > 0) return show_log(ansi(o.log_user));
  if (o.close) return sx::hotsync::close_resident();
  return sx::hotsync::run_resident();
}

}  // namespace

int main(int argc, char** argv) {
  // Conduits reach Outlook through COM; Outlook is served in this process, as by a process of its
  // own.
  sx::outlook::register_server();
  sx::cli::Program program(
      "hotsync",
      "HotSync Manager of the simulated machine. Without a command it stays running with its\n"
      "\"KittyHawk\" window until asked to close; one may run on a machine at a time.");
  auto options = std::make_shared<Options>();
  CLI::App& app = program.app();
  app.add_flag("--resident", options->resident,
               "stay running with the \"KittyHawk\" window until asked to close (message 0xBEC5 "
               "with wParam 1, WM_CLOSE, hotsync --close, Ctrl+C)");
  app.add_option("--sync", options->sync_user,
                 "press HotSync for USER: run every registered conduit whose creator has a "
                 "database on USER's handheld; print the log")
      ->type_name("USER");
  app.add_option("--preview", options->preview_user,
                 "show what the next HotSync of USER would do to the notes, note by note, "
                 "without doing it: it runs on a copy of the machine")
      ->type_name("USER");
  app.add_flag("--list", options->list,
               "list the registered conduits (key, name, version, creator, file)");
  app.add_option("--action", options->action,
                 "change the action of the conduit registered under KEY (e.g. "
                 "ApplicationVorScrib) for USER's next HotSyncs")
      ->expected(2)
      ->option_text("USER KEY");
  std::string actions;
  for (const std::string& name : sx::hotsync::action_names())
    actions += (actions.empty() ? "" : ", ") + name;
  app.add_option("--set", options->set,
                 "with --action: keep this action without the dialog (" + actions +
                     "), for the next HotSync only")
      ->transform(sx::cli::one_of(sx::hotsync::action_names()))
      ->type_name("WHAT");
  app.add_flag("--default", options->as_default,
               "with --action --set: keep it for every HotSync (the dialog's \"Set as default\")");
  app.add_option("--log", options->log_user, "print USER's HotSync log")->type_name("USER");
  app.add_flag("--close", options->close,
               "ask the running HotSync Manager to close, as Windows does (WM_CLOSE)");
  app.footer(
      "Exit code: 0 on success, 1 on failure (a HotSync with a failed conduit or a file it could "
      "not write included).");
  program.action(&app, [options, &app] { return run(*options, app); });
  return program.run(argc, argv);
}
