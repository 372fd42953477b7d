// SyncRecord and NoteRecord: one note as both sides hold it in memory, and its handheld byte
// layout.
//
// Handheld record (big-endian): Mod@0 (4), ID@4 (4), Created@8, Modified@12, Date@16 (4 each:
// date word, hour, minute), Resv1@20 (4), Resv2@24 (2), then three NUL-terminated texts from 26.
// Gap bytes before an aligned field are 0x55. A record never exceeds kRecordBufferSize bytes.
//
// One thread at a time (the sync run's).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "hotsync/synctypes.h"
#include "resources.h"
#include "sync_field.h"

namespace sx::conduit {

inline constexpr std::size_t kRecordBufferSize = 0x8400;
inline constexpr std::size_t kCategoryBufferSize = 0xD800;
inline constexpr std::size_t kCategoryBlockSize = 296;

inline constexpr BYTE kAttrDeleted = 0x80;
inline constexpr BYTE kAttrDirty = 0x40;
inline constexpr BYTE kAttrPrivate = 0x10;
inline constexpr BYTE kAttrArchived = 0x08;

// A note read from the handheld that cannot be unpacked (the sync manager's "damaged" code).
inline constexpr long kDamagedRecord = 0x4015;

// What the conduit knows about the open handheld database (one per HandheldNoteDatabase).
struct HandheldAccessor {
  std::string name;
  BYTE handle = 0;
  bool open = false;
  std::vector<BYTE> categories = std::vector<BYTE>(kCategoryBufferSize, 0);
  DWORD categories_used = 0;
  bool categories_changed = false;
  std::vector<BYTE> buffer = std::vector<BYTE>(kRecordBufferSize, 0);  // one record at a time
};

enum class Side { kHandheld, kDesktop };

class SyncRecord {
 public:
  SyncRecord();
  virtual ~SyncRecord() = default;
  SyncRecord(const SyncRecord&) = delete;
  SyncRecord& operator=(const SyncRecord&) = delete;

  // The fields in packing order.
  std::span<SyncField* const> fields() const { return {fields_.data(), field_count_}; }
  // Field `i` of the packing order (std::out_of_range past the last).
  SyncField& field(std::size_t i) { return *checked(i); }
  const SyncField& field(std::size_t i) const { return *checked(i); }

  IntField& category() { return category_; }
  const IntField& category() const { return category_; }
  BoolField& privateFlag() { return private_; }
  const BoolField& privateFlag() const { return private_; }
  bool hasCategory() const { return has_category_; }
  bool hasPrivate() const { return has_private_; }

  RecordInfoBlock& info() { return info_; }
  const RecordInfoBlock& info() const { return info_; }
  BYTE attributes() const { return info_.m_Attribs; }
  void setAttributes(BYTE a) { info_.m_Attribs = a; }

  HandheldAccessor* accessor() const { return accessor_; }
  void bind(HandheldAccessor* accessor) { accessor_ = accessor; }
  Side side() const { return accessor_ != nullptr ? Side::kHandheld : Side::kDesktop; }

  // Bit 0x80, or bit 0x08 while archive-counts-as-deleted is set.
  bool isDeletedOrArchived() const;
  bool anyChangedInMemory() const;
  void clearChangedMarks();

  // Packs the fields in order into `buffer` (room bytes); gap bytes 0x55. Sets the record size,
  // the category id (:= category) and attribute bit 0x10 (:= private). Returns the size, or 0 (and
  // nothing else changed) when the record does not fit.
  std::size_t pack(BYTE* buffer, std::size_t room);
  // The packed size without packing.
  std::size_t packedSize() const;
  // Unpacks the fields in order; false with a reason when the bytes end before the last field.
  bool unpack(const BYTE* data, std::size_t size, std::string* why);

  bool marked_for_deletion = false;
  bool needs_rewrite = false;
  bool archive_counts_as_deleted = true;
  bool protect_in_state_file = false;
  // Its side could not take the record (too long) and kept what it had.
  bool write_refused = false;
  // Its side holds more of its text than the record does (cut, or with characters the ANSI code
  // page lacks): a text from the other side must never be written over that one.
  bool text_incomplete = false;
  // The mass change guard: a note its side held, live, when the analysis began (counted), and one
  // whose deletion or overwrite the guard held back (its side's write leaves it as it is).
  bool live_at_start = false;
  bool held_back = false;

