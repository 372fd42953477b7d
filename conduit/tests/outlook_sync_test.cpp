// Whole HotSyncs between a handheld and the notes folder with the product's desktop side: every
// sync type, several runs in a row, what changed on each side, and the identity of desktop notes.
#include "outlook_run_fixture.h"

namespace sx::conduit::testing {
namespace {

using Notes = std::map<std::int32_t, std::string>;

TEST_F(OutlookRunTest, TheFirstSyncOfAUserBringsBothSidesTogetherAndTheNextChangesNothing) {
  put_notes(3);  // 100, 101, 102
  add_post(9001, u"from Outlook");
  add_post(0, u"a post made by hand");  // stamped with a key on reading
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  const Notes after = handheld_notes();
  EXPECT_EQ(after.size(), 5u);
  expect_sides_equal();
  EXPECT_EQ(after.at(9001), "from Outlook");
  EXPECT_EQ(after.at(50000), "a post made by hand");
  // Again: nothing moves, nothing is written to Outlook.
  {
    std::lock_guard g(fake_outlook().lock);
    fake_outlook().calls.clear();
  }
  ASSERT_EQ(hotsync(), 0);
  EXPECT_EQ(handheld_notes(), after);
  expect_sides_equal();
  for (const std::string& call : fake_outlook().calls) {
    EXPECT_TRUE(call != "NewItem" && call != "UpdateItem" && call != "DeleteItem") << call;
  }
}

TEST_F(OutlookRunTest, ChangesAndDeletionsOnEitherSideReachTheOther) {
  put_notes(4);  // 100..103
  ASSERT_EQ(hotsync(), 0);
  edit_handheld(100, "changed on the handheld");
  delete_handheld(101);
  post(102)->body = u"changed in Outlook";
  remove_post(103);
  add_post(9002, u"new in Outlook");
  add_handheld("new on the handheld", 0x900);
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  const Notes notes = handheld_notes();
  expect_sides_equal();
  EXPECT_EQ(notes.at(100), "changed on the handheld");
  EXPECT_EQ(notes.count(101), 0u);
  EXPECT_EQ(notes.at(102), "changed in Outlook");
  EXPECT_EQ(notes.count(103), 0u);
  EXPECT_EQ(notes.at(9002), "new in Outlook");
  EXPECT_EQ(notes.size(), 4u);  // and the new handheld note under a key of its own
  // The handheld note that was new now has a key from the shared sequence, on both sides.
  bool found = false;
  for (const auto& [id, text] : notes) found |= text == "new on the handheld" && id > 0;
  EXPECT_TRUE(found);
  // A third run after the writes: both sides stay as they are.
  ASSERT_EQ(hotsync(), 0);
  EXPECT_EQ(handheld_notes(), notes);
  expect_sides_equal();
}

TEST_F(OutlookRunTest, EverySyncTypeLeavesBothSidesEqual) {
  struct Case {
    int type;
    const char* name;
    // The text of 100 after the run: the handheld's edit, Outlook's, or either when both merge.
    const char* note100;
    bool keeps_outlook_only_note;
    bool keeps_handheld_only_note;
  };
  const Case cases[] = {
      {eFast, "fast", "handheld edit", true, true},
      {eSlow, "slow", "handheld edit", true, true},
      {eHHtoPC, "handheld overwrites desktop", "handheld edit", false, true},
      {ePCtoHH, "desktop overwrites handheld", "outlook edit", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    install_fake_class1();
    std::filesystem::remove(state_file());
    put_notes(2);  // 100, 101
    put_sync_type(eSlow);
    ASSERT_EQ(hotsync(), 0);
    edit_handheld(100, "handheld edit");
    if (c.type == ePCtoHH) {
      post(100)->body = u"outlook edit";
    } else {
      post(101)->body = u"outlook edit";
    }
    add_post(9100, u"only in Outlook");
    add_handheld("only on the handheld", 0x950);
    put_sync_type(c.type);
    ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
    const Notes notes = handheld_notes();
    expect_sides_equal();
    EXPECT_EQ(notes.at(100), c.note100);
    if (c.type == eFast || c.type == eSlow) {
      EXPECT_EQ(notes.at(101), "outlook edit");
    }
    EXPECT_EQ(notes.count(9100), c.keeps_outlook_only_note ? 1u : 0u);
    bool handheld_only = false;
    for (const auto& [id, text] : notes) handheld_only |= text == "only on the handheld";
    EXPECT_EQ(handheld_only, c.keeps_handheld_only_note);
    // A fast sync afterwards keeps them equal.
    put_sync_type(eFast);
    ASSERT_EQ(hotsync(), 0);
    EXPECT_EQ(handheld_notes(), notes);
    expect_sides_equal();
  }
}

TEST_F(OutlookRunTest, ADesktopNoteKeepsItsHandheldRecordSoAHandheldDeletionReachesOutlook) {
  put_notes(2);
  ASSERT_EQ(hotsync(), 0);
  // The handheld deletes note 100 for good (its record gone, only its record id reported).
  auto db = read_back(kScribbixDatabase);
  db.records[0].attributes = 0x80;
  db.records[0].data.clear();
  put_database(db);
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(fake_bodies(), (Notes{{101, "note 1"}}));
  expect_sides_equal();
}

TEST_F(OutlookRunTest, CategoriesPrivacyAndNonAsciiTextsTravelBothWays) {
  put_notes(1);
  auto empty = read_back(kScribbixDatabase);
  empty.app_info = std::vector<std::uint8_t>(kCategoryBlockSize, 0);
  put_database(empty);
  ASSERT_EQ(hotsync(), 0);
  add_post(9200, u"Caf\u00e9 cr\u00e8me", u"Travel, Business", 2);
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  auto db = read_back(kScribbixDatabase);
  // The category made in Outlook is a handheld category now, and the note carries it.
  ASSERT_TRUE(db.app_info.has_value());
  const char* names = reinterpret_cast<const char*>(db.app_info->data() + 2);
  int index = -1;
  for (int i = 1; i < 16; ++i) {
    if (std::string(names + 16 * i) == "Travel") index = i;
  }
  ASSERT_GT(index, 0);
  bool found = false;
  for (const auto& record : db.records) {
    NoteRecord note;
    ASSERT_TRUE(note.unpack(record.data.data(), record.data.size(), nullptr));
    if (note.noteId() != 9200) continue;
    found = true;
    EXPECT_EQ(record.attributes & 0x0F, index);
    EXPECT_NE(record.attributes & 0x10, 0);  // private
    EXPECT_EQ(note.text(NoteRecord::kText).desktop(), "Caf\xe9 cr\xe8me");
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace sx::conduit::testing
