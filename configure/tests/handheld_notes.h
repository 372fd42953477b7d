// The first HotSync user's "ScribbixDB" on the test machine's handheld, as the notes application
// leaves it: notes written there and not yet synchronised, and the texts of the notes it holds.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sx/hotsync.h"
#include "sx/hotsync_pdb.h"

namespace sx::configure::testing {

inline constexpr std::uint8_t kDirtyRecord = 0x40;
inline constexpr std::uint8_t kDeletedRecord = 0x80;
// A note record's three texts start here (after the Mod, ID, dates and reserved fields).
inline constexpr std::size_t kNoteTextsOffset = 26;

// A note record with the note ID `id` and the note text `text`.
inline std::vector<std::uint8_t> NoteBytes(std::int32_t id, const std::string& text) {
  std::vector<std::uint8_t> r(kNoteTextsOffset, 0);
  for (int i = 0; i < 4; ++i) r[4 + i] = static_cast<std::uint8_t>(id >> (24 - 8 * i));
  r.push_back(0);
  r.push_back(0);
  r.insert(r.end(), text.begin(), text.end());
  r.push_back(0);
  return r;
}

// The note text of a record: the third text.
inline std::string NoteText(const std::vector<std::uint8_t>& record) {
  std::size_t at = kNoteTextsOffset;
  for (int skip = 0; skip < 2 && at < record.size(); ++skip) {
    while (at < record.size() && record[at] != 0) ++at;
    ++at;
  }
  std::string text;
  while (at < record.size() && record[at] != 0) text += static_cast<char>(record[at++]);
  return text;
}

inline std::filesystem::path HandheldFile() {
  std::vector<sx::hotsync::UserEntry> users;
  std::string why;
  EXPECT_TRUE(sx::hotsync::read_users(&users, &why)) << why;
  if (users.empty()) return {};
  return sx::hotsync::database_file(sx::hotsync::handheld_dir(users.front().directory),
                                    "ScribbixDB");
}

// An empty "ScribbixDB" as the notes application makes it.
inline sx::hotsync::PdbDatabase ScribbixDatabase() {
  sx::hotsync::PdbDatabase db;
  db.name = "ScribbixDB";
  db.version = 2;
  db.type = 0x44415441;     // 'DATA'
  db.creator = 0x56535871;  // 'VSXq'
  db.created = db.modified = sx::hotsync::desktop_palm_now() - 86400;
  db.app_info = std::vector<std::uint8_t>(296, 0);
  std::snprintf(reinterpret_cast<char*>(db.app_info->data() + 2), 16, "%s", "Unfiled");
  return db;
}

// Puts new notes with these texts on the handheld (dirty, without a note ID yet).
inline void PutHandheldNotes(const std::vector<std::string>& texts) {
  sx::hotsync::PdbDatabase db = ScribbixDatabase();
  std::uint32_t id = 0x101;
  for (const std::string& text : texts)
    db.records.push_back({kDirtyRecord, id++, NoteBytes(0, text)});
  std::string why;
  ASSERT_TRUE(sx::hotsync::save_database(HandheldFile(), db, &why)) << why;
}

// The texts of the handheld's notes that are not deleted, in record order.
inline std::vector<std::string> HandheldNoteTexts() {
  sx::hotsync::PdbDatabase db;
  std::string why;
  EXPECT_TRUE(sx::hotsync::load_database(HandheldFile(), &db, &why)) << why;
  std::vector<std::string> texts;
  for (const auto& record : db.records) {
    if ((record.attributes & kDeletedRecord) == 0) texts.push_back(NoteText(record.data));
  }
  return texts;
}

}  // namespace sx::configure::testing
