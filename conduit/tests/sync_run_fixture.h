// Whole HotSyncs through the HotSync stand-in: HotSync Manager loads SXOut and calls OpenConduit;
// the desktop side is a database of the test, installed with set_desktop_database_factory. Two
// desktops: a scripted one (results and times in memory) and one shaped like the Outlook side (a
// folder of posts by key and the state file beside them).
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "conduit_run.h"
#include "hotsync_fixture.h"
#include "note_database.h"
#include "progress.h"
#include "registration.h"
#include "resources.h"
#include "settings.h"
#include "state_file.h"
#include "windows.h"

namespace sx::conduit::testing {

namespace fs = std::filesystem;
using hotsync_test::kUser;
using Lines = std::vector<std::string>;

// What the desktop of a run was told and did, and what it is to answer.
struct DesktopScript {
  long open_result = 0;
  long read_result = 0;
  bool changed = false;
  int opened = 0;
  int read = 0;
  int closed = 0;  // its own close ran (both desktops count here)
  std::string opened_path;
  // Runs inside the desktop's open, read, writes and state keeping ("open", "read", "write",
  // "save"): a test looks at the run from there. May throw.
  std::function<void(const std::string& where)> probe;
  // Handheld notes not yet written (still changed in memory) when the desktop's writes began;
  // -1 when they did not begin.
  int handheld_pending_at_desktop_write = -1;
};
inline DesktopScript g_desktop;

inline void probe(const std::string& where) {
  if (g_desktop.probe) g_desktop.probe(where);
}

inline void desktop_reads() {
  ++g_desktop.read;
  probe("read");
}

inline void desktop_writes(const NoteDatabase& desktop) {
  probe("write");
  int pending = 0;
  if (const NoteDatabase* handheld = desktop.counterpart()) {
    for (const auto& [id, note] : handheld->notes()) {
      if (!note->isDeletedOrArchived() && !note->isMarkedForDeletion() &&
          note->anyChangedInMemory()) {
        ++pending;
      }
    }
  }
  g_desktop.handheld_pending_at_desktop_write = pending;
}

// A desktop that keeps nothing: its open, read and change test answer from g_desktop.
class ScriptedDesktop : public NoteDatabase {
 public:
  explicit ScriptedDesktop(SyncProperties* p) : NoteDatabase("desktop", p, false, IDS_DESKTOP_DB) {}
  bool isOpen() const override { return true; }
  long open(const std::string& path, bool) override {
    ++g_desktop.opened;
    g_desktop.opened_path = path;
    probe("open");
    modification_time = g_desktop.changed ? 2 : 1;
    last_sync_time = 1;
    return g_desktop.open_result;
  }
  long readAll() override {
    desktop_reads();
    return g_desktop.read_result;
  }
  long writeAll() override {
    desktop_writes(*this);
    return NoteDatabase::writeAll();
  }
  long close() override {
    ++g_desktop.closed;
    return NoteDatabase::close();
  }
};

inline std::unique_ptr<NoteDatabase> make_scripted_desktop(SyncProperties* p) {
  return std::make_unique<ScriptedDesktop>(p);
}

// The Outlook folder of the posts desktop: text by key, the keys of archived posts.
inline std::map<std::int32_t, std::string> g_posts;
inline std::set<std::int32_t> g_archived_posts;
inline std::int32_t g_next_key = 7000;

// A note of the posts desktop. Its post is made with it, so it is never "new" to the writes; its
// record information carries the handheld record id of its note.
class PostNote : public NoteRecord {
 public:
  PostNote() { protect_in_state_file = true; }
  bool isNew() const override { return false; }
};

// A desktop shaped like the Outlook one: posts by key, the state file beside them. Reading marks
// what changed since the state file (a post gone or archived leaves its note deleted); a note made
// from another side is posted at once, with a new key from the allocator when its ID is
// provisional; the writes update, archive and delete posts; the state is kept when the run says so.
class PostsDesktop : public NoteDatabase {
 public:
  explicit PostsDesktop(SyncProperties* p) : NoteDatabase("desktop", p, false, IDS_DESKTOP_DB) {
    setIdAllocator(&keys_);
  }
  bool isOpen() const override { return true; }
  long open(const std::string& path, bool) override {
    ++g_desktop.opened;
    probe("open");
    state_path_ = state_file_path(properties_->m_PathName, path);
    const long r = read_state_file(state_path_, *this, [] { return std::make_unique<PostNote>(); });
    last_sync_time = modification_time;
    modification_time = last_sync_time + 1;  // Outlook cannot tell: always changed
    return r;
  }
  long readAll() override {
    desktop_reads();
    for (auto& [id, note] : notes_) note->setDeleted(true);
    for (const auto& [key, text] : g_posts) {
      if (g_archived_posts.count(key) != 0) continue;
      NoteRecord* note = find(key);
      if (note == nullptr) {
        auto made = std::make_unique<PostNote>();
        made->setNoteId(key);
        for (int i = NoteRecord::kDate; i < NoteRecord::kFieldCount; ++i) {
          made->field(static_cast<std::size_t>(i)).modified_here = true;
        }
        note = &admit(std::move(made));
      }
      note->setDeleted(false);
      if (note->text(NoteRecord::kText).desktop() != text) {
        note->text(NoteRecord::kText).setDesktop(text);
        note->text(NoteRecord::kText).modified_here = true;
      }
      note->clearChangedMarks();
    }
    return 0;
  }
  std::unique_ptr<NoteRecord> createRecord(const NoteRecord* from) override {
    auto note = std::make_unique<PostNote>();
    if (from != nullptr) note->copyFrom(*from);
    if (from != nullptr && (from->needsRewrite() || from->noteId() == 0)) {
      const std::int32_t key = newNoteId();
      if (key == 0) return nullptr;
      note->setNoteId(key);
      note->needs_rewrite = false;
    }
    g_posts[note->noteId()] = note->text(NoteRecord::kText).desktop();
    if ((note->attributes() & kAttrArchived) != 0) g_archived_posts.insert(note->noteId());
    note->clearChangedMarks();
    return note;
  }
  long writeAll() override {
    desktop_writes(*this);
    return NoteDatabase::writeAll();
  }
  long writeChangedRecord(NoteRecord& note) override {
    g_posts[note.noteId()] = note.text(NoteRecord::kText).desktop();
    return 0;
  }
  long handleArchivedRecord(NoteRecord& note) override {
    g_posts[note.noteId()] = note.text(NoteRecord::kText).desktop();
    g_archived_posts.insert(note.noteId());
    return 0;
  }
  long deleteRecord(NoteRecord& note) override {
    note.markForDeletion();
    g_posts.erase(note.noteId());
    return 0;
  }
  long saveState() override {
    probe("save");
    return write_state_file(state_path_, *this);
  }
  long close() override {
    ++g_desktop.closed;
    return NoteDatabase::close();
  }

