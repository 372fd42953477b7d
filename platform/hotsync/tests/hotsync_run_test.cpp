// Whole HotSyncs: HotSync Manager loads the test conduit, which works on the handheld through the
// sync manager; afterwards the database file is read back record for record.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstring>
#include <fstream>

#include "hotsync/actiondlg.h"
#include "hotsync_fixture.h"
#include "sx/window.h"

namespace hotsync_test {
namespace {

class HotSyncRunTest : public HotSyncTest {
 protected:
  long sync(sx::hotsync::HotSyncReport* report) { return sx::hotsync::run_hotsync(kUser, report); }
  sx::hotsync::DeviceInfo device() {
    sx::hotsync::DeviceInfo d;
    std::string why;
    EXPECT_TRUE(sx::hotsync::read_device(handheld(), &d, &why)) << why;
    return d;
  }
  // Runs "hotsync ARGS..." on this machine in a child process; its exit status.
  int run_program(std::vector<std::string> args, pid_t* started = nullptr) {
    const pid_t child = ::fork();
    if (child == 0) {
      std::vector<char*> argv;
      std::string program = SX_HOTSYNC_PROGRAM, machine = "--machine", root = machine_.root();
      argv.push_back(program.data());
      argv.push_back(machine.data());
      argv.push_back(root.data());
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    if (started != nullptr) {
      *started = child;
      return 0;
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return status;
  }
};

TEST_F(HotSyncRunTest, ConduitChangesAddsDeletesArchivesAndTheFileReadsBackRecordForRecord) {
  auto db = make_database(6);
  db.records[4].attributes = 0x80 | 0x08;  // archived on the handheld: purged by the conduit
  db.records[5].attributes = 0x40 | 9;     // dirty: cleared by the reset of sync flags
  put_database(db);
  register_test_conduit("exercise");
  sx::hotsync::HotSyncReport report;
  ASSERT_EQ(sync(&report), 0);
  ASSERT_EQ(report.conduits.size(), 1u);
  EXPECT_TRUE(report.conduits[0].ran);
  EXPECT_EQ(conduit_dword("SeenRecords"), 6u);
  EXPECT_EQ(conduit_dword("SeenResult"), 0u);

  const auto back = read_back();
  ASSERT_EQ(back.records.size(), 5u);
  // 0x100: changed, category 5, private
  EXPECT_EQ(back.records[0].unique_id, 0x100u);
  EXPECT_EQ(back.records[0].attributes, 0x10 | 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.records[0].data.data())),
            "changed on the desktop");
  // 0x101 deleted; 0x102 archived with its data; 0x103 untouched; 0x105 dirty bit cleared
  EXPECT_EQ(back.records[1].unique_id, 0x102u);
  EXPECT_EQ(back.records[1].attributes, 0x80 | 0x08);
  EXPECT_EQ(back.records[1].data, text_bytes("record 2"));
  EXPECT_EQ(back.records[2].unique_id, 0x103u);
  EXPECT_EQ(back.records[2].attributes, 3);
  EXPECT_EQ(back.records[2].data, text_bytes("record 3"));
  EXPECT_EQ(back.records[3].unique_id, 0x105u);
  EXPECT_EQ(back.records[3].attributes, 9);
  // the added record: a fresh ID from the seed, category 2
  EXPECT_EQ(back.records[4].unique_id, 0x1000u);
  EXPECT_EQ(back.records[4].attributes, 2);
  ASSERT_TRUE(back.app_info.has_value());
  ASSERT_EQ(back.app_info->size(), 296u);
  EXPECT_STREQ(reinterpret_cast<const char*>(back.app_info->data() + 2 + 16 * 5), "Desktop");
  EXPECT_NE(back.backed_up, 0u);

