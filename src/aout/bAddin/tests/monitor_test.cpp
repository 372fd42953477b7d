// The monitor add-in: at every Outlook start with the notes folder in the profile, the notes
// add-in ends up connected; without the folder the notes toolbar is hidden and the notes add-in is
// left as it is. Its two methods are also called directly, from the test's apartment.
#include "monitor.h"
#include "addin_fixture.h"

namespace sx::addin::testing {
namespace {

constexpr char kNotesAddIn[] = "VorScribOutlookAddIn.Connect";
constexpr char kMonitor[] = "ScribbixMonitorAddIn.Connect";

class MonitorTest : public AddInTest {
 protected:
  bool notes_bar_visible() {
    ComPtr<CommandBar> notes_bar = bar("Scribbix Bar");
    VARIANT_BOOL visible = VARIANT_FALSE;
    if (notes_bar) {
      EXPECT_EQ(notes_bar->get_Visible(&visible), S_OK);
    }
    return visible != VARIANT_FALSE;
  }
  // A monitor of the test's own, attached to the running Outlook through proxies.
  ComPtr<sx::monitor::ScribbixMonitor1> own_monitor() {
    auto monitor = sx::com::make_object<sx::monitor::ScribbixMonitor1>();
    monitor->AttachOutlook(app_.Get());
    return monitor;
  }
  LONG set_addin(sx::monitor::ScribbixMonitor1* monitor, const char* description, bool on) {
    _Application* app = app_.Get();
    Bstr name = Bstr::from_utf8(description);
    BSTR raw = name.get();
    VARIANT_BOOL flag = on ? VARIANT_TRUE : VARIANT_FALSE;
    LONG result = 0x5EED;
    EXPECT_EQ(monitor->SetAddIn(&app, &raw, &flag, &result), S_OK);
    return result;
  }
};

TEST_F(MonitorTest, WithTheNotesFolderASwitchedOffNotesAddInIsSwitchedOnAtStart) {
  ASSERT_TRUE(sx::outlook::addins::set_load_behavior(kNotesAddIn, 2));
  set_setting("MenuMode", 0);
  start();
  EXPECT_TRUE(connected(kMonitor));
  EXPECT_TRUE(connected(kNotesAddIn));
  EXPECT_EQ(sx::outlook::addins::load_behavior(kNotesAddIn), 3u);
  EXPECT_TRUE(notes_bar_visible());
}

TEST_F(MonitorTest, WithoutTheNotesFolderTheToolbarIsHiddenAndTheNotesAddInLeftOff) {
  set_setting("MenuMode", 0);
  start();
  ASSERT_TRUE(notes_bar_visible());
  quit();
  remove_notes_store();
  ASSERT_TRUE(sx::outlook::addins::set_load_behavior(kNotesAddIn, 2));
  start();
  EXPECT_TRUE(connected(kMonitor));
  EXPECT_FALSE(connected(kNotesAddIn));
  EXPECT_EQ(sx::outlook::addins::load_behavior(kNotesAddIn), 2u);
  EXPECT_FALSE(notes_bar_visible());
}

TEST_F(MonitorTest, SetAddInSaysWhatItFoundAndChangesOnlyWhatDiffers) {
  start();
  auto monitor = own_monitor();
  EXPECT_EQ(set_addin(monitor.Get(), "Scribbix Outlook Add-In", true), 1);
  EXPECT_EQ(sx::outlook::addins::load_behavior(kNotesAddIn), 3u);
  EXPECT_EQ(set_addin(monitor.Get(), "Scribbix Outlook Add-In", false), 0);
  EXPECT_FALSE(connected(kNotesAddIn));
  EXPECT_EQ(set_addin(monitor.Get(), "Scribbix Outlook Add-In", true), 1);
  EXPECT_TRUE(connected(kNotesAddIn));
  EXPECT_EQ(set_addin(monitor.Get(), "scribbix outlook add-in", true), -1);  // exact names only
  EXPECT_EQ(set_addin(monitor.Get(), "No Such Add-In", true), -1);
  monitor->DetachOutlook();
}

TEST_F(MonitorTest, FindFolderWalksToVorlanAndScribbix) {
  start_by_automation();
  auto monitor = own_monitor();
  _Application* app = app_.Get();
  LONG found = -1;
  EXPECT_EQ(monitor->FindFolder(&app, &found), S_OK);
  EXPECT_EQ(found, 1);
  ASSERT_EQ(notes_folder()->put_Name(Bstr(u"scribbix").get()), S_OK);  // case counts
  EXPECT_EQ(monitor->FindFolder(&app, &found), S_OK);
  EXPECT_EQ(found, 0);
  _Application* nothing = nullptr;
  EXPECT_EQ(monitor->FindFolder(&nothing, &found), S_OK);
  EXPECT_EQ(found, 0);
  monitor->DetachOutlook();
}

TEST_F(MonitorTest, WithoutTheNotesAddInRegisteredOutlookStartsAsUsual) {
  ASSERT_EQ(sx::com::register_server_module(std::string(kInstallDir) + "\\ScribbixOutlookAddIn.dll",
                                            /*unregister=*/true),
            S_OK);
  start();
  EXPECT_TRUE(connected(kMonitor));
  EXPECT_FALSE(connected(kNotesAddIn));
  auto monitor = own_monitor();
  EXPECT_EQ(set_addin(monitor.Get(), "Scribbix Outlook Add-In", true), -1);
  monitor->DetachOutlook();
}

TEST_F(MonitorTest, StartedByAProgramWithoutAnExplorerTheMonitorStillConnects) {
  remove_notes_store();
  start_by_automation();
  EXPECT_TRUE(connected(kMonitor));
  // Connected, the notes add-in watches nothing and touches no bar.
  EXPECT_TRUE(connected(kNotesAddIn));
}

TEST_F(MonitorTest, TheLastExplorerClosingLetsOutlookEndWithBothAddInsDetached) {
  start();
  ComPtr<_Explorer> last = explorer();
  EXPECT_EQ(last->Close(), S_OK);
  EXPECT_EQ(FindWindowA(sx::outlook::kMainWindowClass, nullptr), nullptr);
  ComPtr<_Explorers> after;
  EXPECT_EQ(app_->get_Explorers(after.GetAddressOf()), RPC_E_DISCONNECTED);
  app_ = nullptr;
  last = nullptr;
  CoFreeUnusedLibraries();
  // A new start connects them again.
  start();
  EXPECT_TRUE(connected(kMonitor));
  EXPECT_TRUE(connected(kNotesAddIn));
}

}  // namespace
}  // namespace sx::addin::testing
