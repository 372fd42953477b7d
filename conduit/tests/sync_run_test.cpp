// Whole HotSyncs through the HotSync stand-in: HotSync Manager loads SXOut and calls OpenConduit;
// the desktop side is an in-memory database of the test. The HotSync log is checked line by line.
#include <gtest/gtest.h>

#include "conduit_run.h"
#include "hotsync_fixture.h"
#include "note_database.h"
#include "registration.h"
#include "resources.h"
#include "windows.h"

namespace sx::conduit {
namespace {

using hotsync_test::kUser;
namespace fs = std::filesystem;

// The desktop side of the tests: notes and times in memory.
struct DesktopScript {
  long open_result = 0;
  long read_result = 0;
  bool changed = false;
  int opened = 0;
  int read = 0;
  std::string opened_path;
};
DesktopScript g_desktop;

class MemoryDesktop : public NoteDatabase {
 public:
  explicit MemoryDesktop(SyncProperties* p) : NoteDatabase("desktop", p, false, IDS_DESKTOP_DB) {}
  bool isOpen() const override { return true; }
  long open(const std::string& path, bool) override {
    ++g_desktop.opened;
    g_desktop.opened_path = path;
    modification_time = g_desktop.changed ? 2 : 1;
    last_sync_time = 1;
    return g_desktop.open_result;
  }
  long readAll() override {
    ++g_desktop.read;
    return g_desktop.read_result;
  }
};

std::unique_ptr<NoteDatabase> make_desktop(SyncProperties* p) {
  return std::make_unique<MemoryDesktop>(p);
}

class SyncRunTest : public hotsync_test::HotSyncTest {
 protected:
  void SetUp() override {
    HotSyncTest::SetUp();
    g_desktop = DesktopScript{};
    set_desktop_database_factory(&make_desktop);
    set_path("C:\\Program Files\\Scribbix");
    register_sxout();
  }
  void TearDown() override {
    set_desktop_database_factory(nullptr);
    HotSyncTest::TearDown();
  }
  void set_path(const char* path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorlan Software\\Scribbix", 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              0);
    if (path != nullptr) {
      RegSetValueExA(key, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                     static_cast<DWORD>(strlen(path) + 1));
    } else {
      RegDeleteValueA(key, "Path");
    }
    RegCloseKey(key);
  }
  // Registers as DllRegisterServer does; "SXOut.dll" in HotSync's directory is a link to this very
  // library, so the HotSync stand-in loads the copy the test installed its desktop side into.
  void register_sxout() {
    std::error_code ec;
    fs::create_symlink(SX_CONDUIT_LIBRARY,
                       sx::paths::to_host(sx::hotsync::hotsync_dir() + "\\SXOut.dll"), ec);
    ASSERT_FALSE(ec) << ec.message();
    ASSERT_EQ(register_conduit(), 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kApplicationKey, 0, KEY_ALL_ACCESS, &key), 0);
    const DWORD off = 0;
    RegSetValueExA(key, "ShowProgress", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), 4);
    RegCloseKey(key);
  }
  void put_sync_type(int type) {
    ASSERT_TRUE(
        sx::hotsync::write_action(hotsync_test::kUserDir, "ApplicationVorScrib", {type, true}));
  }
  // A "ScribbixDB" with the given creator and version and `n` notes; unchanged since the last sync
  // when `unchanged` (modification before last sync and backup).
  void put_notes(int n, DWORD creator = kScribbixCreator, WORD version = 2,
                 const std::string& name = kScribbixDatabase) {
    sx::hotsync::PdbDatabase db;
    db.name = name;
    db.version = version;
    db.type = kDataType;
    db.creator = creator;
    db.seed = 0x500;
    for (int i = 0; i < n; ++i) {
      NoteRecord note;
      note.setNoteId(100 + i);
      note.text(NoteRecord::kText).setDesktop("note " + std::to_string(i));
      std::vector<BYTE> bytes(kRecordBufferSize);
      bytes.resize(note.pack(bytes.data(), bytes.size()));
      db.records.push_back({0, static_cast<std::uint32_t>(0x200 + i), bytes});
    }
    put_database(db);
  }
  void mark_unchanged() {
    auto db = read_back(kScribbixDatabase);
    const DWORD now = sx::hotsync::desktop_palm_now();
    db.modified = now - 1000;
    db.backed_up = now - 10;
    put_database(db);
    sx::hotsync::DeviceInfo device;
    std::string why;
    ASSERT_TRUE(sx::hotsync::read_device(handheld(), &device, &why)) << why;
    device.last_sync_time = now - 10;
    HKEY core = nullptr;
    DWORD pc = 0, size = 4;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, sx::hotsync::kCoreKey, 0, KEY_READ, &core), 0);
    RegQueryValueExA(core, "PCID", nullptr, nullptr, reinterpret_cast<BYTE*>(&pc), &size);
    RegCloseKey(core);
    device.last_sync_pc = pc;
    ASSERT_TRUE(sx::hotsync::write_device(handheld(), device, &why)) << why;
  }
  // The log lines the conduit wrote (between HotSync's own first and last lines).
  std::vector<std::string> conduit_log(long* result = nullptr) {
    sx::hotsync::HotSyncReport report;
    const long r = sx::hotsync::run_hotsync(kUser, &report);
    if (result != nullptr) *result = report.conduits.empty() ? -999 : report.conduits[0].result;
    (void)r;
    std::vector<std::string> lines;
    for (std::size_t i = 1; i + 1 < report.log.size(); ++i) lines.push_back(report.log[i]);
    return lines;
  }
};

