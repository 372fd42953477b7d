// The exports' result codes, settings, the conflict dialog on the virtual clock, the handheld
// database's writes, and registration with HotSync on a simulated machine.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "dialogs.h"
#include "hotsync/actiondlg.h"
#include "hotsync/condapi.h"
#include "hotsync_fixture.h"
#include "note_database.h"
#include "progress.h"
#include "registration.h"
#include "resources.h"
#include "settings.h"
#include "sx/window.h"
#include "windows.h"

extern "C" {
long OpenConduit(PROGRESSFN, SyncProperties*);
long GetConduitName(char*, WORD);
DWORD GetConduitVersion();
long GetConduitInfo(int, void*, void*, DWORD*);
long ConfigureConduit(CSyncPreference*);
long CfgConduit(int, void*, DWORD*);
long DllRegisterServer();
long DllUnregisterServer();
}

namespace sx::conduit {
namespace {

namespace fs = std::filesystem;
using hotsync_test::HotSyncTest;

TEST(ExportsTest, NameVersionAndInfoCodes) {
  sx::testing::TempMachine machine;
  char name[8];
  std::memset(name, 0xCC, sizeof name);
  EXPECT_EQ(GetConduitName(name, 6), 0);
  EXPECT_STREQ(name, "Scrib");
  EXPECT_EQ(static_cast<unsigned char>(name[6]), 0xCC);
  EXPECT_EQ(GetConduitVersion(), 0x108u);

  ConduitRequestInfo request{1, 80, 0, 0, {}};
  char out[64];
  DWORD size = sizeof out;
  EXPECT_EQ(GetConduitInfo(eConduitName, &request, nullptr, &size), 0x1071);
  EXPECT_EQ(GetConduitInfo(eConduitName, &request, out, nullptr), 0x1077);
  EXPECT_EQ(GetConduitInfo(eConduitName, nullptr, out, &size), 0x1074);
  request.dwSize = 79;
  EXPECT_EQ(GetConduitInfo(eConduitName, &request, out, &size), 0x1075);
  request.dwSize = 80;
  EXPECT_EQ(GetConduitInfo(eConduitName, &request, out, &size), 0);
  EXPECT_STREQ(out, "ScribbixOutlook");
  DWORD value = 0xdeadbeef, four = 4, three = 3;
  EXPECT_EQ(GetConduitInfo(eMfcVersion, nullptr, &value, &three), 0x1073);
  EXPECT_EQ(value, 0xdeadbeefu);
  EXPECT_EQ(GetConduitInfo(eMfcVersion, nullptr, &value, &four), 0);
  EXPECT_EQ(value, 0x500u);
  EXPECT_EQ(GetConduitInfo(eDefaultAction, nullptr, &value, &four), 0);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(GetConduitInfo(7, nullptr, &value, &four), 0x1070);

  SyncProperties props{};
  EXPECT_EQ(OpenConduit(nullptr, &props), -1);
}

TEST(ExportsTest, CfgConduitChecksItsArgumentsBeforeShowingTheDialog) {
  sx::testing::TempMachine machine;
  sx::window::set_host(sx::window::Host::kScripted);
  sx::window::clear_script();
  CfgConduitInfo info{};
  info.dwVersion = 1;
  DWORD size = 352, short_size = 351;
  EXPECT_EQ(CfgConduit(0, nullptr, &size), 0x1074);
  EXPECT_EQ(CfgConduit(0, &info, nullptr), 0x1078);
  EXPECT_EQ(CfgConduit(0, &info, &short_size), 0x107A);
  EXPECT_EQ(CfgConduit(1, &info, &size), 0x1079);
  info.dwVersion = 2;
  EXPECT_EQ(CfgConduit(0, &info, &size), 0x107B);
  EXPECT_TRUE(sx::window::shown().empty());

  // Slow (1) is shown as synchronise and written back as 0; permanence 1 with "make default".
  info.dwVersion = 1;
  info.syncCurrent = 1;
  info.syncNew = info.syncPermanent = 0x55;
  sx::window::expect_dialog(
      sx::window::DialogMatch::by_id(CHotSyncActionDlg::kDialogId),
      {sx::window::check(CHotSyncActionDlg::kMakeDefault), sx::window::click(IDOK)});
  EXPECT_EQ(CfgConduit(0, &info, &size), 0);
  EXPECT_EQ(info.syncNew, 0);
  EXPECT_EQ(info.syncPermanent, 1);
  ASSERT_EQ(sx::window::shown().size(), 1u);

  CSyncPreference pref{5, 9};
  sx::window::expect_dialog(sx::window::DialogMatch::any(), {sx::window::click(IDCANCEL)});
  EXPECT_EQ(ConfigureConduit(&pref), -1);
  EXPECT_EQ(pref.m_SyncType, 5);
  EXPECT_EQ(pref.m_SyncPref, 0);
  sx::window::clear_script();
}

TEST(SettingsTest, MissingValuesTakeDefaultsAndWrongTypesAreNamed) {
  sx::testing::TempMachine machine;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            0);
  std::vector<std::string> wrong;
  ConduitSettings s = ConduitSettings::read(key, &wrong);
  EXPECT_EQ(s.DiagnosticMode, 0u);
  EXPECT_EQ(s.ShowProgress, 0u);
  EXPECT_EQ(s.LogConflicts, 1u);
  EXPECT_EQ(s.LogChanges, 0u);
  EXPECT_EQ(s.ConflictResolution, 2u);
  EXPECT_EQ(s.BackupFileBeforeSync, 0u);
  EXPECT_TRUE(wrong.empty());
  const DWORD three = 3;
  RegSetValueExA(key, "ConflictResolution", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&three), 4);
  RegSetValueExA(key, "LogConflicts", 0, REG_SZ, reinterpret_cast<const BYTE*>("0"), 2);
  s = ConduitSettings::read(key, &wrong);
  EXPECT_EQ(s.ConflictResolution, 3u);
  EXPECT_EQ(s.LogConflicts, 1u);
  EXPECT_EQ(wrong, std::vector<std::string>{"LogConflicts"});
  RegCloseKey(key);
}

