// A new user's first hour: the programs run as processes with what a person types, on temporary
// machines. Each case was once a trap (a command accepted that broke the machine, a name that
// could not synchronise, an unknown profile taken as the default, raw or internal messages).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "machine_files.h"
#include "registry_test_util.h"
#include "scribbix_db.h"
#include "sx/hotsync.h"
#include "sx/testing/temp_machine.h"

namespace sx::registry::testing {
namespace {

namespace fs = std::filesystem;

class FirstHourTest : public ::testing::Test {
 protected:
  // A text of the terminal has no control bytes but line ends (what damaged files must not print).
  static bool printable(const std::string& utf8) {
    for (unsigned char c : utf8) {
      if (c < 0x20 && c != '\n' && c != '\t') return false;
    }
    return true;
  }
  // Puts an empty "ScribbixDB" on the user's handheld, so that the conduit runs.
  void put_notes_database(const std::string& user) {
    const fs::path file = machine_.root() / "scribbix.pdb";
    std::string why;
    ASSERT_TRUE(sx::hotsync::save_database(file, empty_scribbix_db(), &why)) << why;
    ToolResult r = run_tool({"hotsync", "put", user, file.string()});
    ASSERT_EQ(r.exit_code, 0) << r.output;
  }
  sx::testing::TempMachine machine_;
};

TEST_F(FirstHourTest, AUserNamedLikeADeviceGetsAFolderOfItsOwnAndEveryReaderStillReadsTheList) {
  ASSERT_EQ(run_tool({"hotsync", "install"}).exit_code, 0);
  for (const char* name : {"CON", "aux", "Com1", "LPT9", "nul"}) {
    ToolResult r = run_tool({"hotsync", "add-user", name});
    EXPECT_EQ(r.exit_code, 0) << name << ": " << r.output;
  }
  ToolResult users = run_tool({"hotsync", "users"});
  ASSERT_EQ(users.exit_code, 0) << users.output;
  for (const char* folder : {"directory CON2\n", "directory aux2\n", "directory Com12\n",
                             "directory LPT92\n", "directory nul2\n"}) {
    EXPECT_NE(users.output.find(folder), std::string::npos) << users.output;
  }
  // Installing HotSync again keeps the list (a damaged one would be set aside).
  ToolResult again = run_tool({"hotsync", "install"});
  EXPECT_EQ(again.output.find("kept as"), std::string::npos) << again.output;
  put_notes_database("CON");
  ASSERT_EQ(run_tool({"conduit", "install"}).exit_code, 0);
  ToolResult sync = run_tool({"hotsync", "sync", "CON"});
  EXPECT_NE(sync.output.find("HotSync operation"), std::string::npos) << sync.output;
  EXPECT_EQ(sync.output.find("name of a device"), std::string::npos) << sync.output;
}

TEST_F(FirstHourTest, AUserWithANonAsciiNameSynchronisesAndANameWithoutAnAnsiFormIsRefused) {
  const std::string zoe = "Zo\xC3\xAB M\xC3\xBCller";  // UTF-8, as a terminal gives it
  ToolResult r = run_tool({"system", "install", "--user", zoe, "--profile", "B\xC3\xBCro"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  // The machine keeps names in its code page, converted once: the pairing, the profile and the
  // store file all read as the conduit reads them.
  EXPECT_EQ(query_path(HKEY_CURRENT_USER, "Software\\Vorlan Software\\Scribbix\\Profiles",
                       "Zo\xEB M\xFCller"),
            std::string("B\xFCro\0", 5));
  EXPECT_TRUE(
      fs::exists(machine_.c("Program Files\\Vorlan\\Scribbix\\Zo\xEB M\xFCller Vorlan.pst")));
  put_notes_database(zoe);
  ToolResult sync = run_tool({"hotsync", "sync", zoe});
  EXPECT_EQ(sync.exit_code, 0) << sync.output;
  EXPECT_NE(sync.output.find("ApplicationVorScrib: slow sync, completed"), std::string::npos)
      << sync.output;
  EXPECT_EQ(sync.output.find("Failed to open database"), std::string::npos) << sync.output;

  // A name that Windows-1252 cannot hold is refused before anything is installed.
  sx::testing::TempMachine other;
  r = run_tool({"system", "install", "--user", "\xE6\x97\xA5\xE6\x9C\xAC"});  // two CJK letters
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("ERROR: The user name \"\xE6\x97\xA5\xE6\x9C\xAC\" has characters that "
                          "the machine's code page cannot hold"),
            std::string::npos)
      << r.output;
  EXPECT_FALSE(fs::exists(other.c("Program Files\\Palm")));
}

TEST_F(FirstHourTest, AUserNameThatCannotNameAFileIsRefusedBeforeAnythingIsInstalled) {
  const auto before = files_of(machine_.root());
  ToolResult r = run_tool({"system", "install", "--user", "O\"Brien"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("ERROR: The user name \"O\"Brien\" cannot name the user's notes store "
                          "\"O\"Brien Vorlan.pst\""),
            std::string::npos)
      << r.output;
  EXPECT_EQ(files_of(machine_.root()), before);
}

TEST_F(FirstHourTest, AnUnknownProfileIsAnErrorAndAProfileOutlookDidNotOpenIsNotWorkedOn) {
  ASSERT_EQ(run_tool({"system", "install", "--user", "Jo"}).exit_code, 0);
  const std::string root = machine_.root().string();
  ToolResult r = run_program(SXFOLDERS_PATH, {"--machine", root, "--profile", "Nope", "add-post",
                                              "Vorlan\\Scribbix", "--subject", "lost"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("ERROR: There is no profile \"Nope\"; the profiles are \"Outlook\"."),
            std::string::npos)
      << r.output;
  r = run_program(SXFOLDERS_PATH, {"--machine", root, "--profile", "Nope", "check"});
  EXPECT_EQ(r.exit_code, 1);
  // A second profile: Outlook opens the default one as it starts (its add-ins), and says so.
  ASSERT_EQ(run_tool({"outlook", "install", "--profile", "Second", "--store", "C:\\second.pst"})
                .exit_code,
            0);
  ASSERT_EQ(run_tool({"reg", "add",
                      "HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging "
                      "Subsystem\\Profiles",
                      "/v", "DefaultProfile", "/d", "Outlook", "/f"})
                .exit_code,
            0);
  r = run_program(SXFOLDERS_PATH, {"--machine", root, "--profile", "Second", "folders"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("Outlook is logged on to the profile \"Outlook\""), std::string::npos)
      << r.output;
  r = run_program(SXFOLDERS_PATH, {"--machine", root, "items", "Vorlan\\Scribbix"});
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output.find("lost"), std::string::npos) << r.output;
}

TEST_F(FirstHourTest, ARefusedRegistryChangeLeavesNoKeyBehind) {
  const std::string long_name(16384, 'v');
  ToolResult r = run_tool({"reg", "add", "HKCU\\Made\\For\\It", "/v", long_name, "/d", "x"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(run_tool({"reg", "query", "HKCU\\Made"}).exit_code, 1);
  // A key that was there stays; only what the refused change made goes.
  ASSERT_EQ(run_tool({"reg", "add", "HKCU\\Kept"}).exit_code, 0);
  EXPECT_EQ(run_tool({"reg", "add", "HKCU\\Kept\\New", "/v", long_name, "/d", "x"}).exit_code, 1);
  EXPECT_EQ(run_tool({"reg", "query", "HKCU\\Kept"}).exit_code, 0);
  EXPECT_EQ(run_tool({"reg", "query", "HKCU\\Kept\\New"}).exit_code, 1);
}

TEST_F(FirstHourTest, FilesThatAreNotWhatACommandNeedsAreToldInWords) {
  ASSERT_EQ(run_tool({"system", "install", "--user", "Jo"}).exit_code, 0);
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const fs::path text = machine_.root() / "passwd";
  write_file(text, "root:x:0:0:root:/root:/bin/bash\n");
  for (const Case& c : std::vector<Case>{
           {{"conduit", "install", "--file", machine_.root().string()},
            "ERROR: " + machine_.root().string() + " is a folder, not the conduit's library"},
           {{"conduit", "install", "--file", "/no/such/file"}, "ERROR: There is no file /no/such"},
           {{"scribbixout", "install", "--file", machine_.root().string()}, "is a folder"},
           {{"hotsync", "put", "Jo", text.string()},
            "ERROR: " + text.string() + " is not a Palm database file"},
           {{"hotsync", "sync", "Nobody"},
            "ERROR: The HotSync did not start: no HotSync user \"Nobody\"."},
       }) {
    std::vector<std::string> line = {"--machine", machine_.root().string()};
    line.insert(line.end(), c.args.begin(), c.args.end());
    ToolResult r = run_program(SXMACHINE_PATH, line);
    EXPECT_EQ(r.exit_code, 1) << c.message;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Invalid argument"), std::string::npos) << r.output;
  }
  ToolResult r = run_program(HOTSYNC_PATH, {"--machine", machine_.root().string(), "--sync", "No"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("ERROR: The HotSync did not start: no HotSync user \"No\"."),
            std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("HotSync log:"), std::string::npos) << r.output;
}

TEST_F(FirstHourTest, AnOptionOfTwoValuesReadsAsItsHelpSaysInItsHelpAndItsMistakes) {
  ToolResult help = run_program(HOTSYNC_PATH, {"--help"});
  EXPECT_NE(help.output.find("  --action USER KEY  "), std::string::npos) << help.output;
  EXPECT_EQ(help.output.find(" x 2"), std::string::npos) << help.output;
  ASSERT_EQ(run_tool({"hotsync", "install"}).exit_code, 0);
  ToolResult r = run_program(HOTSYNC_PATH, {"--machine", machine_.root().string(), "--action", "Jo",
                                            "ApplicationVorScrib", "extra"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("ERROR: --action takes 2 values (USER KEY), and 3 were given. A value "
                          "that holds spaces needs quotes."),
            std::string::npos)
      << r.output;
}

TEST_F(FirstHourTest, ADamagedDeviceFileIsToldWithoutItsBytesAndWithTheMachinesOwnPath) {
  ASSERT_EQ(run_tool({"system", "install", "--user", "Jo"}).exit_code, 0);
  put_notes_database("Jo");
  std::string garbage = "\x02\xEF|\xD6\x1B[2J\x07\xAD";  // bytes that would clear a terminal
  garbage += std::string(200, '\xFF');
  write_file(sx::hotsync::handheld_dir("Jo") / "device.txt", garbage);
  for (const std::vector<std::string>& args : {std::vector<std::string>{"hotsync", "list", "Jo"},
                                               {"hotsync", "sync", "Jo"},
                                               {"hotsync", "preview", "Jo"}}) {
    std::vector<std::string> line = {"--machine", machine_.root().string()};
    line.insert(line.end(), args.begin(), args.end());
    ToolResult r = run_program(SXMACHINE_PATH, line);
    EXPECT_TRUE(printable(r.output)) << args.back() << ": " << r.output;
    EXPECT_NE(r.output.find("bad line \"\\x02\\xEF|\\xD6\\x1B[2J\\x07\\xAD\\xFF"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find((machine_.root() / "handhelds").string()), std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("sxpreview-"), std::string::npos) << r.output;
  }
}

TEST_F(FirstHourTest, WindowEntriesThatKilledWritersLeftAreRemovedByTheNextWriter) {
  ASSERT_EQ(run_tool({"outlook", "install"}).exit_code, 0);
  // A process that is gone: its pid names the leftovers.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);
  const fs::path windows = machine_.root() / "windows";
  fs::create_directories(windows);
  const fs::path stale = windows / ("00001234000000A0.win.tmp" + std::to_string(child));
  const fs::path live = windows / ("00001234000000A4.win.tmp" + std::to_string(::getpid()));
  write_file(stale, "pid 1\n");
  write_file(live, "pid 1\n");
  // Outlook's main window is an entry of the list: sxfolders starts Outlook.
  ToolResult r = run_program(SXFOLDERS_PATH, {"--machine", machine_.root().string(), "folders"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(live));  // a writer that still runs may still rename it
}

TEST_F(FirstHourTest, ADialogNobodyCanAnswerIsToldAtOnceWithHowLongItWaits) {
  ASSERT_EQ(run_tool({"outlook", "install"}).exit_code, 0);
  ASSERT_EQ(run_tool({"outlook", "prompt", "on"}).exit_code, 0);
  // No terminal and no window host asked for: the profile chooser cannot be answered.
  ToolResult r =
      run_program(SXMACHINE_PATH, {"--machine", machine_.root().string(), "outlook", "run"},
                  "env -u SX_WINDOW_HOST");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("the dialog \"Choose Profile\" needs an answer, and nobody can give one "
                          "here (no terminal): it is cancelled."),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("ERROR: Outlook shows no explorer: it asks for a profile when it "
                          "starts"),
            std::string::npos)
      << r.output;
}

}  // namespace
}  // namespace sx::registry::testing