TEST_F(SyncRunTest, NormalRunReadsBothSidesAndLogsStartDatabaseAndFinish) {
  put_notes(3);
  long result = -1;
  const auto log = conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"[start] ", "Synchronizing database \"ScribbixDB\".",
                                           "[finished] ScribbixOutlook"}));
  EXPECT_EQ(g_desktop.read, 1);
  EXPECT_EQ(g_desktop.opened_path, "C:\\Program Files\\Scribbix\\Test User-Scribbix.sxz");
  // Until the merge is built nothing is written: the records keep their bytes and IDs.
  const auto back = read_back(kScribbixDatabase);
  ASSERT_EQ(back.records.size(), 3u);
  EXPECT_EQ(back.records[0].unique_id, 0x200u);
}

TEST_F(SyncRunTest, SyncTypeSixDoesNothingAtAll) {
  put_notes(1);
  put_sync_type(6);
  long result = -1;
  EXPECT_TRUE(conduit_log(&result).empty());
  EXPECT_EQ(result, 0);
  EXPECT_EQ(g_desktop.opened, 0);
}

TEST_F(SyncRunTest, WrongCreatorLogs33AndReturns400B) {
  put_notes(1, 0x41424344);
  put_notes(0, kScribbixCreator, 2, "ScribbixAux");  // so that HotSync runs the conduit
  long result = -1;
  EXPECT_EQ(conduit_log(&result),
            (std::vector<std::string>{
                "[start] ", "Synchronizing database \"ScribbixDB\".",
                "The \"ScribbixDB\" database on the handheld does not belong to Scribbix.",
                "[failed] ScribbixOutlook"}));
  EXPECT_EQ(result, 0x400B);
  EXPECT_EQ(g_desktop.opened, 0);
}

TEST_F(SyncRunTest, WrongVersionLogs44WithTheFoundVersion) {
  put_notes(1, kScribbixCreator, 3);
  long result = -1;
  EXPECT_EQ(conduit_log(&result),
            (std::vector<std::string>{
                "[start] ", "Synchronizing database \"ScribbixDB\".",
                "The \"ScribbixDB\" database on the handheld is version 3.  The conduit can only "
                "handle version 2.  Check the Vorlan web site for the latest version.",
                "[failed] ScribbixOutlook"}));
  EXPECT_EQ(result, 0x400B);
}