TEST(SettingsTest, TheSixValuesAreReadInTheirOrder) {
  sx::testing::TempMachine machine;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            0);
  // Written in another order, each of the wrong type: the names come back in the reading order.
  for (const char* name : {"BackupFileBeforeSync", "LogChanges", "ShowProgress",
                           "ConflictResolution", "DiagnosticMode", "LogConflicts"}) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
  }
  std::vector<std::string> wrong;
  (void)ConduitSettings::read(key, &wrong);
  RegCloseKey(key);
  EXPECT_EQ(wrong,
            (std::vector<std::string>{"DiagnosticMode", "ShowProgress", "LogConflicts",
                                      "LogChanges", "ConflictResolution", "BackupFileBeforeSync"}));
}

TEST(UnknownUserDialogTest, OnlyContinueGoesOn) {
  sx::testing::TempMachine machine;
  sx::window::set_host(sx::window::Host::kScripted);
  sx::window::clear_script();
  sx::window::expect_dialog(sx::window::DialogMatch::by_id(IDD_UNKNOWN_USER),
                            {sx::window::click(IDOK)});
  EXPECT_TRUE(ask_unknown_user());
  sx::window::expect_dialog(sx::window::DialogMatch::by_id(IDD_UNKNOWN_USER),
                            {sx::window::click(IDCANCEL)});
  EXPECT_FALSE(ask_unknown_user());
  sx::window::expect_dialog(sx::window::DialogMatch::by_id(IDD_UNKNOWN_USER), {});
  EXPECT_FALSE(ask_unknown_user());  // nobody answers: not continued
  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].clicked, IDOK);
  std::vector<std::string> texts;
  for (const auto& control : shown[0].controls) texts.push_back(control.text);
  EXPECT_EQ(texts,
            (std::vector<std::string>{"The current Palm user is not configured. Continuing will",
                                      "use the current Outlook session or start a new session",
                                      "if one does not already exist.",
                                      "Use the Scribbix Configuration program to assign this ",
                                      "Palm user to an Outlook profile.", "Continue", "Cancel"}));
  EXPECT_TRUE(shown[2].ended_by_host);
  sx::window::clear_script();
}

