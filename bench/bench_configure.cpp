// Budget of the configuration program's status screen: all ten rows computed (a RETEST) on a
// machine with Outlook, HotSync with three users, every component installed, both add-ins
// registered and the first user's notes folder holding 10,000 notes: < 500 ms. The clock is
// virtual, so the 1000 ms pause with which the folder check lets Outlook go costs nothing here;
// the counter "virtual_ms" shows the time the refresh spent on that clock (the pause and the
// watcher's polls).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <vector>

#include "commands.h"
#include "component_checker.h"
#include "notes_setup.h"
#include "notes_store.h"
#include "objbase.h"
#include "sx/clock.h"
#include "sx/outlook/addins.h"
#include "sx/paths.h"
#include "sx/testing/temp_machine.h"
#include "sx/window.h"
#include "windows.h"

namespace {

// The checker of the benchmark: a check that would end the program stops the benchmark instead.
class Checker : public sx::configure::CComponentChecker {
 protected:
  void EndProgram(int) override {}
};

bool MachineTool(const sx::testing::TempMachine& machine, std::vector<std::string> args) {
  std::vector<std::string> line = {"sxmachine", "--machine", machine.root().string()};
  line.insert(line.end(), args.begin(), args.end());
  std::vector<const char*> argv;
  for (const std::string& a : line) argv.push_back(a.c_str());
  return sx::machine_tool::make_program()->run(static_cast<int>(argv.size()), argv.data()) == 0;
}

void SetDefault(HKEY root, const std::string& path, const std::string& text) {
  HKEY key = nullptr;
  if (RegCreateKeyA(root, path.c_str(), &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
}

bool Prepare(const sx::testing::TempMachine& machine, int notes) {
  for (const char* user : {"Ann", "Bob"}) {
    if (!MachineTool(machine, {"hotsync", "install"}) ||
        !MachineTool(machine, {"hotsync", "add-user", user}))
      return false;
  }
  if (!MachineTool(machine, {"system", "install", "--user", "Cy"})) return false;
  // The notes folder of the paired user, with its notes (Outlook has not opened it yet).
  const std::filesystem::path store = sx::paths::to_host(sx::machine_tool::notes_store_path("Cy"));
  std::filesystem::remove(store);
  sx::bench::make_notes_store(store, "Vorlan", notes);
  // Both add-ins registered with Outlook, loaded at start-up, served by the sample add-ins.
  const char* addins[][3] = {
      {sx::configure::kNotesAddInProgId, "{7A11ADD1-0000-4E11-9C1D-2B6E0F3A7DA1}",
       sx::configure::kNotesAddInName},
      {sx::configure::kMonitorAddInProgId, "{7A11ADD1-0000-4E11-9C1D-2B6E0F3A7DB2}",
       sx::configure::kMonitorAddInName}};
  const std::string server = "C:\\Program Files\\Vorlan\\Scribbix\\SampleAddIns.dll";
  std::filesystem::copy_file(SX_TEST_ADDINS_PATH, sx::paths::to_host(server));
  for (const auto& a : addins) {
    SetDefault(HKEY_CLASSES_ROOT, std::string(a[0]) + "\\CLSID", a[1]);
    SetDefault(HKEY_CLASSES_ROOT, std::string("CLSID\\") + a[1] + "\\InprocServer32", server);
    sx::outlook::addins::write({a[0], a[2], a[2], 3});
  }
  return true;
}

void BM_RefreshStatus(benchmark::State& state) {
  sx::testing::TempMachine machine;
  sx::window::set_host(sx::window::Host::kNone);
  if (!Prepare(machine, static_cast<int>(state.range(0)))) {
    state.SkipWithError("the machine could not be prepared");
    return;
  }
  CoInitialize(nullptr);
  {
    Checker checker;
    std::int64_t virtual_ms = 0;
    for (auto _ : state) {
      const std::int64_t started = sx::clock::now_ms();
      checker.RefreshStatus();
      virtual_ms += sx::clock::now_ms() - started;
    }
    for (int row = 0; row < sx::configure::kRowCount; ++row) {
      if (checker.GetRowState(row) != sx::configure::kGood) {
        state.SkipWithError(("row " + std::to_string(row + 1) + " is not good: " +
                             checker.GetRow(row).name + checker.GetRow(row).status)
                                .c_str());
      }
    }
    if (checker.GetRow(sx::configure::kRowFolder).info !=
        std::to_string(state.range(0)) + " Entries") {
      state.SkipWithError("the notes folder was not counted");
    }
    state.counters["virtual_ms"] =
        benchmark::Counter(static_cast<double>(virtual_ms), benchmark::Counter::kAvgIterations);
  }
  CoUninitialize();
}
BENCHMARK(BM_RefreshStatus)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
