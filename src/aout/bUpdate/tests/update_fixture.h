// A machine with Outlook installed (profile "Outlook"), ScribbixUpdate and the update store
// "SXUpdate.pst" installed in the installation directory as setup puts them, the component
// registered, and a test thread in its own apartment that creates "ScribbixUpdate.Update1" by its
// ProgID as the configuration program does and hands it the namespace of its own logon. The test
// reaches Outlook too, to lay out stores and look at what the component did. Message boxes are
// answered by the scripted host and read back with boxes().
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "comdef.h"
#include "outlook/outlook.h"
#include "scribbixupdate/scribbixupdate.h"
#include "sx/outlook/faults.h"
#include "sx/outlook/install.h"
#include "sx/registry_file.h"
#include "sx/testing/temp_machine.h"
#include "sx/window.h"

namespace sx::update::testing {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

inline constexpr char kInstallDir[] = "C:\\Program Files\\Vorlan\\Scribbix";
inline constexpr char kServerPath[] = "C:\\Program Files\\Vorlan\\Scribbix\\ScribbixUpdate.dll";
inline constexpr char kUpdateStorePath[] = "C:\\Program Files\\Vorlan\\Scribbix\\SXUpdate.pst";

class UpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sx::window::set_host(sx::window::Host::kScripted);
    sx::window::clear_script();
    std::string why;
    ASSERT_TRUE(sx::registry::create_empty_file(&why)) << why;
    sx::outlook::InstallOptions options;
    options.version = "10.0.2627";
    ASSERT_TRUE(sx::outlook::install(options, &why)) << why;
    const std::filesystem::path dir = machine_.c("Program Files\\Vorlan\\Scribbix");
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(SX_SCRIBBIXUPDATE_LIBRARY, dir / "ScribbixUpdate.dll");
    std::filesystem::copy_file(SX_UPDATE_STORE_TEMPLATE, dir / "SXUpdate.pst");
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(sx::com::register_server_module(kServerPath), S_OK);
    component_ = create_component();
    ASSERT_TRUE(component_);
  }
  void TearDown() override {
    sx::outlook::clear_faults();
    component_ = nullptr;
    ns_ = nullptr;
    if (app_) app_->Quit();
    app_ = nullptr;
    CoUninitialize();
    sx::window::clear_script();
  }

  static ComPtr<_Update1> create_component() {
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"ScribbixUpdate.Update1", &clsid), S_OK);
    ComPtr<_Update1> made;
    EXPECT_EQ(
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, _Update1::kIid, made.PutVoid()),
        S_OK);
    return made;
  }

  // The test's own way into Outlook (the same Outlook the component reaches).
  _NameSpace* outlook() {
    if (!ns_) {
      CLSID clsid{};
      EXPECT_EQ(CLSIDFromProgID(u"Outlook.Application", &clsid), S_OK);
      EXPECT_EQ(
          CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, _Application::kIid, app_.PutVoid()),
          S_OK);
      EXPECT_EQ(app_->GetNamespace(Bstr(u"MAPI").get(), ns_.ReleaseAndGetAddressOf()), S_OK);
      Variant profile = Variant::from_utf8("Outlook"), missing;
      EXPECT_EQ(ns_->Logon(profile.get(), missing.get(), missing.get(), missing.get()), S_OK);
    }
    return ns_.Get();
  }
  // SetNameSpace with the test's logon; its result.
  LONG set_namespace() {
    _NameSpace* ns = outlook();
    LONG result = 0x5EED;
    EXPECT_EQ(component_->SetNameSpace(&ns, &result), S_OK);
    return result;
  }

  // The store roots of the profile, by name, in order.
  std::vector<std::string> roots() {
    std::vector<std::string> names;
    ComPtr<_Folders> folders;
    EXPECT_EQ(outlook()->get_Folders(folders.ReleaseAndGetAddressOf()), S_OK);
    LONG n = 0;
    folders->get_Count(&n);
    for (LONG i = 1; i <= n; ++i) names.push_back(name_of(folder_at(folders.Get(), i).Get()));
    return names;
  }
  static ComPtr<MAPIFolder> folder_at(_Folders* folders, LONG i) {
    ComPtr<MAPIFolder> f;
    EXPECT_EQ(folders->Item(Variant::from_i4(i).get(), f.ReleaseAndGetAddressOf()), S_OK);
    return f;
  }
  static std::string name_of(MAPIFolder* folder) {
    Bstr name;
    EXPECT_EQ(folder->get_Name(name.put()), S_OK);
    return name.utf8();
  }
  // The subfolders of `folder`, by name, in order.
  static std::vector<std::string> subfolders(MAPIFolder* folder) {
    std::vector<std::string> names;
    ComPtr<_Folders> folders;
    EXPECT_EQ(folder->get_Folders(folders.ReleaseAndGetAddressOf()), S_OK);
    LONG n = 0;
    folders->get_Count(&n);
    for (LONG i = 1; i <= n; ++i) names.push_back(name_of(folder_at(folders.Get(), i).Get()));
    return names;
  }
  // The store root at 1-based position `i` of the profile.
  ComPtr<MAPIFolder> root_at(LONG i) {
    ComPtr<_Folders> folders;
    EXPECT_EQ(outlook()->get_Folders(folders.ReleaseAndGetAddressOf()), S_OK);
    return folder_at(folders.Get(), i);
  }
  static ComPtr<MAPIFolder> sub(MAPIFolder* folder, const char* name) {
    ComPtr<_Folders> folders;
    EXPECT_EQ(folder->get_Folders(folders.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<MAPIFolder> f;
    EXPECT_EQ(folders->Item(Variant::from_utf8(name).get(), f.ReleaseAndGetAddressOf()), S_OK)
        << name;
    return f;
  }

  // Adds the store file `file` whose root is named `root_name`, with the folders `folders`.
  ComPtr<MAPIFolder> add_store(const char* file, const char* root_name,
                               std::vector<const char*> folders = {}) {
    Variant path = Variant::from_utf8(file);
    EXPECT_EQ(outlook()->AddStore(path.get()), S_OK);
    ComPtr<_Folders> all;
    ns_->get_Folders(all.ReleaseAndGetAddressOf());
    LONG count = 0;
    all->get_Count(&count);
    ComPtr<MAPIFolder> root = folder_at(all.Get(), count);
    EXPECT_EQ(root->put_Name(Bstr::from_utf8(root_name).get()), S_OK);
    ComPtr<_Folders> subs;
    root->get_Folders(subs.ReleaseAndGetAddressOf());
    for (const char* name : folders) {
      ComPtr<MAPIFolder> made;
      EXPECT_EQ(subs->Add(Bstr::from_utf8(name).get(), Variant::from_i4(olPostItem).get(),
                          made.ReleaseAndGetAddressOf()),
                S_OK);
    }
    return root;
  }
  // The notes store "C:\Notes\Vorlan.pst" with its folder "Scribbix".
  ComPtr<MAPIFolder> notes_folder() {
    return sub(add_store("C:\\Notes\\Vorlan.pst", "Vorlan", {"Scribbix"}).Get(), "Scribbix");
  }

  LONG call(HRESULT (STDMETHODCALLTYPE _Update1::*method)(LONG*)) {
    LONG result = 0x5EED;
    EXPECT_EQ((component_.Get()->*method)(&result), S_OK);
    return result;
  }
  LONG call(HRESULT (STDMETHODCALLTYPE _Update1::*method)(VARIANT*, LONG*), const char* text) {
    Variant arg = Variant::from_utf8(text);
    LONG result = 0x5EED;
    EXPECT_EQ((component_.Get()->*method)(&arg.get(), &result), S_OK);
    return result;
  }

  // The message boxes shown so far: their texts, in order; each was a critical stop.
  static std::vector<std::string> boxes() {
    std::vector<std::string> texts;
    for (const sx::window::ShownWindow& w : sx::window::shown()) {
      if (w.kind != sx::window::ShownWindow::Kind::kMessageBox) continue;
      EXPECT_EQ(w.type & MB_ICONMASK, MB_ICONSTOP) << w.text;
      texts.push_back(w.text);
    }
    return texts;
  }

  // Makes the n-th call of kind.operation fail with `hr` and a description naming the call.
  static void fail(const char* kind, const char* operation, int nth = 1,
                   HRESULT hr = static_cast<HRESULT>(0x80040107)) {
    sx::outlook::inject_fault({.kind = kind,
                               .operation = operation,
                               .nth = nth,
                               .hr = hr,
                               .source = "Microsoft Outlook",
                               .description = std::string(kind) + "." + operation + " failed"});
  }

  sx::testing::TempMachine machine_;
  ComPtr<_Update1> component_;
  ComPtr<_Application> app_;
  ComPtr<_NameSpace> ns_;
};

}  // namespace sx::update::testing
