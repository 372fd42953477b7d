// Modal and modeless dialogs under the scripted and none hosts.
#include <stdexcept>

#include "window_fixture.h"

namespace window_test {
namespace {

using sx::window::DialogMatch;
using sx::window::ShownWindow;

constexpr UINT_PTR kConflictTimer = 0x9872;

// The conflict dialog's behaviour: a 60 s timer that, when it fires, ticks "ALL" and skips.
struct ConflictState {
  Seen seen;
  char field_text[64] = {};
  UINT all_box = 0;
};

INT_PTR CALLBACK conflict_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_INITDIALOG) SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
  auto* state = reinterpret_cast<ConflictState*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (state == nullptr || is_paint_message(msg)) return FALSE;
  state->seen.messages.push_back(msg);
  switch (msg) {
    case WM_INITDIALOG:
      SetDlgItemTextA(hwnd, 1004, "Field: Note Text");
      SetTimer(hwnd, kConflictTimer, 60000, nullptr);
      return TRUE;
    case WM_TIMER:
      if (wparam != kConflictTimer) return FALSE;
      KillTimer(hwnd, kConflictTimer);
      CheckDlgButton(hwnd, 1003, BST_CHECKED);
      EndDialog(hwnd, 3);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) < 1000 || LOWORD(wparam) > 1002) return FALSE;
      KillTimer(hwnd, kConflictTimer);
      GetDlgItemTextA(hwnd, 1004, state->field_text, sizeof state->field_text);
      state->all_box = IsDlgButtonChecked(hwnd, 1003);
      EndDialog(hwnd, LOWORD(wparam) == 1002 ? 3 : LOWORD(wparam) - 1000);
      return TRUE;
  }
  return FALSE;
}

TEST_F(WindowTest, UnansweredConflictDialogEndsByItsSixtySecondTimerOnTheVirtualClock) {
  ConflictState state;
  const std::int64_t start = sx::clock::now_ms();

  const INT_PTR choice = DialogBoxParamA(kModule, MAKEINTRESOURCEA(kConflictDialog), nullptr,
                                         conflict_proc, reinterpret_cast<LPARAM>(&state));

  EXPECT_EQ(choice, 3);
  EXPECT_EQ(sx::clock::now_ms() - start, 60000);
  ASSERT_GE(state.seen.messages.size(), 2u);
  EXPECT_EQ(state.seen.messages[0], static_cast<UINT>(WM_INITDIALOG));
  EXPECT_EQ(state.seen.messages[1], static_cast<UINT>(WM_TIMER));
  EXPECT_EQ(state.seen.messages.back(), static_cast<UINT>(WM_DESTROY));
  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, ShownWindow::Kind::kModalDialog);
  EXPECT_EQ(shown[0].resource_id, kConflictDialog);
  EXPECT_EQ(shown[0].title, "Scribbix - Resolve Field Level Conflicts");
  EXPECT_EQ(shown[0].control(1003)->check, static_cast<UINT>(BST_CHECKED));
  EXPECT_EQ(shown[0].control(1004)->text, "Field: Note Text");
  EXPECT_EQ(shown[0].clicked, 0);
  EXPECT_FALSE(shown[0].ended_by_host);
}

TEST_F(WindowTest, ScriptedClickEndsModalDialogWithTheButtonsChoiceAndRecordsWhatItShowed) {
  sx::window::expect_dialog(DialogMatch::by_title("Scribbix - Resolve Field Level Conflicts"),
                            {sx::window::check(1003), sx::window::click(1001)});
  ConflictState state;

  const INT_PTR choice = DialogBoxParamA(kModule, MAKEINTRESOURCEA(kConflictDialog), nullptr,
                                         conflict_proc, reinterpret_cast<LPARAM>(&state));

  EXPECT_EQ(choice, 1);
  EXPECT_STREQ(state.field_text, "Field: Note Text");
  EXPECT_EQ(state.all_box, static_cast<UINT>(BST_CHECKED));
  EXPECT_EQ(sx::window::unused_scripts(), 0u);
  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].result, 1);
  EXPECT_EQ(shown[0].clicked, 1001);
  EXPECT_EQ(shown[0].control(1003)->check, static_cast<UINT>(BST_CHECKED));
  EXPECT_EQ(shown[0].control(1001)->text, "Use &Handheld Value");
  EXPECT_EQ(shown[0].controls.size(), 6u);
}

