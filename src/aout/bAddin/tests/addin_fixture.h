// A machine as the system's setup leaves it for the add-ins: Outlook installed (profile "Outlook"),
// the user's notes store "Vorlan" with the notes folder "Scribbix" in the profile, and both
// add-ins copied into the installation directory and registered through their own
// DllRegisterServer (so Outlook loads them when it starts). The test thread, in its own apartment,
// starts Outlook as a person does (with an explorer) or by automation, and looks at what the
// add-ins did through Outlook's object model, as another program sees Outlook.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "comdef.h"
#include "notes_setup.h"
#include "outlook/outlook.h"
#include "scribbix/notes_folder.h"
#include "scribbix/registry_values.h"
#include "scribbixaddin/scribbixaddin.h"
#include "scribbixmonitor/scribbixmonitor.h"
#include "sx/outlook/addins.h"
#include "sx/outlook/faults.h"
#include "sx/outlook/install.h"
#include "sx/outlook/outlook_process.h"
#include "sx/registry_file.h"
#include "sx/testing/temp_machine.h"
#include "sx/window.h"

namespace sx::addin::testing {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

inline constexpr char kInstallDir[] = "C:\\Program Files\\Vorlan\\Scribbix";
inline constexpr char kUser[] = "Palm User";

class AddInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sx::window::set_host(sx::window::Host::kScripted);
    sx::window::clear_script();
    std::string why;
    ASSERT_TRUE(sx::registry::create_empty_file(&why)) << why;
    ASSERT_TRUE(sx::outlook::install({}, &why)) << why;
    ASSERT_TRUE(sx::machine_tool::install_notes_store("Outlook", kUser, &why)) << why;
    const std::filesystem::path dir = machine_.c("Program Files\\Vorlan\\Scribbix");
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(SX_NOTES_ADDIN_LIBRARY, dir / "ScribbixOutlookAddIn.dll");
    std::filesystem::copy_file(SX_MONITOR_ADDIN_LIBRARY, dir / "ScribbixMonitorAddIn.dll");
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(
        sx::com::register_server_module(std::string(kInstallDir) + "\\ScribbixOutlookAddIn.dll"),
        S_OK);
    ASSERT_EQ(
        sx::com::register_server_module(std::string(kInstallDir) + "\\ScribbixMonitorAddIn.dll"),
        S_OK);
  }
  void TearDown() override {
    quit();
    CoFreeUnusedLibraries();
    CoUninitialize();
    sx::window::clear_script();
  }

  static void set_setting(const char* name, long value) {
    ASSERT_TRUE(sx::common::SetKeyValue(HKEY_LOCAL_MACHINE, sx::common::kInstallationKey, name,
                                        value, REG_DWORD));
  }
  static void set_text_setting(const char* name, const std::string& value) {
    ASSERT_TRUE(sx::common::SetKeyValue(HKEY_LOCAL_MACHINE, sx::common::kInstallationKey, name,
                                        value, REG_SZ));
  }
  // The last key the shared counter gave.
  static double last_key() {
    return static_cast<double>(sx::common::leading_number(
        sx::common::GetKeyValue(HKEY_LOCAL_MACHINE, sx::common::kInstallationKey, "Last")));
  }

  // Outlook as a person starts it (an explorer on the Inbox; the start-up add-ins find it).
  _Application* start() {
    quit();
    EXPECT_EQ(sx::outlook::start_with_explorer(app_.ReleaseAndGetAddressOf()), S_OK);
    return app_.Get();
  }
  // Outlook started by a program (no explorer).
  _Application* start_by_automation() {
    quit();
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Outlook.Application", &clsid), S_OK);
    EXPECT_EQ(
        CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, _Application::kIid, app_.PutVoid()),
        S_OK);
    return app_.Get();
  }
  // Takes the notes store "Vorlan" out of the profile (its file stays), with an Outlook of its own.
  void remove_notes_store() {
    start_by_automation();
    ComPtr<_Folders> roots;
    ASSERT_EQ(ns()->get_Folders(roots.GetAddressOf()), S_OK);
    ComPtr<MAPIFolder> root;
    ASSERT_EQ(roots->Item(Variant::from_utf8("Vorlan").get(), root.GetAddressOf()), S_OK);
    ASSERT_EQ(ns()->RemoveStore(root.Get()), S_OK);
    root = nullptr;
    roots = nullptr;
    quit();
  }
  void quit() {
    if (app_) app_->Quit();
    app_ = nullptr;
  }

  ComPtr<_Explorer> explorer() {
    ComPtr<_Explorer> e;
    EXPECT_EQ(app_->get_ActiveExplorer(e.GetAddressOf()), S_OK);
    return e;
  }
  ComPtr<_CommandBars> bars() {
    ComPtr<_CommandBars> b;
    EXPECT_EQ(explorer()->get_CommandBars(b.GetAddressOf()), S_OK);
    return b;
  }
  // The explorers' bar `name`, or null.
  ComPtr<CommandBar> bar(const char* name) {
    ComPtr<CommandBar> found;
    if (FAILED(bars()->Item(Variant::from_utf8(name).get(), found.GetAddressOf()))) return nullptr;
    return found;
  }
  static ComPtr<CommandBarControls> controls(CommandBar* bar) {
    ComPtr<CommandBarControls> c;
    EXPECT_EQ(bar->get_Controls(c.GetAddressOf()), S_OK);
    return c;
  }
  static ComPtr<CommandBarControl> control_at(CommandBarControls* controls, LONG i) {
    ComPtr<CommandBarControl> c;
    EXPECT_EQ(controls->Item(Variant::from_i4(i).get(), c.GetAddressOf()), S_OK);
    return c;
  }
  static std::string caption(CommandBarControl* control) {
    Bstr text;
    EXPECT_EQ(control->get_Caption(text.put()), S_OK);
    return text.utf8();
  }
  // The captions of a bar's top-level controls, joined by "|".
  static std::string captions(CommandBar* bar) {
    ComPtr<CommandBarControls> c = controls(bar);
    LONG count = 0;
    c->get_Count(&count);
    std::string out;
    for (LONG i = 1; i <= count; ++i)
      out += (i > 1 ? "|" : "") + caption(control_at(c.Get(), i).Get());
    return out;
  }
  // The explorers' controls tagged "SXCountTag" anywhere.
  ComPtr<CommandBarControl> new_note_control() {
    ComPtr<CommandBarControl> found;
    Variant missing;
    EXPECT_EQ(bars()->FindControl(missing.get(), missing.get(),
                                  Variant::from_utf8(scribbixaddin::kButtonTag).get(),
                                  missing.get(), found.GetAddressOf()),
              S_OK);
    return found;
  }

  // Whether the add-in of `progid` is connected in the running Outlook.
  bool connected(const char* progid) {
    ComPtr<COMAddIns> addins;
    EXPECT_EQ(app_->get_COMAddIns(addins.GetAddressOf()), S_OK);
    ComPtr<COMAddIn> addin;
    if (FAILED(addins->Item(Variant::from_utf8(progid).get(), addin.GetAddressOf()))) return false;
    VARIANT_BOOL on = VARIANT_FALSE;
    EXPECT_EQ(addin->get_Connect(&on), S_OK);
    return on != VARIANT_FALSE;
  }
  void set_connect(const char* progid, bool on) {
    ComPtr<COMAddIns> addins;
    ASSERT_EQ(app_->get_COMAddIns(addins.GetAddressOf()), S_OK);
    ComPtr<COMAddIn> addin;
    ASSERT_EQ(addins->Item(Variant::from_utf8(progid).get(), addin.GetAddressOf()), S_OK);
    ASSERT_EQ(addin->put_Connect(on ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
  }

  // Folders of the logged-on profile.
  ComPtr<_NameSpace> ns() {
    ComPtr<_NameSpace> n;
    EXPECT_EQ(app_->GetNamespace(Bstr(u"MAPI").get(), n.GetAddressOf()), S_OK);
    return n;
  }
  static ComPtr<MAPIFolder> sub(MAPIFolder* folder, const char* name) {
    ComPtr<_Folders> folders;
    EXPECT_EQ(folder->get_Folders(folders.GetAddressOf()), S_OK);
    ComPtr<MAPIFolder> f;
    EXPECT_EQ(folders->Item(Variant::from_utf8(name).get(), f.GetAddressOf()), S_OK) << name;
    return f;
  }
  ComPtr<MAPIFolder> notes_folder() {
    ComPtr<_Folders> roots;
    EXPECT_EQ(ns()->get_Folders(roots.GetAddressOf()), S_OK);
    ComPtr<MAPIFolder> root;
    EXPECT_EQ(roots->Item(Variant::from_utf8("Vorlan").get(), root.GetAddressOf()), S_OK);
    return sub(root.Get(), "Scribbix");
  }
  ComPtr<MAPIFolder> inbox() {
    ComPtr<MAPIFolder> f;
    EXPECT_EQ(ns()->GetDefaultFolder(olFolderInbox, f.GetAddressOf()), S_OK);
    return f;
  }
  static ComPtr<_Items> items_of(MAPIFolder* folder) {
    ComPtr<_Items> items;
    EXPECT_EQ(folder->get_Items(items.GetAddressOf()), S_OK);
    return items;
  }
  static LONG count_of(MAPIFolder* folder) {
    LONG n = 0;
    EXPECT_EQ(items_of(folder)->get_Count(&n), S_OK);
    return n;
  }
  // A new unsaved item of `message_class` in `folder`.
  static ComPtr<_OutlookItem> add_item(MAPIFolder* folder, const char* message_class) {
    ComPtr<IDispatch> added;
    EXPECT_EQ(items_of(folder)->Add(Variant::from_utf8(message_class).get(), added.GetAddressOf()),
              S_OK);
    ComPtr<_OutlookItem> item;
    EXPECT_EQ(added->QueryInterface(_OutlookItem::kIid, item.PutVoid()), S_OK);
    return item;
  }
  // The i-th item of `folder` read afresh from the store.
  static ComPtr<_OutlookItem> item_at(MAPIFolder* folder, LONG i) {
    ComPtr<IDispatch> found;
    EXPECT_EQ(items_of(folder)->Item(Variant::from_i4(i).get(), found.GetAddressOf()), S_OK);
    ComPtr<_OutlookItem> item;
    EXPECT_EQ(found->QueryInterface(_OutlookItem::kIid, item.PutVoid()), S_OK);
    return item;
  }
  static std::string text(_OutlookItem* item,
                          HRESULT (STDMETHODCALLTYPE _OutlookItem::*get)(BSTR*)) {
    Bstr value;
    EXPECT_EQ((item->*get)(value.put()), S_OK);
    return value.utf8();
  }
  // A user property's value; VT_EMPTY when the item has no such property.
  static Variant property(_OutlookItem* item, const char* name) {
    ComPtr<UserProperties> properties;
    EXPECT_EQ(item->get_UserProperties(properties.GetAddressOf()), S_OK);
    ComPtr<UserProperty> found;
    Variant missing, value;
    EXPECT_EQ(properties->Find(Bstr::from_utf8(name).get(), missing.get(), found.GetAddressOf()),
              S_OK);
    if (found) {
      EXPECT_EQ(found->get_Value(value.put()), S_OK);
    }
    return value;
  }
  static void put_property(_OutlookItem* item, const char* name, LONG type, const Variant& value) {
    ComPtr<UserProperties> properties;
    ASSERT_EQ(item->get_UserProperties(properties.GetAddressOf()), S_OK);
    ComPtr<UserProperty> added;
    Variant missing;
    ASSERT_EQ(properties->Add(Bstr::from_utf8(name).get(), type, missing.get(), missing.get(),
                              added.GetAddressOf()),
              S_OK);
    ASSERT_EQ(added->put_Value(value.get()), S_OK);
  }
  static DATE time_of(_OutlookItem* item, HRESULT (STDMETHODCALLTYPE _OutlookItem::*get)(DATE*)) {
    DATE value = 0;
    EXPECT_EQ((item->*get)(&value), S_OK);
    return value;
  }

  ComPtr<_Inspectors> inspectors() {
    ComPtr<_Inspectors> i;
    EXPECT_EQ(app_->get_Inspectors(i.GetAddressOf()), S_OK);
    return i;
  }
  LONG inspector_count() {
    LONG n = 0;
    EXPECT_EQ(inspectors()->get_Count(&n), S_OK);
    return n;
  }
  ComPtr<_Inspector> inspector_at(LONG i) {
    ComPtr<_Inspector> found;
    EXPECT_EQ(inspectors()->Item(Variant::from_i4(i).get(), found.GetAddressOf()), S_OK);
    return found;
  }

  sx::testing::TempMachine machine_;
  ComPtr<_Application> app_;
};

}  // namespace sx::addin::testing
