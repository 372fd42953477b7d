#include "sx/preview/preview.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "sx/cli/companion_files.h"
#include "sx/clock.h"
#include "sx/hotsync.h"
#include "sx/machine.h"
#include "sx/window.h"
#include "windows.h"

extern char** environ;

namespace sx::preview {
namespace {

namespace fs = std::filesystem;

// Folders of a machine root that belong to the processes running on it, not to the machine: their
// windows, exit codes, COM servers (sockets, which cannot be copied, and class registrations, which
// would lead the copy's HotSync to the live machine's Outlook) and the page server's files.
constexpr const char* kTransient[] = {"windows", "processes", "com", "view"};

sx::hotsync::UserEntry find_user(const std::string& name) {
  std::vector<sx::hotsync::UserEntry> users;
  std::string why;
  if (!sx::hotsync::read_users(&users, &why)) throw PreviewError(why);
  for (const auto& u : users)
    if (u.name == name) return u;
  throw PreviewError("There is no HotSync user \"" + name + "\".");
}

sx::hotsync::ConduitEntry notes_conduit() {
  for (const auto& c : sx::hotsync::registered_conduits())
    if (c.creator == kNotesCreator) return c;
  throw PreviewError(
      "The notes conduit is not installed on this machine (\"sxmachine conduit install\" "
      "installs it): a HotSync would not touch the notes.");
}

std::string settings_key(const sx::hotsync::ConduitEntry& conduit) {
  return std::string(sx::hotsync::kPilotDesktopKey) + "\\" + conduit.key_name;
}

// ConflictResolution as the conduit reads it: a 32-bit value, else its default, 2 (ask).
long conflict_resolution(const std::string& key_path) {
  HKEY key = nullptr;
  DWORD value = 2, type = 0, size = sizeof value;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key_path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return 2;
  if (RegQueryValueExA(key, "ConflictResolution", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                       &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value)
    value = 2;
  RegCloseKey(key);
  return static_cast<long>(value);
}

void log_conflicts(const std::string& key_path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key_path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    throw PreviewError("The notes conduit's settings cannot be opened on the copy.");
  const DWORD on = 1;
  const LONG rc =
      RegSetValueExA(key, "LogConflicts", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), 4);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) throw PreviewError("The copy's registry cannot be written.");
}

std::vector<std::string> read_lines(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string tail(const fs::path& file) {
  std::string text;
  for (const auto& line : read_lines(file)) text += (text.empty() ? "" : " / ") + line;
  return text.size() > 400 ? text.substr(text.size() - 400) : text;
}

// Runs the worker on the copy: its machine root (--machine and SX_MACHINE, which the processes it
// starts inherit) is the copy, and nobody answers its dialogs.
void run_on_copy(const fs::path& worker, const MachineCopy& copy, const std::string& user,
                 const fs::path& output) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "SX_MACHINE=", 11) != 0 && std::strncmp(*e, "SX_WINDOW_HOST=", 15) != 0)
      env.emplace_back(*e);
  }
  env.push_back("SX_MACHINE=" + copy.root().string());
  env.push_back("SX_WINDOW_HOST=none");
  std::vector<std::string> args = {worker.string(), "--machine", copy.root().string(), user,
                                   output.string()};
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  const fs::path messages = copy.folder() / "worker.txt";
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&files, 1, 2);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&files);
  if (rc != 0) {
    throw PreviewError("The preview's HotSync cannot be started (" + worker.string() + ": " +
                       std::strerror(rc) + ").");
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw PreviewError("The preview's HotSync on the copy of the machine failed: " +
                       tail(messages));
  }
}

}  // namespace

