// The upgrade: BeginUpdate, NextUpdate for every note, EndUpdate. Every note, property and link
// reaches the new folder; a note that does not keeps the old folder in place.
#include <cmath>
#include <functional>
#include <set>

#include "update_fixture.h"

namespace sx::update::testing {
namespace {

constexpr char kNewForm[] = "IPM.Post.ScribbixPost2";
constexpr char kOldForm[] = "IPM.Post.ScribbixPost";
constexpr DATE kMarch5At1430 = 36955.0 + 14.5 / 24;  // 5 March 2001 14:30

class UpgradeTest : public UpdateTest {
 protected:
  void SetUp() override {
    UpdateTest::SetUp();
    folder_ = notes_folder();
    ASSERT_EQ(folder_->get_Items(items_.ReleaseAndGetAddressOf()), S_OK);
  }
  void TearDown() override {
    items_ = nullptr;
    folder_ = nullptr;
    UpdateTest::TearDown();
  }

  // A whole upgrade that carries every note, after which "Vorlan" holds the notes folder alone,
  // with notes 1 to 3, and no message was shown.
  void upgrade_and_expect_notes_1_to_3_alone() {
    int failures = -1;
    ASSERT_EQ(upgrade(&failures), S_OK);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(subfolders(root_at(2).Get()), (std::vector<std::string>{"Scribbix"}));
    current_notes_folder();
    ASSERT_EQ(note_count(), 3);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(property(note_at(i).Get(), "ScribKey").to_r8(), i);
    EXPECT_TRUE(boxes().empty());
  }

