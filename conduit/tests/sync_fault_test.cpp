// Whole HotSyncs against what handhelds hold and what goes wrong: notes with one ID, long notes,
// notes deleted for good, writes and closes that fail, a run that throws. Each fault is followed by
// a clean run that must lose nothing.
#include <stdexcept>

#include "sync_run_fixture.h"

namespace sx::conduit::testing {
namespace {

bool has_line(const Lines& log, const std::string& line) {
  return std::find(log.begin(), log.end(), line) != log.end();
}

// --- Every path closes both sides, and every run ends with its line

TEST_F(SyncRunTest, EveryEarlyReturnClosesTheDesktopWithItsOwnClose) {
  put_notes(2);
  struct Case {
    const char* what;
    std::function<void()> arrange;
    long result;
    std::string error;  // the run's error line ("" for none)
  };
  const std::vector<Case> cases = {
      {"success", [] {}, 0, ""},
      {"desktop open fails", [] { g_desktop.open_result = 4101; }, 4101,
       "[error] Failed to open database on the desktop."},
      {"handheld read fails",
       [] { sx::hotsync::inject_fault("SyncReadRecordByIndex", SYNCERR_IO); }, SYNCERR_IO,
       "[error] Failed to read database from handheld."},
      {"desktop read fails", [] { g_desktop.read_result = 4101; }, 4101,
       "[error] Failed to read database on the desktop."},
      {"the run throws",
       [] {
         g_desktop.probe = [](const std::string& w) {
           if (w == "read") throw std::runtime_error("no memory for the posts");
         };
       },
       SYNCERR_UNKNOWN,
       "[error] The synchronization stopped because of an unexpected error (no memory for the "
       "posts)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    g_desktop = DesktopScript{};
    g_desktop.changed = true;  // no "nothing changed" shortcut
    c.arrange();
    long result = -1;
    const Lines log = conduit_log(&result);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(g_desktop.closed, 1);
    EXPECT_EQ(log.back(),
              c.result == 0 ? "[finished] ScribbixOutlook" : "[failed] ScribbixOutlook");
    if (!c.error.empty()) {
      EXPECT_TRUE(has_line(log, c.error)) << c.error;
    }
  }
}

TEST_F(SyncRunTest, TheNothingChangedShortcutClosesTheDesktop) {
  put_notes(1);
  put_sync_type(0);
  mark_unchanged();
  long result = -1;
  const Lines log = conduit_log(&result);
  ASSERT_TRUE(has_line(log,
                       "Desktop and handheld databases have not changed since the last "
                       "synchronization."));
  EXPECT_EQ(g_desktop.read, 0);
  EXPECT_EQ(g_desktop.closed, 1);
}

TEST_F(PostsRunTest, ANewNoteThatCannotBeGivenAnIdIsLeftOutAndEverythingElseIsWritten) {
  put_notes(1);
  auto db = read_back(kScribbixDatabase);
  db.records.push_back({0, 0x300, note_bytes(0, "new on the handheld")});
  put_database(db);
  g_next_key = 0;  // the key sequence cannot be drawn
  long result = -1;
  const Lines log = conduit_log(&result);
  EXPECT_EQ(result, 4101);
  EXPECT_TRUE(has_line(log,
                       "[error] The note \"new on the handheld\" could not be added to the "
                       "desktop; it is tried again at the next HotSync."))
      << ::testing::PrintToString(log);
  EXPECT_FALSE(has_line(log,
                        "[error] The notes could not be merged; nothing was written to the "
                        "handheld or the desktop."));
  EXPECT_EQ(log.back(), "[failed] ScribbixOutlook");
  EXPECT_EQ(g_desktop.closed, 1);
  // "note 0" reached the desktop and the state; the new note stays on the handheld as it was.
  EXPECT_EQ(g_posts, (std::map<std::int32_t, std::string>{{100, "note 0"}}));
  EXPECT_FALSE(state_bytes().empty());
  db = read_back(kScribbixDatabase);
  ASSERT_EQ(db.records.size(), 2u);
  EXPECT_EQ(db.records[1].data, note_bytes(0, "new on the handheld"));

  g_next_key = 7000;
  conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(handheld_notes(),
            (std::map<std::int32_t, std::string>{{100, "note 0"}, {7000, "new on the handheld"}}));
}

// --- The handheld database itself

TEST_F(SyncRunTest, ADatabaseListThatCannotBeReadPassesTheSyncManagersCodeUp) {
  put_notes(1);
  sx::hotsync::inject_fault("SyncReadDBList", SYNCERR_IO);
  long result = -1;
  EXPECT_EQ(conduit_log(&result),
            (Lines{"[start] ", "Synchronizing database \"ScribbixDB\".",
                   "[error] Failed to read database from handheld.", "[failed] ScribbixOutlook"}));
  EXPECT_EQ(result, SYNCERR_IO);
  EXPECT_EQ(g_desktop.opened, 0);
}

TEST_F(SyncRunTest, ADamagedDatabaseIsReportedAsDamagedNotAsMissing) {
  put_notes(1);
  put_notes(0, kScribbixCreator, 2, "ScribbixAux");  // so that HotSync runs the conduit
  fs::resize_file(db_file(kScribbixDatabase), 60);   // shorter than its header
  long result = -1;
  const Lines log = conduit_log(&result);
  EXPECT_EQ(result, SYNCERR_DAMAGED_DATABASE);
  EXPECT_TRUE(has_line(log,
                       "[error] The \"ScribbixDB\" database on the handheld is damaged and "
                       "cannot be read.  Nothing was synchronized."));
  for (const auto& line : log) EXPECT_EQ(line.find("does not exist"), std::string::npos) << line;
  EXPECT_EQ(log.back(), "[failed] ScribbixOutlook");
}

TEST_F(SyncRunTest, AMissingInstallationKeyReturns400EAfterTheStartLineOnly) {
  put_notes(1);
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorlan Software\\Scribbix"), 0);
  long result = -1;
  EXPECT_EQ(conduit_log(&result), (Lines{"[start] ", "[failed] ScribbixOutlook"}));
  EXPECT_EQ(result, 0x400E);
  EXPECT_EQ(g_desktop.opened, 0);
}

// --- Which runs take the "nothing changed" shortcut

TEST_F(SyncRunTest, SyncTypesFourAndFiveSynchronizeAndNeverTakeTheShortcut) {
  put_notes(1);
  mark_unchanged();
  for (int type : {4, 5}) {
    SCOPED_TRACE(type);
    put_sync_type(type);
    g_desktop = DesktopScript{};
    long result = -1;
    EXPECT_EQ(conduit_log(&result), (Lines{"[start] ", "Synchronizing database \"ScribbixDB\".",
                                           "[finished] ScribbixOutlook"}));
    EXPECT_EQ(g_desktop.read, 1);
    EXPECT_NE(g_desktop.handheld_pending_at_desktop_write, -1);  // a two-way run wrote
  }
}

TEST_F(SyncRunTest, AHandheldClockOff180SecondsOrMoreCountsAsChanged) {
  put_notes(1);
  put_sync_type(0);
  for (std::int64_t offset : {179, -179, 180, -180}) {
    SCOPED_TRACE(offset);
    mark_unchanged();
    sx::hotsync::DeviceInfo device;
    std::string why;
    ASSERT_TRUE(sx::hotsync::read_device(handheld(), &device, &why)) << why;
    device.clock_offset = offset;
    ASSERT_TRUE(sx::hotsync::write_device(handheld(), device, &why)) << why;
    g_desktop = DesktopScript{};
    conduit_log();
    EXPECT_EQ(g_desktop.read, std::abs(offset) >= 180 ? 1 : 0);
  }
}

// --- Which side is written first

class WriteOrderTest : public PostsRunTest, public ::testing::WithParamInterface<int> {};

TEST_P(WriteOrderTest, TwoWayRunsWriteTheDesktopFirstOverwritesTheHandheldFirst) {
  const int type = GetParam();
  put_notes(1);
  auto db = read_back(kScribbixDatabase);
  db.records.push_back({0, 0x300, note_bytes(0, "new on the handheld")});
  put_database(db);
  g_posts[9] = "only on the desktop";
  put_sync_type(type);
  long result = -1;
  conduit_log(&result);
  ASSERT_EQ(result, 0);
  // The handheld had writes waiting in every case: a renumbered note, an added one.
  const bool handheld_first = type == 2 || type == 3;
  if (handheld_first) {
    EXPECT_EQ(g_desktop.handheld_pending_at_desktop_write, 0);
  } else {
    EXPECT_GT(g_desktop.handheld_pending_at_desktop_write, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(SyncTypes, WriteOrderTest, ::testing::Values(0, 1, 2, 3, 4, 5));

// --- Two handheld records with one note ID

class DuplicateIdRunTest : public PostsRunTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DuplicateIdRunTest, BothNotesAreKeptAndTheLaterOneGetsAFreshId) {
  set_setting("ShowProgress", GetParam() ? 0xFFFFFFFFu : 0u);
  put_notes(2);
  auto db = read_back(kScribbixDatabase);
  db.records.push_back({0, 0x300, note_bytes(100, "second with ID 100", 0x200)});
  put_database(db);
  long result = -1;
  const Lines log = conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(log, (Lines{"[start] ", "Synchronizing database \"ScribbixDB\".",
                        "The note \"second with ID 100\" on the handheld has the same ID (100) as "
                        "another note; both are kept and this one is given a new ID.",
                        "The note \"second with ID 100\" has been added to the desktop",
                        "The note \"note 0\" has been added to the desktop",
                        "The note \"note 1\" has been added to the desktop",
                        "[finished] ScribbixOutlook"}));
  const std::map<std::int32_t, std::string> expected{
      {100, "note 0"}, {101, "note 1"}, {7000, "second with ID 100"}};
  EXPECT_EQ(handheld_notes(), expected);
  EXPECT_EQ(g_posts, expected);

  // The next run finds one note per ID and changes nothing.
  const Lines again = conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(again.size(), 3u);
  EXPECT_EQ(handheld_notes(), expected);
  EXPECT_EQ(g_posts, expected);
}

INSTANTIATE_TEST_SUITE_P(ProgressOnAndOff, DuplicateIdRunTest, ::testing::Bool());

// --- Long notes

// A text of `lines` lines of nine characters, as the handheld holds it (LF) and as the desktop
// shows it (CR LF).
std::string long_text(int lines, const char* end) {
  std::string text;
  for (int i = 0; i < lines; ++i) text += std::string("line ") + std::to_string(1000 + i) + end;
  return text;
}

TEST_F(PostsRunTest, AHandheldNoteLongerThan32767CharactersOnTheDesktopIsNeverCut) {
  const std::string handheld_form = long_text(3000, "\n");  // 30,000 characters
  const std::string desktop_form = long_text(3000, "\r\n");
  ASSERT_EQ(handheld_form.size(), 30000u);
  ASSERT_EQ(desktop_form.size(), 33000u);
  put_notes(1);
  auto db = read_back(kScribbixDatabase);
  db.records.push_back({0, 0x300, note_bytes(200, desktop_form)});
  put_database(db);
  long result = -1;
  conduit_log(&result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(g_posts.at(200), desktop_form);

  // The second run finds both sides equal: nothing is reported changed, nothing is lost.
  const Lines again = conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(again, (Lines{"[start] ", "Synchronizing database \"ScribbixDB\".",
                          "[finished] ScribbixOutlook"}));
  EXPECT_EQ(handheld_notes().at(200), desktop_form);
  EXPECT_EQ(g_posts.at(200), desktop_form);

  // An edit on the desktop carries the whole text to the handheld.
  g_posts[200] = desktop_form + "edited on the desktop";
  conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(handheld_notes().at(200), desktop_form + "edited on the desktop");
}

TEST_F(PostsRunTest, ADesktopNoteTooLongForTheHandheldStaysOnTheDesktopRunAfterRun) {
  synced(1);
  long result = -1;
  const std::string too_long(40000, 'x');
  g_posts[100] = too_long;
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE(run);
    const Lines log = conduit_log(&result);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(has_line(log, "[error] The note \"" + std::string(32, 'x') +
                                  "\" is too long for the handheld (40029 bytes) and was not "
                                  "written to it."));
    EXPECT_EQ(g_posts.at(100), too_long);           // never overwritten by the handheld's text
    EXPECT_EQ(handheld_notes().at(100), "note 0");  // the handheld keeps what it had
  }
}

// --- Failed writes and closes of the handheld

TEST_F(PostsRunTest, AHandheldCloseThatFailsFailsTheRunAndKeepsThePreviousState) {
  synced(2);
  long result = -1;
  const std::string state = state_bytes();
  ASSERT_FALSE(state.empty());
  g_posts[100] = "edited on the desktop";
  sx::hotsync::inject_fault("SyncCloseDB", SYNCERR_IO);
  const Lines log = conduit_log(&result);
  EXPECT_EQ(result, SYNCERR_IO);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2],
            "[error] The handheld did not take every change (its database could not be "
            "written); what it lacks is synchronized again at the next HotSync.");
  EXPECT_EQ(log.back(), "[failed] ScribbixOutlook");
  EXPECT_EQ(state_bytes(), state);

  conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(handheld_notes(),
            (std::map<std::int32_t, std::string>{{100, "edited on the desktop"}, {101, "note 1"}}));
  EXPECT_EQ(g_posts.at(100), "edited on the desktop");
  EXPECT_NE(state_bytes(), state);
}

TEST_F(PostsRunTest, ACategoryBlockThatCannotBeWrittenFailsTheRunAndSavesNoState) {
  put_notes(1);  // no category block yet: the run writes an empty one at close
  sx::hotsync::inject_fault("SyncWriteDBAppInfoBlock", SYNCERR_IO);
  long result = -1;
  const Lines log = conduit_log(&result);
  EXPECT_EQ(result, SYNCERR_IO);
  EXPECT_EQ(log.back(), "[failed] ScribbixOutlook");
  EXPECT_TRUE(state_bytes().empty());
  conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(state_bytes().empty());
  EXPECT_EQ(g_posts, (std::map<std::int32_t, std::string>{{100, "note 0"}}));
}

TEST_F(PostsRunTest, AFailedHandheldWriteDoesNotRevertTheDesktopsEditAtTheNextSync) {
  synced(2);
  long result = -1;
  g_posts[100] = "edited on the desktop";
  g_posts[101] = "also edited";
  // The first of the two writes; a full handheld is named as such in the log.
  sx::hotsync::inject_fault("SyncWriteRec", SYNCERR_REMOTE_NO_SPACE);
  const Lines log = conduit_log(&result);
  EXPECT_EQ(result, SYNCERR_REMOTE_NO_SPACE);
  EXPECT_TRUE(has_line(log,
                       "[error] The handheld did not take every change (it has no room for "
                       "more notes); what it lacks is synchronized again at the next HotSync."));

  conduit_log(&result);
  EXPECT_EQ(result, 0);
  const std::map<std::int32_t, std::string> expected{{100, "edited on the desktop"},
                                                     {101, "also edited"}};
  EXPECT_EQ(handheld_notes(), expected);
  EXPECT_EQ(g_posts, expected);
}

TEST_F(PostsRunTest, AFailedHandheldWriteLosesNoHandheldEditEither) {
  synced(2);
  long result = -1;
  auto db = read_back(kScribbixDatabase);
  db.records[1].data = note_bytes(101, "edited on the handheld", 1u << NoteRecord::kText);
  put_database(db);
  sx::hotsync::inject_fault("SyncWriteRec", SYNCERR_IO);
  conduit_log(&result);
  EXPECT_EQ(result, SYNCERR_IO);
  EXPECT_EQ(g_posts.at(101), "edited on the handheld");
  conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(handheld_notes().at(101), "edited on the handheld");
  EXPECT_EQ(g_posts.at(101), "edited on the handheld");
}

// --- Notes deleted and archived on the handheld

TEST_F(PostsRunTest, ANoteDeletedForGoodOnTheHandheldIsDeletedOnTheDesktopAndStaysDeleted) {
  put_notes(2);
  g_posts[9] = "from the desktop";
  long result = -1;
  conduit_log(&result);
  ASSERT_EQ(result, 0);
  ASSERT_EQ(handheld_notes().size(), 3u);
  // The person deletes "note 0" and the note that came from the desktop on the handheld: the
  // records keep their record ids and lose their data.
  auto db = read_back(kScribbixDatabase);
  for (auto& record : db.records) {
    NoteRecord note;
    ASSERT_TRUE(note.unpack(record.data.data(), record.data.size(), nullptr));
    if (note.noteId() == 100 || note.noteId() == 9) record.attributes = 0x80;
  }
  put_database(db);
  const Lines log = conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(has_line(log, "The note \"note 0\" has been deleted from the desktop"));
  EXPECT_TRUE(has_line(log, "The note \"from the desktop\" has been deleted from the desktop"));
  EXPECT_EQ(g_posts, (std::map<std::int32_t, std::string>{{101, "note 1"}}));
  conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(handheld_notes(), (std::map<std::int32_t, std::string>{{101, "note 1"}}));
  EXPECT_EQ(g_posts, (std::map<std::int32_t, std::string>{{101, "note 1"}}));
}

TEST_F(PostsRunTest, AnArchivedRecordWhoseModIsAllOnesReadsAsDeleted) {
  synced(2);
  long result = -1;
  auto db = read_back(kScribbixDatabase);
  db.records[0].attributes = 0x80 | 0x08;  // archived: the data stays
  db.records[0].data = note_bytes(100, "note 0", 0xFFFFFFFFu);
  put_database(db);
  conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(g_posts.count(100), 0u);  // deleted, not archived
  EXPECT_EQ(g_archived_posts.count(100), 0u);
  EXPECT_EQ(handheld_notes().count(100), 0u);
}

TEST_F(PostsRunTest, HandheldOverwritesDesktopCarriesAnArchiveMarkToThePost) {
  synced(2);
  long result = -1;
  auto db = read_back(kScribbixDatabase);
  db.records[0].attributes = 0x80 | 0x08;  // archived on the handheld
  put_database(db);
  put_sync_type(2);
  const Lines log = conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(g_archived_posts, (std::set<std::int32_t>{100}));
  EXPECT_EQ(g_posts.at(100), "note 0");
  for (const auto& line : log) EXPECT_EQ(line.find("deleted"), std::string::npos) << line;
}

// --- The state file

TEST_F(PostsRunTest, ANoteIdTwiceInTheStateFileKeepsTheFirstAndTheRunGoesOn) {
  synced(2);
  long result = -1;
  const std::string state = state_bytes();
  {
    std::ofstream out(state_file(), std::ios::binary | std::ios::app);
    out << state;  // every record once more
  }
  g_posts[101] = "edited on the desktop";
  const Lines log = conduit_log(&result);
  EXPECT_EQ(result, 0);
  const std::string path = sx::hotsync::hotsync_dir() + "\\" + hotsync_test::kUserDir +
                           "\\VorlanScrib\\Test User-Scribbix.VXS";
  EXPECT_TRUE(has_line(log, "The desktop state file \"" + path +
                                "\" holds the note ID 100 more than once (record 3); the first "
                                "one was kept."));
  EXPECT_TRUE(has_line(log, "The desktop state file \"" + path +
                                "\" holds the note ID 101 more than once (record 4); the first "
                                "one was kept."));
  EXPECT_EQ(handheld_notes(),
            (std::map<std::int32_t, std::string>{{100, "note 0"}, {101, "edited on the desktop"}}));
  // Written anew, once per note.
  const std::string again = state_bytes();
  NoteDatabase back("check", nullptr, false, IDS_DESKTOP_DB);
  std::string why;
  int duplicates = 0;
  ASSERT_EQ(
      parse_state_bytes(reinterpret_cast<const BYTE*>(again.data()), again.size(), back, &why,
                        make_state_note, {}, [&](std::int32_t, std::size_t) { ++duplicates; }),
      0)
      << why;
  EXPECT_EQ(back.notes().size(), 2u);
  EXPECT_EQ(duplicates, 0);
}

}  // namespace
}  // namespace sx::conduit::testing
