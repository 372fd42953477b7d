// ReadItem: the nine values, the stamping of a post's missing note properties, its step numbers.
#include "component_fixture.h"
#include "scribbix/notes_folder.h"
#include "sx/clock.h"
#include "sx/outlook/store.h"
#include "windows.h"

namespace sx::assist::testing {
namespace {

void set_dword(const char* name, DWORD value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Vorlan Software\\Scribbix", 0, nullptr,
                            0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

class ReadItemTest : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    notes_folder();
  }
  // Reads the only post of the folder in a fresh walk.
  LONG read_only_post(Args& a) {
    EXPECT_EQ(open_walk(), 1);
    EXPECT_EQ(call(&_Class1::NextItem), 1);
    return read(a);
  }
  DATE modified(_OutlookItem* item) {
    DATE t = 0;
    EXPECT_EQ(item->get_LastModificationTime(&t), S_OK);
    return t;
  }
};

TEST_F(ReadItemTest, HandMadePostIsStampedOnItsFirstReadingAndSavedOnlyThen) {
  set_dword("Last", 41);
  hand_made_post("Lunch", "Lunch with Ann\r\nat noon");
  DATE created = 0;
  item_at(1)->get_CreationTime(&created);
  sx::clock::advance(60'000);
  Args a;
  ASSERT_EQ(read_only_post(a), 0);
  EXPECT_EQ(a.v[0].vt(), VT_R8);
  EXPECT_EQ(a.v[0].to_r8(), 42.0);
  EXPECT_EQ(a.v[1].vt(), VT_DATE);
  EXPECT_EQ(a.v[1].to_date(), created);
  EXPECT_EQ(a.v[2].to_date(), created);
  EXPECT_EQ(a.v[4].to_utf8(), "Lunch with Ann\r\nat noon");
  EXPECT_EQ(a.v[5].to_utf8(), "");
  EXPECT_EQ(a.v[6].to_utf8(), "");
  EXPECT_EQ(a.v[7].vt(), VT_I4);
  EXPECT_EQ(a.v[7].to_i4(), 0);
  EXPECT_EQ(a.v[8].vt(), VT_BOOL);
  EXPECT_FALSE(a.v[8].to_bool());

  ComPtr<_OutlookItem> post = item_at(1);
  EXPECT_EQ(text(post.Get(), &_OutlookItem::get_MessageClass), "IPM.Post.ScribbixPost2");
  EXPECT_EQ(property(post.Get(), "ScribKey").to_r8(), 42.0);
  EXPECT_EQ(property(post.Get(), "Archived").vt(), VT_BOOL);
  EXPECT_EQ(property(post.Get(), "EntryDate").to_date(), created);
  SYSTEMTIME t{};
  VariantTimeToSystemTime(created, &t);
  char day[32];
  std::snprintf(day, sizeof day, "%04d/%02d/%02d", t.wYear, t.wMonth, t.wDay);
  EXPECT_EQ(property(post.Get(), "Day").to_utf8(), day);
  EXPECT_EQ(property(post.Get(), "Month").to_utf8(), std::string(day, 7));
  EXPECT_EQ(property(post.Get(), "Year").to_utf8(), std::string(day, 4));
  EXPECT_NEAR(property(post.Get(), "Time").to_date(), created - static_cast<long>(created),
              1.0 / 86400);
  const DATE stamped = modified(post.Get());
  EXPECT_GT(stamped, created);  // saved by the reading

  sx::clock::advance(60'000);
  Args again;
  ASSERT_EQ(read_only_post(again), 0);
  EXPECT_EQ(modified(item_at(1).Get()), stamped);  // nothing written: not saved again
  EXPECT_EQ(again.v[0].to_r8(), 42.0);
  EXPECT_EQ(again.v[1].to_date(), created);
}

TEST_F(ReadItemTest, EntryDateDecidesOnceItIsThere) {
  hand_made_post("x", "x");
  Args a;
  ASSERT_EQ(read_only_post(a), 0);
  ComPtr<UserProperties> props;
  item_at(1)->get_UserProperties(props.ReleaseAndGetAddressOf());
  ComPtr<UserProperty> entry;
  props->Find(Bstr(u"EntryDate").get(), Variant().get(), entry.ReleaseAndGetAddressOf());
  ASSERT_TRUE(entry);
  // The entry date of 5 March 2001 14:30, as the notes add-in would have stamped it.
  ComPtr<_OutlookItem> post = item_at(1);
  post->get_UserProperties(props.ReleaseAndGetAddressOf());
  props->Find(Bstr(u"EntryDate").get(), Variant().get(), entry.ReleaseAndGetAddressOf());
  const DATE march = 36955.0 + 14.5 / 24;
  ASSERT_EQ(entry->put_Value(Variant::from_date(march).get()), S_OK);
  ASSERT_EQ(post->Save(), S_OK);
  Args b;
  ASSERT_EQ(read_only_post(b), 0);
  EXPECT_EQ(b.v[1].to_date(), march);
}

// The received time is a candidate for the note date only: a post that has its entry date is not
// asked for it, and a post that has none is read and stamped even when asking fails.
TEST_F(ReadItemTest, ReceivedTimeIsAskedOnlyForTheEntryDateAndItsFailureIsIgnored) {
  hand_made_post("x", "x");
  DATE created = 0;
  item_at(1)->get_CreationTime(&created);
  sx::clock::advance(60'000);
  const auto read_with_failing_received_time = [&](Args& a) {
    const int id = sx::outlook::inject_fault(
        {.kind = "PostItem", .operation = "ReceivedTime", .nth = 1, .hr = E_FAIL});
    const LONG result = read_only_post(a);
    const int calls = sx::outlook::fault_calls(id);
    sx::outlook::remove_fault(id);
    EXPECT_EQ(result, 0);
    return calls;
  };
  Args first;
  EXPECT_EQ(read_with_failing_received_time(first), 1);
  EXPECT_EQ(first.v[1].to_date(), created);
  EXPECT_EQ(property(item_at(1).Get(), "EntryDate").to_date(), created);
  Args again;
  EXPECT_EQ(read_with_failing_received_time(again), 0);
  EXPECT_EQ(again.v[1].to_date(), created);
}

// A post whose received time is the earliest of its three times (one that came into the folder
// from elsewhere) takes it as its note date on its first reading.
TEST_F(ReadItemTest, AnEarlierReceivedTimeIsTheDateOfAPostWithoutEntryDate) {
  hand_made_post("x", "x");
  constexpr DATE kReceived = 36800.25;  // 1 October 2000 6:00, before the post was made
  std::string why;
  auto store = sx::outlook::Store::open(machine_.c("Notes\\Vorlan.pst"), {}, &why);
  ASSERT_TRUE(store) << why;
  ASSERT_TRUE(store->change(
      [&](const sx::outlook::StoreModel& m, std::vector<sx::outlook::Record>* out, std::string*) {
        const std::uint32_t folder = m.root()->children.at(0);
        const std::uint64_t id = m.folder(folder)->order.at(0).second;
        sx::outlook::ItemData d = *m.item(id)->data;
        d.set("ReceivedTime", sx::outlook::Value::date_of(kReceived));
        out->push_back(sx::outlook::ItemPutRecord{id, folder, std::move(d)});
        return true;
      },
      &why))
      << why;
  Args a;
  ASSERT_EQ(read_only_post(a), 0);
  EXPECT_EQ(a.v[1].to_date(), kReceived);
  EXPECT_EQ(property(item_at(1).Get(), "EntryDate").to_date(), kReceived);
  EXPECT_EQ(property(item_at(1).Get(), "Day").to_utf8(), "2000/10/01");
}

TEST_F(ReadItemTest, ReadingTwiceFindsNoCurrentItemAndChangesNothing) {
  hand_made_post("x", "x");
  Args a;
  ASSERT_EQ(read_only_post(a), 0);
  Args sentinel;
  for (auto& v : sentinel.v) v = Variant::from_i4(0xDEAD);
  EXPECT_EQ(read(sentinel), -129);
  for (auto& v : sentinel.v) EXPECT_EQ(v.to_i4(), 0xDEAD);
  EXPECT_EQ(call(&_Class1::NextItem), -1);  // the walk goes on after the item read
}

TEST_F(ReadItemTest, KeyOfZeroIsReplacedFromTheCounter) {
  set_dword("Last", 7);
  ComPtr<_OutlookItem> post = hand_made_post("x", "x");
  ComPtr<UserProperties> props;
  post->get_UserProperties(props.ReleaseAndGetAddressOf());
  ComPtr<UserProperty> key;
  props->Add(Bstr(u"ScribKey").get(), olNumber, Variant().get(), Variant().get(),
             key.ReleaseAndGetAddressOf());
  post->Save();
  Args a;
  ASSERT_EQ(read_only_post(a), 0);
  EXPECT_EQ(a.v[0].to_r8(), 8.0);
  EXPECT_EQ(property(item_at(1).Get(), "ScribKey").to_r8(), 8.0);
}

TEST_F(ReadItemTest, ShortSubjectIsMadeFromTheBody) {
  hand_made_post("", "\r\n\r\nShopping list\r\nmilk");
  hand_made_post("A", "Buy milk\nand bread");
  hand_made_post("Kept", "Body");
  ASSERT_EQ(open_walk(), 3);
  for (LONG i = 1; i <= 3; ++i) {
    ASSERT_EQ(call(&_Class1::NextItem), i);
    Args a;
    ASSERT_EQ(read(a), 0);
  }
  EXPECT_EQ(text(item_at(1).Get(), &_OutlookItem::get_Subject), "....Shopping list");
  EXPECT_EQ(text(item_at(2).Get(), &_OutlookItem::get_Subject), "Buy milk");
  EXPECT_EQ(text(item_at(3).Get(), &_OutlookItem::get_Subject), "Kept");
}

TEST_F(ReadItemTest, NoteClassesBeginningWithTheOlderClassAreKept) {
  for (const char* cls :
       {"IPM.Post.ScribbixPost", "IPM.Post.ScribbixPostX", "IPM.Post.Scribbix", "IPM.Note"}) {
    ComPtr<_OutlookItem> post = hand_made_post(cls, "x");
    post->put_MessageClass(Bstr::from_utf8(cls).get());
    post->Save();
  }
  ASSERT_EQ(open_walk(), 4);
  for (LONG i = 1; i <= 4; ++i) {
    ASSERT_EQ(call(&_Class1::NextItem), i);
    Args a;
    ASSERT_EQ(read(a), 0);
  }
  EXPECT_EQ(text(item_at(1).Get(), &_OutlookItem::get_MessageClass), "IPM.Post.ScribbixPost");
  EXPECT_EQ(text(item_at(2).Get(), &_OutlookItem::get_MessageClass), "IPM.Post.ScribbixPostX");
  EXPECT_EQ(text(item_at(3).Get(), &_OutlookItem::get_MessageClass), "IPM.Post.ScribbixPost2");
  EXPECT_EQ(text(item_at(4).Get(), &_OutlookItem::get_MessageClass), "IPM.Post.ScribbixPost2");
}

struct ReadFault {
  const char* kind;
  const char* operation;
  int nth;
  LONG result;
};

// Each step's failure on a post that is stamped already (so that every user property is found:
// "Find" number n is ScribKey, Archived, EntryDate, Day, Month, Year, Time).
TEST_F(ReadItemTest, EachStepFailsWithItsNumberAndTheItemIsLetGo) {
  hand_made_post("", "Body");
  Args first;
  ASSERT_EQ(read_only_post(first), 0);
  const ReadFault faults[] = {
      {"PostItem", "Subject", 1, -2},           {"PostItem", "Body", 1, -2},
      {"PostItem", "Categories", 1, -2},        {"PostItem", "Sensitivity", 1, -2},
      {"PostItem", "CreationTime", 1, -3},      {"PostItem", "LastModificationTime", 1, -4},
      {"PostItem", "UserProperties", 1, -5},    {"UserProperties", "Find", 1, -5},
      {"UserProperty", "Value", 1, -5},         {"UserProperties", "Find", 2, -6},
      {"UserProperties", "Find", 3, -8},        {"UserProperties", "Find", 4, -10},
      {"UserProperties", "Find", 5, -12},       {"UserProperties", "Find", 6, -14},
      {"UserProperties", "Find", 7, 0},         {"PostItem", "put_Subject", 1, -20},
      {"PostItem", "get_MessageClass", 1, -30}, {"PostItem", "Close", 1, -128},
  };
  for (const ReadFault& f : faults) {
    SCOPED_TRACE(std::string(f.kind) + "." + f.operation + " #" + std::to_string(f.nth));
    // An empty subject again, so that the repair step runs on every reading.
    ComPtr<_OutlookItem> post = item_at(1);
    post->put_Subject(Bstr(u"").get());
    post->Save();
    ASSERT_EQ(open_walk(), 1);
    ASSERT_EQ(call(&_Class1::NextItem), 1);
    const int id = sx::outlook::inject_fault({.kind = f.kind,
                                              .operation = f.operation,
                                              .nth = f.nth,
                                              .hr = E_FAIL,
                                              .source = "Microsoft Outlook",
                                              .description = "injected"});
    Args a;
    EXPECT_EQ(read(a), f.result);
    EXPECT_EQ(sx::outlook::fault_calls(id), f.nth);
    sx::outlook::remove_fault(id);
    if (f.result != 0) {
      ComPtr<IErrorInfo> info;
      ASSERT_EQ(GetErrorInfo(0, info.ReleaseAndGetAddressOf()), S_OK);
      BSTR description = nullptr;
      info->GetDescription(&description);
      EXPECT_EQ(Bstr::attach(description).utf8(), "injected");
    }
    EXPECT_EQ(read(a), -129);  // let go either way
  }
  // A failed step and a failed close.
  ASSERT_EQ(open_walk(), 1);
  ASSERT_EQ(call(&_Class1::NextItem), 1);
  sx::outlook::inject_fault({.kind = "PostItem", .operation = "Subject"});
  sx::outlook::inject_fault({.kind = "PostItem", .operation = "Close"});
  Args a;
  EXPECT_EQ(read(a), -2 - 128);
}

}  // namespace
}  // namespace sx::assist::testing