TEST(ConflictDialogTest, ThreeUnansweredDialogsSkipAndTheThirdTicksUseForAll) {
  sx::testing::TempMachine machine;
  sx::window::set_host(sx::window::Host::kScripted);
  sx::window::clear_script();
  NoteRecord handheld, desktop;
  handheld.text(NoteRecord::kText).setDesktop("Shopping");
  desktop.text(NoteRecord::kText).setDesktop("Shopping list");
  const int before = unanswered_conflict_dialogs();
  for (int i = 0; i < 3; ++i) {
    sx::window::expect_dialog(sx::window::DialogMatch::by_id(IDD_CONFLICT), {sx::window::wait()});
    ConflictDialog dialog(handheld, handheld.field(NoteRecord::kText),
                          desktop.field(NoteRecord::kText));
    EXPECT_EQ(dialog.show(), 3);
    EXPECT_TRUE(dialog.noResponse());
    EXPECT_EQ(dialog.useForAll(), before + i + 1 >= 3) << i;
  }
  EXPECT_EQ(unanswered_conflict_dialogs(), before + 3);
  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].title, "Scribbix - Resolve Field Level Conflicts");
  EXPECT_EQ(shown[0].control(IDC_CONFLICT_TEXT)->text,
            "The \"Note Text\" field of the note \"Shopping\" has been modified on both "
            "platforms.  The value on the desktop is \"Shopping list\".  The value on the handheld "
            "is \"Shopping\".");
  EXPECT_EQ(shown[2].control(IDC_USE_FOR_ALL)->check, static_cast<UINT>(BST_CHECKED));

  sx::window::expect_dialog(
      sx::window::DialogMatch::by_id(IDD_CONFLICT),
      {sx::window::check(IDC_USE_FOR_ALL), sx::window::click(IDC_USE_HANDHELD)});
  ConflictDialog answered(handheld, handheld.field(NoteRecord::kText),
                          desktop.field(NoteRecord::kText));
  EXPECT_EQ(answered.show(), 1);
  EXPECT_TRUE(answered.useForAll());
  EXPECT_FALSE(answered.noResponse());
  EXPECT_EQ(unanswered_conflict_dialogs(), before + 3);
  sx::window::clear_script();
}

TEST(ProgressTest, TheSinkDoesNothingBetweenRunsAndTheWindowShowsSteps) {
  sx::testing::TempMachine machine;
  sx::window::set_host(sx::window::Host::kScripted);
  sx::window::clear_script();
  SyncProperties props{};
  HandheldNoteDatabase db(&props);
  {
    ProgressReporter reporter(module_instance(), true);
    EXPECT_EQ(&progress(), &reporter);
    ASSERT_NE(reporter.window(), nullptr);
    progress().step(1, db);
  }
  EXPECT_EQ(dynamic_cast<ProgressReporter*>(&progress()), nullptr);
  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].resource_id, IDD_PROGRESS);
  EXPECT_EQ(shown[0].control(IDC_PROGRESS_STEP)->text, "Reading notes from handheld database.");
  EXPECT_EQ(shown[0].control(IDC_PROGRESS_HANDHELD_DB)->text, "ibbixDB");
  {
    ProgressReporter hidden(module_instance(), false);
    EXPECT_EQ(hidden.window(), nullptr);
  }
  sx::window::clear_script();
}

// The handheld database against the sync manager stand-in, in one HotSync session.
class HandheldDatabaseTest : public HotSyncTest {
 protected:
  void put(std::vector<std::pair<std::uint32_t, std::int32_t>> records, std::size_t categories) {
    sx::hotsync::PdbDatabase db;
    db.name = kScribbixDatabase;
    db.version = 2;
    db.type = kDataType;
    db.creator = kScribbixCreator;
    db.seed = 0x900;
    if (categories > 0) db.app_info = std::vector<std::uint8_t>(categories, 0x41);
    for (auto [uid, note_id] : records) {
      NoteRecord note;
      note.setNoteId(note_id);
      note.setMod(note_id == 7 ? 0x200u : 0u);
      note.text(NoteRecord::kText).setDesktop("n" + std::to_string(note_id));
      std::vector<BYTE> bytes(kRecordBufferSize);
      bytes.resize(note.pack(bytes.data(), bytes.size()));
      db.records.push_back({0, uid, bytes});
    }
    put_database(db);
  }
};

