// The paint cycle, colours chosen by a dialog for its controls, icons, geometry and cursors.
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "win32/sync.h"
#include "window_fixture.h"

namespace window_test {
namespace {

using sx::window::DialogMatch;
using sx::window::Drawing;

// A class window that counts its paints and what BeginPaint handed it.
struct PaintLog {
  int paints = 0;
  int erases = 0;
  RECT last_paint{};
  BOOL last_erase = FALSE;
  bool begin_paint = true;  // false: handles WM_PAINT without BeginPaint (a fault)
};
PaintLog* g_log = nullptr;

LRESULT CALLBACK painting_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_PAINT) {
    ++g_log->paints;
    if (!g_log->begin_paint) return 0;
    PAINTSTRUCT paint;
    BeginPaint(hwnd, &paint);
    g_log->last_paint = paint.rcPaint;
    g_log->last_erase = paint.fErase;
    EndPaint(hwnd, &paint);
    return 0;
  }
  if (msg == WM_ERASEBKGND) ++g_log->erases;
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

void pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

class PaintTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    g_log = &log_;
    WNDCLASSA wc{};
    wc.lpszClassName = "PaintTest";
    wc.lpfnWndProc = painting_proc;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    ASSERT_NE(RegisterClassA(&wc), 0);
  }
  void TearDown() override {
    UnregisterClassA("PaintTest", nullptr);
    g_log = nullptr;
    WindowTest::TearDown();
  }

  HWND make(DWORD style) {
    return CreateWindowExA(0, "PaintTest", "Splash", WS_POPUP | style, 10, 20, 399, 333, nullptr,
                           nullptr, nullptr, nullptr);
  }

  PaintLog log_;
};