MachineCopy::MachineCopy(const fs::path& machine) {
  std::string pattern = (fs::temp_directory_path() / "sxpreview-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw PreviewError("A temporary folder for the copy of the machine cannot be made.");
  folder_ = pattern;
  std::error_code ec;
  fs::create_directory(root(), ec);
  for (const auto& entry : fs::directory_iterator(machine, ec)) {
    const std::string name = entry.path().filename().string();
    if (std::find(std::begin(kTransient), std::end(kTransient), name) != std::end(kTransient))
      continue;
    fs::copy(entry.path(), root() / name,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec) break;
  }
  if (ec) {
    const std::string why = ec.message();
    fs::remove_all(folder_, ec);
    throw PreviewError("The machine cannot be copied for the preview (" + why + ").");
  }
}

MachineCopy::~MachineCopy() {
  std::error_code ec;
  fs::remove_all(folder_, ec);
}

Preview preview_hotsync(const std::string& user, const fs::path& worker) {
  find_user(user);
  notes_conduit();
  const MachineCopy copy(sx::machine::root());
  const fs::path output = copy.folder() / "preview.txt";
  run_on_copy(worker.empty() ? fs::path(SX_COMPANION_FILE(SX_PREVIEW_WORKER)) : worker, copy, user,
              output);
  // What the run says of its files names the copy; the person knows the machine.
  std::vector<std::string> lines = read_lines(output);
  const std::string copy_root = copy.root().string(), root = sx::machine::root().string();
  for (std::string& line : lines) {
    for (std::size_t at = line.find(copy_root); at != std::string::npos;
         at = line.find(copy_root, at + root.size()))
      line.replace(at, copy_root.size(), root);
  }
  return preview_from_lines(user, lines);
}

int run_worker(const std::string& user, const fs::path& output) {
  // Nobody answers the copy's dialogs but the mass change question, and nobody waits for their
  // timers: time jumps to the next deadline whenever every thread of the run waits, starting from
  // the desktop's clock.
  sx::window::set_host(sx::window::Host::kAnswers);
  sx::window::set_window_answers({{kMassChangeTitle, {"Go Ahead"}}});
  sx::clock::use_virtual(sx::clock::wall_unix_ms());
  const auto who = find_user(user);
  const auto conduit = notes_conduit();
  log_conflicts(settings_key(conduit));
  const long resolution = conflict_resolution(settings_key(conduit));

  const Snapshot before = take_snapshot(user, who.directory);
  sx::hotsync::HotSyncReport report;
  const long result = sx::hotsync::run_hotsync(user, &report);
  const Snapshot after = take_snapshot(user, who.directory);

  std::ofstream out(output, std::ios::binary);
  out << "result\t" << result << "\nresolution\t" << resolution << "\n";
  for (const auto& c : report.conduits) {
    if (c.key_name != conduit.key_name) continue;
    out << "conduit\t" << (c.ran ? c.sync_type : -1) << "\t" << c.result << "\t"
        << escape(c.skipped) << "\n";
  }
  for (const auto& line : sx::hotsync::report_lines(report))
    out << "report\t" << escape(line) << "\n";
  for (const auto& line : report.log) out << "log\t" << escape(line) << "\n";
  for (const auto& line : snapshot_lines(before)) out << line << "\n";
  for (const auto& line : snapshot_lines(after)) out << line << "\n";
  out.close();
  if (!out) throw PreviewError("The preview's result cannot be written.");
  return 0;
}

Preview preview_from_lines(const std::string& user, const std::vector<std::string>& lines) {
  Preview p;
  p.user = user;
  long resolution = 2;
  std::vector<std::string> log;
  std::size_t pos = 0;
  for (; pos < lines.size() && lines[pos] != "snapshot"; ++pos) {
    const std::string& line = lines[pos];
    const std::size_t tab = line.find('\t');
    const std::string tag = line.substr(0, tab),
                      rest = tab == std::string::npos ? "" : line.substr(tab + 1);
    if (tag == "result") {
      p.result = std::strtol(rest.c_str(), nullptr, 10);
    } else if (tag == "resolution") {
      resolution = std::strtol(rest.c_str(), nullptr, 10);
    } else if (tag == "conduit") {
      char* end = nullptr;
      p.sync_type = static_cast<int>(std::strtol(rest.c_str(), &end, 10));
      p.conduit_result = std::strtol(end, &end, 10);
      p.skipped = unescape(*end == '\t' ? end + 1 : end);
    } else if (tag == "report") {
      p.report.push_back(unescape(rest));
    } else if (tag == "log") {
      log.push_back(unescape(rest));
    }
  }
  if (!parse_snapshot(lines, &pos, &p.before) || !parse_snapshot(lines, &pos, &p.after))
    throw PreviewError("The preview's HotSync left no readable result.");
  p.changes = hotsync_changes(p.before, p.after);
  p.categories_to_handheld = new_categories(p.before.handheld, p.after.handheld);
  p.categories_to_outlook = new_categories(p.before.outlook, p.after.outlook);
  p.conflicts = logged_conflicts(log, resolution);
  p.questions = logged_mass_changes(log);
  p.warnings = warnings(p.changes, p.before);
  return p;
}

}  // namespace sx::preview
