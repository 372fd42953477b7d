// What HotSync Manager does: finds the registered conduits, decides each one's sync type, loads it
// and calls OpenConduit for one user's HotSync, and changes a conduit's action. See sx/hotsync.h.
#include <strings.h>
#include <unistd.h>
#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>

#include "actions_file.h"
#include "hotsync/condapi.h"
#include "hotsync/hslog.h"
#include "hotsync/syncmgr.h"
#include "pdb_format.h"
#include "registry_util.h"
#include "session.h"
#include "sx/hotsync.h"
#include "sx/paths.h"
#include "windows.h"

namespace fs = std::filesystem;

namespace sx::hotsync {
namespace {

constexpr const char* kActionsFile = "SyncActions.txt";

std::atomic<void (*)(const char*)> g_progress{nullptr};

// HotSync's progress callback as conduits get it: forwards to the caller of run_hotsync.
void forward_progress(const char* text) {
  if (auto p = g_progress.load()) p(text != nullptr ? text : "");
}

void copy_text(char* out, std::size_t room, const std::string& text) {
  std::memset(out, 0, room);
  std::memcpy(out, text.data(), std::min(text.size(), room - 1));
}

std::string conduit_path(const std::string& dir, const std::string& conduit) {
  if (conduit.find('\\') != std::string::npos || conduit.find(':') != std::string::npos) {
    return conduit;
  }
  return dir + "\\" + conduit;
}

// A database file on the handheld as HotSync Manager sees it before the conduits run.
struct HandheldFile {
  fs::path file;
  std::optional<DWORD> creator;  // from the header; none when the file is shorter than one
  std::string damage;            // why the file cannot be read as a database; empty when it can
};

std::vector<HandheldFile> handheld_files(const fs::path& handheld) {
  std::vector<HandheldFile> files;
  for (const fs::path& file : database_files(handheld)) {
    HandheldFile f{file, std::nullopt, {}};
    unsigned char header[pdb::kHeaderSize];
    std::ifstream in(file, std::ios::binary);
    if (in.read(reinterpret_cast<char*>(header), sizeof header)) {
      const std::size_t at = pdb::kOffCreator;
      f.creator = (DWORD{header[at]} << 24) | (DWORD{header[at + 1]} << 16) |
                  (DWORD{header[at + 2]} << 8) | DWORD{header[at + 3]};
    }
    PdbDatabase db;
    if (!load_database(file, &db, &f.damage) && f.damage.empty()) f.damage = "it cannot be read";
    files.push_back(std::move(f));
  }
  return files;
}

DWORD pc_id() {
  if (auto id = reg::read_dword(kCoreKey, "PCID")) return *id;
  std::random_device random;
  DWORD id = 0;
  while (id == 0) id = random();
  reg::write_dword(kCoreKey, "PCID", id);
  return id;
}

struct Library {
  HMODULE h = nullptr;
  ~Library() {
    if (h != nullptr) FreeLibrary(h);
  }
  template <typename F>
  F get(const char* name) const {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(h, name)));
  }
};

fs::path actions_file(const std::string& user_dir) {
  return sx::paths::to_host(hotsync_dir() + "\\" + user_dir + "\\" + kActionsFile);
}

detail::SyncActions read_actions(const fs::path& file) {
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  if (ec || size > detail::kMaxActionsFileBytes) return {};
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return detail::parse_actions_text(text.str());
}

}  // namespace

std::vector<ConduitEntry> registered_conduits() {
  std::vector<ConduitEntry> conduits;
  for (const std::string& name : reg::subkeys(kPilotDesktopKey)) {
    if (::strncasecmp(name.c_str(), "Application", 11) != 0) continue;
    const std::string key = std::string(kPilotDesktopKey) + "\\" + name;
    auto creator = reg::read_dword(key, "Creator");
    auto conduit = reg::read_string(key, "Conduit");
    if (!creator || !conduit || conduit->empty()) continue;
    conduits.push_back({name, *creator, *conduit, reg::read_string(key, "Directory").value_or("")});
  }
  return conduits;
}

ConduitAction read_action(const std::string& user_dir, const std::string& key_name) {
  const auto actions = read_actions(actions_file(user_dir));
  auto it = actions.find(key_name);
  if (it == actions.end()) return {};
  return {it->second.second, it->second.first == "default"};
}

