// A HotSync in which the test conduit reads all records of a 10,000-record database and rewrites
// 1,000 of them: HotSync Manager's run (conduit load, reads, writes, commit of the file) end to
// end. Budget: under 100 ms.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "hotsync/synctypes.h"
#include "sx/hotsync.h"
#include "sx/paths.h"
#include "sx/testing/temp_machine.h"
#include "windows.h"

namespace {

namespace fs = std::filesystem;

constexpr DWORD kCreator = 0x54737443;  // 'TstC'

void register_conduit() {
  fs::copy_file(SX_TEST_CONDUIT, sx::paths::to_host(sx::hotsync::hotsync_dir() + "\\TestCond.dll"),
                fs::copy_options::overwrite_existing);
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\U.S. Robotics\\Pilot Desktop\\ApplicationTest", 0,
                  nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  const DWORD creator = kCreator;
  RegSetValueExA(key, "Creator", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&creator), 4);
  for (auto [name, value] : {std::pair<const char*, const char*>{"Conduit", "TestCond.dll"},
                             {"Directory", "TestCond"},
                             {"Mode", "rewrite"}}) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(std::strlen(value) + 1));
  }
  RegCloseKey(key);
}

void BM_HotSyncReadAllRewriteTenth(benchmark::State& state) {
  sx::testing::TempMachine machine;
  std::string why;
  if (!sx::hotsync::install_hotsync({}, &why) ||
      !sx::hotsync::add_user("Bench", 1, "Bench", &why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  register_conduit();
  sx::hotsync::PdbDatabase db;
  db.name = "TestDB";
  db.version = 2;
  db.type = 0x44415441;
  db.creator = kCreator;
  db.seed = 0x20000;
  for (int i = 0; i < 10000; ++i) {
    std::string text = "Note " + std::to_string(i) + ": " + std::string(80, 'a' + i % 26);
    db.records.push_back({static_cast<std::uint8_t>(i % 16), static_cast<std::uint32_t>(i + 1),
                          std::vector<std::uint8_t>(text.begin(), text.end())});
  }
  const fs::path file = sx::hotsync::database_file(sx::hotsync::handheld_dir("Bench"), "TestDB");
  for (auto _ : state) {
    state.PauseTiming();
    if (!sx::hotsync::save_database(file, db, &why)) state.SkipWithError(why.c_str());
    state.ResumeTiming();
    sx::hotsync::HotSyncReport report;
    if (sx::hotsync::run_hotsync("Bench", &report) != 0 || !report.conduits.at(0).ran) {
      state.SkipWithError("the HotSync failed");
      break;
    }
  }
}
BENCHMARK(BM_HotSyncReadAllRewriteTenth)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

}  // namespace
