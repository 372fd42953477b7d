// Whole HotSyncs through HotSync Manager with the real conduit, ScribbixOut and the Outlook
// stand-in: every sync type, several HotSyncs in a row, and a fault at every Outlook call and at
// the sync manager's calls, each followed by a clean HotSync that must lose nothing.
#include <set>

#include "real_outlook_fixture.h"
#include "sx/clock.h"
#include "sx/outlook/faults.h"
#include "sx/outlook/outlook_process.h"
#include "sx/window.h"

namespace sx::conduit::testing {
namespace {

using RealOutlookKindsTest = InEveryOutlook<RealOutlookRunTest>;

TEST_P(RealOutlookKindsTest, AFirstSyncAndChangesOnBothSidesLeaveThemEqual) {
  put_notes(3);  // 100, 101, 102
  {
    NotesFolder outlook;
    outlook.add(9001, "from Outlook");
    outlook.add(0, "made by hand in Outlook");
  }
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  Folder notes = handheld_notes();
  EXPECT_EQ(notes.size(), 5u);
  EXPECT_EQ(folder(), notes);
  EXPECT_EQ(notes.at(9001), "from Outlook");

  edit_handheld(100, "changed on the handheld");
  delete_handheld(101);
  add_handheld("new on the handheld", 0x900);
  {
    NotesFolder outlook;
    outlook.change(102, "changed in Outlook");
    outlook.remove(9001);
    outlook.add(9002, "new in Outlook\r\nsecond line");
  }
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  notes = handheld_notes();
  EXPECT_EQ(folder(), notes);
  EXPECT_EQ(notes.at(100), "changed on the handheld");
  EXPECT_EQ(notes.count(101), 0u);
  EXPECT_EQ(notes.at(102), "changed in Outlook");
  EXPECT_EQ(notes.count(9001), 0u);
  EXPECT_EQ(notes.at(9002), "new in Outlook\r\nsecond line");
  EXPECT_EQ(notes.size(), 5u);

  // Once more, and a fast sync: nothing moves.
  ASSERT_EQ(hotsync(), 0);
  put_sync_type(eFast);
  ASSERT_EQ(hotsync(), 0);
  EXPECT_EQ(handheld_notes(), notes);
  EXPECT_EQ(folder(), notes);
}

TEST_P(RealOutlookKindsTest, EachSyncTypeInTurnKeepsBothSidesEqual) {
  put_notes(2);
  ASSERT_EQ(hotsync(), 0);
  int round = 0;
  for (int type : {eFast, eSlow, eHHtoPC, ePCtoHH, eFast}) {
    SCOPED_TRACE(sx::hotsync::sync_type_name(type));
    ++round;
    edit_handheld(100, "handheld round " + std::to_string(round));
    add_handheld("handheld new " + std::to_string(round), 0xA00 + static_cast<unsigned>(round));
    {
      NotesFolder outlook;
      outlook.change(101, "outlook round " + std::to_string(round));
      outlook.add(9100 + round, "outlook new " + std::to_string(round));
    }
    put_sync_type(type);
    ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
    const Folder notes = handheld_notes();
    EXPECT_EQ(folder(), notes);
    const std::string r = std::to_string(round);
    if (type == ePCtoHH) {
      EXPECT_EQ(notes.at(101), "outlook round " + r);
      EXPECT_EQ(notes.count(9100 + round), 1u);
    } else if (type == eHHtoPC) {
      EXPECT_EQ(notes.at(100), "handheld round " + r);
      EXPECT_EQ(notes.count(9100 + round), 0u);
    } else {
      EXPECT_EQ(notes.at(100), "handheld round " + r);
      EXPECT_EQ(notes.at(101), "outlook round " + r);
      EXPECT_EQ(notes.count(9100 + round), 1u);
    }
  }
}

TEST_P(RealOutlookKindsTest, TheWatcherCancelsChooseProfileAndTheRunLogsOnToThePairedProfile) {
  put_notes(1);
  ASSERT_TRUE(sx::outlook::set_prompt_for_profile(true));
  // Nobody answers the chooser for a minute: only the watcher closes it in time.
  sx::window::set_host(sx::window::Host::kScripted);
  sx::window::expect_dialog(sx::window::DialogMatch::by_title(sx::outlook::kChooseProfileTitle),
                            {sx::window::wait(60000)});
  const std::int64_t started = sx::clock::now_ms();
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_LT(sx::clock::now_ms() - started, 30000);
  bool cancelled = false;
  for (const auto& shown : sx::window::shown()) {
    if (shown.title != sx::outlook::kChooseProfileTitle) continue;
    cancelled = shown.result == IDCANCEL && !shown.ended_by_host;
  }
  EXPECT_TRUE(cancelled);
  sx::window::set_host(sx::window::Host::kNone);
  ASSERT_TRUE(sx::outlook::set_prompt_for_profile(false));
  EXPECT_EQ(folder(), handheld_notes());
}

INSTANTIATE_TEST_SUITE_P(Outlooks, RealOutlookKindsTest, ::testing::ValuesIn(kOutlookKinds),
                         kind_name);

// The notes a scenario expects to survive, by text: each round changes and adds notes on both
// sides; what a failed HotSync half did, the clean one after it must finish without losing any.
class FaultEveryCallTest : public RealOutlookRunTest {
 protected:
  void SetUp() override {
    RealOutlookRunTest::SetUp();
    put_notes(3);
    ASSERT_EQ(hotsync(), 0);
    for (const auto& [id, text] : handheld_notes()) live_[id] = text;
  }
  // Changes on both sides (texts unique to the round, a category in Outlook, the private flag on
  // the handheld); the notes the last round added are deleted, on the side that made them, so that
  // every round handles as many notes.
  void edit(int round) {
    const std::string r = std::to_string(round);
    const std::string previous = std::to_string(round - 1);
    for (const auto& [id, text] : handheld_notes()) {
      if (text == "handheld new " + previous) delete_handheld(id);
    }
    added_.erase("handheld new " + previous);
    edit_text(100, "handheld edit " + r);
    live_[100] = "handheld edit " + r;
    change_handheld(102, 1u << 30, [&](NoteRecord&, sx::hotsync::PdbRecord& record) {
      record.attributes = static_cast<std::uint8_t>(record.attributes ^ 0x10);
    });
    add_handheld("handheld new " + r, 0x1000 + static_cast<unsigned>(round));
    added_.insert("handheld new " + r);
    {
      NotesFolder outlook;
      if (live_.erase(20000 + round - 1) != 0) outlook.remove(20000 + round - 1);
      outlook.change(102, "outlook edit " + r);
      live_[102] = "outlook edit " + r;
      outlook.add(20000 + round, "outlook new " + r);
      live_[20000 + round] = "outlook new " + r;
    }
    PersonsFolder outlook;
    com::ComPtr<_OutlookItem> post = outlook.post(101);
    ASSERT_TRUE(post);
    ASSERT_EQ(post->put_Categories(com::Bstr(round % 2 == 0 ? u"Cat A" : u"Cat B").get()), S_OK);
    ASSERT_EQ(post->Save(), S_OK);
  }
  // After the clean HotSync: both sides equal in every field, no key held by two posts, and every
  // note expected is there with its text.
  void check(const std::string& what) {
    SCOPED_TRACE(what);
    const Folder notes = handheld_notes();
    ASSERT_EQ(folder(), notes) << ::testing::PrintToString(last_log_);
    expect_equal_in_every_field();
    std::multiset<std::string> texts;
    for (const auto& [id, text] : notes) texts.insert(text);
    for (const auto& [id, text] : live_) {
      EXPECT_EQ(texts.count(text), 1u) << "lost or doubled: " << text;
    }
    for (const std::string& text : added_) {
      EXPECT_EQ(texts.count(text), 1u) << "lost or doubled: " << text;
    }
  }

