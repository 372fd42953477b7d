// The merge note by note and field by field: which side wins, what is deleted, added, renumbered,
// and the HotSync log lines with their settings.
#include "analysis.h"

#include "analysis_fixture.h"
#include "dialogs.h"

namespace sx::conduit::testing {
namespace {

using Lines = std::vector<std::string>;
constexpr DWORD kTextBit = 1u << NoteRecord::kText;

TEST_F(AnalysisTest, OnlyOneSideChangedCarriesTheValueAcrossAndLogsIt) {
  auto& h1 = add(handheld_, make_note(1, "milk", kTextBit));
  auto& d1 = add(desktop_, make_note(1, "bread"));
  auto& h2 = add(handheld_, make_note(2, "old"));
  auto& d2 = add(desktop_, make_note(2, "new", kTextBit));
  EXPECT_EQ(handheld_.synchronizeWith(desktop_), 0);
  EXPECT_EQ(d1.text(NoteRecord::kText).desktop(), "milk");
  EXPECT_TRUE(d1.text(NoteRecord::kText).changed_in_memory);
  EXPECT_EQ(h2.text(NoteRecord::kText).desktop(), "new");
  EXPECT_FALSE(h1.anyChangedInMemory());
  EXPECT_FALSE(d2.anyChangedInMemory());
  EXPECT_EQ(log(), (Lines{
                       "The \"Note Text\" field of the note \"milk\" has been set to \"milk\" on "
                       "the desktop.",
                       "The \"Note Text\" field of the note \"new\" has been set to \"new\" on the "
                       "handheld.",
                   }));
}

TEST_F(AnalysisTest, ChangeLinesNeedLogChanges) {
  settings().LogChanges = 0;
  add(handheld_, make_note(1, "milk", kTextBit));
  add(desktop_, make_note(1, "bread"));
  add(handheld_, make_note(2, "only here"));
  handheld_.synchronizeWith(desktop_);
  EXPECT_TRUE(log().empty());
}

TEST_F(AnalysisTest, DeletionOnTheHandheldBeatsAChangeOnTheDesktop) {
  add(handheld_, deleted_handheld_note(0x207));
  auto& d = add(desktop_, with_record(make_note(7, "changed on the desktop", kTextBit), 0x207));
  handheld_.synchronizeWith(desktop_);
  EXPECT_TRUE(d.isMarkedForDeletion());
  EXPECT_EQ(d.text(NoteRecord::kText).desktop(), "changed on the desktop");
  EXPECT_EQ(log(), Lines{"The note \"changed on the desktop\" has been deleted from the desktop"});
}

TEST_F(AnalysisTest, DeletionOnTheDesktopBeatsAChangeOnTheHandheld) {
  auto& h = add(handheld_, make_note(7, "changed on the handheld", kTextBit));
  auto& d = add(desktop_, make_note(7, "as last synced"));
  d.setDeleted(true);  // its post is gone
  handheld_.synchronizeWith(desktop_);
  EXPECT_TRUE(h.isMarkedForDeletion());
  EXPECT_FALSE(d.isMarkedForDeletion());
  EXPECT_EQ(log(),
            Lines{"The note \"changed on the handheld\" has been deleted from the handheld"});
}

TEST_F(AnalysisTest, AnArchivedNoteArchivesTheOtherSideAndIsStillMerged) {
  auto& h = add(handheld_, make_note(3, "kept", kTextBit));
  h.setAttributes(kAttrArchived);
  auto& d = add(desktop_, make_note(3, "old"));
  auto& h4 = add(handheld_, make_note(4, "four"));
  auto& d4 = add(desktop_, make_note(4, "four"));
  d4.setAttributes(kAttrArchived);
  handheld_.synchronizeWith(desktop_);
  EXPECT_EQ(d.attributes() & kAttrArchived, kAttrArchived);
  EXPECT_EQ(d.text(NoteRecord::kText).desktop(), "kept");
  EXPECT_FALSE(d.isMarkedForDeletion());
  EXPECT_EQ(h4.attributes() & kAttrArchived, kAttrArchived);
  EXPECT_FALSE(h4.isMarkedForDeletion());
}

TEST_F(AnalysisTest, AnArchivedHandheldNoteMissingOnTheDesktopIsAddedArchived) {
  auto& h = add(handheld_, make_note(3, "archived"));
  h.setAttributes(kAttrArchived);
  add(handheld_, deleted_handheld_note(0x204));
  handheld_.synchronizeWith(desktop_);
  ASSERT_EQ(desktop_.notes().size(), 1u);
  EXPECT_EQ(desktop_.find(3)->attributes() & kAttrArchived, kAttrArchived);
}

TEST_F(AnalysisTest, SkipSetsTheModBitOnBothAndTheConflictComesBackNextRun) {
  settings().ConflictResolution = 3;
  settings().LogChanges = 0;
  auto& h = add(handheld_, make_note(9, "handheld words", kTextBit));
  auto& d = add(desktop_, make_note(9, "desktop words", kTextBit));
  handheld_.synchronizeWith(desktop_);
  EXPECT_EQ(h.modValue(), kTextBit);
  EXPECT_EQ(d.modValue(), kTextBit);
  EXPECT_TRUE(h.field(NoteRecord::kText).exclude);
  EXPECT_TRUE(d.field(NoteRecord::kText).exclude);
  EXPECT_EQ(h.text(NoteRecord::kText).desktop(), "handheld words");
  EXPECT_EQ(d.text(NoteRecord::kText).desktop(), "desktop words");
  const std::string conflict =
      "The \"Note Text\" field of the note \"handheld words\" has been modified on both "
      "platforms.  The value on the desktop is \"desktop words\".  The value on the handheld is "
      "\"handheld words\".";
  EXPECT_EQ(log(), Lines{conflict});

  // Next run: both sides load the note with the Mod bit, which marks the field again.
  MemoryHandheld handheld2;
  MemoryDesktop desktop2;
  add(handheld2, make_note(9, "handheld words", h.modValue()));
  add(desktop2, make_note(9, "desktop words", d.modValue()));
  handheld2.synchronizeWith(desktop2);
  EXPECT_EQ(log(), Lines{conflict});
}

TEST_F(AnalysisTest, ResolutionZeroAndOnePickASideWithoutADialog) {
  settings().ConflictResolution = 0;
  auto& h = add(handheld_, make_note(1, "h", kTextBit));
  add(desktop_, make_note(1, "d", kTextBit));
  handheld_.synchronizeWith(desktop_);
  EXPECT_EQ(h.text(NoteRecord::kText).desktop(), "d");
  EXPECT_EQ(log().back(),
            "The \"Note Text\" field of the note \"d\" has been set to \"d\" on the handheld.");

  MemoryHandheld handheld2;
  MemoryDesktop desktop2;
  settings().ConflictResolution = 1;
  add(handheld2, make_note(1, "h", kTextBit));
  auto& d2 = add(desktop2, make_note(1, "d", kTextBit));
  handheld2.synchronizeWith(desktop2);
  EXPECT_EQ(d2.text(NoteRecord::kText).desktop(), "h");
  EXPECT_TRUE(sx::window::shown().empty());
}

TEST_F(AnalysisTest, AnUnknownResolutionLeavesBothAndCountsAsResolved) {
  settings().ConflictResolution = 7;
  auto& h = add(handheld_, make_note(1, "h", kTextBit));
  auto& d = add(desktop_, make_note(1, "d", kTextBit));
  handheld_.synchronizeWith(desktop_);
  EXPECT_EQ(h.text(NoteRecord::kText).desktop(), "h");
  EXPECT_EQ(d.text(NoteRecord::kText).desktop(), "d");
  EXPECT_EQ(h.modValue(), 0u);
  EXPECT_FALSE(h.field(NoteRecord::kText).exclude);
}

TEST_F(AnalysisTest, AskWithNeitherSideMarkedTakesTheHandheldValueWithoutADialog) {
  // Default resolution 2 (ask).
  add(handheld_, make_note(1, "handheld", 0));
  auto& d = add(desktop_, make_note(1, "desktop", 0));
  auto& h2 = add(handheld_, make_note(2, "h2", kTextBit));
  add(desktop_, make_note(2, "d2", kTextBit));
  sx::window::expect_dialog(sx::window::DialogMatch::by_id(IDD_CONFLICT),
                            {sx::window::click(IDC_USE_DESKTOP)});
  handheld_.synchronizeWith(desktop_);
  EXPECT_EQ(d.text(NoteRecord::kText).desktop(), "handheld");
  // The later real conflict is still asked about (only one dialog, for note 2).
  EXPECT_EQ(sx::window::shown().size(), 1u);
  EXPECT_EQ(h2.text(NoteRecord::kText).desktop(), "d2");
  EXPECT_EQ(settings().ConflictResolution, 2u);
  const auto lines = log();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1],
            "The \"Note Text\" field of the note \"handheld\" has been set to \"handheld\" on the "
            "desktop.");
}

