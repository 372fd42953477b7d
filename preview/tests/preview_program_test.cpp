// The preview as a person meets it: the HotSync Manager program and the machine tool on a small
// known machine (exact lines), their help, a user that does not exist, a machine without the notes
// conduit; the warning about a side losing more than a third of its notes, at its boundary; and the
// question the conduit asks before it empties a side.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "preview_fixture.h"
#include "sx/machine.h"

namespace sx::preview::testing {
namespace {

struct Output {
  int code = -1;
  std::string out;
};

Output run(const std::string& command) {
  Output r;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    r.out.append(buffer, n);
  const int status = ::pclose(pipe);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string on_machine(const char* program) {
  return std::string(program) + " --machine '" + sx::machine::root().string() + "' ";
}

class PreviewProgramTest : public PreviewTest {};

TEST_F(PreviewProgramTest, BothProgramsPrintTheChangesOfEachSideNoteByNote) {
  put_notes(3);
  ASSERT_EQ(hotsync(), 0);
  edit_handheld(100, "note 0 changed");
  NotesFolder().remove(101);
  const std::string expected =
      "Preview of the next HotSync of \"Test User\" (run on a copy of the machine; nothing here "
      "was changed).\n"
      "The notes conduit would run a fast sync.\n"
      "Handheld (3 notes): 0 added, 0 changed, 0 archived, 1 deleted\n"
      "  deleted  note 101 \"note 1\"\n"
      "Outlook (2 notes): 0 added, 1 changed, 0 archived, 0 deleted\n"
      "  changed  note 100 \"note 0 changed\"\n"
      "           Note Text: \"note 0\" -> \"note 0 changed\"\n"
      "Categories that would reach the handheld: none\n"
      "Categories that would reach Outlook: none\n"
      "Conflicts: none\n"
      "WARNING: this HotSync would delete or overwrite 1 of the 2 notes on the Outlook side (more "
      "than a third).\n";
  const Output hotsync_program = run(on_machine(HOTSYNC_PATH) + "--preview 'Test User'");
  EXPECT_EQ(hotsync_program.code, 0);
  EXPECT_EQ(hotsync_program.out, expected);
  const Output machine_tool = run(on_machine(SXMACHINE_PATH) + "hotsync preview 'Test User'");
  EXPECT_EQ(machine_tool.code, 0);
  EXPECT_EQ(machine_tool.out, expected);
}

TEST_F(PreviewProgramTest, AConflictUnderAskSaysADialogWouldAppear) {
  put_notes(1);
  ASSERT_EQ(hotsync(), 0);
  edit_handheld(100, "from the handheld");
  NotesFolder().change(100, "from Outlook");
  set_setting("ConflictResolution", 2);
  const Output r = run(on_machine(HOTSYNC_PATH) + "--preview 'Test User'");
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("Conflicts: 1\n"
                       "  note \"from the handheld\", Note Text: Outlook \"from Outlook\", "
                       "handheld \"from the handheld\"\n"
                       "    a dialog asks which value to keep; unanswered, it skips the field "
                       "after 60 seconds (both sides keep their values and the conflict comes "
                       "back)\n"),
            std::string::npos)
      << r.out;
}

// Where the real HotSync would ask before it empties a side, the preview says so, and shows the
// changes of going ahead; the real HotSync then asks (and, unanswered, keeps the notes).
TEST_F(PreviewProgramTest, TheQuestionBeforeASideIsEmptiedIsShownWhereTheHotSyncWouldAsk) {
  put_notes(6);
  ASSERT_EQ(hotsync(), 0);
  for (std::int32_t id = 100; id < 106; ++id) NotesFolder().remove(id);
  const Output r = run(on_machine(HOTSYNC_PATH) + "--preview 'Test User'");
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("Handheld (6 notes): 0 added, 0 changed, 0 archived, 6 deleted\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("QUESTION: this HotSync would ask before it went on: \"This HotSync would "
                       "delete 6 of the 6 notes on the handheld.  Go ahead?\" The changes above "
                       "are those of \"Go Ahead\"; with \"Keep Them\", or no answer within 60 "
                       "seconds, those notes stay as they are and the next HotSync asks again.\n"),
            std::string::npos)
      << r.out;
  // The preview of a HotSync that does not ask says nothing of a question.
  ASSERT_EQ(hotsync(), 0);
  EXPECT_EQ(handheld_notes().size(), 6u);  // nobody answered the real one
  set_setting("ConfirmMassDeletion", 0);
  const Output off = run(on_machine(HOTSYNC_PATH) + "--preview 'Test User'");
  EXPECT_EQ(off.out.find("QUESTION"), std::string::npos) << off.out;
  EXPECT_NE(off.out.find("6 deleted"), std::string::npos) << off.out;
}

// A machine whose programs run: a COM server's socket and its class registration, and the page
// server's marker. The preview copies the machine without them, so it neither fails on the socket
// nor reaches the live server, and leaves them as they were.
TEST_F(PreviewProgramTest, WhatTheMachinesRunningProgramsLeaveIsNotCopied) {
  put_notes(2);
  ASSERT_EQ(hotsync(), 0);
  const std::filesystem::path com = sx::machine::root() / "com";
  std::filesystem::create_directories(com / "classes");
  const std::filesystem::path socket_path = com / ("p" + std::to_string(::getpid()) + ".sock");
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_path.c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::filesystem::path registration =
      com / "classes" / "{0006F03A-0000-0000-C000-000000000046}";
  std::ofstream(registration) << ::getpid() << "\n" << socket_path.string() << "\n";
  std::filesystem::create_directories(sx::machine::root() / "view");
  std::ofstream(sx::machine::root() / "view" / "page") << ::getpid() << "\n";

  edit_handheld(100, "note 0 changed");
  const Output preview = run(on_machine(HOTSYNC_PATH) + "--preview 'Test User'");
  ::close(listener);
  EXPECT_EQ(preview.code, 0) << preview.out;
  EXPECT_NE(preview.out.find("note 0 changed"), std::string::npos) << preview.out;
  EXPECT_TRUE(std::filesystem::is_socket(socket_path));
  EXPECT_TRUE(std::filesystem::exists(registration));
}

TEST_F(PreviewProgramTest, AUserThatDoesNotExistIsRefused) {
  const Output a = run(on_machine(HOTSYNC_PATH) + "--preview Nobody");
  EXPECT_EQ(a.code, 1);
  EXPECT_EQ(a.out, "ERROR: There is no HotSync user \"Nobody\".\n");
  const Output b = run(on_machine(SXMACHINE_PATH) + "hotsync preview Nobody");
  EXPECT_EQ(b.code, 1);
  EXPECT_EQ(b.out, "ERROR: There is no HotSync user \"Nobody\".\n");
}

TEST_F(PreviewProgramTest, HelpTellsWhatThePreviewDoes) {
  const Output a = run(std::string(HOTSYNC_PATH) + " --help");
  EXPECT_EQ(a.code, 0);
  EXPECT_NE(a.out.find("--preview USER"), std::string::npos) << a.out;
  const Output b = run(std::string(SXMACHINE_PATH) + " hotsync preview --help");
  EXPECT_EQ(b.code, 0);
  EXPECT_NE(b.out.find("without doing it"), std::string::npos) << b.out;
}

class NoConduitTest : public hotsync_test::HotSyncTest {};

TEST_F(NoConduitTest, AMachineWithoutTheNotesConduitIsRefused) {
  const Output r = run(on_machine(HOTSYNC_PATH) + "--preview 'Test User'");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out,
            "ERROR: The notes conduit is not installed on this machine (\"sxmachine conduit "
            "install\" installs it): a HotSync would not touch the notes.\n");
}

