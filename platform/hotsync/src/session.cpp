// The HotSync in progress and the sync manager operations on it. See session.h and
// hotsync/syncmgr.h.
//
// Databases are read whole into memory when opened and written back whole, atomically, when closed
// with changes (or when the HotSync ends). Records are kept in file order; new ones are appended.
#include "session.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <unordered_map>

#include "pdb_format.h"
#include "sx/clock.h"
#include "sx/hotsync.h"

namespace fs = std::filesystem;

namespace sx::hotsync {
namespace {

constexpr std::size_t kMaxOpenDatabases = 16;
constexpr DWORD kMaxAppInfoBytes = 0xFFFF;
constexpr std::uintmax_t kMaxPreferenceBytes = 0xFFFF;

struct OpenDatabase {
  fs::path file;
  PdbDatabase db;
  BYTE mode = 0;
  bool changed = false;
  // unique ID -> position in db.records; rebuilt when records are removed.
  std::unordered_map<std::uint32_t, std::size_t> index;
  bool index_valid = false;

  void rebuild_index() {
    index.clear();
    index.reserve(db.records.size());
    for (std::size_t i = 0; i < db.records.size(); ++i) index[db.records[i].unique_id] = i;
    index_valid = true;
  }
  std::optional<std::size_t> position(std::uint32_t id) {
    if (!index_valid) rebuild_index();
    auto it = index.find(id);
    if (it == index.end()) return std::nullopt;
    return it->second;
  }
};

struct Session {
  fs::path handheld;
  fs::path log_file;
  DeviceInfo device;
  DWORD pc_id = 0;
  std::map<BYTE, OpenDatabase> open;
  std::set<CONDHANDLE> registrations;
  CONDHANDLE next_registration = 1;
  std::vector<std::string> log;
  std::set<fs::path> reported_damaged;
  int lock_fd = -1;           // holds the handheld's HotSync lock for the whole session
  std::string write_problem;  // the first file of this HotSync that could not be written
  bool finished = false;      // finish_session has committed and recorded the HotSync
};

std::mutex g_mutex;
std::optional<Session> g_session;  // guarded by g_mutex
std::atomic<std::uint64_t> g_yields{0};

using Lock = std::unique_lock<std::mutex>;

DWORD handheld_now(const Session& s) {
  return static_cast<DWORD>(desktop_palm_now() + s.device.clock_offset);
}

void note_write_problem(Session& s, const std::string& problem) {
  if (s.write_problem.empty()) s.write_problem = problem;
}

void log_locked(Session& s, const std::string& text, int activity, bool timestamp = false) {
  const std::string line = detail::format_log_line(text.c_str(), activity, timestamp);
  s.log.push_back(line);
  std::error_code ec;
  fs::create_directories(s.log_file.parent_path(), ec);
  std::ofstream out(s.log_file, std::ios::binary | std::ios::app);
  out << line << "\r\n";
  out.close();
  if (!out) note_write_problem(s, "the HotSync log " + s.log_file.string() + " cannot be written");
}

// Reads a database file; a damaged one is logged once per HotSync.
bool load_logged(Session& s, const fs::path& file, PdbDatabase* db) {
  std::string why;
  if (load_database(file, db, &why)) return true;
  if (s.reported_damaged.insert(file).second) log_locked(s, "Sync manager: " + why, slWarning);
  return false;
}

// The file holding database `name` ("" when there is none): the usual file name first, then any
// file whose header carries the name.
fs::path find_database(const Session& s, const std::string& name) {
  const fs::path usual = database_file(s.handheld, name);
  std::error_code ec;
  if (fs::exists(usual, ec)) return usual;
  for (const fs::path& file : database_files(s.handheld)) {
    char header[pdb::kNameSize] = {};
    std::ifstream in(file, std::ios::binary);
    if (!in.read(header, sizeof header)) continue;
    if (std::strncmp(header, name.c_str(), sizeof header) == 0 && name.size() < pdb::kNameSize) {
      return file;
    }
  }
  return {};
}

OpenDatabase* find_open(Session& s, BYTE handle) {
  auto it = s.open.find(handle);
  return it == s.open.end() ? nullptr : &it->second;
}

bool is_open_by_file(const Session& s, const fs::path& file) {
  for (const auto& [h, o] : s.open) {
    if (o.file == file) return true;
  }
  return false;
}

long add_open(Session& s, OpenDatabase&& opened, BYTE* handle) {
  if (s.open.size() >= kMaxOpenDatabases) return SYNCERR_TOO_MANY_OPEN;
  BYTE h = 1;
  while (s.open.count(h) != 0) ++h;
  s.open.emplace(h, std::move(opened));
  *handle = h;
  return SYNCERR_NONE;
}

long commit(Session& s, OpenDatabase& o) {
  if (!o.changed) return SYNCERR_NONE;
  o.db.modified = handheld_now(s);
  ++o.db.mod_number;
  std::string why;
  if (detail::take_fault("CommitDatabase") != 0) why = "cannot write " + o.file.string();
  if (!why.empty() || !save_database(o.file, o.db, &why)) {
    log_locked(s, "Sync manager: cannot write \"" + o.db.name + "\": " + why, slWarning);
    note_write_problem(s, "the database \"" + o.db.name + "\" cannot be written");
    return SYNCERR_IO;
  }
  o.changed = false;
  return SYNCERR_NONE;
}

// Runs `op` on the open session, or returns SYNCERR_NOT_REGISTERED.
template <typename Op>
long with_session(Op&& op) {
  Lock lock(g_mutex);
  if (!g_session) return SYNCERR_NOT_REGISTERED;
  return op(*g_session);
}

template <typename Op>
long with_database(BYTE handle, bool write, Op&& op) {
  return with_session([&](Session& s) -> long {
    OpenDatabase* o = find_open(s, handle);
    if (o == nullptr) return SYNCERR_FILE_NOT_OPEN;
    if (write && (o->mode & eDbWrite) == 0) return SYNCERR_READ_ONLY;
    return op(s, *o);
  });
}

void copy_name(char* out, std::size_t room, const std::string& text) {
  std::memset(out, 0, room);
  std::memcpy(out, text.data(), std::min(text.size(), room - 1));
}

}  // namespace

namespace detail {

std::string format_log_line(const char* text, int activity, bool timestamp) {
  std::string line;
  if (timestamp) {
    const std::time_t t = static_cast<std::time_t>(sx::clock::wall_unix_ms() / 1000);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
    line += stamp;
  }
  switch (activity) {
    case slText:
      break;
    case slSyncStarted:
      line += "[start] ";
      break;
    case slSyncFinished:
      line += "[finished] ";
      break;
    case slSyncAborted:
      line += "[failed] ";
      break;
    case slWarning:
      line += "[error] ";
      break;
    default:
      line += "[activity " + std::to_string(activity) + "] ";
      break;
  }
  for (const char* p = text != nullptr ? text : ""; *p != '\0'; ++p) {
    line += (*p == '\r' || *p == '\n') ? ' ' : *p;  // one entry, one line
  }
  return line;
}

long register_conduit(CONDHANDLE* handle) {
  if (handle == nullptr) return SYNCERR_BAD_ARGUMENT;
  return with_session([&](Session& s) -> long {
    const CONDHANDLE h = s.next_registration++;
    s.registrations.insert(h);
    *handle = h;
    return SYNCERR_NONE;
  });
}

long unregister_conduit(CONDHANDLE handle) {
  return with_session([&](Session& s) -> long {
    if (s.registrations.erase(handle) == 0) return SYNCERR_BAD_ARGUMENT;
    long result = SYNCERR_NONE;
    for (auto& [h, o] : s.open) {
      const long r = commit(s, o);
      if (result == SYNCERR_NONE) result = r;
    }
    s.open.clear();
    return result;
  });
}

long read_user(UserInfoBlock* info) {
  if (info == nullptr) return SYNCERR_BAD_ARGUMENT;
  return with_session([&](Session& s) -> long {
    UserInfoBlock block{};
    block.m_UserId = s.device.user_id;
    block.m_LastSyncPC = s.device.last_sync_pc;
    copy_name(block.m_UserName, sizeof block.m_UserName, s.device.user_name);
    block.m_LastSyncDate = s.device.last_sync_time;
    block.m_SuccessfulSyncDate = s.device.successful_sync_time;
    *info = block;
    return SYNCERR_NONE;
  });
}

long read_clock(DWORD* time) {
  if (time == nullptr) return SYNCERR_BAD_ARGUMENT;
  return with_session([&](Session& s) -> long {
    *time = handheld_now(s);
    return SYNCERR_NONE;
  });
}

long read_db_list(BYTE card, WORD start, BYTE ram_flag, DatabaseListEntry* list, WORD* count) {
  if (list == nullptr || count == nullptr || *count == 0 || ram_flag != 1) {
    return SYNCERR_BAD_ARGUMENT;
  }
  return with_session([&](Session& s) -> long {
    if (card != 0) return SYNCERR_NOT_FOUND;
    std::vector<std::pair<std::string, PdbDatabase>> found;
    for (const fs::path& file : database_files(s.handheld)) {
      PdbDatabase db;
      if (!load_logged(s, file, &db)) continue;
      // A database open in this HotSync is listed as it is now.
      for (auto& [h, o] : s.open) {
        if (o.file == file) db = o.db;
      }
      db.records.shrink_to_fit();
      found.emplace_back(db.name, std::move(db));
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    if (start >= found.size()) return SYNCERR_NOT_FOUND;
    WORD filled = 0;
    for (std::size_t i = start; i < found.size() && filled < *count; ++i, ++filled) {
      const PdbDatabase& db = found[i].second;
      DatabaseListEntry entry{};
      DatabaseInfoBlock& b = entry.m_Info;
      b.m_dwType = db.type;
      b.m_DbFlags = db.attributes;
      b.m_Index = static_cast<WORD>(i);
      copy_name(b.m_Name, sizeof b.m_Name, db.name);
      b.m_Creator = db.creator;
      b.m_Version = db.version;
      b.m_ModNumber = db.mod_number;
      b.m_NumRecords = static_cast<WORD>(db.records.size());
      b.m_CreateDate = db.created;
      b.m_ModDate = db.modified;
      b.m_BackupDate = db.backed_up;
      entry.m_RecordCount = b.m_NumRecords;
      std::memcpy(&list[filled], &entry, sizeof entry);
    }
    *count = filled;
    return SYNCERR_NONE;
  });
}

long open_db(const char* name, BYTE card, BYTE* handle, BYTE mode) {
  if (name == nullptr || handle == nullptr) return SYNCERR_BAD_ARGUMENT;
  return with_session([&](Session& s) -> long {
    if (card != 0) return SYNCERR_NOT_FOUND;
    const fs::path file = find_database(s, name);
    if (file.empty()) return SYNCERR_NOT_FOUND;
    if (is_open_by_file(s, file)) return SYNCERR_ALREADY_OPEN;
    OpenDatabase o;
    o.file = file;
    o.mode = mode;
    if (!load_logged(s, file, &o.db)) return SYNCERR_DAMAGED_DATABASE;
    return add_open(s, std::move(o), handle);
  });
}

long create_db(DWORD creator, DWORD type, WORD flags, BYTE card, WORD version, const char* name,
               BYTE* handle) {
  if (name == nullptr || handle == nullptr || name[0] == '\0' ||
      std::strlen(name) >= pdb::kNameSize || (flags & pdb::kDbResource) != 0) {
    return SYNCERR_BAD_ARGUMENT;
  }
  return with_session([&](Session& s) -> long {
    if (card != 0) return SYNCERR_BAD_ARGUMENT;
    if (!find_database(s, name).empty()) return SYNCERR_FILE_EXISTS;
    OpenDatabase o;
    o.file = database_file(s.handheld, name);
    if (is_open_by_file(s, o.file)) return SYNCERR_FILE_EXISTS;
    o.mode = eDbRead | eDbWrite;
    o.db.name = name;
    o.db.attributes = flags;
    o.db.version = version;
    o.db.created = handheld_now(s);
    o.db.type = type;
    o.db.creator = creator;
    o.db.seed = 1;
    o.changed = true;  // written at close even when nothing is added
    return add_open(s, std::move(o), handle);
  });
}

long close_db(BYTE handle) {
  return with_session([&](Session& s) -> long {
    OpenDatabase* o = find_open(s, handle);
    if (o == nullptr) return SYNCERR_FILE_NOT_OPEN;
    const long result = commit(s, *o);
    s.open.erase(handle);
    return result;
  });
}

long record_count(BYTE handle, WORD* count) {
  if (count == nullptr) return SYNCERR_BAD_ARGUMENT;
  return with_database(handle, false, [&](Session&, OpenDatabase& o) -> long {
    *count = static_cast<WORD>(o.db.records.size());
    return SYNCERR_NONE;
  });
}

long read_record(RecordInfoBlock* rec) {
  if (rec == nullptr) return SYNCERR_BAD_ARGUMENT;
  return with_database(rec->m_FileHandle, false, [&](Session&, OpenDatabase& o) -> long {
    if (rec->m_RecIndex >= o.db.records.size()) return SYNCERR_NOT_FOUND;
    const PdbRecord& r = o.db.records[rec->m_RecIndex];
    const bool deleted = (r.attributes & pdb::kRecDelete) != 0;
    const bool archived = deleted && (r.attributes & pdb::kRecArchive) != 0;
    // A deleted record without the archive flag keeps no data, whatever the file holds.
    const std::size_t size = deleted && !archived ? 0 : r.data.size();
    if (size > 0 && (rec->m_pBytes == nullptr || size > rec->m_TotalBytes)) {
      return SYNCERR_BUFFER_TOO_SMALL;
    }
    if (size > 0) std::memcpy(rec->m_pBytes, r.data.data(), size);
    rec->m_RecId = r.unique_id;
    if (archived) {
      rec->m_Attribs = static_cast<BYTE>((r.attributes & 0x70) | eRecAttrArchived);
      rec->m_CatId = 0;  // the file keeps no category for an archived record
    } else if (deleted) {
      rec->m_Attribs = static_cast<BYTE>(r.attributes & 0xF0);
      rec->m_CatId = 0;
    } else {
      rec->m_Attribs = static_cast<BYTE>(r.attributes & 0xF0);
      rec->m_CatId = static_cast<SHORT>(r.attributes & pdb::kRecCategoryMask);
    }
    rec->m_RecSize = static_cast<DWORD>(size);
    return SYNCERR_NONE;
  });
}

long write_record(RecordInfoBlock* rec) {
  if (rec == nullptr) return SYNCERR_BAD_ARGUMENT;
  const BYTE attribs = rec->m_Attribs;
  const bool archived = (attribs & eRecAttrArchived) != 0;
  const bool deleted = !archived && (attribs & eRecAttrDeleted) != 0;
  if (rec->m_RecSize > pdb::kMaxRecordBytes || rec->m_RecId > pdb::kMaxUniqueId ||
      (rec->m_RecSize > 0 && rec->m_pBytes == nullptr) ||
      (!archived && !deleted && (rec->m_CatId < 0 || rec->m_CatId > 15))) {
    return SYNCERR_BAD_ARGUMENT;
  }
  return with_database(rec->m_FileHandle, true, [&](Session&, OpenDatabase& o) -> long {
    PdbRecord r;
    const BYTE kept = attribs & (eRecAttrDirty | eRecAttrSecret);  // busy is never written
    if (archived) {
      r.attributes = static_cast<BYTE>(pdb::kRecDelete | pdb::kRecArchive | kept);
    } else if (deleted) {
      r.attributes = static_cast<BYTE>(pdb::kRecDelete | kept);
    } else {
      r.attributes = static_cast<BYTE>(kept | (rec->m_CatId & pdb::kRecCategoryMask));
    }
    if (!deleted && rec->m_RecSize > 0)
      r.data.assign(rec->m_pBytes, rec->m_pBytes + rec->m_RecSize);
    if (rec->m_RecId != 0) {
      if (auto at = o.position(rec->m_RecId)) {
        r.unique_id = rec->m_RecId;
        o.db.records[*at] = std::move(r);
        o.changed = true;
        return SYNCERR_NONE;
      }
    }
    if (o.db.records.size() >= pdb::kMaxRecords) return SYNCERR_REMOTE_NO_SPACE;
    if (rec->m_RecId == 0) {
      if (!o.index_valid) o.rebuild_index();
      do {
        r.unique_id = o.db.seed & pdb::kMaxUniqueId;
        o.db.seed = (o.db.seed + 1) & pdb::kMaxUniqueId;
      } while (r.unique_id == 0 || o.index.count(r.unique_id) != 0);
    } else {
      r.unique_id = rec->m_RecId;
    }
    const DWORD id = r.unique_id;
    o.db.records.push_back(std::move(r));
    if (o.index_valid) o.index[id] = o.db.records.size() - 1;
    o.changed = true;
    rec->m_RecId = id;
    rec->m_RecIndex = static_cast<WORD>(o.db.records.size() - 1);
    return SYNCERR_NONE;
  });
}

long delete_record(BYTE handle, DWORD id) {
  return with_database(handle, true, [&](Session&, OpenDatabase& o) -> long {
    auto at = o.position(id);
    if (!at) return SYNCERR_NOT_FOUND;
    o.db.records.erase(o.db.records.begin() + static_cast<std::ptrdiff_t>(*at));
    o.index_valid = false;
    o.changed = true;
    return SYNCERR_NONE;
  });
}

long purge_deleted(BYTE handle) {
  return with_database(handle, true, [&](Session&, OpenDatabase& o) -> long {
    const auto end =
        std::remove_if(o.db.records.begin(), o.db.records.end(),
                       [](const PdbRecord& r) { return (r.attributes & pdb::kRecDelete) != 0; });
    if (end != o.db.records.end()) {
      o.db.records.erase(end, o.db.records.end());
      o.index_valid = false;
      o.changed = true;
    }
    return SYNCERR_NONE;
  });
}

long reset_flags(BYTE handle) {
  return with_database(handle, true, [&](Session& s, OpenDatabase& o) -> long {
    for (PdbRecord& r : o.db.records) r.attributes &= static_cast<std::uint8_t>(~pdb::kRecDirty);
    o.db.backed_up = handheld_now(s);
    o.changed = true;
    return SYNCERR_NONE;
  });
}

long read_app_info(BYTE handle, BYTE* buffer, DWORD* size) {
  if (buffer == nullptr || size == nullptr) return SYNCERR_BAD_ARGUMENT;
  return with_database(handle, false, [&](Session&, OpenDatabase& o) -> long {
    if (!o.db.app_info) return SYNCERR_NOT_FOUND;
    if (o.db.app_info->size() > *size) return SYNCERR_BUFFER_TOO_SMALL;
    std::copy(o.db.app_info->begin(), o.db.app_info->end(), buffer);
    *size = static_cast<DWORD>(o.db.app_info->size());
    return SYNCERR_NONE;
  });
}

long write_app_info(BYTE handle, const BYTE* buffer, DWORD size) {
  if ((buffer == nullptr && size > 0) || size > kMaxAppInfoBytes) return SYNCERR_BAD_ARGUMENT;
  return with_database(handle, true, [&](Session&, OpenDatabase& o) -> long {
    o.db.app_info.emplace(buffer, buffer + size);
    o.changed = true;
    return SYNCERR_NONE;
  });
}

long read_preference(DWORD creator, WORD id, BOOL backed_up, BYTE* buffer, DWORD* size) {
  if (buffer == nullptr || size == nullptr) return SYNCERR_BAD_ARGUMENT;
  return with_session([&](Session& s) -> long {
    char name[64];
    std::snprintf(name, sizeof name, "%08lX-%u-%c.bin", static_cast<unsigned long>(creator),
                  static_cast<unsigned>(id), backed_up ? 'b' : 'u');
    const fs::path file = s.handheld / "prefs" / name;
    std::error_code ec;
    const auto bytes = fs::file_size(file, ec);
    if (ec) return SYNCERR_NOT_FOUND;
    if (bytes > kMaxPreferenceBytes) return SYNCERR_DAMAGED_DATABASE;
    if (bytes > *size) return SYNCERR_BUFFER_TOO_SMALL;
    std::ifstream in(file, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(bytes))) {
      return SYNCERR_NOT_FOUND;
    }
    *size = static_cast<DWORD>(bytes);
    return SYNCERR_NONE;
  });
}

long add_log_entry(const char* text, int activity, BOOL timestamp) {
  return with_session([&](Session& s) -> long {
    log_locked(s, text != nullptr ? text : "", activity, timestamp != 0);
    return SYNCERR_NONE;
  });
}

void count_yield() { ++g_yields; }

bool damage_reported(const fs::path& file) {
  Lock lock(g_mutex);
  return g_session && g_session->reported_damaged.count(file) != 0;
}

}  // namespace detail

std::uint64_t yield_count() { return g_yields.load(); }

bool begin_session(const fs::path& handheld, const fs::path& log_file, DWORD pc_id,
                   std::string* why) {
  DeviceInfo device;
  if (!read_device(handheld, &device, why)) return false;
  Lock lock(g_mutex);
  if (g_session) {
    if (why != nullptr) *why = "a HotSync is already in progress";
    return false;
  }
  // One HotSync per handheld on the whole machine: the lock is held until end_session.
  const fs::path lock_file = handheld / kLockFileName;
  int fd = ::open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) fd = ::open(lock_file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (why != nullptr) *why = "cannot open " + lock_file.string() + ": " + std::strerror(errno);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool busy = errno == EWOULDBLOCK;
    if (why != nullptr) {
      *why = busy ? "a HotSync of this handheld is already in progress"
                  : "cannot lock " + lock_file.string() + ": " + std::strerror(errno);
    }
    ::close(fd);
    return false;
  }
  g_session.emplace();
  g_session->handheld = handheld;
  g_session->log_file = log_file;
  g_session->device = device;
  g_session->pc_id = pc_id;
  g_session->lock_fd = fd;
  return true;
}