  std::map<std::int32_t, std::string> live_;
  std::set<std::string> added_;
};

// The sweep in chunks of calls, each on a machine of its own, so that each test stays short.
constexpr int kCallsPerChunk = 20;
constexpr int kChunks = 12;
class OutlookCallFaultTest : public FaultEveryCallTest,
                             public ::testing::WithParamInterface<std::tuple<OutlookKind, int>> {
 protected:
  OutlookCallFaultTest() { kind_ = std::get<0>(GetParam()); }
};

TEST_P(OutlookCallFaultTest, AFaultAtEveryOutlookCallThenACleanHotSyncLosesNothing) {
  // How many Outlook calls a HotSync of one round makes.
  edit(0);
  sx::outlook::Fault count_only;
  count_only.operation = "*";
  count_only.nth = 1 << 30;
  const int counter = sx::outlook::inject_fault(count_only);
  ASSERT_EQ(hotsync(), 0);
  const int calls = sx::outlook::fault_calls(counter);
  sx::outlook::clear_faults();
  ASSERT_GT(calls, 10);
  ASSERT_LE(calls, kCallsPerChunk * kChunks) << "more chunks are needed to reach every call";
  const int first = std::get<1>(GetParam()) * kCallsPerChunk + 1;
  for (int n = first; n < first + kCallsPerChunk && n <= calls; ++n) {
    edit(n);
    const int fault = sx::outlook::inject_fault(
        {.kind = "", .operation = "*", .nth = n, .hr = E_FAIL, .description = "injected"});
    (void)hotsync();  // a faulted run may fail or not; what counts is what the clean one leaves
    const std::string failed = sx::outlook::fault_failed_call(fault);
    sx::outlook::clear_faults();
    ASSERT_EQ(hotsync(), 0) << "clean HotSync after a fault at Outlook call " << n << ": "
                            << ::testing::PrintToString(last_log_);
    check("Outlook call " + std::to_string(n) + " (" + failed + ")");
    if (HasFatalFailure()) return;
  }
}
INSTANTIATE_TEST_SUITE_P(Calls, OutlookCallFaultTest,
                         ::testing::Combine(::testing::ValuesIn(kOutlookKinds),
                                            ::testing::Range(0, kChunks)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::to_string(std::get<1>(info.param));
                         });

class SyncManagerFaultTest : public FaultEveryCallTest,
                             public ::testing::WithParamInterface<const char*> {};

TEST_P(SyncManagerFaultTest, AFaultInItsFirstCallsThenACleanHotSyncLosesNothing) {
  const char* operation = GetParam();
  for (int nth = 1; nth <= 3; ++nth) {
    edit(nth);
    sx::hotsync::inject_fault(operation, SYNCERR_IO, nth);
    (void)hotsync();
    sx::hotsync::clear_faults();
    ASSERT_EQ(hotsync(), 0) << operation << " #" << nth << ": "
                            << ::testing::PrintToString(last_log_);
    check(std::string(operation) + " #" + std::to_string(nth));
    if (HasFatalFailure()) return;
  }
}
INSTANTIATE_TEST_SUITE_P(Operations, SyncManagerFaultTest,
                         ::testing::Values("SyncOpenDB", "SyncReadDBList", "SyncGetDBRecordCount",
                                           "SyncReadRecordByIndex", "SyncWriteRec", "SyncDeleteRec",
                                           "SyncPurgeDeletedRecs", "SyncResetSyncFlags",
                                           "SyncReadDBAppInfoBlock", "SyncWriteDBAppInfoBlock",
                                           "SyncCloseDB", "SyncReadAppPreference",
                                           "CommitDatabase"));

}  // namespace
}  // namespace sx::conduit::testing
