// A temporary machine for the configuration program's tests, laid out by the machine tool's own
// commands as the system's setup leaves it: HotSync Manager with its users, Outlook with the
// profile "Outlook", the conduit, ScribbixOut and ScribbixUpdate (with "SXUpdate.pst") in the
// installation directory, and the two add-ins registered with Outlook (sample add-ins standing in
// for them, under their ProgIDs and names). The test thread is the program's user-interface
// thread: COM is initialised on it, and dialogs and message boxes are answered by the scripted
// host and read back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "comdef.h"
#include "commands.h"
#include "component_checker.h"
#include "option_dialogs.h"
#include "outlook/outlook.h"
#include "registry_key.h"
#include "sx/clock.h"
#include "sx/outlook/addins.h"
#include "sx/outlook/faults.h"
#include "sx/outlook/install.h"
#include "sx/outlook/profiles.h"
#include "sx/testing/temp_machine.h"
#include "sx/window.h"
#include "windows.h"

namespace sx::configure::testing {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

inline constexpr char kInstallDir[] = "C:\\Program Files\\Vorlan\\Scribbix";
inline constexpr char kAddInServer[] = "C:\\Program Files\\Vorlan\\Scribbix\\SampleAddIns.dll";
inline constexpr char kSampleAddInA[] = "{7A11ADD1-0000-4E11-9C1D-2B6E0F3A7DA1}";
inline constexpr char kSampleAddInB[] = "{7A11ADD1-0000-4E11-9C1D-2B6E0F3A7DB2}";

// A checker whose end of the program is recorded instead of ending the test.
class TestChecker : public CComponentChecker {
 public:
  std::optional<int> exitCode;