bool write_action(const std::string& user_dir, const std::string& key_name,
                  const ConduitAction& action) {
  const fs::path file = actions_file(user_dir);
  auto actions = read_actions(file);
  if (action.sync_type < 0) {
    actions.erase(key_name);
  } else {
    actions[key_name] = {action.permanent ? "default" : "once", action.sync_type};
  }
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  // One temporary per process: two writers at once never write into one file.
  const fs::path temp = file.string() + ".new" + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << detail::format_actions_text(actions);
    if (!out.flush()) return false;
  }
  fs::rename(temp, file, ec);
  return !ec;
}

long run_hotsync(const std::string& user, HotSyncReport* report, void (*progress)(const char*)) {
  HotSyncReport local;
  HotSyncReport& r = report != nullptr ? *report : local;
  r = HotSyncReport{};
  const std::string dir = hotsync_dir();
  std::vector<UserEntry> users;
  std::string why;
  auto refuse = [&r](const std::string& reason, long code) {
    r.not_started = reason;
    r.log.push_back("HotSync: " + reason);
    return r.result = code;
  };
  if (dir.empty() || !read_users(&users, &why))
    return refuse(dir.empty() ? std::string("HotSync is not installed") : why,
                  SYNCERR_NOT_REGISTERED);
  const UserEntry* who = nullptr;
  for (const UserEntry& u : users) {
    if (u.name == user) who = &u;
  }
  if (who == nullptr) return refuse("no HotSync user \"" + user + "\"", SYNCERR_NOT_FOUND);
  const fs::path handheld = handheld_dir(who->directory);
  const fs::path log_file = sx::hotsync::log_file(who->directory);
  const DWORD this_pc = pc_id();
  if (!begin_session(handheld, log_file, this_pc, &why)) return refuse(why, SYNCERR_NOT_REGISTERED);
  g_progress = progress;
  DeviceInfo device;
  (void)read_device(handheld, &device, nullptr);
  const bool same_pc = device.last_sync_pc == this_pc && device.last_sync_pc != 0;
  LogAddEntry(("HotSync started for " + user).c_str(), slText, TRUE);
  forward_progress("Connecting with the handheld");

  // Damaged files count too (from whatever their header says), so that their conduit runs and
  // reports the damage; what no conduit reported is reported at the end.
  const std::vector<HandheldFile> files = handheld_files(handheld);
  std::set<DWORD> creators;
  for (const HandheldFile& f : files) {
    if (f.creator) creators.insert(*f.creator);
  }
  for (const ConduitEntry& c : registered_conduits()) {
    ConduitResult result;
    result.key_name = c.key_name;
    if (creators.count(c.creator) == 0) {
      result.skipped = "no database of its creator on the handheld";
      r.conduits.push_back(result);
      continue;
    }
    const ConduitAction action = read_action(who->directory, c.key_name);
    int type = action.sync_type >= 0 ? action.sync_type : eFast;
    if (type == eFast || type == eSlow) type = same_pc ? eFast : eSlow;
    if (action.sync_type >= 0 && !action.permanent) write_action(who->directory, c.key_name, {});
    result.sync_type = type;

    Library library;
    library.h = LoadLibraryA(conduit_path(dir, c.conduit).c_str());
    auto open_conduit = library.h != nullptr ? library.get<OpenConduitFn>("OpenConduit") : nullptr;
    if (open_conduit == nullptr) {
      result.skipped = "cannot load " + c.conduit;
      LogAddEntry(("HotSync: cannot load the conduit " + c.conduit).c_str(), slWarning, FALSE);
      if (r.result == 0) r.result = SYNCERR_NOT_FOUND;
      r.conduits.push_back(result);
      continue;
    }
    SyncProperties props{};
    props.m_SyncType = type;
    const std::string conduit_dir = dir + "\\" + who->directory + "\\" + c.directory;
    std::error_code ec;
    fs::create_directories(sx::paths::to_host(conduit_dir), ec);
    copy_text(props.m_PathName, sizeof props.m_PathName, conduit_dir + "\\");
    copy_text(props.m_UserName, sizeof props.m_UserName, user);
    props.m_dwUserId = who->user_id;
    props.m_Creator = c.creator;
    props.m_CardNo = 0;
    props.m_DbType = 0x44415441;  // 'DATA'
    props.m_dwPCId = this_pc;
    DWORD now = 0;
    SyncReadSysDateTime(&now);
    props.m_dwHandheldTime = now;
    props.m_nRemoteCount = 1;
    copy_text(props.m_Registry, sizeof props.m_Registry,
              std::string(kPilotDesktopKey) + "\\" + c.key_name);
    props.m_hKey = HKEY_CURRENT_USER;
    forward_progress(("Synchronizing " + c.key_name).c_str());
    try {
      result.result = open_conduit(forward_progress, &props);
    } catch (...) {
      result.result = SYNCERR_UNKNOWN;
    }
    result.ran = true;
    if (result.result != 0 && r.result == 0) r.result = result.result;
    r.conduits.push_back(result);
  }
  for (const HandheldFile& f : files) {
    if (f.damage.empty() || detail::damage_reported(f.file)) continue;
    LogAddEntry(
        ("HotSync: the handheld's database file " + f.damage + "; it was not synchronized").c_str(),
        slWarning, FALSE);
    if (r.result == 0) r.result = SYNCERR_DAMAGED_DATABASE;
  }
  if (!finish_session(true, &why)) {
    LogAddEntry(("HotSync: " + why).c_str(), slWarning, FALSE);
    if (r.result == 0) r.result = SYNCERR_IO;
  }
  LogAddEntry(r.result == 0 ? "HotSync operation completed" : "HotSync operation failed", slText,
              TRUE);
  r.log = end_session(true);
  forward_progress(r.result == 0 ? "HotSync operation complete" : "HotSync operation failed");
  g_progress = nullptr;
  return r.result;
}

