// The scripted host beyond modal dialogs: a modeless progress window driven while the program
// works, a message box answered after the user did something else, and the help viewer.
#include <fstream>

#include "htmlhelp.h"
#include "window_fixture.h"

namespace window_test {
namespace {

using sx::window::DialogMatch;
using sx::window::ShownWindow;

constexpr int kWaitDialog = 600;
constexpr int kWaitText = 1000, kWaitBar = 1001;
constexpr const char* kWaitTitle = "Updating Scribbix Outlook Folder";

// A progress window in the manner of a "please wait" dialog: Cancel clears the caller's flag and
// closes the window.
INT_PTR CALLBACK wait_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    return TRUE;
  }
  if (msg == WM_COMMAND && LOWORD(wparam) == IDCANCEL) {
    *reinterpret_cast<int*>(GetWindowLongPtrA(hwnd, DWLP_USER)) = 0;
    DestroyWindow(hwnd);
    return TRUE;
  }
  return FALSE;
}

void pump_messages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

class ScriptedHostTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    using sx::window::ControlKind;
    sx::window::DialogTemplate t;
    t.id = kWaitDialog;
    t.title = "Working";
    t.cx = 200;
    t.cy = 60;
    t.style = WS_POPUP | WS_CAPTION | DS_CENTER;
    t.controls = {{kWaitText, ControlKind::kStatic, "", 7, 7, 186, 8, SS_CENTER},
                  {kWaitBar, ControlKind::kProgressBar, "", 7, 20, 186, 10, 0},
                  {IDCANCEL, ControlKind::kButton, "Cancel", 75, 38, 50, 14, 0}};
    sx::window::register_dialog(kModule, t);
  }

  // An update of `entries` entries: NextUpdate for each while the flag holds, the progress bar at
  // (n / 2 + i * 100) / n, messages pumped after each step. Returns the NextUpdate calls made.
  int update(int entries, bool* ended) {
    int flag = 1;
    HWND wait = CreateDialogParamA(kModule, MAKEINTRESOURCEA(kWaitDialog), nullptr, wait_proc,
                                   reinterpret_cast<LPARAM>(&flag));
    SetWindowTextA(wait, kWaitTitle);
    SetDlgItemTextA(wait, kWaitText, "Please Wait");
    ShowWindow(wait, SW_SHOW);
    SendDlgItemMessageA(wait, kWaitBar, PBM_SETPOS, 0, 0);
    pump_messages();
    int next_updates = 0;
    *ended = false;
    for (int i = 0; flag == 1; ++i) {
      if (i == entries) {
        *ended = true;  // EndUpdate
        break;
      }
      ++next_updates;
      SendDlgItemMessageA(wait, kWaitBar, PBM_SETPOS, (entries / 2 + i * 100) / entries, 0);
      pump_messages();
    }
    if (IsWindow(wait)) DestroyWindow(wait);
    return next_updates;
  }
};

TEST_F(ScriptedHostTest, ProgressWindowRecordsEveryPositionItShowed) {
  bool ended = false;
  EXPECT_EQ(update(3, &ended), 3);
  EXPECT_TRUE(ended);
  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, ShownWindow::Kind::kModelessDialog);
  EXPECT_EQ(shown[0].title, kWaitTitle);
  EXPECT_EQ(shown[0].control(kWaitBar)->progress_history, (std::vector<int>{0, 33, 67}));
}

TEST_F(ScriptedHostTest, ScriptCancelsAModelessDialogWhileTheProgramsLoopRuns) {
  sx::window::expect_dialog(
      DialogMatch::by_title(kWaitTitle),
      {sx::window::wait_for_progress(kWaitBar, 33), sx::window::click(IDCANCEL)});
  bool ended = false;
  EXPECT_EQ(update(3, &ended), 2);  // stopped before the third NextUpdate
  EXPECT_FALSE(ended);
  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].clicked, IDCANCEL);
  EXPECT_EQ(shown[0].control(kWaitBar)->progress_history, (std::vector<int>{0, 33}));
  EXPECT_EQ(sx::window::unused_scripts(), 0u);
}

