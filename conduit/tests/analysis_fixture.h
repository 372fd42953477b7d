// Shared helpers of the merge tests: a handheld and a desktop note database in memory, notes built
// with their change marks, and the HotSync log of the test's session read back line by line.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hotsync_fixture.h"
#include "note_database.h"
#include "resources.h"
#include "settings.h"
#include "state_file.h"
#include "sx/window.h"

namespace sx::conduit::testing {

// The desktop side in memory: a note created from another side's note takes a new ID when that
// note's ID is provisional or 0 (as the Outlook side does), drawn from the shared allocator, whose
// sequence here counts from `next_id` (setIdAllocator(nullptr) puts the registry's back). A
// sequence at 0 cannot be drawn: the note is not made.
class MemoryDesktop : public NoteDatabase {
 public:
  explicit MemoryDesktop(SyncProperties* p = nullptr)
      : NoteDatabase("desktop", p, false, IDS_DESKTOP_DB) {
    setIdAllocator(&sequence_);
  }
  std::unique_ptr<NoteRecord> createRecord(const NoteRecord* from) override {
    auto note = NoteDatabase::createRecord(from);
    note->protect_in_state_file = true;
    if (from != nullptr && (from->needsRewrite() || from->noteId() == 0)) {
      const std::int32_t id = newNoteId();
      if (id == 0) return nullptr;
      note->setNoteId(id);
      note->needs_rewrite = false;
    }
    ++created;
    return note;
  }
  long handleArchivedRecord(NoteRecord& note) override {
    archived_written.push_back(note.noteId());
    return 0;
  }
  std::int32_t next_id = 5000;
  int created = 0;
  std::vector<std::int32_t> archived_written;

 private:
  struct Counting : NoteIdAllocator {
    explicit Counting(MemoryDesktop& db) : db(db) {}
    DWORD draw() override { return db.next_id == 0 ? 0 : static_cast<DWORD>(db.next_id++); }
    MemoryDesktop& db;
  };
  Counting sequence_{*this};
};

class MemoryHandheld : public NoteDatabase {
 public:
  MemoryHandheld() : NoteDatabase(kScribbixDatabase, nullptr, true, IDS_HANDHELD_DB) {}
};

// A note as loaded: no changed-in-memory marks; `marked` are the Mod bits its side reported.
inline std::unique_ptr<NoteRecord> make_note(std::int32_t id, const std::string& text,
                                             DWORD marked = 0, int category = 0) {
  auto note = std::make_unique<NoteRecord>();
  note->setNoteId(id);
  note->text(NoteRecord::kText).setDesktop(text);
  note->category().set(category);
  note->clearChangedMarks();
  note->setMod(marked);
  note->applyMod();
  note->clearChangedMarks();
  return note;
}

// A new handheld note without an ID yet (a provisional one, to be renumbered).
inline std::unique_ptr<NoteRecord> provisional_note(std::int32_t id, const std::string& text) {
  auto note = make_note(id, text);
  note->needs_rewrite = true;
  return note;
}

inline NoteRecord& add(NoteDatabase& db, std::unique_ptr<NoteRecord> note) {
  NoteRecord& kept = *note;
  EXPECT_TRUE(db.insert(std::move(note)));
  return kept;
}

// A note that knows the handheld record id of its note (a desktop note from the state file, a
// handheld note as read).
inline std::unique_ptr<NoteRecord> with_record(std::unique_ptr<NoteRecord> note, DWORD record_id) {
  note->info().m_RecId = record_id;
  return note;
}

// A handheld record deleted for good, as reading builds it: the sync manager gives its record id
// and attributes without data, so the note has no fields and takes a provisional ID.
inline std::unique_ptr<NoteRecord> deleted_handheld_note(DWORD record_id) {
  auto note = std::make_unique<NoteRecord>();
  note->info().m_RecId = record_id;
  note->setAttributes(kAttrDeleted);
  note->setNoteId(next_provisional_id());
  note->needs_rewrite = true;
  return note;
}

// A handheld record with the archived bit whose Mod is 0xFFFFFFFF, as reading builds it: it loads
// as deleted (with its data, so with its ID), every field marked.
inline std::unique_ptr<NoteRecord> archived_all_modified_handheld_note(std::int32_t id,
                                                                       const std::string& text,
                                                                       DWORD record_id) {
  auto note = make_note(id, text);
  note->info().m_RecId = record_id;
  note->setAttributes(kAttrArchived);
  note->setMod(0xFFFFFFFFu);
  note->settleAfterUnpack();
  return note;
}

class AnalysisTest : public hotsync_test::HotSyncTest {
 protected:
  void SetUp() override {
    HotSyncTest::SetUp();
    begin();
    sx::window::set_host(sx::window::Host::kScripted);
    sx::window::clear_script();
    settings() = ConduitSettings{};
    settings().LogChanges = 1;
  }
  void TearDown() override {
    settings() = ConduitSettings{};
    sx::window::clear_script();
    HotSyncTest::TearDown();
  }
  // The log lines written since the last call.
  std::vector<std::string> log() {
    auto lines = sx::hotsync::end_session(false);
    begin();
    return lines;
  }

  MemoryHandheld handheld_;
  MemoryDesktop desktop_;
};

}  // namespace sx::conduit::testing