TEST_F(PaintTest, HiddenWindowIsNotPaintedAndShowingItPaintsOnceWithErase) {
  HWND hwnd = make(0);
  pump();
  EXPECT_EQ(log_.paints, 0);
  InvalidateRect(hwnd, nullptr, TRUE);
  UpdateWindow(hwnd);
  pump();
  EXPECT_EQ(log_.paints, 0);  // still hidden

  ShowWindow(hwnd, SW_SHOW);
  pump();
  EXPECT_EQ(log_.paints, 1);
  EXPECT_EQ(log_.erases, 1);
  EXPECT_EQ(log_.last_erase, FALSE);  // the class brush erased it
  EXPECT_EQ(log_.last_paint.right, 399);
  EXPECT_EQ(log_.last_paint.bottom, 333);
  pump();
  EXPECT_EQ(log_.paints, 1);  // BeginPaint emptied the region

  const auto drawn = sx::window::drawn();
  ASSERT_FALSE(drawn.empty());
  EXPECT_EQ(drawn.back().kind, Drawing::Kind::kErase);
  EXPECT_EQ(drawn.back().brush_colour, GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(drawn.back().window_title, "Splash");
  DestroyWindow(hwnd);
}

TEST_F(PaintTest, InvalidatedRectanglesAddUpUntilTheNextPaint) {
  HWND hwnd = make(WS_VISIBLE);
  pump();
  const RECT a{10, 10, 20, 20}, b{50, 5, 60, 15};
  InvalidateRect(hwnd, &a, FALSE);
  InvalidateRect(hwnd, &b, FALSE);
  RECT update{};
  EXPECT_TRUE(GetUpdateRect(hwnd, &update, FALSE));
  EXPECT_EQ(update.left, 10);
  EXPECT_EQ(update.right, 60);
  pump();
  EXPECT_EQ(log_.paints, 2);
  EXPECT_EQ(log_.erases, 1);  // only the first paint erased
  EXPECT_EQ(log_.last_paint.top, 5);
  EXPECT_EQ(log_.last_paint.bottom, 20);
  EXPECT_FALSE(GetUpdateRect(hwnd, &update, FALSE));
  DestroyWindow(hwnd);
}

TEST_F(PaintTest, UpdateWindowPaintsAtOnceWithoutAMessageLoop) {
  HWND hwnd = make(WS_VISIBLE);
  EXPECT_TRUE(UpdateWindow(hwnd));
  EXPECT_EQ(log_.paints, 1);
  EXPECT_TRUE(UpdateWindow(hwnd));
  EXPECT_EQ(log_.paints, 1);  // nothing left to paint
  DestroyWindow(hwnd);
}

// A window changed by another thread wakes its owner's waiting message loop at once; the owner's
// own changes need no wake-up (it is not waiting).
TEST_F(PaintTest, WindowInvalidatedByAnotherThreadWakesItsWaitingOwner) {
  constexpr int kRounds = 5;
  HWND hwnd = make(WS_VISIBLE);
  pump();
  ASSERT_EQ(log_.paints, 1);
  const std::int64_t start = sx::clock::now_ms();
  ASSERT_NE(SetTimer(hwnd, 1, 1000, nullptr), 0u);  // the limit of the waits below
  HANDLE painted = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<bool> stop{false};
  ClockThread other([&] {
    for (int round = 0; round < kRounds && !stop; ++round) {
      clock_sleep(10);
      // The jump of the clock woke the owner too: a moment of real time lets it go back to sleep
      // (meanwhile virtual time stands still), so that only the change can wake it.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      InvalidateRect(hwnd, nullptr, FALSE);
      WaitForSingleObject(painted, INFINITE);
    }
  });
  MSG msg;
  while (log_.paints <= kRounds && GetMessageA(&msg, nullptr, 0, 0) > 0 &&
         msg.message != WM_TIMER) {
    const int before = log_.paints;
    DispatchMessageA(&msg);
    if (log_.paints != before) SetEvent(painted);
  }
  stop = true;
  SetEvent(painted);
  other.join();
  CloseHandle(painted);
  EXPECT_EQ(log_.paints, kRounds + 1);
  EXPECT_LT(sx::clock::now_ms() - start, 1000);
  KillTimer(hwnd, 1);
  DestroyWindow(hwnd);
}

TEST_F(PaintTest, ProcedureThatSkipsBeginPaintIsNotSentWmPaintForever) {
  log_.begin_paint = false;
  HWND hwnd = make(WS_VISIBLE);
  pump();
  EXPECT_EQ(log_.paints, 1);
  DestroyWindow(hwnd);
}

TEST_F(PaintTest, PopUpWindowCentredOnTheScreenKeepsItsSizeAsClientArea) {
  HWND hwnd = make(0);
  const int x = (GetSystemMetrics(SM_CXSCREEN) - 399) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - 333) / 2;
  EXPECT_TRUE(SetWindowPos(hwnd, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW));
  RECT window{}, client{};
  ASSERT_TRUE(GetWindowRect(hwnd, &window));
  ASSERT_TRUE(GetClientRect(hwnd, &client));
  EXPECT_EQ(window.left, 312);
  EXPECT_EQ(window.top, 217);
  EXPECT_EQ(window.right - window.left, 399);
  EXPECT_EQ(client.right, 399);
  EXPECT_EQ(client.bottom, 333);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_NE(GetWindowLongPtrA(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);

  EXPECT_TRUE(MoveWindow(hwnd, 0, 0, 100, 50, TRUE));
  ASSERT_TRUE(GetClientRect(hwnd, &client));
  EXPECT_EQ(client.right, 100);
  EXPECT_EQ(client.bottom, 50);
  pump();
  EXPECT_EQ(log_.last_paint.right, 100);  // sizing repaints
  DestroyWindow(hwnd);
}

TEST_F(PaintTest, WaitCursorIsRecordedAndRestored) {
  HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
  ASSERT_NE(wait, nullptr);
  EXPECT_EQ(LoadCursorA(nullptr, IDC_WAIT), wait);  // shared
  HCURSOR before = SetCursor(wait);
  EXPECT_EQ(sx::window::current_cursor(), "wait");
  EXPECT_EQ(GetCursor(), wait);
  SetCursor(before != nullptr ? before : LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_EQ(sx::window::current_cursor(), "arrow");

  std::vector<std::string> cursors;
  for (const Drawing& d : sx::window::drawn()) {
    if (d.kind == Drawing::Kind::kCursor) cursors.push_back(d.text);
  }
  EXPECT_EQ(cursors, (std::vector<std::string>{"wait", "arrow"}));
  EXPECT_EQ(LoadCursorA(kModule, MAKEINTRESOURCEA(5)), nullptr);
}

// --- Dialogs: colours per control, and the icon of a minimised dialog

constexpr int kStatusDialog = 300;
constexpr int kRedRow = 1010, kGreenRow = 1011, kName = 1012, kMinimise = 1013;
constexpr COLORREF kRed = RGB(255, 100, 100), kGreen = RGB(150, 250, 200);

struct StatusDialog {
  HBRUSH face = nullptr;
  HICON icon = nullptr;
  int paints = 0;
  bool drew_icon = false;
};

INT_PTR CALLBACK status_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_INITDIALOG) SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
  auto* s = reinterpret_cast<StatusDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (s == nullptr) return FALSE;
  switch (msg) {
    case WM_INITDIALOG:
      s->face = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
      s->icon = LoadIconA(kModule, MAKEINTRESOURCEA(128));
      SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(s->icon));
      SendMessageA(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(s->icon));
      return TRUE;
    case WM_CTLCOLORSTATIC: {
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lparam));
      if (id != kRedRow && id != kGreenRow) return FALSE;
      SetBkColor(reinterpret_cast<HDC>(wparam), id == kRedRow ? kRed : kGreen);
      return reinterpret_cast<INT_PTR>(s->face);
    }
    case WM_PAINT:
      ++s->paints;
      if (IsIconic(hwnd)) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        SendMessageA(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT client;
        GetClientRect(hwnd, &client);
        const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
        s->drew_icon = DrawIcon(dc, x, y, s->icon) != FALSE;
        EndPaint(hwnd, &paint);
        return TRUE;
      }
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wparam) == kMinimise) ShowWindow(hwnd, SW_MINIMIZE);
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) EndDialog(hwnd, LOWORD(wparam));
      return TRUE;
    case WM_DESTROY:
      DeleteObject(s->face);
      return TRUE;
  }
  return FALSE;
}

class StatusDialogTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    using sx::window::ControlKind;
    sx::window::DialogTemplate t;
    t.id = kStatusDialog;
    t.title = "Status";
    t.cx = 200;
    t.cy = 100;
    t.style = DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    t.controls = {{kName, ControlKind::kStatic, "HotSync", 7, 7, 60, 8, 0},
                  {kRedRow, ControlKind::kStatic, " Not Found ", 70, 7, 60, 8, 0},
                  {kGreenRow, ControlKind::kStatic, " Found ", 70, 20, 60, 8, 0},
                  {kMinimise, ControlKind::kButton, "Minimise", 7, 40, 50, 14, 0},
                  {IDOK, ControlKind::kDefaultButton, "OK", 140, 80, 50, 14, 0}};
    sx::window::register_dialog(kModule, t);
    sx::window::register_icon(kModule, {128, {}, 32, 32});
  }
};

TEST_F(StatusDialogTest, EachControlIsRecordedInTheColoursItsDialogChose) {
  const std::size_t objects_before = sx::window::live_gdi_objects();
  sx::window::expect_dialog(DialogMatch::by_id(kStatusDialog), {sx::window::click(IDOK)});
  StatusDialog state;
  EXPECT_EQ(DialogBoxParamA(kModule, MAKEINTRESOURCEA(kStatusDialog), nullptr, status_proc,
                            reinterpret_cast<LPARAM>(&state)),
            IDOK);

  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  const auto* red = shown[0].control(kRedRow);
  EXPECT_EQ(red->background_colour, kRed);
  EXPECT_EQ(red->brush_colour, GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(red->text_colour, RGB(0, 0, 0));
  EXPECT_EQ(shown[0].control(kGreenRow)->background_colour, kGreen);
  EXPECT_EQ(shown[0].control(kName)->background_colour, GetSysColor(COLOR_3DFACE));

  bool saw_red_row = false;
  for (const Drawing& d : sx::window::drawn()) {
    if (d.kind == Drawing::Kind::kControl && d.control_id == kRedRow) {
      saw_red_row = true;
      EXPECT_EQ(d.text, " Not Found ");
      EXPECT_EQ(d.background_colour, kRed);
      EXPECT_EQ(d.window_title, "Status");
      EXPECT_EQ(d.rect.right, 90);  // 60 dialog units
    }
  }
  EXPECT_TRUE(saw_red_row);
  EXPECT_EQ(sx::window::live_gdi_objects(), objects_before);  // brush deleted, contexts released
}

TEST_F(StatusDialogTest, DialogRectangleHoldsItsFrameAndIsCentred) {
  struct Geometry {
    RECT window{}, client{};
  } g;
  auto proc = [](HWND hwnd, UINT msg, WPARAM, LPARAM lparam) -> INT_PTR {
    if (msg != WM_INITDIALOG) return FALSE;
    auto* g = reinterpret_cast<Geometry*>(lparam);
    GetWindowRect(hwnd, &g->window);
    GetClientRect(hwnd, &g->client);
    EndDialog(hwnd, IDOK);
    return TRUE;
  };
  DialogBoxParamA(kModule, MAKEINTRESOURCEA(kStatusDialog), nullptr, proc,
                  reinterpret_cast<LPARAM>(&g));
  EXPECT_EQ(g.client.right, 300);   // 200 dialog units of 6/4 pixel
  EXPECT_EQ(g.client.bottom, 162);  // 100 of 13/8
  EXPECT_EQ(g.window.right - g.window.left, 300 + 2 * 3);
  EXPECT_EQ(g.window.bottom - g.window.top, 162 + 19 + 2 * 3);
  EXPECT_EQ(g.window.left, (1024 - 306) / 2);
}

TEST_F(StatusDialogTest, MinimisedDialogDrawsItsIconCentredInAnIconSizedClientArea) {
  sx::window::expect_dialog(DialogMatch::by_id(kStatusDialog),
                            {sx::window::click(kMinimise), sx::window::click(IDOK)});
  StatusDialog state;
  DialogBoxParamA(kModule, MAKEINTRESOURCEA(kStatusDialog), nullptr, status_proc,
                  reinterpret_cast<LPARAM>(&state));

  EXPECT_TRUE(state.drew_icon);
  std::optional<Drawing> icon;
  for (const Drawing& d : sx::window::drawn()) {
    if (d.kind == Drawing::Kind::kIcon) icon = d;
  }
  ASSERT_TRUE(icon.has_value());
  EXPECT_EQ(icon->text, "icon 128");
  EXPECT_EQ(icon->rect.left, 0);
  EXPECT_EQ(icon->rect.right, 32);
  EXPECT_EQ(icon->window_title, "Status");
}

TEST_F(StatusDialogTest, DisabledControlIsRepaintedGreyAndAHiddenOneUncoversItsDialog) {
  struct Probe {
    RECT control_on_screen{}, dialog_client_on_screen{};
  } probe;
  auto proc = [](HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) -> INT_PTR {
    if (msg == WM_INITDIALOG) SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    if (msg != WM_COMMAND) return FALSE;
    auto* p = reinterpret_cast<Probe*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (LOWORD(wparam) == kMinimise) {
      EnableWindow(GetDlgItem(hwnd, kName), FALSE);
      ShowWindow(GetDlgItem(hwnd, kGreenRow), SW_HIDE);
      GetWindowRect(GetDlgItem(hwnd, kRedRow), &p->control_on_screen);
      GetWindowRect(hwnd, &p->dialog_client_on_screen);
    }
    if (LOWORD(wparam) == IDOK) EndDialog(hwnd, IDOK);
    return TRUE;
  };
  sx::window::expect_dialog(DialogMatch::by_id(kStatusDialog),
                            {sx::window::click(kMinimise), sx::window::click(IDOK)});
  DialogBoxParamA(kModule, MAKEINTRESOURCEA(kStatusDialog), nullptr, proc,
                  reinterpret_cast<LPARAM>(&probe));

  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_FALSE(shown[0].control(kName)->enabled);
  EXPECT_EQ(shown[0].control(kName)->text_colour, GetSysColor(COLOR_GRAYTEXT));
  EXPECT_FALSE(shown[0].control(kGreenRow)->visible);
  // The dialog erased again where the hidden row was, after its first paint.
  int dialog_erases = 0;
  for (const Drawing& d : sx::window::drawn()) {
    if (d.kind == Drawing::Kind::kErase && d.control_id == 0) ++dialog_erases;
  }
  EXPECT_EQ(dialog_erases, 2);
  // A control's window rectangle is on the screen: the dialog's client origin plus its place.
  EXPECT_EQ(probe.control_on_screen.left, probe.dialog_client_on_screen.left + 3 + 105);
  EXPECT_EQ(probe.control_on_screen.top, probe.dialog_client_on_screen.top + 3 + 19 + 11);
}

}  // namespace
}  // namespace window_test
