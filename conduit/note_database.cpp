#include "note_database.h"

#include <algorithm>
#include <cstring>

#include "hotsync/hslog.h"
#include "hotsync/syncmgr.h"
#include "progress.h"
#include "resources.h"
#include "scribbix/note_key.h"
#include "settings.h"
#include "sx/calendar.h"
#include "windows.h"

namespace sx::conduit {
namespace {

// The desktop clock as handheld time (seconds since 1 January 1904, local).
DWORD desktop_clock_as_handheld_time() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const std::int64_t days = sx::calendar::days_from_civil(now.wYear, now.wMonth, now.wDay) -
                            sx::calendar::days_from_civil(1904, 1, 1);
  return static_cast<DWORD>(days * 86400 + now.wHour * 3600 + now.wMinute * 60 + now.wSecond);
}

long first_failure(long so_far, long result) { return so_far != 0 ? so_far : result; }

}  // namespace

// --- NoteDatabase
// ---------------------------------------------------------------------------------

NoteDatabase::NoteDatabase(std::string name, SyncProperties* properties, bool handheld,
                           UINT description_id)
    : name_(std::move(name)),
      properties_(properties),
      handheld_(handheld),
      description_id_(description_id) {
  accessor_.name = name_;
}

NoteDatabase::~NoteDatabase() {
  if (counterpart_ != nullptr && counterpart_->counterpart_ == this) {
    counterpart_->counterpart_ = nullptr;
  }
  NoteDatabase::close();  // what a derived side closes it has closed already (see close())
}

bool NoteDatabase::insert(std::unique_ptr<NoteRecord> note) {
  const std::int32_t id = note->noteId();
  return notes_.try_emplace(id, std::move(note)).second;
}

NoteRecord& NoteDatabase::admit(std::unique_ptr<NoteRecord> note) {
  NoteRecord& kept = *note;
  const std::int32_t id = kept.noteId();
  // try_emplace leaves `note` alone when the ID is taken (emplace would destroy the record).
  if (notes_.try_emplace(id, std::move(note)).second) return kept;
  log_line(format_string(handheld_ ? IDS_DUPLICATE_HANDHELD : IDS_DUPLICATE_DESKTOP,
                         kept.title().c_str(), static_cast<long>(id)),
           slText);
  std::int32_t provisional = next_provisional_id();
  // A note may carry a negative ID of its own: the provisional one must be free.
  while (notes_.count(provisional) != 0) provisional = next_provisional_id();
  kept.setNoteId(provisional);
  kept.needs_rewrite = true;
  notes_.try_emplace(provisional, std::move(note));
  return kept;
}

NoteRecord* NoteDatabase::find(std::int32_t id) {
  auto it = notes_.find(id);
  return it == notes_.end() ? nullptr : it->second.get();
}

const NoteRecord* NoteDatabase::find(std::int32_t id) const {
  auto it = notes_.find(id);
  return it == notes_.end() ? nullptr : it->second.get();
}

void NoteDatabase::pairWith(NoteDatabase& other) {
  counterpart_ = &other;
  other.counterpart_ = this;
}

std::int32_t NoteDatabase::newNoteId() {
  static NoteIdAllocator registry_sequence;
  return (allocator_ != nullptr ? *allocator_ : registry_sequence).newNoteId(*this);
}

bool NoteDatabase::hasChanged() {
  if (last_sync_time < modification_time) return true;
  return handheld_ && backup_time < modification_time;
}

long NoteDatabase::close() {
  notes_.clear();
  remap_.clear();
  records_to_read_ = 0;
  if (!accessor_.open) return 0;
  long result = 0;
  if (accessor_.categories_changed) {
    result = SyncWriteDBAppInfoBlock(accessor_.handle, accessor_.categories.data(),
                                     accessor_.categories_used);
    accessor_.categories_changed = false;
  }
  accessor_.open = false;
  return first_failure(result, SyncCloseDB(accessor_.handle));
}