TEST_F(AnalysisTest, UseForAllMakesTheChoiceTheRunsResolution) {
  for (int i = 1; i <= 3; ++i) {
    add(handheld_, make_note(i, "h" + std::to_string(i), kTextBit));
    add(desktop_, make_note(i, "d" + std::to_string(i), kTextBit));
  }
  sx::window::expect_dialog(
      sx::window::DialogMatch::by_id(IDD_CONFLICT),
      {sx::window::check(IDC_USE_FOR_ALL), sx::window::click(IDC_USE_HANDHELD)});
  handheld_.synchronizeWith(desktop_);
  EXPECT_EQ(sx::window::shown().size(), 1u);
  EXPECT_EQ(settings().ConflictResolution, 1u);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(desktop_.find(i)->text(NoteRecord::kText).desktop(), "h" + std::to_string(i));
  }
}

TEST_F(AnalysisTest, AnUnansweredDialogSkipsTheFieldAndLogs66) {
  settings().LogConflicts = 0;
  settings().LogChanges = 0;
  auto& h = add(handheld_, make_note(1, "Shopping", kTextBit));
  auto& d = add(desktop_, make_note(1, "Shopping list", kTextBit));
  sx::window::expect_dialog(sx::window::DialogMatch::by_id(IDD_CONFLICT), {sx::window::wait()});
  const int before = unanswered_conflict_dialogs();
  handheld_.synchronizeWith(desktop_);
  EXPECT_EQ(unanswered_conflict_dialogs(), before + 1);
  EXPECT_EQ(h.modValue(), kTextBit);
  EXPECT_EQ(d.text(NoteRecord::kText).desktop(), "Shopping list");
  EXPECT_EQ(log(), Lines{"[error] Since there was no response to the Resolve Field Level "
                         "Conflicts dialog, the conflict in the note Shopping was automatically "
                         "skipped."});
}

