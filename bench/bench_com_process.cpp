// One COM call between processes of the machine beside one between two threads of one process,
// taken in the same run: a counter object's Add(1, &total) through a proxy, from another process
// (over the machine's sockets) and from another thread (through the apartments' handoff). Each
// reports the median and the 90th percentile of single calls. Budget of the call between
// processes: a median of 5 us.
//
// The program forks its server process before anything else starts a thread: the child registers
// the counter's class for the machine and serves it; the parent creates the counter with
// CLSCTX_LOCAL_SERVER and measures.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "comdef.h"
#include "sx/machine.h"
#include "sx/testing/temp_machine.h"
#include "win32/registry.h"
#include "win32/sync.h"
#include "win32/window.h"

struct IBenchCounter : IUnknown {
  static constexpr IID kIid = sx::com::guid("{2B7E5C90-4A1D-4E3F-8C2B-6D9E0F1A2B30}");
  using Base = IUnknown;
#define SX_BENCH_COUNTER_MEMBERS(M) \
  M(Add, (LONG, amount), (LONG*, total)) \
  /* Ends the message loop of the thread it lives on. */ \
  M(Quit)
  SX_COM_MEMBERS(SX_BENCH_COUNTER_MEMBERS)

 protected:
  ~IBenchCounter() = default;
};
SX_COM_PROXY(IBenchCounter, SX_BENCH_COUNTER_MEMBERS);

namespace {

constexpr CLSID kCounterClsid = sx::com::guid("{2B7E5C90-4A1D-4E3F-8C2B-6D9E0F1A2B31}");

class Counter : public sx::com::ComObject<IBenchCounter> {
 public:
  STDMETHODIMP Add(LONG amount, LONG* total) override {
    SX_COM_CHECK_THREAD();
    total_ += amount;
    if (total != nullptr) *total = total_;
    return S_OK;
  }
  STDMETHODIMP Quit() override {
    SX_COM_CHECK_THREAD();
    PostQuitMessage(0);
    return S_OK;
  }

 private:
  LONG total_ = 0;
};

pid_t g_server = -1;

int serve() {
  CoInitialize(nullptr);
  DWORD cookie = 0;
  auto factory = sx::com::make_class_factory<Counter>();
  if (FAILED(CoRegisterClassObject(kCounterClsid, factory.Get(), CLSCTX_LOCAL_SERVER,
                                   REGCLS_MULTIPLEUSE, &cookie)))
    return 2;
  sx::com::run_message_loop();
  return 0;
}

// Times each call of `call` and reports the median and 90th percentile of them.
template <class Call>
void time_calls(benchmark::State& state, Call call) {
  std::vector<double> us;
  us.reserve(1 << 16);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (FAILED(call())) {
      state.SkipWithError("call failed");
      break;
    }
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  if (us.empty()) return;
  std::sort(us.begin(), us.end());
  state.counters["median_us"] = us[us.size() / 2];
  state.counters["p90_us"] = us[us.size() * 9 / 10];
}

void BM_CallFromAnotherProcess(benchmark::State& state) {
  CoInitialize(nullptr);
  {
    sx::com::ComPtr<IBenchCounter> counter;
    if (FAILED(CoCreateInstance(kCounterClsid, nullptr, CLSCTX_LOCAL_SERVER, IBenchCounter::kIid,
                                counter.PutVoid()))) {
      state.SkipWithError("no server");
    } else {
      LONG total = 0;
      time_calls(state, [&] { return counter->Add(1, &total); });
    }
  }
  CoUninitialize();
}
BENCHMARK(BM_CallFromAnotherProcess)->Unit(benchmark::kMicrosecond)->Repetitions(5);

void BM_CallFromAnotherThread(benchmark::State& state) {
  CoInitialize(nullptr);
  LPSTREAM stream = nullptr;
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread server([&] {
    CoInitialize(nullptr);
    auto counter = sx::com::make_object<Counter>();
    CoMarshalInterThreadInterfaceInStream(IBenchCounter::kIid, counter.Get(), &stream);
    counter = nullptr;
    SetEvent(ready);
    sx::com::run_message_loop();
    CoUninitialize();
  });
  WaitForSingleObject(ready, INFINITE);
  {
    sx::com::ComPtr<IBenchCounter> counter;
    CoGetInterfaceAndReleaseStream(stream, IBenchCounter::kIid, counter.PutVoid());
    LONG total = 0;
    time_calls(state, [&] { return counter->Add(1, &total); });
    counter->Quit();
  }
  server.join();
  CloseHandle(ready);
  CoUninitialize();
}
BENCHMARK(BM_CallFromAnotherThread)->Unit(benchmark::kMicrosecond)->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
  sx::testing::TempMachine machine{sx::testing::TempMachine::Clock::kReal};
  HKEY key = nullptr;
  const std::string path = "CLSID\\" + sx::com::format_guid(kCounterClsid) + "\\LocalServer32";
  RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                  nullptr);
  RegCloseKey(key);
  g_server = ::fork();
  if (g_server == 0) ::_exit(serve());
  const auto registration =
      machine.root() / "com" / "classes" / sx::com::format_guid(kCounterClsid);
  for (int i = 0; i < 2000 && !std::filesystem::exists(registration); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ::kill(g_server, SIGKILL);
  ::waitpid(g_server, nullptr, 0);
  return 0;
}
