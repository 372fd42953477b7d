// Registry read and write costs on a key of 1,000 values (the file then holds all of them).
#include <benchmark/benchmark.h>

#include <string>

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

}  // namespace
