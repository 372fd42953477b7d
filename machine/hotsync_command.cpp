// sxmachine hotsync ...: what a person needs to play the handheld side of HotSync on the machine.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "commands.h"
#include "sx/hotsync.h"
#include "terminal_text.h"

namespace sx::machine_tool {

const char* const kHotSyncHelp =
    "Usage: sxmachine hotsync install [--program FILE] [--instaide FILE]\n"
    "       sxmachine hotsync add-user NAME [--id N] [--dir DIRECTORY]\n"
    "       sxmachine hotsync users\n"
    "       sxmachine hotsync list USER [DATABASE]\n"
    "       sxmachine hotsync put USER FILE.pdb\n"
    "       sxmachine hotsync sync USER\n"
    "\n"
    "install   installs HotSync Manager: the keys under HKCU\\Software\\U.S. Robotics\\Pilot\n"
    "          Desktop\\Core (Path, HotSyncPath, PCID), \"C:\\Program Files\\Palm\" with "
    "users.dat,\n"
    "          HotSync.exe (starts FILE, default: the hotsync program of this build) and\n"
    "          instaide.dll (FILE, default: this build's install aide)\n"
    "add-user  adds a HotSync user to users.dat with an empty handheld (handhelds/DIRECTORY;\n"
    "          DIRECTORY defaults to the name's letters and digits)\n"
    "users     lists HotSync's users\n"
    "list      lists the databases on USER's handheld, or the records of DATABASE\n"
    "put       copies a Palm database file onto USER's handheld (it is checked first)\n"
    "sync      presses HotSync for USER: runs the registered conduits, prints the log\n";

namespace {

bool has_help(const Args& args) {
  for (const auto& a : args) {
    if (is_help(a)) return true;
  }
  return false;
}

std::string four_chars(DWORD v) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((v >> shift) & 0xFF);
    s += (c >= 32 && c < 127) ? c : '?';
  }
  return s;
}

std::string palm_date(DWORD t) {
  if (t == 0) return "never";
  const std::time_t local = static_cast<std::time_t>(sx::hotsync::unix_seconds_from_palm_time(t));
  std::tm tm{};
  localtime_r(&local, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

const sx::hotsync::UserEntry* find_user(const std::vector<sx::hotsync::UserEntry>& users,
                                        const std::string& name) {
  for (const auto& u : users) {
    if (u.name == name) return &u;
  }
  return nullptr;
}

int fail(const std::string& why) {
  std::fprintf(stderr, "ERROR: %s\n", ansi_to_terminal(why).c_str());
  return 1;
}

int install(const Args& args) {
  sx::hotsync::InstallOptions options;
  options.program = SX_HOTSYNC_PROGRAM;
  options.instaide = SX_INSTAIDE_LIBRARY;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--program" && i + 1 < args.size()) {
      options.program = args[++i];
    } else if (args[i] == "--instaide" && i + 1 < args.size()) {
      options.instaide = args[++i];
    } else {
      return fail("unknown argument " + args[i]);
    }
  }
  std::string why;
  if (!sx::hotsync::install_hotsync(options, &why)) return fail(why);
  std::printf("HotSync Manager is installed in %s\n", sx::hotsync::hotsync_dir().c_str());
  return 0;
}

int add_user(const Args& args) {
  if (args.size() < 2) return fail("add-user needs a NAME");
  auto name = terminal_to_ansi(args[1]);
  if (!name) return fail("the name has characters the machine's code page cannot hold");
  DWORD id = 0;
  std::string directory;
  for (std::size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--id" && i + 1 < args.size()) {
      id = static_cast<DWORD>(std::strtoul(args[++i].c_str(), nullptr, 0));
    } else if (args[i] == "--dir" && i + 1 < args.size()) {
      directory = args[++i];
    } else {
      return fail("unknown argument " + args[i]);
    }
  }
  std::string why;
  if (!sx::hotsync::add_user(*name, id, directory, &why)) return fail(why);
  std::printf("Added the HotSync user \"%s\" with an empty handheld.\n", args[1].c_str());
  return 0;
}

int users() {
  std::vector<sx::hotsync::UserEntry> list;
  std::string why;
  if (!sx::hotsync::read_users(&list, &why)) return fail(why);
  for (const auto& u : list) {
    std::printf("%-24s id %-10lu directory %s\n", ansi_to_terminal(u.name).c_str(),
                static_cast<unsigned long>(u.user_id), ansi_to_terminal(u.directory).c_str());
  }
  return 0;
}

