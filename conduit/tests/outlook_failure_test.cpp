// What goes wrong on the Outlook side of a whole HotSync, row by row of the desktop side's failure
// table: the log lines, the result, and that nothing is lost when the next HotSync runs clean.
#include "com/variant_value.h"
#include "outlook_assistant.h"
#include "outlook_run_fixture.h"
#include "sx/outlook/addins.h"
#include "sx/window.h"

namespace sx::conduit::testing {
namespace {

using Notes = std::map<std::int32_t, std::string>;

class OutlookFailureTest : public OutlookRunTest {
 protected:
  static void set_load_behavior(const std::string& progid, DWORD value) {
    HKEY key = nullptr;
    const std::string path = "Software\\Microsoft\\Office\\Outlook\\Addins\\" + progid;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              0);
    RegSetValueExA(key, "LoadBehavior", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    RegCloseKey(key);
  }
  // A handheld of two notes synchronised once, so that both sides and the state file hold them.
  void synced_pair() {
    put_notes(2);
    ASSERT_EQ(hotsync(), 0);
    clear_component_faults();
  }
  bool called(const std::string& method) {
    std::lock_guard g(fake_outlook().lock);
    const auto& c = fake_outlook().calls;
    return std::find(c.begin(), c.end(), method) != c.end();
  }
};

TEST_F(OutlookFailureTest, ConnectingFailuresLogTheirLinesAndFailTheRunWithoutTouchingEitherSide) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"no access component",
       [] { RegDeleteTreeA(HKEY_CLASSES_ROOT, "ScribbixOut.Class1"); },
       {"Error Connecting to Outlook"}},
      {"Outlook cannot start",
       [] { fake_outlook().load_fails = true; },
       {"Outlook Failure", "Error Connecting to Outlook"}},
      {"no profile and the dialog cancelled",
       [] { pair_profile(nullptr); },
       {"Outlook logon candelled by user."}},
      {"neither the profile nor the session logs on",
       [] {
         pair_profile("Nobody");
         fail("LogonOutlook", 2);
       },
       {"Logon to Outlook profile 'Nobody' failed.", "Outlook logon candelled by user."}},
      {"no notes folder",
       [] { fake_outlook().folder = false; },
       {"[error] The Scribbix folder was not found in the configured Outlook profile 'Outlook'. "
        "Run the Configuration program to install the folder or change to another profile."}},
      {"the walk cannot start",
       [] { fail("BeginItem", 1, -1); },
       {"Reading from Outlook", "[error] Failed to read database on the desktop."}},
      {"a post cannot be read",
       [] { fail("ReadItem", 2, -5); },
       {"Error Reading an Outlook entry (-5). ", "Outlook Automation Failure",
        "[error] Failed to read database on the desktop."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    install_fake_class1();
    pair_profile("Outlook");
    std::filesystem::remove(state_file());
    put_notes(2);
    add_post(9001, u"in Outlook");
    add_post(9002, u"also in Outlook");
    c.arrange();
    EXPECT_EQ(hotsync(), 4101);
    for (const std::string& line : c.lines) EXPECT_TRUE(logged(line)) << line;
    if (std::string(c.what) != "a post cannot be read" &&
        std::string(c.what) != "the walk cannot start") {
      EXPECT_TRUE(logged("[error] Failed to open database on the desktop."));
    }
    EXPECT_EQ(last_log_.back(), "[failed] ScribbixOutlook");
    EXPECT_EQ(fake_bodies(), (Notes{{9001, "in Outlook"}, {9002, "also in Outlook"}}));
    EXPECT_EQ(handheld_notes(), (Notes{{100, "note 0"}, {101, "note 1"}}));
    EXPECT_FALSE(std::filesystem::exists(state_file()));
  }
}

TEST_F(OutlookFailureTest, NoProfileForTheUserStopsBeforeTheFolderIsSearched) {
  put_notes(1);
  pair_profile(nullptr);
  EXPECT_EQ(hotsync(), 4101);
  EXPECT_FALSE(called("GetScribbixFolder"));
}

TEST_F(OutlookFailureTest, AnUnknownConfiguredProfileFallsBackToTheSession) {
  put_notes(1);
  pair_profile("Nobody");
  EXPECT_EQ(hotsync(), 0);
  EXPECT_TRUE(logged("Logon to Outlook profile 'Nobody' failed."));
  EXPECT_EQ(fake_outlook().logged_on_profile, "");
  expect_sides_equal();
}

TEST_F(OutlookFailureTest, AComponentThatAlreadyHasASessionIsUsedAsItIs) {
  put_notes(1);
  fake_outlook().session_preexisting = true;
  EXPECT_EQ(hotsync(), 0);
  EXPECT_TRUE(logged("Already loaded??"));
  EXPECT_FALSE(called("LoadOutlook"));
  expect_sides_equal();
}

TEST_F(OutlookFailureTest,
       AFailedAddFailsTheRunAndTheNextSyncMakesThePostInsteadOfDeletingTheNote) {
  synced_pair();
  add_handheld("new on the handheld", 0x900);
  fail("NewItem", 1, static_cast<LONG>(0x81004005));
  EXPECT_EQ(hotsync(), 4101);
  EXPECT_TRUE(logged("Adding an Entry to Outlook"));
  EXPECT_EQ(last_log_.back(), "[failed] ScribbixOutlook");
  clear_component_faults();
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  ASSERT_EQ(hotsync(), 0);  // and once more: nothing deleted on either side
  const Notes notes = handheld_notes();
  EXPECT_EQ(notes.size(), 3u);
  expect_sides_equal();
}

TEST_F(OutlookFailureTest, AFailedUpdateIsLoggedWithItsStepAndTheNextSyncCarriesTheChange) {
  synced_pair();
  edit_handheld(100, "changed on the handheld");
  fail("UpdateItem", 1, 4);
  EXPECT_EQ(hotsync(), 4101);
  EXPECT_TRUE(logged("Updating an Entry in Outlook (00000004)"));
  clear_component_faults();
  ASSERT_EQ(hotsync(), 0);
  EXPECT_EQ(fake_bodies().at(100), "changed on the handheld");
  expect_sides_equal();
}

// With "desktop wins" for conflicts, an update Outlook refused must not come back as a conflict
// that undoes the handheld's edit: the handheld keeps the edit marked as its own change.
TEST_F(OutlookFailureTest, AFailedUpdateKeepsTheHandheldsEditWhenTheDesktopWinsConflicts) {
  set_setting("ConflictResolution", 0);
  synced_pair();
  edit_handheld(100, "changed on the handheld");
  fail("UpdateItem", 1, 4);
  EXPECT_EQ(hotsync(), 4101);
  clear_component_faults();
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(fake_bodies().at(100), "changed on the handheld");
  expect_sides_equal();
  ASSERT_EQ(hotsync(), 0);  // and nothing left to do
  EXPECT_EQ(fake_bodies().at(100), "changed on the handheld");
}

TEST_F(OutlookFailureTest, AFailedDeleteIsLoggedAndTheNoteIsNotLost) {
  synced_pair();
  delete_handheld(100);
  fail("DeleteItem", 1, -1);
  EXPECT_EQ(hotsync(), 4101);
  EXPECT_TRUE(logged("Deleting an Entry from Outlook"));
  clear_component_faults();
  ASSERT_EQ(hotsync(), 0);
  expect_sides_equal();
}

TEST_F(OutlookFailureTest, AnOversizedPostIsNeverWrittenBackAndAHandheldEditOfItIsKept) {
  put_notes(1);
  std::u16string big(40000, u'x');
  big.replace(0, 5, u"Big! ");
  add_post(9300, big);
  ASSERT_EQ(hotsync(), 0);
  EXPECT_EQ(handheld_notes().at(9300).size(), 32767u);
  EXPECT_TRUE(
      logged("The note \"Big! xxxxxxxxxxxxxxxxxxxxxxxxxxx\" in Outlook is 40000 characters "
             "long; the handheld holds its first 32767, and Outlook keeps the whole text."))
      << ::testing::PrintToString(last_log_);
  edit_handheld(9300, "changed on the handheld");
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_TRUE(
      logged("The note \"changed on the handheld\" was changed on the handheld, where it is "
             "not whole; the change is kept as a new note, and the note in Outlook stays "
             "as it was."));
  const Notes bodies = fake_bodies();
  EXPECT_EQ(bodies.at(9300).size(), 40000u);
  EXPECT_EQ(bodies.size(),
            3u);  // note 0, the long one, and the handheld's edit as a note of its own
  // The handheld has both: its edit under a new key, and the long note back as far as it holds it.
  const Notes notes = handheld_notes();
  EXPECT_EQ(notes.at(9300).size(), 32767u);
  EXPECT_EQ(std::count_if(notes.begin(), notes.end(),
                          [](const auto& n) { return n.second == "changed on the handheld"; }),
            1);
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(handheld_notes(), notes);
  EXPECT_EQ(fake_bodies(), bodies);
}

TEST_F(OutlookFailureTest, AnUpdateInOutlook10ThatFailsIsLoggedAndMadeByTheNextSync) {
  fake_outlook().version = "10.0.2627";  // Outlook 10: body format mode 2, updated in place
  synced_pair();
  fake_outlook().version = "10.0.2627";
  edit_handheld(100, "changed on the handheld");
  fail("UpdateItem", 1, 4);
  EXPECT_EQ(hotsync(), 4101);
  EXPECT_TRUE(logged("Updating an Entry in Outlook (00000004)"));
  EXPECT_EQ(fake_bodies().at(100), "note 0");  // the post is still there
  clear_component_faults();
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(handheld_notes().at(100), "changed on the handheld");
  expect_sides_equal();
}

TEST_F(OutlookFailureTest, TheAddInsLoadBehaviorIsHeldBackWhileOutlookStartsAndRestoredAfter) {
  const std::string monitor = "ScribbixMonitorAddIn.Connect";
  const std::string notes = "VorScribOutlookAddIn.Connect";
  set_load_behavior(monitor, 3);
  set_load_behavior(notes, 2);
  std::vector<std::optional<DWORD>> during;
  fake_outlook().on_load = [&] {
    during = {sx::outlook::addins::load_behavior(monitor),
              sx::outlook::addins::load_behavior(notes)};
  };
  put_notes(1);
  for (bool load_fails : {false, true}) {
    fake_outlook().load_fails = load_fails;
    (void)hotsync();
    EXPECT_EQ(during, (std::vector<std::optional<DWORD>>{8u, 8u}));
    EXPECT_EQ(sx::outlook::addins::load_behavior(monitor), 3u);
    EXPECT_EQ(sx::outlook::addins::load_behavior(notes), 2u);
  }
}

// The bar moves while Outlook's posts are read: its range is the count of posts, known once the
// walk has begun, not 0.
TEST_F(OutlookFailureTest, TheProgressBarMovesWhileTheDesktopIsRead) {
  put_notes(1);
  for (int i = 0; i < 4; ++i) add_post(9100 + i, u"post");
  std::vector<std::string> seen;
  fake_outlook().on_read = [&] {
    if (HWND window = FindWindowA(nullptr, "Vorlan Scribbix Synchronization"))
      seen.push_back(sx::window::console_render(window));
  };
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  ASSERT_EQ(seen.size(), 4u);
  // Before the last post is read, three of four have been: 75%.
  EXPECT_NE(seen.back().find("] 75%"), std::string::npos) << seen.back();
}

// The error text after a post could not be read is that failure's, never an older one's.
TEST_F(OutlookFailureTest, TheErrorTextAfterAFailedReadIsNotAnOlderOne) {
  OutlookAssistant assistant;
  ASSERT_EQ(assistant.LoadOutlook(), 0);
  fake_outlook().faults.push_back({"LogonOutlook", 1, 0, E_ACCESSDENIED});
  com::Variant profile = com::Variant::from_ansi("Outlook");
  EXPECT_EQ(assistant.LogonOutlook(&profile.get()), -1);
  EXPECT_NE(assistant.GetLastErrorText().find("Code = 80070005"), std::string::npos);
  ASSERT_EQ(assistant.LogonOutlook(&profile.get()), 0);
  EXPECT_EQ(assistant.GetLastErrorText(), "");
  ASSERT_EQ(assistant.GetScribbixFolder(), 0);
  add_post(9100, u"post");
  ASSERT_GE(assistant.BeginItem(), 0);
  ASSERT_EQ(assistant.NextItem(), 1);
  fail("ReadItem", 1, -5);
  com::Variant v[9];
  EXPECT_EQ(assistant.ReadItem(&v[0].get(), &v[1].get(), &v[2].get(), &v[3].get(), &v[4].get(),
                               &v[5].get(), &v[6].get(), &v[7].get(), &v[8].get()),
            -5);
  EXPECT_EQ(assistant.GetLastErrorText().find("80070005"), std::string::npos)
      << assistant.GetLastErrorText();
}

}  // namespace
}  // namespace sx::conduit::testing
