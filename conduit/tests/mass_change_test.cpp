// The mass change guard in whole runs: a HotSync that would delete, or in an overwrite mode
// overwrite, more than a third of one side's notes (and at least five) asks first. Asked for each
// side and both overwrite modes, at a third (no question) and just over it, answered with Go Ahead,
// Keep Them or not at all: kept notes stay as they are, the state file stays as it was, and the
// next HotSync asks again.
#include <algorithm>

#include "dialogs.h"
#include "real_outlook_fixture.h"
#include "sx/window.h"

namespace sx::conduit::testing {
namespace {

enum class Loser { kHandheld, kOutlook };
enum class Change { kDelete, kOverwrite };

struct GuardCase {
  const char* name;
  int sync_type;  // 0 synchronise, eHHtoPC, ePCtoHH
  Loser loser;    // the side that would lose its notes
  Change change;  // deleted, or overwritten (overwrite modes only)
  int affected;   // of 15 notes
  MassChangeAnswer answer;
  bool asked;
};

void PrintTo(const GuardCase& c, std::ostream* out) { *out << c.name; }

constexpr int kNotes = 15;

class MassChangeRunTest : public PostsRunTest {
 protected:
  void SetUp() override {
    PostsRunTest::SetUp();
    sx::window::set_host(sx::window::Host::kScripted);
    sx::window::clear_script();
  }
  void TearDown() override {
    sx::window::clear_script();
    sx::window::set_host(sx::window::Host::kNone);
    PostsRunTest::TearDown();
  }
  // The changes a case makes on the side that does not lose notes: deleted records on the handheld
  // (as the notes application leaves them), posts gone or rewritten in Outlook.
  void make_changes(const GuardCase& c) {
    for (int i = 0; i < c.affected; ++i) {
      const std::int32_t id = 100 + i;
      if (c.loser == Loser::kOutlook) {
        if (c.change == Change::kDelete)
          delete_handheld(id);
        else
          edit_handheld(id, "rewritten on the handheld " + std::to_string(id));
      } else {
        if (c.change == Change::kDelete)
          g_posts.erase(id);
        else
          g_posts[id] = "rewritten in Outlook " + std::to_string(id);
      }
    }
  }
  void answer_with(MassChangeAnswer answer) {
    std::vector<sx::window::UserAction> actions;
    if (answer == MassChangeAnswer::kGoAhead) actions.push_back(sx::window::click(IDC_GO_AHEAD));
    if (answer == MassChangeAnswer::kKeep) actions.push_back(sx::window::click(IDC_KEEP));
    sx::window::expect_dialog(sx::window::DialogMatch::by_id(IDD_MASS_CHANGE), actions);
  }
  // The question the run asked ("" when none).
  std::string question() {
    for (const auto& w : sx::window::shown()) {
      if (w.resource_id != IDD_MASS_CHANGE) continue;
      const auto* text = w.control(IDC_MASS_CHANGE_TEXT);
      return text != nullptr ? text->text : "?";
    }
    return "";
  }
  // The losing side's notes: note ID -> text.
  std::map<std::int32_t, std::string> losing_side(const GuardCase& c) {
    return c.loser == Loser::kHandheld
               ? handheld_notes()
               : std::map<std::int32_t, std::string>(g_posts.begin(), g_posts.end());
  }
  long run_hotsync() {
    long result = -999;
    log_ = conduit_log(&result);
    return result;
  }
  bool logged_containing(const std::string& part) {
    return std::any_of(log_.begin(), log_.end(), [&](const std::string& line) {
      return line.find(part) != std::string::npos;
    });
  }
  std::vector<std::string> log_;
};

class MassChangeTest : public MassChangeRunTest, public ::testing::WithParamInterface<GuardCase> {};

TEST_P(MassChangeTest, ASideThatWouldLoseMoreThanAThirdIsAskedAboutFirst) {
  const GuardCase& c = GetParam();
  synced(kNotes);
  if (c.sync_type != 0) put_sync_type(c.sync_type);
  const auto before = losing_side(c);
  const std::string state = state_bytes();
  make_changes(c);
  answer_with(c.answer);
  ASSERT_EQ(run_hotsync(), 0) << ::testing::PrintToString(log_);

  const std::string side = c.loser == Loser::kHandheld ? "on the handheld" : "in Outlook";
  const std::string what = std::string(c.sync_type == 0 ? "delete " : "delete or overwrite ") +
                           std::to_string(c.affected) + " of the 15 notes " + side;
  if (!c.asked) {
    EXPECT_EQ(question(), "");
    EXPECT_FALSE(logged_containing("This HotSync would")) << ::testing::PrintToString(log_);
  } else {
    EXPECT_EQ(question().rfind("This HotSync would " + what + ".  Go ahead?", 0), 0u) << question();
  }
  const bool carried = !c.asked || c.answer == MassChangeAnswer::kGoAhead;
  if (carried) {
    EXPECT_NE(losing_side(c), before);
    if (c.change == Change::kDelete) {
      EXPECT_EQ(losing_side(c).size(), static_cast<std::size_t>(kNotes - c.affected));
    }
    if (c.asked) {
      EXPECT_TRUE(
          logged_containing("This HotSync would " + what + "; asked, the answer was to go ahead."));
    }
    return;
  }
  // Held back: the side keeps its notes, the log says why, and the state is the last one.
  EXPECT_EQ(losing_side(c), before);
  EXPECT_TRUE(logged_containing(c.answer == MassChangeAnswer::kKeep
                                    ? "[error] The HotSync would " + what +
                                          "; asked, the answer was to keep them.  Nothing was "
                                          "deleted or overwritten there, and the next HotSync "
                                          "asks again."
                                    : "[error] The HotSync would " + what +
                                          "; nobody answered the question within 60 seconds."))
      << ::testing::PrintToString(log_);
  EXPECT_EQ(state_bytes(), state);
  // The next HotSync asks again; going ahead carries the changes.
  sx::window::clear_script();
  answer_with(MassChangeAnswer::kGoAhead);
  ASSERT_EQ(run_hotsync(), 0) << ::testing::PrintToString(log_);
  EXPECT_NE(question(), "");
  EXPECT_NE(losing_side(c), before);
  if (c.change == Change::kDelete) {
    EXPECT_EQ(losing_side(c).size(), static_cast<std::size_t>(kNotes - c.affected));
  }
  // And the one after has nothing left to ask.
  sx::window::clear_script();
  ASSERT_EQ(run_hotsync(), 0);
  EXPECT_EQ(question(), "");
  const std::map<std::int32_t, std::string> outlook(g_posts.begin(), g_posts.end());
  EXPECT_EQ(handheld_notes(), outlook);
}

constexpr auto kGo = MassChangeAnswer::kGoAhead;
constexpr auto kKeep = MassChangeAnswer::kKeep;
constexpr auto kNone = MassChangeAnswer::kNoAnswer;

INSTANTIATE_TEST_SUITE_P(
    Cases, MassChangeTest,
    ::testing::Values(
        // Two-way: deletions in Outlook would empty the handheld, and the reverse.
        GuardCase{"SyncHandheldAThird", 0, Loser::kHandheld, Change::kDelete, 5, kKeep, false},
        GuardCase{"SyncHandheldGoAhead", 0, Loser::kHandheld, Change::kDelete, 6, kGo, true},
        GuardCase{"SyncHandheldKeep", 0, Loser::kHandheld, Change::kDelete, 6, kKeep, true},
        GuardCase{"SyncHandheldNoAnswer", 0, Loser::kHandheld, Change::kDelete, 15, kNone, true},
        GuardCase{"SyncOutlookAThird", 0, Loser::kOutlook, Change::kDelete, 5, kKeep, false},
        GuardCase{"SyncOutlookGoAhead", 0, Loser::kOutlook, Change::kDelete, 6, kGo, true},
        GuardCase{"SyncOutlookKeep", 0, Loser::kOutlook, Change::kDelete, 6, kKeep, true},
        GuardCase{"SyncOutlookNoAnswer", 0, Loser::kOutlook, Change::kDelete, 6, kNone, true},
        // Desktop overwrites handheld: deletions and overwrites on the handheld.
        GuardCase{"DesktopOverwritesAThird", ePCtoHH, Loser::kHandheld, Change::kOverwrite, 5,
                  kKeep, false},
        GuardCase{"DesktopOverwritesGoAhead", ePCtoHH, Loser::kHandheld, Change::kOverwrite, 6, kGo,
                  true},
        GuardCase{"DesktopOverwritesKeep", ePCtoHH, Loser::kHandheld, Change::kDelete, 6, kKeep,
                  true},
        GuardCase{"DesktopOverwritesNoAnswer", ePCtoHH, Loser::kHandheld, Change::kOverwrite, 6,
                  kNone, true},
        // Handheld overwrites desktop: deletions and overwrites in Outlook.
        GuardCase{"HandheldOverwritesAThird", eHHtoPC, Loser::kOutlook, Change::kDelete, 5, kKeep,
                  false},
        GuardCase{"HandheldOverwritesGoAhead", eHHtoPC, Loser::kOutlook, Change::kDelete, 6, kGo,
                  true},
        GuardCase{"HandheldOverwritesKeep", eHHtoPC, Loser::kOutlook, Change::kOverwrite, 6, kKeep,
                  true},
        GuardCase{"HandheldOverwritesNoAnswer", eHHtoPC, Loser::kOutlook, Change::kDelete, 6, kNone,
                  true}),
    [](const ::testing::TestParamInfo<GuardCase>& info) { return std::string(info.param.name); });

// Fewer than five notes are never asked about, whatever share of the side they are.
TEST_F(MassChangeRunTest, FewerThanFiveNotesAreNotAskedAbout) {
  synced(4);
  for (std::int32_t id = 100; id < 104; ++id) g_posts.erase(id);
  answer_with(MassChangeAnswer::kKeep);
  ASSERT_EQ(run_hotsync(), 0);
  EXPECT_EQ(question(), "");
  EXPECT_TRUE(handheld_notes().empty());
}

TEST_F(MassChangeRunTest, TheSettingTurnsTheQuestionOff) {
  synced(9);
  set_setting("ConfirmMassDeletion", 0);
  for (std::int32_t id = 100; id < 109; ++id) g_posts.erase(id);
  answer_with(MassChangeAnswer::kKeep);
  ASSERT_EQ(run_hotsync(), 0);
  EXPECT_EQ(question(), "");
  EXPECT_TRUE(handheld_notes().empty());
}

// The accident as a person meets it: every post of the notes folder deleted in Outlook. Nobody
// answers the question (the progress window is on, nobody is at the desk): the handheld keeps every
// note, HotSync after HotSync, until the question is answered.
TEST_F(RealOutlookRunTest, AnEmptiedNotesFolderDoesNotEmptyTheHandheldWhileNobodyAnswers) {
  put_notes(12);
  ASSERT_EQ(hotsync(), 0);
  const auto notes = handheld_notes();
  ASSERT_EQ(notes.size(), 12u);
  for (const auto& [id, text] : notes) NotesFolder().remove(id);
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
    EXPECT_TRUE(std::any_of(last_log_.begin(), last_log_.end(), [](const std::string& line) {
      return line ==
             "[error] The HotSync would delete 12 of the 12 notes on the handheld; nobody answered "
             "the question within 60 seconds.  Nothing was deleted or overwritten there, and the "
             "next HotSync asks again.";
    })) << ::testing::PrintToString(last_log_);
    EXPECT_EQ(handheld_notes(), notes);
  }
  // Turned off, the deletion is carried: the person meant it.
  set_setting("ConfirmMassDeletion", 0);
  ASSERT_EQ(hotsync(), 0);
  EXPECT_TRUE(handheld_notes().empty());
}

}  // namespace
}  // namespace sx::conduit::testing
