// An update of the notes folder run while a person's Outlook is up with the system's own add-ins
// connected, in the same Outlook the configuration program attaches to (as on a machine whose one
// Outlook is the person's). Each carry copies its note inside the old folder, which the notes
// add-in watches: the notes must reach the new folder with the keys the conduit knows, and the
// add-in must watch the new folder afterwards.
#include <gtest/gtest.h>

#include <set>

#include "configure_fixture.h"
#include "folder_install.h"
#include "outlook/office.h"

namespace sx::configure::testing {
namespace {

class UpdateWithAddInsTest : public ConfigureTest {
 protected:
  // The keys of the notes of the profile "Outlook".
  static std::multiset<double> Keys() {
    std::multiset<double> keys;
    EachNote("Outlook", [&](_PostItem* post) {
      ComPtr<UserProperties> properties;
      post->get_UserProperties(properties.ReleaseAndGetAddressOf());
      ComPtr<UserProperty> key;
      properties->Find(Bstr(u"ScribKey").get(), Omitted().get(), key.ReleaseAndGetAddressOf());
      Variant value;
      if (key && SUCCEEDED(key->get_Value(value.put()))) keys.insert(value.to_r8());
    });
    return keys;
  }
  static bool Connected(_Application* app, const char* progId) {
    ComPtr<COMAddIns> addins;
    ComPtr<COMAddIn> addin;
    VARIANT_BOOL connected = VARIANT_FALSE;
    return SUCCEEDED(app->get_COMAddIns(addins.ReleaseAndGetAddressOf())) &&
           SUCCEEDED(
               addins->Item(Variant::from_utf8(progId).get(), addin.ReleaseAndGetAddressOf())) &&
           SUCCEEDED(addin->get_Connect(&connected)) && connected != VARIANT_FALSE;
  }
};

TEST_F(UpdateWithAddInsTest, CarriedNotesKeepTheirKeysAndTheNotesAddInWatchesTheNewFolder) {
  Machine({"system", "install", "--user", "Palm User"});  // both add-ins, loading at start-up
  AddNotes({"one", "two", "three"}, "Outlook", 101);
  const std::multiset<double> before = {101, 102, 103};
  ASSERT_EQ(Keys(), before);

  // The person's Outlook, with its add-ins, stays up the whole time.
  ComPtr<_Application> person = Outlook();
  ASSERT_TRUE(person);
  ASSERT_TRUE(Connected(person.Get(), kNotesAddInProgId));
  ASSERT_TRUE(Connected(person.Get(), kMonitorAddInProgId));

  TestChecker checker;
  EXPECT_GE(UpdateFolder(checker, "Outlook"), 0);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(Connected(person.Get(), kNotesAddInProgId));
  EXPECT_EQ(LoadBehavior(kNotesAddInProgId), std::optional<DWORD>(3));

  // A plain post saved into the new folder is stamped: the add-in watches that folder now. (Read
  // first: a look at the notes ends with a logoff, after which the add-in watches nothing.)
  WithOutlook("Outlook", [](_NameSpace* ns) {
    ComPtr<MAPIFolder> folder = Folder(ns, "Vorlan", "Scribbix");
    ASSERT_TRUE(folder);
    ComPtr<_Items> items;
    folder->get_Items(items.ReleaseAndGetAddressOf());
    ComPtr<IDispatch> item;
    ASSERT_EQ(items->Add(Variant::from_utf8("IPM.Post").get(), item.ReleaseAndGetAddressOf()),
              S_OK);
    ComPtr<_PostItem> post;
    item->QueryInterface(_PostItem::kIid, post.PutVoid());
    post->put_Body(Bstr(u"written in the new folder").get());
    ASSERT_EQ(post->Save(), S_OK);
  });
  const std::multiset<double> after = Keys();
  EXPECT_EQ(after.size(), 4u);
  for (double key : before) EXPECT_EQ(after.count(key), 1u) << key;
  person->Quit();
}

}  // namespace
}  // namespace sx::configure::testing
