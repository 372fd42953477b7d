// The conduit's share of a HotSync: 10,000 handheld notes read into a HandheldNoteDatabase
// (unpacked, Mod bits applied) and all written back (packed, one SyncWriteRec each). The second
// benchmark makes the same sync manager calls with the bytes as they are, without the conduit:
// the difference is the conduit's time. Budget: under 50 ms on top of the stand-in's own.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "hotsync/syncmgr.h"
#include "note_database.h"
#include "sx/hotsync.h"
#include "sx/testing/temp_machine.h"

namespace {

using namespace sx::conduit;
constexpr int kNotes = 10000;

struct Machine {
  sx::testing::TempMachine machine;
  std::filesystem::path handheld;
  Machine() {
    sx::hotsync::InstallOptions options;
    std::string why;
    (void)sx::hotsync::install_hotsync(options, &why);
    (void)sx::hotsync::add_user("Bench", 1, "", &why);
    handheld = sx::hotsync::handheld_dir("Bench");
    sx::hotsync::PdbDatabase db;
    db.name = kScribbixDatabase;
    db.version = 2;
    db.type = kDataType;
    db.creator = kScribbixCreator;
    db.app_info = std::vector<std::uint8_t>(kCategoryBlockSize, 0);
    for (int i = 0; i < kNotes; ++i) {
      NoteRecord note;
      note.setNoteId(1000 + i);
      note.setMod(0x200);
      note.text(NoteRecord::kText)
          .setDesktop("Note " + std::to_string(i) + "\r\nsecond line of a typical note body");
      std::vector<BYTE> bytes(kRecordBufferSize);
      bytes.resize(note.pack(bytes.data(), bytes.size()));
      db.records.push_back({0, static_cast<std::uint32_t>(0x100 + i), bytes});
    }
    (void)sx::hotsync::save_database(sx::hotsync::database_file(handheld, db.name), db, &why);
  }
  void begin() {
    std::string why;
    (void)sx::hotsync::begin_session(handheld, machine.root() / "log.txt", 1, &why);
  }
};

void BM_ConduitReadAndWriteBack10000Notes(benchmark::State& state) {
  Machine m;
  SyncProperties props{};
  for (auto _ : state) {
    m.begin();
    HandheldNoteDatabase db(&props);
    if (db.open(kScribbixDatabase, false) != 0 || db.readAll() != 0) {
      state.SkipWithError("read failed");
      break;
    }
    for (auto& [id, note] : db.notes()) note->setMod(0);  // every note changed
    if (db.writeAll() != 0) state.SkipWithError("write failed");
    state.PauseTiming();
    db.close();
    (void)sx::hotsync::end_session(false);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ConduitReadAndWriteBack10000Notes)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_StandInAloneReadAndWriteBack10000Records(benchmark::State& state) {
  Machine m;
  std::vector<BYTE> buffer(kRecordBufferSize);
  for (auto _ : state) {
    m.begin();
    BYTE handle = 0;
    SyncOpenDB(kScribbixDatabase, 0, &handle, 0xE0);
    WORD count = 0;
    SyncGetDBRecordCount(handle, &count);
    std::vector<RecordInfoBlock> infos(count);
    for (WORD i = 0; i < count; ++i) {
      RecordInfoBlock& info = infos[i];
      info.m_FileHandle = handle;
      info.m_RecIndex = i;
      info.m_pBytes = buffer.data();
      info.m_TotalBytes = static_cast<WORD>(buffer.size());
      SyncReadRecordByIndex(&info);
      SyncYieldCycles(1);
    }
    for (auto& info : infos) {
      info.m_pBytes = buffer.data();
      SyncWriteRec(&info);
      SyncYieldCycles(1);
    }
    SyncPurgeDeletedRecs(handle);
    SyncResetSyncFlags(handle);
    state.PauseTiming();
    SyncCloseDB(handle);
    (void)sx::hotsync::end_session(false);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StandInAloneReadAndWriteBack10000Records)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace
