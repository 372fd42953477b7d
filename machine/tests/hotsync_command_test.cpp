// The machine tool's HotSync commands as a person uses them: each call is its own process.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

#include "registry_test_util.h"
#include "scribbix_db.h"
#include "sx/hotsync.h"
#include "sx/testing/temp_machine.h"
#include "win32/winuser.h"

namespace sx::registry::testing {
namespace {

class HotSyncCommandTest : public ::testing::Test {
 protected:
  sx::testing::TempMachine machine_;
};

TEST_F(HotSyncCommandTest, InstallAddUserPutListAndSync) {
  ToolResult r = run_tool({"hotsync", "install"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_TRUE(std::filesystem::exists(machine_.c("Program Files\\Palm\\HotSync.exe")));
  EXPECT_TRUE(std::filesystem::exists(machine_.c("Program Files\\Palm\\instaide.dll")));
  r = run_tool({"hotsync", "add-user", "Jane M\xC3\xBCller", "--id", "12"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  // The columns line up on a terminal: the name takes 24 columns, not 24 bytes.
  EXPECT_EQ(run_tool({"hotsync", "users"}).output,
            "Jane M\xC3\xBCller              id 12         directory JaneMller\n");

  sx::hotsync::PdbDatabase db = empty_scribbix_db();
  db.records.push_back({0x43, 0x10, {'h', 'i', 0}});
  db.records.push_back({0x88, 0x11, {'o', 'l', 'd'}});
  std::string why;
  const auto file = machine_.root() / "scrib.pdb";
  ASSERT_TRUE(sx::hotsync::save_database(file, db, &why)) << why;
  r = run_tool({"hotsync", "put", "Jane M\xC3\xBCller", file.string()});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  r = run_tool({"hotsync", "list", "Jane M\xC3\xBCller"});
  EXPECT_NE(r.output.find(
                "ScribbixDB                       creator 'VSXq' type 'DATA' version 2, 2 records"),
            std::string::npos)
      << r.output;
  r = run_tool({"hotsync", "list", "Jane M\xC3\xBCller", "ScribbixDB"});
  EXPECT_NE(r.output.find("      0  0x000010   0x43  -u--     3     3  hi."), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("      1  0x000011   0x88  d--a     -     3  old"), std::string::npos)
      << r.output;
  r = run_tool({"hotsync", "sync", "Jane M\xC3\xBCller"});
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("HotSync operation completed"), std::string::npos) << r.output;
  EXPECT_EQ(run_tool({"hotsync", "list", "Jane M\xC3\xBCller"}).output.find("last HotSync never"),
            std::string::npos);
}

TEST_F(HotSyncCommandTest, MistakesAreRefusedWithExitCodeOne) {
  EXPECT_EQ(run_tool({"hotsync", "add-user", "Nobody"}).exit_code, 1);  // HotSync not installed
  ASSERT_EQ(run_tool({"hotsync", "install"}).exit_code, 0);
  EXPECT_EQ(run_tool({"hotsync", "list", "Nobody"}).exit_code, 1);
  EXPECT_EQ(run_tool({"hotsync", "frobnicate"}).exit_code, 1);
  ToolResult help = run_tool({"hotsync", "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.output.find("Usage: sxmachine hotsync"), std::string::npos) << help.output;
  EXPECT_NE(help.output.find("press HotSync for USER"), std::string::npos) << help.output;
  std::ofstream(machine_.root() / "bad.pdb") << "short";
  ASSERT_EQ(run_tool({"hotsync", "add-user", "Ann"}).exit_code, 0);
  ToolResult bad = run_tool({"hotsync", "put", "Ann", (machine_.root() / "bad.pdb").string()});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.output.find("shorter than the 78-byte header"), std::string::npos) << bad.output;
}

std::vector<std::string> user_names() {
  std::vector<sx::hotsync::UserEntry> users;
  std::string why;
  EXPECT_TRUE(sx::hotsync::read_users(&users, &why)) << why;
  std::vector<std::string> names;
  for (const auto& u : users) names.push_back(u.name);
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(HotSyncCommandTest, UsersAddedByTwentyProcessesAtOnceAllStay) {
  ASSERT_EQ(run_tool({"hotsync", "install"}).exit_code, 0);
  std::string script;
  for (int i = 1; i <= 20; ++i) {
    script += shell_quoted(SXMACHINE_PATH) + " --machine " +
              shell_quoted(machine_.root().string()) + " hotsync add-user 'User " +
              std::to_string(i) + "' >/dev/null 2>&1 &\n";
  }
  script += "wait\n";
  ASSERT_EQ(std::system(script.c_str()), 0);
  std::vector<std::string> expected;
  for (int i = 1; i <= 20; ++i) expected.push_back("User " + std::to_string(i));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(user_names(), expected);
  std::vector<std::string> left;  // no temporary of a writer stays
  for (const auto& entry : std::filesystem::directory_iterator(machine_.c("Program Files\\Palm")))
    left.push_back(entry.path().filename().string());
  EXPECT_EQ(
      std::count_if(left.begin(), left.end(),
                    [](const std::string& n) { return n.find(".new-") != std::string::npos; }),
      0);
}

TEST_F(HotSyncCommandTest, AUsersDirectoryIsOnePlainFolderNameOfItsOwn) {
  ASSERT_EQ(run_tool({"hotsync", "install"}).exit_code, 0);
  for (const char* bad : {"../../outside", "..", ".", "a/b", "a\\b", "C:x", "nul", "dot."}) {
    ToolResult r = run_tool({"hotsync", "add-user", std::string("Bad ") + bad, "--dir", bad});
    EXPECT_EQ(r.exit_code, 1) << bad;
    EXPECT_NE(r.output.find("ERROR: The directory \"" + std::string(bad) + "\""), std::string::npos)
        << r.output;
  }
  EXPECT_FALSE(std::filesystem::exists(machine_.root().parent_path() / "outside"));
  EXPECT_FALSE(std::filesystem::exists(machine_.root() / "outside"));
  EXPECT_TRUE(user_names().empty());

  ASSERT_EQ(run_tool({"hotsync", "add-user", "Jo", "--dir", "Shared"}).exit_code, 0);
  ToolResult twin = run_tool({"hotsync", "add-user", "Al", "--dir", "SHARED"});
  EXPECT_EQ(twin.exit_code, 1);
  EXPECT_NE(twin.output.find("is the user \"Jo\"'s already (drive C: does not tell letter case"),
            std::string::npos)
      << twin.output;
  // A directory made from the name steps aside from another that differs only in case.
  ASSERT_EQ(run_tool({"hotsync", "add-user", "shared"}).exit_code, 0);
  std::vector<sx::hotsync::UserEntry> users;
  std::string why;
  ASSERT_TRUE(sx::hotsync::read_users(&users, &why)) << why;
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(users[1].directory, "shared2");
}

TEST_F(HotSyncCommandTest, ADamagedUserListIsRefusedWholeAndKeptAsideByAReinstall) {
  ASSERT_EQ(run_tool({"hotsync", "install"}).exit_code, 0);
  ASSERT_EQ(run_tool({"hotsync", "add-user", "Jane"}).exit_code, 0);
  const auto users_dat = machine_.c("Program Files\\Palm\\users.dat");
  const std::string whole = read_file(users_dat);
  const std::string cut = whole.substr(0, whole.size() - 4);  // inside the last name
  write_file(users_dat, cut);
  ToolResult r = run_tool({"hotsync", "users"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("is damaged (line 2: the file ends inside this line"), std::string::npos)
      << r.output;
  EXPECT_EQ(run_tool({"hotsync", "add-user", "Al"}).exit_code, 1);
  EXPECT_EQ(read_file(users_dat), cut);  // nothing replaced it, nothing made the cut permanent

  r = run_tool({"hotsync", "install"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("it is kept as users.dat.damaged-1 and HotSync starts with no users"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(read_file(machine_.c("Program Files\\Palm\\users.dat.damaged-1")), cut);
  EXPECT_TRUE(user_names().empty());
}

class HotSyncRunCommandTest : public HotSyncCommandTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(run_tool({"hotsync", "install"}).exit_code, 0);
    ASSERT_EQ(run_tool({"hotsync", "add-user", "Jane"}).exit_code, 0);
  }
};

TEST_F(HotSyncRunCommandTest, TwoHotSyncsOfOneHandheldDoNotBothRun) {
  std::string why;
  ASSERT_TRUE(sx::hotsync::begin_session(sx::hotsync::handheld_dir("Jane"),
                                         machine_.root() / "log.txt", 1, &why))
      << why;
  ToolResult second = run_tool({"hotsync", "sync", "Jane"});
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_NE(second.output.find("a HotSync of this handheld is already in progress"),
            std::string::npos)
      << second.output;
  (void)sx::hotsync::end_session(false);
  ToolResult after = run_tool({"hotsync", "sync", "Jane"});
  EXPECT_EQ(after.exit_code, 0) << after.output;
}

TEST_F(HotSyncRunCommandTest, AHotSyncThatCannotWriteItsLogFails) {
  // Where the log goes there is a folder: no write to it can succeed, for root neither.
  std::filesystem::create_directories(machine_.c("Program Files\\Palm\\Jane\\HotSync Log.txt"));
  ToolResult r = run_tool({"hotsync", "sync", "Jane"});
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("[error] HotSync: the HotSync log"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("HotSync operation failed"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("HotSync operation completed"), std::string::npos) << r.output;
}

TEST_F(HotSyncRunCommandTest, ADatabaseTooDamagedToIdentifyFailsTheHotSync) {
  write_file(sx::hotsync::handheld_dir("Jane") / "ScribbixDB.pdb", "Scribbix");
  ToolResult r = run_tool({"hotsync", "sync", "Jane"});
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("[error] HotSync: the handheld's database file ScribbixDB.pdb is "
                          "damaged: file of 8 bytes is shorter than the 78-byte header; it was not "
                          "synchronized"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("HotSync operation failed"), std::string::npos) << r.output;
}

TEST_F(HotSyncRunCommandTest, ResultsAndMistakesOfTheHotSyncProgramReadAsWords) {
  const std::string root = machine_.root().string();
  ToolResult r = run_program(HOTSYNC_PATH, {"--machine", root, "--action", "Nobody", "Key"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("ERROR: There is no HotSync user \"Nobody\"."), std::string::npos)
      << r.output;
  r = run_program(HOTSYNC_PATH, {"--machine", root, "--action", "Jane", "ApplicationNone"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("ERROR: No conduit is registered under \"ApplicationNone\""),
            std::string::npos)
      << r.output;
  r = run_program(HOTSYNC_PATH, {"--machine", root, "--sync", "Jane", "--list"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("Give one of --resident, --sync"), std::string::npos) << r.output;
  r = run_program(HOTSYNC_PATH, {"--machine", root, "--action", "Jane"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("ERROR: --action needs 2 values"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("16387"), std::string::npos) << r.output;
}

// A resident HotSync Manager started as its own process; waits (in real time: it is another
// process) until its window is on the machine's window list.
class Resident {
 public:
  explicit Resident(const std::filesystem::path& root) {
    const std::string machine = root.string();
    const char* argv[] = {HOTSYNC_PATH, "--machine", machine.c_str(), "--resident", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    EXPECT_EQ(
        posix_spawn(&pid_, HOTSYNC_PATH, &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 2000 && FindWindowA(sx::hotsync::kWindowClass, nullptr) == nullptr; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ~Resident() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      wait();
    }
  }
  int wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = 0;
};

std::vector<std::string> window_files(const std::filesystem::path& root) {
  std::vector<std::string> files;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(root / "windows", ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->path().extension() == ".win") files.push_back(it->path().filename().string());
  }
  return files;
}

TEST_F(HotSyncRunCommandTest, OneResidentHotSyncManagerWhichClosesTheWindowsWay) {
  const std::string root = machine_.root().string();
  {
    Resident first(machine_.root());
    ASSERT_NE(FindWindowA(sx::hotsync::kWindowClass, nullptr), nullptr);
    ToolResult second = run_program(HOTSYNC_PATH, {"--machine", root, "--resident"});
    EXPECT_EQ(second.exit_code, 1);
    EXPECT_NE(second.output.find("HotSync Manager is running on this machine already"),
              std::string::npos)
        << second.output;
    ToolResult closed = run_program(HOTSYNC_PATH, {"--machine", root, "--close"});
    EXPECT_EQ(closed.exit_code, 0) << closed.output;
    EXPECT_EQ(closed.output, "HotSync Manager closed.\n");
    EXPECT_EQ(first.wait(), 0);
    EXPECT_TRUE(window_files(machine_.root()).empty());
  }
  {
    Resident again(machine_.root());  // Ctrl+C and SIGTERM close it as WM_CLOSE does
    ASSERT_NE(FindWindowA(sx::hotsync::kWindowClass, nullptr), nullptr);
    ::kill(again.pid(), SIGTERM);
    EXPECT_EQ(again.wait(), 0);
    EXPECT_TRUE(window_files(machine_.root()).empty());
  }
  EXPECT_EQ(run_program(HOTSYNC_PATH, {"--machine", root, "--close"}).output,
            "HotSync Manager is not running.\n");
}

}  // namespace
}  // namespace sx::registry::testing