TEST_F(HandheldDatabaseTest, NotesWithoutIdGetProvisionalIdsAcrossRunsAndAreWrittenFirst) {
  put({{0x10, 7}, {0x11, 0}, {0x12, 0}}, 296);
  std::int32_t first_run_ids[2];
  for (int run = 0; run < 2; ++run) {
    begin();
    SyncProperties props{};
    HandheldNoteDatabase db(&props);
    ASSERT_EQ(db.open(kScribbixDatabase, false), 0);
    ASSERT_EQ(db.readAll(), 0);
    ASSERT_EQ(db.notes().size(), 3u);
    auto it = db.notes().begin();
    const std::int32_t a = it->first, b = std::next(it)->first;
    EXPECT_EQ(b, a + 1);  // -3 before -2: counted down, kept in ascending order
    EXPECT_LT(b, 0);
    if (run == 0) {
      first_run_ids[0] = a;
      first_run_ids[1] = b;
    } else {
      EXPECT_EQ(b, first_run_ids[0] - 1);  // the process-wide counter goes on
    }
    NoteRecord* seven = db.find(7);
    ASSERT_NE(seven, nullptr);
    EXPECT_TRUE(seven->field(NoteRecord::kText).modified_here);
    EXPECT_EQ(seven->modValue(), 0u);
    EXPECT_TRUE(db.find(a)->needsRewrite());
    db.close();
    (void)sx::hotsync::end_session(false);
  }
}

TEST_F(HandheldDatabaseTest, TwoRecordsWithOneNoteIdAreBothReadWithTheProgressWindowOn) {
  put({{0x10, 7}, {0x11, 8}, {0x12, 7}}, 296);
  begin();
  sx::window::set_host(sx::window::Host::kScripted);
  sx::window::clear_script();
  SyncProperties props{};
  {
    ProgressReporter reporter(module_instance(), true);  // the registration default
    HandheldNoteDatabase db(&props);
    ASSERT_EQ(db.open(kScribbixDatabase, false), 0);
    ASSERT_EQ(db.readAll(), 0);
    ASSERT_EQ(db.notes().size(), 3u);
    const NoteRecord& later = *db.notes().begin()->second;  // provisional IDs sort first
    EXPECT_LT(later.noteId(), -1);
    EXPECT_TRUE(later.needsRewrite());
    EXPECT_EQ(DWORD{later.info().m_RecId}, 0x12u);
    EXPECT_EQ(DWORD{db.find(7)->info().m_RecId}, 0x10u);
    EXPECT_EQ(DWORD{db.find(8)->info().m_RecId}, 0x11u);
    db.close();
  }
  // The progress window named the last note read and counted all three: the record it was given
  // is the one kept.
  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].control(IDC_PROGRESS_NAME)->text, "n7");
  EXPECT_EQ(shown[0].control(IDC_PROGRESS_BAR)->progress_pos, 3);
  const auto log = sx::hotsync::end_session(false);
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "The note \"n7\" on the handheld has the same ID (7) as another note; both "
                      "are kept and this one is given a new ID."),
            log.end());
  sx::window::clear_script();
}

TEST_F(HandheldDatabaseTest, NotesAreWrittenInAscendingIdOrder) {
  put({}, 296);
  begin();
  SyncProperties props{};
  {
    HandheldNoteDatabase db(&props);
    ASSERT_EQ(db.open(kScribbixDatabase, false), 0);
    ASSERT_EQ(db.readAll(), 0);
    for (std::int32_t id : {50, -3, 30, 10}) {
      auto note = db.createRecord(nullptr);
      note->setNoteId(id);
      note->text(NoteRecord::kText).setDesktop("n" + std::to_string(id));
      db.insert(std::move(note));
    }
    ASSERT_EQ(db.writeAll(), 0);
    ASSERT_EQ(db.close(), 0);
  }
  (void)sx::hotsync::end_session(true);
  std::vector<std::int32_t> order;
  for (const auto& record : read_back(kScribbixDatabase).records) {
    NoteRecord note;
    ASSERT_TRUE(note.unpack(record.data.data(), record.data.size(), nullptr));
    order.push_back(note.noteId());
  }
  EXPECT_EQ(order, (std::vector<std::int32_t>{-3, 10, 30, 50}));
}