 private:
  struct Keys : NoteIdAllocator {
    DWORD draw() override { return static_cast<DWORD>(g_next_key++); }
  };
  Keys keys_;
  std::string state_path_;
};

inline std::unique_ptr<NoteDatabase> make_posts_desktop(SyncProperties* p) {
  return std::make_unique<PostsDesktop>(p);
}

class SyncRunTest : public hotsync_test::HotSyncTest {
 protected:
  void SetUp() override {
    HotSyncTest::SetUp();
    g_desktop = DesktopScript{};
    set_desktop_database_factory(&make_scripted_desktop);
    set_path("C:\\Program Files\\Scribbix");
    register_sxout();
  }
  void TearDown() override {
    set_desktop_database_factory(nullptr);
    g_desktop = DesktopScript{};
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
  // Registration leaves ShowProgress on; these runs switch it off unless a test says otherwise.
  void register_sxout() {
    std::error_code ec;
    fs::create_symlink(SX_CONDUIT_LIBRARY,
                       sx::paths::to_host(sx::hotsync::hotsync_dir() + "\\SXOut.dll"), ec);
    ASSERT_FALSE(ec) << ec.message();
    ASSERT_EQ(register_conduit(), 0);
    set_setting("ShowProgress", 0);
  }
  void set_setting(const char* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kApplicationKey, 0, KEY_ALL_ACCESS, &key), 0);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    RegCloseKey(key);
  }
  void put_sync_type(int type) {
    ASSERT_TRUE(
        sx::hotsync::write_action(hotsync_test::kUserDir, "ApplicationVorScrib", {type, true}));
  }
  // The packed bytes of a handheld note.
  static std::vector<BYTE> note_bytes(std::int32_t id, const std::string& text, DWORD mod = 0) {
    NoteRecord note;
    note.setNoteId(id);
    note.setMod(mod);
    note.text(NoteRecord::kText).setDesktop(text);
    std::vector<BYTE> bytes(kRecordBufferSize);
    bytes.resize(note.pack(bytes.data(), bytes.size()));
    return bytes;
  }
  // A "ScribbixDB" with the given creator and version and `n` notes "note <i>" (IDs 100 + i,
  // record ids 0x200 + i).
  void put_notes(int n, DWORD creator = kScribbixCreator, WORD version = 2,
                 const std::string& name = kScribbixDatabase) {
    sx::hotsync::PdbDatabase db;
    db.name = name;
    db.version = version;
    db.type = kDataType;
    db.creator = creator;
    db.seed = 0x500;
    for (int i = 0; i < n; ++i) {
      db.records.push_back({0, static_cast<std::uint32_t>(0x200 + i),
                            note_bytes(100 + i, "note " + std::to_string(i))});
    }
    put_database(db);
  }
  // Makes the handheld database unchanged since the last sync (modification before last sync and
  // backup), the last sync with this PC.
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
  // Runs a HotSync; the log lines the conduit wrote (between HotSync's own first and last lines).
  std::vector<std::string> conduit_log(long* result = nullptr) {
    sx::hotsync::HotSyncReport report;
    (void)sx::hotsync::run_hotsync(kUser, &report);
    if (result != nullptr) *result = report.conduits.empty() ? -999 : report.conduits[0].result;
    std::vector<std::string> lines;
    for (std::size_t i = 1; i + 1 < report.log.size(); ++i) lines.push_back(report.log[i]);
    return lines;
  }
};

