// NewItem, UpdateItem and DeleteItem: their results on success and at every failing step, what
// they leave in the notes folder, and what they do without an open collection.
#include "component_fixture.h"
#include "windows.h"

namespace sx::assist::testing {
namespace {

constexpr DATE kMarch5 = 36955.0 + 14.5 / 24;  // 5 March 2001 14:30
constexpr LONG kAllSteps = 0x1000000 + 0x2000000 + 0x100000 + 0x200000 + 0x400000 + 0x800000 +
                           0x4000000 + 0x80000 + 0x10000 + 0x20000 + 0x40000 + 0x8000000;

class WriteItemTest : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    notes_folder();
    open_walk();
  }
  // Adds notes with keys 1..n (texts "note 1"...).
  void add_notes(int n) {
    for (int key = 1; key <= n; ++key) {
      Args a = note(key, kMarch5, ("note " + std::to_string(key)).c_str());
      ASSERT_GT(add(a), 0);
    }
  }
  std::vector<double> keys() {
    std::vector<double> out;
    for (LONG i = 1; i <= count(); ++i)
      out.push_back(property(item_at(i).Get(), "ScribKey").to_r8());
    return out;
  }
};

TEST_F(WriteItemTest, NewItemWritesEveryPropertyAndGivesTheFullMask) {
  Args a = note(12, kMarch5, "Line one\r\nline two", "Line one");
  a.v[4] = Variant::from_utf8("Business");
  a.v[6] = Variant::from_i4(2);
  a.v[7] = Variant::from_i4(1);
  EXPECT_EQ(add(a), kAllSteps + 18);  // plain text: the body's length read back is added
  ASSERT_EQ(count(), 1);
  ComPtr<_OutlookItem> post = item_at(1);
  EXPECT_EQ(text(post.Get(), &_OutlookItem::get_MessageClass), "IPM.Post.ScribbixPost2");
  EXPECT_EQ(text(post.Get(), &_OutlookItem::get_Subject), "Line one");
  EXPECT_EQ(text(post.Get(), &_OutlookItem::get_Body), "Line one\r\nline two");
  EXPECT_EQ(text(post.Get(), &_OutlookItem::get_Categories), "Business");
  LONG sensitivity = 0, format = 0;
  post->get_Sensitivity(&sensitivity);
  post->get_BodyFormat(&format);
  EXPECT_EQ(sensitivity, 2);
  EXPECT_EQ(format, olFormatPlain);
  EXPECT_EQ(property(post.Get(), "ScribKey").to_r8(), 12.0);
  EXPECT_EQ(property(post.Get(), "EntryDate").to_date(), kMarch5);
  EXPECT_EQ(property(post.Get(), "Day").to_utf8(), "2001/03/05");
  EXPECT_EQ(property(post.Get(), "Month").to_utf8(), "2001/03");
  EXPECT_EQ(property(post.Get(), "Year").to_utf8(), "2001");
  EXPECT_NEAR(property(post.Get(), "Time").to_date(), 14.5 / 24, 1e-9);
  EXPECT_TRUE(property(post.Get(), "Archived").to_bool());
}

TEST_F(WriteItemTest, HtmlFormatsWriteTheEscapedTextAndNoLength) {
  Args two = note(1, kMarch5, "x < y & <b>\r\nnext");
  two.v[8] = Variant::from_i4(2);
  EXPECT_EQ(add(two), kAllSteps);
  Args plain_last = note(2, kMarch5, "a\nb");
  plain_last.v[8] = Variant::from_i4(-1);
  EXPECT_EQ(add(plain_last), kAllSteps);
  ComPtr<_OutlookItem> first = item_at(1), second = item_at(2);
  EXPECT_EQ(text(first.Get(), &_OutlookItem::get_HTMLBody),
            "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\"><HTML><BODY>"
            "x &lt; y &amp; &lt;b&gt;<BR>next</BODY></HTML>");
  EXPECT_EQ(text(first.Get(), &_OutlookItem::get_Body), "x < y & <b>\r\nnext");
  LONG format = 0;
  first->get_BodyFormat(&format);
  EXPECT_EQ(format, olFormatHTML);
  second->get_BodyFormat(&format);
  EXPECT_EQ(format, olFormatPlain);
  EXPECT_EQ(text(second.Get(), &_OutlookItem::get_Body), "a\nb");
}

TEST_F(WriteItemTest, ArgumentsLeftOutLeaveTheirPropertiesAlone) {
  Args a = note(0, 0, "text");
  a.v[2] = Variant::null();
  a.v[6] = Variant::from_i4(-1);
  a.v[7] = Variant::from_i4(-1);
  EXPECT_EQ(add(a), kAllSteps + 4);
  ComPtr<_OutlookItem> post = item_at(1);
  for (const char* name : {"ScribKey", "EntryDate", "Day", "Time", "Archived"})
    EXPECT_EQ(property(post.Get(), name).to_utf8(), "(missing)") << name;
}

