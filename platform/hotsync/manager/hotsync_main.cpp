// HotSync Manager: runs HotSyncs of the machine's users with the registered conduits, lists the
// conduits, changes a conduit's action, shows the HotSync log, or stays resident.
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "hotsync/synctypes.h"
#include "resident.h"
#include "sx/hotsync.h"
#include "sx/machine.h"
#include "sx/paths.h"

namespace {

const char* const kUsage =
    "Usage: hotsync [--machine DIR] [COMMAND]\n"
    "\n"
    "HotSync Manager of the simulated machine in DIR (default: $SX_MACHINE, else\n"
    "~/.local/share/scribbix/machine).\n"
    "\n"
    "Commands:\n"
    "  (none), --resident   stay running with the \"KittyHawk\" window until asked to close\n"
    "                       (message 0xBEC5 with wParam 1, or WM_CLOSE)\n"
    "  --sync USER          press HotSync for USER: run every registered conduit whose\n"
    "                       creator has a database on USER's handheld; print the log\n"
    "  --list               list the registered conduits (name, version, creator, file)\n"
    "  --action USER KEY    change the action of the conduit registered under KEY\n"
    "                       (e.g. ApplicationVorScrib) for USER's next HotSyncs\n"
    "  --log USER           print USER's HotSync log\n"
    "  --help               this text\n"
    "\n"
    "Exit code: 0 on success, 1 on failure (a HotSync with a failed conduit included).\n";

std::string creator_text(DWORD creator) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((creator >> shift) & 0xFF);
    s += (c >= 32 && c < 127) ? c : '?';
  }
  return s;
}

void print_progress(const char* text) { std::printf("  ... %s\n", text); }

int sync(const std::string& user) {
  sx::hotsync::HotSyncReport report;
  const long result = sx::hotsync::run_hotsync(user, &report, print_progress);
  for (const auto& c : report.conduits) {
    if (c.ran) {
      std::printf("%s: sync type %d, result %ld (0x%lX)\n", c.key_name.c_str(), c.sync_type,
                  c.result, static_cast<unsigned long>(c.result));
    } else {
      std::printf("%s: not run (%s)\n", c.key_name.c_str(), c.skipped.c_str());
    }
  }
  std::printf("HotSync log:\n");
  for (const std::string& line : report.log) std::printf("  %s\n", line.c_str());
  return result == 0 ? 0 : 1;
}

int list() {
  const auto conduits = sx::hotsync::list_conduits();
  if (conduits.empty()) std::printf("No conduits are registered.\n");
  for (const auto& c : conduits) {
    std::printf("%-28s %-24s version 0x%lX  creator '%s'  %s\n", c.entry.key_name.c_str(),
                c.name.c_str(), static_cast<unsigned long>(c.version),
                creator_text(c.entry.creator).c_str(), c.entry.conduit.c_str());
  }
  return 0;
}

int action(const std::string& user, const std::string& key) {
  sx::hotsync::ConduitAction chosen;
  const long result = sx::hotsync::change_action(user, key, &chosen);
  if (result != 0) {
    std::printf("The action was not changed (result %ld).\n", result);
    return 1;
  }
  std::printf("%s for %s: sync type %d, %s\n", key.c_str(), user.c_str(), chosen.sync_type,
              chosen.permanent ? "as the default" : "for the next HotSync");
  return 0;
}

int show_log(const std::string& user) {
  std::vector<sx::hotsync::UserEntry> users;
  std::string why;
  if (!sx::hotsync::read_users(&users, &why)) {
    std::fprintf(stderr, "hotsync: %s\n", why.c_str());
    return 1;
  }
  for (const auto& u : users) {
    if (u.name != user) continue;
    std::ifstream in(sx::paths::to_host(sx::hotsync::hotsync_dir() + "\\" + u.directory + "\\" +
                                        sx::hotsync::kLogFileName));
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::printf("%s\n", line.c_str());
    }
    return 0;
  }
  std::fprintf(stderr, "hotsync: no HotSync user \"%s\"\n", user.c_str());
  return 1;
}

int run(int argc, char** argv) {
  if (auto dir = sx::machine::take_machine_option(argc, argv)) sx::machine::set_root(*dir);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--resident") return sx::hotsync::run_resident();
  const std::string& command = args[0];
  if (command == "--help" || command == "-h" || command == "/?") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--sync" && args.size() == 2) return sync(args[1]);
  if (command == "--list" && args.size() == 1) return list();
  if (command == "--action" && args.size() == 3) return action(args[1], args[2]);
  if (command == "--log" && args.size() == 2) return show_log(args[1]);
  std::fprintf(stderr, "hotsync: bad arguments\n\n%s", kUsage);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hotsync: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "hotsync: unexpected failure\n");
  }
  return 1;
}
