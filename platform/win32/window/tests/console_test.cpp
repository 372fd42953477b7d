// The console host: a status row drawn in red shows in red, menus and progress bars are drawn, and
// a person walks a wizard and chooses menu items with keys (stdin fed through a pipe).
#include <fcntl.h>
#include <unistd.h>

#include "commctrl.h"
#include "window_fixture.h"

namespace window_test {
namespace {

constexpr int kRowsDialog = 700, kRowsMenu = 701;
constexpr int kName = 1010, kStatus = 1011, kBar = 1012;
constexpr int kExit = 32776, kAbout = 32773;

INT_PTR CALLBACK rows_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  static HBRUSH face = nullptr;
  switch (msg) {
    case WM_INITDIALOG:
      face = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
      SendDlgItemMessageA(hwnd, kBar, PBM_SETPOS, 33, 0);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lparam)) != kStatus) return FALSE;
      SetBkColor(reinterpret_cast<HDC>(wparam), RGB(255, 100, 100));
      return reinterpret_cast<INT_PTR>(face);
    case WM_COMMAND:
      if (LOWORD(wparam) == kExit || LOWORD(wparam) == IDCANCEL) EndDialog(hwnd, LOWORD(wparam));
      return TRUE;
    case WM_DESTROY:
      DeleteObject(face);
      return TRUE;
  }
  return FALSE;
}

// Feeds stdin from a pipe for one test.
class ConsoleInput {
 public:
  explicit ConsoleInput(const std::string& lines) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    saved_ = ::dup(0);
    ::dup2(fds[0], 0);
    ::close(fds[0]);
    EXPECT_EQ(::write(fds[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    ::close(fds[1]);  // the person stops typing after these lines
  }
  ~ConsoleInput() {
    ::dup2(saved_, 0);
    ::close(saved_);
  }

 private:
  int saved_ = -1;
};

class ConsoleTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    sx::window::MenuTemplate menu;
    menu.id = kRowsMenu;
    menu.items = {sx::window::popup("&Options", {sx::window::menu_item(kExit, "&Exit")}),
                  sx::window::popup("&Help", {sx::window::menu_item(kAbout, "About...")})};
    sx::window::register_menu(kModule, menu);
    using sx::window::ControlKind;
    sx::window::DialogTemplate t;
    t.id = kRowsDialog;
    t.title = "Scribbix Outlook Conduit Configuration";
    t.cx = 250;
    t.cy = 80;
    t.style = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    t.menu = kRowsMenu;
    t.controls = {{kName, ControlKind::kStatic, "HotSync", 7, 7, 80, 8, 0},
                  {kStatus, ControlKind::kStatic, " Not Found ", 100, 7, 60, 8, 0},
                  {kBar, ControlKind::kProgressBar, "", 7, 30, 200, 10, 0},
                  {IDOK, ControlKind::kDefaultButton, "OK", 190, 60, 50, 14, 0}};
    sx::window::register_dialog(kModule, t);
  }
};

TEST_F(ConsoleTest, StatusRowDrawnInRedShowsInRedWithTheMenuAndTheProgressBar) {
  HWND dialog = CreateDialogParamA(kModule, MAKEINTRESOURCEA(kRowsDialog), nullptr, rows_proc, 0);
  ShowWindow(dialog, SW_SHOW);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);

  const std::string text = sx::window::console_render(dialog);
  EXPECT_NE(text.find(sx::window::console_background(255, 100, 100) + " Not Found " +
                      sx::window::kConsoleReset),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("|   HotSync\n"), std::string::npos) << text;  // default colours: plain
  EXPECT_NE(text.find("Options: m1 Exit"), std::string::npos) << text;
  EXPECT_NE(text.find("Help: m2 About..."), std::string::npos) << text;
  EXPECT_NE(text.find("[#########.....................] 33%"), std::string::npos) << text;
  EXPECT_EQ(sx::window::console_render(nullptr), "");
  DestroyWindow(dialog);
}

TEST_F(ConsoleTest, PersonChoosesAMenuItemWithItsKey) {
  sx::window::set_host(sx::window::Host::kConsole);
  ConsoleInput input("m9\nm1\n");  // m9 does not exist
  ::testing::internal::CaptureStdout();
  const INT_PTR result =
      DialogBoxParamA(kModule, MAKEINTRESOURCEA(kRowsDialog), nullptr, rows_proc, 0);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, kExit);
  EXPECT_NE(out.find("mN = menu"), std::string::npos) << out;
}

// A two-page wizard for a person at the console.
INT_PTR CALLBACK console_page_proc(HWND page, UINT msg, WPARAM, LPARAM lparam) {
  if (msg == WM_INITDIALOG) {
    SendDlgItemMessageA(page, 1001, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Mike"));
    SendDlgItemMessageA(page, 1001, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Anne"));
    return TRUE;
  }
  if (msg != WM_NOTIFY) return FALSE;
  const auto* hdr = reinterpret_cast<const NMHDR*>(lparam);
  if (hdr->code == PSN_SETACTIVE) {
    const bool last = GetDlgItem(page, 1001) == nullptr;
    PropSheet_SetWizButtons(GetParent(page), last ? PSWIZB_BACK | PSWIZB_FINISH : PSWIZB_NEXT);
  }
  SetWindowLongPtrA(page, DWLP_MSGRESULT, 0);
  return TRUE;
}

TEST_F(ConsoleTest, PersonWalksTheWizardWithKeys) {
  using sx::window::ControlKind;
  sx::window::DialogTemplate first;
  first.id = 710;
  first.title = "Choose a Palm User Name";
  first.cx = 200;
  first.cy = 100;
  first.controls = {{1001, ControlKind::kListBox, "", 7, 7, 100, 60, LBS_SORT}};
  sx::window::register_dialog(kModule, first);
  sx::window::DialogTemplate last;
  last.id = 711;
  last.title = "Final Settings";
  last.cx = 200;
  last.cy = 100;
  last.controls = {{IDC_STATIC, ControlKind::kStatic,
                    "To accept these settings press the "
                    "Finish button.",
                    7, 7, 180, 8, 0}};
  sx::window::register_dialog(kModule, last);

  PROPSHEETPAGEA pages[2] = {};
  for (int i = 0; i < 2; ++i) {
    pages[i].dwSize = sizeof(PROPSHEETPAGEA);
    pages[i].hInstance = kModule;
    pages[i].pszTemplate = MAKEINTRESOURCEA(710 + i);
    pages[i].pfnDlgProc = console_page_proc;
  }
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_WIZARD | PSH_PROPSHEETPAGE;
  header.pszCaption = "Installation Wizard";
  header.nPages = 2;
  header.ppsp = pages;

  sx::window::set_host(sx::window::Host::kConsole);
  // Pick "Mike" (2nd after sorting), Next with Enter, then Enter again: Finish.
  ConsoleInput input("1 2\n\n\n");
  ::testing::internal::CaptureStdout();
  const INT_PTR result = PropertySheetA(&header);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, 1) << out;
  EXPECT_NE(out.find("== Choose a Palm User Name =="), std::string::npos) << out;
  EXPECT_NE(out.find("> 2. Mike"), std::string::npos) << out;
  EXPECT_NE(out.find("== Final Settings =="), std::string::npos) << out;
  EXPECT_NE(out.find("<< Finish >>"), std::string::npos) << out;
  EXPECT_NE(out.find("(2) < < Back >"), std::string::npos) << out;  // disabled on the first page
}

// A progress window as a conduit uses it: made and changed by a thread that reads no messages
// while it works. The person sees its fields as text and, when it goes, its last state.
TEST_F(ConsoleTest, AProgressWindowChangedWithoutReadingMessagesShowsItsLastStateAsItGoes) {
  constexpr int kProgressDialog = 702, kStep = 1020, kNote = 1021, kProgress = 1022;
  using sx::window::ControlKind;
  sx::window::DialogTemplate t;
  t.id = kProgressDialog;
  t.title = "Synchronization";
  t.cx = 200;
  t.cy = 60;
  t.style = WS_POPUP | WS_CAPTION | WS_VISIBLE;
  t.controls = {{kStep, ControlKind::kStatic, "Sync Step:", 7, 7, 60, 8, 0},
                {kNote, ControlKind::kEdit, "", 70, 7, 120, 12, ES_READONLY},
                {kProgress, ControlKind::kProgressBar, "", 7, 30, 180, 10, 0}};
  sx::window::register_dialog(kModule, t);
  sx::window::set_host(sx::window::Host::kConsole);
  ::testing::internal::CaptureStdout();
  HWND dialog = CreateDialogParamA(
      kModule, MAKEINTRESOURCEA(kProgressDialog), nullptr,
      [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
  ASSERT_NE(dialog, nullptr);
  SendDlgItemMessageA(dialog, kProgress, PBM_SETRANGE32, 0, 4);
  for (int note = 1; note <= 4; ++note) {
    SetDlgItemTextA(dialog, kNote, ("Note " + std::to_string(note) + "\r\n").c_str());
    SendDlgItemMessageA(dialog, kProgress, PBM_SETPOS, static_cast<WPARAM>(note), 0);
  }
  DestroyWindow(dialog);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("|   Sync Step:\n|     Note 4\n|   [##############################] 100%\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("|     |"), std::string::npos) << out;  // no stray bar for a field
}

}  // namespace
}  // namespace window_test
