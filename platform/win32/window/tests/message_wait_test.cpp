// Message-only windows, and waiting for a condition with the thread's message loop running.
#include <atomic>

#include "sx/window.h"
#include "win32/sync.h"
#include "window_fixture.h"

namespace window_test {
namespace {

std::atomic<int> g_pokes{0};

LRESULT CALLBACK counting_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_APP) {
    g_pokes += static_cast<int>(wparam);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

class MessageWaitTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    g_pokes = 0;
    WNDCLASSA wc{};
    wc.lpfnWndProc = counting_proc;
    wc.lpszClassName = "SxCountingWindow";
    RegisterClassA(&wc);
  }
  void TearDown() override {
    UnregisterClassA("SxCountingWindow", nullptr);
    WindowTest::TearDown();
  }
};

TEST_F(MessageWaitTest, MessageOnlyWindowGetsMessagesButIsNeitherListedNorFound) {
  HWND hidden = CreateWindowExA(0, "SxCountingWindow", "Hidden", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, nullptr, nullptr);
  ASSERT_NE(hidden, nullptr);
  EXPECT_EQ(FindWindowA("SxCountingWindow", nullptr), nullptr);
  EXPECT_EQ(FindWindowA(nullptr, "Hidden"), nullptr);
  EXPECT_FALSE(std::filesystem::exists(machine_.root() / "windows") &&
               !std::filesystem::is_empty(machine_.root() / "windows"));
  EXPECT_EQ(GetParent(hidden), nullptr);
  EXPECT_EQ(SendMessageA(hidden, WM_APP, 3, 0), 0);
  EXPECT_EQ(g_pokes.load(), 3);
  EXPECT_TRUE(DestroyWindow(hidden));
  EXPECT_FALSE(IsWindow(hidden));
}

TEST_F(MessageWaitTest, PumpUntilDispatchesPostedAndSentMessagesUntilTheConditionHolds) {
  HWND hidden = CreateWindowExA(0, "SxCountingWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(hidden, nullptr);
  bool finished = false;  // guarded by the kernel lock
  ClockThread other([&] {
    SendMessageA(hidden, WM_APP, 1, 0);  // answered by the waiting thread
    clock_sleep(500);
    PostMessageA(hidden, WM_APP, 10, 0);
    clock_sleep(500);
    auto guard = sx::kernel::lock();
    finished = true;
    sx::kernel::notify_all();
  });
  EXPECT_EQ(sx::window::pump_until([&] { return finished; }), sx::window::PumpEnd::kDone);
  other.join();
  EXPECT_EQ(g_pokes.load(), 11);
  DestroyWindow(hidden);
}

TEST_F(MessageWaitTest, PumpUntilStopsAtAPendingQuitAndLeavesItQueued) {
  PostQuitMessage(4);
  EXPECT_EQ(sx::window::pump_until([] { return false; }), sx::window::PumpEnd::kQuit);
  MSG msg;
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.wParam, 4u);
}

// Asked by a thread that serves calls between its messages before it skips looking at them.
TEST_F(MessageWaitTest, InputMayWaitOnlyWhenAMessageATimerOrAQuitIsThere) {
  HWND hidden = CreateWindowExA(0, "SxCountingWindow", "Hidden", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, nullptr, nullptr);
  ASSERT_NE(hidden, nullptr);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  EXPECT_FALSE(sx::window::input_may_wait());

  ASSERT_TRUE(PostMessageA(hidden, WM_APP, 1, 0));
  EXPECT_TRUE(sx::window::input_may_wait());
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(sx::window::input_may_wait());

  ASSERT_NE(SetTimer(hidden, 7, 100, nullptr), 0u);
  EXPECT_FALSE(sx::window::input_may_wait());  // not due yet
  Sleep(100);
  EXPECT_TRUE(sx::window::input_may_wait());
  ASSERT_TRUE(KillTimer(hidden, 7));
  EXPECT_FALSE(sx::window::input_may_wait());

  PostQuitMessage(3);
  EXPECT_TRUE(sx::window::input_may_wait());
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_FALSE(sx::window::input_may_wait());
  EXPECT_TRUE(DestroyWindow(hidden));
}

TEST_F(MessageWaitTest, PumpUntilGivesUpAtItsDeadlineOnTheClock) {
  const std::int64_t start = sx::clock::now_ms();
  EXPECT_EQ(sx::window::pump_until([] { return false; }, start + 250),
            sx::window::PumpEnd::kDeadline);
  EXPECT_EQ(sx::clock::now_ms(), start + 250);
}

}  // namespace
}  // namespace window_test
