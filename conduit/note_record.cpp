#include "note_record.h"

#include <atomic>
#include <cstring>
#include <stdexcept>

#include "hotsync/hslog.h"
#include "hotsync/syncmgr.h"
#include "resources.h"
#include "settings.h"

namespace sx::conduit {
namespace {

std::atomic<std::int32_t> g_next_provisional{-2};

std::size_t align_up(std::size_t offset, int alignment) {
  const auto a = static_cast<std::size_t>(alignment);
  return a <= 1 ? offset : (offset + a - 1) / a * a;
}

}  // namespace

std::int32_t next_provisional_id() { return g_next_provisional.fetch_sub(1); }

// --- SyncRecord
// -----------------------------------------------------------------------------------

SyncRecord::SyncRecord() : category_(kCategoryNameId, 4), private_(kPrivateNameId) {
  info_.m_TotalBytes = static_cast<WORD>(kRecordBufferSize);
}

void SyncRecord::addField(SyncField& field) {
  if (field_count_ == fields_.size()) throw std::length_error("too many fields in a record");
  fields_[field_count_++] = &field;
}

void SyncRecord::addField(std::unique_ptr<SyncField> field) {
  addField(*field);
  owned_.push_back(std::move(field));
}

bool SyncRecord::isDeletedOrArchived() const {
  return (info_.m_Attribs & kAttrDeleted) != 0 ||
         (archive_counts_as_deleted && (info_.m_Attribs & kAttrArchived) != 0);
}

bool SyncRecord::anyChangedInMemory() const {
  for (const SyncField* f : fields()) {
    if (f->changed_in_memory) return true;
  }
  return (has_category_ && category_.changed_in_memory) ||
         (has_private_ && private_.changed_in_memory);
}

void SyncRecord::clearChangedMarks() {
  for (SyncField* f : fields()) f->changed_in_memory = false;
  category_.changed_in_memory = false;
  private_.changed_in_memory = false;
}

std::size_t SyncRecord::packedSize() const {
  std::size_t offset = 0;
  for (const SyncField* f : fields()) offset = align_up(offset, f->alignment()) + f->packedSize();
  return offset;
}

std::size_t SyncRecord::pack(BYTE* buffer, std::size_t room) {
  const std::size_t size = packedSize();
  if (size > room) return 0;
  std::size_t offset = 0;
  for (const SyncField* f : fields()) {
    const std::size_t aligned = align_up(offset, f->alignment());
    std::memset(buffer + offset, 0x55, aligned - offset);
    offset = aligned + f->pack(buffer + aligned, room - aligned);
  }
  info_.m_RecSize = static_cast<DWORD>(size);
  info_.m_CatId = static_cast<SHORT>(category_.value());
  info_.m_Attribs = static_cast<BYTE>(private_.get() ? (info_.m_Attribs | kAttrPrivate)
                                                     : (info_.m_Attribs & ~kAttrPrivate));
  return size;
}

bool SyncRecord::unpack(const BYTE* data, std::size_t size, std::string* why) {
  std::size_t offset = 0;
  for (std::size_t i = 0; i < field_count_; ++i) {
    offset = align_up(offset, fields_[i]->alignment());
    const std::size_t used = offset <= size ? fields_[i]->unpack(data + offset, size - offset) : 0;
    if (used == 0) {
      if (why != nullptr) {
        *why = "field " + std::to_string(i) + " ends after the record's " + std::to_string(size) +
               " bytes";
      }
      return false;
    }
    offset += used;
  }
  return true;
}

// --- NoteRecord
// -----------------------------------------------------------------------------------

NoteRecord::NoteRecord() {
  for (SyncField* f : {static_cast<SyncField*>(&mod_), static_cast<SyncField*>(&id_),
                       static_cast<SyncField*>(&created_), static_cast<SyncField*>(&modified_),
                       static_cast<SyncField*>(&date_), static_cast<SyncField*>(&resv1_),
                       static_cast<SyncField*>(&resv2_), static_cast<SyncField*>(&text1_),
                       static_cast<SyncField*>(&text2_), static_cast<SyncField*>(&text_)}) {
    addField(*f);
  }
  created_.exclude = true;
  modified_.exclude = true;
}

std::int32_t NoteRecord::noteId() const { return id_.value(); }
DWORD NoteRecord::modValue() const { return static_cast<DWORD>(mod_.value()); }
void NoteRecord::setNoteId(std::int32_t id) { id_.set(id); }
void NoteRecord::setMod(DWORD mod) { mod_.set(static_cast<std::int32_t>(mod)); }

std::string NoteRecord::title() const { return text_.desktop().substr(0, 32); }

void NoteRecord::setDeleted(bool deleted) {
  info_.m_Attribs = static_cast<BYTE>(deleted ? (info_.m_Attribs | kAttrDeleted)
                                              : (info_.m_Attribs & ~kAttrDeleted));
}

void NoteRecord::applyMod() {
  const DWORD mod = modValue();
  if (mod == 0) return;
  for (int i = 0; i < kFieldCount; ++i) {
    if ((mod & (1u << i)) != 0) field(static_cast<std::size_t>(i)).modified_here = true;
  }
  if ((mod & 0x80000000u) != 0) category_.modified_here = true;
  if ((mod & 0x40000000u) != 0) private_.modified_here = true;
  setMod(0);
}

long NoteRecord::read(WORD index, std::string* why) {
  if (accessor_ == nullptr) return SYNCERR_FILE_NOT_OPEN;
  info_.m_FileHandle = accessor_->handle;
  info_.m_RecIndex = index;
  info_.m_pBytes = accessor_->buffer.data();
  info_.m_TotalBytes = static_cast<WORD>(accessor_->buffer.size());
  const long result = SyncReadRecordByIndex(&info_);
  info_.m_pBytes = nullptr;  // the buffer is shared by every record of the database
  if (result != 0) {
    if (why != nullptr && result == SYNCERR_BUFFER_TOO_SMALL) {
      *why = "larger than " + std::to_string(kRecordBufferSize) + " bytes";
    }
    return result;
  }
  if ((info_.m_Attribs & kAttrDeleted) == 0) {
    const std::size_t size = std::min<std::size_t>(info_.m_RecSize, accessor_->buffer.size());
    if (!unpack(accessor_->buffer.data(), size, why)) return kDamagedRecord;
    settleAfterUnpack();
  }
  if (noteId() == 0) {
    setNoteId(next_provisional_id());
    needs_rewrite = true;
  }
  return 0;
}

void NoteRecord::settleAfterUnpack() {
  category_.set(info_.m_CatId);
  private_.setBool((info_.m_Attribs & kAttrPrivate) != 0);
  clearChangedMarks();
  if ((info_.m_Attribs & kAttrArchived) != 0 && modValue() == 0xFFFFFFFFu) {
    info_.m_Attribs = static_cast<BYTE>((info_.m_Attribs & ~kAttrArchived) | kAttrDeleted);
  }
  // The handheld's file keeps no category for an archived record (the sync manager reports 0): it
  // takes no part in the comparison, so that archiving a note does not take its category away on
  // the desktop.
  category_.exclude = (info_.m_Attribs & kAttrArchived) != 0;
  applyMod();
}

long NoteRecord::deleteFromHandheld() {
  if (accessor_ == nullptr) return SYNCERR_FILE_NOT_OPEN;
  marked_for_deletion = true;
  return SyncDeleteRec(accessor_->handle, info_.m_RecId);
}

void NoteRecord::copyFrom(const NoteRecord& other) {
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    SyncField& mine = field(i);
    const SyncField& theirs = other.field(i);
    mine.assign(theirs);
    mine.modified_here = theirs.modified_here;
    mine.changed_in_memory = theirs.changed_in_memory;
  }
  category_.set(other.category_.value());
  category_.modified_here = other.category_.modified_here;
  category_.changed_in_memory = other.category_.changed_in_memory;
  private_.set(other.private_.value());
  private_.modified_here = other.private_.modified_here;
  private_.changed_in_memory = other.private_.changed_in_memory;
  info_.m_Attribs = static_cast<BYTE>((info_.m_Attribs & ~kAttrArchived) |
                                      (other.info_.m_Attribs & kAttrArchived));
  needs_rewrite = other.needs_rewrite;
}

