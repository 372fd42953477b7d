#include "sx/handheld/notes_database.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sx/calendar.h"
#include "sx/hotsync.h"

namespace sx::handheld {
namespace {

namespace fs = std::filesystem;

// The longest text the desktop keeps; the handheld's LF line ends become CR LF there.
constexpr std::size_t kMaxDesktopText = 32767;
constexpr std::size_t kMaxRecords = 0xFFFF;

std::string without_cr(std::string text) {
  std::erase(text, '\r');
  return text;
}

void check_text(const std::string& text, const char* what) {
  if (text.find('\0') != std::string::npos)
    throw NotesError(std::string("The ") + what + " of a note cannot hold a NUL character.");
}

// The exclusive lock a HotSync of the handheld holds for its whole run.
class HotSyncLock {
 public:
  explicit HotSyncLock(const fs::path& handheld) {
    const fs::path file = handheld / sx::hotsync::kLockFileName;
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) fd_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
      throw NotesError("Cannot open " + file.string() + ": " + std::strerror(errno) + ".");
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      const bool busy = errno == EWOULDBLOCK;
      ::close(fd_);
      throw NotesError(busy ? "A HotSync of this handheld is in progress; the notes application "
                              "can change its notes again when it has ended."
                            : "Cannot lock " + file.string() + ".");
    }
  }
  ~HotSyncLock() { ::close(fd_); }
  HotSyncLock(const HotSyncLock&) = delete;
  HotSyncLock& operator=(const HotSyncLock&) = delete;

 private:
  int fd_ = -1;
};

std::string four_chars(std::uint32_t v) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((v >> shift) & 0xFF);
    s += (c >= 32 && c < 127) ? c : '?';
  }
  return s;
}

}  // namespace

Minutes minutes_of_palm_time(std::uint32_t palm_seconds) {
  const std::int64_t days = palm_seconds / 86400;
  const std::int64_t second_of_day = palm_seconds % 86400;
  const auto d = sx::calendar::civil_from_days(sx::calendar::days_from_civil(1904, 1, 1) + days);
  return {static_cast<int>(d.year), static_cast<int>(d.month), static_cast<int>(d.day),
          static_cast<int>(second_of_day / 3600), static_cast<int>(second_of_day / 60 % 60)};
}

// --- NotesDatabase

NotesDatabase::NotesDatabase(sx::hotsync::PdbDatabase db, Minutes now)
    : db_(std::move(db)), now_(now), packed_now_(PackedDate::of(now).value_or(PackedDate{})) {
  if (db_.creator != kCreator || db_.type != kType) {
    throw NotesError("The database \"" + db_.name + "\" on the handheld belongs to another " +
                     "application (creator '" + four_chars(db_.creator) + "', type '" +
                     four_chars(db_.type) + "').");
  }
  if (db_.version != kVersion) {
    throw NotesError("The database \"" + db_.name + "\" on the handheld is version " +
                     std::to_string(db_.version) + "; the notes application keeps version 2.");
  }
  if (db_.app_info) {
    std::string why;
    if (!parse_categories(*db_.app_info, &categories_, &why))
      throw NotesError("The database \"" + db_.name + "\" on the handheld is damaged: " + why +
                       ".");
  } else {
    // No category block yet: the application starts one with "Unfiled" alone.
    categories_.names[0] = "Unfiled";
  }
}

std::vector<Note> NotesDatabase::notes() const {
  std::vector<Note> out;
  out.reserve(db_.records.size());
  for (const auto& r : db_.records) {
    Note n;
    n.record_id = r.unique_id;
    n.attributes = r.attributes;
    if (!n.deleted()) {
      NoteFields fields;
      if (unpack_note(r.data, &fields, &n.damage)) n.fields = std::move(fields);
    }
    out.push_back(std::move(n));
  }
  return out;
}

std::size_t NotesDatabase::index_of(std::uint32_t record_id) const {
  const int at = db_.find(record_id);
  if (at < 0) {
    throw NotesError("There is no note with record ID " + std::to_string(record_id) +
                     " on the handheld.");
  }
  return static_cast<std::size_t>(at);
}

Note NotesDatabase::note(std::uint32_t record_id) const {
  const std::size_t at = index_of(record_id);
  return notes()[at];
}

int NotesDatabase::category_named(const std::string& name) const {
  if (auto index = categories_.find(name)) return *index;
  std::string names;
  for (const std::string& n : categories_.names) {
    if (!n.empty()) names += (names.empty() ? "\"" : ", \"") + n + "\"";
  }
  throw NotesError("There is no category \"" + name + "\" on the handheld; its categories are " +
                   names + ".");
}

