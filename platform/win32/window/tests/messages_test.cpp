// Message queues, cross-thread delivery, timers and the handle rules.
#include <atomic>

#include "window_fixture.h"

namespace window_test {
namespace {

INT_PTR CALLBACK answering_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_INITDIALOG) SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
  auto* seen = reinterpret_cast<Seen*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (seen == nullptr) return FALSE;
  seen->messages.push_back(msg);
  seen->threads.push_back(std::this_thread::get_id());
  if (msg == WM_APP) {
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, static_cast<LONG_PTR>(wparam * 2));
    return TRUE;
  }
  if (msg == WM_APP + 1) PostQuitMessage(static_cast<int>(wparam));
  return FALSE;
}

TEST_F(WindowTest, SendMessageFromAnotherThreadRunsOnTheOwnerThreadAndReturnsTheResult) {
  Seen seen;
  HWND dialog = CreateDialogParamA(kModule, MAKEINTRESOURCEA(kProgressDialog), nullptr,
                                   answering_proc, reinterpret_cast<LPARAM>(&seen));
  ASSERT_NE(dialog, nullptr);
  std::atomic<LRESULT> reply{-1};
  ClockThread other([&] {
    reply = SendMessageA(dialog, WM_APP, 21, 0);
    PostMessageA(dialog, WM_APP + 1, 7, 0);
  });

  MSG msg;
  BOOL got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) DispatchMessageA(&msg);
  other.join();

  EXPECT_EQ(got, FALSE);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_EQ(reply.load(), 42);
  for (const auto& id : seen.threads) EXPECT_EQ(id, std::this_thread::get_id());
  ASSERT_EQ(seen.messages.size(), 3u);
  EXPECT_EQ(seen.messages[1], static_cast<UINT>(WM_APP));
  EXPECT_EQ(seen.messages[2], static_cast<UINT>(WM_APP + 1));
  DestroyWindow(dialog);
}

TEST_F(WindowTest, WatcherThreadCancelsChooseProfileWindowOfAnotherThreadWithinOneRound) {
  // The dialog would wait ten minutes for its own timer; the watcher cancels it first.
  auto proc = [](HWND hwnd, UINT msg, WPARAM wparam, LPARAM) -> INT_PTR {
    if (msg == WM_INITDIALOG) SetTimer(hwnd, 1, 600000, nullptr);
    if (msg == WM_TIMER) EndDialog(hwnd, 99);
    if (msg == WM_COMMAND && LOWORD(wparam) == IDCANCEL) EndDialog(hwnd, IDCANCEL);
    return TRUE;
  };
  std::atomic<int> rounds{0};
  std::atomic<bool> cancelled{false};
  const std::int64_t start = sx::clock::now_ms();
  ClockThread watcher([&] {
    for (int left = 30; left > 0 && !cancelled; --left) {
      ++rounds;
      if (HWND w = FindWindowA("OUTLOOK.APPLICATION", "Choose Profile")) {
        SendMessageA(w, WM_COMMAND, IDCANCEL, 0);
        cancelled = true;
      } else {
        clock_sleep(100);
      }
    }
  });

  const INT_PTR result =
      DialogBoxParamA(kModule, MAKEINTRESOURCEA(kChooseProfileDialog), nullptr, proc, 0);
  watcher.join();

  EXPECT_EQ(result, IDCANCEL);
  EXPECT_TRUE(cancelled);
  EXPECT_LE(sx::clock::now_ms() - start, 100);
  EXPECT_LE(rounds.load(), 2);
  EXPECT_EQ(FindWindowA("OUTLOOK.APPLICATION", "Choose Profile"), nullptr);
}

TEST_F(WindowTest, PostedCloseFromAnotherThreadCancelsAModalDialog) {
  std::atomic<bool> posted{false};
  auto proc = [](HWND hwnd, UINT msg, WPARAM wparam, LPARAM) -> INT_PTR {
    if (msg == WM_INITDIALOG) SetTimer(hwnd, 1, 600000, nullptr);
    if (msg == WM_COMMAND && LOWORD(wparam) == IDCANCEL) EndDialog(hwnd, IDCANCEL);
    return msg == WM_COMMAND;
  };
  ClockThread closer([&] {
    for (int i = 0; i < 30 && !posted; ++i) {
      if (HWND w = FindWindowA("#32770", "scribbix unknown palm")) {  // any case
        posted = PostMessageA(w, WM_CLOSE, 0, 0) != FALSE;
      } else {
        clock_sleep(100);
      }
    }
  });

  EXPECT_EQ(DialogBoxParamA(kModule, MAKEINTRESOURCEA(kUnknownUserDialog), nullptr, proc, 0),
            IDCANCEL);
  closer.join();
  EXPECT_TRUE(posted);
}

