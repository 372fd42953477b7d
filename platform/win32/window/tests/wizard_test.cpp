// Property sheets in wizard mode: four pages walked forward and back, Finish and Cancel, the
// buttons each page enables, skipped pages, and the three hosts.
#include "commctrl.h"
#include "window_fixture.h"

namespace window_test {
namespace {

using sx::window::click;
using sx::window::DialogMatch;
using sx::window::ShownWindow;

constexpr int kUserPage = 501, kProfilePage = 502, kFolderPage = 503, kFinalPage = 504;
constexpr int kUsers = 1001, kProfiles = 1002, kUpdate = 1003, kReplace = 1004;
constexpr int kUserValue = 1005, kProfileValue = 1006, kFolderValue = 1007;
constexpr const char* kCaption = "Installation Wizard";

struct Settings {
  std::string palm_user, profile;
  bool replace = false;
  bool skip_user_page = false;     // the user page answers PSN_SETACTIVE with -1
  int refuse_cancel = 0;           // PSN_QUERYCANCEL answers TRUE this many times
  std::vector<std::string> heard;  // "<page> <notification>"
};

const char* name_of(UINT code) {
  switch (code) {
    case PSN_SETACTIVE:
      return "setactive";
    case PSN_KILLACTIVE:
      return "killactive";
    case PSN_WIZNEXT:
      return "next";
    case PSN_WIZBACK:
      return "back";
    case PSN_WIZFINISH:
      return "finish";
    case PSN_QUERYCANCEL:
      return "querycancel";
    case PSN_RESET:
      return "reset";
  }
  return "other";
}

std::string selected_text(HWND page, int list) {
  const LRESULT i = SendDlgItemMessageA(page, list, LB_GETCURSEL, 0, 0);
  if (i < 0) return {};
  char text[64] = {};
  SendDlgItemMessageA(page, list, LB_GETTEXT, static_cast<WPARAM>(i),
                      reinterpret_cast<LPARAM>(text));
  return text;
}

// One procedure for the four pages; the page's template id tells them apart.
INT_PTR CALLBACK page_proc(HWND page, UINT msg, WPARAM, LPARAM lparam) {
  if (msg == WM_INITDIALOG) {
    const auto* psp = reinterpret_cast<const PROPSHEETPAGEA*>(lparam);
    SetWindowLongPtrA(page, DWLP_USER, psp->lParam);
    auto* s = reinterpret_cast<Settings*>(psp->lParam);
    const int id = static_cast<int>(reinterpret_cast<std::uintptr_t>(psp->pszTemplate));
    if (id == kUserPage) {
      for (const char* user : {"Mike", "Anne", "Zoe"}) {
        SendDlgItemMessageA(page, kUsers, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(user));
      }
      SendDlgItemMessageA(page, kUsers, LB_SETCURSEL, 0, 0);
    } else if (id == kProfilePage) {
      for (const char* profile : {"Outlook", "Work"}) {
        SendDlgItemMessageA(page, kProfiles, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(profile));
      }
      SendDlgItemMessageA(page, kProfiles, LB_SETCURSEL, 1, 0);
    } else if (id == kFolderPage) {
      CheckRadioButton(page, kUpdate, kReplace, s->replace ? kReplace : kUpdate);
    }
    return TRUE;
  }
  if (msg != WM_NOTIFY) return FALSE;
  auto* s = reinterpret_cast<Settings*>(GetWindowLongPtrA(page, DWLP_USER));
  const auto* hdr = reinterpret_cast<const NMHDR*>(lparam);
  HWND sheet = GetParent(page);
  char title[64];
  GetWindowTextA(page, title, sizeof title);
  s->heard.push_back(std::string(title) + " " + name_of(hdr->code));
  LONG_PTR answer = 0;
  switch (hdr->code) {
    case PSN_SETACTIVE:
      if (std::string(title) == "Choose a Palm User Name") {
        if (s->skip_user_page) {
          answer = -1;
        } else {
          PropSheet_SetWizButtons(sheet, PSWIZB_NEXT);
        }
      } else if (std::string(title) == "Final Settings") {
        SetDlgItemTextA(page, kUserValue, s->palm_user.c_str());
        SetDlgItemTextA(page, kProfileValue, s->profile.c_str());
        SetDlgItemTextA(page, kFolderValue, s->replace ? "Replace" : "Update");
        PropSheet_SetWizButtons(sheet, PSWIZB_BACK | PSWIZB_FINISH);
      } else {
        PropSheet_SetWizButtons(sheet, PSWIZB_BACK | PSWIZB_NEXT);
      }
      break;
    case PSN_WIZNEXT:
    case PSN_WIZBACK:
      if (std::string(title) == "Choose a Palm User Name")
        s->palm_user = selected_text(page, kUsers);
      if (std::string(title) == "Choose an Outlook Profile") {
        s->profile = selected_text(page, kProfiles);
      }
      if (std::string(title) == "Scribbix Folder") {
        s->replace = IsDlgButtonChecked(page, kReplace) == BST_CHECKED;
      }
      break;
    case PSN_QUERYCANCEL:
      if (s->refuse_cancel > 0) {
        --s->refuse_cancel;
        answer = TRUE;
      }
      break;
  }
  SetWindowLongPtrA(page, DWLP_MSGRESULT, answer);
  return TRUE;
}

class WizardTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    using sx::window::ControlKind;
    auto page = [](int id, const char* title, std::vector<sx::window::ControlTemplate> controls) {
      sx::window::DialogTemplate t;
      t.id = id;
      t.title = title;
      t.cx = 317;
      t.cy = 143;
      t.style = WS_CHILD | WS_DISABLED | WS_CAPTION;
      t.controls = std::move(controls);
      sx::window::register_dialog(kModule, t);
    };
    page(kUserPage, "Choose a Palm User Name",
         {{IDC_STATIC, ControlKind::kStatic, "HotSync is configured for multiple Palms", 7, 7, 300,
           8, 0},
          {kUsers, ControlKind::kListBox, "", 7, 30, 150, 80, LBS_SORT | LBS_NOTIFY}});
    page(kProfilePage, "Choose an Outlook Profile",
         {{kProfiles, ControlKind::kListBox, "", 7, 30, 150, 80, LBS_NOTIFY}});
    page(kFolderPage, "Scribbix Folder",
         {{kUpdate, ControlKind::kRadioButton, "Update", 7, 60, 80, 10, WS_GROUP},
          {kReplace, ControlKind::kRadioButton, "Replace", 7, 75, 80, 10, 0}});
    page(kFinalPage, "Final Settings",
         {{IDC_STATIC, ControlKind::kStatic, "Palm User:", 7, 7, 60, 8, 0},
          {kUserValue, ControlKind::kStatic, "", 70, 7, 150, 8, 0},
          {kProfileValue, ControlKind::kStatic, "", 70, 20, 150, 8, 0},
          {kFolderValue, ControlKind::kStatic, "", 70, 33, 150, 8, 0}});
  }

