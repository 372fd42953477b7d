#include "note_record.h"

#include <atomic>
#include <cstring>

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

bool SyncRecord::isDeletedOrArchived() const {
  return (info_.m_Attribs & kAttrDeleted) != 0 ||
         (archive_counts_as_deleted && (info_.m_Attribs & kAttrArchived) != 0);
}

bool SyncRecord::anyChangedInMemory() const {
  for (const auto& f : fields_) {
    if (f->changed_in_memory) return true;
  }
  return (has_category_ && category_.changed_in_memory) ||
         (has_private_ && private_.changed_in_memory);
}

void SyncRecord::clearChangedMarks() {
  for (auto& f : fields_) f->changed_in_memory = false;
  category_.changed_in_memory = false;
  private_.changed_in_memory = false;
}

std::size_t SyncRecord::packedSize() const {
  std::size_t offset = 0;
  for (const auto& f : fields_) offset = align_up(offset, f->alignment()) + f->packedSize();
  return offset;
}

std::size_t SyncRecord::pack(BYTE* buffer, std::size_t room) {
  const std::size_t size = packedSize();
  if (size > room) return 0;
  std::size_t offset = 0;
  for (const auto& f : fields_) {
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
  for (std::size_t i = 0; i < fields_.size(); ++i) {
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
  fields_.push_back(std::make_unique<IntField>(IDS_FIELD_MOD, 4, true));
  fields_.push_back(std::make_unique<IntField>(IDS_FIELD_ID, 4));
  fields_.push_back(std::make_unique<DateField>(IDS_FIELD_CREATED));
  fields_.push_back(std::make_unique<DateField>(IDS_FIELD_MODIFIED));
  fields_.push_back(std::make_unique<DateField>(IDS_FIELD_DATE));
  fields_.push_back(std::make_unique<IntField>(IDS_FIELD_RESV1, 4));
  fields_.push_back(std::make_unique<IntField>(IDS_FIELD_RESV2, 2));
  fields_.push_back(std::make_unique<TextField>(IDS_FIELD_TEXT1));
  fields_.push_back(std::make_unique<TextField>(IDS_FIELD_TEXT2));
  fields_.push_back(std::make_unique<TextField>(IDS_FIELD_TEXT));
  fields_[kCreated]->exclude = true;
  fields_[kModified]->exclude = true;
}

std::int32_t NoteRecord::noteId() const { return static_cast<const IntField&>(field(kId)).value(); }
DWORD NoteRecord::modValue() const {
  return static_cast<DWORD>(static_cast<const IntField&>(field(kMod)).value());
}
void NoteRecord::setNoteId(std::int32_t id) { integer(kId).set(id); }
void NoteRecord::setMod(DWORD mod) { integer(kMod).set(static_cast<std::int32_t>(mod)); }

std::string NoteRecord::title() const { return text(kText).desktop().substr(0, 32); }

void NoteRecord::setDeleted(bool deleted) {
  info_.m_Attribs = static_cast<BYTE>(deleted ? (info_.m_Attribs | kAttrDeleted)
                                              : (info_.m_Attribs & ~kAttrDeleted));
}

void NoteRecord::applyMod() {
  const DWORD mod = modValue();
  if (mod == 0) return;
  for (int i = 0; i < kFieldCount; ++i) {
    if ((mod & (1u << i)) != 0) fields_[static_cast<std::size_t>(i)]->modified_here = true;
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
    category_.set(info_.m_CatId);
    private_.setBool((info_.m_Attribs & kAttrPrivate) != 0);
    clearChangedMarks();
    if ((info_.m_Attribs & kAttrArchived) != 0 && modValue() == 0xFFFFFFFFu) {
      info_.m_Attribs = static_cast<BYTE>((info_.m_Attribs & ~kAttrArchived) | kAttrDeleted);
    }
    applyMod();
  }
  if (noteId() == 0) {
    setNoteId(next_provisional_id());
    needs_rewrite = true;
  }
  return 0;
}

long NoteRecord::deleteFromHandheld() {
  if (accessor_ == nullptr) return SYNCERR_FILE_NOT_OPEN;
  marked_for_deletion = true;
  return SyncDeleteRec(accessor_->handle, info_.m_RecId);
}

void NoteRecord::copyFrom(const NoteRecord& other) {
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    fields_[i]->assign(*other.fields_[i]);
    fields_[i]->modified_here = other.fields_[i]->modified_here;
    fields_[i]->changed_in_memory = other.fields_[i]->changed_in_memory;
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
