// Machines set up as registration and setup leave them (HotSync Manager with the conduit, Outlook
// with the user's notes store paired with the Palm user, the progress window on), whose notes are
// made through the handheld's database file and Outlook's access component; the preview of their
// next HotSync and the changes the real HotSync then makes.
#pragma once

#include <fstream>
#include <iterator>
#include <map>

#include "real_outlook_fixture.h"
#include "sx/preview/preview.h"
#include "sx/window.h"

namespace sx::preview::testing {

using conduit::testing::NotesFolder;

// Every file of a folder tree and its bytes.
inline std::map<std::string, std::string> files_of(const std::filesystem::path& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (e.is_symlink()) {
      out[e.path().string()] = "-> " + std::filesystem::read_symlink(e.path()).string();
    } else if (e.is_regular_file()) {
      std::ifstream in(e.path(), std::ios::binary);
      out[e.path().string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
  return out;
}

class PreviewTest : public conduit::testing::RealOutlookRunTest {
 protected:
  void SetUp() override {
    RealOutlookRunTest::SetUp();
    sx::window::set_host(sx::window::Host::kNone);  // nobody answers, as in the preview
    put_notes(0);
  }
  // The changes a real HotSync makes, by the same reading of each side before and after it.
  std::vector<Change> real_changes(Snapshot* before_out = nullptr, Snapshot* after_out = nullptr) {
    const Snapshot before = take_snapshot(conduit::testing::kUser, hotsync_test::kUserDir);
    (void)hotsync();
    const Snapshot after = take_snapshot(conduit::testing::kUser, hotsync_test::kUserDir);
    const auto changes = hotsync_changes(before, after);
    if (before_out) *before_out = before;
    if (after_out) *after_out = after;
    return changes;
  }
  // Gives the handheld's category `index` a name and the note of `id` that category.
  void categorise_handheld(std::int32_t id, int index, const std::string& name) {
    auto db = read_back(conduit::kScribbixDatabase);
    if (!db.app_info || db.app_info->size() < conduit::kCategoryBlockSize)
      db.app_info = std::vector<std::uint8_t>(conduit::kCategoryBlockSize, 0);
    auto& block = *db.app_info;
    std::fill_n(block.begin() + 2 + index * 16, 16, 0);
    std::copy(name.begin(), name.end(), block.begin() + 2 + index * 16);
    for (auto& record : db.records) {
      conduit::NoteRecord note;
      if (note.unpack(record.data.data(), record.data.size(), nullptr) && note.noteId() == id) {
        record.attributes = static_cast<std::uint8_t>((record.attributes & 0xF0) | index | 0x40);
        record.data = note_bytes(id, note.text(conduit::NoteRecord::kText).desktop(), 0x80000000u);
      }
    }
    put_database(db);
  }
  void archive_handheld(std::int32_t id) {
    auto db = read_back(conduit::kScribbixDatabase);
    for (auto& record : db.records) {
      conduit::NoteRecord note;
      if (note.unpack(record.data.data(), record.data.size(), nullptr) && note.noteId() == id)
        record.attributes |= 0x80 | 0x08;
    }
    put_database(db);
  }
};

}  // namespace sx::preview::testing
