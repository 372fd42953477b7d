// Whole runs with the settings registration leaves (ShowProgress on): the progress window is shown
// for the run, and what it shows at each stage is read from the window itself, as a person would
// see it.
#include "sx/window.h"
#include "sync_run_fixture.h"

namespace sx::conduit::testing {
namespace {

constexpr const char* kProgressTitle = "Vorlan Scribbix Synchronization";

struct WindowView {
  bool found = false;
  bool visible = false;
  std::string step, database, handheld_db, name;
  int position = -1, range_max = -1;
};

WindowView look_at_progress_window() {
  WindowView view;
  HWND window = FindWindowA(nullptr, kProgressTitle);
  if (window == nullptr) return view;
  view.found = true;
  view.visible = IsWindowVisible(window) != FALSE;
  auto text = [window](int id) {
    char buffer[256] = {};
    GetDlgItemTextA(window, id, buffer, sizeof buffer);
    return std::string(buffer);
  };
  view.step = text(IDC_PROGRESS_STEP);
  view.database = text(IDC_PROGRESS_DATABASE);
  view.handheld_db = text(IDC_PROGRESS_HANDHELD_DB);
  view.name = text(IDC_PROGRESS_NAME);
  view.position = static_cast<int>(SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
  view.range_max =
      static_cast<int>(SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_GETRANGE, FALSE, 0));
  return view;
}

class ProgressRunTest : public PostsRunTest {
 protected:
  void SetUp() override {
    PostsRunTest::SetUp();
    sx::window::set_host(sx::window::Host::kScripted);
    sx::window::clear_script();
    // What registration leaves: "ShowProgress" written as 0xFFFFFFFF when it is not there.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kApplicationKey, 0, KEY_ALL_ACCESS, &key), 0);
    RegDeleteValueA(key, "ShowProgress");
    RegCloseKey(key);
    ASSERT_EQ(register_conduit(), 0);
    g_desktop.probe = [this](const std::string& where) {
      seen_[where] = look_at_progress_window();
    };
  }
  void TearDown() override {
    sx::window::clear_script();
    PostsRunTest::TearDown();
  }
  std::map<std::string, WindowView> seen_;
};

TEST_F(ProgressRunTest, TheWindowIsShownForTheRunAndFollowsItsStepsAndNotes) {
  put_notes(3);
  long result = -1;
  conduit_log(&result);
  ASSERT_EQ(result, 0);

  // Opening the desktop: the window is up and visible, its texts cleared for the database.
  const WindowView& open = seen_.at("open");
  ASSERT_TRUE(open.found);
  EXPECT_TRUE(open.visible);
  EXPECT_EQ(open.step, "");
  EXPECT_EQ(open.database, "");
  EXPECT_EQ(open.handheld_db, "");
  EXPECT_EQ(open.name, "");

  // Reading the desktop: the handheld's three notes were counted, the last one named.
  const WindowView& read = seen_.at("read");
  EXPECT_TRUE(read.visible);
  EXPECT_EQ(read.step, "Reading notes from handheld database.");
  EXPECT_EQ(read.handheld_db, "ibbixDB");  // the display name from its fourth character
  EXPECT_EQ(read.database, "");
  EXPECT_EQ(read.name, "note 2");
  EXPECT_EQ(read.position, 3);
  EXPECT_EQ(read.range_max, 3);

  // Keeping the state, after both writes: the desktop's "Database:" line, the handheld written
  // last (a two-way sync writes the desktop first).
  const WindowView& save = seen_.at("save");
  EXPECT_EQ(save.step, "Writing updates to handheld database.");
  EXPECT_EQ(save.database, "desktop");
  EXPECT_EQ(save.handheld_db, "ibbixDB");

  // At the end the texts are cleared again and the window goes.
  EXPECT_EQ(FindWindowA(nullptr, kProgressTitle), nullptr);
  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, sx::window::ShownWindow::Kind::kModelessDialog);
  EXPECT_EQ(shown[0].resource_id, IDD_PROGRESS);
  for (int id :
       {IDC_PROGRESS_STEP, IDC_PROGRESS_DATABASE, IDC_PROGRESS_HANDHELD_DB, IDC_PROGRESS_NAME}) {
    EXPECT_EQ(shown[0].control(id)->text, "") << id;
  }
}

TEST_F(ProgressRunTest, ASecondRunReadsTheStateFileUnderTheDesktopsName) {
  put_notes(2);
  long result = -1;
  conduit_log(&result);
  ASSERT_EQ(result, 0);
  seen_.clear();
  conduit_log(&result);
  ASSERT_EQ(result, 0);
  // The desktop's open read its two notes from the state file.
  const WindowView& read = seen_.at("read");
  EXPECT_EQ(read.database, "desktop");
  EXPECT_EQ(read.step, "Reading notes from handheld database.");
  EXPECT_EQ(read.position, 2);
}

TEST_F(ProgressRunTest, WithShowProgressOffNoWindowComesUp) {
  set_setting("ShowProgress", 0);
  put_notes(2);
  long result = -1;
  conduit_log(&result);
  ASSERT_EQ(result, 0);
  EXPECT_FALSE(seen_.at("read").found);
  EXPECT_TRUE(sx::window::shown().empty());
}

}  // namespace
}  // namespace sx::conduit::testing
