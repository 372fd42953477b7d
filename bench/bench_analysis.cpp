// The merge and the desktop state file.
// - A two-way analysis of n notes on each side, 10% changed on the handheld and another 10% on the
//   desktop (n = 1,000 / 10,000 / 100,000). Budget: the cost per note (ns_per_note) grows less
//   than 1.5 times from 1,000 to 100,000 notes.
// - Writing a 10,000-note state file (every note enciphered) and reading it back. Budget: 15 ms.
// - DES alone as the state file uses it (10,000 notes of ten blocks, both ways).
// The databases are built outside the timed part.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "des.h"
#include "note_database.h"
#include "resources.h"
#include "settings.h"
#include "state_file.h"
#include "sx/testing/temp_machine.h"
#include "windows.h"

namespace {

using namespace sx::conduit;

std::unique_ptr<NoteRecord> note(std::int32_t id, const std::string& text, bool changed) {
  auto n = std::make_unique<NoteRecord>();
  n->setNoteId(id);
  n->text(NoteRecord::kText).setDesktop(text);
  n->category().set(id % 16);
  n->protect_in_state_file = true;
  n->clearChangedMarks();
  if (changed) n->text(NoteRecord::kText).modified_here = true;
  return n;
}

std::string body(int i) {
  return "Note " + std::to_string(i) + "\r\nsecond line of a typical note body";
}

void BM_TwoWayAnalysis(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  settings() = ConduitSettings{};  // LogChanges off, LogConflicts on (no conflicts here)
  for (auto _ : state) {
    state.PauseTiming();
    auto handheld =
        std::make_unique<NoteDatabase>(kScribbixDatabase, nullptr, true, IDS_HANDHELD_DB);
    auto desktop = std::make_unique<NoteDatabase>("desktop", nullptr, false, IDS_DESKTOP_DB);
    for (int i = 0; i < n; ++i) {
      const bool on_handheld = i % 10 == 0;
      const bool on_desktop = i % 10 == 5;
      handheld->insert(note(i + 1, on_handheld ? body(i) + " (handheld)" : body(i), on_handheld));
      desktop->insert(note(i + 1, on_desktop ? body(i) + " (desktop)" : body(i), on_desktop));
    }
    state.ResumeTiming();
    benchmark::DoNotOptimize(handheld->synchronizeWith(*desktop));
    state.PauseTiming();
    handheld.reset();
    desktop.reset();
    state.ResumeTiming();
  }
  state.SetComplexityN(n);
  state.counters["ns_per_note"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}
BENCHMARK(BM_TwoWayAnalysis)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oNLogN)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_StateFileWriteAndRead(benchmark::State& state) {
  sx::testing::TempMachine machine;
  CreateDirectoryA("C:\\State", nullptr);
  const int n = static_cast<int>(state.range(0));
  NoteDatabase desktop("desktop", nullptr, false, IDS_DESKTOP_DB);
  for (int i = 0; i < n; ++i) desktop.insert(note(i + 1, body(i), false));
  for (auto _ : state) {
    if (write_state_file("C:\\State\\Bench-Scribbix.VXS", desktop) != 0) {
      state.SkipWithError("write failed");
      break;
    }
    NoteDatabase back("desktop", nullptr, false, IDS_DESKTOP_DB);
    if (read_state_file("C:\\State\\Bench-Scribbix.VXS", back) != 0 ||
        back.notes().size() != static_cast<std::size_t>(n)) {
      state.SkipWithError("read failed");
      break;
    }
  }
}

// DES as the state file uses it: 10,000 notes of 80 enciphered bytes, enciphered and deciphered.
void BM_DesStateFileNotes(benchmark::State& state) {
  const DesKeySchedule key = des_key_schedule(kStateFileKey);
  std::vector<std::uint8_t> note(80, 0x5A);
  for (auto _ : state) {
    for (int i = 0; i < 10000; ++i) {
      des_ecb_encrypt(key, note.data(), note.size());
      des_ecb_decrypt(key, note.data(), note.size());
    }
    benchmark::DoNotOptimize(note.data());
  }
  state.counters["ns_per_block"] =
      benchmark::Counter(2.0 * 10000 * 10, benchmark::Counter::kIsIterationInvariantRate |
                                               benchmark::Counter::kInvert);
}
BENCHMARK(BM_DesStateFileNotes)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_StateFileWriteAndRead)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
