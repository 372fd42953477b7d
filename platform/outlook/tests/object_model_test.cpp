// Outlook's object model on a temporary machine: the application, profiles and stores, folders,
// items, filters, user properties, links, events, persistence, apartments and injected faults.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>

#include "outlook/outlook.h"
#include "sx/outlook/faults.h"
#include "sx/outlook/install.h"
#include "sx/outlook/profiles.h"
#include "sx/paths.h"
#include "sx/registry_file.h"
#include "sx/testing/temp_machine.h"
#include "win32/registry.h"
#include "win32/sync.h"

namespace sx::outlook {
namespace {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

// Error information the last call left on this thread: "source|description".
std::string taken_error() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return "(none)";
  Bstr source, description;
  info->GetSource(source.put());
  info->GetDescription(description.put());
  info->Release();
  return source.utf8() + "|" + description.utf8();
}

class EventCounter : public sx::com::ComObject<ItemsEvents> {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP ItemAdd(IDispatch* item) override {
    ++adds;
    Variant subject;
    if (SUCCEEDED(sx::com::get_property(item, u"Subject", subject.put())))
      last_subject = subject.to_utf8();
    return S_OK;
  }
  STDMETHODIMP ItemChange(IDispatch*) override { return ++changes, S_OK; }
  STDMETHODIMP ItemRemove() override { return ++removes, S_OK; }
  int adds = 0, changes = 0, removes = 0;
  std::string last_subject;
};

// Runs `body` on a thread of its own in a single-threaded apartment of its own, and waits on the
// clock for it (so that virtual time can pass for Outlook meanwhile).
void in_other_apartment(const std::function<void()>& body) {
  struct Call {
    const std::function<void()>* body;
  } call{&body};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        CoInitialize(nullptr);
        (*static_cast<Call*>(p)->body)();
        CoUninitialize();
        return 0;
      },
      &call, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

class OutlookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(sx::registry::create_empty_file(&why)) << why;
    InstallOptions options;
    options.version = "10.0.2627";
    ASSERT_TRUE(install(options, &why)) << why;
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    start();
  }
  void TearDown() override {
    clear_faults();
    ns_ = nullptr;
    app_ = nullptr;
    CoUninitialize();
  }
  void start() {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(u"Outlook.Application", &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER,
                               IID_PPV_ARGS(app_.ReleaseAndGetAddressOf())),
              S_OK);
    Bstr mapi(u"MAPI");
    ASSERT_EQ(app_->GetNamespace(mapi.get(), ns_.ReleaseAndGetAddressOf()), S_OK);
    Variant profile = Variant::from_utf8("Outlook"), missing;
    ASSERT_EQ(ns_->Logon(profile.get(), missing.get(), missing.get(), missing.get()), S_OK);
  }
  ComPtr<MAPIFolder> root(LONG index) {
    ComPtr<_Folders> roots;
    EXPECT_EQ(ns_->get_Folders(roots.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<MAPIFolder> f;
    Variant i = Variant::from_i4(index);
    EXPECT_EQ(roots->Item(i.get(), f.ReleaseAndGetAddressOf()), S_OK);
    return f;
  }
  ComPtr<MAPIFolder> sub(MAPIFolder* parent, const char* name) {
    ComPtr<_Folders> folders;
    EXPECT_EQ(parent->get_Folders(folders.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<MAPIFolder> f;
    Variant n = Variant::from_utf8(name);
    EXPECT_EQ(folders->Item(n.get(), f.ReleaseAndGetAddressOf()), S_OK) << name;
    return f;
  }
  // The notes folder layout in a new store "C:\Notes\Vorlan.pst".
  ComPtr<MAPIFolder> notes_folder() {
    Variant path = Variant::from_utf8("C:\\Notes\\Vorlan.pst");
    EXPECT_EQ(ns_->AddStore(path.get()), S_OK);
    ComPtr<_Folders> roots;
    ns_->get_Folders(roots.ReleaseAndGetAddressOf());
    LONG count = 0;
    roots->get_Count(&count);
    ComPtr<MAPIFolder> r = root(count);
    Bstr name(u"Vorlan");
    EXPECT_EQ(r->put_Name(name.get()), S_OK);
    ComPtr<_Folders> folders;
    r->get_Folders(folders.ReleaseAndGetAddressOf());
    ComPtr<MAPIFolder> f;
    Bstr scribbix(u"Scribbix");
    Variant post = Variant::from_i4(olPostItem);
    EXPECT_EQ(folders->Add(scribbix.get(), post.get(), f.ReleaseAndGetAddressOf()), S_OK);
    return f;
  }
  static ComPtr<_Items> items_of(MAPIFolder* f) {
    ComPtr<_Items> items;
    EXPECT_EQ(f->get_Items(items.ReleaseAndGetAddressOf()), S_OK);
    return items;
  }
  static ComPtr<_OutlookItem> add_post(MAPIFolder* f, const char* subject, double key) {
    ComPtr<IDispatch> d;
    Variant cls = Variant::from_utf8("IPM.Post");
    EXPECT_EQ(items_of(f)->Add(cls.get(), d.ReleaseAndGetAddressOf()), S_OK);
    auto item = d.As<_PostItem>();
    Bstr s = Bstr::from_utf8(subject);
    item->put_Subject(s.get());
    ComPtr<UserProperties> props;
    ComPtr<UserProperty> p;
    item->get_UserProperties(props.ReleaseAndGetAddressOf());
    Bstr name(u"ScribKey");
    Variant missing;
    EXPECT_EQ(
        props->Add(name.get(), olNumber, missing.get(), missing.get(), p.ReleaseAndGetAddressOf()),
        S_OK);
    Variant v = Variant::from_r8(key);
    p->put_Value(v.get());
    EXPECT_EQ(item->Save(), S_OK);
    return item;
  }
  static std::string subject_of(IDispatch* d) {
    Variant v;
    EXPECT_EQ(sx::com::get_property(d, u"Subject", v.put()), S_OK);
    return v.to_utf8();
  }
  static std::string find_subject(_Items* items, const char* filter) {
    ComPtr<IDispatch> d;
    Bstr f = Bstr::from_utf8(filter);
    EXPECT_EQ(items->Find(f.get(), d.ReleaseAndGetAddressOf()), S_OK) << filter;
    return d ? subject_of(d.Get()) : "(nothing)";
  }

  sx::testing::TempMachine machine_;
  ComPtr<_Application> app_;
  ComPtr<_NameSpace> ns_;
};

TEST_F(OutlookTest, OneOutlookPerProcessWithTheMachinesVersion) {
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(u"Outlook.Application", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_OutlookApplication);
  ComPtr<_Application> second;
  ASSERT_EQ(
      CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_PPV_ARGS(second.ReleaseAndGetAddressOf())),
      S_OK);
  EXPECT_EQ(second.Get(), app_.Get());  // attached to the running Outlook
  Bstr version;
  ASSERT_EQ(app_->get_Version(version.put()), S_OK);
  EXPECT_EQ(version.utf8(), "10.0.2627");
  EXPECT_EQ(installed_version(), "10.0.2627");
}

TEST_F(OutlookTest, LogonToAnUnknownProfileRaisesAnAutomationError) {
  ASSERT_EQ(ns_->Logoff(), S_OK);
  Variant nobody = Variant::from_utf8("Nobody"), missing;
  EXPECT_EQ(ns_->Logon(nobody.get(), missing.get(), missing.get(), missing.get()),
            MAPI_E_LOGON_FAILED);
  EXPECT_EQ(taken_error(), "Microsoft Outlook|The profile \"Nobody\" does not exist.");
  Variant any_case = Variant::from_utf8("OUTLOOK");
  EXPECT_EQ(ns_->Logon(any_case.get(), missing.get(), missing.get(), missing.get()), S_OK);
  Bstr name;
  ns_->get_CurrentProfileName(name.put());
  EXPECT_EQ(name.utf8(), "Outlook");
}

TEST_F(OutlookTest, AddedStoreStaysInTheProfileUntilRemoved) {
  Variant path = Variant::from_utf8("C:\\Notes\\Extra.pst");
  ASSERT_EQ(ns_->AddStore(path.get()), S_OK);
  ASSERT_EQ(ns_->AddStore(path.get()), S_OK);  // not added twice
  ASSERT_TRUE(std::filesystem::exists(machine_.c("Notes/Extra.pst")));
  ASSERT_EQ(ns_->Logoff(), S_OK);
  Variant missing;
  ASSERT_EQ(ns_->Logon(missing.get(), missing.get(), missing.get(), missing.get()),
            S_OK);  // default profile
  ComPtr<_Folders> roots;
  ns_->get_Folders(roots.ReleaseAndGetAddressOf());
  LONG count = 0;
  roots->get_Count(&count);
  ASSERT_EQ(count, 2);
  ASSERT_EQ(ns_->RemoveStore(root(2).Get()), S_OK);
  roots->get_Count(&count);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(profiles::stores("Outlook").size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(machine_.c("Notes/Extra.pst")));  // the file stays
  ComPtr<MAPIFolder> contacts;
  ASSERT_EQ(ns_->GetDefaultFolder(olFolderContacts, contacts.ReleaseAndGetAddressOf()), S_OK);
  Bstr name;
  contacts->get_Name(name.put());
  EXPECT_EQ(name.utf8(), "Contacts");
}

// The profile's store list is rewritten in place, so that a process killed while writing it never
// leaves the profile without its stores; a list left with a store named twice reads once.
TEST_F(OutlookTest, TheStoreListIsRewrittenInPlaceAndAHalfWrittenOneReadsWhole) {
  const std::vector<std::string> first = profiles::stores("Outlook");
  ASSERT_EQ(first.size(), 1u);
  auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), first.front());
    return more;
  };
  ASSERT_TRUE(profiles::set_stores("Outlook", with({"C:\\A.pst", "C:\\B.pst"})));
  ASSERT_TRUE(profiles::set_stores("Outlook", with({"C:\\B.pst"})));
  EXPECT_EQ(profiles::stores("Outlook"), with({"C:\\B.pst"}));
  HKEY key = nullptr;
  const std::string stores_key = std::string(profiles::kProfilesKey) + "\\Outlook\\Stores";
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, stores_key.c_str(), 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  char value[MAX_PATH];
  DWORD size = sizeof value;
  EXPECT_EQ(
      RegQueryValueExA(key, "Store3", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
      ERROR_FILE_NOT_FOUND);
  // A writer stopped after moving "B" down and before taking its old place out.
  const char b[] = "c:\\b.pst";
  ASSERT_EQ(RegSetValueExA(key, "Store3", 0, REG_SZ, reinterpret_cast<const BYTE*>(b), sizeof b),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(profiles::stores("Outlook"), with({"C:\\B.pst"}));
}

TEST_F(OutlookTest, FoldersWalkByIndexAndNameAndStopAtTheEnd) {
  ComPtr<MAPIFolder> personal = root(1);
  ComPtr<_Folders> folders;
  personal->get_Folders(folders.ReleaseAndGetAddressOf());
  ComPtr<MAPIFolder> f;
  std::vector<std::string> names;
  ASSERT_EQ(folders->GetFirst(f.ReleaseAndGetAddressOf()), S_OK);
  while (f) {
    Bstr n;
    f->get_Name(n.put());
    names.push_back(n.utf8());
    ASSERT_EQ(folders->GetNext(f.ReleaseAndGetAddressOf()), S_OK);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Inbox", "Contacts"}));
  ASSERT_EQ(folders->GetNext(f.ReleaseAndGetAddressOf()), S_OK);  // still nothing past the end
  EXPECT_FALSE(f);
  Variant lower = Variant::from_utf8("contacts"), absent = Variant::from_utf8("Nope"),
          zero = Variant::from_i4(0);
  EXPECT_EQ(folders->Item(lower.get(), f.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(folders->Item(absent.get(), f.ReleaseAndGetAddressOf()), MAPI_E_NOT_FOUND);
  EXPECT_EQ(taken_error(), "Microsoft Outlook|The operation failed. An object could not be found.");
  EXPECT_EQ(folders->Item(zero.get(), f.ReleaseAndGetAddressOf()), DISP_E_BADINDEX);
  ComPtr<IDispatch> parent;
  ASSERT_EQ(personal->get_Parent(parent.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_TRUE(parent.As<_NameSpace>());  // a store root's parent is not a folder
  EXPECT_FALSE(parent.As<MAPIFolder>());
}

TEST_F(OutlookTest, FindAndRestrictWithAndQuotesAndNumbers) {
  ComPtr<MAPIFolder> notes = notes_folder();
  add_post(notes.Get(), "one", 11);
  add_post(notes.Get(), "two", 12);
  add_post(notes.Get(), "three", 12);
  auto items = items_of(notes.Get());
  EXPECT_EQ(find_subject(items.Get(), "[ScribKey] = 12"), "two");
  ComPtr<IDispatch> d;
  ASSERT_EQ(items->FindNext(d.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(subject_of(d.Get()), "three");
  EXPECT_EQ(find_subject(items.Get(), "[ScribKey] = 99"), "(nothing)");
  EXPECT_EQ(find_subject(items.Get(), "[ScribKey] = 11 AND [Subject] = \"ONE\""), "one");
  Bstr bad(u"[ScribKey] == 1");
  EXPECT_EQ(items->Find(bad.get(), d.ReleaseAndGetAddressOf()), E_INVALIDARG);

  ComPtr<_Items> twelve;
  Bstr filter(u"[ScribKey] = 12");
  ASSERT_EQ(items->Restrict(filter.get(), twelve.ReleaseAndGetAddressOf()), S_OK);
  LONG count = 0;
  twelve->get_Count(&count);
  EXPECT_EQ(count, 2);

  // Contacts by last and first name, as the notes component looks them up.
  for (auto [last, first] :
       {std::pair{"Doe", "Jo"}, std::pair{"Doe", "Al"}, std::pair{"O\"Brien", ""}}) {
    ComPtr<IDispatch> c;
    ASSERT_EQ(app_->CreateItem(olContactItem, c.ReleaseAndGetAddressOf()), S_OK);
    auto contact = c.As<_ContactItem>();
    Bstr l = Bstr::from_utf8(last), f = Bstr::from_utf8(first);
    contact->put_LastName(l.get());
    contact->put_FirstName(f.get());
    ASSERT_EQ(contact->Save(), S_OK);
  }
  ComPtr<MAPIFolder> contacts;
  ASSERT_EQ(ns_->GetDefaultFolder(olFolderContacts, contacts.ReleaseAndGetAddressOf()), S_OK);
  auto people = items_of(contacts.Get());
  ComPtr<_Items> jo;
  Bstr both(uR"([LastName] = "Doe" AND [FirstName] = "Al")");
  ASSERT_EQ(people->Restrict(both.get(), jo.ReleaseAndGetAddressOf()), S_OK);
  jo->get_Count(&count);
  ASSERT_EQ(count, 1);
  ASSERT_EQ(jo->GetFirst(d.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(subject_of(d.Get()), "Al Doe");
  EXPECT_EQ(find_subject(people.Get(), R"([LastName] = "O""Brien")"), "O\"Brien");
}

TEST_F(OutlookTest, UserPropertiesKeepTheirTypesAcrossSaving) {
  ComPtr<MAPIFolder> notes = notes_folder();
  auto item = add_post(notes.Get(), "typed", 5);
  ComPtr<UserProperties> props;
  item->get_UserProperties(props.ReleaseAndGetAddressOf());
  Variant missing;
  struct Case {
    const char16_t* name;
    LONG type;
    Variant in;
  } cases[] = {{u"EntryDate", olDateTime, Variant::from_date(36955.6041666667)},
               {u"Archived", olYesNo, Variant::from_i4(1)},
               {u"Day", olText, Variant::from_utf8("2001/03/05")},
               {u"Count", olNumber, Variant::from_i4(7)}};
  for (auto& c : cases) {
    ComPtr<UserProperty> p;
    Bstr name(c.name);
    ASSERT_EQ(
        props->Add(name.get(), c.type, missing.get(), missing.get(), p.ReleaseAndGetAddressOf()),
        S_OK);
    ASSERT_EQ(p->put_Value(c.in.get()), S_OK);
  }
  ComPtr<UserProperty> number;
  Bstr count_name(u"Count");
  ASSERT_EQ(props->Find(count_name.get(), missing.get(), number.ReleaseAndGetAddressOf()), S_OK);
  Variant not_a_number = Variant::from_utf8("seven");
  EXPECT_EQ(number->put_Value(not_a_number.get()), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(item->Close(olSave), S_OK);

  auto again = items_of(notes.Get());
  ComPtr<IDispatch> d;
  ASSERT_EQ(again->GetFirst(d.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<UserProperties> read;
  d.As<_OutlookItem>()->get_UserProperties(read.ReleaseAndGetAddressOf());
  LONG count = 0;
  read->get_Count(&count);
  EXPECT_EQ(count, 5);
  auto value = [&](const char16_t* name) {
    ComPtr<UserProperty> p;
    Bstr n(name);
    EXPECT_EQ(read->Find(n.get(), missing.get(), p.ReleaseAndGetAddressOf()), S_OK);
    Variant v;
    if (p) p->get_Value(v.put());
    return v;
  };
  Variant key = value(u"ScribKey"), entry = value(u"EntryDate"), archived = value(u"Archived"),
          day = value(u"Day"), seven = value(u"Count");
  EXPECT_EQ(key.vt(), VT_R8);
  EXPECT_EQ(key.get().dblVal, 5.0);
  EXPECT_EQ(seven.vt(), VT_R8);  // a number reads back as a double
  EXPECT_EQ(seven.get().dblVal, 7.0);
  EXPECT_EQ(entry.vt(), VT_DATE);
  EXPECT_DOUBLE_EQ(entry.get().date, 36955.6041666667);
  EXPECT_EQ(archived.vt(), VT_BOOL);
  EXPECT_EQ(archived.get().boolVal, VARIANT_TRUE);
  EXPECT_EQ(day.to_utf8(), "2001/03/05");
  ComPtr<UserProperty> absent;
  Bstr nope(u"Nope");
  EXPECT_EQ(read->Find(nope.get(), missing.get(), absent.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_FALSE(absent);
  ComPtr<UserProperty> clash;
  Bstr day_name(u"Day");
  EXPECT_EQ(read->Add(day_name.get(), olNumber, missing.get(), missing.get(),
                      clash.ReleaseAndGetAddressOf()),
            E_INVALIDARG);
}

TEST_F(OutlookTest, CopiesAndMovesRaiseEventsOnTheFoldersWatched) {
  ComPtr<MAPIFolder> notes = notes_folder();
  ComPtr<MAPIFolder> inbox = sub(root(1).Get(), "Inbox");
  auto counter_notes = sx::com::make_object<EventCounter>();
  auto counter_inbox = sx::com::make_object<EventCounter>();
  DWORD cookie_notes = 0, cookie_inbox = 0;
  for (auto [folder, counter, cookie] :
       {std::tuple{notes.Get(), counter_notes.Get(), &cookie_notes},
        std::tuple{inbox.Get(), counter_inbox.Get(), &cookie_inbox}}) {
    auto container = items_of(folder).As<IConnectionPointContainer>();
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(ItemsEvents::kIid, point.ReleaseAndGetAddressOf()),
              S_OK);
    ASSERT_EQ(point->Advise(static_cast<ItemsEvents*>(counter), cookie), S_OK);
  }
  auto original = add_post(notes.Get(), "original", 1);
  EXPECT_EQ(counter_notes->adds, 1);
  EXPECT_EQ(counter_notes->last_subject, "original");  // raised after the item was saved
  ASSERT_EQ(original->Save(), S_OK);
  EXPECT_EQ(counter_notes->changes, 1);

  ComPtr<IDispatch> copy, moved;
  ASSERT_EQ(original->Copy(copy.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(counter_notes->adds, 2);
  Bstr changed(u"moved copy");
  copy.As<_OutlookItem>()->put_Subject(changed.get());
  ASSERT_EQ(copy.As<_OutlookItem>()->Move(inbox.Get(), moved.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(counter_notes->removes, 1);
  EXPECT_EQ(counter_inbox->adds, 1);
  EXPECT_EQ(counter_inbox->last_subject, "moved copy");
  EXPECT_EQ(copy.As<_OutlookItem>()->Close(olDiscard), S_OK);  // the pre-move copy may be closed
  EXPECT_EQ(copy.As<_OutlookItem>()->Save(), MAPI_E_OBJECT_DELETED);
  LONG count = 0;
  items_of(notes.Get())->get_Count(&count);
  EXPECT_EQ(count, 1);
  items_of(inbox.Get())->get_Count(&count);
  EXPECT_EQ(count, 1);

  auto container = items_of(notes.Get()).As<IConnectionPointContainer>();
  ComPtr<IConnectionPoint> point;
  container->FindConnectionPoint(ItemsEvents::kIid, point.ReleaseAndGetAddressOf());
  ASSERT_EQ(point->Unadvise(cookie_notes), S_OK);
  EXPECT_EQ(point->Unadvise(cookie_notes), CONNECT_E_NOCONNECTION);
  add_post(notes.Get(), "unheard", 2);
  EXPECT_EQ(counter_notes->adds, 2);
}

TEST_F(OutlookTest, TemplateStoreFolderCopiesWithItsItems) {
  ASSERT_TRUE(std::filesystem::exists(SX_UPDATE_STORE_TEMPLATE));
  std::filesystem::create_directories(machine_.c("Vorlan"));
  std::filesystem::copy_file(SX_UPDATE_STORE_TEMPLATE, machine_.c("Vorlan/SXUpdate.pst"));
  Variant path = Variant::from_utf8("C:\\Vorlan\\SXUpdate.pst");
  ASSERT_EQ(ns_->AddStore(path.get()), S_OK);
  ComPtr<MAPIFolder> update_root = root(2);
  Bstr name;
  update_root->get_Name(name.put());
  EXPECT_EQ(name.utf8(), "VorlanSXUpdate");
  ComPtr<MAPIFolder> sxupdate = sub(update_root.Get(), "SXUpdate");
  Bstr cls;
  sxupdate->get_DefaultMessageClass(cls.put());
  EXPECT_EQ(cls.utf8(), "IPM.Post.ScribbixPost2");
  add_post(sxupdate.Get(), "carried", 3);

  ComPtr<MAPIFolder> notes = notes_folder();
  ComPtr<MAPIFolder> notes_root = root(3);
  ComPtr<MAPIFolder> copy;
  ASSERT_EQ(sxupdate->CopyTo(notes_root.Get(), copy.ReleaseAndGetAddressOf()), S_OK);
  copy->get_Name(name.put());
  EXPECT_EQ(name.utf8(), "SXUpdate");
  copy->get_DefaultMessageClass(cls.put());
  EXPECT_EQ(cls.utf8(), "IPM.Post.ScribbixPost2");
  auto items = items_of(copy.Get());
  EXPECT_EQ(find_subject(items.Get(), "[ScribKey] = 3"), "carried");
  ComPtr<_Folders> siblings;
  notes_root->get_Folders(siblings.ReleaseAndGetAddressOf());
  LONG count = 0;
  siblings->get_Count(&count);
  EXPECT_EQ(count, 2);  // Scribbix and the copy
}

TEST_F(OutlookTest, SavedItemsOutliveARestartOfOutlook) {
  auto notes = notes_folder();
  auto item = add_post(notes.Get(), "kept", 77);
  Bstr body(u"line one\r\nline two");
  item->put_Body(body.get());
  item->put_Sensitivity(olPrivate);
  ASSERT_EQ(item->Close(olSave), S_OK);
  item = nullptr;
  notes = nullptr;
  ns_ = nullptr;
  app_ = nullptr;  // the last reference: Outlook ends
  start();
  ComPtr<MAPIFolder> again = sub(root(2).Get(), "Scribbix");
  ComPtr<IDispatch> d;
  ASSERT_EQ(items_of(again.Get())->GetFirst(d.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_TRUE(d);
  EXPECT_EQ(subject_of(d.Get()), "kept");
  Variant b, s;
  sx::com::get_property(d.Get(), u"Body", b.put());
  sx::com::get_property(d.Get(), u"Sensitivity", s.put());
  EXPECT_EQ(b.to_utf8(), "line one\r\nline two");
  EXPECT_EQ(s.to_i4(), olPrivate);
}

TEST_F(OutlookTest, AnotherProcessSeesSavedPostsAtItsNextRead) {
  auto notes = notes_folder();
  auto items = items_of(notes.Get());
  LONG count = 0;
  items->get_Count(&count);
  ASSERT_EQ(count, 0);
  const std::string tool = std::string(SXFOLDERS_PATH) + " --machine " + machine_.root().string();
  ASSERT_EQ(
      std::system(
          (tool +
           " add-post 'Vorlan\\Scribbix' --subject 'from afar' --prop ScribKey:number=9 >/dev/null")
              .c_str()),
      0);
  items->get_Count(&count);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(find_subject(items.Get(), "[ScribKey] = 9"), "from afar");

  add_post(notes.Get(), "from here", 10);
  FILE* out = popen((tool + " items Vorlan/Scribbix").c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string text;
  char buf[512];
  while (std::fgets(buf, sizeof buf, out)) text += buf;
  EXPECT_EQ(pclose(out), 0);
  EXPECT_NE(text.find("from here"), std::string::npos) << text;
  EXPECT_NE(text.find("user ScribKey          10 (type 3)"), std::string::npos) << text;
}

// Runs sxfolders on this machine; its exit code and what it printed (stdout and stderr).
std::pair<int, std::string> sxfolders(const std::filesystem::path& root, const std::string& args) {
  FILE* out =
      popen((std::string(SXFOLDERS_PATH) + " --machine '" + root.string() + "' " + args + " 2>&1")
                .c_str(),
            "r");
  std::string text;
  char buf[512];
  while (out != nullptr && std::fgets(buf, sizeof buf, out)) text += buf;
  const int status = out != nullptr ? pclose(out) : -1;
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

TEST_F(OutlookTest, ADamagedStoreIsRefusedInOutlooksWordsUntilRepaired) {
  auto notes = notes_folder();
  add_post(notes.Get(), "one", 1);
  const auto file = sx::paths::to_host("C:\\Notes\\Vorlan.pst");
  const auto before = std::filesystem::file_size(file);
  add_post(notes.Get(), "two", 2);
  const auto after = std::filesystem::file_size(file);
  add_post(notes.Get(), "three", 3);
  std::string bytes;
  {
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  bytes[before + 30] ^= 0x5A;  // inside the record of "two"
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  const std::string where = std::to_string(after - before) + " bytes at offset " +
                            std::to_string(before) + " cannot be read (checksum mismatch)";

  // Outlook started again refuses the profile as it logs on (a running one has its items already).
  ASSERT_EQ(ns_->Logoff(), S_OK);
  Variant profile = Variant::from_utf8("Outlook"), missing;
  EXPECT_EQ(ns_->Logon(profile.get(), missing.get(), missing.get(), missing.get()),
            MAPI_E_CORRUPT_DATA);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.ReleaseAndGetAddressOf()), S_OK);
  Bstr description;
  info->GetDescription(description.put());
  EXPECT_NE(description.utf8().find("Errors have been detected in the file"), std::string::npos);
  EXPECT_NE(description.utf8().find(where), std::string::npos) << description.utf8();

  auto [code, text] = sxfolders(machine_.root(), "check");
  EXPECT_EQ(code, 1);
  EXPECT_NE(text.find("C:\\Notes\\Vorlan.pst: damaged: " + where), std::string::npos) << text;
  std::tie(code, text) = sxfolders(machine_.root(), "items Vorlan/Scribbix");
  EXPECT_EQ(code, 1);
  EXPECT_NE(text.find(where), std::string::npos) << text;
  EXPECT_NE(text.find("\"sxfolders repair FILE\" repairs the file."), std::string::npos) << text;
  std::tie(code, text) = sxfolders(machine_.root(), "repair 'C:\\Notes\\Vorlan.pst'");
  EXPECT_EQ(code, 0) << text;
  EXPECT_NE(text.find("The damaged file is kept as " + file.string() + ".damaged-1"),
            std::string::npos)
      << text;

  ASSERT_EQ(ns_->Logon(profile.get(), missing.get(), missing.get(), missing.get()), S_OK);
  notes = sub(root(2).Get(), "Scribbix");
  ComPtr<_Items> items = items_of(notes.Get());
  LONG count = 0;
  ASSERT_EQ(items->get_Count(&count), S_OK);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(sxfolders(machine_.root(), "check").first, 0);
}

// A store file cut short (at 60% of its length, as `truncate -s 60%` leaves it) is damage for the
// folders tool, for Outlook's logon and for every read, until repair keeps what can be read.
TEST_F(OutlookTest, AStoreCutShortIsDamagedForCheckLogonAndReadsUntilRepaired) {
  auto notes = notes_folder();
  for (int i = 1; i <= 8; ++i) add_post(notes.Get(), ("post " + std::to_string(i)).c_str(), i);
  const auto file = sx::paths::to_host("C:\\Notes\\Vorlan.pst");
  const auto whole = std::filesystem::file_size(file);
  std::filesystem::resize_file(file, whole * 6 / 10);

  // A running Outlook sees the file change and refuses it at its next read.
  ComPtr<_Items> read;
  EXPECT_EQ(notes->get_Items(read.ReleaseAndGetAddressOf()), MAPI_E_CORRUPT_DATA);
  auto [code, text] = sxfolders(machine_.root(), "check");
  EXPECT_EQ(code, 1);
  EXPECT_NE(text.find("C:\\Notes\\Vorlan.pst: damaged: "), std::string::npos) << text;
  EXPECT_NE(text.find("(the file ends there, before the end it recorded)"), std::string::npos)
      << text;
  ASSERT_EQ(ns_->Logoff(), S_OK);
  Variant profile = Variant::from_utf8("Outlook"), missing;
  EXPECT_EQ(ns_->Logon(profile.get(), missing.get(), missing.get(), missing.get()),
            MAPI_E_CORRUPT_DATA);

  std::tie(code, text) = sxfolders(machine_.root(), "repair 'C:\\Notes\\Vorlan.pst'");
  EXPECT_EQ(code, 0) << text;
  EXPECT_EQ(std::filesystem::file_size(file.string() + ".damaged-1"), whole * 6 / 10);
  ASSERT_EQ(ns_->Logon(profile.get(), missing.get(), missing.get(), missing.get()), S_OK);
  notes = sub(root(2).Get(), "Scribbix");
  ComPtr<_Items> items = items_of(notes.Get());
  LONG count = 0;
  ASSERT_EQ(items->get_Count(&count), S_OK);
  EXPECT_GT(count, 0);
  EXPECT_LT(count, 8);
  EXPECT_EQ(sxfolders(machine_.root(), "check").first, 0);
}

TEST_F(OutlookTest, TheFoldersToolRefusesMistakesInWords) {
  auto notes = notes_folder();
  add_post(notes.Get(), "one", 1);
  struct Case {
    std::string args, message;
  };
  for (const Case& c : std::vector<Case>{
           {"set Vorlan/Scribbix 5 --subject x",
            "ERROR: There is no item 5 in Vorlan/Scribbix: it holds 1 item.\n"},
           {"delete Vorlan/Scribbix 0", "ERROR: N: \"0\" is not a whole number from 1 to"},
           {"set Vorlan/Scribbix 1 --sensitivity x",
            "ERROR: --sensitivity: \"x\" is not one of: normal, personal, private, confidential"},
           {"set Vorlan/Scribbix 1 --prop Flag:yesno=maybe",
            "ERROR: --prop: \"maybe\" is not yes, no, true, false, 1 or 0.\n"},
           {"set Vorlan/Scribbix 1 --prop Count:number=ten",
            "ERROR: --prop: \"ten\" is not a number.\n"},
           {"items Nowhere", "ERROR: There is no folder \"Nowhere\" at the top of the profile's"},
           {"add-store 'C:\\bad|name.pst'",
            "ERROR: Cannot add the store: The path C:\\bad|name.pst is not valid.\n"},
           {"add-contact", "ERROR: sxfolders add-contact needs --last."}}) {
    auto [code, text] = sxfolders(machine_.root(), c.args);
    EXPECT_EQ(code, 1) << c.args;  // under LeakSanitizer a leak would change the exit code
    EXPECT_EQ(text.substr(0, c.message.size()), c.message) << text;
  }
  auto [code, text] = sxfolders(machine_.root(), "items Vorlan/Scribbix");
  EXPECT_EQ(code, 0);
  EXPECT_NE(text.find("Sensitivity            0"), std::string::npos) << text;  // unchanged
}

TEST_F(OutlookTest, ContactsAreLinkedAndFoundThroughTheLink) {
  ComPtr<IDispatch> c;
  ASSERT_EQ(app_->CreateItem(olContactItem, c.ReleaseAndGetAddressOf()), S_OK);
  auto contact = c.As<_ContactItem>();
  ASSERT_TRUE(contact);
  EXPECT_FALSE(c.As<_PostItem>());
  Bstr last(u"Doe"), first(u"Jo"), company(u"Acme");
  contact->put_LastName(last.get());
  contact->put_FirstName(first.get());
  contact->put_CompanyName(company.get());
  ASSERT_EQ(contact->Save(), S_OK);

  auto notes = notes_folder();
  auto post = add_post(notes.Get(), "with contact", 1);
  ComPtr<Links> links;
  post->get_Links(links.ReleaseAndGetAddressOf());
  ComPtr<Link> link;
  ASSERT_EQ(links->Add(c.Get(), link.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(post->Save(), S_OK);

  ComPtr<IDispatch> d;
  items_of(notes.Get())->GetFirst(d.ReleaseAndGetAddressOf());
  d.As<_OutlookItem>()->get_Links(links.ReleaseAndGetAddressOf());
  LONG count = 0;
  links->get_Count(&count);
  ASSERT_EQ(count, 1);
  Variant one = Variant::from_i4(1);
  ASSERT_EQ(links->Item(one.get(), link.ReleaseAndGetAddressOf()), S_OK);
  Bstr name;
  link->get_Name(name.put());
  EXPECT_EQ(name.utf8(), "Jo Doe");
  ComPtr<IDispatch> linked;
  ASSERT_EQ(link->get_Item(linked.ReleaseAndGetAddressOf()), S_OK);
  Bstr got;
  linked.As<_ContactItem>()->get_CompanyName(got.put());
  EXPECT_EQ(got.utf8(), "Acme");
  ASSERT_EQ(links->Remove(one.get()), S_OK);
  links->get_Count(&count);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(links->Remove(one.get()), DISP_E_BADINDEX);
}

TEST_F(OutlookTest, LateBindingReadsAndWritesItemPropertiesByName) {
  auto notes = notes_folder();
  auto item = add_post(notes.Get(), "late", 1);
  DATE typed = 0;
  ASSERT_EQ(item->get_CreationTime(&typed), S_OK);
  EXPECT_NE(typed, kOutlookNoDate);
  DISPID id = 0;
  ASSERT_EQ(sx::com::dispid_of(item.Get(), u"creationtime", &id), S_OK);
  Variant created;
  ASSERT_EQ(sx::com::get_property(item.Get(), u"CreationTime", created.put()), S_OK);
  EXPECT_EQ(created.vt(), VT_DATE);
  EXPECT_EQ(created.get().date, typed);
  Variant subject = Variant::from_utf8("renamed");
  ASSERT_EQ(sx::com::put_property(item.Get(), u"Subject", subject.get()), S_OK);
  EXPECT_EQ(subject_of(item.Get()), "renamed");
  EXPECT_EQ(sx::com::dispid_of(item.Get(), u"NoSuchMember", &id), DISP_E_UNKNOWNNAME);
  // A new item has no times yet.
  ComPtr<IDispatch> fresh;
  Variant none;
  items_of(notes.Get())->Add(none.get(), fresh.ReleaseAndGetAddressOf());
  ASSERT_EQ(sx::com::get_property(fresh.Get(), u"CreationTime", created.put()), S_OK);
  EXPECT_EQ(created.get().date, kOutlookNoDate);
  Variant cls;
  sx::com::get_property(fresh.Get(), u"MessageClass", cls.put());
  EXPECT_EQ(cls.to_utf8(), "IPM.Post");  // the folder's default item type
}

TEST_F(OutlookTest, ProxyUsedFromAnotherApartmentFailsWithWrongThreadButItsOwnCreationWorks) {
  auto notes = notes_folder();
  auto items = items_of(notes.Get());
  HRESULT from_other = S_OK, attached_call = E_FAIL, created = E_FAIL;
  LONG count = 0xCC;
  std::string version_there;
  in_other_apartment([&] {
    // This test's proxy belongs to the test's apartment...
    from_other = items->get_Count(&count);
    // ... while a creation here attaches to the running Outlook and works.
    ComPtr<_Application> app;
    created = CoCreateInstance(CLSID_OutlookApplication, nullptr, CLSCTX_LOCAL_SERVER,
                               IID_PPV_ARGS(app.ReleaseAndGetAddressOf()));
    Bstr version;
    if (app) attached_call = app->get_Version(version.put());
    version_there = version.utf8();
  });
  EXPECT_EQ(from_other, RPC_E_WRONG_THREAD);
  EXPECT_EQ(count, 0xCC);  // untouched
  EXPECT_EQ(created, S_OK);
  EXPECT_EQ(attached_call, S_OK);
  EXPECT_EQ(version_there, "10.0.2627");
  EXPECT_EQ(items->get_Count(&count), S_OK);
}

TEST_F(OutlookTest, InjectedFaultsReachTheCallerWithSourceAndDescription) {
  auto notes = notes_folder();
  auto items = items_of(notes.Get());
  const int id = inject_fault({.kind = "Items",
                               .operation = "Add",
                               .nth = 2,
                               .hr = E_OUTOFMEMORY,
                               .source = "Outlook Stand-in",
                               .description = "Out of disk space."});
  Variant post = Variant::from_utf8("IPM.Post");
  ComPtr<IDispatch> d;
  EXPECT_EQ(items->Add(post.get(), d.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(items->Add(post.get(), d.ReleaseAndGetAddressOf()), E_OUTOFMEMORY);
  EXPECT_EQ(taken_error(), "Outlook Stand-in|Out of disk space.");
  EXPECT_EQ(items->Add(post.get(), d.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(fault_calls(id), 3);

  // One object only, every call; other items are not touched.
  auto victim = add_post(notes.Get(), "victim", 1);
  auto bystander = add_post(notes.Get(), "bystander", 2);
  ComPtr<IUnknown> identity = victim.As<IUnknown>();
  inject_fault({.kind = "",
                .operation = "Save",
                .object = identity.Get(),
                .times = 0,
                .hr = E_FAIL,
                .description = "Saving failed."});
  EXPECT_EQ(victim->Save(), E_FAIL);
  EXPECT_EQ(taken_error(), "Microsoft Outlook|Saving failed.");
  EXPECT_EQ(victim->Save(), E_FAIL);
  EXPECT_EQ(bystander->Save(), S_OK);

  // Through late binding: the automation error arrives as DISP_E_EXCEPTION's code and texts.
  inject_fault({.kind = "PostItem",
                .operation = "CreationTime",
                .hr = static_cast<HRESULT>(0x80040107u),
                .description = "The property is unavailable."});
  Variant created;
  EXPECT_EQ(sx::com::get_property(bystander.Get(), u"CreationTime", created.put()),
            static_cast<HRESULT>(0x80040107u));
  EXPECT_EQ(taken_error(), "Microsoft Outlook|The property is unavailable.");
}

TEST_F(OutlookTest, DiscardedChangesAreNotSavedAndTheWalkEndsForGood) {
  auto notes = notes_folder();
  auto item = add_post(notes.Get(), "saved subject", 1);
  Bstr changed(u"unsaved subject");
  item->put_Subject(changed.get());
  VARIANT_BOOL saved = 0x7777;
  ASSERT_EQ(item->get_Saved(&saved), S_OK);
  EXPECT_EQ(saved, VARIANT_FALSE);
  ASSERT_EQ(item->Close(olDiscard), S_OK);
  EXPECT_EQ(subject_of(item.Get()), "saved subject");
  EXPECT_EQ(item->Close(7), E_INVALIDARG);

  auto items = items_of(notes.Get());
  ComPtr<IDispatch> d;
  ASSERT_EQ(items->GetFirst(d.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(subject_of(d.Get()), "saved subject");
  ASSERT_EQ(items->GetNext(d.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_FALSE(d);
  add_post(notes.Get(), "added after the end", 2);
  ASSERT_EQ(items->GetNext(d.ReleaseAndGetAddressOf()), S_OK);  // a finished walk stays finished
  EXPECT_FALSE(d);
}

TEST_F(OutlookTest, RemovingItemsAndFoldersByIndex) {
  auto notes = notes_folder();
  auto counter = sx::com::make_object<EventCounter>();
  auto items = items_of(notes.Get());
  ComPtr<IConnectionPoint> point;
  items.As<IConnectionPointContainer>()->FindConnectionPoint(ItemsEvents::kIid,
                                                             point.ReleaseAndGetAddressOf());
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(static_cast<ItemsEvents*>(counter.Get()), &cookie), S_OK);
  for (int i = 1; i <= 3; ++i) add_post(notes.Get(), ("post " + std::to_string(i)).c_str(), i);
  ASSERT_EQ(items->Remove(2), S_OK);
  EXPECT_EQ(counter->removes, 1);
  EXPECT_EQ(items->Remove(3), DISP_E_BADINDEX);
  EXPECT_EQ(taken_error(), "Microsoft Outlook|Array index out of bounds.");
  ComPtr<IDispatch> d;
  Variant two = Variant::from_i4(2);
  ASSERT_EQ(items->Item(two.get(), d.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(subject_of(d.Get()), "post 3");
  point->Unadvise(cookie);

  ComPtr<_Folders> folders;
  root(2)->get_Folders(folders.ReleaseAndGetAddressOf());
  Bstr same(u"SCRIBBIX");
  Variant missing;
  ComPtr<MAPIFolder> f;
  EXPECT_EQ(folders->Add(same.get(), missing.get(), f.ReleaseAndGetAddressOf()), E_FAIL);
  ASSERT_EQ(folders->Remove(1), S_OK);
  LONG count = 7;
  folders->get_Count(&count);
  EXPECT_EQ(count, 0);
  Bstr name;
  EXPECT_EQ(notes->get_Name(name.put()), MAPI_E_OBJECT_DELETED);  // the old folder object is stale
}

TEST_F(OutlookTest, RenamedStoreRootIsKeptAcrossLogons) {
  notes_folder();  // renames the new store's root to "Vorlan"
  ASSERT_EQ(ns_->Logoff(), S_OK);
  Variant missing;
  ASSERT_EQ(ns_->Logon(missing.get(), missing.get(), missing.get(), missing.get()), S_OK);
  Bstr name;
  root(2)->get_Name(name.put());
  EXPECT_EQ(name.utf8(), "Vorlan");
  Bstr inbox;
  ComPtr<MAPIFolder> f;
  ASSERT_EQ(ns_->GetDefaultFolder(olFolderInbox, f.ReleaseAndGetAddressOf()), S_OK);
  f->get_Name(inbox.put());
  EXPECT_EQ(inbox.utf8(), "Inbox");
  EXPECT_EQ(ns_->GetDefaultFolder(3, f.ReleaseAndGetAddressOf()), E_INVALIDARG);
}

}  // namespace
}  // namespace sx::outlook
