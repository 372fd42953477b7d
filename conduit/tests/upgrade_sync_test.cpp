// A HotSync after ScribbixUpdate upgraded the notes folder, as the configuration program upgrades
// it: every note, of the current class and of the older one, is carried with its key and date, so
// the conduit recognises each one, and neither side receives a note again or twice.
#include <filesystem>
#include <set>

#include "outlook/outlook.h"
#include "real_outlook_fixture.h"
#include "scribbix/notes_folder.h"
#include "scribbixupdate/scribbixupdate.h"
#include "sx/paths.h"

namespace sx::conduit::testing {
namespace {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

constexpr char kInstallDir[] = "C:\\Program Files\\Vorlan\\Scribbix";
constexpr char kUpdateServer[] = "C:\\Program Files\\Vorlan\\Scribbix\\ScribbixUpdate.dll";
constexpr char kUpdateStore[] = "C:\\Program Files\\Vorlan\\Scribbix\\SXUpdate.pst";

ComPtr<MAPIFolder> subfolder(_Folders* folders, const char* name) {
  ComPtr<MAPIFolder> found;
  EXPECT_EQ(folders->Item(Variant::from_utf8(name).get(), found.ReleaseAndGetAddressOf()), S_OK)
      << name;
  return found;
}

class UpgradeThenSyncTest : public RealOutlookRunTest {
 protected:
  void SetUp() override {
    RealOutlookRunTest::SetUp();
    if (HasFatalFailure()) return;
    std::filesystem::create_directories(sx::paths::to_host(kInstallDir));
    std::filesystem::copy_file(SX_SCRIBBIXUPDATE_LIBRARY, sx::paths::to_host(kUpdateServer));
    std::filesystem::copy_file(SX_UPDATE_STORE_TEMPLATE, sx::paths::to_host(kUpdateStore));
    ASSERT_EQ(sx::com::register_server_module(kUpdateServer), S_OK);
  }

  // In an apartment of the test's thread, with Outlook logged on to the paired profile: turns the
  // posts of `older` into notes of the older class (as an earlier release left them), then runs
  // the whole upgrade. The NextUpdate results that were not 0.
  int upgrade(const std::set<std::int32_t>& older) {
    EXPECT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    int failed = -1;
    {
      CLSID clsid{};
      EXPECT_EQ(CLSIDFromProgID(u"Outlook.Application", &clsid), S_OK);
      ComPtr<_Application> app;
      EXPECT_EQ(
          CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, _Application::kIid, app.PutVoid()),
          S_OK);
      ComPtr<_NameSpace> ns;
      EXPECT_EQ(app->GetNamespace(Bstr(u"MAPI").get(), ns.ReleaseAndGetAddressOf()), S_OK);
      const Variant profile = Variant::from_utf8("Outlook"), missing;
      EXPECT_EQ(ns->Logon(profile.get(), missing.get(), missing.get(), missing.get()), S_OK);
      make_older_class(ns.Get(), older);

      EXPECT_EQ(CLSIDFromProgID(u"ScribbixUpdate.Update1", &clsid), S_OK);
      ComPtr<_Update1> update;
      EXPECT_EQ(
          CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, _Update1::kIid, update.PutVoid()),
          S_OK);
      LONG result = 0;
      _NameSpace* given = ns.Get();
      EXPECT_EQ(update->SetNameSpace(&given, &result), S_OK);
      Variant store = Variant::from_utf8(kUpdateStore);
      Variant form = Variant::from_utf8(sx::common::kNoteClass);
      LONG notes = -1;
      EXPECT_EQ(update->BeginUpdate(&store.get(), &form.get(), &notes), S_OK);
      EXPECT_GT(notes, 0);
      failed = 0;
      for (LONG i = 0; i < notes; ++i) {
        EXPECT_EQ(update->NextUpdate(&result), S_OK);
        failed += result != 0;
      }
      EXPECT_EQ(update->EndUpdate(&result), S_OK);
      EXPECT_EQ(result, 0);
    }
    CoFreeUnusedLibraries();
    CoUninitialize();
    return failed;
  }