DWORD NoteRecord::changedBits() const {
  DWORD bits = 0;
  for (int i = kId; i < kFieldCount; ++i) {
    if (field(static_cast<std::size_t>(i)).changed_in_memory) bits |= 1u << i;
  }
  if (has_category_ && category_.changed_in_memory) bits |= 0x80000000u;
  if (has_private_ && private_.changed_in_memory) bits |= 0x40000000u;
  return bits;
}

void NoteRecord::logAdded(Side side) const {
  if (!settings().LogChanges) return;
  log_line(format_string(side == Side::kHandheld ? IDS_ADDED_HANDHELD : IDS_ADDED_DESKTOP,
                         title().c_str()),
           slText);
}

void NoteRecord::logDeleted(Side side) const {
  if (!settings().LogChanges) return;
  log_line(format_string(side == Side::kHandheld ? IDS_DELETED_HANDHELD : IDS_DELETED_DESKTOP,
                         title().c_str()),
           slText);
}

void NoteRecord::logFieldSet(const SyncField& f, Side side) const {
  if (!settings().LogChanges || (f.exclude && !settings().DiagnosticMode)) return;
  log_line(format_string(side == Side::kHandheld ? IDS_SET_HANDHELD : IDS_SET_DESKTOP,
                         f.displayName().c_str(), title().c_str(), f.logText().c_str()),
           slText);
}

void NoteRecord::logFieldConflict(const SyncField& hf, const SyncField& df) const {
  if (!settings().LogConflicts || (hf.exclude && !settings().DiagnosticMode)) return;
  log_line(format_string(IDS_CONFLICT, hf.displayName().c_str(), title().c_str(),
                         df.logText().c_str(), hf.logText().c_str()),
           slText);
}

}  // namespace sx::conduit