TEST_F(AnalysisTest, ExcludedDatesNeverConflictNorLog) {
  settings().DiagnosticMode = 1;
  auto& h = add(handheld_, make_note(1, "same", 1u << NoteRecord::kCreated));
  auto& d = add(desktop_, make_note(1, "same", 1u << NoteRecord::kModified));
  h.date(NoteRecord::kCreated).set(40000.5);
  d.date(NoteRecord::kModified).set(41000.25);
  h.clearChangedMarks();
  d.clearChangedMarks();
  handheld_.synchronizeWith(desktop_);
  EXPECT_FALSE(h.anyChangedInMemory());
  EXPECT_FALSE(d.anyChangedInMemory());
  EXPECT_TRUE(log().empty());
  EXPECT_TRUE(sx::window::shown().empty());
}

TEST_F(AnalysisTest, ExcludedFieldLinesOfTheMirrorNeedDiagnosticMode) {
  NoteRecord note;
  note.text(NoteRecord::kText).setDesktop("t");
  note.field(NoteRecord::kCreated).exclude = true;
  note.logFieldSet(note.field(NoteRecord::kCreated), Side::kDesktop);
  EXPECT_TRUE(log().empty());
  settings().DiagnosticMode = 1;
  note.logFieldSet(note.field(NoteRecord::kCreated), Side::kDesktop);
  EXPECT_EQ(log(), Lines{"The \"Created on\" field of the note \"t\" has been set to na on the "
                         "desktop."});
}

