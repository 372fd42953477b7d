// The merge over random edit scripts (fixed seed): both sides start equal, each side edits
// (change, delete, add), then the analysis runs. Checks: a two-way sync without conflicts leaves
// both sides holding the same notes, and a second sync changes nothing; a mirror makes the target
// equal to its source; no note that was not deleted is lost.
#include <random>
#include <set>

#include "analysis_fixture.h"

namespace sx::conduit::testing {
namespace {

constexpr DWORD kTextBit = 1u << NoteRecord::kText;
constexpr DWORD kCategoryBit = 0x80000000u;

struct Value {
  std::string text;
  int category = 0;
  bool operator==(const Value&) const = default;
};
using Notes = std::map<std::int32_t, Value>;

// The notes a side keeps after its writes: live and not marked for deletion.
Notes live(const NoteDatabase& db) {
  Notes out;
  for (const auto& [id, note] : db.notes()) {
    if (note->isMarkedForDeletion() || note->isDeletedOrArchived()) continue;
    EXPECT_EQ(id, note->noteId());
    out[id] = {note->text(NoteRecord::kText).desktop(), note->category().value()};
  }
  return out;
}

// The handheld record id of a note in these scripts (the desktop's state file remembers it).
DWORD record_of(std::int32_t id) { return 0x1000u + static_cast<DWORD>(id); }

// Loads `notes` into a side with no change marks (what the next run reads).
void load(NoteDatabase& db, const Notes& notes) {
  for (const auto& [id, v] : notes) {
    add(db, with_record(make_note(id, v.text, 0, v.category), record_of(id)));
  }
}

class AnalysisPropertyTest : public AnalysisTest {
 protected:
  void SetUp() override {
    AnalysisTest::SetUp();
    settings().LogChanges = 0;
    settings().LogConflicts = 0;
  }
  std::mt19937 random_{20261207};
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  std::string word() { return "w" + std::to_string(pick(1000)); }
};

TEST_F(AnalysisPropertyTest, TwoWaySyncWithoutConflictsLeavesBothSidesEqualAndIsStable) {
  for (int script = 0; script < 300; ++script) {
    SCOPED_TRACE("script " + std::to_string(script));
    MemoryHandheld h;
    MemoryDesktop d;
    Notes base;
    const int n = pick(10);
    for (int i = 0; i < n; ++i) base[10 + i * 3] = {word(), pick(16)};
    load(h, base);
    load(d, base);
    Notes expected = base;
    std::set<std::int32_t> touched;  // one side edits a note: no conflicts
    std::vector<std::string> added;
    std::size_t provisional = 0;  // new handheld notes, numbered as reading numbers them
    const int edits = pick(12);
    for (int e = 0; e < edits && !base.empty(); ++e) {
      auto it = base.begin();
      std::advance(it, pick(static_cast<int>(base.size())));
      const std::int32_t id = it->first;
      if (touched.count(id) != 0) continue;
      touched.insert(id);
      const bool on_handheld = pick(2) == 0;
      NoteDatabase& side = on_handheld ? static_cast<NoteDatabase&>(h) : d;
      NoteRecord& note = *side.find(id);
      switch (pick(3)) {
        case 0: {  // change the text
          const std::string text = word() + " edited";
          note.text(NoteRecord::kText).setDesktop(text);
          note.text(NoteRecord::kText).modified_here = true;
          note.clearChangedMarks();
          expected[id].text = text;
          break;
        }
        case 1: {  // change the category
          const int category = (expected[id].category + 1) % 16;
          note.category().set(category);
          note.category().modified_here = true;
          note.clearChangedMarks();
          expected[id].category = category;
          break;
        }
        default:  // delete
          if (on_handheld) {
            side.notes().erase(id);
            add(side, deleted_handheld_note(record_of(id)));
          } else {
            note.setDeleted(true);
          }
          expected.erase(id);
      }
    }
    for (int a = pick(4); a > 0; --a) {  // new notes on either side
      const std::string text = "added " + std::to_string(a) + " " + word();
      added.push_back(text);
      if (pick(2) == 0) {
        add(h, provisional_note(next_provisional_id(), text));
        ++provisional;
      } else {
        add(d, make_note(3000 + a, text, 0x3FFu));
        expected[3000 + a] = {text, 0};
      }
    }

    h.synchronizeWith(d);
    const Notes after_h = live(h);
    const Notes after_d = live(d);
    ASSERT_EQ(after_h, after_d);
    // Nothing lost: every note not deleted is there with its latest value, every added note too.
    for (const auto& [id, v] : expected) {
      auto found = after_h.find(id);
      ASSERT_NE(found, after_h.end()) << id;
      EXPECT_EQ(found->second, v);
    }
    for (const auto& text : added) {
      int count = 0;
      for (const auto& [id, v] : after_h) count += v.text == text ? 1 : 0;
      EXPECT_EQ(count, 1) << text;
    }
    EXPECT_EQ(after_h.size(), expected.size() + provisional);
    EXPECT_TRUE(sx::window::shown().empty());

    // A second sync of what both sides now hold changes nothing.
    MemoryHandheld h2;
    MemoryDesktop d2;
    load(h2, after_h);
    load(d2, after_d);
    h2.synchronizeWith(d2);
    EXPECT_EQ(d2.created, 0);
    for (const NoteDatabase* db :
         {static_cast<const NoteDatabase*>(&h2), static_cast<const NoteDatabase*>(&d2)}) {
      EXPECT_EQ(db->notes().size(), after_h.size());
      for (const auto& [id, note] : db->notes()) {
        EXPECT_FALSE(note->anyChangedInMemory()) << id;
        EXPECT_FALSE(note->isMarkedForDeletion()) << id;
      }
    }
  }
}

TEST_F(AnalysisPropertyTest, EachMirrorMakesItsTargetEqualToItsSource) {
  for (int script = 0; script < 300; ++script) {
    SCOPED_TRACE("script " + std::to_string(script));
    MemoryHandheld h;
    MemoryDesktop d;
    // Independent sides sharing some IDs, with deleted records on both.
    for (int id = 1; id <= 12; ++id) {
      switch (pick(6)) {
        case 0:
          add(h, make_note(id, word(), kTextBit, pick(16)));
          break;
        case 1:
          add(d, make_note(id, word(), kCategoryBit, pick(16)));
          break;
        case 2:
          add(h, make_note(id, word(), kTextBit, pick(16)));
          add(d, make_note(id, word(), 0, pick(16)));
          break;
        case 3:
          add(h, deleted_handheld_note(record_of(id)));
          add(d, with_record(make_note(id, word()), record_of(id)));
          break;
        case 4: {
          add(h, make_note(id, word()));
          add(d, make_note(id, word())).setDeleted(true);
          break;
        }
        default:
          break;
      }
    }
    if (pick(2) == 0) add(h, provisional_note(next_provisional_id(), "provisional " + word()));
    const bool onto_desktop = pick(2) == 0;
    NoteDatabase& target = onto_desktop ? static_cast<NoteDatabase&>(d) : h;
    NoteDatabase& source = onto_desktop ? static_cast<NoteDatabase&>(h) : d;
    const Notes source_before = live(source);
    target.mirrorFrom(source);
    const Notes source_after = live(source);
    EXPECT_EQ(live(target), source_after);
    // The source loses nothing (a provisional note may only be renumbered).
    EXPECT_EQ(source_after.size(), source_before.size());
    for (const auto& [id, note] : source.notes()) EXPECT_FALSE(note->isMarkedForDeletion());
  }
}

}  // namespace
}  // namespace sx::conduit::testing
