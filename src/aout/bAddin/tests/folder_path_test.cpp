// The notes add-in's folder helpers, GetFolderPath and OpenMAPIFolder, called on its ScribbixAddIn
// from the test's apartment (Outlook reached through proxies), directly and by name.
#include "addin_fixture.h"
#include "scribbix_addin.h"

namespace sx::addin::testing {
namespace {

class FolderPathTest : public AddInTest {
 protected:
  ComPtr<ScribbixAddIn> attached() {
    auto addin = sx::com::make_object<ScribbixAddIn>();
    addin->AttachOutlook(app_.Get(), u"VorScribOutlookAddIn.Connect");
    return addin;
  }
  static std::string path_of(ScribbixAddIn* addin, IDispatch* folder) {
    Bstr path;
    EXPECT_EQ(addin->GetFolderPath(Variant::from_dispatch(folder).get(), path.put()), S_OK);
    return path.utf8();
  }
  static HRESULT open(ScribbixAddIn* addin, const char* path, ComPtr<MAPIFolder>* folder) {
    return addin->OpenMAPIFolder(Variant::from_utf8(path).get(), folder->ReleaseAndGetAddressOf());
  }
};

TEST_F(FolderPathTest, PathsFromTheStoreRootDownAndBack) {
  start_by_automation();
  auto addin = attached();
  ComPtr<MAPIFolder> folder;
  ASSERT_EQ(open(addin.Get(), "\\Vorlan\\Scribbix", &folder), S_OK);
  ASSERT_TRUE(folder);
  EXPECT_EQ(path_of(addin.Get(), folder.Get()), "\\Vorlan\\Scribbix");
  ComPtr<IDispatch> root;
  ASSERT_EQ(folder->get_Parent(root.GetAddressOf()), S_OK);
  EXPECT_EQ(path_of(addin.Get(), root.Get()), "\\Vorlan");
  EXPECT_EQ(path_of(addin.Get(), nullptr), "");
  EXPECT_EQ(path_of(addin.Get(), ns().Get()), "");  // no folder

  // A missing store root is Nothing; a missing folder below one is Outlook's error.
  EXPECT_EQ(open(addin.Get(), "\\Nowhere\\Scribbix", &folder), S_OK);
  EXPECT_FALSE(folder);
  EXPECT_EQ(open(addin.Get(), "\\Vorlan\\Missing", &folder), MAPI_E_NOT_FOUND);
  EXPECT_FALSE(folder);
  addin->DetachOutlook();
}

TEST_F(FolderPathTest, APathWithoutALeadingBackslashStartsAtTheExplorersFolder) {
  start();
  ComPtr<_Folders> below_inbox;
  ASSERT_EQ(inbox()->get_Folders(below_inbox.GetAddressOf()), S_OK);
  ComPtr<MAPIFolder> made;
  ASSERT_EQ(below_inbox->Add(Bstr(u"Kept").get(), Variant().get(), made.GetAddressOf()), S_OK);
  auto addin = attached();
  ComPtr<MAPIFolder> folder;
  ASSERT_EQ(open(addin.Get(), "Kept", &folder), S_OK);
  ASSERT_TRUE(folder);
  EXPECT_EQ(path_of(addin.Get(), folder.Get()), "\\Personal Folders\\Inbox\\Kept");
  // A missing name below it is Nothing, never the folder above it.
  EXPECT_EQ(open(addin.Get(), "Kept\\Missing", &folder), S_OK);
  EXPECT_FALSE(folder);
  addin->DetachOutlook();
}

TEST_F(FolderPathTest, LateBoundCallsByName) {
  start_by_automation();
  auto addin = attached();
  ComPtr<IDispatch> object;
  ASSERT_EQ(addin->QueryInterface(IID_IDispatch, object.PutVoid()), S_OK);
  Variant folder;
  ASSERT_EQ(sx::com::invoke_by_name(object.Get(), u"OpenMAPIFolder", DISPATCH_METHOD,
                                    {Variant::from_utf8("\\Vorlan\\Scribbix")}, folder.put()),
            S_OK);
  ASSERT_EQ(folder.vt(), VT_DISPATCH);
  Variant path;
  ASSERT_EQ(sx::com::invoke_by_name(object.Get(), u"GetFolderPath", DISPATCH_METHOD, {folder},
                                    path.put()),
            S_OK);
  EXPECT_EQ(path.to_utf8(), "\\Vorlan\\Scribbix");
  DISPID id = 0;
  EXPECT_EQ(sx::com::dispid_of(object.Get(), u"GetFolderPath", &id), S_OK);
  EXPECT_EQ(id, scribbixaddin::kDispGetFolderPath);
  addin->DetachOutlook();
}

}  // namespace
}  // namespace sx::addin::testing