TEST_F(AnalysisTest, CategoryAndPrivateMergeWithTheirBitsAndNames) {
  settings().ConflictResolution = 3;
  settings().LogChanges = 1;
  auto& h = add(handheld_, make_note(1, "n", 0x80000000u, 4));
  auto& d = add(desktop_, make_note(1, "n", 0x40000000u, 2));
  d.privateFlag().setBool(true);
  d.clearChangedMarks();
  handheld_.synchronizeWith(desktop_);
  EXPECT_EQ(d.category().value(), 4);
  EXPECT_TRUE(h.privateFlag().get());
  EXPECT_EQ(log(),
            (Lines{"The \"Category\" field of the note \"n\" has been set to 4 on the desktop.",
                   "The \"Private\" field of the note \"n\" has been set to TRUE on the "
                   "handheld."}));
}

TEST_F(AnalysisTest, ProvisionalIdIsRenumberedOnTheDesktopAndWrittenBack) {
  auto& h = add(handheld_, provisional_note(-2, "new on the handheld"));
  add(handheld_, make_note(100, "old"));
  add(desktop_, make_note(100, "old"));
  desktop_.next_id = 100;  // taken: the desktop draws the next free one
  handheld_.synchronizeWith(desktop_);
  EXPECT_EQ(h.noteId(), 101);
  EXPECT_TRUE(h.field(NoteRecord::kId).changed_in_memory);  // written back
  EXPECT_EQ(handheld_.find(-2), nullptr);
  EXPECT_EQ(handheld_.find(101), &h);
  EXPECT_EQ(handheld_.remap().at(-2), 101);
  ASSERT_NE(desktop_.find(101), nullptr);
  EXPECT_EQ(log(), Lines{"The note \"new on the handheld\" has been added to the desktop"});
}

TEST_F(AnalysisTest, DesktopOnlyNotesAreAddedToTheHandheldUnlessDeleted) {
  add(desktop_, make_note(20, "desktop note"));
  auto& gone = add(desktop_, make_note(21, "gone"));
  gone.setDeleted(true);
  auto& marked = add(desktop_, make_note(22, "marked"));
  marked.markForDeletion();
  handheld_.synchronizeWith(desktop_);
  ASSERT_EQ(handheld_.notes().size(), 1u);
  EXPECT_TRUE(handheld_.find(20)->isNew());
  EXPECT_EQ(log(), Lines{"The note \"desktop note\" has been added to the handheld"});
}

TEST_F(AnalysisTest, MirroringOntoTheDesktopDeletesItsExtrasAndCopiesFields) {
  add(handheld_, make_note(1, "same id, handheld text"));
  add(handheld_, provisional_note(-5, "provisional"));
  auto& d1 = add(desktop_, make_note(1, "desktop text", kTextBit));
  auto& extra = add(desktop_, make_note(2, "only on the desktop"));
  auto& gone = add(desktop_, make_note(3, "post gone"));
  gone.setDeleted(true);
  desktop_.mirrorFrom(handheld_);
  EXPECT_EQ(d1.text(NoteRecord::kText).desktop(), "same id, handheld text");
  EXPECT_TRUE(extra.isMarkedForDeletion());
  EXPECT_EQ(desktop_.find(3), nullptr);  // deleted notes leave the target's map
  ASSERT_EQ(desktop_.notes().size(), 3u);
  EXPECT_EQ(log(), (Lines{"The \"Note Text\" field of the note \"same id, handheld text\" has "
                          "been set to \"same id, handheld text\" on the desktop.",
                          "The note \"provisional\" has been added to the desktop",
                          "The note \"only on the desktop\" has been deleted from the desktop"}));
}