  INT_PTR run(Settings* s, DWORD extra_flags = 0) {
    PROPSHEETPAGEA pages[4] = {};
    const int ids[4] = {kUserPage, kProfilePage, kFolderPage, kFinalPage};
    for (int i = 0; i < 4; ++i) {
      pages[i].dwSize = sizeof(PROPSHEETPAGEA);
      pages[i].hInstance = kModule;
      pages[i].pszTemplate = MAKEINTRESOURCEA(ids[i]);
      pages[i].pfnDlgProc = page_proc;
      pages[i].lParam = reinterpret_cast<LPARAM>(s);
    }
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_WIZARD | PSH_PROPSHEETPAGE | extra_flags;
    header.pszCaption = kCaption;
    header.nPages = 4;
    header.ppsp = pages;
    return PropertySheetA(&header);
  }

  static std::vector<ShownWindow> pages_shown() {
    std::vector<ShownWindow> pages;
    for (const ShownWindow& w : sx::window::shown()) {
      if (w.kind == ShownWindow::Kind::kPropertyPage) pages.push_back(w);
    }
    return pages;
  }
};

TEST_F(WizardTest, FourPagesWalkedForwardAndBackEndWithFinishAndTheChoicesKept) {
  INITCOMMONCONTROLSEX init{sizeof init, ICC_WIN95_CLASSES};
  EXPECT_TRUE(InitCommonControlsEx(&init));
  sx::window::expect_dialog(
      DialogMatch::by_title(kCaption),
      {click(ID_WIZBACK),  // disabled on the first page: nothing happens
       sx::window::select(kUsers, 2), click(ID_WIZNEXT), click(ID_WIZNEXT), click(kReplace),
       click(ID_WIZBACK), click(ID_WIZNEXT), click(ID_WIZNEXT), click(ID_WIZFINISH)});
  Settings s;
  EXPECT_EQ(run(&s), 1);

  EXPECT_EQ(s.palm_user, "Zoe");  // the list sorted the names
  EXPECT_EQ(s.profile, "Work");
  EXPECT_TRUE(s.replace);
  const auto pages = pages_shown();
  ASSERT_EQ(pages.size(), 6u);
  const std::vector<std::pair<int, DWORD>> expected = {
      {kUserPage, PSWIZB_NEXT},
      {kProfilePage, PSWIZB_BACK | PSWIZB_NEXT},
      {kFolderPage, PSWIZB_BACK | PSWIZB_NEXT},  // left with Back: Replace stored anyway
      {kProfilePage, PSWIZB_BACK | PSWIZB_NEXT},
      {kFolderPage, PSWIZB_BACK | PSWIZB_NEXT},
      {kFinalPage, PSWIZB_BACK | PSWIZB_FINISH}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(pages[i].resource_id, expected[i].first) << i;
    EXPECT_EQ(pages[i].wizard_buttons, expected[i].second) << i;
  }
  EXPECT_EQ(pages[0].title, "Choose a Palm User Name");
  EXPECT_EQ(pages[4].control(kReplace)->check, static_cast<UINT>(BST_CHECKED));  // kept
  EXPECT_EQ(pages[5].control(kUserValue)->text, "Zoe");
  EXPECT_EQ(pages[5].control(kFolderValue)->text, "Replace");

  const ShownWindow sheet = sx::window::shown().back();
  EXPECT_EQ(sheet.title, kCaption);
  EXPECT_FALSE(sheet.control(ID_WIZNEXT)->visible);  // Finish took Next's place
  EXPECT_TRUE(sheet.control(ID_WIZFINISH)->visible);
  EXPECT_TRUE(sheet.control(ID_WIZFINISH)->enabled);
  EXPECT_EQ(sx::window::unused_scripts(), 0u);
}

