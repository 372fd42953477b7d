#include <gtest/gtest.h>

#include "sx/testing/temp_machine.h"
#include "test_threads.h"
#include "win32/sync.h"

namespace {

using sx::testing::start_thread;

class CriticalSectionTest : public ::testing::Test {
 protected:
  CriticalSectionTest() { InitializeCriticalSection(&cs_); }
  ~CriticalSectionTest() override { DeleteCriticalSection(&cs_); }

  sx::testing::TempMachine machine_;
  CRITICAL_SECTION cs_;
};

TEST_F(CriticalSectionTest, OwnerReentersAndOthersWaitUntilTheLastLeave) {
  EnterCriticalSection(&cs_);
  EnterCriticalSection(&cs_);
  EXPECT_TRUE(TryEnterCriticalSection(&cs_));

  HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  BOOL try_result = TRUE;
  HANDLE other = start_thread([&] {
    try_result = TryEnterCriticalSection(&cs_);
    EnterCriticalSection(&cs_);
    SetEvent(entered);
    LeaveCriticalSection(&cs_);
    return DWORD{0};
  });

  LeaveCriticalSection(&cs_);
  LeaveCriticalSection(&cs_);
  EXPECT_EQ(WaitForSingleObject(entered, 1000), WAIT_TIMEOUT);  // one entry still held
  LeaveCriticalSection(&cs_);
  EXPECT_EQ(WaitForSingleObject(entered, 1000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(other, INFINITE), WAIT_OBJECT_0);
  EXPECT_FALSE(try_result);
  CloseHandle(other);
  CloseHandle(entered);
}

TEST_F(CriticalSectionTest, ExcludesOtherThreads) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  long counter = 0;  // deliberately not atomic: only the section protects it
  HANDLE threads[kThreads];
  for (HANDLE& thread : threads) {
    thread = start_thread([&] {
      for (int i = 0; i < kRounds; ++i) {
        EnterCriticalSection(&cs_);
        const long seen = counter;
        if (i % 64 == 0) Sleep(0);
        counter = seen + 1;
        LeaveCriticalSection(&cs_);
      }
      return DWORD{0};
    });
  }
  EXPECT_EQ(WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(counter, kThreads * kRounds);
  for (HANDLE thread : threads) CloseHandle(thread);
}

// On the virtual clock, time moves only when every thread waits. The waiter for the section must
// count as waiting, or the holder's sleep would never end.
TEST_F(CriticalSectionTest, HolderSleepingWhileAnotherWaitsDoesNotDeadlock) {
  HANDLE holding = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE holder = start_thread([&] {
    EnterCriticalSection(&cs_);
    SetEvent(holding);
    Sleep(5000);
    LeaveCriticalSection(&cs_);
    return DWORD{0};
  });
  ASSERT_EQ(WaitForSingleObject(holding, INFINITE), WAIT_OBJECT_0);
  const DWORD start = GetTickCount();
  EnterCriticalSection(&cs_);
  EXPECT_EQ(GetTickCount() - start, 5000u);
  LeaveCriticalSection(&cs_);
  WaitForSingleObject(holder, INFINITE);
  CloseHandle(holder);
  CloseHandle(holding);
}

TEST_F(CriticalSectionTest, LeaveByANonOwnerChangesNothing) {
  EnterCriticalSection(&cs_);
  HANDLE stranger = start_thread([&] {
    LeaveCriticalSection(&cs_);
    return static_cast<DWORD>(TryEnterCriticalSection(&cs_));
  });
  WaitForSingleObject(stranger, INFINITE);
  DWORD entered = 0xdeadbeef;
  GetExitCodeThread(stranger, &entered);
  EXPECT_EQ(entered, static_cast<DWORD>(FALSE));
  LeaveCriticalSection(&cs_);
  CloseHandle(stranger);
}

}  // namespace
