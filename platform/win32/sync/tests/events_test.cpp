#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "sx/testing/temp_machine.h"
#include "test_threads.h"
#include "win32/sync.h"

namespace {

using sx::testing::start_thread;

class EventTest : public ::testing::Test {
 protected:
  sx::testing::TempMachine machine_;
};

// Starts a thread that waits for `event` without a deadline and counts its release.
HANDLE start_waiter(HANDLE event, std::atomic<int>* released) {
  return start_thread([event, released] {
    if (WaitForSingleObject(event, INFINITE) != WAIT_OBJECT_0) return DWORD{1};
    ++*released;
    return DWORD{0};
  });
}

TEST_F(EventTest, AutoResetEventWakesExactlyOneWaiterPerSet) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  std::atomic<int> released{0};
  HANDLE waiters[2] = {start_waiter(event, &released), start_waiter(event, &released)};

  ASSERT_TRUE(SetEvent(event));
  const DWORD first = WaitForMultipleObjects(2, waiters, FALSE, INFINITE);
  ASSERT_LT(first, WAIT_OBJECT_0 + 2);
  const HANDLE other = waiters[1 - (first - WAIT_OBJECT_0)];
  EXPECT_EQ(WaitForSingleObject(other, 1000),
            WAIT_TIMEOUT);  // still blocked a virtual second later
  EXPECT_EQ(released.load(), 1);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);  // the release reset the event

  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(other, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(released.load(), 2);
  for (HANDLE h : waiters) CloseHandle(h);
  CloseHandle(event);
}

TEST_F(EventTest, ManualResetEventWakesAllWaitersAndStaysSet) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> released{0};
  HANDLE waiters[2] = {start_waiter(event, &released), start_waiter(event, &released)};

  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForMultipleObjects(2, waiters, TRUE, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(released.load(), 2);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);

  ASSERT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  for (HANDLE h : waiters) CloseHandle(h);
  CloseHandle(event);
}

TEST_F(EventTest, InitialStateAndPollingWithZeroTimeout) {
  HANDLE manual = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  HANDLE automatic = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  const DWORD start = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
  EXPECT_EQ(GetTickCount(), start);  // polling never moves the clock
  CloseHandle(manual);
  CloseHandle(automatic);
}

TEST_F(EventTest, SixtySecondWaitTimesOutOnTheVirtualClockInMilliseconds) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const auto real_start = std::chrono::steady_clock::now();
  const DWORD start = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(event, 60000), WAIT_TIMEOUT);
  EXPECT_EQ(GetTickCount() - start, 60000u);
  EXPECT_LT(sx::testing::real_ms_since(real_start), 2000);
  CloseHandle(event);
}

// A thread sleeps `delay` ms and then sets the event; the main thread waits at most 60 s.
DWORD wait_against_setter(DWORD delay, DWORD* waited) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE setter = start_thread([event, delay] {
    Sleep(delay);
    SetEvent(event);
    return DWORD{0};
  });
  const DWORD start = GetTickCount();
  const DWORD result = WaitForSingleObject(event, 60000);
  *waited = GetTickCount() - start;
  WaitForSingleObject(setter, INFINITE);
  CloseHandle(setter);
  CloseHandle(event);
  return result;
}

TEST_F(EventTest, SetterBeforeTheDeadlineAlwaysWins) {
  for (int run = 0; run < 20; ++run) {
    DWORD waited = 0;
    EXPECT_EQ(wait_against_setter(59999, &waited), WAIT_OBJECT_0);
    EXPECT_EQ(waited, 59999u);
  }
}

TEST_F(EventTest, SetterAfterTheDeadlineAlwaysLoses) {
  for (int run = 0; run < 20; ++run) {
    DWORD waited = 0;
    EXPECT_EQ(wait_against_setter(60001, &waited), WAIT_TIMEOUT);
    EXPECT_EQ(waited, 60000u);
  }
}

TEST_F(EventTest, WaitForAnyReturnsLowestSignalledIndexAndConsumesOnlyIt) {
  HANDLE events[3] = {CreateEventA(nullptr, FALSE, FALSE, nullptr),
                      CreateEventA(nullptr, FALSE, TRUE, nullptr),
                      CreateEventA(nullptr, FALSE, TRUE, nullptr)};
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);
  for (HANDLE h : events) CloseHandle(h);
}

TEST_F(EventTest, WaitForAllConsumesNothingUntilAllAreSignalled) {
  HANDLE events[2] = {CreateEventA(nullptr, FALSE, TRUE, nullptr),
                      CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 500), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0);  // was left signalled
  SetEvent(events[0]);
  SetEvent(events[1]);
  EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), WAIT_TIMEOUT);  // both consumed
  for (HANDLE h : events) CloseHandle(h);
}

TEST_F(EventTest, BadHandlesAndArgumentsFailWithTheirErrorCodes) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));

  SetLastError(0xdeadbeef);
  EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(WaitForSingleObject(nullptr, INFINITE), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(SetEvent(closed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  HANDLE twice[2] = {event, event};
  SetLastError(0xdeadbeef);
  EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(WaitForMultipleObjects(0, twice, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  SetLastError(0xdeadbeef);
  EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, "Global\\Ready"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  CloseHandle(event);
}

TEST_F(EventTest, ThreadHandleIsNotAnEvent) {
  HANDLE thread = start_thread([] { return DWORD{0}; });
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(SetEvent(thread));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

}  // namespace
