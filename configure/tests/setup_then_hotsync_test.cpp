// Each way a person or a script sets up or upgrades the notes folder, run as the programs run on a
// machine (sxconfigure, a person's `outlook` and HotSync Manager, each a process of its own, with
// nobody to answer their messages), then a HotSync: the handheld keeps every note it had, under
// the record it had, and Outlook shows each of them once.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <thread>

#include "configure_fixture.h"
#include "handheld_notes.h"
#include "hotsync_files.h"
#include "registry_test_util.h"
#include "sx/paths.h"

namespace sx::configure::testing {
namespace {

using sx::registry::testing::run_program;
using sx::registry::testing::shell_quoted;
using sx::registry::testing::ToolResult;

constexpr char kUser[] = "Palm User";
const std::vector<std::string> kTexts = {"Buy milk",         "Call the plumber", "Pay the rent",
                                         "Water the plants", "Book the train",   "Fix the bike"};

// The program `outlook` for a person, up while a test runs other programs beside it.
class PersonsOutlook {
 public:
  explicit PersonsOutlook(const std::filesystem::path& root)
      : output_(root / "person.txt"),
        input_(
            ::popen(("SX_WINDOW_HOST=none " + shell_quoted(SX_OUTLOOK_PROGRAM) + " --machine " +
                     shell_quoted(root.string()) + " > " + shell_quoted(output_.string()) + " 2>&1")
                        .c_str(),
                    "w")) {}
  ~PersonsOutlook() {
    if (input_ != nullptr) Quit();
  }
  // Waits (in real time: it is another process) until its screen shows `text`.
  bool Shows(const std::string& text) {
    for (int waited = 0; waited < 3000; ++waited) {
      std::ifstream in(output_);
      if (std::string(std::istreambuf_iterator<char>(in), {}).find(text) != std::string::npos)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  int Quit() {
    std::fputs("quit\n", input_);
    const int status = ::pclose(input_);
    input_ = nullptr;
    return status;
  }

 private:
  std::filesystem::path output_;
  FILE* input_;
};

class SetupThenHotSyncTest : public ConfigureTest {
 protected:
  // The machine as setup leaves it, with six notes made on the handheld and carried to Outlook by
  // a first HotSync.
  void SetUp() override {
    ConfigureTest::SetUp();
    Machine({"system", "install", "--user", kUser});
    PutHandheldNotes(kTexts);
    sx::hotsync::HotSyncReport first;
    ASSERT_EQ(sx::hotsync::run_hotsync(kUser, &first), 0);
    handheld_ = HandheldNotes();
    ASSERT_EQ(handheld_.size(), kTexts.size());
    ExpectOutlookHoldsEveryNoteOnce();
    state_ = UserStateFile(kUser);
    ASSERT_TRUE(std::filesystem::exists(sx::paths::to_host(state_))) << state_;
  }

  ToolResult Configure(const std::vector<std::string>& args, const std::string& environment = "") {
    std::vector<std::string> line = {"--machine", machine_.root().string()};
    line.insert(line.end(), args.begin(), args.end());
    return run_program(SXCONFIGURE_PATH, line, "SX_WINDOW_HOST=none " + environment);
  }
  ToolResult HotSync() {
    return run_program(SX_HOTSYNC_PROGRAM, {"--machine", machine_.root().string(), "--sync", kUser},
                       "SX_WINDOW_HOST=none");
  }
  static void ExpectOutlookHoldsEveryNoteOnce() {
    auto notes = Notes();
    ASSERT_TRUE(notes);
    std::sort(notes->begin(), notes->end());
    std::vector<std::string> expected = kTexts;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(*notes, expected);
  }
  // A HotSync after the setup keeps every handheld note in its record, and Outlook has each once.
  void ExpectAHotSyncLosesNoNote() {
    const ToolResult sync = HotSync();
    EXPECT_EQ(sync.exit_code, 0) << sync.output;
    EXPECT_EQ(HandheldNotes(), handheld_) << sync.output;
    ExpectOutlookHoldsEveryNoteOnce();
  }
  static int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
  std::filesystem::path InstallDir() { return machine_.c("Program Files\\Vorlan\\Scribbix"); }

  std::map<std::string, std::string> handheld_;
  std::string state_;
};

// Replace: a fresh, empty folder; the state file that remembered the old folder's notes goes with
// the old file, so the HotSync brings the handheld's notes into the new folder.
TEST_F(SetupThenHotSyncTest, ReplaceBringsTheHandheldsNotesIntoTheNewFolder) {
  const ToolResult install = Configure({"install", "--user", kUser, "--profile", "Outlook"});
  EXPECT_EQ(install.exit_code, 0) << install.output;
  EXPECT_NE(install.output.find("The previous notes file was set aside as "), std::string::npos)
      << install.output;
  EXPECT_NE(
      install.output.find("The HotSync state of \"Palm User\" was set aside as " + state_ + ".1"),
      std::string::npos)
      << install.output;
  EXPECT_NE(install.output.find("is installed in the profile \"Outlook\"."), std::string::npos);
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>(std::vector<std::string>{}));
  EXPECT_TRUE(std::filesystem::exists(sx::paths::to_host(state_ + ".1")));
  ExpectAHotSyncLosesNoNote();
}

// A mistyped profile: refused before anything is touched; the real profile keeps its folder.
TEST_F(SetupThenHotSyncTest, InstallIntoAProfileThatDoesNotExistChangesNothing) {
  const ToolResult install = Configure({"install", "--user", kUser, "--profile", "Nope"});
  EXPECT_EQ(install.exit_code, 1) << install.output;
  EXPECT_NE(install.output.find("ERROR: The notes file " + std::string(kInstallDir) +
                                "\\Palm User Vorlan.pst was not installed: the Outlook profile "
                                "\"Nope\" could not be logged on to. Nothing was changed."),
            std::string::npos)
      << install.output;
  EXPECT_EQ(install.output.find("is installed in the profile"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(InstallDir() / "Palm User Vorlan.pst.1"));
  EXPECT_TRUE(std::filesystem::exists(sx::paths::to_host(state_)));
  ExpectAHotSyncLosesNoNote();
}

TEST_F(SetupThenHotSyncTest, WithoutTheUpdateStoreNeitherUpdateNorInstallTouchesTheFolder) {
  std::filesystem::remove(InstallDir() / "SXUpdate.pst");
  const ToolResult update = Configure({"update", "--profile", "Outlook"});
  EXPECT_EQ(update.exit_code, 1) << update.output;
  EXPECT_NE(update.output.find("ERROR: The update did not start (0x80990000)"), std::string::npos)
      << update.output;
  const ToolResult install = Configure({"install", "--user", kUser, "--profile", "Outlook"});
  EXPECT_EQ(install.exit_code, 1) << install.output;
  EXPECT_NE(install.output.find("was not installed: the update store " + std::string(kInstallDir) +
                                "\\SXUpdate.pst is missing; run the setup again. Nothing was "
                                "changed."),
            std::string::npos)
      << install.output;
  EXPECT_EQ(Count(install.output, "holding the Scribbix"), 0) << install.output;
  ExpectAHotSyncLosesNoNote();
}

// A person's Outlook, its add-ins connected, is up all along: the update carries every note under
// its key; the install, which needs the notes file Outlook holds, says so once, waits a bounded
// time for nobody, and stops without touching anything.
TEST_F(SetupThenHotSyncTest, WhileAPersonsOutlookRunsTheUpdateKeepsTheNotesAndTheInstallStops) {
  PersonsOutlook person(machine_.root());
  ASSERT_TRUE(person.Shows("New &Note"));  // the notes add-in is connected
  const ToolResult update = Configure({"update", "--profile", "Outlook"});
  EXPECT_EQ(update.exit_code, 0) << update.output;
  ExpectOutlookHoldsEveryNoteOnce();

  const auto started = std::chrono::steady_clock::now();
  const ToolResult install = Configure({"install", "--user", kUser, "--profile", "Outlook"});
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(install.exit_code, 1) << install.output;
  EXPECT_EQ(Count(install.output, "Outlook is holding the Scribbix file open."), 1)
      << install.output;
  EXPECT_NE(install.output.find("open; close Outlook and install again. Nothing was changed."),
            std::string::npos)
      << install.output;
  EXPECT_LT(took, std::chrono::seconds(30));
  EXPECT_FALSE(std::filesystem::exists(InstallDir() / "Palm User Vorlan.pst.1"));
  EXPECT_TRUE(std::filesystem::exists(sx::paths::to_host(state_)));
  EXPECT_EQ(person.Quit(), 0);
  ExpectAHotSyncLosesNoNote();
}

// An update killed inside its carries, then the next one: every note once, under its key.
TEST_F(SetupThenHotSyncTest, AStoppedUpgradeAndTheNextOneLoseNoNote) {
  // The kill point counts calls in the process that runs Outlook: here the update's own.
  Machine({"outlook", "process", "off"});
  const ToolResult killed =
      Configure({"update", "--profile", "Outlook"}, "SX_KILL_POINT=outlook-call:60");
  EXPECT_EQ(killed.exit_code, 128 + SIGKILL) << killed.output;  // as the shell tells it
  // It stopped with its new folder beside the notes folder.
  WithOutlook("Outlook", [](_NameSpace* ns) { EXPECT_TRUE(Folder(ns, "Vorlan", "SXUpdate")); });
  const ToolResult update = Configure({"update", "--profile", "Outlook"});
  EXPECT_EQ(update.exit_code, 0) << update.output;
  WithOutlook("Outlook", [](_NameSpace* ns) { EXPECT_FALSE(Folder(ns, "Vorlan", "SXUpdate")); });
  ExpectAHotSyncLosesNoNote();
}

}  // namespace
}  // namespace sx::configure::testing
