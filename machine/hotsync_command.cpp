// sxmachine hotsync ...: what a person needs to play the handheld side of HotSync on the machine.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "commands.h"
#include "sx/cli/companion_files.h"
#include "sx/cli/terminal_text.h"
#include "sx/cli/values.h"
#include "sx/hotsync.h"
#include "sx/preview/preview.h"

namespace sx::machine_tool {
namespace {

using sx::cli::ansi_to_terminal;

using sx::cli::Failure;

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

// A library's reason ("cannot read ...") as a sentence for the person, in the terminal's encoding.
[[noreturn]] void fail(const std::string& why) {
  throw Failure(sx::cli::sentence(ansi_to_terminal(why)));
}

sx::hotsync::UserEntry find_user(const std::string& utf8_name) {
  const std::string name = sx::cli::machine_text(utf8_name, "user name");
  std::vector<sx::hotsync::UserEntry> users;
  std::string why;
  if (!sx::hotsync::read_users(&users, &why)) fail(why);
  for (const auto& u : users) {
    if (u.name == name) return u;
  }
  throw Failure("There is no HotSync user \"" + utf8_name + "\".");
}

int install(const sx::hotsync::InstallOptions& options) {
  std::string why, note;
  if (!sx::hotsync::install_hotsync(options, &why, &note)) fail(why);
  if (!note.empty()) std::printf("%s\n", sx::cli::sentence(ansi_to_terminal(note)).c_str());
  std::printf("HotSync Manager is installed in %s.\n", sx::hotsync::hotsync_dir().c_str());
  return 0;
}

int add_user(const std::string& utf8_name, DWORD id, const std::string& directory) {
  const std::string name = sx::cli::machine_text(utf8_name, "user name");
  std::string why;
  if (!sx::hotsync::add_user(name, id, directory, &why)) fail(why);
  std::printf("Added the HotSync user \"%s\" with an empty handheld.\n", utf8_name.c_str());
  return 0;
}

int users() {
  std::vector<sx::hotsync::UserEntry> list;
  std::string why;
  if (!sx::hotsync::read_users(&list, &why)) fail(why);
  if (list.empty()) std::printf("There are no HotSync users.\n");
  for (const auto& u : list) {
    std::printf("%s id %-10lu directory %s\n",
                sx::cli::pad_right(ansi_to_terminal(u.name), 24).c_str(),
                static_cast<unsigned long>(u.user_id), ansi_to_terminal(u.directory).c_str());
  }
  return 0;
}

int list_databases(const std::filesystem::path& handheld) {
  sx::hotsync::DeviceInfo device;
  std::string why;
  if (!sx::hotsync::read_device(handheld, &device, &why)) fail(why);
  std::printf("Handheld of \"%s\" (user ID %lu), last HotSync %s with PC 0x%08lX\n",
              ansi_to_terminal(device.user_name).c_str(),
              static_cast<unsigned long>(device.user_id), palm_date(device.last_sync_time).c_str(),
              static_cast<unsigned long>(device.last_sync_pc));
  for (const auto& file : sx::hotsync::database_files(handheld)) {
    sx::hotsync::PdbDatabase db;
    if (!sx::hotsync::load_database(file, &db, &why)) {
      std::printf("  %s DAMAGED: %s\n",
                  sx::cli::pad_right(ansi_to_terminal(file.filename().string()), 32).c_str(),
                  ansi_to_terminal(why).c_str());
      continue;
    }
    std::printf("  %s creator '%s' type '%s' version %u, %s, modified %s, backed up %s\n",
                sx::cli::pad_right(ansi_to_terminal(db.name), 32).c_str(),
                four_chars(db.creator).c_str(), four_chars(db.type).c_str(), db.version,
                sx::cli::count_of(db.records.size(), "record", "records").c_str(),
                palm_date(db.modified).c_str(), palm_date(db.backed_up).c_str());
  }
  return 0;
}

int list_records(const std::filesystem::path& handheld, const std::string& utf8_name) {
  const std::string name = sx::cli::machine_text(utf8_name, "database name");
  sx::hotsync::PdbDatabase db;
  std::string why;
  if (!sx::hotsync::load_database(sx::hotsync::database_file(handheld, name), &db, &why)) fail(why);
  std::printf("%s: %s%s\n", ansi_to_terminal(db.name).c_str(),
              sx::cli::count_of(db.records.size(), "record", "records").c_str(),
              db.app_info
                  ? (", AppInfo " + sx::cli::count_of(db.app_info->size(), "byte", "bytes")).c_str()
                  : "");
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

// After the records of the notes application's database, where a person reads its notes.
void point_to_notes(const std::string& utf8_user, const std::string& utf8_database) {
  if (utf8_database != "ScribbixDB") return;
  std::printf("The notes as the notes application shows them: sxmachine handheld %s list --all\n",
              sx::cli::shell_word(utf8_user).c_str());
}

int put(const std::filesystem::path& handheld, const std::string& file) {
  sx::cli::check_readable_file(file, "a Palm database file (.pdb)");
  sx::hotsync::PdbDatabase db;
  std::string why;
  if (!sx::hotsync::load_database(file, &db, &why)) {
    // "passwd is damaged: ..." says what is wrong inside; the person needs to know what it is not.
    const std::string name = std::filesystem::path(file).filename().string() + " is damaged: ";
    if (why.rfind(name, 0) == 0) why.erase(0, name.size());
    throw Failure(file + " is not a Palm database file (.pdb) that a handheld can take: " +
                  ansi_to_terminal(why) + ".");
  }
  if (!sx::hotsync::save_database(sx::hotsync::database_file(handheld, db.name), db, &why))
    fail(why);
  std::printf("Put \"%s\" (%s) on the handheld.\n", ansi_to_terminal(db.name).c_str(),
              sx::cli::count_of(db.records.size(), "record", "records").c_str());
  return 0;
}

void print_progress(const char* text) { std::printf("  ... %s\n", ansi_to_terminal(text).c_str()); }

int sync(const std::string& utf8_user) {
  const std::string user = sx::cli::machine_text(utf8_user, "user name");
  sx::hotsync::HotSyncReport report;
  const long result = sx::hotsync::run_hotsync(user, &report, print_progress);
  if (!report.not_started.empty()) fail("The HotSync did not start: " + report.not_started);
  for (const std::string& line : sx::hotsync::report_lines(report))
    std::printf("%s\n", ansi_to_terminal(line).c_str());
  return result == 0 ? 0 : 1;
}

int action(const std::string& utf8_user, const std::string& utf8_key, const std::string& set,
           bool as_default) {
  const auto user = find_user(utf8_user);
  const std::string key = sx::cli::machine_text(utf8_key, "conduit key");
  sx::hotsync::ConduitAction chosen{sx::hotsync::sync_type_of_action(set), as_default};
  const long result = set.empty() ? sx::hotsync::change_action(user.name, key, &chosen)
                                  : sx::hotsync::set_action(user.name, key, chosen);
  if (result == SYNCERR_NOT_FOUND) {
    throw Failure("No conduit is registered under \"" + utf8_key +
                  "\"; \"hotsync --list\" shows the conduits.");
  }
  if (result == -1) throw Failure("The action was not changed: the dialog was cancelled.");
  if (result != 0)
    throw Failure("The action was not changed (" + sx::hotsync::result_text(result) + ").");
  std::printf("%s for %s: %s, %s.\n", utf8_key.c_str(), utf8_user.c_str(),
              sx::hotsync::action_name(chosen.sync_type).c_str(),
              chosen.permanent ? "as the default" : "for the next HotSync");
  return 0;
}

int preview(const std::string& utf8_user) {
  const std::string user = sx::cli::machine_text(utf8_user, "user name");
  try {
    for (const std::string& line : sx::preview::preview_lines(sx::preview::preview_hotsync(user)))
      std::printf("%s\n", ansi_to_terminal(line).c_str());
  } catch (const sx::preview::PreviewError& e) {
    fail(e.what());
  }
  return 0;
}

}  // namespace

void add_hotsync_command(sx::cli::Program& program) {
  CLI::App* hotsync = program.app().add_subcommand("hotsync",
                                                   "install HotSync Manager, add Palm users, look "
                                                   "at handhelds, choose a conduit's action, press "
                                                   "HotSync");

  auto install_options = std::make_shared<sx::hotsync::InstallOptions>();
  install_options->program = SX_COMPANION_FILE(SX_HOTSYNC_PROGRAM);
  install_options->instaide = SX_COMPANION_FILE(SX_INSTAIDE_LIBRARY);
  CLI::App* install_command = hotsync->add_subcommand(
      "install",
      "install HotSync Manager: the keys under HKCU\\Software\\U.S. Robotics\\Pilot "
      "Desktop\\Core (Path, HotSyncPath, PCID), \"C:\\Program Files\\Palm\" with users.dat, "
      "HotSync.exe and instaide.dll");
  install_command
      ->add_option("--program", install_options->program,
                   "the program HotSync.exe starts (default: this build's hotsync)")
      ->type_name("FILE");
  install_command
      ->add_option("--instaide", install_options->instaide,
                   "the file copied as instaide.dll (default: this build's)")
      ->type_name("FILE");
  install_command->footer(
      "Installing again keeps the users. A damaged users.dat is kept aside as "
      "users.dat.damaged-N and replaced by an empty user list.");
  program.action(install_command, [install_options] { return install(*install_options); });

  struct AddUser {
    std::string name;
    std::uint32_t id = 0;
    std::string directory;
  };
  auto add = std::make_shared<AddUser>();
  CLI::App* add_command =
      hotsync->add_subcommand("add-user", "add a HotSync user with an empty handheld");
  add_command->add_option("NAME", add->name, "the user's name")->required();
  add_command
      ->add_option("--id", add->id,
                   "the user's ID on the handheld, " + sx::cli::number_range_text(0, 4294967295))
      ->transform(sx::cli::number(0, 4294967295))
      ->type_name("N");
  add_command
      ->add_option("--dir", add->directory,
                   "the user's folder name in HotSync's directory and handhelds/ (one plain "
                   "folder name; default: the name's letters and digits)")
      ->type_name("DIRECTORY");
  program.action(add_command, [add] { return add_user(add->name, add->id, add->directory); });

  CLI::App* users_command = hotsync->add_subcommand("users", "list HotSync's users");
  program.action(users_command, [] { return users(); });

  struct ListArgs {
    std::string user, database;
  };
  auto list = std::make_shared<ListArgs>();
  CLI::App* list_command = hotsync->add_subcommand(
      "list", "list the databases on USER's handheld, or the records of DATABASE");
  list_command->add_option("USER", list->user, "the HotSync user")->required();
  list_command->add_option("DATABASE", list->database, "a database on the handheld");
  program.action(list_command, [list, list_command] {
    const auto user = find_user(list->user);
    const auto handheld = sx::hotsync::handheld_dir(user.directory);
    if (list_command->count("DATABASE") == 0) return list_databases(handheld);
    list_records(handheld, list->database);
    point_to_notes(list->user, list->database);
    return 0;
  });

  struct PutArgs {
    std::string user, file;
  };
  auto put_args = std::make_shared<PutArgs>();
  CLI::App* put_command = hotsync->add_subcommand(
      "put", "copy a Palm database file onto USER's handheld (it is checked first)");
  put_command->add_option("USER", put_args->user, "the HotSync user")->required();
  put_command->add_option("FILE", put_args->file, "a .pdb file")->required();
  program.action(put_command, [put_args] {
    const auto user = find_user(put_args->user);
    return put(sx::hotsync::handheld_dir(user.directory), put_args->file);
  });

  auto sync_user = std::make_shared<std::string>();
  CLI::App* sync_command = hotsync->add_subcommand(
      "sync", "press HotSync for USER: run the registered conduits, print the log");
  sync_command->add_option("USER", *sync_user, "the HotSync user")->required();
  sync_command->footer("Exit code: 0 when the HotSync completed, 1 when anything failed.");
  program.action(sync_command, [sync_user] { return sync(*sync_user); });

  struct ActionArgs {
    std::string user, key, set;
    bool as_default = false;
  };
  auto action_args = std::make_shared<ActionArgs>();
  CLI::App* action_command = hotsync->add_subcommand(
      "action",
      "choose what the next HotSync of USER does with the conduit of KEY, as HotSync's "
      "action dialog does (without --set the dialog asks)");
  action_command->add_option("USER", action_args->user, "the HotSync user")->required();
  action_command->add_option("KEY", action_args->key, "the conduit's key, e.g. ApplicationVorScrib")
      ->required();
  action_command
      ->add_option("--set", action_args->set,
                   "the action: synchronize, desktop-overwrites-handheld, "
                   "handheld-overwrites-desktop or do-nothing (for the next HotSync only)")
      ->transform(sx::cli::one_of(sx::hotsync::action_names()))
      ->type_name("WHAT");
  action_command->add_flag("--default", action_args->as_default,
                           "with --set: for every HotSync (the dialog's \"Set as default\")");
  program.action(action_command, [action_args, action_command] {
    if (action_args->as_default && action_command->count("--set") == 0)
      throw sx::cli::UsageError("--default goes with --set (the dialog has its own check box).");
    return action(action_args->user, action_args->key, action_args->set, action_args->as_default);
  });

  auto preview_user = std::make_shared<std::string>();
  CLI::App* preview_command = hotsync->add_subcommand(
      "preview",
      "show what the next HotSync of USER would do to the notes, note by note, without doing it "
      "(it runs on a copy of the machine)");
  preview_command->add_option("USER", *preview_user, "the HotSync user")->required();
  preview_command->footer(
      "Prints each side's added, changed (old and new values), archived and deleted notes, the "
      "category names that would travel, the conflicts and how they would be settled, and a "
      "warning when a side would lose or have overwritten more than a third of its notes.");
  program.action(preview_command, [preview_user] { return preview(*preview_user); });
}

}  // namespace sx::machine_tool