  static void set_property(UserProperties* props, const char* name, LONG type,
                           const Variant& value) {
    ComPtr<UserProperty> p;
    const Variant omitted = Variant::from_error(DISP_E_PARAMNOTFOUND);
    ASSERT_EQ(props->Add(Bstr::from_utf8(name).get(), type, omitted.get(), omitted.get(),
                         p.ReleaseAndGetAddressOf()),
              S_OK);
    ASSERT_EQ(p->put_Value(value.get()), S_OK);
  }
  // A note as an older version of the system wrote it: stale date texts, both key properties.
  ComPtr<_OutlookItem> add_note(int key, const char* form = kOldForm, DATE date = kMarch5At1430,
                                bool archived = false) {
    ComPtr<IDispatch> d;
    EXPECT_EQ(items_->Add(Variant::from_utf8(form).get(), d.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<_OutlookItem> item = d.As<_OutlookItem>();
    const std::string n = std::to_string(key);
    item->put_Subject(Bstr::from_utf8("Note " + n).get());
    item->put_Body(Bstr::from_utf8("Note " + n + "\r\nsecond line").get());
    item->put_Categories(Bstr::from_utf8(key % 2 ? "Business" : "Personal").get());
    item->put_Sensitivity(key % 3 == 0 ? olPrivate : olNormal);
    ComPtr<UserProperties> props;
    item->get_UserProperties(props.ReleaseAndGetAddressOf());
    set_property(props.Get(), "ScribKey", olNumber, Variant::from_r8(key));
    set_property(props.Get(), "EntryKey", olNumber, Variant::from_r8(key));
    set_property(props.Get(), "EntryDate", olDateTime, Variant::from_date(date));
    set_property(props.Get(), "Archived", olYesNo, Variant::from_bool(archived));
    set_property(props.Get(), "Day", olText, Variant::from_utf8("1999/01/01"));
    set_property(props.Get(), "Month", olText, Variant::from_utf8("1999/01"));
    set_property(props.Get(), "Year", olText, Variant::from_utf8("1999"));
    set_property(props.Get(), "Time", olDateTime, Variant::from_date(0.25));
    EXPECT_EQ(item->Save(), S_OK);
    return item;
  }
  void link_contact(_OutlookItem* note, const char* last) {
    ComPtr<MAPIFolder> contacts;
    ASSERT_EQ(outlook()->GetDefaultFolder(olFolderContacts, contacts.ReleaseAndGetAddressOf()),
              S_OK);
    ComPtr<_Items> items;
    contacts->get_Items(items.ReleaseAndGetAddressOf());
    ComPtr<IDispatch> d;
    items->Add(Variant::from_utf8("IPM.Contact").get(), d.ReleaseAndGetAddressOf());
    ComPtr<_ContactItem> contact = d.As<_ContactItem>();
    contact->put_LastName(Bstr::from_utf8(last).get());
    ASSERT_EQ(contact->Save(), S_OK);
    ComPtr<Links> links;
    note->get_Links(links.ReleaseAndGetAddressOf());
    ComPtr<Link> link;
    ASSERT_EQ(links->Add(contact.Get(), link.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(note->Save(), S_OK);
  }

  LONG begin(const char* store = kUpdateStorePath, const char* form = kNewForm) {
    Variant path = Variant::from_utf8(store), new_form = Variant::from_utf8(form);
    LONG result = 0x5EED;
    EXPECT_EQ(component_->BeginUpdate(&path.get(), &new_form.get(), &result), S_OK);
    return result;
  }
  HRESULT end() {
    LONG result = 0x5EED;
    const HRESULT hr = component_->EndUpdate(&result);
    if (SUCCEEDED(hr)) {
      EXPECT_EQ(result, 0);
    }
    return hr;
  }
  // The whole upgrade as the configuration program runs it: the NextUpdate results that were
  // not 0, and EndUpdate's HRESULT.
  HRESULT upgrade(int* failures = nullptr) {
    set_namespace();
    const LONG n = begin();
    EXPECT_GE(n, 0);
    int failed = 0;
    for (LONG i = 0; i < n; ++i) failed += call(&_Update1::NextUpdate) != 0;
    if (failures != nullptr) *failures = failed;
    return end();
  }

  // The notes folder as it is now: "Vorlan"\"Scribbix" (its items in notes_).
  ComPtr<MAPIFolder> current_notes_folder() {
    ComPtr<MAPIFolder> folder = sub(root_at(2).Get(), "Scribbix");
    folder->get_Items(notes_.ReleaseAndGetAddressOf());
    return folder;
  }
  ComPtr<_OutlookItem> note_at(LONG i) {
    ComPtr<IDispatch> d;
    EXPECT_EQ(notes_->Item(Variant::from_i4(i).get(), d.ReleaseAndGetAddressOf()), S_OK);
    return d.As<_OutlookItem>();
  }
  LONG note_count() {
    LONG n = -1;
    notes_->get_Count(&n);
    return n;
  }
  static Variant property(_OutlookItem* item, const char* name) {
    ComPtr<UserProperties> props;
    item->get_UserProperties(props.ReleaseAndGetAddressOf());
    ComPtr<UserProperty> p;
    Variant value = Variant::from_utf8("(missing)");
    if (SUCCEEDED(props->Find(Bstr::from_utf8(name).get(), Variant().get(),
                              p.ReleaseAndGetAddressOf())) &&
        p) {
      p->get_Value(value.put());
    }
    return value;
  }
  static std::string text(_OutlookItem* item,
                          HRESULT (STDMETHODCALLTYPE _OutlookItem::*get)(BSTR*)) {
    Bstr value;
    EXPECT_EQ((item->*get)(value.put()), S_OK);
    return value.utf8();
  }
  static LONG user_property_count(_OutlookItem* item) {
    ComPtr<UserProperties> props;
    item->get_UserProperties(props.ReleaseAndGetAddressOf());
    LONG n = 0;
    props->get_Count(&n);
    return n;
  }

  ComPtr<MAPIFolder> folder_;
  ComPtr<_Items> items_;
  ComPtr<_Items> notes_;
};

TEST_F(UpgradeTest, AnOlderNoteGetsTheNewClassKeepsItsKeysAndDateAndGetsFreshDateTexts) {
  add_note(42, kOldForm, kMarch5At1430, true);
  int failures = -1;
  EXPECT_EQ(upgrade(&failures), S_OK);
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(roots(), (std::vector<std::string>{"Personal Folders", "Vorlan"}));
  EXPECT_EQ(subfolders(root_at(2).Get()), std::vector<std::string>{"Scribbix"});
  current_notes_folder();
  ASSERT_EQ(note_count(), 1);
  ComPtr<_OutlookItem> note = note_at(1);
  EXPECT_EQ(text(note.Get(), &_OutlookItem::get_MessageClass), kNewForm);
  EXPECT_EQ(property(note.Get(), "ScribKey").to_r8(), 42);
  EXPECT_EQ(property(note.Get(), "EntryKey").to_r8(), 42);
  EXPECT_TRUE(property(note.Get(), "Archived").to_bool());
  EXPECT_DOUBLE_EQ(property(note.Get(), "EntryDate").to_date(), kMarch5At1430);
  EXPECT_EQ(property(note.Get(), "Day").to_utf8(), "2001/03/05");
  EXPECT_EQ(property(note.Get(), "Month").to_utf8(), "2001/03");
  EXPECT_EQ(property(note.Get(), "Year").to_utf8(), "2001");
  EXPECT_NEAR(property(note.Get(), "Time").to_date(), 14.5 / 24, 1e-9);
  EXPECT_EQ(user_property_count(note.Get()), 8);  // nothing doubled
  EXPECT_TRUE(boxes().empty());
}

TEST_F(UpgradeTest, ANoteOfTheNewClassIsCarriedAsItIs) {
  add_note(7, kNewForm);
  EXPECT_EQ(upgrade(), S_OK);
  current_notes_folder();
  ASSERT_EQ(note_count(), 1);
  EXPECT_EQ(text(note_at(1).Get(), &_OutlookItem::get_MessageClass), kNewForm);
  EXPECT_EQ(property(note_at(1).Get(), "Day").to_utf8(), "1999/01/01");  // untouched
}

TEST_F(UpgradeTest, APostOfAnotherClassKeepsItsClassAndGetsFreshDateTexts) {
  add_note(9, "IPM.Post");
  EXPECT_EQ(upgrade(), S_OK);
  current_notes_folder();
  ASSERT_EQ(note_count(), 1);
  EXPECT_EQ(text(note_at(1).Get(), &_OutlookItem::get_MessageClass), "IPM.Post");
  EXPECT_EQ(property(note_at(1).Get(), "Day").to_utf8(), "2001/03/05");
}

TEST_F(UpgradeTest, AnEmptyNotesFolderIsReplacedByTheNewDefinition) {
  set_namespace();
  EXPECT_EQ(begin(), 0);
  EXPECT_EQ(end(), S_OK);
  ComPtr<MAPIFolder> folder = current_notes_folder();
  Bstr form;
  folder->get_DefaultMessageClass(form.put());
  EXPECT_EQ(form.utf8(), kNewForm);
  EXPECT_EQ(note_count(), 0);
  EXPECT_EQ(roots().size(), 2u);
}

TEST_F(UpgradeTest, AThousandOlderNotesArriveWithEveryPropertyAndLink) {
  constexpr int kNotes = 1000;
  for (int key = 1; key <= kNotes; ++key) {
    ComPtr<_OutlookItem> note = add_note(key, kOldForm, 36000.0 + key + key / 1440.0, key % 5 == 0);
    if (key % 100 == 0) link_contact(note.Get(), ("Contact" + std::to_string(key)).c_str());
  }
  int failures = -1;
  ASSERT_EQ(upgrade(&failures), S_OK);
  EXPECT_EQ(failures, 0);
  current_notes_folder();
  ASSERT_EQ(note_count(), kNotes);
  for (int i = 1; i <= kNotes; ++i) {
    ComPtr<_OutlookItem> note = note_at(i);
    const int key = static_cast<int>(property(note.Get(), "ScribKey").to_r8());
    ASSERT_EQ(key, i) << "notes keep their order";
    const std::string n = std::to_string(key);
    EXPECT_EQ(text(note.Get(), &_OutlookItem::get_Subject), "Note " + n);
    EXPECT_EQ(text(note.Get(), &_OutlookItem::get_Body), "Note " + n + "\r\nsecond line");
    EXPECT_EQ(text(note.Get(), &_OutlookItem::get_Categories), key % 2 ? "Business" : "Personal");
    LONG sensitivity = -1;
    note->get_Sensitivity(&sensitivity);
    EXPECT_EQ(sensitivity, key % 3 == 0 ? olPrivate : olNormal);
    EXPECT_EQ(text(note.Get(), &_OutlookItem::get_MessageClass), kNewForm);
    EXPECT_EQ(property(note.Get(), "EntryKey").to_r8(), key);
    EXPECT_EQ(property(note.Get(), "Archived").to_bool(), key % 5 == 0);
    const DATE date = 36000.0 + key + key / 1440.0;
    EXPECT_NEAR(property(note.Get(), "EntryDate").to_date(), date, 1e-9);
    SYSTEMTIME t{};
    VariantTimeToSystemTime(date, &t);
    char day[32];
    std::snprintf(day, sizeof day, "%04d/%02d/%02d", t.wYear, t.wMonth, t.wDay);
    EXPECT_EQ(property(note.Get(), "Day").to_utf8(), day);
    ComPtr<Links> links;
    note->get_Links(links.ReleaseAndGetAddressOf());
    LONG linked = 0;
    links->get_Count(&linked);
    EXPECT_EQ(linked, key % 100 == 0 ? 1 : 0) << key;
    if (linked == 1) {
      ComPtr<Link> link;
      links->Item(Variant::from_i4(1).get(), link.ReleaseAndGetAddressOf());
      Bstr name;
      link->get_Name(name.put());
      EXPECT_EQ(name.utf8(), "Contact" + n);
    }
  }
  EXPECT_TRUE(boxes().empty());
}

TEST_F(UpgradeTest, BeginUpdateWithoutANotesFolderGivesItsCodeAndChangesNothing) {
  set_namespace();
  ComPtr<MAPIFolder> root = root_at(2);
  ASSERT_EQ(root->put_Name(Bstr(u"Vorlan2").get()), S_OK);
  EXPECT_EQ(begin(), scribbixupdate::kNotesFolderMissing);
  EXPECT_EQ(call(&_Update1::RemoveUpdateFolder), 0);
  EXPECT_EQ(roots(), (std::vector<std::string>{"Personal Folders", "Vorlan2"}));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(UpgradeTest, AnUpgradeStoppedBeforeNamingItsNewFolderIsFinishedByTheNextOne) {
  for (int key = 1; key <= 3; ++key) add_note(key);
  set_namespace();
  const LONG n = begin();
  ASSERT_EQ(n, 3);
  for (LONG i = 0; i < n; ++i) ASSERT_EQ(call(&_Update1::NextUpdate), 0);
  // EndUpdate's first step, then the program was killed: the old folder is gone, the new one holds
  // every note under the name it was copied with.
  ASSERT_EQ(folder_->Delete(), S_OK);
  items_ = nullptr;
  folder_ = nullptr;
  EXPECT_EQ(subfolders(root_at(2).Get()), (std::vector<std::string>{"SXUpdate"}));
  upgrade_and_expect_notes_1_to_3_alone();
}

TEST_F(UpgradeTest, UpgradesStoppedTwiceLeaveNoFolderOrCopyBehindTheOneThatEnds) {
  for (int key = 1; key <= 3; ++key) add_note(key);
  set_namespace();
  for (int stop = 0; stop < 2; ++stop) {
    ASSERT_EQ(begin(), 3);
    ASSERT_EQ(call(&_Update1::NextUpdate), 0);
    // Stopped here: one new folder beside the notes folder, never two.
    EXPECT_EQ(subfolders(root_at(2).Get()), (std::vector<std::string>{"Scribbix", "SXUpdate"}));
  }
  upgrade_and_expect_notes_1_to_3_alone();
}

// An upgrade of notes 1 to 3 in which note 2 is there twice, alike but for its times (as
// Item.Copy makes it), with two posts without a key alike too: the keys of the notes folder after.
class TwinTest : public UpgradeTest {
 protected:
  std::multiset<double> KeysAfterAnUpgradeWithATwin(bool after_a_stop) {
    for (int key = 1; key <= 3; ++key) add_note(key);
    if (after_a_stop) {
      // An upgrade began and carried note 1; the program was killed inside the carry of note 2,
      // after its copy was made in the old folder.
      set_namespace();
      EXPECT_EQ(begin(), 3);
      EXPECT_EQ(call(&_Update1::NextUpdate), 0);
    }
    current_notes_folder();
    ComPtr<IDispatch> twin;
    EXPECT_EQ(note_at(2)->Copy(twin.ReleaseAndGetAddressOf()), S_OK);
    for (int i = 0; i < 2; ++i) {
      ComPtr<IDispatch> d;
      EXPECT_EQ(notes_->Add(Variant::from_utf8(kOldForm).get(), d.ReleaseAndGetAddressOf()), S_OK);
      ComPtr<_OutlookItem> post = d.As<_OutlookItem>();
      post->put_Body(Bstr::from_utf8("written by hand").get());
      EXPECT_EQ(post->Save(), S_OK);
    }
    int failures = -1;
    EXPECT_EQ(upgrade(&failures), S_OK);
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(boxes().empty());
    current_notes_folder();
    std::multiset<double> keys;
    LONG keyless = 0;
    for (int i = 1; i <= note_count(); ++i) {
      const Variant key = property(note_at(i).Get(), "ScribKey");
      if (key.vt() == VT_R8) {
        keys.insert(key.to_r8());
      } else {
        ++keyless;
      }
    }
    EXPECT_EQ(keyless, 2);  // posts without a key are never taken for a carry's copy
    // The stopped upgrade's new folder, with its copies of the notes it carried, went too.
    EXPECT_EQ(subfolders(root_at(2).Get()), (std::vector<std::string>{"Scribbix"}));
    return keys;
  }
};

TEST_F(TwinTest, AfterAnUpgradeStoppedInsideACarryTheNextOneCarriesTheNoteOnce) {
  EXPECT_EQ(KeysAfterAnUpgradeWithATwin(true), (std::multiset<double>{1, 2, 3}));
}

TEST_F(TwinTest, WithoutAStoppedUpgradeATwinIsCarriedAsItIs) {
  EXPECT_EQ(KeysAfterAnUpgradeWithATwin(false), (std::multiset<double>{1, 2, 2, 3}));
}

// After a stopped upgrade, posts of note 2's key that differ from it in more than their times
// (its date, its archived mark, its sensitivity, a link, the HTML of its body) are notes of their
// own: only the true copy goes.
TEST_F(TwinTest, PostsOfOneKeyThatDifferInMoreThanTheirTimesAreNoCopiesAndStay) {
  for (int key = 1; key <= 3; ++key) add_note(key);
  set_namespace();
  ASSERT_EQ(begin(), 3);
  ASSERT_EQ(call(&_Update1::NextUpdate), 0);
  current_notes_folder();
  const std::function<void(_OutlookItem*)> changes[] = {
      [](_OutlookItem*) {},  // the true copy
      [](_OutlookItem* post) {
        ComPtr<UserProperties> props;
        post->get_UserProperties(props.ReleaseAndGetAddressOf());
        set_property(props.Get(), "EntryDate", olDateTime, Variant::from_date(kMarch5At1430 + 1));
      },
      [](_OutlookItem* post) {
        ComPtr<UserProperties> props;
        post->get_UserProperties(props.ReleaseAndGetAddressOf());
        set_property(props.Get(), "Archived", olYesNo, Variant::from_bool(true));
      },
      [](_OutlookItem* post) { post->put_Sensitivity(olPrivate); },
      [this](_OutlookItem* post) { link_contact(post, "Jo"); },
      [](_OutlookItem* post) { post->put_HTMLBody(Bstr(u"<b>Note 2</b>").get()); },
  };
  for (const auto& change : changes) {
    ComPtr<IDispatch> copy;
    ASSERT_EQ(note_at(2)->Copy(copy.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<_OutlookItem> post = copy.As<_OutlookItem>();
    change(post.Get());
    ASSERT_EQ(post->Save(), S_OK);
  }
  int failures = -1;
  ASSERT_EQ(upgrade(&failures), S_OK);
  EXPECT_EQ(failures, 0);
  current_notes_folder();
  std::multiset<double> keys;
  for (int i = 1; i <= note_count(); ++i)
    keys.insert(property(note_at(i).Get(), "ScribKey").to_r8());
  EXPECT_EQ(keys, (std::multiset<double>{1, 2, 2, 2, 2, 2, 2, 3}));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(UpgradeTest, BeginUpdateTellsAMissingUpdateStoreOrFolder) {
  set_namespace();
  EXPECT_EQ(begin("C:\\NotAnUpdate.pst"), static_cast<LONG>(0x80003020u));
  add_store("C:\\Bare.pst", "VorlanSXUpdate");
  EXPECT_EQ(begin("C:\\Bare.pst"), static_cast<LONG>(0x80003025u));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(UpgradeTest, EndUpdateAfterABeginThatFoundNoUpdateFolderKeepsTheNotes) {
  add_note(1);
  set_namespace();
  add_store("C:\\Other.pst", "VorlanSXUpdate", {"Other"});
  EXPECT_EQ(begin("C:\\Other.pst"), static_cast<LONG>(0x80003040u));
  LONG result = 0;
  component_->EndUpdate(&result);
  current_notes_folder();
  EXPECT_EQ(note_count(), 1);
}

TEST_F(UpgradeTest, BeginUpdateFailuresKeepTheCodeReachedAndShowTheMessage) {
  set_namespace();
  fail("NameSpace", "AddStore");
  EXPECT_EQ(begin(), scribbixupdate::kNoNameSpace);
  fail("MAPIFolder", "CopyTo");
  EXPECT_EQ(begin(), static_cast<LONG>(0x80003030u));
  EXPECT_EQ(boxes(), (std::vector<std::string>{"BeginUpdate:NameSpace.AddStore failed",
                                               "BeginUpdate:MAPIFolder.CopyTo failed"}));
}

TEST_F(UpgradeTest, ANextUpdateBeyondTheCountFailsWithoutSpoilingTheUpgrade) {
  add_note(1);
  set_namespace();
  ASSERT_EQ(begin(), 1);
  EXPECT_EQ(call(&_Update1::NextUpdate), 0);
  EXPECT_EQ(call(&_Update1::NextUpdate), -1);
  EXPECT_EQ(boxes(),
            std::vector<std::string>{"NextUpdate:Object variable or With block variable not set"});
  EXPECT_EQ(end(), S_OK);
  current_notes_folder();
  EXPECT_EQ(note_count(), 1);
}

TEST_F(UpgradeTest, TheHelpersMessagesNameTheirStepAndIndex) {
  add_note(1);
  set_namespace();
  ASSERT_EQ(begin(), 1);
  fail("UserProperties", "Remove");           // CleanSXProps meets "Time", the copy's last property
  fail("UserProperty", "put_Value", 4);       // CopySXProps stores the "Day" text
  EXPECT_EQ(call(&_Update1::NextUpdate), 0);  // they report and return
  EXPECT_EQ(boxes(), (std::vector<std::string>{"CleanSXProps: 8: UserProperties.Remove failed",
                                               "CopySXProps: 13: UserProperty.put_Value failed"}));
}

// A failure while carrying some note: the old folder with every note stays, the new one goes,
// and a clean upgrade afterwards carries everything.
struct CarryFault {
  const char* kind;
  const char* operation;
  int nth;
};

class CarryFaultTest : public UpgradeTest, public ::testing::WithParamInterface<CarryFault> {};

TEST_P(CarryFaultTest, NoNoteIsLostAndACleanUpgradeAfterwardsCarriesEveryOne) {
  constexpr int kNotes = 6;
  for (int key = 1; key <= kNotes; ++key) add_note(key);
  const CarryFault& f = GetParam();
  fail(f.kind, f.operation, f.nth);
  EXPECT_EQ(upgrade(), scribbixupdate::kUpgradeIncomplete);
  EXPECT_FALSE(boxes().empty());
  EXPECT_EQ(roots(), (std::vector<std::string>{"Personal Folders", "Vorlan"}));
  EXPECT_EQ(subfolders(root_at(2).Get()), std::vector<std::string>{"Scribbix"});
  current_notes_folder();
  ASSERT_EQ(note_count(), kNotes);
  for (int i = 1; i <= kNotes; ++i) {
    ComPtr<_OutlookItem> note = note_at(i);
    EXPECT_EQ(property(note.Get(), "ScribKey").to_r8(), i);
    EXPECT_EQ(text(note.Get(), &_OutlookItem::get_MessageClass), kOldForm);  // untouched
  }
  notes_ = nullptr;

  sx::outlook::clear_faults();
  component_ = create_component();
  EXPECT_EQ(upgrade(), S_OK);
  current_notes_folder();
  ASSERT_EQ(note_count(), kNotes);
  for (int i = 1; i <= kNotes; ++i) {
    EXPECT_EQ(property(note_at(i).Get(), "ScribKey").to_r8(), i);
    EXPECT_EQ(text(note_at(i).Get(), &_OutlookItem::get_MessageClass), kNewForm);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, CarryFaultTest,
    ::testing::Values(CarryFault{"Item", "get_MessageClass", 3}, CarryFault{"Item", "Copy", 2},
                      CarryFault{"Item", "put_MessageClass", 5}, CarryFault{"Item", "Move", 4},
                      CarryFault{"Item", "Close", 3}, CarryFault{"Items", "GetNext", 2},
                      CarryFault{"UserProperties", "Remove", 9},
                      CarryFault{"UserProperty", "put_Value", 20},
                      CarryFault{"UserProperties", "Add", 1}),
    [](const ::testing::TestParamInfo<CarryFault>& info) {
      return std::string(info.param.kind) + "_" + info.param.operation + "_" +
             std::to_string(info.param.nth);
    });

}  // namespace
}  // namespace sx::update::testing
