// The virtual clock under real threads: time moves only when every participant waits.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "sx/clock.h"
#include "sx/testing/temp_machine.h"
#include "test_threads.h"
#include "win32/sync.h"

namespace {

using sx::testing::start_thread;

class VirtualClockTest : public ::testing::Test {
 protected:
  sx::testing::TempMachine machine_;
};

// The woken thread is still busy (this stands for real work that takes real time) when the main
// thread starts a long timed wait. The clock must not jump over the woken thread's reply.
TEST_F(VirtualClockTest, WokenWaiterIsNotOvertakenByTheClock) {
  HANDLE request = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE reply = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE worker = start_thread([&] {
    WaitForSingleObject(request, INFINITE);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // busy with real work
    SetEvent(reply);
    return DWORD{0};
  });
  Sleep(10);  // the worker is certainly waiting now
  const DWORD start = GetTickCount();
  SetEvent(request);
  EXPECT_EQ(WaitForSingleObject(reply, 60000), WAIT_OBJECT_0);
  EXPECT_EQ(GetTickCount(), start);
  WaitForSingleObject(worker, INFINITE);
  CloseHandle(worker);
  CloseHandle(reply);
  CloseHandle(request);
}

// The creator's wait starts before the new thread has run at all.
TEST_F(VirtualClockTest, NewThreadIsNotOvertakenBeforeItStarts) {
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const DWORD start = GetTickCount();
  HANDLE thread = start_thread([ready] {
    SetEvent(ready);
    return DWORD{0};
  });
  EXPECT_EQ(WaitForSingleObject(ready, 1000), WAIT_OBJECT_0);
  EXPECT_EQ(GetTickCount(), start);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CloseHandle(ready);
}

TEST_F(VirtualClockTest, SleepersWakeInDeadlineOrderAtExactTimes) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  std::vector<std::pair<DWORD, DWORD>> woke;  // (sleep length, tick at wake-up)
  const DWORD start = GetTickCount();
  std::vector<HANDLE> threads;
  for (DWORD length : {300u, 100u, 200u}) {
    threads.push_back(start_thread([&, length] {
      Sleep(length);
      EnterCriticalSection(&cs);
      woke.emplace_back(length, GetTickCount() - start);
      LeaveCriticalSection(&cs);
      return DWORD{0};
    }));
  }
  WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
  const std::vector<std::pair<DWORD, DWORD>> expected = {{100, 100}, {200, 200}, {300, 300}};
  EXPECT_EQ(woke, expected);
  for (HANDLE thread : threads) CloseHandle(thread);
  DeleteCriticalSection(&cs);
}

TEST(RealClockTest, TimedWaitTakesRealTimeInRealMode) {
  sx::testing::TempMachine machine(sx::testing::TempMachine::Clock::kReal);
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(event, 30), WAIT_TIMEOUT);
  EXPECT_GE(sx::testing::real_ms_since(start), 29);
  CloseHandle(event);
}

}  // namespace