TEST_F(WindowTest, ScriptedWaitLetsTimersRunForThatLongBeforeTheNextAction) {
  struct Ticks {
    int count = 0;
  } ticks;
  auto proc = [](HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) -> INT_PTR {
    if (msg == WM_INITDIALOG) {
      SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
      SetTimer(hwnd, 7, 2000, nullptr);
      return TRUE;
    }
    auto* t = reinterpret_cast<Ticks*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (msg == WM_TIMER && wparam == 7) ++t->count;
    if (msg == WM_COMMAND && LOWORD(wparam) == IDOK) EndDialog(hwnd, 100 + t->count);
    return msg == WM_TIMER || msg == WM_COMMAND;
  };
  sx::window::expect_dialog(DialogMatch::by_id(kUnknownUserDialog),
                            {sx::window::wait(5000), sx::window::click(IDOK)});

  const INT_PTR result = DialogBoxParamA(kModule, MAKEINTRESOURCEA(kUnknownUserDialog), nullptr,
                                         proc, reinterpret_cast<LPARAM>(&ticks));

  EXPECT_EQ(result, 102);  // ticks at 2 s and 4 s
}

TEST_F(WindowTest, ScriptedCloseArrivesAsWmCloseAndThenAsCancelCommand) {
  sx::window::expect_dialog(DialogMatch::any(), {sx::window::close()});
  Seen seen;

  const INT_PTR result = DialogBoxParamA(kModule, MAKEINTRESOURCEA(kUnknownUserDialog), nullptr,
                                         logging_proc, reinterpret_cast<LPARAM>(&seen));

  EXPECT_EQ(result, IDCANCEL);
  ASSERT_GE(seen.messages.size(), 3u);
  EXPECT_EQ(seen.messages[1], static_cast<UINT>(WM_CLOSE));
  EXPECT_EQ(seen.messages[2], static_cast<UINT>(WM_COMMAND));
  EXPECT_EQ(seen.commands, std::vector<WPARAM>{IDCANCEL});
}

TEST_F(WindowTest, DialogWithoutTimerIsCancelledWhenNobodyAnswers) {
  sx::window::set_host(sx::window::Host::kNone);
  Seen seen;

  const INT_PTR result = DialogBoxParamA(kModule, MAKEINTRESOURCEA(kUnknownUserDialog), nullptr,
                                         logging_proc, reinterpret_cast<LPARAM>(&seen));

  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(seen.commands, std::vector<WPARAM>{IDCANCEL});
  EXPECT_TRUE(sx::window::shown().empty());  // only the scripted host records
}

TEST_F(WindowTest, ScriptedDialogWhoseActionsAreUsedUpIsClosedLikeUnderTheNoneHost) {
  sx::window::expect_dialog(DialogMatch::by_id(kUnknownUserDialog), {sx::window::wait()});
  Seen seen;

  const INT_PTR result = DialogBoxParamA(kModule, MAKEINTRESOURCEA(kUnknownUserDialog), nullptr,
                                         logging_proc, reinterpret_cast<LPARAM>(&seen));

  EXPECT_EQ(result, IDCANCEL);
  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].ended_by_host);
  EXPECT_EQ(shown[0].clicked, IDCANCEL);
}

TEST_F(WindowTest, ScriptIsMatchedByTitleAndOthersAreLeftForLaterDialogs) {
  sx::window::expect_dialog(DialogMatch::by_title("Some Other Dialog"), {sx::window::click(IDOK)});
  sx::window::expect_dialog(DialogMatch::by_title("Scribbix Unknown Palm"),
                            {sx::window::click(IDOK)});
  Seen seen;

  EXPECT_EQ(DialogBoxParamA(kModule, MAKEINTRESOURCEA(kUnknownUserDialog), nullptr, logging_proc,
                            reinterpret_cast<LPARAM>(&seen)),
            IDOK);
  EXPECT_EQ(sx::window::unused_scripts(), 1u);
}

TEST_F(WindowTest, MissingTemplateGivesMinusOneAndNoWindow) {
  SetLastError(0xdeadbeef);
  EXPECT_EQ(DialogBoxParamA(kModule, MAKEINTRESOURCEA(4242), nullptr, logging_proc, 0), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
  // Templates belong to their module.
  EXPECT_EQ(CreateDialogA(nullptr, MAKEINTRESOURCEA(kProgressDialog), nullptr, logging_proc),
            nullptr);
  EXPECT_EQ(DialogBoxA(reinterpret_cast<HINSTANCE>(0x6000), MAKEINTRESOURCEA(kUnknownUserDialog),
                       nullptr, logging_proc),
            -1);
}

TEST_F(WindowTest, TemplateIsFoundByStringName) {
  sx::window::DialogTemplate named;
  named.name = "ABOUTBOX";
  named.title = "About";
  named.controls = {{IDOK, sx::window::ControlKind::kDefaultButton, "OK", 0, 0, 0, 0, 0}};
  sx::window::register_dialog(kModule, named);
  sx::window::expect_dialog(DialogMatch::by_title("About"), {sx::window::click(IDOK)});
  Seen seen;

  EXPECT_EQ(
      DialogBoxParamA(kModule, "ABOUTBOX", nullptr, logging_proc, reinterpret_cast<LPARAM>(&seen)),
      IDOK);
}

INT_PTR CALLBACK throwing_proc(HWND, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_INITDIALOG || msg == WM_COMMAND) throw std::runtime_error("field missing");
  return FALSE;
}