TEST_F(SyncRunTest, MissingDatabaseLogs37AsAnErrorAndReturnsTheSyncManagersCode) {
  put_notes(0, kScribbixCreator, 2, "ScribbixAux");
  long result = -1;
  EXPECT_EQ(conduit_log(&result),
            (std::vector<std::string>{
                "[start] ", "Synchronizing database \"ScribbixDB\".",
                "[error] The Scribbix database does not exist on your Palm device.  Run Scribbix "
                "on your Palm device before performing your first synchronization.",
                "[failed] ScribbixOutlook"}));
  EXPECT_EQ(result, 0x4003);
}

TEST_F(SyncRunTest, MissingPathReturns400EAfterTheStartLineOnly) {
  put_notes(1);
  set_path(nullptr);
  long result = -1;
  EXPECT_EQ(conduit_log(&result),
            (std::vector<std::string>{"[start] ", "[failed] ScribbixOutlook"}));
  EXPECT_EQ(result, 0x400E);
}

TEST_F(SyncRunTest, FastSyncWithNothingChangedLogs74AndReadsNothing) {
  put_notes(2);
  put_sync_type(0);
  mark_unchanged();
  long result = -1;
  EXPECT_EQ(conduit_log(&result),
            (std::vector<std::string>{"[start] ", "Synchronizing database \"ScribbixDB\".",
                                      "Desktop and handheld databases have not changed since "
                                      "the last synchronization.",
                                      "[finished] ScribbixOutlook"}));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(g_desktop.read, 0);
}

TEST_F(SyncRunTest, SlowSyncWithNothingChangedStillReads) {
  put_notes(2);
  mark_unchanged();
  sx::hotsync::DeviceInfo device;
  std::string why;
  ASSERT_TRUE(sx::hotsync::read_device(handheld(), &device, &why)) << why;
  device.last_sync_pc = 12345;  // another PC: HotSync asks for a slow sync (type 1)
  ASSERT_TRUE(sx::hotsync::write_device(handheld(), device, &why)) << why;
  const auto log = conduit_log();
  EXPECT_EQ(log.size(), 3u);
  EXPECT_EQ(g_desktop.read, 1);
}

TEST_F(SyncRunTest, DesktopThatCannotOpenLogs39) {
  put_notes(1);
  g_desktop.open_result = 4101;
  long result = -1;
  const auto log = conduit_log(&result);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[2], "[error] Failed to open database on the desktop.");
  EXPECT_EQ(result, 4101);
}

TEST_F(SyncRunTest, DamagedHandheldNoteStopsTheRunWithAClearLineAndNothingIsWritten) {
  put_notes(2);
  auto db = read_back(kScribbixDatabase);
  db.records[1].data.resize(27);  // the note text lost its NUL
  db.records[1].data.back() = 'x';
  put_database(db);
  long result = -1;
  const auto log = conduit_log(&result);
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[2],
            "[error] The note at index 1 on the handheld is damaged (field 7 ends after "
            "the record's 27 bytes).");
  EXPECT_EQ(log[3], "[error] Failed to read database from handheld.");
  EXPECT_EQ(result, 0x4015);
  EXPECT_EQ(read_back(kScribbixDatabase).records.size(), 2u);
}

TEST_F(SyncRunTest, UserNameWithSeparatorsStaysInItsFolder) {
  EXPECT_EQ(desktop_file_name("..\\..\\x/y:z"), ".._.._x_y_z-Scribbix.sxz");
  EXPECT_EQ(desktop_file_name(".."), "..-Scribbix.sxz");
}

TEST_F(SyncRunTest, WithoutADesktopSideTheProductLogs39) {
  set_desktop_database_factory(nullptr);
  put_notes(1);
  long result = -1;
  const auto log = conduit_log(&result);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[2], "[error] Failed to open database on the desktop.");
  EXPECT_EQ(result, 4101);
}

}  // namespace
}  // namespace sx::conduit