 protected:
  void EndProgram(int code) override { exitCode = code; }
};

class ConfigureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sx::window::set_host(sx::window::Host::kScripted);
    sx::window::clear_script();
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  }
  void TearDown() override {
    sx::window::clear_script();
    CoUninitialize();
  }

  // Runs one command of the machine tool on the test's machine.
  void Machine(std::vector<std::string> args) {
    std::vector<std::string> line = {"sxmachine", "--machine", machine_.root().string()};
    line.insert(line.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (const std::string& a : line) argv.push_back(a.c_str());
    ASSERT_EQ(sx::machine_tool::make_program()->run(static_cast<int>(argv.size()), argv.data()), 0);
  }

  // Everything the system's setup installs, for the Palm users given (the first has its notes
  // store in the profile "Outlook" and is paired with it; with none, HotSync has no user and the
  // conduit is not installed), with Outlook of `outlookVersion` and both add-ins registered. The
  // configuration program runs in the test's process with an Outlook of its own there, where the
  // tests' faults and dialog answers reach it.
  void InstallSystem(std::vector<std::string> users = {"Palm User"},
                     const std::string& outlookVersion = sx::outlook::kDefaultVersion) {
    Machine({"hotsync", "install"});
    for (std::size_t i = 1; i < users.size(); ++i) Machine({"hotsync", "add-user", users[i]});
    if (users.empty()) {
      Machine({"scribbixout", "install"});
      Machine({"scribbixupdate", "install"});
    } else {
      Machine({"system", "install", "--user", users.front(), "--outlook-in-each-program"});
    }
    InstallOutlook(outlookVersion);
    RegisterAddIns();
  }
  static void InstallOutlook(const std::string& version,
                             const std::string& outlrpc = sx::outlook::kDefaultLibraryVersion) {
    sx::outlook::InstallOptions options;
    options.version = version;
    options.outlrpc_version = outlrpc;
    std::string why;
    ASSERT_TRUE(sx::outlook::install(options, &why)) << why;
  }

  // The two add-ins registered with Outlook as their own registration leaves them, served by the
  // sample add-ins.
  void RegisterAddIns(DWORD notesBehavior = 3, DWORD monitorBehavior = 3) {
    const std::filesystem::path server =
        machine_.c("Program Files\\Vorlan\\Scribbix") / "SampleAddIns.dll";
    std::filesystem::copy_file(SX_TEST_ADDINS_PATH, server,
                               std::filesystem::copy_options::overwrite_existing);
    RegisterAddIn(kNotesAddInProgId, kSampleAddInA, kNotesAddInName, notesBehavior);
    RegisterAddIn(kMonitorAddInProgId, kSampleAddInB, kMonitorAddInName, monitorBehavior);
  }
  static void RegisterAddIn(const char* progId, const char* clsid, const char* name,
                            DWORD behavior) {
    SetDefault(HKEY_CLASSES_ROOT, std::string(progId) + "\\CLSID", clsid);
    SetDefault(HKEY_CLASSES_ROOT, std::string("CLSID\\") + clsid + "\\InprocServer32",
               kAddInServer);
    std::string why;
    ASSERT_TRUE(sx::outlook::addins::write({progId, name, name, behavior}, &why)) << why;
  }
  static void SetDefault(HKEY root, const std::string& path, const std::string& text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(root, path.c_str(), &key), ERROR_SUCCESS);
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
  }
  static void SetText(HKEY root, const std::string& path, const char* name,
                      const std::string& text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(root, path.c_str(), &key), ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
  }

  // --- Outlook as the test sees it (every reference is let go before the call returns, so that
  // the program's own Outlook connection is the only one while it works)

  // Outlook, started or reached as a program reaches it.
  static ComPtr<_Application> Outlook() {
    CLSID clsid{};
    ComPtr<_Application> app;
    EXPECT_EQ(CLSIDFromProgID(u"Outlook.Application", &clsid), S_OK);
    EXPECT_EQ(
        CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, _Application::kIid, app.PutVoid()),
        S_OK);
    return app;
  }
  // Runs `body` with a logon to `profile`.
  template <class Body>
  static void WithOutlook(const std::string& profile, Body body) {
    ComPtr<_Application> app = Outlook();
    ASSERT_TRUE(app);
    ComPtr<_NameSpace> ns;
    ASSERT_EQ(app->GetNamespace(Bstr(u"MAPI").get(), ns.ReleaseAndGetAddressOf()), S_OK);
    Variant name = Variant::from_utf8(profile), missing = Omitted();
    ASSERT_EQ(ns->Logon(name.get(), missing.get(), missing.get(), missing.get()), S_OK);
    body(ns.Get());
    ns->Logoff();
  }
  static ComPtr<MAPIFolder> Child(_Folders* folders, const std::string& name) {
    ComPtr<MAPIFolder> folder;
    if (FAILED(folders->GetFirst(folder.ReleaseAndGetAddressOf()))) return nullptr;
    while (folder) {
      Bstr n;
      folder->get_Name(n.put());
      if (n.utf8() == name) return folder;
      folders->GetNext(folder.ReleaseAndGetAddressOf());
    }
    return nullptr;
  }
  // The folder at "root\sub" of the profile, or null.
  static ComPtr<MAPIFolder> Folder(_NameSpace* ns, const std::string& root,
                                   const std::string& sub) {
    ComPtr<_Folders> roots;
    if (FAILED(ns->get_Folders(roots.ReleaseAndGetAddressOf()))) return nullptr;
    ComPtr<MAPIFolder> top = Child(roots.Get(), root);
    if (!top) return nullptr;
    ComPtr<_Folders> subs;
    top->get_Folders(subs.ReleaseAndGetAddressOf());
    return Child(subs.Get(), sub);
  }
  // Calls `each` with every post of "Vorlan\Scribbix" in `profile`, in folder order; false when
  // the profile has no notes folder.
  template <class Each>
  static bool EachNote(const std::string& profile, Each each) {
    bool found = false;
    WithOutlook(profile, [&](_NameSpace* ns) {
      ComPtr<MAPIFolder> folder = Folder(ns, "Vorlan", "Scribbix");
      if (!folder) return;
      found = true;
      ComPtr<_Items> items;
      folder->get_Items(items.ReleaseAndGetAddressOf());
      ComPtr<IDispatch> item;
      items->GetFirst(item.ReleaseAndGetAddressOf());
      while (item) {
        ComPtr<_PostItem> post;
        item->QueryInterface(_PostItem::kIid, post.PutVoid());
        if (post) each(post.Get());
        items->GetNext(item.ReleaseAndGetAddressOf());
      }
    });
    return found;
  }
  // The subjects of the notes; nullopt when the profile has no notes folder.
  static std::optional<std::vector<std::string>> Notes(const std::string& profile = "Outlook") {
    std::vector<std::string> subjects;
    if (!EachNote(profile, [&](_PostItem* post) {
          Bstr subject;
          post->get_Subject(subject.put());
          subjects.push_back(subject.utf8());
        }))
      return std::nullopt;
    return subjects;
  }
  // The entry ids of the notes of the profile "Outlook".
  static std::vector<std::string> NoteIds() {
    std::vector<std::string> ids;
    EachNote("Outlook", [&](_PostItem* post) {
      Bstr id;
      post->get_EntryID(id.put());
      ids.push_back(id.utf8());
    });
    return ids;
  }
  // The next read of an item's CreationTime (the folder probe's) fails as Outlook fails it.
  static void FailTheNextCreationTimeRead() {
    sx::outlook::inject_fault({.kind = "Item",
                               .operation = "CreationTime",
                               .nth = 1,
                               .hr = static_cast<HRESULT>(0x80040107),
                               .source = "Microsoft Outlook",
                               .description = "The item cannot be read."});
  }
  // The second move of an item (the second note an update carries) fails as on a full disk.
  static void FailTheSecondMove() {
    sx::outlook::inject_fault({.kind = "Item",
                               .operation = "Move",
                               .nth = 2,
                               .hr = static_cast<HRESULT>(0x80040109),
                               .source = "Microsoft Outlook",
                               .description = "The disk is full."});
  }
  // Saves notes with these subjects into the profile's notes folder.
  // Posts of the notes form with the subjects (and bodies) given; with `first_key`, they carry the
  // note keys first_key, first_key + 1, ... as notes a HotSync has seen do.
  static void AddNotes(const std::vector<std::string>& subjects,
                       const std::string& profile = "Outlook", int first_key = 0) {
    WithOutlook(profile, [&](_NameSpace* ns) {
      ComPtr<MAPIFolder> folder = Folder(ns, "Vorlan", "Scribbix");
      ASSERT_TRUE(folder);
      ComPtr<_Items> items;
      folder->get_Items(items.ReleaseAndGetAddressOf());
      for (const std::string& subject : subjects) {
        ComPtr<IDispatch> item;
        Variant kind = Variant::from_utf8("IPM.Post.ScribbixPost2");
        ASSERT_EQ(items->Add(kind.get(), item.ReleaseAndGetAddressOf()), S_OK);
        ComPtr<_PostItem> post;
        item->QueryInterface(_PostItem::kIid, post.PutVoid());
        post->put_Subject(Bstr::from_utf8(subject).get());
        post->put_Body(Bstr::from_utf8(subject).get());
        if (first_key > 0) {
          ComPtr<UserProperties> properties;
          post->get_UserProperties(properties.ReleaseAndGetAddressOf());
          ComPtr<UserProperty> key;
          const Variant omitted = Variant::from_error(DISP_E_PARAMNOTFOUND);
          ASSERT_EQ(properties->Add(Bstr::from_utf8("ScribKey").get(), olNumber, omitted.get(),
                                    omitted.get(), key.ReleaseAndGetAddressOf()),
                    S_OK);
          key->put_Value(Variant::from_r8(first_key++).get());
        }
        ASSERT_EQ(post->Save(), S_OK);
      }
    });
  }

  // The message boxes shown so far, their texts in order.
  static std::vector<std::string> Boxes() {
    std::vector<std::string> texts;
    for (const sx::window::ShownWindow& w : sx::window::shown()) {
      if (w.kind == sx::window::ShownWindow::Kind::kMessageBox) texts.push_back(w.text);
    }
    return texts;
  }
  // The progress window titled `title` as it was when it closed.
  static std::optional<sx::window::ShownWindow> ProgressWindow(const std::string& title) {
    for (const sx::window::ShownWindow& w : sx::window::shown()) {
      if (w.kind == sx::window::ShownWindow::Kind::kModelessDialog && w.title == title) return w;
    }
    return std::nullopt;
  }

  // The checks that find the profiles, the Palm users and the stored pairs (what the wizard and the
  // dialogs read).
  static void LookAtMachine(CComponentChecker& checker) {
    checker.CheckProfiles(kRowProfiles);
    checker.CheckHotSync(kRowHotSync);
    checker.CheckHandhelds(kRowHandhelds);
  }
  // The profile stored for a Palm user, or nullopt.
  static std::optional<std::string> StoredPair(const std::string& user) {
    CRegistryKey key;
    std::string profile;
    if (!key.Open(HKEY_CURRENT_USER, kPairsKey, KEY_READ) ||
        !key.ReadText(user.c_str(), &profile)) {
      return std::nullopt;
    }
    return profile;
  }

  static std::optional<DWORD> LoadBehavior(const char* progId) {
    return sx::outlook::addins::load_behavior(progId);
  }

  sx::testing::TempMachine machine_;
};

}  // namespace sx::configure::testing