TEST_F(WizardTest, CancelOnAPageEndsWithoutFinishAndResetsThePagesMadeSoFar) {
  sx::window::expect_dialog(DialogMatch::by_title(kCaption),
                            {click(ID_WIZNEXT), click(ID_WIZNEXT), click(IDCANCEL)});
  Settings s;
  EXPECT_EQ(run(&s), 0);
  EXPECT_EQ(s.heard, (std::vector<std::string>{
                         "Choose a Palm User Name setactive", "Choose a Palm User Name next",
                         "Choose a Palm User Name killactive",
                         "Choose an Outlook Profile setactive", "Choose an Outlook Profile next",
                         "Choose an Outlook Profile killactive", "Scribbix Folder setactive",
                         "Scribbix Folder querycancel", "Choose a Palm User Name reset",
                         "Choose an Outlook Profile reset", "Scribbix Folder reset"}));
  ASSERT_EQ(pages_shown().size(), 3u);
  EXPECT_EQ(pages_shown().back().resource_id, kFolderPage);
}

TEST_F(WizardTest, PageThatRefusesToBeCancelledKeepsTheWizardOpen) {
  sx::window::expect_dialog(DialogMatch::by_title(kCaption),
                            {click(IDCANCEL), click(ID_WIZNEXT), sx::window::close()});
  Settings s;
  s.refuse_cancel = 1;
  EXPECT_EQ(run(&s), 0);
  EXPECT_EQ(pages_shown().size(), 2u);  // the user page, then the profile page on cancel
}

TEST_F(WizardTest, PageAnsweringSetActiveWithMinusOneIsSkippedBothWays) {
  sx::window::expect_dialog(DialogMatch::by_title(kCaption),
                            {click(ID_WIZBACK), click(ID_WIZBACK), click(ID_WIZNEXT),
                             click(ID_WIZNEXT), click(ID_WIZFINISH)});
  Settings s;
  s.skip_user_page = true;
  EXPECT_EQ(run(&s), 1);
  std::vector<int> order;
  for (const ShownWindow& page : pages_shown()) order.push_back(page.resource_id);
  // Starts on the profile page; Back from it would reach only the skipped page, so it stays.
  EXPECT_EQ(order, (std::vector<int>{kProfilePage, kFolderPage, kFinalPage}));
}

TEST_F(WizardTest, AScriptWalksTheWizardByTheTextsItShows) {
  sx::window::set_host(sx::window::Host::kAnswers);
  sx::window::set_window_answers(
      {{kCaption, {"Zoe", "Next >", "Next >", "Replace", "Next >", "Finish"}}});
  ::testing::internal::CaptureStderr();
  Settings s;
  EXPECT_EQ(run(&s), 1);
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(s.palm_user, "Zoe");  // a list's item
  EXPECT_TRUE(s.replace);         // a radio button of the third page
  EXPECT_NE(log.find("[answered dialog \"Installation Wizard\": Finish]"), std::string::npos)
      << log;
  // A step that names nothing on the page cancels the wizard there.
  sx::window::set_window_answers({{kCaption, {"Next >", "Nobody"}}});
  ::testing::internal::CaptureStderr();
  Settings other;
  EXPECT_EQ(run(&other), 0);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("has nothing to press named \"Nobody\""),
            std::string::npos);
}

