// What the notes add-in makes of every item added to the notes folder inside Outlook: a New Note
// typed and saved, a post written with the plain form, posts copied and moved in, a foreign mail
// dragged in, older notes, and keys that would be shared by two posts.
#include <set>

#include "addin_fixture.h"
#include "scribbix/date_texts.h"
#include "sx/clock.h"

namespace sx::addin::testing {
namespace {

constexpr std::int64_t kDayMs = 86400000;

class StampingTest : public AddInTest {
 protected:
  void SetUp() override {
    AddInTest::SetUp();
    set_setting("Last", 41);
  }
  // Every property a stamped note carries, checked against its note date `d`.
  void expect_stamped(_OutlookItem* note, DATE d) {
    EXPECT_EQ(text(note, &_OutlookItem::get_MessageClass), "IPM.Post.ScribbixPost2");
    EXPECT_DOUBLE_EQ(property(note, "EntryDate").to_date(), d);
    EXPECT_EQ(property(note, "Day").to_utf8(), sx::com::Bstr(sx::common::day_text(d)).utf8());
    EXPECT_EQ(property(note, "Month").to_utf8(), sx::com::Bstr(sx::common::month_text(d)).utf8());
    EXPECT_EQ(property(note, "Year").to_utf8(), sx::com::Bstr(sx::common::year_text(d)).utf8());
    EXPECT_NEAR(property(note, "Time").to_date(), sx::common::time_of_day(d), 1e-6);
    EXPECT_EQ(property(note, "Archived").vt(), VT_BOOL);
    EXPECT_FALSE(property(note, "Archived").to_bool());
    EXPECT_GT(property(note, "ScribKey").to_r8(), 0);
  }
  // The keys of every post of the notes folder.
  std::multiset<double> keys() {
    std::multiset<double> out;
    ComPtr<MAPIFolder> folder = notes_folder();
    for (LONG i = 1; i <= count_of(folder.Get()); ++i)
      out.insert(property(item_at(folder.Get(), i).Get(), "ScribKey").to_r8());
    return out;
  }
};

TEST_F(StampingTest, ANewNoteTypedAndSavedBecomesAWholeNote) {
  set_setting("MenuMode", 0);
  start();
  ComPtr<CommandBarControl> command = new_note_control();
  ASSERT_TRUE(command);
  ASSERT_EQ(command->Execute(), S_OK);
  ASSERT_EQ(inspector_count(), 1);
  ComPtr<_Inspector> window = inspector_at(1);
  VARIANT_BOOL editing = VARIANT_FALSE;
  window->get_Editing(&editing);
  EXPECT_NE(editing, VARIANT_FALSE);
  ASSERT_EQ(window->TypeText(Bstr(u"Buy milk\r\nand bread").get()), S_OK);
  ComPtr<IDispatch> current;
  ASSERT_EQ(window->get_CurrentItem(current.GetAddressOf()), S_OK);
  ComPtr<_OutlookItem> typed;
  ASSERT_EQ(current->QueryInterface(_OutlookItem::kIid, typed.PutVoid()), S_OK);
  ASSERT_EQ(typed->Save(), S_OK);

  ASSERT_EQ(count_of(notes_folder().Get()), 1);
  ComPtr<_OutlookItem> note = item_at(notes_folder().Get(), 1);
  expect_stamped(note.Get(), time_of(note.Get(), &_OutlookItem::get_CreationTime));
  EXPECT_EQ(property(note.Get(), "ScribKey").to_r8(), 42);
  EXPECT_EQ(last_key(), 42);
  EXPECT_EQ(text(note.Get(), &_OutlookItem::get_Subject), "Buy milk");
  EXPECT_EQ(text(note.Get(), &_OutlookItem::get_Body), "Buy milk\r\nand bread");
}

TEST_F(StampingTest, APlainPostGetsTheNoteClassDatesAndANewKey) {
  start();
  // 5 March 2001, 14:30.
  sx::clock::advance(63 * kDayMs + (14 * 60 + 30) * 60000);
  ComPtr<_OutlookItem> post = add_item(notes_folder().Get(), "IPM.Post");
  ASSERT_EQ(post->put_Subject(Bstr(u"typed by hand").get()), S_OK);
  ASSERT_EQ(post->put_Body(Bstr(u"Call the plumber").get()), S_OK);
  ASSERT_EQ(post->Save(), S_OK);

  ComPtr<_OutlookItem> note = item_at(notes_folder().Get(), 1);
  const DATE created = time_of(note.Get(), &_OutlookItem::get_CreationTime);
  expect_stamped(note.Get(), created);
  EXPECT_EQ(property(note.Get(), "Day").to_utf8(), "2001/03/05");
  EXPECT_EQ(property(note.Get(), "Month").to_utf8(), "2001/03");
  EXPECT_EQ(property(note.Get(), "Year").to_utf8(), "2001");
  EXPECT_NEAR(property(note.Get(), "Time").to_date(), (14 * 60 + 30) / 1440.0, 1e-6);
  EXPECT_EQ(property(note.Get(), "ScribKey").to_r8(), 42);
  // A foreign item keeps its subject: only notes get theirs from the body.
  EXPECT_EQ(text(note.Get(), &_OutlookItem::get_Subject), "typed by hand");
}

TEST_F(StampingTest, APostMovedInKeepsItsEarlierDateAndAForeignMailIsStampedToo) {
  start();
  ComPtr<_OutlookItem> post = add_item(inbox().Get(), "IPM.Post");
  ASSERT_EQ(post->put_Body(Bstr(u"written in January").get()), S_OK);
  ASSERT_EQ(post->Save(), S_OK);
  const DATE written = time_of(post.Get(), &_OutlookItem::get_CreationTime);
  ComPtr<_OutlookItem> mail = add_item(inbox().Get(), "IPM.Note");
  ASSERT_EQ(mail->put_Subject(Bstr(u"Re: lunch").get()), S_OK);
  ASSERT_EQ(mail->Save(), S_OK);
  sx::clock::advance(40 * kDayMs);

  ComPtr<IDispatch> moved;
  ASSERT_EQ(post->Move(notes_folder().Get(), moved.GetAddressOf()), S_OK);
  ASSERT_EQ(mail->Move(notes_folder().Get(), moved.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(count_of(notes_folder().Get()), 2);
  ComPtr<_OutlookItem> first = item_at(notes_folder().Get(), 1);
  ComPtr<_OutlookItem> second = item_at(notes_folder().Get(), 2);
  expect_stamped(first.Get(), written);
  expect_stamped(second.Get(), time_of(second.Get(), &_OutlookItem::get_CreationTime));
  EXPECT_EQ(text(second.Get(), &_OutlookItem::get_Subject), "Re: lunch");
  EXPECT_EQ(keys(), (std::multiset<double>{42, 43}));
}

// An older note kept elsewhere (no key property) keeps its date and archived mark when it is moved
// into the folder; a note lacking both gets them from its times, as a new note does.
TEST_F(StampingTest, ANoteWithoutAKeyMovedInKeepsItsDateAndArchivedMarkAndGetsWhatItLacks) {
  start();
  const DATE written = 36955.6041666667;  // 5 March 2001, 14:30
  ComPtr<_OutlookItem> archived = add_item(inbox().Get(), "IPM.Post.ScribbixPost");
  put_property(archived.Get(), "EntryDate", olDateTime, Variant::from_date(written));
  put_property(archived.Get(), "Archived", olYesNo, Variant::from_bool(true));
  put_property(archived.Get(), "Day", olText, Variant::from_utf8("typed by hand"));
  ASSERT_EQ(archived->put_Body(Bstr(u"an old note").get()), S_OK);
  ASSERT_EQ(archived->Save(), S_OK);
  ComPtr<_OutlookItem> bare = add_item(inbox().Get(), "IPM.Post.ScribbixPost2");
  ASSERT_EQ(bare->Save(), S_OK);
  sx::clock::advance(40 * kDayMs);

  ComPtr<IDispatch> moved;
  ASSERT_EQ(archived->Move(notes_folder().Get(), moved.GetAddressOf()), S_OK);
  ASSERT_EQ(bare->Move(notes_folder().Get(), moved.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<_OutlookItem> first = item_at(notes_folder().Get(), 1);
  EXPECT_DOUBLE_EQ(property(first.Get(), "EntryDate").to_date(), written);
  EXPECT_TRUE(property(first.Get(), "Archived").to_bool());
  EXPECT_EQ(property(first.Get(), "Day").to_utf8(), "typed by hand");
  EXPECT_EQ(property(first.Get(), "Month").to_utf8(), "2001/03");
  EXPECT_EQ(property(first.Get(), "Year").to_utf8(), "2001");
  EXPECT_NEAR(property(first.Get(), "Time").to_date(), (14 * 60 + 30) / 1440.0, 1e-6);
  EXPECT_EQ(text(first.Get(), &_OutlookItem::get_MessageClass), "IPM.Post.ScribbixPost");
  ComPtr<_OutlookItem> second = item_at(notes_folder().Get(), 2);
  expect_stamped(second.Get(), time_of(second.Get(), &_OutlookItem::get_CreationTime));
  EXPECT_EQ(keys(), (std::multiset<double>{42, 43}));
}

TEST_F(StampingTest, ANoteCopiedInBesideItsOriginalGetsAKeyOfItsOwn) {
  start();
  ComPtr<_OutlookItem> note = add_item(notes_folder().Get(), "IPM.Post.ScribbixPost2");
  put_property(note.Get(), "ScribKey", olNumber, Variant::from_r8(7));
  ASSERT_EQ(note->put_Body(Bstr(u"the original").get()), S_OK);
  ASSERT_EQ(note->Save(), S_OK);
  EXPECT_EQ(keys(), (std::multiset<double>{7}));

  // Copied within the folder, and copied out and moved back in (a restored backup).
  ComPtr<IDispatch> copy, moved;
  ASSERT_EQ(item_at(notes_folder().Get(), 1)->Copy(copy.GetAddressOf()), S_OK);
  ComPtr<_OutlookItem> elsewhere = add_item(inbox().Get(), "IPM.Post.ScribbixPost2");
  put_property(elsewhere.Get(), "ScribKey", olNumber, Variant::from_r8(7));
  ASSERT_EQ(elsewhere->Save(), S_OK);
  ASSERT_EQ(elsewhere->Move(notes_folder().Get(), moved.GetAddressOf()), S_OK);
  EXPECT_EQ(keys(), (std::multiset<double>{7, 42, 43}));
  // The original kept its key, which the conduit knows.
  EXPECT_EQ(property(item_at(notes_folder().Get(), 1).Get(), "ScribKey").to_r8(), 7);
}

TEST_F(StampingTest, ANoteWithAKeyOfItsOwnKeepsItAndAKeyOfZeroIsDrawn) {
  start();
  ComPtr<_OutlookItem> keyed = add_item(notes_folder().Get(), "IPM.Post.ScribbixPost2");
  put_property(keyed.Get(), "ScribKey", olNumber, Variant::from_r8(1234));
  ASSERT_EQ(keyed->Save(), S_OK);
  ComPtr<_OutlookItem> fresh = add_item(notes_folder().Get(), "IPM.Post.ScribbixPost2");
  put_property(fresh.Get(), "ScribKey", olNumber, Variant::from_r8(0));
  ASSERT_EQ(fresh->put_Body(Bstr(u"Buy milk\r\nand more").get()), S_OK);
  ASSERT_EQ(fresh->Save(), S_OK);
  EXPECT_EQ(keys(), (std::multiset<double>{42, 1234}));
  EXPECT_EQ(text(item_at(notes_folder().Get(), 2).Get(), &_OutlookItem::get_Subject), "Buy milk");
}

TEST_F(StampingTest, AnOlderNoteKeepsItsClassAndGetsItsSubjectFromItsBody) {
  start();
  const struct {
    std::u16string body;
    std::string subject;
  } cases[] = {{u"\r\n\r\nHello\r\nworld", "....Hello"},
               {std::u16string(100, u'x'), std::string(60, 'x')},
               {u"", ""}};
  LONG n = 0;
  for (const auto& c : cases) {
    ComPtr<_OutlookItem> note = add_item(notes_folder().Get(), "IPM.Post.ScribbixPost");
    put_property(note.Get(), "ScribKey", olNumber, Variant::from_r8(500 + n));
    ASSERT_EQ(note->put_Subject(Bstr(u"a subject typed by hand").get()), S_OK);
    ASSERT_EQ(note->put_Body(Bstr(c.body).get()), S_OK);
    ASSERT_EQ(note->Save(), S_OK);
    ComPtr<_OutlookItem> stored = item_at(notes_folder().Get(), ++n);
    EXPECT_EQ(text(stored.Get(), &_OutlookItem::get_MessageClass), "IPM.Post.ScribbixPost");
    EXPECT_EQ(text(stored.Get(), &_OutlookItem::get_Subject), c.subject);
    EXPECT_EQ(property(stored.Get(), "ScribKey").to_r8(), 500 + n - 1);
    EXPECT_TRUE(property(stored.Get(), "EntryDate").is_empty());  // nothing else is touched
  }
  EXPECT_EQ(last_key(), 41);
}

TEST_F(StampingTest, ItemsElsewhereAndItemsChangedInTheFolderAreLeftAlone) {
  start();
  ComPtr<_OutlookItem> post = add_item(inbox().Get(), "IPM.Post");
  ASSERT_EQ(post->Save(), S_OK);
  EXPECT_EQ(text(item_at(inbox().Get(), 1).Get(), &_OutlookItem::get_MessageClass), "IPM.Post");
  ComPtr<_OutlookItem> note = add_item(notes_folder().Get(), "IPM.Post");
  ASSERT_EQ(note->Save(), S_OK);
  ComPtr<_OutlookItem> stored = item_at(notes_folder().Get(), 1);
  ASSERT_EQ(stored->put_Subject(Bstr(u"changed later").get()), S_OK);
  ASSERT_EQ(stored->Save(), S_OK);
  EXPECT_EQ(text(item_at(notes_folder().Get(), 1).Get(), &_OutlookItem::get_Subject),
            "changed later");
  EXPECT_EQ(last_key(), 42);
}

TEST_F(StampingTest, AnOutlookFailureInTheHandlerLeavesTheRestOfTheStamp) {
  start();
  sx::outlook::inject_fault({.kind = "UserProperties",
                             .operation = "Add",
                             .nth = 2,
                             .hr = E_FAIL,
                             .source = "Microsoft Outlook",
                             .description = "no room"});
  ComPtr<_OutlookItem> post = add_item(notes_folder().Get(), "IPM.Post");
  ASSERT_EQ(post->Save(), S_OK);
  sx::outlook::clear_faults();
  ComPtr<_OutlookItem> note = item_at(notes_folder().Get(), 1);
  EXPECT_EQ(text(note.Get(), &_OutlookItem::get_MessageClass), "IPM.Post.ScribbixPost2");
  EXPECT_TRUE(property(note.Get(), "Day").is_empty());
  EXPECT_FALSE(property(note.Get(), "EntryDate").is_empty());
  EXPECT_EQ(property(note.Get(), "ScribKey").to_r8(), 42);
  EXPECT_TRUE(connected("VorScribOutlookAddIn.Connect"));
}

}  // namespace
}  // namespace sx::addin::testing