TEST_F(AnalysisTest, MirroringOntoTheHandheldDeletesNotesDeletedOnTheDesktopInsteadOfBlankingThem) {
  auto& h = add(handheld_, make_note(1, "keep?"));
  auto& d = add(desktop_, make_note(1, "keep?"));
  d.setDeleted(true);
  add(handheld_, deleted_handheld_note(0x202));
  add(desktop_, make_note(2, "restored"));
  handheld_.mirrorFrom(desktop_);
  EXPECT_TRUE(h.isMarkedForDeletion());
  EXPECT_EQ(h.text(NoteRecord::kText).desktop(), "keep?");
  ASSERT_NE(handheld_.find(2), nullptr);
  EXPECT_TRUE(handheld_.find(2)->isNew());
  EXPECT_EQ(handheld_.find(2)->text(NoteRecord::kText).desktop(), "restored");
}

TEST_F(AnalysisTest, MirrorFromAHandheldRecordDeletedForGoodDeletesTheDesktopNote) {
  add(handheld_, deleted_handheld_note(0x205));
  auto& d = add(desktop_, with_record(make_note(5, "text"), 0x205));
  desktop_.mirrorFrom(handheld_);
  EXPECT_TRUE(d.isMarkedForDeletion());
  EXPECT_EQ(d.text(NoteRecord::kText).desktop(), "text");
}

TEST_F(AnalysisTest, ANewNoteNeverTakesAnIdThatEitherSideHolds) {
  // The shared key sequence's next values are held: 0x4000 only by the handheld (a note
  // synchronised with another PC), 0x4001 only by the desktop.
  desktop_.setIdAllocator(nullptr);  // the registry's sequence, as the Outlook side will use it
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorlan Software\\Scribbix", 0, nullptr,
                            0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            0);
  const DWORD last = 0x3FFF;
  RegSetValueExA(key, "Last", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&last), 4);
  RegCloseKey(key);
  auto& fresh = add(handheld_, provisional_note(-2, "new on the handheld"));
  add(handheld_, make_note(0x4000, "only on the handheld"));
  add(desktop_, make_note(0x4001, "only on the desktop"));
  EXPECT_EQ(handheld_.synchronizeWith(desktop_), 0);
  EXPECT_EQ(fresh.noteId(), 0x4002);
  EXPECT_EQ(desktop_.find(0x4002)->text(NoteRecord::kText).desktop(), "new on the handheld");
  EXPECT_EQ(desktop_.find(0x4000)->text(NoteRecord::kText).desktop(), "only on the handheld");
  EXPECT_EQ(handheld_.find(0x4001)->text(NoteRecord::kText).desktop(), "only on the desktop");
  for (const NoteDatabase* db : {static_cast<const NoteDatabase*>(&handheld_),
                                 static_cast<const NoteDatabase*>(&desktop_)}) {
    ASSERT_EQ(db->notes().size(), 3u);
    for (const auto& [id, note] : db->notes()) EXPECT_EQ(id, note->noteId());
  }
}

TEST_F(AnalysisTest, AMergeThatCannotDrawANewIdFails) {
  add(handheld_, provisional_note(-2, "new"));
  add(handheld_, make_note(3, "kept"));
  desktop_.next_id = 0;  // the sequence cannot be drawn
  EXPECT_EQ(handheld_.synchronizeWith(desktop_), kNoteNotCreated);
  EXPECT_EQ(desktop_.find(3)->text(NoteRecord::kText).desktop(), "kept");
  EXPECT_EQ(desktop_.notes().size(), 1u);
}

