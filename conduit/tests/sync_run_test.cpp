// Whole HotSyncs through the HotSync stand-in: the driver's outcomes and log lines, and runs with a
// desktop of posts per sync type. The HotSync log is checked line by line.
#include "sync_run_fixture.h"

namespace sx::conduit::testing {
namespace {

TEST_F(SyncRunTest, NormalRunReadsBothSidesAndLogsStartDatabaseAndFinish) {
  put_notes(3);
  long result = -1;
  const auto log = conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"[start] ", "Synchronizing database \"ScribbixDB\".",
                                           "[finished] ScribbixOutlook"}));
  EXPECT_EQ(g_desktop.read, 1);
  EXPECT_EQ(g_desktop.opened_path, "C:\\Program Files\\Scribbix\\Test User-Scribbix.sxz");
  // The in-memory desktop keeps nothing: the notes stay as they are on the handheld.
  const auto back = read_back(kScribbixDatabase);
  ASSERT_EQ(back.records.size(), 3u);
  EXPECT_EQ(back.records[0].unique_id, 0x200u);
}

TEST_F(SyncRunTest, SyncTypeSixDoesNothingAtAll) {
  put_notes(1);
  put_sync_type(6);
  long result = -1;
  EXPECT_TRUE(conduit_log(&result).empty());
  EXPECT_EQ(result, 0);
  EXPECT_EQ(g_desktop.opened, 0);
}

TEST_F(SyncRunTest, WrongCreatorLogs33AndReturns400B) {
  put_notes(1, 0x41424344);
  put_notes(0, kScribbixCreator, 2, "ScribbixAux");  // so that HotSync runs the conduit
  long result = -1;
  EXPECT_EQ(conduit_log(&result),
            (std::vector<std::string>{
                "[start] ", "Synchronizing database \"ScribbixDB\".",
                "The \"ScribbixDB\" database on the handheld does not belong to Scribbix.",
                "[failed] ScribbixOutlook"}));
  EXPECT_EQ(result, 0x400B);
  EXPECT_EQ(g_desktop.opened, 0);
}

TEST_F(SyncRunTest, WrongVersionLogs44WithTheFoundVersion) {
  put_notes(1, kScribbixCreator, 3);
  long result = -1;
  EXPECT_EQ(conduit_log(&result),
            (std::vector<std::string>{
                "[start] ", "Synchronizing database \"ScribbixDB\".",
                "The \"ScribbixDB\" database on the handheld is version 3.  The conduit can only "
                "handle version 2.  Check the Vorlan web site for the latest version.",
                "[failed] ScribbixOutlook"}));
  EXPECT_EQ(result, 0x400B);
}

TEST_F(SyncRunTest, MissingDatabaseLogs37AsAnErrorAndReturnsTheSyncManagersCode) {
  put_notes(0, kScribbixCreator, 2, "ScribbixAux");
  long result = -1;
  EXPECT_EQ(conduit_log(&result),
            (std::vector<std::string>{
                "[start] ", "Synchronizing database \"ScribbixDB\".",
                "[error] The Scribbix database does not exist on your Palm device.  Run Scribbix "
                "on your Palm device before performing your first synchronization.",
                "[failed] ScribbixOutlook"}));
  EXPECT_EQ(result, 0x4003);
}

TEST_F(SyncRunTest, MissingPathReturns400EAfterTheStartLineOnly) {
  put_notes(1);
  set_path(nullptr);
  long result = -1;
  EXPECT_EQ(conduit_log(&result),
            (std::vector<std::string>{"[start] ", "[failed] ScribbixOutlook"}));
  EXPECT_EQ(result, 0x400E);
}

TEST_F(SyncRunTest, FastSyncWithNothingChangedLogs74AndReadsNothing) {
  put_notes(2);
  put_sync_type(0);
  mark_unchanged();
  long result = -1;
  EXPECT_EQ(conduit_log(&result),
            (std::vector<std::string>{"[start] ", "Synchronizing database \"ScribbixDB\".",
                                      "Desktop and handheld databases have not changed since "
                                      "the last synchronization.",
                                      "[finished] ScribbixOutlook"}));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(g_desktop.read, 0);
}

TEST_F(SyncRunTest, SlowSyncWithNothingChangedStillReads) {
  put_notes(2);
  mark_unchanged();
  sx::hotsync::DeviceInfo device;
  std::string why;
  ASSERT_TRUE(sx::hotsync::read_device(handheld(), &device, &why)) << why;
  device.last_sync_pc = 12345;  // another PC: HotSync asks for a slow sync (type 1)
  ASSERT_TRUE(sx::hotsync::write_device(handheld(), device, &why)) << why;
  const auto log = conduit_log();
  EXPECT_EQ(log.size(), 3u);
  EXPECT_EQ(g_desktop.read, 1);
}

TEST_F(SyncRunTest, DesktopThatCannotOpenLogs39) {
  put_notes(1);
  g_desktop.open_result = 4101;
  long result = -1;
  const auto log = conduit_log(&result);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[2], "[error] Failed to open database on the desktop.");
  EXPECT_EQ(result, 4101);
}

