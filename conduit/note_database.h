// NoteDatabase: the notes of one side in memory, by signed note ID in ascending order, with the
// side's open, read, write and close. HandheldNoteDatabase reaches "ScribbixDB" through the sync
// manager. NoteIdAllocator draws new note IDs from "Last"/"Base", free on both sides.
//
// One thread at a time (the sync run's). Errors are the sync manager's codes, returned unchanged.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <memory_resource>
#include <string>

#include "hotsync/synctypes.h"
#include "note_record.h"

namespace sx::conduit {

inline constexpr DWORD kDataType = 0x44415441;         // 'DATA'
inline constexpr DWORD kScribbixCreator = 0x56535871;  // 'VSXq'
inline constexpr const char* kScribbixDatabase = "ScribbixDB";
inline constexpr WORD kScribbixVersion = 2;
// A note could not be made on a side (no new note ID could be drawn): the merge stops.
inline constexpr long kNoteNotCreated = 4101;

class NoteDatabase;

// New note IDs: values of the key sequence that the access component and the notes add-in share
// ("Last", else "Base", else a base from the clock, under HKEY_LOCAL_MACHINE\SOFTWARE\Vorlan
// Software\Scribbix), drawn until one is free on both sides of the synchronisation. An ID that a
// note of either side holds (one only on the handheld, synchronised with another PC, for example)
// is never given to a new note.
class NoteIdAllocator {
 public:
  virtual ~NoteIdAllocator() = default;
  // The next value of the sequence, stored as "Last" (0xFFFFFFFF is followed by 1); 0 when the
  // registry cannot be written.
  virtual DWORD draw();
  // Draws until the value is used by no note of `database` nor of its counterpart, and is not a
  // value a provisional ID takes. 0 when the sequence cannot be drawn.
  std::int32_t newNoteId(const NoteDatabase& database);
};

class NoteDatabase {
 public:
  // Map nodes come from the database's own pool, so that walking the map in order walks memory
  // in order (the maps of 100,000 notes do not fit in a cache).
  using NoteMap = std::pmr::map<std::int32_t, std::unique_ptr<NoteRecord>>;

  NoteDatabase(std::string name, SyncProperties* properties, bool handheld, UINT description_id);
  NoteDatabase(const NoteDatabase&) = delete;
  NoteDatabase& operator=(const NoteDatabase&) = delete;

  // Virtual operations, in slot order (destroy is the destructor).
  virtual ~NoteDatabase();
  // The notes held, or while the side is being read the records it has (the progress range).
  virtual int recordCount() const {
    return std::max(static_cast<int>(notes_.size()), records_to_read_);
  }
  virtual bool isOpen() const { return accessor_.open; }
  // Changed since the last sync: last-sync < modification, or (handheld) backup < modification.
  virtual bool hasChanged();
  virtual std::string displayName() const { return name_; }
  // Destroys the notes, empties the maps and closes the side: for the handheld the category block
  // is written back when it changed and the database closed (where the sync manager commits what
  // was written). 0, or the first failure. Safe to call again; the sync run calls it on every
  // path, so a side with more to close (log off Outlook, end a worker thread) does it here, not
  // in its destructor.
  virtual long close();
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
  // Keeps what this side holds for the next sync (the desktop's state file). The sync run calls it
  // last, only when both sides were written and the handheld closed without a failure, so the
  // state never claims a write that did not happen. The base does nothing.
  virtual long saveState() { return 0; }
  // This side failed to delete a note the other side deleted, or the mass change guard held its
  // deletions back: the other side keeps its record of the deletion for the next sync.
  virtual bool deletionPending() const { return deletions_held_back_; }
  // The mass change guard held back this side's deletions and overwrites (deletionPending).
  void holdDeletionsBack() { deletions_held_back_ = true; }

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
  // Inserts a note read from this side. One whose ID another note already holds is kept too: it
  // gets a provisional ID and needs-rewrite, as a new note does, so that it is given a fresh ID
  // and written back with it (logged). Returns the note, which stays owned by the map.
  NoteRecord& admit(std::unique_ptr<NoteRecord> note);
  NoteRecord* find(std::int32_t id);
  const NoteRecord* find(std::int32_t id) const;

  // The database this one is synchronised with (set by synchronizeWith and mirrorFrom, on both);
  // null before. A new note ID must be free in both.
  void pairWith(NoteDatabase& other);
  const NoteDatabase* counterpart() const { return counterpart_; }
  // Where new note IDs of this side come from (null: the registry's sequence).
  void setIdAllocator(NoteIdAllocator* allocator) { allocator_ = allocator; }
  // A new note ID free on both sides; 0 when none can be drawn.
  std::int32_t newNoteId();

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
  std::pmr::unsynchronized_pool_resource node_pool_;
  NoteMap notes_{&node_pool_};
  std::map<std::int32_t, std::int32_t> remap_;
  DatabaseInfoBlock info_block_{};
  WORD info_word_ = 0;
  bool times_loaded_ = false;
  int records_to_read_ = 0;

 private:
  NoteDatabase* counterpart_ = nullptr;
  NoteIdAllocator* allocator_ = nullptr;
  bool deletions_held_back_ = false;
};

class HandheldNoteDatabase : public NoteDatabase {
 public:
  explicit HandheldNoteDatabase(SyncProperties* properties);

  bool hasChanged() override;
  std::string displayName() const override;
  long close() override;
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
  // Clears the block's renamed marks (the handheld's categories renamed since the last HotSync)
  // once the renames have reached the desktop; the block is written back at close.
  void forgetCategoryRenames();

  // Looks up this database in the handheld's list (DatabaseInfoBlock: creator, version, times):
  // 0, or the sync manager's code (0x4003 when the list does not name it). Done once.
  long loadInfo();

 private:
  long writeRecord(NoteRecord& note);
  void loadTimes();

  BYTE category_block_[kCategoryBlockSize] = {};
  bool category_block_changed_ = false;
  bool categories_unreadable_ = false;  // the handheld's block is kept as it is
  bool info_loaded_ = false;
};

// Draws the next value of the note key sequence from "Last" (else "Base", else a new base from the
// clock) under HKEY_LOCAL_MACHINE\SOFTWARE\Vorlan Software\Scribbix, stores it as "Last" and
// returns it. 0xFFFFFFFF is followed by 1. Returns 0 when the registry cannot be written. The draw
// holds the key counter's machine-wide guard (sx::common::NoteKeyGuard), so the access component
// and the notes add-in, drawing from the same values in other processes, never get the same key.
DWORD next_note_id();

}  // namespace sx::conduit