struct StepFault {
  const char* kind;
  const char* operation;
  int nth;
  LONG done;  // the steps completed before it
};

TEST_F(WriteItemTest, NewItemStopsAtTheFailingStepAndSavesNothing) {
  const StepFault faults[] = {
      {"Items", "Add", 1, 0},
      {"PostItem", "MessageClass", 1, 0x1000000},
      {"PostItem", "Subject", 1, 0x3000000},
      {"PostItem", "put_Body", 1, 0x3100000},
      {"PostItem", "Categories", 1, 0x3300000 + 4},
      {"PostItem", "Sensitivity", 1, 0x3700000 + 4},
      {"PostItem", "UserProperties", 1, 0x3F00000 + 4},
      {"UserProperties", "Add", 1, 0x7F00000 + 4},
      {"UserProperties", "Add", 2, 0x7F80000 + 4},
      {"UserProperties", "Add", 5, 0x7F90000 + 4},
      {"UserProperties", "Add", 6, 0x7F90000 + 4},
      {"UserProperties", "Add", 7, 0x7FB0000 + 4},
      {"PostItem", "Close", 1, 0x7FF0000 + 4},
  };
  for (const StepFault& f : faults) {
    SCOPED_TRACE(std::string(f.kind) + "." + f.operation + " #" + std::to_string(f.nth));
    const int id = sx::outlook::inject_fault({.kind = f.kind,
                                              .operation = f.operation,
                                              .nth = f.nth,
                                              .hr = static_cast<HRESULT>(0x80041234),
                                              .description = "injected"});
    Args a = note(5, kMarch5, "text");
    const LONG result = add(a);
    EXPECT_EQ(static_cast<DWORD>(result), static_cast<DWORD>(f.done) + 0x80001234u);
    EXPECT_LT(result, 0);
    EXPECT_EQ(sx::outlook::fault_calls(id), f.nth);
    sx::outlook::remove_fault(id);
    EXPECT_EQ(count(), 0);
  }
  // The body format is not worth failing for.
  sx::outlook::inject_fault({.kind = "PostItem", .operation = "BodyFormat"});
  Args a = note(5, kMarch5, "text");
  EXPECT_EQ(add(a), kAllSteps + 4);
}

TEST_F(WriteItemTest, AfterEndItemNothingIsAddedUpdatedOrDeleted) {
  add_notes(2);
  ASSERT_EQ(call(&_Class1::EndItem), 0);
  Args a = note(3, kMarch5, "new");
  EXPECT_EQ(add(a), -1);
  Args b = note(1, kMarch5, "changed");
  EXPECT_EQ(update(b), 0);
  EXPECT_EQ(remove(1), -1);
  EXPECT_EQ(count(), 2);
  EXPECT_EQ(text(item_at(1).Get(), &_OutlookItem::get_Body), "note 1");
}

TEST_F(WriteItemTest, UpdateRewritesTheValuesAndAddsNoProperty) {
  add_notes(3);
  Args a = note(2, 36956.25, "changed\r\ntext", "changed");
  a.v[4] = Variant::from_utf8("Personal");
  a.v[6] = Variant::from_i4(2);
  a.v[7] = Variant::from_i4(1);
  a.v[1] = Variant::from_date(36956.25);
  EXPECT_EQ(update(a), 0);
  ComPtr<_OutlookItem> post = item_at(2);
  EXPECT_EQ(text(post.Get(), &_OutlookItem::get_Body), "changed\r\ntext");
  EXPECT_EQ(text(post.Get(), &_OutlookItem::get_Subject), "changed");
  EXPECT_EQ(text(post.Get(), &_OutlookItem::get_Categories), "Personal");
  EXPECT_EQ(property(post.Get(), "EntryDate").to_date(), 36956.25);
  EXPECT_EQ(property(post.Get(), "Day").to_utf8(), "2001/03/06");
  EXPECT_TRUE(property(post.Get(), "Archived").to_bool());
  EXPECT_EQ(text(item_at(1).Get(), &_OutlookItem::get_Body), "note 1");

  // A post without the date properties keeps going without them.
  Args bare = note(0, 0, "bare");
  bare.v[7] = Variant::from_i4(-1);
  ASSERT_GT(add(bare), 0);
  ComPtr<_OutlookItem> fourth = item_at(4);
  ComPtr<UserProperties> props;
  fourth->get_UserProperties(props.ReleaseAndGetAddressOf());
  ComPtr<UserProperty> key;
  props->Add(Bstr(u"ScribKey").get(), olNumber, Variant().get(), Variant().get(),
             key.ReleaseAndGetAddressOf());
  key->put_Value(Variant::from_r8(99).get());
  fourth->Save();
  Args b = note(99, kMarch5, "dated");
  EXPECT_EQ(update(b), 0);
  for (const char* name : {"EntryDate", "Day", "Month", "Year", "Time", "Archived"})
    EXPECT_EQ(property(item_at(4).Get(), name).to_utf8(), "(missing)") << name;
  Args none = note(1234, kMarch5, "nobody");
  EXPECT_EQ(update(none), 0);
  EXPECT_EQ(count(), 4);
}