std::vector<ConduitListing> list_conduits() {
  std::vector<ConduitListing> listing;
  const std::string dir = hotsync_dir();
  for (const ConduitEntry& c : registered_conduits()) {
    ConduitListing item;
    item.entry = c;
    Library library;
    library.h = LoadLibraryA(conduit_path(dir, c.conduit).c_str());
    if (library.h == nullptr) {
      item.name = "(cannot load " + c.conduit + ")";
      listing.push_back(item);
      continue;
    }
    char name[256] = {};
    if (auto info = library.get<GetConduitInfoFn>("GetConduitInfo")) {
      ConduitRequestInfo request{1, sizeof(ConduitRequestInfo), c.creator, 0, {}};
      DWORD size = sizeof name;
      item.name_result = info(eConduitName, &request, name, &size);
    } else if (auto get_name = library.get<GetConduitNameFn>("GetConduitName")) {
      item.name_result = get_name(name, sizeof name);
    }
    name[sizeof name - 1] = '\0';
    item.name = name;
    if (auto version = library.get<GetConduitVersionFn>("GetConduitVersion"))
      item.version = version();
    listing.push_back(item);
  }
  return listing;
}

namespace {

// The user and the registered conduit an action is for; SYNCERR_NOT_FOUND when either is missing.
long find_user_and_conduit(const std::string& user, const std::string& key_name, UserEntry* who,
                           ConduitEntry* entry) {
  std::vector<UserEntry> users;
  if (!read_users(&users, nullptr)) return SYNCERR_NOT_REGISTERED;
  bool user_found = false, conduit_found = false;
  for (const UserEntry& u : users) {
    if (u.name == user) {
      *who = u;
      user_found = true;
    }
  }
  for (const ConduitEntry& c : registered_conduits()) {
    if (::strcasecmp(c.key_name.c_str(), key_name.c_str()) == 0) {
      *entry = c;
      conduit_found = true;
    }
  }
  return user_found && conduit_found ? 0 : SYNCERR_NOT_FOUND;
}

}  // namespace

const std::vector<std::string>& action_names() {
  static const std::vector<std::string> names = {"synchronize", "desktop-overwrites-handheld",
                                                 "handheld-overwrites-desktop", "do-nothing"};
  return names;
}

int sync_type_of_action(const std::string& name) {
  static const int kTypes[] = {eFast, ePCtoHH, eHHtoPC, eDoNothing};
  const auto& names = action_names();
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return kTypes[i];
  }
  return -1;
}

std::string action_name(int sync_type) {
  switch (sync_type) {
    case eFast:
    case eSlow:
      return action_names()[0];
    case ePCtoHH:
      return action_names()[1];
    case eHHtoPC:
      return action_names()[2];
    case eDoNothing:
      return action_names()[3];
    default:
      return "";
  }
}

long set_action(const std::string& user, const std::string& key_name, const ConduitAction& action) {
  UserEntry who;
  ConduitEntry entry;
  if (long r = find_user_and_conduit(user, key_name, &who, &entry)) return r;
  return write_action(who.directory, entry.key_name, action) ? 0 : SYNCERR_IO;
}

