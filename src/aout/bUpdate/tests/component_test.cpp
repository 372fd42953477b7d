// The component as COM hands it out: its dispatch ids, late binding by name as a script calls it,
// the apartment check, unloading, and the shared Outlook Application let go with the last object.
#include <thread>

#include "windows.h"

#include "sx/outlook/outlook_process.h"
#include "update_fixture.h"

namespace sx::update::testing {
namespace {

TEST_F(UpdateTest, EveryMethodIsReachedByNameWithTheTypeLibrarysDispatchId) {
  const char16_t* names[] = {u"AddPst",
                             u"RenameUpdate",
                             u"FindFolder",
                             u"RemoveUpdateFolder",
                             u"RemoveScribbixFolder",
                             u"FindAddIn",
                             u"SetAddIn",
                             u"NextUpdate",
                             u"BeginUpdate",
                             u"EndUpdate",
                             u"SetNameSpace",
                             u"CountScribbix",
                             u"RenameX",
                             u"GroupExists",
                             u"ShortCutExists",
                             u"FolderShortcutCreate",
                             u"CheckScribbixShortcut",
                             u"ShortcutGroups",
                             u"CreateScribbixShortcut"};
  DISPID expected = scribbixupdate::kDispAddPst;
  for (const char16_t* name : names) {
    DISPID id = 0;
    EXPECT_EQ(sx::com::dispid_of(component_.Get(), name, &id), S_OK);
    EXPECT_EQ(id, expected++);
  }
}

TEST_F(UpdateTest, ALateBoundCallerHandsTheNameSpaceAndReadsTheCodes) {
  Variant result;
  EXPECT_EQ(sx::com::invoke_by_name(component_.Get(), u"CountScribbix", DISPATCH_METHOD, {},
                                    result.put()),
            S_OK);
  EXPECT_EQ(result.to_i4(), scribbixupdate::kNoNameSpace);
  EXPECT_EQ(sx::com::invoke_by_name(component_.Get(), u"SetNameSpace", DISPATCH_METHOD,
                                    {Variant::from_dispatch(outlook())}, result.put()),
            S_OK);
  EXPECT_EQ(result.to_i4(), 1);
  EXPECT_EQ(sx::com::invoke_by_name(component_.Get(), u"AddPst", DISPATCH_METHOD,
                                    {Variant::from_utf8(kUpdateStorePath)}, result.put()),
            S_OK);
  EXPECT_EQ(result.to_i4(), 0);
  EXPECT_EQ(sx::com::invoke_by_name(component_.Get(), u"FindFolder", DISPATCH_METHOD,
                                    {Variant::from_utf8("Vorlan")}, result.put()),
            S_OK);
  EXPECT_EQ(result.to_i4(), 0);
  EXPECT_EQ(sx::com::invoke_by_name(component_.Get(), u"SetNameSpace", DISPATCH_METHOD,
                                    {Variant::from_utf8("not a namespace")}, result.put()),
            DISP_E_TYPEMISMATCH);
}

TEST_F(UpdateTest, ACallFromAnotherThreadIsRefused) {
  LONG result = 0;
  HRESULT hr = S_OK;
  std::thread other([&] { hr = component_->CountScribbix(&result); });
  other.join();
  EXPECT_EQ(hr, RPC_E_WRONG_THREAD);
}

// Outlook's main window: there while Outlook runs, gone once it has ended.
bool outlook_window() { return FindWindowA(sx::outlook::kMainWindowClass, nullptr) != nullptr; }

TEST_F(UpdateTest, OutlookEndsWhenTheLastComponentGoesAndTheServerUnloads) {
  LONG found = -1;
  Variant name = Variant::from_utf8("Nobody");
  ASSERT_EQ(component_->FindAddIn(&name.get(), &found), S_OK);  // starts Outlook
  EXPECT_EQ(found, 0);
  EXPECT_TRUE(outlook_window());
  ComPtr<_Update1> second = create_component();
  component_ = nullptr;
  EXPECT_TRUE(outlook_window());  // still held for the second object
  second = nullptr;
  EXPECT_FALSE(outlook_window());
  CoFreeUnusedLibraries();
  component_ = create_component();  // loads again and works
  ASSERT_TRUE(component_);
  EXPECT_EQ(call(&_Update1::CountScribbix), scribbixupdate::kNoNameSpace);
}

}  // namespace
}  // namespace sx::update::testing