TEST_F(HandheldDatabaseTest, WriteAllWritesChangedNotesAndResetsMod) {
  put({{0x10, 7}, {0x11, 8}}, 296);
  begin();
  SyncProperties props{};
  {
    HandheldNoteDatabase db(&props);
    ASSERT_EQ(db.open(kScribbixDatabase, false), 0);
    ASSERT_EQ(db.readAll(), 0);
    ASSERT_EQ(db.writeAll(), 0);
  }
  (void)sx::hotsync::end_session(true);
  const auto back = read_back(kScribbixDatabase);
  ASSERT_EQ(back.records.size(), 2u);
  NoteRecord note;
  ASSERT_TRUE(note.unpack(back.records[0].data.data(), back.records[0].data.size(), nullptr));
  EXPECT_EQ(note.noteId(), 7);
  EXPECT_EQ(note.modValue(), 0u);  // the Mod bits were taken and cleared
  EXPECT_EQ(back.records[1].data[3], 0u);
}

TEST_F(HandheldDatabaseTest, ShortCategoryBlockIsLoggedAndCopiedWithoutOverrun) {
  put({{0x10, 7}}, 20);
  begin();
  SyncProperties props{};
  HandheldNoteDatabase db(&props);
  ASSERT_EQ(db.open(kScribbixDatabase, false), 0);
  EXPECT_EQ(db.categoryBlock()[19], 0x41);
  EXPECT_EQ(db.categoryBlock()[20], 0);
  EXPECT_EQ(db.categoryBlock()[295], 0);
  db.close();
  const auto log = sx::hotsync::end_session(false);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(),
            "The category block of \"ScribbixDB\" on the handheld is only 20 bytes long.");
}

TEST_F(HandheldDatabaseTest, CategoryBlockTooLargeForTheBufferIsKeptAsItIs) {
  put({{0x10, 7}}, 0xD900);
  begin();
  SyncProperties props{};
  {
    HandheldNoteDatabase db(&props);
    ASSERT_EQ(db.open(kScribbixDatabase, false), 0);
    ASSERT_EQ(db.readAll(), 0);
    db.setCategoryBlockChanged();
    ASSERT_EQ(db.writeAll(), 0);
  }
  (void)sx::hotsync::end_session(true);
  const auto back = read_back(kScribbixDatabase);
  ASSERT_TRUE(back.app_info.has_value());
  EXPECT_EQ(back.app_info->size(), 0xD900u);
  EXPECT_EQ(back.app_info->front(), 0x41);
}

TEST(NoteIdAllocatorTest, LastFollowsBaseAndWrapsToOne) {
  sx::testing::TempMachine machine;
  const DWORD first = next_note_id();
  EXPECT_EQ(first & 0xFFFFF, 1u);  // (seconds & 0x7FF) << 20, plus 1
  EXPECT_EQ(next_note_id(), first + 1);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorlan Software\\Scribbix", 0,
                          KEY_ALL_ACCESS, &key),
            0);
  const DWORD last = 0xFFFFFFFFu;
  RegSetValueExA(key, "Last", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&last), 4);
  RegCloseKey(key);
  EXPECT_EQ(next_note_id(), 1u);
}

class RegistrationTest : public HotSyncTest {
 protected:
  DWORD app_dword(const char* name) {
    HKEY key = nullptr;
    DWORD value = 0xdeadbeef, size = 4;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kApplicationKey, 0, KEY_READ, &key) == 0) {
      RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
      RegCloseKey(key);
    }
    return value;
  }
  std::string app_string(const char* name) {
    HKEY key = nullptr;
    char text[256] = {};
    DWORD size = sizeof text - 1;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kApplicationKey, 0, KEY_READ, &key) == 0) {
      RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
      RegCloseKey(key);
    }
    return text;
  }
  fs::path user_folder(const std::string& dir) {
    return sx::paths::to_host(sx::hotsync::hotsync_dir() + "\\" + dir + "\\VorlanScrib");
  }
};

