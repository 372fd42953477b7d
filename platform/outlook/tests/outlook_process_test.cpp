// Outlook as a process of its own: apartments sharing one Outlook, its lifetime (last reference,
// Quit, WM_CLOSE), its add-in host, "Choose Profile", held store files and the installation.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "outlook/outlook.h"
#include "outlook_process_fixture.h"
#include "sx/clock.h"
#include "sx/outlook/addins.h"
#include "sx/outlook/faults.h"
#include "sx/outlook/install.h"
#include "sx/outlook/outlook_process.h"
#include "sx/outlook/profiles.h"
#include "sx/registry_file.h"
#include "sx/testing/temp_machine.h"
#include "sx/window.h"
#include "test_addins.h"
#include "win32/crt.h"
#include "win32/files.h"
#include "win32/module.h"
#include "win32/registry.h"
#include "win32/sync.h"
#include "win32/window.h"

namespace sx::outlook {
namespace {

// --- Apartments ------------------------------------------------------------------------------

// Counts the ItemAdd events it hears and on which thread they come.
class AddCounter : public sx::com::ComObject<ItemsEvents> {
 public:
  explicit AddCounter(bool* destroyed = nullptr) : destroyed_(destroyed) {}
  ~AddCounter() override {
    if (destroyed_ != nullptr) *destroyed_ = true;
  }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP ItemAdd(IDispatch* item) override {
    SX_COM_CHECK_THREAD();  // a sink of this apartment is called on this apartment's thread
    ++adds;
    // The item came as a proxy that works here.
    Variant subject;
    if (FAILED(sx::com::get_property(item, u"Subject", subject.put()))) ++bad_items;
    return S_OK;
  }
  STDMETHODIMP ItemChange(IDispatch*) override { return S_OK; }
  STDMETHODIMP ItemRemove() override { return S_OK; }
  int adds = 0;
  int bad_items = 0;