namespace {

bool finish_locked(Session& s, bool completed, std::string* why) {
  if (!s.finished) {
    s.finished = true;
    bool all_written = true;
    for (auto& [h, o] : s.open) all_written = commit(s, o) == SYNCERR_NONE && all_written;
    s.open.clear();
    if (completed && all_written) {
      const DWORD now = handheld_now(s);
      s.device.last_sync_pc = s.pc_id;
      s.device.last_sync_time = now;
      s.device.successful_sync_time = now;
      std::string problem;
      if (detail::take_fault("WriteDevice") != 0) problem = "cannot write the device file";
      if (!problem.empty() || !write_device(s.handheld, s.device, &problem)) {
        log_locked(s, "HotSync: " + problem, slWarning);
        note_write_problem(s, "the handheld's device file cannot be written");
      }
    }
  }
  if (s.write_problem.empty()) return true;
  if (why != nullptr) *why = s.write_problem;
  return false;
}

}  // namespace

bool finish_session(bool completed, std::string* why) {
  Lock lock(g_mutex);
  if (!g_session) return true;
  return finish_locked(*g_session, completed, why);
}

std::vector<std::string> end_session(bool completed) {
  Lock lock(g_mutex);
  if (!g_session) return {};
  Session& s = *g_session;
  (void)finish_locked(s, completed, nullptr);
  std::vector<std::string> log = std::move(s.log);
  if (s.lock_fd >= 0) ::close(s.lock_fd);
  g_session.reset();
  return log;
}

bool session_active() {
  Lock lock(g_mutex);
  return g_session.has_value();
}

}  // namespace sx::hotsync