// A handheld of `live` notes (and one archived before the HotSync, which does not count), and an
// Outlook side of 3.
Snapshot handheld_of(int live) {
  Snapshot s;
  s.handheld.read = s.outlook.read = true;
  for (int i = 0; i < live; ++i) s.handheld.notes.push_back({std::to_string(i), i, false, {}});
  s.handheld.notes.push_back({"old", 999, true, {}});
  for (int i = 0; i < 3; ++i) s.outlook.notes.push_back({std::to_string(i), i, false, {}});
  return s;
}

Change change(Side side, ChangeKind kind, std::int32_t id) {
  Change c;
  c.side = side;
  c.kind = kind;
  c.id = id;
  return c;
}

TEST(PreviewWarningTest, MoreThanAThirdOfASideDeletedOrOverwrittenIsWarnedAbout) {
  std::vector<Change> changes;
  for (int i = 0; i < 3; ++i) changes.push_back(change(Side::kHandheld, ChangeKind::kDeleted, i));
  changes.push_back(change(Side::kHandheld, ChangeKind::kAdded, 50));
  changes.push_back(change(Side::kOutlook, ChangeKind::kDeleted, 2));  // 1 of 3
  EXPECT_TRUE(warnings(changes, handheld_of(9)).empty());              // 3 of 9: a third, not more
  changes.push_back(change(Side::kHandheld, ChangeKind::kChanged, 3));
  EXPECT_EQ(warnings(changes, handheld_of(9)), (std::vector<Warning>{{Side::kHandheld, 4, 9}}));
  changes.back().kind = ChangeKind::kArchived;
  EXPECT_EQ(warnings(changes, handheld_of(9)).size(), 1u);

  Preview p;
  p.user = "Jo";
  p.before = p.after = handheld_of(9);
  p.warnings = {{Side::kHandheld, 4, 9}, {Side::kOutlook, 1, 1}};
  const auto lines = preview_lines(p);
  EXPECT_EQ(lines[lines.size() - 2],
            "WARNING: this HotSync would delete or overwrite 4 of the 9 notes on the handheld "
            "(more than a third).");
  EXPECT_EQ(lines.back(),
            "WARNING: this HotSync would delete or overwrite 1 of the 1 note on the Outlook side "
            "(more than a third).");
}

TEST(PreviewTextTest, SnapshotsSurviveTheirLinesWithEveryCharacter) {
  Snapshot s = handheld_of(2);
  s.handheld.notes[0].fields = {{"Note Text", "a\tb\\n\r\nc"}, {"Category", ""}};
  s.outlook.why = "cannot\tread";
  s.outlook.read = false;
  s.handheld.categories = {"Work", "Ho me"};
  const auto lines = snapshot_lines(s);
  std::size_t pos = 0;
  Snapshot back;
  ASSERT_TRUE(parse_snapshot(lines, &pos, &back));
  EXPECT_EQ(back, s);
  EXPECT_EQ(pos, lines.size());
  auto cut = lines;
  cut.pop_back();
  pos = 0;
  EXPECT_FALSE(parse_snapshot(cut, &pos, &back));
}

}  // namespace
}  // namespace sx::preview::testing