long NoteDatabase::open(const std::string& name, bool create) {
  accessor_.name = name;
  BYTE handle = 0;
  long result = SyncOpenDB(name.c_str(), 0, &handle, eDbRead | eDbWrite | eDbExclusive);
  if (result == SYNCERR_NOT_FOUND && create) {
    const BYTE card = properties_ != nullptr ? properties_->m_CardNo : 0;
    const DWORD creator = properties_ != nullptr ? properties_->m_Creator : kScribbixCreator;
    result = SyncCreateDB(creator, kDataType, 0, card, databaseVersion(), name.c_str(), &handle);
  }
  if (result != 0) return result;
  accessor_.handle = handle;
  accessor_.open = true;
  return 0;
}

long NoteDatabase::readAll() {
  if (!accessor_.open) return SYNCERR_FILE_NOT_OPEN;
  WORD count = 0;
  if (long r = SyncGetDBRecordCount(accessor_.handle, &count)) return r;
  records_to_read_ = count;
  progress().step(1, *this);
  for (WORD index = 0; index < count; ++index) {
    auto note = createRecord(nullptr);
    std::string why;
    const long result = note->read(index, &why);
    SyncYieldCycles(1);
    if (result != 0) {
      if (!why.empty()) log_line(format_string(IDS_DAMAGED_NOTE, index, why.c_str()), slWarning);
      return result;
    }
    progress().item(1, admit(std::move(note)));
  }
  return 0;
}

long NoteDatabase::writeAll() {
  progress().step(3, *this);
  long result = 0;
  for (auto& [id, note] : notes_) {
    long r = 0;
    if (note->held_back) {
      // The guard kept this note from being deleted or overwritten: its side keeps it as it is.
    } else if ((note->attributes() & kAttrArchived) != 0) {
      r = handleArchivedRecord(*note);
    } else if (note->isNew()) {
      progress().item(7, *note);
      r = writeNewRecord(*note);
    } else if (note->isMarkedForDeletion()) {
      progress().item(8, *note);
      r = deleteRecord(*note);
    } else if (!note->isDeletedOrArchived() && note->anyChangedInMemory()) {
      progress().item(3, *note);
      r = writeChangedRecord(*note);
    }
    result = first_failure(result, r);
    SyncYieldCycles(1);
  }
  result = first_failure(result, writeCategoryBlock());
  return first_failure(result, afterWriteCleanup());
}

long NoteDatabase::writeNewRecord(NoteRecord&) { return 0; }
long NoteDatabase::handleArchivedRecord(NoteRecord&) { return 0; }
long NoteDatabase::afterWriteCleanup() { return 0; }
long NoteDatabase::deleteRecord(NoteRecord& note) {
  note.markForDeletion();
  return 0;
}
long NoteDatabase::writeCategoryBlock() { return 0; }
long NoteDatabase::writeChangedRecord(NoteRecord&) { return 0; }

std::unique_ptr<NoteRecord> NoteDatabase::createRecord(const NoteRecord* from) {
  auto note = std::make_unique<NoteRecord>();
  if (from != nullptr) note->copyFrom(*from);
  return note;
}

// --- HandheldNoteDatabase
// -------------------------------------------------------------------------

HandheldNoteDatabase::HandheldNoteDatabase(SyncProperties* properties)
    : NoteDatabase(kScribbixDatabase, properties, true, IDS_HANDHELD_DB) {}

std::string HandheldNoteDatabase::displayName() const {
  return accessor_.open ? accessor_.name : name_;
}

long HandheldNoteDatabase::close() { return NoteDatabase::close(); }

