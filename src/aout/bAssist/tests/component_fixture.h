// A machine with Outlook installed (profile "Outlook"), ScribbixOut installed in the installation
// directory and registered, and a test thread in its own apartment that creates the component by
// its ProgID as the conduit does. The test reaches Outlook too, to lay out folders and look at
// what the component wrote.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>

#include "comdef.h"
#include "outlook/outlook.h"
#include "scribbixout/scribbixout.h"
#include "sx/outlook/faults.h"
#include "sx/outlook/install.h"
#include "sx/registry_file.h"
#include "sx/testing/temp_machine.h"

namespace sx::assist::testing {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

inline constexpr char kServerPath[] = "C:\\Program Files\\Vorlan\\Scribbix\\ScribbixOut.dll";

// The nine values of ReadItem, or the nine arguments of NewItem / UpdateItem.
struct Args {
  std::array<Variant, 9> v;
  VARIANT* operator[](std::size_t i) { return &v[i].get(); }
};

class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(sx::registry::create_empty_file(&why)) << why;
    sx::outlook::InstallOptions options;
    options.version = "10.0.2627";
    ASSERT_TRUE(sx::outlook::install(options, &why)) << why;
    std::filesystem::create_directories(machine_.c("Program Files\\Vorlan\\Scribbix"));
    std::filesystem::copy_file(SX_SCRIBBIXOUT_LIBRARY,
                               machine_.c("Program Files\\Vorlan\\Scribbix\\ScribbixOut.dll"));
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(sx::com::register_server_module(kServerPath), S_OK);
    component_ = create_component();
    ASSERT_TRUE(component_);
  }
  void TearDown() override {
    sx::outlook::clear_faults();
    component_ = nullptr;
    items_ = nullptr;
    ns_ = nullptr;
    app_ = nullptr;
    CoUninitialize();
  }

  static ComPtr<_Class1> create_component() {
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"ScribbixOut.Class1", &clsid), S_OK);
    ComPtr<_Class1> made;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, _Class1::kIid, made.PutVoid()),
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

  // Adds a store whose root is named `root_name`, with a folder `folder_name` (none when null).
  ComPtr<MAPIFolder> add_store(const char* file, const char* root_name, const char* folder_name) {
    Variant path = Variant::from_utf8(file);
    EXPECT_EQ(outlook()->AddStore(path.get()), S_OK);
    ComPtr<_Folders> roots;
    ns_->get_Folders(roots.ReleaseAndGetAddressOf());
    LONG count = 0;
    roots->get_Count(&count);
    ComPtr<MAPIFolder> root;
    EXPECT_EQ(roots->Item(Variant::from_i4(count).get(), root.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(root->put_Name(Bstr::from_utf8(root_name).get()), S_OK);
    if (folder_name == nullptr) return root;
    ComPtr<_Folders> folders;
    root->get_Folders(folders.ReleaseAndGetAddressOf());
    ComPtr<MAPIFolder> folder;
    EXPECT_EQ(folders->Add(Bstr::from_utf8(folder_name).get(), Variant::from_i4(olPostItem).get(),
                           folder.ReleaseAndGetAddressOf()),
              S_OK);
    return folder;
  }
  // The notes folder "Vorlan"\"Scribbix" in "C:\Notes\Vorlan.pst"; its items in items_.
  ComPtr<MAPIFolder> notes_folder() {
    ComPtr<MAPIFolder> folder = add_store("C:\\Notes\\Vorlan.pst", "Vorlan", "Scribbix");
    EXPECT_EQ(folder->get_Items(items_.ReleaseAndGetAddressOf()), S_OK);
    return folder;
  }

  LONG call(HRESULT (STDMETHODCALLTYPE _Class1::*method)(LONG*)) {
    LONG result = 0x5EED;
    EXPECT_EQ((component_.Get()->*method)(&result), S_OK);
    return result;
  }
  LONG logon(const char* profile = "Outlook") {
    Variant name = Variant::from_utf8(profile);
    LONG result = 0x5EED;
    EXPECT_EQ(component_->LogonOutlook(&name.get(), &result), S_OK);
    return result;
  }
  // LoadOutlook, LogonOutlook, GetScribbixFolder and BeginItem, each expected to succeed; the
  // count BeginItem gave.
  LONG open_walk() {
    EXPECT_EQ(call(&_Class1::LoadOutlook), 0);
    EXPECT_EQ(logon(), 0);
    EXPECT_EQ(call(&_Class1::GetScribbixFolder), 0);
    const LONG count = call(&_Class1::BeginItem);
    EXPECT_GE(count, 0);
    return count;
  }
  LONG read(Args& a) {
    LONG result = 0x5EED;
    EXPECT_EQ(component_->ReadItem(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], &result),
              S_OK);
    return result;
  }
  // NewItem / UpdateItem with aKey, aDate, aSubject, aBody, aCategory, aContact, aSense, aFlag,
  // aFormat.
  LONG add(Args& a) {
    LONG result = 0x5EED;
    EXPECT_EQ(component_->NewItem(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], &result),
              S_OK);
    return result;
  }
  LONG update(Args& a) {
    LONG result = 0x5EED;
    EXPECT_EQ(component_->UpdateItem(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], &result),
              S_OK);
    return result;
  }
  LONG remove(double key) {
    Variant k = Variant::from_r8(key);
    LONG result = 0x5EED;
    EXPECT_EQ(component_->DeleteItem(&k.get(), &result), S_OK);
    return result;
  }
  // Arguments of a plain note as the conduit gives them when adding.
  static Args note(double key, DATE date, const char* text, const char* subject = "s") {
    Args a;
    a.v = {Variant::from_r8(key),    Variant::from_date(date), Variant::from_utf8(subject),
           Variant::from_utf8(text), Variant::from_utf8(""),   Variant::from_utf8(""),
           Variant::from_i4(0),      Variant::from_i4(0),      Variant::from_i4(olFormatPlain)};
    return a;
  }

  // A post made by hand in the notes folder (class "IPM.Post", no note properties), saved.
  ComPtr<_OutlookItem> hand_made_post(const char* subject, const char* body) {
    ComPtr<IDispatch> d;
    EXPECT_EQ(items_->Add(Variant::from_utf8("IPM.Post").get(), d.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<_OutlookItem> item = d.As<_OutlookItem>();
    item->put_Subject(Bstr::from_utf8(subject).get());
    item->put_Body(Bstr::from_utf8(body).get());
    EXPECT_EQ(item->Save(), S_OK);
    return item;
  }
  // The item at 1-based `position` of the notes folder, read afresh.
  ComPtr<_OutlookItem> item_at(LONG position) {
    ComPtr<_Items> items;
    ComPtr<MAPIFolder> folder;
    ComPtr<IDispatch> d;
    EXPECT_EQ(items_->Item(Variant::from_i4(position).get(), d.ReleaseAndGetAddressOf()), S_OK);
    return d.As<_OutlookItem>();
  }
  static Variant property(_OutlookItem* item, const char* name) {
    ComPtr<UserProperties> props;
    EXPECT_EQ(item->get_UserProperties(props.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<UserProperty> p;
    Variant value;
    if (SUCCEEDED(props->Find(Bstr::from_utf8(name).get(), Variant().get(),
                              p.ReleaseAndGetAddressOf())) &&
        p) {
      p->get_Value(value.put());
    } else {
      value = Variant::from_utf8("(missing)");
    }
    return value;
  }
  static std::string text(_OutlookItem* item,
                          HRESULT (STDMETHODCALLTYPE _OutlookItem::*get)(BSTR*)) {
    Bstr value;
    EXPECT_EQ((item->*get)(value.put()), S_OK);
    return value.utf8();
  }
  LONG count() {
    LONG n = -1;
    EXPECT_EQ(items_->get_Count(&n), S_OK);
    return n;
  }

  sx::testing::TempMachine machine_;
  ComPtr<_Class1> component_;
  ComPtr<_Application> app_;
  ComPtr<_NameSpace> ns_;
  ComPtr<_Items> items_;
};

}  // namespace sx::assist::testing
