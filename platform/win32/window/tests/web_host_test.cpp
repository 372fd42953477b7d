// The web host: while the machine's page is open a dialog is described for it from its template
// and answered by what the page sends; without a page, or once the page is closed, the dialog is
// left to its own timers, as an unanswered dialog is.
#include <unistd.h>

#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>

#include "sx/web_windows.h"
#include "window_fixture.h"

namespace window_test {
namespace {

namespace web = sx::window::web;
using nlohmann::json;

constexpr INT_PTR kTimedOut = 99;
constexpr UINT_PTR kCountdown = 1, kOneSecond = 2;

// "<pid>-<handle>", the name the web host gives the dialog's files.
std::string name_of(HWND dialog) {
  char name[64];
  std::snprintf(name, sizeof name, "%d-%llx", static_cast<int>(::getpid()),
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(dialog)));
  return name;
}

struct DialogRun {
  std::function<void(HWND)> after_a_second;  // what the person (or the page) does then
  json shown;                                // the window file as it was after a second
  bool had_file = false;
};

// The conflict dialog's course: a 60 s countdown that ends it, a button click that answers it.
INT_PTR CALLBACK countdown_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    SetTimer(hwnd, kCountdown, 60000, nullptr);
    SetTimer(hwnd, kOneSecond, 1000, nullptr);
    return TRUE;
  }
  auto* run = reinterpret_cast<DialogRun*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (run == nullptr) return FALSE;
  if (msg == WM_TIMER && wparam == kOneSecond) {
    KillTimer(hwnd, kOneSecond);
    std::ifstream in(web::windows_folder() / (name_of(hwnd) + ".json"));
    run->had_file = static_cast<bool>(in);
    if (in) run->shown = json::parse(in, nullptr, false);
    if (run->after_a_second) run->after_a_second(hwnd);
    return TRUE;
  }
  if (msg == WM_TIMER && wparam == kCountdown) {
    EndDialog(hwnd, kTimedOut);
    return TRUE;
  }
  if (msg == WM_COMMAND && HIWORD(wparam) == BN_CLICKED && LOWORD(wparam) != 1003) {
    EndDialog(hwnd, LOWORD(wparam));
    return TRUE;
  }
  return FALSE;
}

class WebHostTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    sx::window::set_host(sx::window::Host::kWeb);
  }
  void open_page() {
    std::filesystem::create_directories(web::view_folder());
    std::ofstream(web::page_marker()) << ::getpid() << "\n";
  }
  // What the page server does when the person acts: a line appended to the window's input file.
  static void page_sends(HWND dialog, const std::string& line) {
    std::filesystem::create_directories(web::input_folder());
    std::ofstream(web::input_folder() / (name_of(dialog) + ".jsonl"), std::ios::app) << line;
  }
  INT_PTR show(DialogRun* run) {
    return DialogBoxParamA(kModule, MAKEINTRESOURCEA(kConflictDialog), nullptr, countdown_proc,
                           reinterpret_cast<LPARAM>(run));
  }
  static bool no_window_files() {
    std::error_code ec;
    return std::filesystem::directory_iterator(web::windows_folder(), ec) ==
           std::filesystem::directory_iterator();
  }
};

TEST_F(WebHostTest, APageSeesTheDialogAsItsTemplatePlacesItAndAnswersItWithAClick) {
  open_page();
  DialogRun run;
  run.after_a_second = [](HWND dialog) {
    const auto handle = [&](int id) {
      return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(GetDlgItem(dialog, id)));
    };
    // What the page may send that names nothing of this dialog is passed over.
    page_sends(dialog, "not json\n{\"do\":\"click\",\"handle\":12345}\n");
    web::WindowInput click;
    click.handle = handle(1000);
    page_sends(dialog, web::window_input_line(click));
  };
  const std::int64_t start = sx::clock::now_ms();
  EXPECT_EQ(show(&run), 1000);
  EXPECT_LT(sx::clock::now_ms() - start, 60000);

  ASSERT_TRUE(run.had_file);
  EXPECT_EQ(run.shown["title"], "Scribbix - Resolve Field Level Conflicts");
  EXPECT_EQ(run.shown["kind"], "dialog");
  ASSERT_EQ(run.shown["controls"].size(), 6u) << run.shown;
  const json& use_desktop = run.shown["controls"][2];
  EXPECT_EQ(use_desktop["id"], 1000);
  EXPECT_EQ(use_desktop["class"], "button");
  EXPECT_EQ(use_desktop["text"], "Use &Desktop Value");
  EXPECT_EQ(use_desktop["du"], json({7, 100, 80, 14}));
  EXPECT_EQ(run.shown["controls"][1]["class"], "edit");
  EXPECT_EQ(run.shown["controls"][5]["class"], "checkbox");
  // Gone from the page with the dialog.
  EXPECT_TRUE(no_window_files());
}

TEST_F(WebHostTest, APageClosedInTheMiddleOfADialogLeavesItToItsTimeout) {
  open_page();
  DialogRun run;
  run.after_a_second = [](HWND) { std::filesystem::remove(web::page_marker()); };
  const std::int64_t start = sx::clock::now_ms();
  EXPECT_EQ(show(&run), kTimedOut);
  EXPECT_GE(sx::clock::now_ms() - start, 60000);
  EXPECT_TRUE(run.had_file);
  EXPECT_TRUE(no_window_files());
}

TEST_F(WebHostTest, WithoutAPageADialogIsLeftToItsTimeoutAndNeverDrawn) {
  DialogRun run;
  EXPECT_EQ(show(&run), kTimedOut);
  EXPECT_FALSE(run.had_file);
  // A marker of a process that has ended is no open page either.
  std::filesystem::create_directories(web::view_folder());
  std::ofstream(web::page_marker()) << 999999999 << "\n";
  EXPECT_FALSE(web::page_open());
}

TEST(WebWindowInput, OnlyTheShapesThePageSendsAreTaken) {
  const auto typed = web::parse_window_input(R"({"do":"type","handle":7,"text":"Jo"})");
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->kind, web::WindowInput::Kind::kType);
  EXPECT_EQ(typed->text, "Jo");
  const auto picked = web::parse_window_input(R"({"do":"select","handle":7,"index":2})");
  ASSERT_TRUE(picked);
  EXPECT_EQ(picked->index, 2);
  EXPECT_TRUE(web::parse_window_input(R"({"do":"close"})"));
  for (const char* bad :
       {"", "[]", R"({"do":"click"})", R"({"do":"click","handle":-1})",
        R"({"do":"select","handle":7,"index":70000})", R"({"do":"type","handle":7})",
        R"({"do":"destroy","handle":7})"}) {
    EXPECT_FALSE(web::parse_window_input(bad)) << bad;
  }
  web::WindowInput input;
  input.kind = web::WindowInput::Kind::kType;
  input.handle = 42;
  input.text = "line\nbreak";
  const std::string line = web::window_input_line(input);
  EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
  EXPECT_EQ(web::parse_window_input(line)->text, "line\nbreak");
  EXPECT_TRUE(web::is_window_name("123-7f00ab"));
  EXPECT_FALSE(web::is_window_name("../registry"));
  EXPECT_FALSE(web::is_window_name("123-"));
}

}  // namespace
}  // namespace window_test