// Whole runs with a desktop of posts and its state file, LogChanges on.
class PostsRunTest : public SyncRunTest {
 protected:
  void SetUp() override {
    SyncRunTest::SetUp();
    g_posts.clear();
    g_archived_posts.clear();
    g_next_key = 7000;
    set_desktop_database_factory(&make_posts_desktop);
    set_setting("LogChanges", 1);
  }
  // A handheld of `n` notes, synchronised once with the desktop (which then holds them too).
  void synced(int n) {
    put_notes(n);
    long result = -1;
    conduit_log(&result);
    ASSERT_EQ(result, 0);
  }
  // Changes a handheld note's text as the handheld application does (dirty, Mod bit of the text).
  void edit_handheld(std::int32_t id, const std::string& text) {
    auto db = read_back(kScribbixDatabase);
    for (auto& record : db.records) {
      NoteRecord note;
      if (!note.unpack(record.data.data(), record.data.size(), nullptr) || note.noteId() != id)
        continue;
      record.data = note_bytes(id, text, 1u << NoteRecord::kText);
      record.attributes |= 0x40;
    }
    put_database(db);
  }
  void add_handheld(const std::string& text, std::uint32_t record_id) {
    auto db = read_back(kScribbixDatabase);
    db.records.push_back({0x40, record_id, note_bytes(0, text)});
    put_database(db);
  }
  void delete_handheld(std::int32_t id) {
    auto db = read_back(kScribbixDatabase);
    for (auto& record : db.records) {
      NoteRecord note;
      if (note.unpack(record.data.data(), record.data.size(), nullptr) && note.noteId() == id) {
        record.attributes |= 0x80;
      }
    }
    put_database(db);
  }
  // The handheld's live notes after the run: note ID -> text.
  std::map<std::int32_t, std::string> handheld_notes() {
    std::map<std::int32_t, std::string> out;
    for (const auto& record : read_back(kScribbixDatabase).records) {
      if ((record.attributes & 0x80) != 0) continue;
      NoteRecord note;
      EXPECT_TRUE(note.unpack(record.data.data(), record.data.size(), nullptr));
      EXPECT_EQ(out.count(note.noteId()), 0u) << "note ID " << note.noteId() << " twice";
      out[note.noteId()] = note.text(NoteRecord::kText).desktop();
    }
    return out;
  }
  std::string state_file() const {
    return sx::paths::to_host(sx::hotsync::hotsync_dir() + "\\" + hotsync_test::kUserDir +
                              "\\VorlanScrib\\Test User-Scribbix.VXS");
  }
  // The state file's bytes ("" when there is none).
  std::string state_bytes() const {
    std::ifstream in(state_file(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

}  // namespace sx::conduit::testing