TEST_F(ScriptedHostTest, TimedScriptActionWaitsOnTheClockWhileTheThreadWaitsForMessages) {
  sx::window::expect_dialog(DialogMatch::by_id(kWaitDialog),
                            {sx::window::wait(5000), sx::window::close()});
  int flag = 1;
  auto proc = [](HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) -> INT_PTR {
    if (msg == WM_DESTROY) PostQuitMessage(0);
    return wait_proc(hwnd, msg, wparam, lparam);
  };
  const std::int64_t start = sx::clock::now_ms();
  HWND wait = CreateDialogParamA(kModule, MAKEINTRESOURCEA(kWaitDialog), nullptr, proc,
                                 reinterpret_cast<LPARAM>(&flag));
  ShowWindow(wait, SW_SHOW);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  EXPECT_EQ(sx::clock::now_ms() - start, 5000);
  EXPECT_EQ(flag, 0);  // WM_CLOSE became Cancel
  EXPECT_FALSE(IsWindow(wait));
}

TEST_F(ScriptedHostTest, ProgressSetFromAWorkerThreadIsRecordedInOrderAndPainted) {
  int flag = 1;
  HWND wait = CreateDialogParamA(kModule, MAKEINTRESOURCEA(kWaitDialog), nullptr, wait_proc,
                                 reinterpret_cast<LPARAM>(&flag));
  ShowWindow(wait, SW_SHOW);
  ClockThread worker([wait] {
    for (int position = 0; position <= 100; position += 10) {
      SendDlgItemMessageA(wait, kWaitBar, PBM_SETPOS, position, 0);  // answered by the UI thread
    }
    PostMessageA(wait, WM_APP, 0, 0);
  });
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0 && msg.message != WM_APP) DispatchMessageA(&msg);
  worker.join();
  pump_messages();
  DestroyWindow(wait);

  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].control(kWaitBar)->progress_history,
            (std::vector<int>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
  bool bar_painted = false;
  for (const sx::window::Drawing& d : sx::window::drawn()) {
    bar_painted |= d.kind == sx::window::Drawing::Kind::kControl && d.control_id == kWaitBar;
  }
  EXPECT_TRUE(bar_painted);
}

TEST_F(ScriptedHostTest, MessageBoxAnswerCanComeAfterTheUserDidSomethingElse) {
  bool outlook_holds_the_file = true;
  bool box_was_up = false;
  sx::window::expect_message_box(IDOK, "Outlook is holding");
  sx::window::expect_message_box(IDOK, "Outlook is holding", [&] {
    box_was_up = IsWindowVisible(FindWindowA("#32770", "Install")) != FALSE;
    outlook_holds_the_file = false;  // the user closed Outlook, then pressed OK
  });
  int boxes = 0;
  while (outlook_holds_the_file && boxes < 5) {
    MessageBoxA(nullptr,
                "Outlook is holding the Scribbix file open.\nPlease shut down Outlook to continue "
                "the installation.",
                "Install", MB_OK);
    ++boxes;
  }
  EXPECT_EQ(boxes, 2);
  EXPECT_TRUE(box_was_up);
  EXPECT_EQ(sx::window::unused_scripts(), 0u);
}

TEST_F(ScriptedHostTest, HelpViewerOpensForAnExistingFileOnlyAndIsFoundByItsClass) {
  EXPECT_EQ(HtmlHelpA(nullptr, "C:\\Program Files\\Vorlan\\SXConfigure.chm", HH_DISPLAY_TOPIC, 0),
            nullptr);
  EXPECT_TRUE(sx::window::shown().empty());

  std::filesystem::create_directories(machine_.c("Program Files\\Vorlan"));
  std::ofstream(machine_.c("Program Files\\Vorlan\\SXConfigure.chm")) << "help";
  HWND viewer =
      HtmlHelpA(nullptr, "C:\\PROGRAM FILES\\Vorlan\\SXConfigure.chm", HH_DISPLAY_TOPIC, 0);
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(FindWindowA("HH Parent", nullptr), viewer);
  EXPECT_EQ(FindWindowA(nullptr, "SXConfigure"), viewer);
  EXPECT_EQ(HtmlHelpA(nullptr, "c:\\program files\\vorlan\\sxconfigure.chm::/index.htm",
                      HH_DISPLAY_TOPIC, 0),
            viewer);  // the open viewer again
  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, ShownWindow::Kind::kHelpViewer);
  EXPECT_EQ(shown[0].text, "C:\\PROGRAM FILES\\Vorlan\\SXConfigure.chm");

  EXPECT_EQ(HtmlHelpA(nullptr, nullptr, HH_CLOSE_ALL, 0), nullptr);
  EXPECT_FALSE(IsWindow(viewer));
  EXPECT_EQ(HtmlHelpA(nullptr, "C:\\Program Files\\Vorlan", HH_DISPLAY_TOPIC, 0), nullptr);
}

}  // namespace
}  // namespace window_test
