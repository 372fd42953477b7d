// The first HotSync user's "ScribbixDB" on the test machine's handheld: notes put there as the
// notes application leaves them, and the notes it holds as a person sees them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "scribbix_db.h"
#include "sx/hotsync.h"
#include "sx/hotsync_pdb.h"
#include "sx/preview/snapshot.h"

namespace sx::configure::testing {

inline constexpr std::uint8_t kDirtyRecord = 0x40;

// A note record with the note ID `id` and the note text `text` (its other texts empty).
inline std::vector<std::uint8_t> NoteBytes(std::int32_t id, const std::string& text) {
  std::vector<std::uint8_t> r(26, 0);
  for (int i = 0; i < 4; ++i) r[4 + i] = static_cast<std::uint8_t>(id >> (24 - 8 * i));
  r.push_back(0);
  r.push_back(0);
  r.insert(r.end(), text.begin(), text.end());
  r.push_back(0);
  return r;
}

// The first HotSync user's handheld folder (a host path).
inline std::filesystem::path HandheldFolder() {
  std::vector<sx::hotsync::UserEntry> users;
  std::string why;
  EXPECT_TRUE(sx::hotsync::read_users(&users, &why)) << why;
  return users.empty() ? std::filesystem::path() : sx::hotsync::handheld_dir(users[0].directory);
}

// Puts new notes with these texts on the handheld (dirty, without a note ID yet).
inline void PutHandheldNotes(const std::vector<std::string>& texts) {
  sx::hotsync::PdbDatabase db = sx::registry::testing::empty_scribbix_db();
  std::uint32_t record = 0x101;
  for (const std::string& text : texts)
    db.records.push_back({kDirtyRecord, record++, NoteBytes(0, text)});
  std::string why;
  ASSERT_TRUE(
      sx::hotsync::save_database(sx::hotsync::database_file(HandheldFolder(), db.name), db, &why))
      << why;
}

// The handheld's notes that are neither deleted nor archived: handheld record id -> note text.
inline std::map<std::string, std::string> HandheldNotes() {
  const sx::preview::SideView side = sx::preview::read_handheld(HandheldFolder().string());
  EXPECT_TRUE(side.read) << side.why;
  std::map<std::string, std::string> notes;
  for (const sx::preview::NoteView& note : side.notes) {
    if (!note.archived) notes[note.identity] = note.field("Note Text");
  }
  return notes;
}

}  // namespace sx::configure::testing
