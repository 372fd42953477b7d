// Shared helpers of the window tests: a fresh machine per test, the scripted host, the dialogs the
// conduit and the configuration program show, and threads that take part in virtual time.
#pragma once

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "sx/clock.h"
#include "sx/testing/temp_machine.h"
#include "win32/window.h"

namespace window_test {

inline HINSTANCE const kModule = reinterpret_cast<HINSTANCE>(0x5000);

inline constexpr int kConflictDialog = 129;
inline constexpr int kProgressDialog = 130;
inline constexpr int kUnknownUserDialog = 132;
inline constexpr int kChooseProfileDialog = 900;

inline void register_test_dialogs() {
  using sx::window::ControlKind;
  sx::window::DialogTemplate conflict;
  conflict.id = kConflictDialog;
  conflict.title = "Scribbix - Resolve Field Level Conflicts";
  conflict.cx = 271;
  conflict.cy = 147;
  conflict.style = DS_MODALFRAME | WS_POPUP | WS_CAPTION;
  conflict.controls = {
      {IDC_STATIC, ControlKind::kStatic, "The following change was made on both sides.", 7, 7, 257,
       20, 0},
      {1004, ControlKind::kEdit, "", 7, 30, 257, 60, ES_MULTILINE | ES_READONLY},
      {1000, ControlKind::kButton, "Use &Desktop Value", 7, 100, 80, 14, 0},
      {1001, ControlKind::kButton, "Use &Handheld Value", 95, 100, 80, 14, 0},
      {1002, ControlKind::kButton, "&Skip This Field", 183, 100, 80, 14, 0},
      {1003, ControlKind::kCheckBox, "&Use my response for ALL future conflicts.", 7, 125, 200, 10,
       0},
  };
  sx::window::register_dialog(kModule, conflict);

  sx::window::DialogTemplate progress;
  progress.id = kProgressDialog;
  progress.title = "Vorlan Scribbix Synchronization";
  progress.cx = 222;
  progress.cy = 131;
  progress.style = WS_POPUP | WS_CAPTION | DS_CENTER;
  progress.controls = {
      {1006, ControlKind::kEdit, "", 50, 7, 160, 12, ES_READONLY},
      {1005, ControlKind::kEdit, "", 50, 22, 160, 12, ES_READONLY},
      {1009, ControlKind::kEdit, "", 50, 37, 160, 12, ES_READONLY},
      {IDC_STATIC, ControlKind::kGroupBox, "Notes", 7, 55, 208, 40, 0},
      {1007, ControlKind::kEdit, "", 50, 70, 160, 12, ES_READONLY},
      {1008, ControlKind::kProgressBar, "", 7, 105, 208, 12, 0},
  };
  sx::window::register_dialog(kModule, progress);

  sx::window::DialogTemplate unknown;
  unknown.id = kUnknownUserDialog;
  unknown.title = "Scribbix Unknown Palm";
  unknown.cx = 186;
  unknown.cy = 106;
  unknown.style = DS_MODALFRAME | WS_POPUP | WS_CAPTION;
  unknown.controls = {
      {IDC_STATIC, ControlKind::kStatic, "The current Palm user is not configured.", 7, 7, 172, 8,
       0},
      {IDOK, ControlKind::kDefaultButton, "Continue", 30, 85, 50, 14, 0},
      {IDCANCEL, ControlKind::kButton, "Cancel", 100, 85, 50, 14, 0},
  };
  sx::window::register_dialog(kModule, unknown);

  sx::window::DialogTemplate choose;
  choose.id = kChooseProfileDialog;
  choose.title = "Choose Profile";
  choose.class_name = "OUTLOOK.APPLICATION";
  choose.style = DS_MODALFRAME | WS_POPUP | WS_CAPTION;
  choose.controls = {
      {1, ControlKind::kComboBox, "", 7, 7, 100, 50, CBS_DROPDOWNLIST},
      {IDOK, ControlKind::kDefaultButton, "OK", 7, 60, 50, 14, 0},
      {IDCANCEL, ControlKind::kButton, "Cancel", 60, 60, 50, 14, 0},
  };
  sx::window::register_dialog(kModule, choose);
}

// The messages of the paint cycle, which every shown dialog gets (paint_test.cpp follows them).
inline bool is_paint_message(UINT msg) {
  return msg == WM_PAINT || msg == WM_ERASEBKGND || msg == WM_ICONERASEBKGND ||
         (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC);
}

// What a dialog procedure saw, in order, paint-cycle messages left out.
struct Seen {
  std::vector<UINT> messages;
  std::vector<WPARAM> commands;  // LOWORD(wParam) of each WM_COMMAND
  std::vector<std::thread::id> threads;
};

// A dialog procedure that logs every message into the Seen given as WM_INITDIALOG's parameter and
// ends the dialog with the id of any button clicked (IDCANCEL included).
inline INT_PTR CALLBACK logging_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_INITDIALOG) SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
  auto* seen = reinterpret_cast<Seen*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (seen == nullptr || is_paint_message(msg)) return FALSE;
  seen->messages.push_back(msg);
  seen->threads.push_back(std::this_thread::get_id());
  if (msg == WM_COMMAND) {
    seen->commands.push_back(LOWORD(wparam));
    if (HIWORD(wparam) == BN_CLICKED && LOWORD(wparam) != 1003) EndDialog(hwnd, LOWORD(wparam));
    return TRUE;
  }
  return msg == WM_INITDIALOG;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sx::window::set_host(sx::window::Host::kScripted);
    sx::window::clear_script();
    register_test_dialogs();
  }
  void TearDown() override { sx::window::clear_script(); }

  sx::testing::TempMachine machine_;
};

// A thread that counts as a participant of virtual time from before it starts.
class ClockThread {
 public:
  template <class F>
  explicit ClockThread(F body) {
    const auto token = sx::kernel::reserve_participant();
    thread_ = std::thread([token, body = std::move(body)]() mutable {
      sx::kernel::thread_started(token);
      body();
      sx::kernel::thread_exiting();
    });
  }
  ~ClockThread() {
    if (thread_.joinable()) thread_.join();
  }
  void join() { thread_.join(); }

 private:
  std::thread thread_;
};

// Sleeps on the one clock (virtual in tests).
inline void clock_sleep(std::int64_t ms) {
  auto guard = sx::kernel::lock();
  sx::kernel::wait_until(
      guard, [] { return false; }, sx::clock::now_ms() + ms);
}

}  // namespace window_test
