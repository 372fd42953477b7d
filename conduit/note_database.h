// NoteDatabase: the notes of one side in memory, by signed note ID in ascending order, with the
// side's open, read, write and close. HandheldNoteDatabase reaches "ScribbixDB" through the sync
// manager. NoteIdAllocator draws new note IDs for the desktop side from "Last"/"Base".
//
// One thread at a time (the sync run's). Errors are the sync manager's codes, returned unchanged.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "hotsync/synctypes.h"
#include "note_record.h"

namespace sx::conduit {

inline constexpr DWORD kDataType = 0x44415441;         // 'DATA'
inline constexpr DWORD kScribbixCreator = 0x56535871;  // 'VSXq'
inline constexpr const char* kScribbixDatabase = "ScribbixDB";
inline constexpr WORD kScribbixVersion = 2;

class NoteDatabase {
 public:
  using NoteMap = std::map<std::int32_t, std::unique_ptr<NoteRecord>>;

  NoteDatabase(std::string name, SyncProperties* properties, bool handheld, UINT description_id);
  NoteDatabase(const NoteDatabase&) = delete;
  NoteDatabase& operator=(const NoteDatabase&) = delete;

  // Virtual operations, in slot order (destroy is the destructor).
  virtual ~NoteDatabase();
  virtual int recordCount() const { return static_cast<int>(notes_.size()); }
  virtual bool isOpen() const { return accessor_.open; }
  // Changed since the last sync: last-sync < modification, or (handheld) backup < modification.
  virtual bool hasChanged();
  virtual std::string displayName() const { return name_; }
  virtual void close();
  // Opens the database by name; creates it (creator from SyncProperties, 'DATA', this version)
  // when it is missing and `create` is set.
  virtual long open(const std::string& name, bool create);
  // Reads every record through the sync manager in index order. Stops at the first record that
  // cannot be read or unpacked (logged with its index; not inserted): 0 or the failing code.
  virtual long readAll();
  virtual long synchronizeWith(NoteDatabase& other);
  virtual long writeAll();
  virtual long writeNewRecord(NoteRecord& note);
  virtual long addMissingFrom(NoteDatabase& other, std::map<std::int32_t, std::int32_t>& remap);
  virtual long handleArchivedRecord(NoteRecord& note);
  virtual long afterWriteCleanup();
  virtual long deleteRecord(NoteRecord& note);
  virtual std::unique_ptr<NoteRecord> createRecord(const NoteRecord* from);
  virtual long writeCategoryBlock();
  virtual WORD databaseVersion() const { return 1; }
  virtual long writeChangedRecord(NoteRecord& note);

  // The desktop side's category names: set from the handheld's 296-byte block, and carried into
  // the handheld database after the analysis. The base does nothing.
  virtual void setCategoriesFrom(const BYTE* /*block*/) {}
  virtual long transferCategoriesTo(NoteDatabase& /*target*/) { return 0; }

  // Made equal to `source` (handheld overwrites desktop / the reverse).
  long mirrorFrom(NoteDatabase& source);

  bool isHandheld() const { return handheld_; }
  UINT descriptionId() const { return description_id_; }
  const std::string& name() const { return name_; }
  NoteMap& notes() { return notes_; }
  const NoteMap& notes() const { return notes_; }
  std::map<std::int32_t, std::int32_t>& remap() { return remap_; }
  // Inserts a note under its ID; false (note dropped) when the ID is taken.
  bool insert(std::unique_ptr<NoteRecord> note);
  NoteRecord* find(std::int32_t id);

  const DatabaseInfoBlock& infoBlock() const { return info_block_; }
  HandheldAccessor& accessor() { return accessor_; }

  DWORD modification_time = 0;
  DWORD last_sync_time = 0;
  DWORD backup_time = 0;

 protected:
  std::string name_;
  SyncProperties* properties_;
  bool handheld_;
  UINT description_id_;
  HandheldAccessor accessor_;
  NoteMap notes_;
  std::map<std::int32_t, std::int32_t> remap_;
  DatabaseInfoBlock info_block_{};
  WORD info_word_ = 0;
  bool times_loaded_ = false;
};

class HandheldNoteDatabase : public NoteDatabase {
 public:
  explicit HandheldNoteDatabase(SyncProperties* properties);

  bool hasChanged() override;
  std::string displayName() const override;
  void close() override;
  long open(const std::string& name, bool create) override;
  long writeNewRecord(NoteRecord& note) override;
  long handleArchivedRecord(NoteRecord& note) override;
  long afterWriteCleanup() override;
  long deleteRecord(NoteRecord& note) override;
  std::unique_ptr<NoteRecord> createRecord(const NoteRecord* from) override;
  long writeCategoryBlock() override;
  WORD databaseVersion() const override { return kScribbixVersion; }
  long writeChangedRecord(NoteRecord& note) override;

  // The 296-byte copy of the category block (a 16-bit word, 16 names of 16 bytes, the rest).
  BYTE* categoryBlock() { return category_block_; }
  void setCategoryBlockChanged() { category_block_changed_ = true; }
  bool categoryBlockChanged() const { return category_block_changed_; }

  // Looks up this database in the handheld's list (DatabaseInfoBlock: creator, version, times).
  long loadInfo();

 private:
  long writeRecord(NoteRecord& note);
  void loadTimes();

  BYTE category_block_[kCategoryBlockSize] = {};
  bool category_block_changed_ = false;
  bool categories_unreadable_ = false;  // the handheld's block is kept as it is
  bool info_loaded_ = false;
};

// Draws the next note ID from "Last" (else "Base", else a new base from the clock) under
// HKEY_LOCAL_MACHINE\SOFTWARE\Vorlan Software\Scribbix, stores it as "Last" and returns it.
// 0xFFFFFFFF is followed by 1. Returns 0 when the registry cannot be written.
DWORD next_note_id();

}  // namespace sx::conduit