TEST_F(WriteItemTest, UpdateGivesTheCodeOfTheStepReached) {
  add_notes(1);
  const StepFault faults[] = {
      {"Items", "Find", 1, -1},  // not 0, which would read as success
      {"PostItem", "Subject", 1, 1},
      {"PostItem", "put_Body", 1, 1},
      {"PostItem", "Categories", 1, 2},
      {"PostItem", "Links", 1, 4},
      {"PostItem", "Sensitivity", 1, 4},
      {"UserProperty", "put_Value", 1, 8},
      {"UserProperty", "put_Value", 2, 16},
      {"UserProperty", "put_Value", 3, 32},
      {"UserProperty", "put_Value", 4, 64},
      {"UserProperty", "put_Value", 5, 128},
      {"UserProperty", "put_Value", 6, 256},
      {"PostItem", "Close", 1, 2048},
  };
  for (const StepFault& f : faults) {
    SCOPED_TRACE(std::string(f.kind) + "." + f.operation + " #" + std::to_string(f.nth));
    const int id = sx::outlook::inject_fault(
        {.kind = f.kind, .operation = f.operation, .nth = f.nth, .description = "injected"});
    Args a = note(1, kMarch5, "changed");
    a.v[7] = Variant::from_i4(1);
    EXPECT_EQ(update(a), f.done);
    EXPECT_EQ(sx::outlook::fault_calls(id), f.nth);
    sx::outlook::remove_fault(id);
  }
  EXPECT_EQ(text(item_at(1).Get(), &_OutlookItem::get_Body), "note 1");  // nothing was saved
  sx::outlook::inject_fault({.kind = "PostItem", .operation = "BodyFormat"});
  Args a = note(1, kMarch5, "changed");
  EXPECT_EQ(update(a), 0);
  EXPECT_EQ(text(item_at(1).Get(), &_OutlookItem::get_Body), "changed");
}

TEST_F(WriteItemTest, DeleteRemovesTheItemWithTheKeyAndGivesItsPosition) {
  add_notes(5);
  EXPECT_EQ(remove(3), 3);
  EXPECT_EQ(keys(), (std::vector<double>{1, 2, 4, 5}));
  EXPECT_EQ(remove(3), 0);
  EXPECT_EQ(remove(77), 0);
  EXPECT_EQ(remove(5), 4);
  EXPECT_EQ(remove(1), 1);
  Args a = note(6, kMarch5, "added later");
  ASSERT_GT(add(a), 0);
  EXPECT_EQ(remove(6), 3);
  EXPECT_EQ(remove(4), 2);
  EXPECT_EQ(keys(), (std::vector<double>{2}));
}

TEST_F(WriteItemTest, DeletePassesOverPostsWithoutAKey) {
  hand_made_post("by hand", "no key");
  add_notes(2);
  EXPECT_EQ(remove(2), 3);
  EXPECT_EQ(count(), 2);
  EXPECT_EQ(text(item_at(1).Get(), &_OutlookItem::get_Subject), "by hand");
}

TEST_F(WriteItemTest, DeleteFollowsRemovalsMadeByOthers) {
  add_notes(4);
  EXPECT_EQ(remove(4), 4);
  ASSERT_EQ(items_->Remove(1), S_OK);  // someone else removes the first
  EXPECT_EQ(remove(3), 2);
  EXPECT_EQ(keys(), (std::vector<double>{2}));
}

// A failed delete is a failure, not "no post has this key" (0): the caller must not take the note
// as deleted.
TEST_F(WriteItemTest, DeleteErrorsGiveMinusOneAndKeepTheItem) {
  add_notes(2);
  for (const char* operation : {"GetFirst", "Find", "Remove"}) {
    SCOPED_TRACE(operation);
    const int id = sx::outlook::inject_fault({.kind = "Items", .operation = operation});
    EXPECT_EQ(remove(2), -1);
    sx::outlook::remove_fault(id);
    EXPECT_EQ(count(), 2);
  }
  EXPECT_EQ(remove(2), 2);
}

}  // namespace
}  // namespace sx::assist::testing
