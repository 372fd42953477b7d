// A command round trip between two threads over two events, as a run thread talks to a worker
// thread that serves its commands: the request event is auto-reset, the reply event manual-reset,
// and the caller waits for the reply in 100 ms slices. Measured on the real clock and on the
// virtual clock.
#include <benchmark/benchmark.h>

#include <atomic>

#include "sx/clock.h"
#include "win32/sync.h"

namespace {

struct Channel {
  HANDLE request = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE reply = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> stop{false};
  long served = 0;  // touched by the worker only until it ends
};

DWORD WINAPI serve(LPVOID param) {
  auto* channel = static_cast<Channel*>(param);
  for (;;) {
    if (WaitForSingleObject(channel->request, INFINITE) != WAIT_OBJECT_0) return 1;
    if (channel->stop.load()) return 0;
    ++channel->served;
    SetEvent(channel->reply);
  }
}

void round_trips(benchmark::State& state) {
  Channel channel;
  HANDLE worker = CreateThread(nullptr, 0, serve, &channel, 0, nullptr);
  for (auto _ : state) {
    ResetEvent(channel.reply);
    SetEvent(channel.request);
    while (WaitForSingleObject(channel.reply, 100) == WAIT_TIMEOUT) {
    }
  }
  channel.stop = true;
  SetEvent(channel.request);
  WaitForSingleObject(worker, INFINITE);
  state.counters["served"] = static_cast<double>(channel.served);
  CloseHandle(worker);
  CloseHandle(channel.request);
  CloseHandle(channel.reply);
}

void BM_RequestReplyRealClock(benchmark::State& state) {
  sx::clock::use_real();
  round_trips(state);
}
BENCHMARK(BM_RequestReplyRealClock)->UseRealTime();

void BM_RequestReplyVirtualClock(benchmark::State& state) {
  sx::clock::use_virtual();
  round_trips(state);
  sx::clock::use_real();
}
BENCHMARK(BM_RequestReplyVirtualClock)->UseRealTime();

}  // namespace