long HandheldNoteDatabase::open(const std::string& name, bool create) {
  if (long r = NoteDatabase::open(name, create)) return r;
  DWORD size = static_cast<DWORD>(accessor_.categories.size());
  const long r = SyncReadDBAppInfoBlock(accessor_.handle, accessor_.categories.data(), &size);
  std::memset(category_block_, 0, sizeof category_block_);
  if (r == SYNCERR_NOT_FOUND) {
    // No block: start from an empty one, written back at close.
    accessor_.categories_used = 0;
    category_block_changed_ = true;
    return 0;
  }
  if (r != 0) {
    // A block that cannot be read (too large for the buffer...) is never replaced.
    accessor_.categories_used = 0;
    categories_unreadable_ = true;
    return 0;
  }
  accessor_.categories_used =
      std::min<DWORD>(size, static_cast<DWORD>(accessor_.categories.size()));
  std::memcpy(category_block_, accessor_.categories.data(),
              std::min<std::size_t>(accessor_.categories_used, kCategoryBlockSize));
  if (accessor_.categories_used < kCategoryBlockSize) {
    log_line(format_string(IDS_SHORT_CATEGORIES, name.c_str(),
                           static_cast<unsigned long>(accessor_.categories_used)),
             slText);
  }
  return 0;
}

long HandheldNoteDatabase::loadInfo() {
  if (info_loaded_) return 0;
  const BYTE card = properties_ != nullptr ? properties_->m_CardNo : 0;
  std::vector<DatabaseListEntry> list(50);
  WORD start = 0;
  for (;;) {
    WORD count = static_cast<WORD>(list.size());
    const long r = SyncReadDBList(card, start, 1, list.data(), &count);
    if (r != 0) return r;
    if (count == 0) return SYNCERR_NOT_FOUND;
    for (WORD i = 0; i < count && i < list.size(); ++i) {
      const auto& entry = list[i];
      if (strnlen(entry.m_Info.m_Name, sizeof entry.m_Info.m_Name) < sizeof entry.m_Info.m_Name &&
          name_ == entry.m_Info.m_Name) {
        info_block_ = entry.m_Info;
        info_word_ = entry.m_RecordCount;
        info_loaded_ = true;
        return 0;
      }
    }
    start = static_cast<WORD>(start + count);
  }
}

void HandheldNoteDatabase::loadTimes() {
  if (times_loaded_) return;
  times_loaded_ = true;
  (void)loadInfo();
  modification_time = info_block_.m_ModDate;
  backup_time = info_block_.m_BackupDate;
  last_sync_time = 0;
  DWORD handheld_now = 0;
  if (SyncReadSysDateTime(&handheld_now) != 0) return;
  const std::int64_t difference =
      static_cast<std::int64_t>(handheld_now) - desktop_clock_as_handheld_time();
  if (difference > -180 && difference < 180) {
    UserInfoBlock user{};
    if (SyncReadUserID(&user) == 0) last_sync_time = user.m_LastSyncDate;
  }
}

bool HandheldNoteDatabase::hasChanged() {
  loadTimes();
  return NoteDatabase::hasChanged();
}

long HandheldNoteDatabase::writeRecord(NoteRecord& note) {
  if (!accessor_.open) return SYNCERR_FILE_NOT_OPEN;
  const std::size_t size = note.pack(accessor_.buffer.data(), accessor_.buffer.size());
  if (size == 0) {
    log_line(format_string(IDS_NOTE_TOO_LONG, note.title().c_str(),
                           static_cast<unsigned long>(note.packedSize())),
             slWarning);
    note.write_refused = true;
    return 0;  // the handheld keeps what it has
  }
  RecordInfoBlock& info = note.info();
  info.m_FileHandle = accessor_.handle;
  info.m_pBytes = accessor_.buffer.data();
  info.m_TotalBytes = static_cast<WORD>(accessor_.buffer.size());
  info.m_Attribs = static_cast<BYTE>(info.m_Attribs & ~(kAttrDirty | eRecAttrBusy));
  const long result = SyncWriteRec(&info);
  info.m_pBytes = nullptr;
  if (result == 0) note.clearChangedMarks();
  return result;
}

long HandheldNoteDatabase::writeNewRecord(NoteRecord& note) {
  note.needs_rewrite = false;
  return writeRecord(note);
}
long HandheldNoteDatabase::writeChangedRecord(NoteRecord& note) { return writeRecord(note); }
long HandheldNoteDatabase::handleArchivedRecord(NoteRecord&) { return 0; }

