// A HotSync that meets an Outlook file Outlook finds damaged (the notes store cut short, at a
// record boundary or inside a record; outlook.pst damaged): it stops with its own line naming the
// file and the repair, changes nothing on the handheld and keeps the state file as it was. After
// the repair, the notes whose posts the damage took are written to Outlook again from the handheld,
// never deleted there.
#include <algorithm>
#include <filesystem>
#include <tuple>

#include "real_outlook_fixture.h"
#include "sx/outlook/profiles.h"
#include "sx/outlook/store.h"
#include "sx/testing/file_bytes.h"
#include "sx/testing/soak.h"

namespace sx::conduit::testing {
namespace {

namespace fs = std::filesystem;

using sx::testing::file_bytes;
using sx::testing::write_file_bytes;

// Where each record of a store file ends (a record is 13 bytes of frame and its payload).
std::vector<std::size_t> record_ends(const std::string& file) {
  std::vector<std::size_t> ends;
  for (std::size_t at = 0; at + 13 <= file.size();) {
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i)
      length |= static_cast<std::uint32_t>(static_cast<unsigned char>(file[at + 8 + i])) << (8 * i);
    at += 13 + length;
    if (at <= file.size()) ends.push_back(at);
  }
  return ends;
}

class DamagedOutlookTest : public RealOutlookRunTest {
 protected:
  std::string notes_store_windows_path() {
    for (const std::string& path : sx::outlook::profiles::stores("Outlook"))
      if (path.find("Vorlan.pst") != std::string::npos) return path;
    ADD_FAILURE() << "no notes store in the profile";
    return {};
  }
  std::string outlook_pst_windows_path() { return sx::outlook::profiles::stores("Outlook")[0]; }
  // The handheld's records as they are: attributes, record id, bytes.
  std::vector<std::tuple<int, std::uint32_t, std::vector<std::uint8_t>>> handheld_records() {
    std::vector<std::tuple<int, std::uint32_t, std::vector<std::uint8_t>>> out;
    for (const auto& r : read_back(kScribbixDatabase).records)
      out.emplace_back(r.attributes, r.unique_id, r.data);
    return out;
  }
  bool logged(const std::string& text) {
    return std::find(last_log_.begin(), last_log_.end(), text) != last_log_.end();
  }
  std::string damaged_line(const std::string& windows_path) {
    return "[error] The Outlook file \"" + windows_path +
           "\" is damaged, so the Scribbix folder cannot be read.  Nothing was synchronized.  "
           "Quit Outlook and repair the file with \"sxfolders repair\" (Outlook's Inbox Repair "
           "Tool); installing the folder again would make every note look deleted.";
  }
  // A HotSync against the damaged file: 4101, the file and the repair named, and nothing changed.
  void expect_refused_and_nothing_changed(const std::string& windows_path) {
    const auto records = handheld_records();
    const std::string state = state_bytes();
    EXPECT_EQ(hotsync(), 4101);
    EXPECT_TRUE(logged(damaged_line(windows_path))) << ::testing::PrintToString(last_log_);
    EXPECT_FALSE(std::any_of(last_log_.begin(), last_log_.end(), [](const std::string& line) {
      return line.find("was not found") != std::string::npos ||
             line.find("install the folder") != std::string::npos;
    })) << ::testing::PrintToString(last_log_);
    EXPECT_EQ(handheld_records(), records);
    EXPECT_EQ(state_bytes(), state);
  }
  static void repair(const fs::path& file) {
    std::string why;
    auto store = sx::outlook::Store::open(file, {}, &why);
    ASSERT_TRUE(store) << why;
    ASSERT_TRUE(store->compact(&why)) << why;
  }
};

// Cuts at record boundaries and inside records of the notes store, each followed by a HotSync that
// must change nothing; the suite takes a few of them, the soak run every one.
TEST_F(DamagedOutlookTest, ANotesStoreCutAnywhereStopsTheHotSyncAndChangesNothing) {
  put_notes(4);
  ASSERT_EQ(hotsync(), 0);
  const std::string windows_path = notes_store_windows_path();
  const fs::path file = sx::paths::to_host(windows_path);
  const std::string whole = file_bytes(file);
  const std::vector<std::size_t> ends = record_ends(whole);
  ASSERT_GT(ends.size(), 6u);
  std::vector<std::size_t> cuts;
  for (std::size_t i = 2; i + 1 < ends.size(); ++i) {
    cuts.push_back(ends[i]);                      // at a record boundary
    cuts.push_back((ends[i] + ends[i + 1]) / 2);  // inside the next record
  }
  if (!sx::testing::soak()) cuts = {cuts.front(), cuts[cuts.size() / 2], cuts.back()};
  for (std::size_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(whole.size()));
    write_file_bytes(file, whole.substr(0, cut));
    expect_refused_and_nothing_changed(windows_path);
    write_file_bytes(file, whole);
  }
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(handheld_notes().size(), 4u);
}

TEST_F(DamagedOutlookTest, ADamagedOutlookPstIsNamedAsWell) {
  put_notes(2);
  ASSERT_EQ(hotsync(), 0);
  const std::string windows_path = outlook_pst_windows_path();
  const fs::path file = sx::paths::to_host(windows_path);
  std::string bytes = file_bytes(file);
  bytes[bytes.size() - 3] ^= 0x5A;  // inside its last record
  write_file_bytes(file, bytes);
  expect_refused_and_nothing_changed(windows_path);
  repair(file);
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(handheld_notes().size(), 2u);
}

// The accident: the notes store cut to 60% of its length. The repair keeps what can be
// read; the next HotSync writes the posts the cut took again from the handheld, and deletes none
// of the handheld's notes.
TEST_F(DamagedOutlookTest, AfterTheRepairThePostsTheDamageTookComeBackFromTheHandheld) {
  put_notes(8);
  ASSERT_EQ(hotsync(), 0);
  const auto before = handheld_notes();
  const std::string windows_path = notes_store_windows_path();
  const fs::path file = sx::paths::to_host(windows_path);
  fs::resize_file(file, fs::file_size(file) * 6 / 10);
  expect_refused_and_nothing_changed(windows_path);
  repair(file);
  ASSERT_LT(folder().size(), 8u);  // the cut took posts
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_TRUE(std::any_of(last_log_.begin(), last_log_.end(), [](const std::string& line) {
    return line.find("were lost with the damage, not deleted") != std::string::npos;
  })) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(handheld_notes(), before);
  EXPECT_EQ(folder(), before);
  // The marker is gone with the saved state: a post deleted in Outlook now is a deletion again.
  NotesFolder().remove(100);
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(handheld_notes().count(100), 0u);
  EXPECT_EQ(handheld_notes().size(), 7u);
}

}  // namespace
}  // namespace sx::conduit::testing