void NotesDatabase::apply(const NoteChange& c, NoteFields* f, std::uint8_t* attributes) const {
  if (c.text) f->text = without_cr(*c.text);
  if (c.text1) f->text1 = without_cr(*c.text1);
  if (c.contact) f->contact = without_cr(*c.contact);
  check_text(f->text, "text");
  check_text(f->text1, "first text");
  check_text(f->contact, "contact");
  if (f->text.size() + static_cast<std::size_t>(std::count(f->text.begin(), f->text.end(), '\n')) >
      kMaxDesktopText) {
    throw NotesError(
        "The note's text is too long: a note holds at most 32767 characters, each "
        "line break counted twice (as the desktop keeps it).");
  }
  if (c.date) f->date = *c.date;
  if (c.created) f->created = *c.created;
  if (c.resv1) f->resv1 = *c.resv1;
  if (c.resv2) f->resv2 = *c.resv2;
  if (c.category) {
    const int index = *c.category;
    if (index < 0 || index >= kCategoryCount ||
        categories_.names[static_cast<std::size_t>(index)].empty())
      throw NotesError("There is no such category on the handheld.");
    *attributes = static_cast<std::uint8_t>((*attributes & ~kAttrCategory) | index);
  }
  if (c.is_private) {
    *attributes = static_cast<std::uint8_t>(*c.is_private ? (*attributes | kAttrPrivate)
                                                          : (*attributes & ~kAttrPrivate));
  }
}

void NotesDatabase::store(std::size_t index, std::uint8_t attributes, const NoteFields& fields) {
  std::vector<std::uint8_t> bytes = pack_note(fields);
  if (bytes.size() > kMaxRecordBytes) {
    throw NotesError("The note is too long for the handheld: its record would have " +
                     std::to_string(bytes.size()) + " bytes, and a record holds at most " +
                     std::to_string(kMaxRecordBytes) + ".");
  }
  sx::hotsync::PdbRecord& r = db_.records[index];
  r.attributes = attributes;
  r.data = std::move(bytes);
  changed_ = true;
}

std::uint32_t NotesDatabase::add_note(const NoteChange& change) {
  if (!change.text || without_cr(*change.text).empty()) throw NotesError("A note needs a text.");
  if (db_.records.size() >= kMaxRecords) throw NotesError("The handheld's notes database is full.");
  NoteFields fields;
  fields.created = fields.modified = fields.date = packed_now_;
  std::uint8_t attributes = kAttrDirty;
  apply(change, &fields, &attributes);
  const std::uint32_t id = db_.take_unique_id();
  db_.records.push_back({0, id, {}});
  try {
    store(db_.records.size() - 1, attributes, fields);
  } catch (...) {
    db_.records.pop_back();
    throw;
  }
  return id;
}

namespace {

// The Mod bits of what differs between two states of a note.
std::uint32_t changed_bits(const NoteFields& a, const NoteFields& b, std::uint8_t attributes_a,
                           std::uint8_t attributes_b) {
  std::uint32_t bits = 0;
  if (a.created != b.created) bits |= kModCreated;
  if (a.date != b.date) bits |= kModDate;
  if (a.resv1 != b.resv1) bits |= kModResv1;
  if (a.resv2 != b.resv2) bits |= kModResv2;
  if (a.text1 != b.text1) bits |= kModText1;
  if (a.contact != b.contact) bits |= kModContact;
  if (a.text != b.text) bits |= kModText;
  if ((attributes_a & kAttrCategory) != (attributes_b & kAttrCategory)) bits |= kModCategory;
  if ((attributes_a & kAttrPrivate) != (attributes_b & kAttrPrivate)) bits |= kModPrivate;
  return bits;
}

}  // namespace

bool NotesDatabase::edit_note(std::uint32_t record_id, const NoteChange& change) {
  const std::size_t index = index_of(record_id);
  const Note before = notes()[index];
  if (!before.live()) {
    throw NotesError("The note with record ID " + std::to_string(record_id) + " is " +
                     (before.archived() ? "archived" : "deleted") + "; it cannot be changed.");
  }
  if (!before.fields) {
    throw NotesError("The note with record ID " + std::to_string(record_id) +
                     " is damaged and cannot be changed: " + before.damage + ".");
  }
  NoteFields after = *before.fields;
  std::uint8_t attributes = before.attributes;
  apply(change, &after, &attributes);
  const std::uint32_t bits = changed_bits(*before.fields, after, before.attributes, attributes);
  if (bits == 0) return false;
  if (change.text && without_cr(*change.text).empty()) throw NotesError("A note needs a text.");
  after.modified = packed_now_;
  after.mod |= bits | kModModified;
  store(index, static_cast<std::uint8_t>(attributes | kAttrDirty), after);
  return true;
}

void NotesDatabase::delete_note(std::uint32_t record_id, bool archive) {
  const std::size_t index = index_of(record_id);
  sx::hotsync::PdbRecord& r = db_.records[index];
  if ((r.attributes & kAttrDeleted) != 0) {
    throw NotesError("The note with record ID " + std::to_string(record_id) + " is " +
                     ((r.attributes & kAttrArchived) ? "archived" : "deleted") + " already.");
  }
  const auto kept = static_cast<std::uint8_t>(r.attributes & kAttrPrivate);
  r.attributes =
      static_cast<std::uint8_t>(kAttrDeleted | kAttrDirty | kept | (archive ? kAttrArchived : 0));
  if (!archive) r.data.clear();
  changed_ = true;
}