  static void make_older_class(_NameSpace* ns, const std::set<std::int32_t>& keys) {
    ComPtr<_Folders> roots;
    ASSERT_EQ(ns->get_Folders(roots.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<_Folders> children;
    ASSERT_EQ(subfolder(roots.Get(), sx::common::kStoreRootName)
                  ->get_Folders(children.ReleaseAndGetAddressOf()),
              S_OK);
    ComPtr<_Items> items;
    ASSERT_EQ(subfolder(children.Get(), sx::common::kNotesFolderName)
                  ->get_Items(items.ReleaseAndGetAddressOf()),
              S_OK);
    LONG count = 0;
    items->get_Count(&count);
    std::size_t changed = 0;
    for (LONG i = 1; i <= count; ++i) {
      ComPtr<IDispatch> d;
      ASSERT_EQ(items->Item(Variant::from_i4(i).get(), d.ReleaseAndGetAddressOf()), S_OK);
      ComPtr<_OutlookItem> post = d.As<_OutlookItem>();
      ComPtr<UserProperties> properties;
      post->get_UserProperties(properties.ReleaseAndGetAddressOf());
      ComPtr<UserProperty> key;
      properties->Find(Bstr::from_utf8(sx::common::kKeyProperty).get(), Variant().get(),
                       key.ReleaseAndGetAddressOf());
      Variant value;
      if (!key || FAILED(key->get_Value(value.put()))) continue;
      if (keys.count(static_cast<std::int32_t>(value.to_r8())) == 0) continue;
      ASSERT_EQ(post->put_MessageClass(Bstr::from_utf8(sx::common::kOlderNoteClass).get()), S_OK);
      ASSERT_EQ(post->Save(), S_OK);
      ++changed;
    }
    EXPECT_EQ(changed, keys.size());
  }
};

using UpgradeThenSyncKindsTest = InEveryOutlook<UpgradeThenSyncTest>;

TEST_P(UpgradeThenSyncKindsTest, AHotSyncAfterAnUpgradeSendsNoNoteAgainAndDoublesNone) {
  put_notes(4);  // 100 to 103
  {
    NotesFolder outlook;
    outlook.add(9001, "from Outlook");
    outlook.add(0, "made by hand in Outlook");
  }
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  ASSERT_EQ(hotsync(), 0);
  const Lines unchanged = last_log_;  // what a HotSync logs when nothing changed
  const Folder notes = handheld_notes();
  ASSERT_EQ(notes.size(), 6u);
  ASSERT_EQ(folder(), notes);

  EXPECT_EQ(upgrade({100, 9001}), 0);
  EXPECT_EQ(NotesFolder().count(), 6);

  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  EXPECT_EQ(last_log_, unchanged);
  EXPECT_EQ(handheld_notes(), notes);
  EXPECT_EQ(folder(), notes);
  EXPECT_EQ(NotesFolder().count(), 6);

  // And the notes carried go on synchronising both ways.
  edit_handheld(100, "changed on the handheld after the upgrade");
  NotesFolder().change(9001, "changed in Outlook after the upgrade");
  ASSERT_EQ(hotsync(), 0) << ::testing::PrintToString(last_log_);
  const Folder after = handheld_notes();
  EXPECT_EQ(folder(), after);
  EXPECT_EQ(after.at(100), "changed on the handheld after the upgrade");
  EXPECT_EQ(after.at(9001), "changed in Outlook after the upgrade");
  EXPECT_EQ(after.size(), 6u);
}

INSTANTIATE_TEST_SUITE_P(Outlooks, UpgradeThenSyncKindsTest, ::testing::ValuesIn(kOutlookKinds),
                         kind_name);

}  // namespace
}  // namespace sx::conduit::testing
