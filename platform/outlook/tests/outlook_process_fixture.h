// The fixture of the tests of Outlook's process and windows: a machine with Outlook installed and
// the sample add-ins' classes registered (not their add-in entries: a test registers those it
// wants), the scripted window host, and helpers to reach Outlook's objects.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "outlook/outlook.h"
#include "sx/outlook/addins.h"
#include "sx/outlook/faults.h"
#include "sx/outlook/install.h"
#include "sx/outlook/outlook_process.h"
#include "sx/registry_file.h"
#include "sx/testing/temp_machine.h"
#include "sx/window.h"
#include "test_addins.h"
#include "win32/registry.h"
#include "win32/sync.h"
#include "win32/window.h"

namespace sx::outlook {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

inline constexpr char kAddInsDll[] = "C:\\Program Files\\SxTest\\AddIns.dll";

inline void set_class_value(const std::string& path, const std::string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

// Runs `body` on a thread of its own, in an apartment of its own; returns the thread's handle.
inline HANDLE start_apartment(std::function<void()>* body) {
  return CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        CoInitialize(nullptr);
        (*static_cast<std::function<void()>*>(p))();
        CoUninitialize();
        return 0;
      },
      body, 0, nullptr);
}
// Waits for a thread while this apartment goes on serving calls into it (its event sinks).
inline void join(HANDLE thread) {
  DWORD index = 0;
  EXPECT_EQ(CoWaitForMultipleHandles(0, INFINITE, 1, &thread, &index), S_OK);
  CloseHandle(thread);
}

class OutlookProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(sx::registry::create_empty_file(&why)) << why;
    ASSERT_TRUE(install(InstallOptions{}, &why)) << why;
    // The sample add-ins, installed as their setup would do it.
    const std::filesystem::path dll = machine_.c("Program Files\\SxTest\\AddIns.dll");
    std::filesystem::create_directories(dll.parent_path());
    std::filesystem::copy_file(SX_TEST_ADDINS_PATH, dll);
    const struct {
      const char* progid;
      CLSID clsid;
    } classes[] = {{"SxTest.AddInA", kTestAddInA},
                   {"SxTest.AddInB", kTestAddInB},
                   {"SxTest.Failing", kTestAddInFailing},
                   {"SxTest.Toolbar", kTestAddInToolbar}};
    for (const auto& c : classes) {
      const std::string clsid = sx::com::format_guid(c.clsid);
      set_class_value(std::string(c.progid) + "\\CLSID", clsid);
      set_class_value("CLSID\\" + clsid + "\\InprocServer32", kAddInsDll);
    }
    sx::window::set_host(sx::window::Host::kScripted);
    sx::window::clear_script();
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override {
    clear_faults();
    app_ = nullptr;
    CoUninitialize();
    sx::window::clear_script();
  }

  static void register_addin(const char* progid, std::optional<DWORD> load_behavior) {
    addins::Registration r;
    r.progid = progid;
    r.friendly_name = std::string(progid) + " (friendly)";
    r.description = std::string("Description of ") + progid;
    r.load_behavior = load_behavior;
    ASSERT_TRUE(addins::write(r));
  }
  // What the sample add-ins were told so far, one call per line.
  static std::string addin_log() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kTestAddInLogKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return "";
    char text[4096] = {};
    DWORD size = sizeof text - 1, type = 0;
    RegQueryValueExA(key, "AddInLog", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    char threads[64] = {};
    size = sizeof threads - 1;
    const bool wrong_thread =
        RegQueryValueExA(key, "AddInThreads", nullptr, &type, reinterpret_cast<BYTE*>(threads),
                         &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    EXPECT_FALSE(wrong_thread) << "an add-in could not call Outlook's objects directly";
    return text;
  }
  static void clear_addin_log() { RegDeleteKeyA(HKEY_CURRENT_USER, kTestAddInLogKey); }

  static ComPtr<_Application> create() {
    ComPtr<_Application> app;
    EXPECT_EQ(CoCreateInstance(CLSID_OutlookApplication, nullptr, CLSCTX_LOCAL_SERVER,
                               IID_PPV_ARGS(app.ReleaseAndGetAddressOf())),
              S_OK);
    return app;
  }
  static ComPtr<_NameSpace> mapi(_Application* app) {
    ComPtr<_NameSpace> ns;
    Bstr mapi(u"MAPI");
    EXPECT_EQ(app->GetNamespace(mapi.get(), ns.ReleaseAndGetAddressOf()), S_OK);
    return ns;
  }
  static HRESULT logon(_NameSpace* ns, const char* profile, bool show_dialog = false) {
    Variant name = profile != nullptr ? Variant::from_utf8(profile) : Variant();
    Variant missing;
    missing.get().vt = VT_ERROR;
    missing.get().scode = DISP_E_PARAMNOTFOUND;
    Variant dialog = show_dialog ? Variant::from_bool(true) : missing;
    return ns->Logon(name.get(), missing.get(), dialog.get(), missing.get());
  }
  static ComPtr<COMAddIn> addin(_Application* app, const char* progid) {
    ComPtr<COMAddIns> all;
    EXPECT_EQ(app->get_COMAddIns(all.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<COMAddIn> one;
    Variant which = Variant::from_utf8(progid);
    EXPECT_EQ(all->Item(which.get(), one.ReleaseAndGetAddressOf()), S_OK) << progid;
    return one;
  }
  static bool connected(COMAddIn* addin) {
    VARIANT_BOOL on = VARIANT_FALSE;
    EXPECT_EQ(addin->get_Connect(&on), S_OK);
    return on != VARIANT_FALSE;
  }
  static bool outlook_window() { return FindWindowA(kMainWindowClass, nullptr) != nullptr; }
  static ComPtr<_Items> inbox_items(_NameSpace* ns) {
    ComPtr<MAPIFolder> inbox;
    EXPECT_EQ(ns->GetDefaultFolder(olFolderInbox, inbox.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<_Items> items;
    if (inbox) {
      EXPECT_EQ(inbox->get_Items(items.ReleaseAndGetAddressOf()), S_OK);
    }
    return items;
  }
  // The ItemsEvents connection point of a folder's items.
  static ComPtr<IConnectionPoint> items_events(_Items* items) {
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(sx::com::ComPtr<_Items>(items).As<IConnectionPointContainer>()->FindConnectionPoint(
                  ItemsEvents::kIid, point.ReleaseAndGetAddressOf()),
              S_OK);
    return point;
  }

  sx::testing::TempMachine machine_;
  ComPtr<_Application> app_;
};

}  // namespace sx::outlook
