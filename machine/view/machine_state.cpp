#include "machine_state.h"

#include <sys/stat.h>

#include <cstdlib>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "notes_setup.h"
#include "sx/handheld/note_json.h"
#include "sx/handheld/notes_database.h"
#include "sx/hotsync.h"
#include "sx/hotsync_pdb.h"
#include "sx/outlook/store.h"
#include "sx/paths.h"
#include "sx/stale_temporaries.h"
#include "sx/web_windows.h"
#include "win32/codepage.h"

namespace sx::machine_view {
namespace {

using nlohmann::json;

std::string utf8(const std::string& ansi) { return sx::codepage::ansi_to_utf8(ansi); }

std::string stamp(const std::string& file) {
  struct stat st{};
  if (::stat(file.c_str(), &st) != 0) return "-;";
  return std::to_string(st.st_ino) + "," + std::to_string(st.st_size) + "," +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + ";";
}

json handheld_notes(const std::string& file) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return json{{"notes", json::array()}};
  sx::hotsync::PdbDatabase db;
  std::string why;
  if (!sx::hotsync::load_database(file, &db, &why)) return json{{"error", utf8(why)}};
  try {
    // Read only: the application's "now" is never used.
    const sx::handheld::NotesDatabase notes(std::move(db), sx::handheld::Minutes{2000, 1, 1, 0, 0});
    return json::parse(sx::handheld::export_json(notes));
  } catch (const std::exception& e) {
    return json{{"error", utf8(e.what())}};
  }
}

const sx::outlook::FolderState* child_named(const sx::outlook::StoreModel& model,
                                            const sx::outlook::FolderState* folder,
                                            const std::string& name) {
  if (folder == nullptr) return nullptr;
  for (std::uint32_t id : folder->children) {
    const auto* child = model.folder(id);
    if (child != nullptr && child->record.name == name) return child;
  }
  return nullptr;
}

json outlook_posts(const std::string& file) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return json{{"error", "The notes store is not there."}};
  // Read as bytes and parsed here, never opened as Outlook opens it: the page takes no lock and
  // holds no share of the file, so Outlook's saves and compactions never wait for it. A save
  // being written is a torn tail, left out until the next look.
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) return json{{"error", "The notes store cannot be read."}};
  sx::outlook::StoreModel model;
  const auto report = sx::outlook::parse_store_bytes(
      reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), &model);
  if (!report.is_store) return json{{"error", "The notes store is not a store file."}};
  // The store's root folder is the "Vorlan" of the folder path; the notes folder is below it.
  const auto* folder = child_named(model, model.root(), "Scribbix");
  if (folder == nullptr) return json{{"error", "The notes store has no folder \"Scribbix\"."}};
  json posts = json::array();
  for (const auto& [seq, id] : folder->order) {
    const auto* item = model.item(id);
    if (item == nullptr || !item->data) continue;
    const auto& data = *item->data;
    json post{{"entry_id", sx::outlook::entry_id_text(model.store_id(), id)},
              {"subject", data.text("Subject")},
              {"body", data.text("Body")},
              {"categories", data.text("Categories")},
              {"key", nullptr}};
    if (const auto* key = data.find_user("ScribKey")) post["key"] = key->value.number;
    posts.push_back(std::move(post));
  }
  return json{{"folder", kNotesFolderPath}, {"posts", std::move(posts)}};
}

json log_lines(const std::string& file) {
  json lines = json::array();
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(utf8(line));
  }
  return lines;
}

// The window files, in the order of their names (process, then window: stable in the page).
std::vector<std::filesystem::path> window_files() {
  namespace web = sx::window::web;
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(web::windows_folder(), ec)) {
    const std::string name = entry.path().stem().string();
    if (entry.path().extension() != ".json" || !web::is_window_name(name)) continue;
    // The window of a process that ended without taking it down is gone.
    const long pid = std::strtol(name.c_str(), nullptr, 10);
    if (sx::stale::process_is_gone(pid)) {
      std::error_code gone;
      std::filesystem::remove(entry.path(), gone);
      continue;
    }
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

json windows() {
  json list = json::array();
  for (const auto& file : window_files()) {
    std::ifstream in(file, std::ios::binary);
    json window = json::parse(in, nullptr, false);
    if (!window.is_discarded() && window.is_object()) list.push_back(std::move(window));
  }
  return list;
}

std::string windows_stamp() {
  std::string print;
  for (const auto& file : window_files()) print += file.filename().string() + stamp(file.string());
  return print;
}

// The part as it was read, or read again when its files' stamp changed. The stamp is taken
// before reading, so that a change made while the part is read is read the next time.
template <typename Reader>
const json& refreshed(StatePart& part, const std::string& now, Reader reader) {
  if (!part.read || part.stamp != now) {
    part.value = reader();
    part.stamp = now;
    part.read = true;
  }
  return part.value;
}

}  // namespace

MachineState::MachineState(std::string user) : user_(std::move(user)) {
  std::vector<sx::hotsync::UserEntry> users;
  std::string why;
  if (sx::hotsync::read_users(&users, &why)) {
    for (const auto& u : users) {
      if (u.name != user_) continue;
      handheld_file_ = sx::hotsync::database_file(sx::hotsync::handheld_dir(u.directory),
                                                  sx::handheld::kDatabaseName)
                           .string();
      log_file_ = sx::hotsync::log_file(u.directory).string();
    }
  }
  store_file_ = sx::paths::to_host(sx::machine_tool::notes_store_path(user_)).string();
}

std::string MachineState::fingerprint() const {
  return stamp(handheld_file_) + stamp(store_file_) + stamp(log_file_) + windows_stamp();
}

json MachineState::read() const {
  json state{{"user", utf8(user_)}};
  state["handheld"] = refreshed(handheld_, stamp(handheld_file_), [this] {
    return handheld_file_.empty() ? json{{"error", "There is no such HotSync user."}}
                                  : handheld_notes(handheld_file_);
  });
  state["outlook"] = refreshed(outlook_, stamp(store_file_), [this] {
    return outlook_posts(store_file_);
  });
  state["log"] = refreshed(log_, stamp(log_file_), [this] { return log_lines(log_file_); });
  state["windows"] = refreshed(windows_, windows_stamp(), windows);
  return state;
}

}  // namespace sx::machine_view