 protected:
  static constexpr std::size_t kMaxFields = 12;
  // Appends a field to the packing order: one the record holds as a member, or one it owns.
  void addField(SyncField& field);
  void addField(std::unique_ptr<SyncField> field);

  IntField category_;
  BoolField private_;
  bool has_category_ = true;
  bool has_private_ = true;
  RecordInfoBlock info_{};
  HandheldAccessor* accessor_ = nullptr;

 private:
  SyncField* checked(std::size_t i) const {
    if (i >= field_count_) throw std::out_of_range("no such field");
    return fields_[i];
  }

  // The fields live in the record (one allocation per note); this is their order.
  std::array<SyncField*, kMaxFields> fields_{};
  std::size_t field_count_ = 0;
  std::vector<std::unique_ptr<SyncField>> owned_;
};

class NoteRecord : public SyncRecord {
 public:
  enum FieldIndex { kMod, kId, kCreated, kModified, kDate, kResv1, kResv2, kText1, kText2, kText };
  static constexpr int kFieldCount = 10;

  NoteRecord();

  // Virtual operations, in slot order (destroy is the destructor).
  ~NoteRecord() override = default;
  virtual bool isNew() const { return info_.m_RecId == 0; }
  virtual bool isMarkedForDeletion() const { return marked_for_deletion; }
  virtual void logAdded(Side side) const;
  virtual void logDeleted(Side side) const;
  virtual bool needsRewrite() const { return needs_rewrite; }
  virtual long deleteFromHandheld();
  // Reads the record at `index` of the bound handheld database. 0, the sync manager's code, or
  // kDamagedRecord (*why says what) when the bytes cannot be unpacked.
  virtual long read(WORD index, std::string* why);
  // Resolves a field changed on both sides (the merge's part); returns the choice applied.
  virtual int resolveConflict(SyncField& handheld_field, SyncField& desktop_field, DWORD bit);
  virtual void setDeleted(bool deleted);
  virtual void markForDeletion() { marked_for_deletion = true; }
  virtual bool hasProvisionalId() const { return static_cast<DWORD>(noteId()) > 0xFFFEFFFFu; }
  virtual void resetMod() { setMod(0); }
  virtual std::int32_t noteId() const;
  virtual DWORD modValue() const;
  virtual std::string title() const;  // first 32 characters of the note text's desktop form
  virtual void setNoteId(std::int32_t id);
  virtual void setMod(DWORD mod);
  virtual void logFieldSet(const SyncField& field, Side side) const;
  virtual void logFieldConflict(const SyncField& handheld_field,
                                const SyncField& desktop_field) const;

  // Reads the record's fields after its bytes were unpacked: category and private from the info
  // block, no changed-in-memory marks, an archived record with Mod 0xFFFFFFFF counted as deleted,
  // the Mod bits applied.
  void settleAfterUnpack();

  TextField& text(int i) { return static_cast<TextField&>(field(static_cast<std::size_t>(i))); }
  const TextField& text(int i) const {
    return static_cast<const TextField&>(field(static_cast<std::size_t>(i)));
  }
  DateField& date(int i) { return static_cast<DateField&>(field(static_cast<std::size_t>(i))); }
  IntField& integer(int i) { return static_cast<IntField&>(field(static_cast<std::size_t>(i))); }

  // Turns the Mod bits into modified-here marks (bit i: field i, 31 category, 30 private), then
  // Mod := 0 (so the record is written back). Nothing when Mod is 0.
  void applyMod();
  // Copies fields, their marks, category, private, the archived bit and needs-rewrite.
  void copyFrom(const NoteRecord& other);
  // The Mod bits of what changed in memory since loading (fields 1-9, category, private): what a
  // write of this note carries to its side.
  DWORD changedBits() const;

 private:
  IntField mod_{IDS_FIELD_MOD, 4, true};
  IntField id_{IDS_FIELD_ID, 4};
  DateField created_{IDS_FIELD_CREATED};
  DateField modified_{IDS_FIELD_MODIFIED};
  DateField date_{IDS_FIELD_DATE};
  IntField resv1_{IDS_FIELD_RESV1, 4};
  IntField resv2_{IDS_FIELD_RESV2, 2};
  TextField text1_{IDS_FIELD_TEXT1};
  TextField text2_{IDS_FIELD_TEXT2};
  TextField text_{IDS_FIELD_TEXT};
};

// The next provisional note ID of the process: -2, -3, ...
std::int32_t next_provisional_id();

}  // namespace sx::conduit
