#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

#include "sx/testing/temp_machine.h"
#include "test_threads.h"
#include "win32/sync.h"

namespace {

using sx::testing::start_thread;

class ThreadTest : public ::testing::Test {
 protected:
  sx::testing::TempMachine machine_;
};

TEST_F(ThreadTest, HandleIsSignalledAtExitWithTheEntryPointsResult) {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = start_thread([go] {
    WaitForSingleObject(go, INFINITE);
    return DWORD{42};
  });
  ASSERT_NE(thread, nullptr);
  DWORD code = 0xdeadbeef;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);

  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signalled
  CloseHandle(thread);
  CloseHandle(go);
}

TEST_F(ThreadTest, ThreadIdIsReportedToCreatorAndThread) {
  DWORD seen_inside = 0;
  DWORD reported = 0;
  HANDLE thread = start_thread(
      [&seen_inside] {
        seen_inside = GetCurrentThreadId();
        return DWORD{0};
      },
      0, &reported);
  WaitForSingleObject(thread, INFINITE);
  EXPECT_NE(reported, 0u);
  EXPECT_EQ(seen_inside, reported);
  EXPECT_NE(GetCurrentThreadId(), reported);
  EXPECT_EQ(GetCurrentThreadId(), GetCurrentThreadId());
  CloseHandle(thread);
}

TEST_F(ThreadTest, ExceptionFromEntryPointEndsThreadWithUnhandledExceptionCode) {
  HANDLE thread = start_thread([]() -> DWORD { throw std::runtime_error("boom"); });
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 0xE06D7363u);
  CloseHandle(thread);
}

TEST_F(ThreadTest, ClosingTheHandleDoesNotStopTheThread) {
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = start_thread([done] {
    Sleep(5000);
    SetEvent(done);
    return DWORD{0};
  });
  ASSERT_TRUE(CloseHandle(thread));
  EXPECT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
  CloseHandle(done);
}

TEST_F(ThreadTest, SuspendedThreadRunsOnlyAfterResume) {
  bool ran = false;
  HANDLE thread = start_thread(
      [&ran] {
        ran = true;
        return DWORD{7};
      },
      CREATE_SUSPENDED);
  EXPECT_EQ(WaitForSingleObject(thread, 1000), WAIT_TIMEOUT);
  EXPECT_EQ(ResumeThread(thread), 1u);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(ran);
  EXPECT_EQ(ResumeThread(thread), 0u);
  CloseHandle(thread);
}

TEST_F(ThreadTest, BadArgumentsFail) {
  SetLastError(0xdeadbeef);
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD code = 0xdeadbeef;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(GetExitCodeThread(event, &code));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(code, 0xdeadbeefu);
  EXPECT_EQ(ResumeThread(event), static_cast<DWORD>(-1));
  CloseHandle(event);
}

// A process may end while its threads still run or wait, as on Windows.
TEST(ThreadExitTest, ProcessExitWithRunningThreadsIsClean) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE looping = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        start_thread([never] { return WaitForSingleObject(never, INFINITE); });
        start_thread([looping] {
          for (;;) {
            SetEvent(looping);
            Sleep(1);
          }
          return DWORD{0};
        });
        WaitForSingleObject(looping, INFINITE);
        std::exit(3);
      },
      ::testing::ExitedWithCode(3), "");
}

}  // namespace