int NotesDatabase::add_category(const std::string& name) {
  std::string why;
  const auto index = categories_.add(name, &why);
  if (!index) throw NotesError(why);
  changed_ = true;
  return *index;
}

void NotesDatabase::rename_category(int index, const std::string& name) {
  std::string why;
  if (!categories_.rename(index, name, &why)) throw NotesError(why);
  changed_ = true;
}

void NotesDatabase::delete_category(int index) {
  std::string why;
  if (!categories_.remove(index, &why)) throw NotesError(why);
  for (std::size_t i = 0; i < db_.records.size(); ++i) {
    sx::hotsync::PdbRecord& r = db_.records[i];
    if ((r.attributes & kAttrDeleted) != 0 || (r.attributes & kAttrCategory) != index) continue;
    NoteFields fields;
    std::string damage;
    const auto unfiled = static_cast<std::uint8_t>((r.attributes & ~kAttrCategory) | kAttrDirty);
    if (!unpack_note(r.data, &fields, &damage)) {
      r.attributes = unfiled;  // its bytes stay as they are
      continue;
    }
    fields.mod |= kModCategory;
    store(i, unfiled, fields);
  }
  changed_ = true;
}

sx::hotsync::PdbDatabase NotesDatabase::database() const {
  sx::hotsync::PdbDatabase db = db_;
  db.app_info = serialize_categories(categories_);
  return db;
}

// --- NotesApp

NotesApp::NotesApp(const std::string& user) {
  std::vector<sx::hotsync::UserEntry> users;
  std::string why;
  if (!sx::hotsync::read_users(&users, &why)) throw NotesError(why);
  for (const auto& u : users) {
    if (u.name == user) {
      handheld_ = sx::hotsync::handheld_dir(u.directory);
      return;
    }
  }
  throw NotesError("There is no HotSync user \"" + user + "\".");
}

fs::path NotesApp::database_file() const {
  const fs::path usual = sx::hotsync::database_file(handheld_, kDatabaseName);
  std::error_code ec;
  if (fs::exists(usual, ec)) return usual;
  // A database file put on the handheld under another name is found by the name inside it.
  for (const fs::path& file : sx::hotsync::database_files(handheld_)) {
    sx::hotsync::PdbDatabase db;
    if (sx::hotsync::load_database(file, &db, nullptr) && db.name == kDatabaseName) return file;
  }
  return usual;
}

void NotesApp::with_database(const std::function<void(NotesDatabase&)>& work) {
  sx::hotsync::DeviceInfo device;
  std::string why;
  if (!sx::hotsync::read_device(handheld_, &device, &why)) throw NotesError(why);
  HotSyncLock lock(handheld_);
  const std::uint32_t now = static_cast<std::uint32_t>(
      static_cast<std::int64_t>(sx::hotsync::desktop_palm_now()) + device.clock_offset);
  const fs::path file = database_file();
  sx::hotsync::PdbDatabase db;
  std::error_code ec;
  made_ = !fs::exists(file, ec);
  if (made_) {
    db.name = kDatabaseName;
    db.attributes = 0x0008;  // backed up at each HotSync
    db.version = kVersion;
    db.type = kType;
    db.creator = kCreator;
    db.created = now;
    db.seed = 1;
    db.app_info = serialize_categories(Categories::fresh());
  } else if (!sx::hotsync::load_database(file, &db, &why)) {
    throw NotesError("The notes database on the handheld cannot be read: " + why + ".");
  }
  NotesDatabase notes(std::move(db), minutes_of_palm_time(now));
  work(notes);
  if (!notes.changed() && !made_) return;
  sx::hotsync::PdbDatabase out = notes.database();
  // Changed after the last HotSync in the handheld's own time, even within its second, so that
  // the next HotSync's test of what changed sees it.
  out.modified = std::max({now, device.last_sync_time + 1, out.backed_up + 1});
  ++out.mod_number;
  if (!sx::hotsync::save_database(file, out, &why))
    throw NotesError("The notes cannot be written to the handheld: " + why + ".");
}

std::int64_t NotesApp::clock_offset() const {
  sx::hotsync::DeviceInfo device;
  std::string why;
  if (!sx::hotsync::read_device(handheld_, &device, &why)) throw NotesError(why);
  return device.clock_offset;
}

void NotesApp::set_clock_offset(std::int64_t seconds) {
  HotSyncLock lock(handheld_);
  sx::hotsync::DeviceInfo device;
  std::string why;
  if (!sx::hotsync::read_device(handheld_, &device, &why)) throw NotesError(why);
  device.clock_offset = seconds;
  if (!sx::hotsync::write_device(handheld_, device, &why)) throw NotesError(why);
}

}  // namespace sx::handheld