TEST_F(SyncRunTest, DamagedHandheldNoteStopsTheRunWithAClearLineAndNothingIsWritten) {
  put_notes(2);
  auto db = read_back(kScribbixDatabase);
  db.records[1].data.resize(27);  // the note text lost its NUL
  db.records[1].data.back() = 'x';
  put_database(db);
  long result = -1;
  const auto log = conduit_log(&result);
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[2],
            "[error] The note at index 1 on the handheld is damaged (field 7 ends after "
            "the record's 27 bytes).");
  EXPECT_EQ(log[3], "[error] Failed to read database from handheld.");
  EXPECT_EQ(result, 0x4015);
  EXPECT_EQ(read_back(kScribbixDatabase).records.size(), 2u);
}

TEST_F(SyncRunTest, UserNameWithSeparatorsStaysInItsFolder) {
  EXPECT_EQ(desktop_file_name("..\\..\\x/y:z"), ".._.._x_y_z-Scribbix.sxz");
  EXPECT_EQ(desktop_file_name(".."), "..-Scribbix.sxz");
}

TEST_F(SyncRunTest, WithoutTheAccessComponentTheProductCannotConnectAndLogs39) {
  set_desktop_database_factory(nullptr);  // the product's Outlook side
  put_notes(1);
  long result = -1;
  const auto log = conduit_log(&result);
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[2], "Error Connecting to Outlook");
  EXPECT_EQ(log[3], "[error] Failed to open database on the desktop.");
  EXPECT_EQ(result, 4101);
}

TEST_F(PostsRunTest, TwoWayRunCopiesBothWaysRenumbersAProvisionalNoteAndSavesTheState) {
  put_notes(2);
  auto db = read_back(kScribbixDatabase);
  db.records[1].data[4] = db.records[1].data[5] = db.records[1].data[6] = db.records[1].data[7] = 0;
  put_database(db);  // the second note has no ID yet
  g_posts[9] = "from the desktop";
  long result = -1;
  const auto log = conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"[start] ", "Synchronizing database \"ScribbixDB\".",
                                           "The note \"note 1\" has been added to the desktop",
                                           "The note \"note 0\" has been added to the desktop",
                                           "The note \"from the desktop\" has been added to the "
                                           "handheld",
                                           "[finished] ScribbixOutlook"}));
  const std::map<std::int32_t, std::string> expected{
      {9, "from the desktop"}, {100, "note 0"}, {7000, "note 1"}};
  EXPECT_EQ(g_posts, expected);
  EXPECT_EQ(handheld_notes(), expected);  // the provisional ID was written back as 7000
  EXPECT_TRUE(std::filesystem::exists(state_file()));

  // A second run changes nothing and logs no change.
  g_desktop = DesktopScript{};
  const auto again = conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(again.size(), 3u);
  EXPECT_EQ(g_posts, expected);
  EXPECT_EQ(handheld_notes(), expected);

  // A post deleted in Outlook is deleted from the handheld at the next run.
  g_posts.erase(100);
  conduit_log(&result);
  EXPECT_EQ(handheld_notes().count(100), 0u);
  EXPECT_EQ(handheld_notes().size(), 2u);
}

TEST_F(PostsRunTest, HandheldOverwritesDesktopDeletesTheDesktopsExtras) {
  put_notes(1);
  g_posts[100] = "edited on the desktop";
  g_posts[55] = "only on the desktop";
  put_sync_type(2);
  long result = -1;
  const auto log = conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(g_posts, (std::map<std::int32_t, std::string>{{100, "note 0"}}));
  EXPECT_EQ(handheld_notes(), (std::map<std::int32_t, std::string>{{100, "note 0"}}));
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "The note \"only on the desktop\" has been deleted from the desktop"),
            log.end());
}

TEST_F(PostsRunTest, DesktopOverwritesHandheldDeletesTheHandheldsExtras) {
  put_notes(2);
  g_posts[101] = "desktop's version";
  put_sync_type(3);
  long result = -1;
  conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(handheld_notes(), (std::map<std::int32_t, std::string>{{101, "desktop's version"}}));
  EXPECT_EQ(g_posts.size(), 1u);
}

TEST_F(PostsRunTest, ADamagedStateFileStopsTheRunAndNothingIsOverwritten) {
  put_notes(2);
  g_posts[100] = "note 0";
  long result = -1;
  conduit_log(&result);
  ASSERT_EQ(result, 0);
  const auto host = state_file();
  std::filesystem::resize_file(host, std::filesystem::file_size(host) - 3);
  g_posts[100] = "changed in Outlook";
  const auto handheld_before = read_back(kScribbixDatabase);
  const auto log = conduit_log(&result);
  EXPECT_EQ(result, 0x4005);
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[2].rfind("[error] The desktop state file \"C:\\", 0), 0u) << log[2];
  EXPECT_NE(log[2].find("Test User-Scribbix.VXS\" is damaged (record 2: the file ends inside its "
                        "note).  Nothing was synchronized; remove or rename the file to "
                        "synchronize again."),
            std::string::npos)
      << log[2];
  EXPECT_EQ(log[3], "[error] Failed to open database on the desktop.");
  EXPECT_EQ(read_back(kScribbixDatabase).records.size(), handheld_before.records.size());
  EXPECT_EQ(handheld_notes().at(100), "note 0");
  EXPECT_EQ(g_posts.at(100), "changed in Outlook");

  // Recovery: the file removed, the next run carries the Outlook change and loses nothing.
  std::filesystem::remove(host);
  conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(handheld_notes(),
            (std::map<std::int32_t, std::string>{{100, "changed in Outlook"}, {101, "note 1"}}));
}

}  // namespace
}  // namespace sx::conduit::testing