TEST_F(AnalysisTest, TwoDesktopNotesWithOneIdAreBothKeptAndTheLaterOneIsRenumbered) {
  add(handheld_, make_note(5, "on both"));
  add(desktop_, make_note(5, "on both"));
  desktop_.admit(make_note(8, "first with 8"));
  NoteRecord& second = desktop_.admit(make_note(8, "second with 8"));
  EXPECT_TRUE(second.needsRewrite());
  EXPECT_LT(second.noteId(), -1);
  desktop_.next_id = 8;  // taken: the next free one is drawn
  handheld_.synchronizeWith(desktop_);
  EXPECT_EQ(second.noteId(), 9);
  EXPECT_TRUE(second.field(NoteRecord::kId).changed_in_memory);  // written back by the desktop
  EXPECT_EQ(desktop_.find(9), &second);
  EXPECT_EQ(handheld_.find(8)->text(NoteRecord::kText).desktop(), "first with 8");
  EXPECT_EQ(handheld_.find(9)->text(NoteRecord::kText).desktop(), "second with 8");
  EXPECT_EQ(log(),
            (Lines{"The note \"second with 8\" on the desktop has the same ID (8) as another "
                   "note; both are kept and this one is given a new ID.",
                   "The note \"second with 8\" has been added to the handheld",
                   "The note \"first with 8\" has been added to the handheld"}));
}

TEST_F(AnalysisTest, AHandheldRecordDeletedForGoodFindsItsDesktopNoteByRecordId) {
  add(handheld_, deleted_handheld_note(0x301));
  auto& d = add(desktop_, with_record(make_note(31, "deleted on the handheld"), 0x301));
  add(handheld_, deleted_handheld_note(0x302));  // a record the desktop never knew
  add(handheld_, make_note(33, "live"));
  add(handheld_, deleted_handheld_note(0x303));  // its note ID is taken on the handheld: left
  auto& live = add(desktop_, with_record(make_note(33, "live"), 0x303));
  handheld_.synchronizeWith(desktop_);
  EXPECT_TRUE(d.isMarkedForDeletion());
  EXPECT_FALSE(live.isMarkedForDeletion());
  EXPECT_EQ(DWORD{handheld_.find(31)->info().m_RecId}, 0x301u);
  EXPECT_EQ(log(), Lines{"The note \"deleted on the handheld\" has been deleted from the desktop"});
}

// A sync that did not finish posted a note new on the handheld; the handheld record never took the
// post's ID and the state file never learnt of the post. The next sync finds both as new.
TEST_F(AnalysisTest, ANewHandheldNoteFindsThePostAnUnfinishedSyncMadeOfIt) {
  auto& h = add(handheld_, provisional_note(-2, "posted before"));
  auto& post = add(desktop_, make_note(7001, "posted before"));
  post.date(NoteRecord::kDate).set(46000.5);  // the stamp a post's first reading gives it
  post.date(NoteRecord::kDate).modified_here = true;
  auto& other = add(handheld_, provisional_note(-3, "new, never posted"));
  // Its text changed since: a note of its own, not the post of the handheld's note.
  add(handheld_, provisional_note(-4, "edited after"));
  auto& edited_post = add(desktop_, make_note(7002, "edited after, in Outlook"));
  // A desktop note the handheld held (it knows its record): never taken for a post of a new note.
  add(handheld_, provisional_note(-5, "known"));
  auto& known = add(desktop_, with_record(make_note(7003, "known"), 0x405));
  desktop_.next_id = 8000;
  handheld_.synchronizeWith(desktop_);

  EXPECT_EQ(h.noteId(), 7001);
  EXPECT_TRUE(h.field(NoteRecord::kId).changed_in_memory);  // written back with the post's ID
  EXPECT_EQ(handheld_.find(7001), &h);
  EXPECT_EQ(desktop_.find(7001), &post);
  // The note had no date: the post's stamp is not taken as a change (no conflict, no write back).
  EXPECT_EQ(post.date(NoteRecord::kDate).value(), 0);
  EXPECT_FALSE(h.field(NoteRecord::kDate).changed_in_memory);
  EXPECT_NE(other.noteId(), -3);
  EXPECT_EQ(handheld_.notes().size(), desktop_.notes().size());
  // 7001 once; 8000-8002 made on the desktop, 7002 and 7003 on the handheld.
  EXPECT_EQ(handheld_.notes().size(), 6u);
  EXPECT_EQ(desktop_.find(7002), &edited_post);
  EXPECT_EQ(desktop_.find(7003), &known);
  const Lines lines = log();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("posted before") != l.npos; }),
            0);
}