TEST_F(RegistrationTest, RegisterWritesTheKeyAndKeepsAnExistingShowProgress) {
  ASSERT_EQ(DllRegisterServer(), 0);
  EXPECT_EQ(app_dword("Creator"), 0x56535871u);
  EXPECT_EQ(app_string("Conduit"), "SXOut.dll");
  EXPECT_EQ(app_string("Module"), "Scribbix");
  EXPECT_EQ(app_string("Directory"), "VorlanScrib");
  EXPECT_EQ(app_dword("Integrate"), 0u);
  EXPECT_EQ(app_dword("ShowProgress"), 0xFFFFFFFFu);
  EXPECT_EQ(app_string("UserName"), hotsync_test::kUser);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kApplicationKey, 0, KEY_ALL_ACCESS, &key), 0);
  const DWORD zero = 0;
  RegSetValueExA(key, "ShowProgress", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), 4);
  RegCloseKey(key);
  ASSERT_EQ(DllRegisterServer(), 0);
  EXPECT_EQ(app_dword("ShowProgress"), 0u);
}

TEST_F(RegistrationTest, RegisterFailsWithoutAHotSyncUser) {
  std::ofstream(sx::paths::to_host(sx::hotsync::hotsync_dir() + "\\users.dat"), std::ios::trunc)
      << "HotSync users 1\r\n";
  EXPECT_EQ(DllRegisterServer(), static_cast<long>(static_cast<std::int32_t>(0x80004005u)));
}

TEST_F(RegistrationTest, UnregisterDeletesStateFilesThenTheKey) {
  ASSERT_EQ(DllRegisterServer(), 0);
  const fs::path folder = user_folder(hotsync_test::kUserDir);
  fs::create_directories(folder);
  std::ofstream(folder / "Test User-Scribbix.VXS") << "x";
  ASSERT_EQ(DllUnregisterServer(), 0);
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(app_dword("Creator"), 0xdeadbeefu);
  EXPECT_EQ(DllUnregisterServer(), 0);  // nothing left: still 0
}

TEST_F(RegistrationTest, UnregisterDeletesNothingOutsideTheHotSyncDirectory) {
  ASSERT_EQ(DllRegisterServer(), 0);
  // Then users.dat names a directory that climbs out of HotSync's directory.
  std::ofstream(sx::paths::to_host(sx::hotsync::hotsync_dir() + "\\users.dat"), std::ios::trunc)
      << "HotSync users 1\r\n00001092\t..\\..\tTest User\r\n";
  const fs::path outside = sx::paths::to_host("C:\\VorlanScrib");
  fs::create_directories(outside);
  std::ofstream(outside / "keep.VXS") << "x";
  ASSERT_EQ(DllUnregisterServer(), 0);
  EXPECT_TRUE(fs::exists(outside / "keep.VXS"));
  EXPECT_EQ(app_dword("Creator"), 0xdeadbeefu);
}

// Polls the machine's window list for a "KittyHawk" window other than `old`, up to 20 s of real
// time: the window belongs to another process, which runs on the host's clock.
HWND wait_for_hotsync_window(HWND old) {
  for (int i = 0; i < 2000; ++i) {
    HWND found = FindWindowA(sx::hotsync::kWindowClass, nullptr);
    if (found != nullptr && found != old) return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return nullptr;
}

TEST_F(RegistrationTest, RegisterRestartsARunningHotSyncManager) {
  std::string starter = sx::hotsync::hotsync_dir() + "\\HotSync.exe";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION first{};
  ASSERT_TRUE(CreateProcessA(starter.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &first));
  HWND running = wait_for_hotsync_window(nullptr);
  ASSERT_NE(running, nullptr);

  ASSERT_EQ(DllRegisterServer(), 0);
  // The first HotSync Manager was asked to close and did; the second one was started from
  // "HotSyncPath".
  EXPECT_EQ(WaitForSingleObject(first.hProcess, INFINITE), WAIT_OBJECT_0);
  CloseHandle(first.hThread);
  CloseHandle(first.hProcess);
  HWND restarted = wait_for_hotsync_window(running);
  ASSERT_NE(restarted, nullptr);
  EXPECT_NE(SendMessageA(restarted, sx::hotsync::kRestartMessage, 1, 0), 0);  // close it again
}

}  // namespace
}  // namespace sx::conduit