 private:
  bool* destroyed_;
};

TEST_F(OutlookProcessTest, TwoApartmentsUseOneOutlookAtOnceAndTheirCallsAreSerialised) {
  app_ = create();
  auto ns = mapi(app_.Get());
  ASSERT_EQ(logon(ns.Get(), "Outlook"), S_OK);
  ComPtr<MAPIFolder> inbox;
  ASSERT_EQ(ns->GetDefaultFolder(olFolderInbox, inbox.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<_Items> items;
  ASSERT_EQ(inbox->get_Items(items.ReleaseAndGetAddressOf()), S_OK);
  // A sink of this apartment hears the adds of both apartments, on this thread.
  auto counter = sx::com::make_object<AddCounter>();
  ComPtr<IConnectionPointContainer> container = items.As<IConnectionPointContainer>();
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(ItemsEvents::kIid, point.ReleaseAndGetAddressOf()),
            S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(static_cast<ItemsEvents*>(counter.Get()), &cookie), S_OK);

  auto add_posts = [](_Items* where, const char* prefix) {
    for (int i = 0; i < 20; ++i) {
      ComPtr<IDispatch> d;
      Variant cls = Variant::from_utf8("IPM.Post");
      ASSERT_EQ(where->Add(cls.get(), d.ReleaseAndGetAddressOf()), S_OK);
      auto post = d.As<_PostItem>();
      Bstr subject = Bstr::from_utf8(std::string(prefix) + std::to_string(i));
      ASSERT_EQ(post->put_Subject(subject.get()), S_OK);
      ASSERT_EQ(post->Save(), S_OK);
    }
  };
  HRESULT other_logon = E_FAIL;
  std::function<void()> other_body = [&] {
    ComPtr<_Application> app = create();  // attaches to the running Outlook
    auto other_ns = mapi(app.Get());
    other_logon = logon(other_ns.Get(), nullptr);  // already logged on: the session is Outlook's
    add_posts(inbox_items(other_ns.Get()).Get(), "there ");
  };
  HANDLE other = start_apartment(&other_body);
  add_posts(items.Get(), "here ");
  join(other);

  EXPECT_EQ(other_logon, S_OK);
  LONG count = 0;
  EXPECT_EQ(items->get_Count(&count), S_OK);
  EXPECT_EQ(count, 40);
  EXPECT_EQ(counter->adds, 40);
  EXPECT_EQ(counter->bad_items, 0);
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
}

// --- Lifetime ----------------------------------------------------------------------------------

TEST_F(OutlookProcessTest, SinkLeftAdvisedIsLetGoWhenOutlookEndsAndOutlookStartsAgain) {
  bool destroyed = false;
  {
    app_ = create();
    auto ns = mapi(app_.Get());
    ASSERT_EQ(logon(ns.Get(), "Outlook"), S_OK);
    ComPtr<IConnectionPoint> point = items_events(inbox_items(ns.Get()).Get());
    DWORD cookie = 0;
    auto sink = sx::com::make_object<AddCounter>(&destroyed);
    ASSERT_EQ(point->Advise(static_cast<ItemsEvents*>(sink.Get()), &cookie), S_OK);
  }                // everything released, the sink never unadvised
  app_ = nullptr;  // the last reference: Outlook ends and gives the sink back here
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(outlook_window());
  app_ = create();
  EXPECT_TRUE(outlook_window());
}

TEST_F(OutlookProcessTest,
       LastReferenceEndsOutlookDisconnectingItsAddInsInOrderAndLettingGoOfFiles) {
  register_addin("SxTest.AddInA", 3);
  register_addin("SxTest.AddInB", 3);
  app_ = create();
  auto ns = mapi(app_.Get());
  ASSERT_EQ(logon(ns.Get(), "Outlook"), S_OK);
  Variant path = Variant::from_utf8("C:\\Notes\\held.pst");
  ASSERT_EQ(ns->AddStore(path.get()), S_OK);
  EXPECT_TRUE(outlook_window());
  // Outlook holds the file: it can be neither renamed nor opened exclusively.
  EXPECT_FALSE(MoveFileA("C:\\Notes\\held.pst", "C:\\Notes\\held.pst.1"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  errno = 0;
  EXPECT_EQ(rename("C:\\Notes\\held.pst", "C:\\Notes\\held.pst.1"), -1);  // the C runtime's
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(CreateFileA("C:\\Notes\\held.pst", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  clear_addin_log();

  ns = nullptr;
  EXPECT_TRUE(outlook_window());  // the Application is still held
  EXPECT_EQ(addin_log(), "");
  app_ = nullptr;  // the last reference
  EXPECT_EQ(addin_log(),
            "A:OnBeginShutdown\nB:OnBeginShutdown\nA:OnDisconnection(0)\nB:OnDisconnection(0)\n");
  EXPECT_FALSE(outlook_window());
  EXPECT_EQ(rename("C:\\Notes\\held.pst", "C:\\Notes\\held.pst.1"), 0);
}

TEST_F(OutlookProcessTest, QuitAndWindowCloseEndOutlookForEveryClient) {
  register_addin("SxTest.AddInA", 3);
  app_ = create();
  auto ns = mapi(app_.Get());
  HRESULT after_quit = S_OK;
  HANDLE quit_done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE other_may_call = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::function<void()> other_body = [&] {
    ComPtr<_Application> app = create();
    SetEvent(other_may_call);
    WaitForSingleObject(quit_done, INFINITE);
    Bstr name;
    after_quit = app->get_Name(name.put());  // the Outlook it reached has ended
  };
  HANDLE other = start_apartment(&other_body);
  WaitForSingleObject(other_may_call, INFINITE);
  clear_addin_log();
  EXPECT_EQ(app_->Quit(), S_OK);
  EXPECT_EQ(addin_log(), "A:OnBeginShutdown\nA:OnDisconnection(0)\n");
  EXPECT_FALSE(outlook_window());
  SetEvent(quit_done);
  join(other);
  EXPECT_EQ(after_quit, RPC_E_DISCONNECTED);
  Bstr type;
  EXPECT_EQ(ns->get_Type(type.put()), RPC_E_DISCONNECTED);
  ns = nullptr;
  app_ = nullptr;

  // A new creation starts a new Outlook; a person closes it with its window.
  app_ = create();
  EXPECT_TRUE(outlook_window());
  EXPECT_EQ(close_running_outlooks(), 1);
  EXPECT_FALSE(outlook_window());
  Bstr name;
  EXPECT_EQ(app_->get_Name(name.put()), RPC_E_DISCONNECTED);
  CloseHandle(quit_done);
  CloseHandle(other_may_call);
}

TEST_F(OutlookProcessTest, InjectedFaultFailsTheCreationItself) {
  inject_fault({.kind = "Application",
                .operation = "Create",
                .hr = CO_E_SERVER_EXEC_FAILURE,
                .source = "Microsoft Outlook",
                .description = "Outlook cannot start."});
  ComPtr<_Application> app;
  EXPECT_EQ(CoCreateInstance(CLSID_OutlookApplication, nullptr, CLSCTX_LOCAL_SERVER,
                             IID_PPV_ARGS(app.ReleaseAndGetAddressOf())),
            CO_E_SERVER_EXEC_FAILURE);
  EXPECT_FALSE(app);
  try {
    sx::com::issue_error(CO_E_SERVER_EXEC_FAILURE);
  } catch (const sx::com::ComError& e) {
    EXPECT_STREQ(e.Description(), "Outlook cannot start.");
  }
  EXPECT_FALSE(outlook_window());  // the Outlook started for it did not stay
  app_ = create();                 // the fault was for one call
  EXPECT_TRUE(app_);
}

// --- Add-ins -----------------------------------------------------------------------------------

TEST_F(OutlookProcessTest, StartupAddInsConnectInsideTheCreationThenHearThatStartupIsComplete) {
  register_addin("SxTest.AddInA", 3);
  register_addin("SxTest.AddInB", 8);   // held back: loads nothing
  register_addin("SxTest.Failing", 3);  // its OnConnection fails
  app_ = create();
  EXPECT_EQ(addin_log(),
            "A:OnConnection(1,SxTest.AddInA,custom)\n"
            "Failing:OnConnection(1,SxTest.Failing,custom)\n"
            "A:OnStartupComplete\n");
  ComPtr<COMAddIns> all;
  ASSERT_EQ(app_->get_COMAddIns(all.ReleaseAndGetAddressOf()), S_OK);
  LONG count = 0;
  EXPECT_EQ(all->get_Count(&count), S_OK);
  EXPECT_EQ(count, 3);
  const char* order[] = {"SxTest.AddInA", "SxTest.AddInB", "SxTest.Failing"};
  const bool expected_connect[] = {true, false, false};
  for (LONG i = 1; i <= count; ++i) {
    ComPtr<COMAddIn> one;
    Variant index = Variant::from_i4(i);
    ASSERT_EQ(all->Item(index.get(), one.ReleaseAndGetAddressOf()), S_OK);
    Bstr progid, description;
    one->get_ProgId(progid.put());
    one->get_Description(description.put());
    EXPECT_EQ(progid.utf8(), order[i - 1]);
    EXPECT_EQ(description.utf8(), std::string("Description of ") + order[i - 1]);
    EXPECT_EQ(connected(one.Get()), expected_connect[i - 1]) << order[i - 1];
  }
  ComPtr<COMAddIn> none;
  Variant outside = Variant::from_i4(4);
  EXPECT_EQ(all->Item(outside.get(), none.ReleaseAndGetAddressOf()), DISP_E_BADINDEX);
}

TEST_F(OutlookProcessTest, LoadBehaviorIsReadWhileOutlookStartsAndNeverWrittenBack) {
  register_addin("SxTest.AddInA", 8);  // held back while Outlook starts...
  app_ = create();
  ASSERT_TRUE(addins::set_load_behavior("SxTest.AddInA", 3));  // ... and put back at once
  EXPECT_EQ(addin_log(), "");
  EXPECT_FALSE(connected(addin(app_.Get(), "SxTest.AddInA").Get()));
  app_ = nullptr;  // Outlook ends without writing anything
  EXPECT_EQ(addins::load_behavior("SxTest.AddInA"), std::optional<DWORD>(3));

  app_ = create();  // the next start reads the value put back
  EXPECT_EQ(addin_log(), "A:OnConnection(1,SxTest.AddInA,custom)\nA:OnStartupComplete\n");
  EXPECT_TRUE(connected(addin(app_.Get(), "SxTest.AddInA").Get()));
}

TEST_F(OutlookProcessTest, ConnectPutConnectsAndDisconnectsBeforeItReturns) {
  register_addin("SxTest.AddInA", 2);  // switched off
  register_addin("SxTest.AddInB", 3);
  app_ = create();
  clear_addin_log();
  auto a = addin(app_.Get(), "SxTest.AddInA");
  EXPECT_EQ(a->put_Connect(VARIANT_TRUE), S_OK);
  EXPECT_EQ(addin_log(), "A:OnConnection(0,SxTest.AddInA,custom)\nB:OnAddInsUpdate\n");
  EXPECT_TRUE(connected(a.Get()));
  EXPECT_EQ(addins::load_behavior("SxTest.AddInA"), std::optional<DWORD>(3));  // loads next time
  EXPECT_EQ(a->put_Connect(VARIANT_TRUE), S_OK);                               // already: nothing

  clear_addin_log();
  Variant off = Variant::from_bool(false);  // late-bound, as the add-ins and components do it
  EXPECT_EQ(sx::com::put_property(a.Get(), u"Connect", off.get()), S_OK);
  EXPECT_EQ(addin_log(), "A:OnDisconnection(1)\nB:OnAddInsUpdate\n");
  EXPECT_FALSE(connected(a.Get()));
  EXPECT_EQ(addins::load_behavior("SxTest.AddInA"), std::optional<DWORD>(2));
}

TEST_F(OutlookProcessTest, FailingOnConnectionLeavesTheAddInDisconnectedAndItsValueAlone) {
  register_addin("SxTest.Failing", 2);
  app_ = create();
  auto failing = addin(app_.Get(), "SxTest.Failing");
  EXPECT_EQ(failing->put_Connect(VARIANT_TRUE), E_FAIL);
  try {
    sx::com::issue_error(E_FAIL);
  } catch (const sx::com::ComError& e) {
    EXPECT_STREQ(e.Source(), "SxTest");
    EXPECT_STREQ(e.Description(), "The folder is missing.");
  }
  EXPECT_FALSE(connected(failing.Get()));
  EXPECT_EQ(addins::load_behavior("SxTest.Failing"), std::optional<DWORD>(2));
  failing = nullptr;
  app_ = nullptr;
  EXPECT_EQ(addin_log(), "Failing:OnConnection(0,SxTest.Failing,custom)\n");  // no disconnection
}

// --- "Choose Profile" --------------------------------------------------------------------------

TEST_F(OutlookProcessTest, WatcherCancelsChooseProfileWhileAnotherThreadWaitsInLogon) {
  ASSERT_TRUE(set_prompt_for_profile(true));
  // Nobody answers the chooser for a minute: only the watcher can close it in time.
  sx::window::expect_dialog(sx::window::DialogMatch::by_title(kChooseProfileTitle),
                            {sx::window::wait(60000)});
  app_ = create();  // returns before the chooser comes up
  bool cancelled = false;
  std::function<void()> watcher = [&] {
    for (int round = 0; round < 30 && !cancelled; ++round) {
      if (HWND w = FindWindowA(kChooseProfileClass, kChooseProfileTitle)) {
        SendMessageA(w, WM_COMMAND, IDCANCEL, 0);
        cancelled = true;
      } else {
        Sleep(100);
      }
    }
  };
  HANDLE watching = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        (*static_cast<std::function<void()>*>(p))();
        return 0;
      },
      &watcher, 0, nullptr);
  // Every call waits while the chooser is up (as with Outlook busy in a modal dialog): the logon
  // goes on as soon as the watcher has cancelled it, and succeeds, since it names a profile.
  const std::int64_t asked = sx::clock::now_ms();
  auto ns = mapi(app_.Get());
  EXPECT_EQ(logon(ns.Get(), "Outlook"), S_OK);
  EXPECT_LT(sx::clock::now_ms() - asked, 1000);
  join(watching);
  EXPECT_TRUE(cancelled);
  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].result, IDCANCEL);
  EXPECT_FALSE(shown[0].ended_by_host);
  Bstr profile;
  EXPECT_EQ(ns->get_CurrentProfileName(profile.put()), S_OK);
  EXPECT_EQ(profile.utf8(), "Outlook");
}

TEST_F(OutlookProcessTest, CancelledChooserLeavesNoSessionAndAddInsWaitForTheFirstLogon) {
  ASSERT_TRUE(set_prompt_for_profile(true));
  register_addin("SxTest.AddInA", 3);
  sx::window::set_host(sx::window::Host::kNone);  // nobody there: the chooser is cancelled
  app_ = create();
  auto ns = mapi(app_.Get());
  ComPtr<_Folders> folders;
  EXPECT_EQ(ns->get_Folders(folders.ReleaseAndGetAddressOf()), MAPI_E_LOGON_FAILED);
  EXPECT_EQ(logon(ns.Get(), nullptr), MAPI_E_LOGON_FAILED);  // no profile named, none chosen
  EXPECT_EQ(addin_log(), "");
  EXPECT_EQ(logon(ns.Get(), "Outlook"), S_OK);
  EXPECT_EQ(addin_log(), "A:OnConnection(1,SxTest.AddInA,custom)\nA:OnStartupComplete\n");
}

TEST_F(OutlookProcessTest, ChosenProfileIsLoggedOnBeforeAnyCallRuns) {
  ASSERT_TRUE(set_prompt_for_profile(true));
  ASSERT_TRUE(profiles::create("Work", false));
  sx::window::expect_dialog(
      sx::window::DialogMatch::by_title(kChooseProfileTitle),
      {sx::window::select(kChooseProfileList, 1), sx::window::click(IDOK)});  // "Outlook", "Work"
  app_ = create();
  auto ns = mapi(app_.Get());
  Bstr profile;
  EXPECT_EQ(ns->get_CurrentProfileName(profile.put()), S_OK);
  EXPECT_EQ(profile.utf8(), "Work");
  EXPECT_EQ(logon(ns.Get(), "Outlook"), S_OK);  // already logged on: nothing changes
  ns->get_CurrentProfileName(profile.put());
  EXPECT_EQ(profile.utf8(), "Work");
}

TEST_F(OutlookProcessTest, LogonAskedToShowTheChooserFailsWithUserCancelWhenCancelled) {
  sx::window::expect_dialog(sx::window::DialogMatch::by_title(kChooseProfileTitle),
                            {sx::window::click(IDCANCEL)});
  app_ = create();
  auto ns = mapi(app_.Get());
  EXPECT_EQ(logon(ns.Get(), nullptr, true), MAPI_E_USER_CANCEL);
  EXPECT_EQ(sx::window::shown().size(), 1u);
  EXPECT_EQ(logon(ns.Get(), nullptr), S_OK);  // without the chooser: the default profile
}

// --- Stores and installation -------------------------------------------------------------------

TEST_F(OutlookProcessTest, ByteCopyOfAStoreOpenedBesideItIsAStoreOfItsOwn) {
  app_ = create();
  auto ns = mapi(app_.Get());
  ASSERT_EQ(logon(ns.Get(), "Outlook"), S_OK);
  Variant original_path = Variant::from_utf8("C:\\Notes\\original.pst");
  ASSERT_EQ(ns->AddStore(original_path.get()), S_OK);
  ns = nullptr;
  app_ = nullptr;  // Outlook lets go of the file; then it is copied byte for byte
  ASSERT_TRUE(CopyFileA("C:\\Notes\\original.pst", "C:\\Notes\\copy.pst", FALSE));

  app_ = create();
  ns = mapi(app_.Get());
  ASSERT_EQ(logon(ns.Get(), "Outlook"), S_OK);
  Variant copy_path = Variant::from_utf8("C:\\Notes\\copy.pst");
  ASSERT_EQ(ns->AddStore(copy_path.get()), S_OK);
  ComPtr<_Folders> roots;
  ASSERT_EQ(ns->get_Folders(roots.ReleaseAndGetAddressOf()), S_OK);
  LONG count = 0;
  roots->get_Count(&count);
  ASSERT_EQ(count, 3);
  Bstr ids[2];
  for (LONG i = 2; i <= 3; ++i) {
    ComPtr<MAPIFolder> root;
    Variant index = Variant::from_i4(i);
    ASSERT_EQ(roots->Item(index.get(), root.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(root->get_StoreID(ids[i - 2].put()), S_OK);
  }
  EXPECT_NE(ids[0].utf8(), ids[1].utf8());
}

TEST_F(OutlookProcessTest, InstallationLeavesVersionedLibraryFilesBesideOutlook) {
  auto file_version = [](const char* path) -> std::string {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) return "(none)";
    std::string block(size, '\0');
    if (!GetFileVersionInfoA(path, 0, size, block.data())) return "(unreadable)";
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\FileVersion", &value, &length))
      return "(no version)";
    return std::string(static_cast<const char*>(value));
  };
  const std::string dir = kServerDirectory;
  EXPECT_EQ(file_version((dir + "OUTLOOK.EXE").c_str()), "9.0.0.3821");
  EXPECT_EQ(file_version((dir + "outlrpc.dll").c_str()), "9.0.3821");
  EXPECT_EQ(file_version((dir + "1033\\outllibr.dll").c_str()), "9.0.3821");

  InstallOptions upgraded;
  upgraded.outlrpc_version = "9.0.2416";  // a partly upgraded installation
  upgraded.outllibr_version = "";         // and a missing library file
  upgraded.editor_preferences = 0x20003;
  std::string why;
  ASSERT_TRUE(install(upgraded, &why)) << why;
  EXPECT_EQ(file_version((dir + "outlrpc.dll").c_str()), "9.0.2416");
  EXPECT_EQ(GetFileAttributesA((dir + "1033\\outllibr.dll").c_str()), INVALID_FILE_ATTRIBUTES);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, kEditorPreferencesKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD value = 0, size = sizeof value, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "EditorPreferences", nullptr, &type,
                             reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(value, 0x20003u);
}

}  // namespace
}  // namespace sx::outlook
