// Registry read and write costs on a key of 1,000 values (the file then holds all of them), and
// deleting whole trees: a chain as deep as keys may go (512 levels) and 2,000 keys side by side.
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

#include "sx/machine.h"
#include "sx/registry_file.h"
#include "sx/testing/temp_machine.h"
#include "win32/registry.h"

namespace {

constexpr const char* kKey = "Software\\Vorlan Software\\Scribbix";

// A fresh machine whose registry key holds 1,000 values.
class ThousandValues {
 public:
  ThousandValues() {
    HKEY key = nullptr;
    RegCreateKeyA(HKEY_LOCAL_MACHINE, kKey, &key);
    for (int i = 0; i < 1000; ++i) {
      std::string name = "Value" + std::to_string(i);
      std::string text = "C:\\Program Files\\Scribbix\\file" + std::to_string(i) + ".dat";
      RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1));
    }
    RegCloseKey(key);
  }

 private:
  sx::testing::TempMachine machine_{sx::testing::TempMachine::Clock::kReal};
};

void BM_OpenQueryClose(benchmark::State& state) {
  ThousandValues registry;
  char buf[256];
  for (auto _ : state) {
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key);
    DWORD size = sizeof buf;
    LONG rc =
        RegQueryValueExA(key, "Value500", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) state.SkipWithError("query failed");
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_OpenQueryClose);

void BM_QueryValue(benchmark::State& state) {
  ThousandValues registry;
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key);
  char buf[256];
  for (auto _ : state) {
    DWORD size = sizeof buf;
    LONG rc =
        RegQueryValueExA(key, "Value500", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
    if (rc != ERROR_SUCCESS) state.SkipWithError("query failed");
    benchmark::DoNotOptimize(buf);
  }
  RegCloseKey(key);
}
BENCHMARK(BM_QueryValue);

// One DWORD write, with its write-through of the whole file (temporary file and rename).
void BM_SetValueWriteThrough(benchmark::State& state) {
  ThousandValues registry;
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_WRITE, &key);
  DWORD counter = 0;
  for (auto _ : state) {
    ++counter;  // a new value each time, so every call writes the file
    LONG rc = RegSetValueExA(key, "Last", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&counter), 4);
    if (rc != ERROR_SUCCESS) state.SkipWithError("write failed");
  }
  RegCloseKey(key);
}
BENCHMARK(BM_SetValueWriteThrough);

// Writes the registry file of `machine` with "Tree" under HKEY_CURRENT_USER as `sections` (key
// paths below "Tree"), and makes the registry read it at its next call.
void write_tree(const sx::testing::TempMachine& machine, const std::vector<std::string>& sections) {
  std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Tree]\n\n";
  for (const std::string& path : sections) text += "[HKEY_CURRENT_USER\\Tree\\" + path + "]\n\n";
  std::ofstream(sx::registry::file_path(), std::ios::binary | std::ios::trunc) << text;
  sx::machine::set_root(machine.root());  // drops what the registry had read
}

// "k\k\...": a chain of `depth` levels below HKEY_CURRENT_USER, "Tree" included.
std::vector<std::string> chain(int depth) {
  std::vector<std::string> sections;
  std::string path;
  for (int i = 1; i < depth; ++i) sections.push_back(path += (i == 1 ? "k" : "\\k"));
  return sections;
}

// "<i>\<j>": `keys` keys, 20 under each of keys / 20 keys.
std::vector<std::string> wide(int keys) {
  std::vector<std::string> sections;
  for (int i = 0; i < keys / 20; ++i) {
    sections.push_back(std::to_string(i));
    for (int j = 0; j < 19; ++j) sections.push_back(std::to_string(i) + "\\" + std::to_string(j));
  }
  return sections;
}

// RegDeleteTreeA: the whole tree in one change (one write of the file), whatever its depth.
void BM_DeleteTree(benchmark::State& state, std::vector<std::string> sections) {
  sx::testing::TempMachine machine{sx::testing::TempMachine::Clock::kReal};
  for (auto _ : state) {
    state.PauseTiming();
    write_tree(machine, sections);
    HKEY key = nullptr;  // the file is read here, outside the timing
    RegOpenKeyExA(HKEY_CURRENT_USER, "Tree", 0, KEY_READ, &key);
    RegCloseKey(key);
    state.ResumeTiming();
    if (RegDeleteTreeA(HKEY_CURRENT_USER, "Tree") != ERROR_SUCCESS)
      state.SkipWithError("delete failed");
  }
}
BENCHMARK_CAPTURE(BM_DeleteTree, chain_512_deep, chain(512))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DeleteTree, wide_2000_keys, wide(2000))->Unit(benchmark::kMillisecond);

// What `reg delete` did before RegDeleteTreeA: open every key down the chain and delete from the
// leaf up, one change (one write of the whole file) per key. For comparison.
void BM_DeleteKeyByKeyDeepChain(benchmark::State& state) {
  sx::testing::TempMachine machine{sx::testing::TempMachine::Clock::kReal};
  const auto sections = chain(512);
  for (auto _ : state) {
    state.PauseTiming();
    write_tree(machine, sections);
    std::string path = "Tree\\" + sections.back();
    state.ResumeTiming();
    while (!path.empty()) {
      if (RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str()) != ERROR_SUCCESS) {
        state.SkipWithError("delete failed");
        break;
      }
      const auto cut = path.rfind('\\');
      path = cut == std::string::npos ? "" : path.substr(0, cut);
    }
  }
}
BENCHMARK(BM_DeleteKeyByKeyDeepChain)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
