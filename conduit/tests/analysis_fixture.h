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
// note's ID is provisional or 0 (as the Outlook side does), the first unused from `next_id` on.
class MemoryDesktop : public NoteDatabase {
 public:
  explicit MemoryDesktop(SyncProperties* p = nullptr)
      : NoteDatabase("desktop", p, false, IDS_DESKTOP_DB) {}
  std::unique_ptr<NoteRecord> createRecord(const NoteRecord* from) override {
    auto note = NoteDatabase::createRecord(from);
    note->protect_in_state_file = true;
    if (from != nullptr && (from->needsRewrite() || from->noteId() == 0)) {
      while (find(next_id) != nullptr) ++next_id;
      note->setNoteId(next_id++);
      note->needs_rewrite = false;
    }
    ++created;
    return note;
  }
  std::int32_t next_id = 5000;
  int created = 0;
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

// A handheld record deleted for good: the sync manager reports it without data.
inline std::unique_ptr<NoteRecord> deleted_handheld_note(std::int32_t id) {
  auto note = std::make_unique<NoteRecord>();
  note->setNoteId(id);
  note->setDeleted(true);
  note->clearChangedMarks();
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