long HandheldNoteDatabase::deleteRecord(NoteRecord& note) {
  note.markForDeletion();
  return note.deleteFromHandheld();
}

long HandheldNoteDatabase::afterWriteCleanup() {
  if (!accessor_.open) return SYNCERR_FILE_NOT_OPEN;
  // A deletion the desktop could not carry out is asked for again at the next sync by the
  // handheld's deleted record: purged, it would be gone, and the desktop's note would come back.
  const bool keep_deleted = counterpart() != nullptr && counterpart()->deletionPending();
  const long purged = keep_deleted ? 0 : SyncPurgeDeletedRecs(accessor_.handle);
  return first_failure(purged, SyncResetSyncFlags(accessor_.handle));
}

std::unique_ptr<NoteRecord> HandheldNoteDatabase::createRecord(const NoteRecord* from) {
  auto note = NoteDatabase::createRecord(from);
  note->bind(&accessor_);
  return note;
}

long HandheldNoteDatabase::writeCategoryBlock() {
  if (!category_block_changed_ || categories_unreadable_) return 0;
  std::memcpy(accessor_.categories.data(), category_block_, kCategoryBlockSize);
  accessor_.categories_used = std::max<DWORD>(accessor_.categories_used, kCategoryBlockSize);
  accessor_.categories_changed = true;
  category_block_changed_ = false;
  return 0;
}

void HandheldNoteDatabase::forgetCategoryRenames() {
  if (categories_unreadable_ || (category_block_[0] == 0 && category_block_[1] == 0)) return;
  category_block_[0] = category_block_[1] = 0;
  category_block_changed_ = true;
  writeCategoryBlock();
}

// --- NoteIdAllocator
// ------------------------------------------------------------------------------

DWORD NoteIdAllocator::draw() { return next_note_id(); }

std::int32_t NoteIdAllocator::newNoteId(const NoteDatabase& database) {
  const NoteDatabase* other = database.counterpart();
  auto taken = [&](std::int32_t id) {
    return database.find(id) != nullptr || (other != nullptr && other->find(id) != nullptr);
  };
  // Values follow each other, so among this many at least one is free on both sides (the
  // provisional range holds 0x10000 values).
  const std::size_t tries =
      database.notes().size() + (other != nullptr ? other->notes().size() : 0) + 0x10001;
  for (std::size_t i = 0; i < tries; ++i) {
    const DWORD value = draw();
    if (value == 0) return 0;
    const auto id = static_cast<std::int32_t>(value);
    if (value > 0xFFFEFFFFu || taken(id)) continue;  // never one that reads as provisional
    return id;
  }
  return 0;
}

DWORD next_note_id() {
  // The access component and the notes add-in draw from the same values in other processes.
  const sx::common::NoteKeyGuard guard;
  HKEY key = nullptr;
  const char* kKey = "SOFTWARE\\Vorlan Software\\Scribbix";
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    HKEY fallback = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Scribbix", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &fallback, nullptr) == ERROR_SUCCESS) {
      RegCloseKey(fallback);
    }
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
      return 0;
    }
  }
  auto read = [&](const char* name, DWORD* value) {
    DWORD type = 0, size = sizeof(DWORD);
    return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof(DWORD);
  };
  DWORD value = 0;
  if (!read("Last", &value) && !read("Base", &value)) {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    const std::int64_t seconds =
        sx::calendar::days_from_civil(now.wYear, now.wMonth, now.wDay) * 86400 + now.wHour * 3600 +
        now.wMinute * 60 + now.wSecond;
    value = static_cast<DWORD>((seconds & 0x7FF) << 20);
    RegSetValueExA(key, "Base", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  }
  const DWORD next = value == 0xFFFFFFFFu ? 1 : value + 1;
  const LONG written =
      RegSetValueExA(key, "Last", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&next), 4);
  RegCloseKey(key);
  return written == ERROR_SUCCESS ? next : 0;
}

}  // namespace sx::conduit
