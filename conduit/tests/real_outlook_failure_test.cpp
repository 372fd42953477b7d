// Outlook calls that fail in the middle of a whole HotSync with the real component, against every
// Outlook: a post that cannot be made, a post that cannot be deleted, a stamp that cannot be
// written. Each failure is told, the rest of the run goes on, nothing is recorded as done that was
// not, and the clean HotSync after it leaves both sides equal without a note lost or doubled.
#include <algorithm>
#include <cmath>

#include "real_outlook_fixture.h"
#include "sx/outlook/faults.h"

namespace sx::conduit::testing {
namespace {

using RealOutlookFailureTest = InEveryOutlook<RealOutlookRunTest>;

bool has_line(const Lines& lines, const std::string& text) {
  return std::find(lines.begin(), lines.end(), text) != lines.end();
}

TEST_P(RealOutlookFailureTest, APostThatCannotBeMadeIsToldAndTheOthersOfTheRunAreWritten) {
  put_notes(1);
  ASSERT_EQ(hotsync(), 0);
  add_handheld("first new note", 0x900);
  add_handheld("second new note", 0x901);
  edit_text(100, "changed on the handheld");
  // The first post the run adds (the later note on the handheld: its provisional ID is lower)
  // cannot be made.
  sx::outlook::inject_fault({.kind = "Items",
                             .operation = "Add",
                             .nth = 1,
                             .hr = E_FAIL,
                             .description = "The disk is full."});
  EXPECT_EQ(hotsync(), 4101);
  sx::outlook::clear_faults();
  EXPECT_TRUE(has_line(last_log_, "Adding an Entry to Outlook"));
  EXPECT_TRUE(has_line(last_log_,
                       "[error] The note \"second new note\" could not be added to the desktop; it "
                       "is tried again at the next HotSync."))
      << ::testing::PrintToString(last_log_);
  EXPECT_FALSE(has_line(last_log_,
                        "[error] The notes could not be merged; nothing was written to the "
                        "handheld or the desktop."));
  // What else the run had to do is done: the other note and the edit are in Outlook.
  Folder posts = folder();
  EXPECT_EQ(posts.at(100), "changed on the handheld");
  EXPECT_EQ(std::count_if(posts.begin(), posts.end(),
                          [](const auto& p) { return p.second == "first new note"; }),
            1);
  EXPECT_EQ(std::count_if(posts.begin(), posts.end(),
                          [](const auto& p) { return p.second == "second new note"; }),
            0);
  // The next clean HotSync makes the post; nothing is lost or doubled.
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  const Folder notes = handheld_notes();
  EXPECT_EQ(folder(), notes);
  EXPECT_EQ(notes.size(), 3u);
}

TEST_P(RealOutlookFailureTest, AFailedDeleteIsToldAndTheDeletionIsCarriedByTheNextHotSync) {
  put_notes(3);
  ASSERT_EQ(hotsync(), 0);
  delete_handheld(101);
  sx::outlook::inject_fault({.kind = "Items",
                             .operation = "Remove",
                             .nth = 1,
                             .hr = E_FAIL,
                             .description = "The item cannot be deleted."});
  EXPECT_EQ(hotsync(), 4101);
  sx::outlook::clear_faults();
  EXPECT_TRUE(has_line(last_log_, "Deleting an Entry from Outlook"))
      << ::testing::PrintToString(last_log_);
  EXPECT_EQ(folder().count(101), 1u);  // still there
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(folder().count(101), 0u);
  EXPECT_EQ(handheld_notes().count(101), 0u);  // deleted, and not back
  ASSERT_EQ(hotsync(), 0);
  EXPECT_EQ(folder(), handheld_notes());
  EXPECT_EQ(handheld_notes().size(), 2u);
}

TEST_P(RealOutlookFailureTest, AStampThatCannotBeWrittenLeavesThePostAsItWasForTheNextReading) {
  put_notes(1);
  ASSERT_EQ(hotsync(), 0);
  NotesFolder().add(0, "made by hand");  // no key, no entry date: its first reading stamps them
  // The first reading stamps the post; the value of its "EntryDate" is not taken (the step in the
  // log line below says that the fault met that stamp).
  sx::outlook::inject_fault(
      {.kind = "UserProperty", .operation = "put_Value", .nth = 1, .hr = E_FAIL});
  EXPECT_EQ(hotsync(), 4101);
  sx::outlook::clear_faults();
  EXPECT_TRUE(std::any_of(last_log_.begin(), last_log_.end(), [](const std::string& line) {
    return line.rfind("Error Reading an Outlook entry (-8). ", 0) == 0;
  })) << ::testing::PrintToString(last_log_);
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  PersonsFolder outlook;
  std::optional<double> key;
  for (double k : outlook.keys()) {
    if (k != 100) key = k;
  }
  ASSERT_TRUE(key);
  const com::Variant entry = outlook.property(*key, u"EntryDate");
  ASSERT_EQ(entry.vt(), VT_DATE);
  SYSTEMTIME when{};
  ASSERT_TRUE(VariantTimeToSystemTime(entry.get().date, &when));
  EXPECT_LT(when.wYear, 4500);  // a date of the post, not Outlook's empty one
  EXPECT_EQ(folder(), handheld_notes());
}

INSTANTIATE_TEST_SUITE_P(Outlooks, RealOutlookFailureTest, ::testing::ValuesIn(kOutlookKinds),
                         kind_name);

}  // namespace
}  // namespace sx::conduit::testing