long change_action(const std::string& user, const std::string& key_name, ConduitAction* chosen) {
  UserEntry who_entry;
  ConduitEntry conduit_entry;
  if (long r = find_user_and_conduit(user, key_name, &who_entry, &conduit_entry)) return r;
  const UserEntry* who = &who_entry;
  const ConduitEntry* entry = &conduit_entry;
  Library library;
  library.h = LoadLibraryA(conduit_path(hotsync_dir(), entry->conduit).c_str());
  if (library.h == nullptr) return SYNCERR_NOT_FOUND;
  const ConduitAction current = read_action(who->directory, entry->key_name);
  int type = current.sync_type;
  if (type < 0) {
    type = eFast;
    if (auto info = library.get<GetConduitInfoFn>("GetConduitInfo")) {
      DWORD value = 0, size = sizeof value;
      if (info(eDefaultAction, nullptr, &value, &size) == 0) type = static_cast<int>(value);
    }
  }
  long result = -1;
  ConduitAction action;
  if (auto cfg = library.get<CfgConduitFn>("CfgConduit")) {
    CfgConduitInfo info{};
    info.dwVersion = 1;
    info.dwSize = sizeof info;
    info.dwCreatorId = entry->creator;
    info.dwUserId = who->user_id;
    copy_text(info.szUser, sizeof info.szUser, who->name);
    copy_text(info.szUserDir, sizeof info.szUserDir, who->directory);
    info.syncCurrent = type;
    DWORD size = sizeof info;
    result = cfg(eConfig1, &info, &size);
    action = {info.syncNew, info.syncPermanent == ePermanentPreference};
  } else if (auto configure = library.get<ConfigureConduitFn>("ConfigureConduit")) {
    CSyncPreference pref{type, 0};
    result = configure(&pref);
    action = {pref.m_SyncType, pref.m_SyncPref == ePermanentPreference};
  }
  if (result != 0) return result;
  if (!write_action(who->directory, entry->key_name, action)) return SYNCERR_IO;
  if (chosen != nullptr) *chosen = action;
  return 0;
}

const char* sync_type_name(int sync_type) {
  switch (sync_type) {
    case eFast:
      return "fast sync";
    case eSlow:
      return "slow sync";
    case eHHtoPC:
      return "handheld overwrites desktop";
    case ePCtoHH:
      return "desktop overwrites handheld";
    case eInstall:
      return "install";
    case eBackup:
      return "backup";
    case eDoNothing:
      return "do nothing";
    default:
      return "unknown sync type";
  }
}

std::string result_text(long code) {
  const char* text = nullptr;
  switch (code) {
    case SYNCERR_NONE:
      text = "success";
      break;
    case SYNCERR_UNKNOWN:
      text = "an unexpected failure";
      break;
    case SYNCERR_NOT_FOUND:
      text = "not found";
      break;
    case SYNCERR_FILE_NOT_OPEN:
      text = "the database is not open";
      break;
    case SYNCERR_READ_ONLY:
      text = "the database is open for reading only";
      break;
    case SYNCERR_NOT_REGISTERED:
      text = "no HotSync in progress";
      break;
    case SYNCERR_FILE_EXISTS:
      text = "the database exists already";
      break;
    case SYNCERR_ALREADY_OPEN:
      text = "the database is open already";
      break;
    case SYNCERR_TOO_MANY_OPEN:
      text = "too many databases are open";
      break;
    case SYNCERR_BAD_ARGUMENT:
      text = "a bad argument";
      break;
    case SYNCERR_BUFFER_TOO_SMALL:
      text = "a buffer too small";
      break;
    case SYNCERR_REMOTE_NO_SPACE:
      text = "the database is full";
      break;
    case SYNCERR_DAMAGED_DATABASE:
      text = "a damaged database file";
      break;
    case SYNCERR_IO:
      text = "a file could not be written";
      break;
    default:
      text = "see the HotSync log";
      break;
  }
  char code_text[16];
  std::snprintf(code_text, sizeof code_text, "0x%lX", static_cast<unsigned long>(code));
  return std::string(code_text) + ": " + text;
}

std::vector<std::string> report_lines(const HotSyncReport& report) {
  std::vector<std::string> lines;
  for (const ConduitResult& c : report.conduits) {
    if (!c.ran) {
      lines.push_back(c.key_name + ": not run (" + c.skipped + ")");
    } else if (c.result == 0) {
      lines.push_back(c.key_name + ": " + sync_type_name(c.sync_type) + ", completed");
    } else {
      lines.push_back(c.key_name + ": " + sync_type_name(c.sync_type) + ", failed (" +
                      result_text(c.result) + ")");
    }
  }
  lines.push_back("HotSync log:");
  for (const std::string& line : report.log) lines.push_back("  " + line);
  return lines;
}

}  // namespace sx::hotsync