TEST_F(WindowTest, FindWindowMatchesClassOrTitleOrBothAndSkipsControls) {
  HWND progress = CreateDialogA(kModule, MAKEINTRESOURCEA(kProgressDialog), nullptr, nullptr);
  HWND choose = CreateDialogA(kModule, MAKEINTRESOURCEA(kChooseProfileDialog), nullptr, nullptr);

  EXPECT_EQ(FindWindowA("#32770", nullptr), progress);
  EXPECT_EQ(FindWindowA("outlook.application", nullptr), choose);
  EXPECT_EQ(FindWindowA(nullptr, "Choose Profile"), choose);
  EXPECT_EQ(FindWindowA("#32770", "Choose Profile"), nullptr);
  EXPECT_EQ(FindWindowA(nullptr, nullptr), progress);
  EXPECT_EQ(FindWindowA(PROGRESS_CLASSA, nullptr), nullptr);  // controls are not top-level
  SetWindowTextA(progress, "Renamed");
  EXPECT_EQ(FindWindowA(nullptr, "Renamed"), progress);

  DestroyWindow(progress);
  EXPECT_EQ(FindWindowA("#32770", nullptr), nullptr);
  DestroyWindow(choose);
  EXPECT_EQ(FindWindowA(nullptr, nullptr), nullptr);
}

TEST_F(WindowTest, TimerProcedureRunsThroughDispatchAndStopsWhenKilled) {
  static int calls = 0;
  calls = 0;
  const UINT_PTR id = SetTimer(nullptr, 0, 1000, [](HWND, UINT, UINT_PTR, DWORD) { ++calls; });
  ASSERT_NE(id, 0u);
  const std::int64_t start = sx::clock::now_ms();
  MSG msg;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(msg.wParam, id);
    DispatchMessageA(&msg);
  }
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(sx::clock::now_ms() - start, 3000);
  EXPECT_TRUE(KillTimer(nullptr, id));
  EXPECT_FALSE(KillTimer(nullptr, id));
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(WindowTest, PeekWithoutRemoveLeavesTheMessageAndFiltersSelectByRange) {
  PostMessageA(nullptr, WM_APP + 5, 1, 2);
  PostMessageA(nullptr, WM_APP + 9, 3, 4);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_APP + 9, WM_APP + 9, PM_NOREMOVE));
  EXPECT_EQ(msg.wParam, 3u);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 5));
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 9));
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(WindowTest, WindowOfAnotherThreadCannotBeDestroyedOrTimedFromHereAndDiesWithItsThread) {
  HWND dialog = nullptr;
  std::thread owner([&] {
    dialog = CreateDialogA(kModule, MAKEINTRESOURCEA(kProgressDialog), nullptr, nullptr);
  });
  owner.join();
  // The owner thread has ended: its windows went with it.
  EXPECT_FALSE(IsWindow(dialog));

  std::atomic<bool> created{false}, release{false};
  HWND alive = nullptr;
  std::thread keeper([&] {
    alive = CreateDialogA(kModule, MAKEINTRESOURCEA(kProgressDialog), nullptr, nullptr);
    created = true;
    auto guard = sx::kernel::lock();
    sx::kernel::wait_until(
        guard, [&] { return release.load(); }, sx::kernel::kNoDeadline);
  });
  while (!created) std::this_thread::yield();
  EXPECT_TRUE(IsWindow(alive));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(DestroyWindow(alive));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(SetTimer(alive, 1, 100, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  {
    auto guard = sx::kernel::lock();
    release = true;
    sx::kernel::notify_all();
  }
  keeper.join();
  EXPECT_FALSE(IsWindow(alive));
}

TEST_F(WindowTest, MessagesToADestroyedWindowFailAndItsQueuedMessagesAreDropped) {
  HWND dialog = CreateDialogA(kModule, MAKEINTRESOURCEA(kProgressDialog), nullptr, nullptr);
  ASSERT_TRUE(PostMessageA(dialog, WM_APP, 0, 0));
  ASSERT_TRUE(DestroyWindow(dialog));
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(PostMessageA(dialog, WM_APP, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(SendMessageA(dialog, WM_APP, 0, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(GetWindowTextA(dialog, buffer, 4), 0);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(GetMessageA(&msg, dialog, 0, 0), -1);
}

TEST_F(WindowTest, ClassWindowGetsCreateAndClosesThroughDefWindowProc) {
  static std::vector<UINT> seen;
  seen.clear();
  WNDCLASSA wc{};
  wc.lpszClassName = "SplashWindowTest";
  wc.lpfnWndProc = [](HWND hwnd, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
    seen.push_back(msg);
    if (msg == WM_TIMER) {
      KillTimer(hwnd, w);
      PostMessageA(hwnd, WM_CLOSE, 0, 0);
      return 0;
    }
    if (msg == WM_DESTROY) PostQuitMessage(3);
    return DefWindowProcA(hwnd, msg, w, l);
  };
  ASSERT_NE(RegisterClassA(&wc), 0);
  EXPECT_EQ(RegisterClassA(&wc), 0);  // already there

  HWND splash = CreateWindowExA(WS_EX_TOPMOST, "SplashWindowTest", "", WS_POPUP | WS_VISIBLE, 0, 0,
                                399, 333, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(splash, nullptr);
  EXPECT_TRUE(IsWindowVisible(splash));
  SetTimer(splash, 1, 2000, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);

  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_FALSE(IsWindow(splash));
  // Shown at creation, it is painted (and erased) before its timer fires.
  EXPECT_EQ(seen, (std::vector<UINT>{WM_CREATE, WM_PAINT, WM_ERASEBKGND, WM_TIMER, WM_CLOSE,
                                     WM_DESTROY}));
  EXPECT_TRUE(UnregisterClassA("SplashWindowTest", nullptr));
}

}  // namespace
}  // namespace window_test
