// Properties of the two-way merge over any IDs the sides may hold: notes without IDs, several notes
// under one ID on either side, and a key sequence whose next values are already taken. No note is
// lost, none is doubled, and both sides end with the same notes under unique, real IDs.
#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include <set>

#include "analysis_fixture.h"

namespace sx::conduit::testing {
namespace {

struct Read {
  std::int32_t id;  // 0: a note without an ID yet
  std::string text;
};

// Loads notes the way reading does: an ID of 0 becomes a provisional one to be rewritten; a
// second note under a taken ID is kept with a provisional one.
void read_into(NoteDatabase& db, const std::vector<Read>& notes) {
  for (const auto& read : notes) {
    auto note = make_note(read.id, read.text);
    if (read.id == 0) {
      note->setNoteId(next_provisional_id());
      note->needs_rewrite = true;
    }
    db.admit(std::move(note));
  }
}

// The notes of one side a person would see afterwards: ID -> text.
std::map<std::int32_t, std::string> live(const NoteDatabase& db) {
  std::map<std::int32_t, std::string> out;
  for (const auto& [key, note] : db.notes()) {
    if (note->isMarkedForDeletion() || note->isDeletedOrArchived()) continue;
    RC_ASSERT(key == note->noteId());
    out[key] = note->text(NoteRecord::kText).desktop();
  }
  return out;
}

// Texts are made unique per side so that each note can be followed.
std::vector<Read> notes_of(const std::vector<std::int32_t>& ids, const std::string& side) {
  std::vector<Read> out;
  for (std::size_t i = 0; i < ids.size(); ++i) out.push_back({ids[i], side + std::to_string(i)});
  return out;
}

// The merge needs no machine: no dialog comes up (no field is marked on either side) and no line is
// logged with the settings below.
RC_GTEST_PROP(MergeIdsProperty, NoNoteIsLostOrDoubledWhateverIdsTheSidesHold, ()) {
  const auto handheld_ids =
      *rc::gen::container<std::vector<std::int32_t>>(rc::gen::inRange<std::int32_t>(0, 7));
  const auto desktop_ids =
      *rc::gen::container<std::vector<std::int32_t>>(rc::gen::inRange<std::int32_t>(1, 7));
  const auto first_key = *rc::gen::inRange<std::int32_t>(1, 10);
  const auto handheld_reads = notes_of(handheld_ids, "h");
  const auto desktop_reads = notes_of(desktop_ids, "d");
  settings() = ConduitSettings{};
  settings().LogConflicts = 0;
  MemoryHandheld h;
  MemoryDesktop d;
  d.next_id = first_key;  // the sequence may start on taken IDs
  read_into(h, handheld_reads);
  read_into(d, desktop_reads);
  RC_ASSERT(h.synchronizeWith(d) == 0L);

  const auto on_handheld = live(h);
  RC_ASSERT(on_handheld == live(d));
  for (const auto& [id, text] : on_handheld) RC_ASSERT(id > 0);
  // A note under an ID both sides held first is one note (the handheld's value, as neither side
  // marked a change); every other note is there once with its own text.
  std::set<std::int32_t> held_on_handheld;
  std::multiset<std::string> expected;
  for (const auto& read : handheld_reads) {
    if (read.id != 0) held_on_handheld.insert(read.id);
    expected.insert(read.text);
  }
  std::set<std::int32_t> seen_on_desktop;
  for (const auto& read : desktop_reads) {
    const bool first = seen_on_desktop.insert(read.id).second;
    if (!first || held_on_handheld.count(read.id) == 0) expected.insert(read.text);
  }
  std::multiset<std::string> found;
  for (const auto& [id, text] : on_handheld) found.insert(text);
  RC_ASSERT(found == expected);
  settings() = ConduitSettings{};
}

}  // namespace
}  // namespace sx::conduit::testing
