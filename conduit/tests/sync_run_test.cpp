// Whole HotSyncs through the HotSync stand-in: HotSync Manager loads SXOut and calls OpenConduit;
// the desktop side is an in-memory database of the test. The HotSync log is checked line by line.
#include <gtest/gtest.h>

#include "conduit_run.h"
#include "hotsync_fixture.h"
#include "note_database.h"
#include "registration.h"
#include "resources.h"
#include "settings.h"
#include "state_file.h"
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

// A desktop side shaped like the Outlook one: posts by key, the state file beside them. Reading
// marks what changed since the state file; a note made from another side is posted at once (with a
// new key when its ID is provisional); the writes update and delete posts, then save the state.
std::map<std::int32_t, std::string> g_posts;
int g_next_key = 7000;

class PostsDesktop : public NoteDatabase {
 public:
  explicit PostsDesktop(SyncProperties* p) : NoteDatabase("desktop", p, false, IDS_DESKTOP_DB) {}
  bool isOpen() const override { return true; }
  long open(const std::string& path, bool) override {
    state_path_ = state_file_path(properties_->m_PathName, path);
    const long r = read_state_file(state_path_, *this, [] {
      auto note = make_state_note();
      return note;
    });
    last_sync_time = modification_time;
    modification_time = last_sync_time + 1;
    return r;
  }
  long readAll() override {
    for (auto& [id, note] : notes_) note->setDeleted(true);
    for (const auto& [key, text] : g_posts) {
      NoteRecord* note = find(key);
      if (note == nullptr) {
        auto made = make_state_note();
        made->setNoteId(key);
        for (int i = NoteRecord::kDate; i < NoteRecord::kFieldCount; ++i) {
          made->field(static_cast<std::size_t>(i)).modified_here = true;
        }
        note = made.get();
        insert(std::move(made));
      }
      note->setDeleted(false);
      note->info().m_RecId = static_cast<DWORD>(key);
      if (note->text(NoteRecord::kText).desktop() != text) {
        note->text(NoteRecord::kText).setDesktop(text);
        note->text(NoteRecord::kText).modified_here = true;
      }
      note->clearChangedMarks();
    }
    return 0;
  }
  std::unique_ptr<NoteRecord> createRecord(const NoteRecord* from) override {
    auto note = NoteDatabase::createRecord(from);
    note->protect_in_state_file = true;
    if (from != nullptr && (from->needsRewrite() || from->noteId() == 0)) {
      while (find(g_next_key) != nullptr) ++g_next_key;
      note->setNoteId(g_next_key++);
    }
    note->info().m_RecId = static_cast<DWORD>(note->noteId());
    g_posts[note->noteId()] = note->text(NoteRecord::kText).desktop();
    note->clearChangedMarks();
    return note;
  }
  long writeChangedRecord(NoteRecord& note) override {
    g_posts[note.noteId()] = note.text(NoteRecord::kText).desktop();
    return 0;
  }
  long deleteRecord(NoteRecord& note) override {
    note.markForDeletion();
    g_posts.erase(note.noteId());
    return 0;
  }
  long writeAll() override {
    const long r = NoteDatabase::writeAll();
    const long saved = write_state_file(state_path_, *this);
    return r != 0 ? r : saved;
  }

 private:
  std::string state_path_;
};

std::unique_ptr<NoteDatabase> make_posts_desktop(SyncProperties* p) {
  return std::make_unique<PostsDesktop>(p);
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
  // The in-memory desktop keeps nothing: the notes stay as they are on the handheld.
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

// Whole runs with a desktop of posts and its state file.
class PostsRunTest : public SyncRunTest {
 protected:
  void SetUp() override {
    SyncRunTest::SetUp();
    g_posts.clear();
    set_desktop_database_factory(&make_posts_desktop);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kApplicationKey, 0, KEY_ALL_ACCESS, &key), 0);
    const DWORD on = 1;
    RegSetValueExA(key, "LogChanges", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), 4);
    RegCloseKey(key);
  }
  // The handheld's notes after the run: note ID -> text.
  std::map<std::int32_t, std::string> handheld_notes() {
    std::map<std::int32_t, std::string> out;
    for (const auto& record : read_back(kScribbixDatabase).records) {
      if ((record.attributes & 0x80) != 0) continue;
      NoteRecord note;
      EXPECT_TRUE(note.unpack(record.data.data(), record.data.size(), nullptr));
      out[note.noteId()] = note.text(NoteRecord::kText).desktop();
    }
    return out;
  }
  std::string state_file() const {
    return sx::paths::to_host(sx::hotsync::hotsync_dir() + "\\" + hotsync_test::kUserDir +
                              "\\VorlanScrib\\Test User-Scribbix.VXS");
  }
};