TEST_F(AnalysisTest, AnArchivedRecordWithModAllOnesLoadsAsDeletedAndDeletesTheDesktopNote) {
  auto h = archived_all_modified_handheld_note(7, "old", 0x207);
  EXPECT_EQ(h->attributes() & (kAttrDeleted | kAttrArchived), kAttrDeleted);
  EXPECT_EQ(h->noteId(), 7);
  EXPECT_TRUE(h->field(NoteRecord::kText).modified_here);
  add(handheld_, std::move(h));
  auto& d = add(desktop_, make_note(7, "old"));
  handheld_.synchronizeWith(desktop_);
  EXPECT_TRUE(d.isMarkedForDeletion());
  EXPECT_EQ(d.attributes() & kAttrArchived, 0);
}

TEST_F(AnalysisTest, TheMergeLoopsYieldOncePerNote) {
  for (int id : {1, 2, 3}) add(handheld_, make_note(id, "h"));
  for (int id : {2, 3, 4, 5}) add(desktop_, make_note(id, "h"));
  auto before = sx::hotsync::yield_count();
  handheld_.synchronizeWith(desktop_);
  // Three handheld notes, then the desktop's five (one was added to it).
  EXPECT_EQ(sx::hotsync::yield_count() - before, 3u + 5u);

  MemoryHandheld target;
  MemoryDesktop source;
  for (int id : {1, 2, 3}) add(target, make_note(id, "t"));
  for (int id : {2, 3, 4, 5}) add(source, make_note(id, "s"));
  before = sx::hotsync::yield_count();
  target.mirrorFrom(source);
  // The target's three, the source's four, then the target's five again.
  EXPECT_EQ(sx::hotsync::yield_count() - before, 3u + 4u + 5u);
}

TEST_F(AnalysisTest, MirroringAnArchivedNoteOntoTheDesktopKeepsItSoThatItsPostIsArchived) {
  auto& h = add(handheld_, make_note(3, "archived on the handheld"));
  h.setAttributes(kAttrArchived);
  add(desktop_, make_note(3, "archived on the handheld"));
  add(handheld_, make_note(4, "live"));
  add(desktop_, make_note(4, "live"));
  desktop_.mirrorFrom(handheld_);
  NoteRecord* d = desktop_.find(3);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->attributes() & kAttrArchived, kAttrArchived);
  EXPECT_FALSE(d->isMarkedForDeletion());
  EXPECT_EQ(desktop_.writeAll(), 0);
  EXPECT_EQ(desktop_.archived_written, std::vector<std::int32_t>{3});
  EXPECT_TRUE(log().empty());
}

TEST_F(AnalysisTest, AMirroredNoteThatLeavesAndComesBackIsLoggedOnceAsAdded) {
  add(handheld_, make_note(1, "source text"));
  add(handheld_, make_note(2, "archived here, live there"));
  auto& gone = add(desktop_, make_note(1, "post gone"));
  gone.setDeleted(true);
  auto& archived_here = add(desktop_, make_note(2, "old"));
  archived_here.setAttributes(kAttrArchived);
  desktop_.mirrorFrom(handheld_);
  EXPECT_EQ(desktop_.find(1)->text(NoteRecord::kText).desktop(), "source text");
  EXPECT_TRUE(desktop_.find(1)->isNew());
  EXPECT_EQ(log(), (Lines{"The note \"source text\" has been added to the desktop",
                          "The note \"archived here, live there\" has been added to the desktop"}));
}

TEST_F(AnalysisTest, RekeyNeverDropsANoteWhoseNewKeyIsTaken) {
  auto& a = add(handheld_, make_note(-2, "a"));
  add(handheld_, make_note(50, "b"));
  a.setNoteId(50);
  handheld_.remap()[-2] = 50;
  rekey(handheld_);
  EXPECT_EQ(handheld_.notes().size(), 2u);
  EXPECT_EQ(handheld_.find(-2), &a);
}

}  // namespace
}  // namespace sx::conduit::testing