TEST_F(WindowTest, DialogProcedureThatThrowsCountsAsUnhandledAndTheDialogStillEnds) {
  sx::window::expect_dialog(DialogMatch::any(), {sx::window::click(IDOK)});
  ::testing::internal::CaptureStderr();

  const INT_PTR result =
      DialogBoxParamA(kModule, MAKEINTRESOURCEA(kUnknownUserDialog), nullptr, throwing_proc, 0);

  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, IDCANCEL);  // the host gave up on it
  EXPECT_NE(errors.find("dialog procedure of \"Scribbix Unknown Palm\" threw on message 0x0110: "
                        "field missing"),
            std::string::npos);
  EXPECT_TRUE(sx::window::shown().at(0).ended_by_host);
}

TEST_F(WindowTest, ModalDialogDisablesItsOwnerWhileItRuns) {
  HWND owner = CreateDialogA(kModule, MAKEINTRESOURCEA(kProgressDialog), nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  struct Probe {
    HWND owner;
    BOOL owner_enabled = -1;
  } probe{owner};
  auto proc = [](HWND hwnd, UINT msg, WPARAM, LPARAM lparam) -> INT_PTR {
    if (msg == WM_INITDIALOG) {
      auto* p = reinterpret_cast<Probe*>(lparam);
      p->owner_enabled = IsWindowEnabled(p->owner);
      EndDialog(hwnd, 5);
    }
    return TRUE;
  };

  EXPECT_EQ(DialogBoxParamA(kModule, MAKEINTRESOURCEA(kUnknownUserDialog), owner, proc,
                            reinterpret_cast<LPARAM>(&probe)),
            5);
  EXPECT_EQ(probe.owner_enabled, FALSE);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(GetParent(FindWindowA(nullptr, "Vorlan Scribbix Synchronization")), nullptr);
  EXPECT_TRUE(DestroyWindow(owner));
}

TEST_F(WindowTest, ModelessDialogReceivesPumpedMessagesAndIsGoneAfterDestroyWindow) {
  Seen seen;
  HWND dialog = CreateDialogParamA(kModule, MAKEINTRESOURCEA(kProgressDialog), nullptr,
                                   logging_proc, reinterpret_cast<LPARAM>(&seen));
  ASSERT_NE(dialog, nullptr);
  EXPECT_FALSE(IsWindowVisible(dialog));  // the template has no WS_VISIBLE
  EXPECT_FALSE(ShowWindow(dialog, SW_SHOW));
  EXPECT_TRUE(IsWindowVisible(dialog));

  SetDlgItemTextA(dialog, 1006, "Reading notes from handheld database.");
  SendDlgItemMessageA(dialog, 1008, PBM_SETRANGE, 0, MAKELONG(0, 40));
  SendDlgItemMessageA(dialog, 1008, PBM_SETPOS, 10, 0);
  ASSERT_TRUE(PostMessageA(dialog, WM_APP + 1, 11, 22));
  MSG msg;
  int pumped = 0;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!IsDialogMessageA(dialog, &msg)) DispatchMessageA(&msg);
    if (!is_paint_message(msg.message)) ++pumped;
  }
  EXPECT_EQ(pumped, 1);
  EXPECT_EQ(seen.messages.back(), static_cast<UINT>(WM_APP + 1));

  EXPECT_TRUE(DestroyWindow(dialog));
  EXPECT_EQ(seen.messages.back(), static_cast<UINT>(WM_DESTROY));
  EXPECT_FALSE(IsWindow(dialog));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(SetWindowTextA(dialog, "x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_FALSE(DestroyWindow(dialog));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(SendDlgItemMessageA(dialog, 1008, PBM_GETPOS, 0, 0), 0);

  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, ShownWindow::Kind::kModelessDialog);
  EXPECT_EQ(shown[0].control(1006)->text, "Reading notes from handheld database.");
  EXPECT_EQ(shown[0].control(1008)->progress_pos, 10);
  EXPECT_EQ(shown[0].control(1008)->progress_max, 40);
}

TEST_F(WindowTest, EndDialogOnModelessDialogOnlyHidesIt) {
  HWND dialog = CreateDialogA(kModule, MAKEINTRESOURCEA(kProgressDialog), nullptr, nullptr);
  ShowWindow(dialog, SW_SHOW);
  EXPECT_TRUE(EndDialog(dialog, 1));
  EXPECT_TRUE(IsWindow(dialog));
  EXPECT_FALSE(IsWindowVisible(dialog));
  EXPECT_TRUE(DestroyWindow(dialog));
  EXPECT_FALSE(EndDialog(dialog, 1));
}

}  // namespace
}  // namespace window_test