TEST_F(WizardTest, NobodyToAnswerCancelsTheWizard) {
  sx::window::set_host(sx::window::Host::kNone);
  Settings s;
  EXPECT_EQ(run(&s), 0);
  EXPECT_EQ(s.heard.back(), "Choose a Palm User Name reset");
}

TEST_F(WizardTest, SheetsItCannotRunFailWithMinusOne) {
  Settings s;
  EXPECT_EQ(run(&s, PSH_MODELESS), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));

  PROPSHEETPAGEA page{};
  page.dwSize = sizeof page;
  page.hInstance = kModule;
  page.pszTemplate = MAKEINTRESOURCEA(999);  // no such template
  page.pfnDlgProc = page_proc;
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_WIZARD | PSH_PROPSHEETPAGE;
  header.nPages = 1;
  header.ppsp = &page;
  EXPECT_EQ(PropertySheetA(&header), -1);
  header.dwFlags = PSH_PROPSHEETPAGE;  // not a wizard
  page.pszTemplate = MAKEINTRESOURCEA(kUserPage);
  EXPECT_EQ(PropertySheetA(&header), -1);
  header.dwFlags = PSH_WIZARD | PSH_PROPSHEETPAGE;
  header.nPages = 0;
  EXPECT_EQ(PropertySheetA(&header), -1);
  EXPECT_EQ(PropertySheetA(nullptr), -1);
  EXPECT_TRUE(sx::window::shown().empty());
}

std::vector<std::string>* g_callbacks = nullptr;

UINT CALLBACK page_callback(HWND, UINT msg, PROPSHEETPAGEA* page) {
  const char* names[] = {"addref", "release", "create"};
  g_callbacks->push_back(std::string(names[msg]) + " " +
                         std::to_string(reinterpret_cast<std::uintptr_t>(page->pszTemplate)));
  return 1;
}

TEST_F(WizardTest, PagesMadeAheadAreOwnedByTheSheetAndHearTheirCallbacks) {
  std::vector<std::string> callbacks;
  g_callbacks = &callbacks;
  Settings s;
  HPROPSHEETPAGE pages[2];
  const int ids[2] = {kFolderPage, kFinalPage};
  for (int i = 0; i < 2; ++i) {
    PROPSHEETPAGEA page{};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_USECALLBACK | PSP_USETITLE;
    page.hInstance = kModule;
    page.pszTemplate = MAKEINTRESOURCEA(ids[i]);
    page.pszTitle = i == 0 ? "Scribbix Folder" : "Final Settings";
    page.pfnDlgProc = page_proc;
    page.pfnCallback = page_callback;
    page.lParam = reinterpret_cast<LPARAM>(&s);
    pages[i] = CreatePropertySheetPageA(&page);
    ASSERT_NE(pages[i], nullptr);
  }
  sx::window::expect_dialog(DialogMatch::by_title(kCaption),
                            {click(ID_WIZNEXT), click(ID_WIZFINISH)});
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_WIZARD;
  header.pszCaption = kCaption;
  header.nPages = 2;
  header.phpage = pages;
  EXPECT_EQ(PropertySheetA(&header), 1);
  EXPECT_EQ(callbacks, (std::vector<std::string>{"addref 503", "addref 504", "create 503",
                                                 "create 504", "release 503", "release 504"}));
  EXPECT_FALSE(DestroyPropertySheetPage(pages[0]));  // gone with the sheet

  // A sheet given a stale handle does not run, and still releases the good pages it was given.
  callbacks.clear();
  PROPSHEETPAGEA page{};
  page.dwSize = sizeof page;
  page.dwFlags = PSP_USECALLBACK;
  page.hInstance = kModule;
  page.pszTemplate = MAKEINTRESOURCEA(kFinalPage);
  page.pfnDlgProc = page_proc;
  page.pfnCallback = page_callback;
  HPROPSHEETPAGE mixed[2] = {pages[0], CreatePropertySheetPageA(&page)};
  EXPECT_EQ(PropertySheetA(&header), -1);
  header.phpage = mixed;
  EXPECT_EQ(PropertySheetA(&header), -1);
  EXPECT_EQ(callbacks, (std::vector<std::string>{"addref 504", "release 504"}));
  EXPECT_FALSE(DestroyPropertySheetPage(mixed[1]));
  g_callbacks = nullptr;
}

}  // namespace
}  // namespace window_test
