// Class1 against the Outlook stand-in: the calling order, each method's results, the walk.
#include <thread>

#include "component_fixture.h"
#include "scribbix/note_key.h"
#include "win32/module.h"
#include "windows.h"

namespace sx::assist::testing {
namespace {

std::pair<std::string, std::string> taken_error() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.ReleaseAndGetAddressOf()) != S_OK || !info) return {};
  BSTR source = nullptr, description = nullptr;
  info->GetSource(&source);
  info->GetDescription(&description);
  auto result = std::make_pair(Bstr::attach(source).utf8(), Bstr::attach(description).utf8());
  return result;
}

std::string read_text(HKEY root, const std::string& path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "(no key)";
  char value[512] = {};
  DWORD size = sizeof value - 1, type = 0;
  const LONG status =
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? value : "(no value)";
}

TEST_F(ComponentTest, RegistrationNamesTheClassInterfaceAndTypeLibrary) {
  const std::string clsid = "CLSID\\{6BEB7231-FE61-4182-8FCA-ECF40038A83C}";
  EXPECT_EQ(read_text(HKEY_CLASSES_ROOT, "ScribbixOut.Class1\\CLSID", nullptr),
            "{6BEB7231-FE61-4182-8FCA-ECF40038A83C}");
  EXPECT_EQ(read_text(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", nullptr), kServerPath);
  EXPECT_EQ(read_text(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", "ThreadingModel"),
            "Apartment");
  EXPECT_EQ(read_text(HKEY_CLASSES_ROOT, clsid + "\\ProgID", nullptr), "ScribbixOut.Class1");
  EXPECT_EQ(read_text(HKEY_CLASSES_ROOT, clsid + "\\TypeLib", nullptr),
            "{F0817932-2C04-4DF0-B0B6-BF72E7F2A200}");
  const std::string iface = "Interface\\{1617160A-4398-40EC-9FFC-EDF458F120EA}";
  EXPECT_EQ(read_text(HKEY_CLASSES_ROOT, iface, nullptr), "_Class1");
  EXPECT_EQ(read_text(HKEY_CLASSES_ROOT, iface + "\\TypeLib", nullptr),
            "{F0817932-2C04-4DF0-B0B6-BF72E7F2A200}");
  const std::string lib = "TypeLib\\{F0817932-2C04-4DF0-B0B6-BF72E7F2A200}\\1.0";
  EXPECT_EQ(read_text(HKEY_CLASSES_ROOT, lib, nullptr), "Outlook Interface for Scribbix");
  EXPECT_EQ(read_text(HKEY_CLASSES_ROOT, lib + "\\409\\win32", nullptr), kServerPath);

  component_ = nullptr;
  ASSERT_EQ(sx::com::register_server_module(kServerPath, true), S_OK);
  for (const std::string& key : {std::string("ScribbixOut.Class1"), clsid, iface,
                                 std::string("TypeLib\\{F0817932-2C04-4DF0-B0B6-BF72E7F2A200}")}) {
    EXPECT_EQ(read_text(HKEY_CLASSES_ROOT, key, nullptr), "(no key)") << key;
  }
  CLSID unknown{};
  EXPECT_EQ(CLSIDFromProgID(u"ScribbixOut.Class1", &unknown), CO_E_CLASSSTRING);
}

TEST_F(ComponentTest, DispatchIdsFollowTheSlotsAndLateBoundCallsFillByReference) {
  const char16_t* names[] = {u"IsOutlookLoaded",
                             u"LoadOutlook",
                             u"UnloadOutlook",
                             u"LogonOutlook",
                             u"GetScribbixFolder",
                             u"BeginItem",
                             u"NextItem",
                             u"EndItem",
                             u"ReadItem",
                             u"NewItem",
                             u"UpdateItem",
                             u"DeleteItem",
                             u"OutlookVersionString"};
  for (DISPID expected = 0x60030000; const char16_t* name : names) {
    DISPID id = 0;
    EXPECT_EQ(sx::com::dispid_of(component_.Get(), name, &id), S_OK);
    EXPECT_EQ(id, expected++) << sx::com::u16_to_utf8(name);
  }
  ASSERT_EQ(call(&_Class1::LoadOutlook), 0);
  Variant rest, result;
  VARIANT by_ref;
  by_ref.vt = VT_BYREF | VT_VARIANT;
  by_ref.pvarVal = &rest.get();
  ASSERT_EQ(sx::com::invoke_by_name(component_.Get(), u"OutlookVersionString", DISPATCH_METHOD,
                                    {Variant(by_ref)}, result.put()),
            S_OK);
  EXPECT_EQ(result.vt(), VT_I4);
  EXPECT_EQ(result.to_i4(), 10);
  EXPECT_EQ(rest.to_utf8(), "10.0.2627");
}

TEST_F(ComponentTest, ServerMayUnloadOnlyWithoutObjectsOrLocks) {
  HMODULE module = LoadLibraryA(kServerPath);
  ASSERT_NE(module, nullptr);
  auto can_unload = reinterpret_cast<HRESULT (*)()>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  ASSERT_NE(can_unload, nullptr);
  EXPECT_EQ(can_unload(), S_FALSE);  // the fixture's object lives
  component_ = nullptr;
  EXPECT_EQ(can_unload(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(scribbixout::kClass1Clsid, CLSCTX_INPROC_SERVER, nullptr,
                             IClassFactory::kIid, factory.PutVoid()),
            S_OK);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(can_unload(), S_FALSE);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(can_unload(), S_OK);
  factory = nullptr;
  FreeLibrary(module);
  CoFreeUnusedLibraries();
  component_ = create_component();  // loads again
  EXPECT_EQ(call(&_Class1::IsOutlookLoaded), 0);
}

TEST_F(ComponentTest, CallsFromAnotherThreadAreRefused) {
  HRESULT hr = S_OK;
  LONG result = 0x5EED;
  std::thread other([&] { hr = component_->IsOutlookLoaded(&result); });
  other.join();
  EXPECT_EQ(hr, RPC_E_WRONG_THREAD);
  EXPECT_EQ(result, 0x5EED);
  EXPECT_EQ(component_->IsOutlookLoaded(nullptr), E_POINTER);
}

TEST_F(ComponentTest, ASyncRunFromLoadToUnload) {
  notes_folder();
  hand_made_post("one", "first");
  hand_made_post("two", "second");
  EXPECT_EQ(call(&_Class1::IsOutlookLoaded), 0);
  EXPECT_EQ(call(&_Class1::GetScribbixFolder), -1);  // no session yet
  EXPECT_EQ(call(&_Class1::LoadOutlook), 0);
  EXPECT_EQ(call(&_Class1::IsOutlookLoaded), 1);
  EXPECT_EQ(logon(), 0);
  EXPECT_EQ(call(&_Class1::GetScribbixFolder), 0);
  EXPECT_EQ(call(&_Class1::BeginItem), 2);
  EXPECT_EQ(call(&_Class1::NextItem), 1);
  EXPECT_EQ(call(&_Class1::NextItem), 2);
  EXPECT_EQ(call(&_Class1::NextItem), -1);
  EXPECT_EQ(call(&_Class1::NextItem), -1);
  EXPECT_EQ(call(&_Class1::EndItem), 0);
  EXPECT_EQ(call(&_Class1::UnloadOutlook), 0);
  EXPECT_EQ(call(&_Class1::IsOutlookLoaded), 0);
  EXPECT_EQ(call(&_Class1::BeginItem), -1);     // no folder any more
  EXPECT_EQ(call(&_Class1::UnloadOutlook), 0);  // again: nothing to do
}

TEST_F(ComponentTest, AFailedLoadKeepsItsErrorAndLeavesNoVersion) {
  sx::outlook::inject_fault({.kind = "Application",
                             .operation = "Create",
                             .hr = E_ACCESSDENIED,
                             .source = "Microsoft Outlook",
                             .description = "Outlook cannot start."});
  EXPECT_EQ(call(&_Class1::LoadOutlook), -1);
  EXPECT_EQ(taken_error(),
            std::make_pair(std::string("Microsoft Outlook"), std::string("Outlook cannot start.")));
  EXPECT_EQ(call(&_Class1::IsOutlookLoaded), 0);
  Variant rest = Variant::from_i4(77);
  LONG major = 0x5EED;
  ASSERT_EQ(component_->OutlookVersionString(&rest.get(), &major), S_OK);
  EXPECT_EQ(major, 0);
  EXPECT_EQ(rest.vt(), VT_BSTR);
  EXPECT_EQ(rest.to_utf8(), "");
  EXPECT_EQ(logon(), -1);  // no session
}

TEST_F(ComponentTest, LogonFailsForAProfileOutlookDoesNotKnow) {
  ASSERT_EQ(call(&_Class1::LoadOutlook), 0);
  EXPECT_EQ(logon("Nobody"), -1);
  EXPECT_FALSE(taken_error().second.empty());
  EXPECT_EQ(logon("Outlook"), 0);
}

TEST_F(ComponentTest, NotesFolderIsFoundOnlyUnderTheFirstRootNamedExactly) {
  ASSERT_EQ(call(&_Class1::LoadOutlook), 0);
  ASSERT_EQ(logon(), 0);
  add_store("C:\\Notes\\lower.pst", "vorlan", "Scribbix");
  EXPECT_EQ(call(&_Class1::GetScribbixFolder), scribbixout::kFolderNotFound);
  EXPECT_LT(scribbixout::kFolderNotFound, 0);
  add_store("C:\\Notes\\first.pst", "Vorlan", "Other");
  add_store("C:\\Notes\\second.pst", "Vorlan", "Scribbix");
  EXPECT_EQ(logon(), 0);  // the folder collection as it is now
  EXPECT_EQ(call(&_Class1::GetScribbixFolder), scribbixout::kFolderNotFound);
  EXPECT_EQ(call(&_Class1::BeginItem), -1);  // the folder reference was cleared
}

TEST_F(ComponentTest, FolderSearchErrorsGiveMinusOne) {
  notes_folder();
  ASSERT_EQ(call(&_Class1::LoadOutlook), 0);
  ASSERT_EQ(logon(), 0);
  sx::outlook::inject_fault(
      {.kind = "MAPIFolder", .operation = "Name", .hr = E_FAIL, .description = "Name unreadable"});
  EXPECT_EQ(call(&_Class1::GetScribbixFolder), -1);
  EXPECT_EQ(taken_error().second, "Name unreadable");
  EXPECT_EQ(call(&_Class1::GetScribbixFolder), 0);
}

TEST_F(ComponentTest, EmptyFolderWalkEndsAtOnceAndStaysEnded) {
  notes_folder();
  EXPECT_EQ(open_walk(), 0);
  EXPECT_EQ(call(&_Class1::NextItem), -1);
  EXPECT_EQ(call(&_Class1::NextItem), -1);
  Args a;
  EXPECT_EQ(read(a), -129);
}

TEST_F(ComponentTest, WalkErrorsGiveMinusOneAndKeepTheIndex) {
  notes_folder();
  hand_made_post("one", "1");
  hand_made_post("two", "2");
  ASSERT_EQ(open_walk(), 2);
  ASSERT_EQ(call(&_Class1::NextItem), 1);
  const int fault = sx::outlook::inject_fault({.kind = "Items", .operation = "GetNext"});
  EXPECT_EQ(call(&_Class1::NextItem), -1);
  EXPECT_EQ(sx::outlook::fault_calls(fault), 1);
  EXPECT_EQ(call(&_Class1::NextItem), 2);  // the index was kept: the walk goes on
  sx::outlook::inject_fault({.kind = "Items", .operation = "Count"});
  EXPECT_EQ(call(&_Class1::BeginItem), -1);
  EXPECT_EQ(call(&_Class1::BeginItem), 2);
}

}  // namespace
}  // namespace sx::assist::testing