  // The log: HotSync's own lines around the conduit's, activities visible.
  ASSERT_GE(report.log.size(), 4u);
  EXPECT_NE(report.log.front().find("HotSync started for Test User"), std::string::npos);
  EXPECT_EQ(report.log[1], "[start] ");
  EXPECT_EQ(report.log[2], "[finished] Test Conduit");
  EXPECT_NE(report.log.back().find("HotSync operation completed"), std::string::npos);
  std::ifstream log_file(
      sx::paths::to_host(sx::hotsync::hotsync_dir() + "\\TestUser\\" + sx::hotsync::kLogFileName));
  std::string first_line;
  std::getline(log_file, first_line);
  EXPECT_NE(first_line.find("HotSync started"), std::string::npos);
}

TEST_F(HotSyncRunTest, FirstHotSyncIsSlowAndTheNextWithThisPcIsFast) {
  put_database(make_database(3));
  register_test_conduit("open");
  sx::hotsync::HotSyncReport report;
  ASSERT_EQ(sync(&report), 0);
  EXPECT_EQ(conduit_dword("SeenSyncType"), static_cast<DWORD>(eSlow));
  const auto after_first = device();
  EXPECT_NE(after_first.last_sync_pc, 0u);
  EXPECT_EQ(after_first.last_sync_time, sx::hotsync::desktop_palm_now());
  ASSERT_EQ(sync(&report), 0);
  EXPECT_EQ(conduit_dword("SeenSyncType"), static_cast<DWORD>(eFast));

  // The handheld synchronises with another PC: the next HotSync here is slow again.
  auto d = device();
  d.last_sync_pc ^= 0xFFFF;
  std::string why;
  ASSERT_TRUE(sx::hotsync::write_device(handheld(), d, &why));
  ASSERT_EQ(sync(&report), 0);
  EXPECT_EQ(conduit_dword("SeenSyncType"), static_cast<DWORD>(eSlow));
}

TEST_F(HotSyncRunTest, ConduitGetsItsPropertiesAndIsSkippedWithoutADatabaseOfItsCreator) {
  register_test_conduit("open");
  sx::hotsync::HotSyncReport report;
  ASSERT_EQ(sync(&report), 0);
  ASSERT_EQ(report.conduits.size(), 1u);
  EXPECT_FALSE(report.conduits[0].ran);
  EXPECT_EQ(conduit_dword("SeenSyncType"), 0xdeadbeefu);

  put_database(make_database(1));
  ASSERT_EQ(sync(&report), 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kConduitKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  char text[600] = {};
  DWORD size = sizeof text;
  ASSERT_EQ(
      RegQueryValueExA(key, "SeenPath", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
      ERROR_SUCCESS);
  EXPECT_STREQ(text, "C:\\Program Files\\Palm\\TestUser\\TestCond\\");
  size = sizeof text;
  ASSERT_EQ(
      RegQueryValueExA(key, "SeenUser", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
      ERROR_SUCCESS);
  EXPECT_STREQ(text, kUser);
  RegCloseKey(key);
}

TEST_F(HotSyncRunTest, DamagedLinesOfTheActionsFileAreSkippedAndTheGoodOnesKept) {
  ASSERT_TRUE(sx::hotsync::write_action(kUserDir, "ApplicationTest", {ePCtoHH, true}));
  fs::path file;
  for (const auto& entry : fs::recursive_directory_iterator(machine_.root())) {
    if (entry.path().filename() == "SyncActions.txt") file = entry.path();
  }
  ASSERT_FALSE(file.empty());
  std::ofstream(file, std::ios::app)
      << "ApplicationA once 99999999999\nApplicationB sometimes 1\nApplicationC once -1\n"
      << "ApplicationD once\n"
      << std::string(300, '\0') << "\nApplicationE once 2 extra\n";
  EXPECT_EQ(sx::hotsync::read_action(kUserDir, "ApplicationTest").sync_type, ePCtoHH);
  for (const char* key : {"ApplicationA", "ApplicationB", "ApplicationC", "ApplicationD"}) {
    EXPECT_EQ(sx::hotsync::read_action(kUserDir, key).sync_type, -1) << key;
  }
  EXPECT_EQ(sx::hotsync::read_action(kUserDir, "ApplicationE").sync_type, 2);
  // Written again, the file keeps just what reads.
  ASSERT_TRUE(sx::hotsync::write_action(kUserDir, "ApplicationE", {-1, false}));
  std::ifstream in(file);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "ApplicationTest default 3\n");
}

TEST_F(HotSyncRunTest, ActionChosenOnceAppliesToOneHotSyncAndADefaultToAll) {
  put_database(make_database(1));
  register_test_conduit("open");
  sx::window::set_host(sx::window::Host::kScripted);
  sx::window::clear_script();
  sx::window::expect_dialog(
      sx::window::DialogMatch::by_id(CHotSyncActionDlg::kDialogId),
      {sx::window::click(CHotSyncActionDlg::kPCOverwritesHH), sx::window::click(IDOK)});
  sx::hotsync::ConduitAction chosen;
  ASSERT_EQ(sx::hotsync::change_action(kUser, "ApplicationTest", &chosen), 0);
  EXPECT_EQ(chosen.sync_type, ePCtoHH);
  EXPECT_FALSE(chosen.permanent);
  sx::hotsync::HotSyncReport report;
  ASSERT_EQ(sync(&report), 0);
  EXPECT_EQ(conduit_dword("SeenSyncType"), static_cast<DWORD>(ePCtoHH));
  ASSERT_EQ(sync(&report), 0);
  EXPECT_EQ(conduit_dword("SeenSyncType"), static_cast<DWORD>(eFast));

  sx::window::expect_dialog(
      sx::window::DialogMatch::by_id(CHotSyncActionDlg::kDialogId),
      {sx::window::click(CHotSyncActionDlg::kDoNothing),
       sx::window::check(CHotSyncActionDlg::kMakeDefault), sx::window::click(IDOK)});
  ASSERT_EQ(sx::hotsync::change_action(kUser, "ApplicationTest", &chosen), 0);
  ASSERT_EQ(sync(&report), 0);
  ASSERT_EQ(sync(&report), 0);
  EXPECT_EQ(conduit_dword("SeenSyncType"), static_cast<DWORD>(eDoNothing));
  sx::window::expect_dialog(sx::window::DialogMatch::by_id(CHotSyncActionDlg::kDialogId),
                            {sx::window::click(IDCANCEL)});
  EXPECT_EQ(sx::hotsync::change_action(kUser, "ApplicationTest", &chosen), -1);
  EXPECT_EQ(sx::hotsync::read_action(kUserDir, "ApplicationTest").sync_type, eDoNothing);
  sx::window::clear_script();

  const auto listing = sx::hotsync::list_conduits();
  ASSERT_EQ(listing.size(), 1u);
  EXPECT_EQ(listing[0].name, "Test Conduit");
  EXPECT_EQ(listing[0].version, 0x108u);
}

TEST_F(HotSyncRunTest, DamagedDatabaseReachesTheConduitAsAnErrorAndTheLog) {
  put_database(make_database(2));
  std::filesystem::resize_file(db_file(), 90);  // the record list is cut
  register_test_conduit("open");
  sx::hotsync::HotSyncReport report;
  EXPECT_EQ(sync(&report), SYNCERR_DAMAGED_DATABASE);
  EXPECT_EQ(conduit_dword("SeenResult"), static_cast<DWORD>(SYNCERR_DAMAGED_DATABASE));
  bool logged = false;
  for (const auto& line : report.log)
    logged |= line.find("TestDB.pdb is damaged") != std::string::npos;
  EXPECT_TRUE(logged);
  EXPECT_EQ(std::filesystem::file_size(db_file()), 90u);  // left as it was
  for (const auto& line : report.log)                     // reported once, by the sync manager
    EXPECT_EQ(line.find("was not synchronized"), std::string::npos) << line;
  EXPECT_TRUE(report.log.back().ends_with(" HotSync operation failed")) << report.log.back();
}

TEST_F(HotSyncRunTest, ADamagedDatabaseNoConduitOpensFailsTheHotSyncWithAWord) {
  put_database(make_database(2));
  std::filesystem::resize_file(db_file(), 90);
  register_test_conduit("open");
  auto other = make_database(1, "Other");
  other.creator = 0x4f746872;  // no conduit for it
  put_database(other);
  std::filesystem::resize_file(db_file("Other"), 40);  // shorter than a header
  sx::hotsync::HotSyncReport report;
  EXPECT_EQ(sync(&report), SYNCERR_DAMAGED_DATABASE);
  int mentioned = 0;
  for (const auto& line : report.log)
    mentioned += line.find("Other.pdb is damaged") != std::string::npos;
  EXPECT_EQ(mentioned, 1);
  EXPECT_TRUE(report.log.back().ends_with(" HotSync operation failed")) << report.log.back();
}

TEST_F(HotSyncRunTest, AHotSyncThatCannotWriteTheHandheldFailsAndRecordsNothing) {
  put_database(make_database(2));
  register_test_conduit("open");
  sx::hotsync::inject_fault("WriteDevice", 1);
  sx::hotsync::HotSyncReport report;
  EXPECT_EQ(sync(&report), SYNCERR_IO);
  ASSERT_GE(report.log.size(), 2u);
  EXPECT_EQ(report.log[report.log.size() - 2],
            "[error] HotSync: the handheld's device file cannot be written");
  EXPECT_TRUE(report.log.back().ends_with(" HotSync operation failed")) << report.log.back();
  EXPECT_EQ(device().last_sync_pc, 0u);
  ASSERT_EQ(sync(&report), 0);  // the next one, with the disk back, completes
  EXPECT_TRUE(report.log.back().ends_with(" HotSync operation completed")) << report.log.back();
  EXPECT_NE(device().last_sync_pc, 0u);
}

TEST_F(HotSyncRunTest, AHandheldInAHotSyncElsewhereIsNotSynchronizedTwice) {
  // Another process holds the handheld's lock (an open file description of its own).
  const int other =
      ::open((handheld() / sx::hotsync::kLockFileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX), 0);
  sx::hotsync::HotSyncReport report;
  EXPECT_NE(sync(&report), 0);
  ASSERT_EQ(report.log.size(), 1u);
  EXPECT_EQ(report.log[0], "HotSync: a HotSync of this handheld is already in progress");
  ::close(other);
  EXPECT_EQ(sync(&report), 0);
}

TEST_F(HotSyncRunTest, TemporariesOfKilledWritersAreRemovedByTheNextWrite) {
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const fs::path stale = db_file().string() + ".tmp" + std::to_string(gone);
  const fs::path alive = db_file().string() + ".tmp" + std::to_string(::getppid());
  std::ofstream(stale) << "half a database";
  std::ofstream(alive) << "being written";
  put_database(make_database(1));
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(alive));
}

TEST_F(HotSyncRunTest, KilledHotSyncLeavesTheOldFile) {
  put_database(make_database(4));
  const auto before = sx::hotsync::serialize_pdb(read_back());
  register_test_conduit("kill");
  const int status = run_program({"--sync", kUser});
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_EQ(conduit_dword("SeenRecords"), 4u);  // it got as far as reading and writing
  EXPECT_EQ(sx::hotsync::serialize_pdb(read_back()), before);
  EXPECT_EQ(device().last_sync_pc, 0u);  // the HotSync did not end
}

TEST_F(HotSyncRunTest, ProgramRunsAHotSyncAndPrintsHelp) {
  put_database(make_database(2));
  register_test_conduit("open");
  int status = run_program({"--sync", kUser});
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(conduit_dword("SeenSyncType"), static_cast<DWORD>(eSlow));
  status = run_program({"--help"});
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  status = run_program({"--sync"});
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
}

TEST_F(HotSyncRunTest, RestartMessageFromAnotherProcessIsAnsweredAndHotSyncManagerCloses) {
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    ::alarm(20);  // never hang the test run
    std::string program = SX_HOTSYNC_PROGRAM, machine = "--machine", root = machine_.root();
    char* argv[] = {program.data(), machine.data(), root.data(), nullptr};
    ::execv(program.c_str(), argv);
    ::_exit(127);
  }
  ::close(out[1]);
  char line[64] = {};
  ASSERT_GT(::read(out[0], line, sizeof line - 1), 0);  // "HotSync Manager is running ..."
  HWND hotsync = FindWindowA(sx::hotsync::kWindowClass, nullptr);
  ASSERT_NE(hotsync, nullptr);
  EXPECT_EQ(SendMessageA(hotsync, sx::hotsync::kRestartMessage, 0, 0), 0);  // not a restart
  EXPECT_NE(SendMessageA(hotsync, sx::hotsync::kRestartMessage, 1, 0), 0);
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::close(out[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(FindWindowA(sx::hotsync::kWindowClass, nullptr), nullptr);
}

}  // namespace
}  // namespace hotsync_test