TEST_F(PostsRunTest, TwoWayRunCopiesBothWaysRenumbersAProvisionalNoteAndSavesTheState) {
  put_notes(2);
  auto db = read_back(kScribbixDatabase);
  db.records[1].data[4] = db.records[1].data[5] = db.records[1].data[6] = db.records[1].data[7] = 0;
  put_database(db);  // the second note has no ID yet
  g_posts[9] = "from the desktop";
  long result = -1;
  const auto log = conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"[start] ", "Synchronizing database \"ScribbixDB\".",
                                           "The note \"note 1\" has been added to the desktop",
                                           "The note \"note 0\" has been added to the desktop",
                                           "The note \"from the desktop\" has been added to the "
                                           "handheld",
                                           "[finished] ScribbixOutlook"}));
  const std::map<std::int32_t, std::string> expected{
      {9, "from the desktop"}, {100, "note 0"}, {7000, "note 1"}};
  EXPECT_EQ(g_posts, expected);
  EXPECT_EQ(handheld_notes(), expected);  // the provisional ID was written back as 7000
  EXPECT_TRUE(std::filesystem::exists(state_file()));

  // A second run changes nothing and logs no change.
  g_desktop = DesktopScript{};
  const auto again = conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(again.size(), 3u);
  EXPECT_EQ(g_posts, expected);
  EXPECT_EQ(handheld_notes(), expected);

  // A post deleted in Outlook is deleted from the handheld at the next run.
  g_posts.erase(100);
  conduit_log(&result);
  EXPECT_EQ(handheld_notes().count(100), 0u);
  EXPECT_EQ(handheld_notes().size(), 2u);
}

TEST_F(PostsRunTest, HandheldOverwritesDesktopDeletesTheDesktopsExtras) {
  put_notes(1);
  g_posts[100] = "edited on the desktop";
  g_posts[55] = "only on the desktop";
  put_sync_type(2);
  long result = -1;
  const auto log = conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(g_posts, (std::map<std::int32_t, std::string>{{100, "note 0"}}));
  EXPECT_EQ(handheld_notes(), (std::map<std::int32_t, std::string>{{100, "note 0"}}));
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "The note \"only on the desktop\" has been deleted from the desktop"),
            log.end());
}

TEST_F(PostsRunTest, DesktopOverwritesHandheldDeletesTheHandheldsExtras) {
  put_notes(2);
  g_posts[101] = "desktop's version";
  put_sync_type(3);
  long result = -1;
  conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(handheld_notes(), (std::map<std::int32_t, std::string>{{101, "desktop's version"}}));
  EXPECT_EQ(g_posts.size(), 1u);
}

TEST_F(PostsRunTest, ADamagedStateFileStopsTheRunAndNothingIsOverwritten) {
  put_notes(2);
  g_posts[100] = "note 0";
  long result = -1;
  conduit_log(&result);
  ASSERT_EQ(result, 0);
  const auto host = state_file();
  std::filesystem::resize_file(host, std::filesystem::file_size(host) - 3);
  g_posts[100] = "changed in Outlook";
  const auto handheld_before = read_back(kScribbixDatabase);
  const auto log = conduit_log(&result);
  EXPECT_EQ(result, 0x4005);
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[2].rfind("[error] The desktop state file \"C:\\", 0), 0u) << log[2];
  EXPECT_NE(log[2].find("Test User-Scribbix.VXS\" is damaged (record 2: the file ends inside its "
                        "note).  Nothing was synchronized; remove or rename the file to "
                        "synchronize again."),
            std::string::npos)
      << log[2];
  EXPECT_EQ(log[3], "[error] Failed to open database on the desktop.");
  EXPECT_EQ(read_back(kScribbixDatabase).records.size(), handheld_before.records.size());
  EXPECT_EQ(handheld_notes().at(100), "note 0");
  EXPECT_EQ(g_posts.at(100), "changed in Outlook");

  // Recovery: the file removed, the next run carries the Outlook change and loses nothing.
  std::filesystem::remove(host);
  conduit_log(&result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(handheld_notes(),
            (std::map<std::int32_t, std::string>{{100, "changed in Outlook"}, {101, "note 1"}}));
}

}  // namespace
}  // namespace sx::conduit
