// A person's Outlook open while HotSyncs run, each HotSync its own process: what the person has
// open and edits, and what the HotSync writes meanwhile, are both kept.
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "handheld_fixture.h"
#include "objbase.h"
#include "sx/outlook/outlook_process.h"
#include "sx/outlook/person.h"

namespace sx::registry::testing {
namespace {

// The number the person's screen gives the line `name` ("N.   name" in the folder list, or
// "cN name" among the controls).
std::string number_of(const std::string& screen, const std::string& pattern) {
  std::smatch m;
  return std::regex_search(screen, m, std::regex(pattern)) ? m[1].str() : "";
}

// The processes that show Outlook's main window while it runs: the machine's window list (one
// file a top-level window: "pid N", then "class NAME"), read over and over from a thread of its
// own while a HotSync process runs.
class OutlookWindowWatch {
 public:
  OutlookWindowWatch() : thread_([this] { watch(); }) {}
  ~OutlookWindowWatch() { stop(); }
  std::set<long> stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    return pids_;
  }

 private:
  void watch() {
    const std::filesystem::path folder = sx::machine::root() / "windows";
    while (!done_) {
      std::error_code ec;
      for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (!entry.is_regular_file(ec)) continue;
        std::ifstream in(entry.path());
        std::string pid_word, class_word, class_name;
        long pid = 0;
        if (in >> pid_word >> pid >> class_word >> class_name &&
            class_name == sx::outlook::kMainWindowClass)
          pids_.insert(pid);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  std::atomic<bool> done_{false};
  std::set<long> pids_;
  std::thread thread_;
};

// The person's Outlook in the test's process; the HotSyncs reach it when the machine runs one
// Outlook process (true), or each runs an Outlook of its own on the same store (false).
class PersonDuringHotSyncTest : public HandheldTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    install_system();
    ToolResult r = run_tool({"outlook", "process", GetParam() ? "on" : "off"});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override {
    quit_outlook();
    CoUninitialize();
  }
  // The person ends Outlook, which would otherwise live on in this process.
  void quit_outlook() {
    std::string reply;
    if (person_ && person_->running()) person_->run("quit!", &reply);
    person_.reset();
  }
  void sync() {
    ToolResult r = hotsync();
    ASSERT_EQ(r.exit_code, 0) << r.output;
  }
  std::string say(const std::string& line) {
    std::string reply;
    if (!person_) {
      ADD_FAILURE() << "Outlook is not open for: " << line;
      return reply;
    }
    EXPECT_TRUE(person_->run(line, &reply)) << line << ": " << reply;
    return reply;
  }
  // The person starts Outlook and looks at the notes folder.
  void show_the_notes() {
    std::string why;
    person_ = sx::outlook::PersonOutlook::start(&why);
    ASSERT_TRUE(person_) << why;
    const std::string folder = number_of(person_->screen(), "\\n +([0-9]+)\\. +Scribbix\\n");
    ASSERT_NE(folder, "") << person_->screen();
    say("folder " + folder);
    person_->screen();  // the numbers of the commands are those of the last screen
  }
  // The person opens the folder's only post and switches it to editing.
  void open_the_note() {
    EXPECT_EQ(say("open 1"), "");
    const std::string screen = person_->screen();
    if (screen.find("(reading) --") != std::string::npos) {
      const std::string edit =
          number_of(screen.substr(screen.find("\n-- ")), "\\n +(c[0-9]+) +Edit Ite&m\\n");
      ASSERT_NE(edit, "") << screen;
      say("click " + edit);
    }
    ASSERT_NE(person_->screen().find("(editing) --"), std::string::npos) << person_->screen();
  }

  std::unique_ptr<sx::outlook::PersonOutlook> person_;
};

// The person has a note open; a HotSync writes the handheld's edit of it; the person saves. Neither
// edit may be lost: the person is told that their version became a note of its own, and the next
// HotSync brings it to the handheld beside the handheld's edit.
TEST_P(PersonDuringHotSyncTest, ANoteSavedByThePersonAfterAHotSyncChangedItKeepsBothEdits) {
  const std::string call = add_note({"--text", "Call Ann"});
  sync();
  show_the_notes();
  open_the_note();
  EXPECT_EQ(say("type  after lunch"), "");

  handheld({"edit", call, "--text", "Call Ann at 3"});
  sync();
  EXPECT_EQ(say("save"),
            "This item was changed by another program or in another window while it was open "
            "here. Your version is saved as a new item in the same folder; the other version is "
            "kept as it was.");
  // The notes add-in in the person's Outlook stamped the new item with a key of its own.
  const std::vector<Post> saved = posts();
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_NE(saved[0]["user ScribKey"], saved[1]["user ScribKey"]);
  std::string reply;
  EXPECT_FALSE(person_->run("quit", &reply)) << reply;

  sync();
  const std::vector<ShownNote> both = {{"Call Ann after lunch", "", false},
                                       {"Call Ann at 3", "", false}};
  EXPECT_EQ(handheld_notes(), both);
  EXPECT_EQ(outlook_notes(), both);
}

// A note the HotSync changed while the person's Outlook showed its folder opens with the HotSync's
// text; saved without a change of anyone else's since, it is saved in place.
TEST_P(PersonDuringHotSyncTest, ANoteOpenedAfterAHotSyncChangedItShowsAndSavesTheNewText) {
  const std::string call = add_note({"--text", "Call Ann"});
  sync();
  show_the_notes();

  handheld({"edit", call, "--text", "Call Ann at 3"});
  sync();
  open_the_note();
  EXPECT_NE(person_->screen().find("\nCall Ann at 3\n"), std::string::npos) << person_->screen();
  say("type , room 4");
  EXPECT_EQ(say("save"), "Saved.");
  quit_outlook();

  sync();
  const std::vector<ShownNote> one = {{"Call Ann at 3, room 4", "", false}};
  EXPECT_EQ(handheld_notes(), one);
  EXPECT_EQ(outlook_notes(), one);
}

// The person watches the notes folder while HotSyncs add, change and delete its notes: the
// explorer shows each HotSync's doings without the folder being opened again.
TEST_P(PersonDuringHotSyncTest, TheFolderShownToThePersonFollowsEachHotSync) {
  const std::string call = add_note({"--text", "Call Ann"});
  sync();
  show_the_notes();
  EXPECT_NE(person_->screen().find("Call Ann"), std::string::npos) << person_->screen();

  add_note({"--text", "Buy milk"});
  handheld({"edit", call, "--text", "Ring Bo"});
  OutlookWindowWatch watch;
  sync();
  // One Outlook on the machine throughout, the person's, when the machine runs one Outlook
  // process; otherwise the HotSync's own beside it.
  const std::set<long> outlooks = watch.stop();
  EXPECT_EQ(outlooks.count(static_cast<long>(::getpid())), 1u);
  EXPECT_EQ(outlooks.size(), GetParam() ? 1u : 2u);
  const std::string after = person_->screen();
  EXPECT_NE(after.find("Buy milk"), std::string::npos) << after;
  EXPECT_NE(after.find("Ring Bo"), std::string::npos) << after;
  EXPECT_EQ(after.find("Call Ann"), std::string::npos) << after;

  handheld({"delete", call});
  sync();
  EXPECT_EQ(person_->screen().find("Ring Bo"), std::string::npos) << person_->screen();
  // What the add-ins in the person's Outlook did on seeing the HotSync's posts leaves the next
  // HotSync nothing to do.
  const ToolResult preview = run_tool({"hotsync", "preview", kUser});
  EXPECT_NE(preview.output.find("Handheld (1 note): no changes"), std::string::npos)
      << preview.output;
  EXPECT_NE(preview.output.find("Outlook (1 note): no changes"), std::string::npos)
      << preview.output;
}

// The person's Outlook stays open while the configuration program checks the machine, the next
// HotSync is previewed and a HotSync runs, each a process of its own: with one Outlook process on
// the machine all of them reach the person's Outlook, and none starts another.
TEST_P(PersonDuringHotSyncTest, TheCheckThePreviewAndTheHotSyncReachThePersonsOutlook) {
  add_note({"--text", "Call Ann"});
  sync();
  show_the_notes();
  add_note({"--text", "Buy milk"});

  OutlookWindowWatch watch;
  const ToolResult check =
      run_program(SXCONFIGURE_PATH, {"--machine", sx::machine::root().string(), "check"});
  EXPECT_EQ(check.exit_code, 0) << check.output;
  const ToolResult preview = run_tool({"hotsync", "preview", kUser});
  EXPECT_EQ(preview.exit_code, 0) << preview.output;
  EXPECT_NE(preview.output.find("Buy milk"), std::string::npos) << preview.output;
  sync();
  const std::set<long> outlooks = watch.stop();
  EXPECT_EQ(outlooks.count(static_cast<long>(::getpid())), 1u);
  if (GetParam()) {
    EXPECT_EQ(outlooks.size(), 1u);
  }
  EXPECT_NE(person_->screen().find("Buy milk"), std::string::npos) << person_->screen();
}

INSTANTIATE_TEST_SUITE_P(Outlooks, PersonDuringHotSyncTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "OneOutlookProcess" : "OutlookInEachProcess";
                         });

}  // namespace
}  // namespace sx::registry::testing