int list_databases(const std::filesystem::path& handheld) {
  sx::hotsync::DeviceInfo device;
  std::string why;
  if (!sx::hotsync::read_device(handheld, &device, &why)) return fail(why);
  std::printf("Handheld of \"%s\" (user ID %lu), last HotSync %s with PC 0x%08lX\n",
              ansi_to_terminal(device.user_name).c_str(),
              static_cast<unsigned long>(device.user_id), palm_date(device.last_sync_time).c_str(),
              static_cast<unsigned long>(device.last_sync_pc));
  for (const auto& file : sx::hotsync::database_files(handheld)) {
    sx::hotsync::PdbDatabase db;
    if (!sx::hotsync::load_database(file, &db, &why)) {
      std::printf("  %-32s DAMAGED: %s\n", file.filename().c_str(), why.c_str());
      continue;
    }
    std::printf(
        "  %-32s creator '%s' type '%s' version %u, %zu records, modified %s, backed up %s\n",
        ansi_to_terminal(db.name).c_str(), four_chars(db.creator).c_str(),
        four_chars(db.type).c_str(), db.version, db.records.size(), palm_date(db.modified).c_str(),
        palm_date(db.backed_up).c_str());
  }
  return 0;
}

int list_records(const std::filesystem::path& handheld, const std::string& name) {
  sx::hotsync::PdbDatabase db;
  std::string why;
  if (!sx::hotsync::load_database(sx::hotsync::database_file(handheld, name), &db, &why)) {
    return fail(why);
  }
  std::printf(
      "%s: %zu records%s\n", ansi_to_terminal(db.name).c_str(), db.records.size(),
      db.app_info ? (", AppInfo " + std::to_string(db.app_info->size()) + " bytes").c_str() : "");
  std::printf("  index  unique ID  attr  flags  cat  size  data\n");
  for (std::size_t i = 0; i < db.records.size(); ++i) {
    const auto& r = db.records[i];
    const bool deleted = r.attributes & 0x80;
    std::string flags;
    flags += deleted ? 'd' : '-';
    flags += (r.attributes & 0x40) ? 'u' : '-';
    flags += (r.attributes & 0x10) ? 'p' : '-';
    flags += (deleted && (r.attributes & 0x08)) ? 'a' : '-';
    std::string preview;
    for (std::size_t k = 0; k < r.data.size() && preview.size() < 40; ++k) {
      const unsigned char c = r.data[k];
      preview += (c >= 32 && c < 127) ? static_cast<char>(c) : '.';
    }
    std::printf("  %5zu  0x%06lX   0x%02X  %s   %3s  %4zu  %s\n", i,
                static_cast<unsigned long>(r.unique_id), r.attributes, flags.c_str(),
                deleted ? "-" : std::to_string(r.attributes & 0x0F).c_str(), r.data.size(),
                preview.c_str());
  }
  return 0;
}

int put(const std::filesystem::path& handheld, const std::string& file) {
  sx::hotsync::PdbDatabase db;
  std::string why;
  if (!sx::hotsync::load_database(file, &db, &why)) return fail(why);
  if (!sx::hotsync::save_database(sx::hotsync::database_file(handheld, db.name), db, &why)) {
    return fail(why);
  }
  std::printf("Put \"%s\" (%zu records) on the handheld.\n", ansi_to_terminal(db.name).c_str(),
              db.records.size());
  return 0;
}

void print_progress(const char* text) { std::printf("  ... %s\n", ansi_to_terminal(text).c_str()); }

int sync(const std::string& user) {
  sx::hotsync::HotSyncReport report;
  const long result = sx::hotsync::run_hotsync(user, &report, print_progress);
  for (const auto& c : report.conduits) {
    if (c.ran) {
      std::printf("%s: sync type %d, result %ld\n", c.key_name.c_str(), c.sync_type, c.result);
    } else {
      std::printf("%s: not run (%s)\n", c.key_name.c_str(), c.skipped.c_str());
    }
  }
  std::printf("HotSync log:\n");
  for (const auto& line : report.log) std::printf("  %s\n", ansi_to_terminal(line).c_str());
  return result == 0 ? 0 : 1;
}

}  // namespace

int run_hotsync_command(const Args& args) {
  if (args.empty() || has_help(args)) {
    std::fputs(kHotSyncHelp, args.empty() ? stderr : stdout);
    return args.empty() ? 1 : 0;
  }
  const std::string& what = args[0];
  if (what == "install") return install(args);
  if (what == "add-user") return add_user(args);
  if (what == "users" && args.size() == 1) return users();
  if ((what == "list" || what == "put" || what == "sync") && args.size() >= 2) {
    auto name = terminal_to_ansi(args[1]);
    if (!name) return fail("the user name has characters the machine's code page cannot hold");
    if (what == "sync" && args.size() == 2) return sync(*name);
    std::vector<sx::hotsync::UserEntry> list;
    std::string why;
    if (!sx::hotsync::read_users(&list, &why)) return fail(why);
    const auto* user = find_user(list, *name);
    if (user == nullptr) return fail("no HotSync user \"" + *name + "\"");
    const auto handheld = sx::hotsync::handheld_dir(user->directory);
    if (what == "list" && args.size() == 2) return list_databases(handheld);
    if (what == "list" && args.size() == 3) {
      auto db = terminal_to_ansi(args[2]);
      if (!db) return fail("bad database name");
      return list_records(handheld, *db);
    }
    if (what == "put" && args.size() == 3) return put(handheld, args[2]);
  }
  std::fputs(kHotSyncHelp, stderr);
  return 1;
}

}  // namespace sx::machine_tool
