// The dialog item functions and the built-in controls, on a modeless dialog.
#include <cstring>

#include "window_fixture.h"

namespace window_test {
namespace {

using sx::window::ControlKind;

constexpr int kEdit = 10, kList = 11, kSortedList = 12, kCombo = 13, kProgress = 14;
constexpr int kCheck = 15, kRadioA = 16, kRadioB = 17, kRadioC = 18, kRadioD = 19, kButton = 20;

class ControlsTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    sx::window::DialogTemplate t;
    t.id = 300;
    t.title = "Controls";
    t.controls = {
        {kEdit, ControlKind::kEdit, "Scribbix", 0, 0, 0, 0, 0},
        {kList, ControlKind::kListBox, "", 0, 0, 0, 0, 0},
        {kSortedList, ControlKind::kListBox, "", 0, 0, 0, 0, LBS_SORT},
        {kCombo, ControlKind::kComboBox, "", 0, 0, 0, 0, CBS_DROPDOWNLIST},
        {kProgress, ControlKind::kProgressBar, "", 0, 0, 0, 0, 0},
        {kCheck, ControlKind::kCheckBox, "&All", 0, 0, 0, 0, 0},
        {kRadioA, ControlKind::kRadioButton, "A", 0, 0, 0, 0, WS_GROUP},
        {kRadioB, ControlKind::kRadioButton, "B", 0, 0, 0, 0, 0},
        {kRadioC, ControlKind::kRadioButton, "C", 0, 0, 0, 0, WS_GROUP},
        {kRadioD, ControlKind::kRadioButton, "D", 0, 0, 0, 0, 0},
        {kButton, ControlKind::kButton, "Go", 0, 0, 0, 0, WS_DISABLED},
    };
    sx::window::register_dialog(kModule, t);
    dialog_ = CreateDialogParamA(kModule, MAKEINTRESOURCEA(300), nullptr, logging_proc,
                                 reinterpret_cast<LPARAM>(&seen_));
    ASSERT_NE(dialog_, nullptr);
  }
  void TearDown() override {
    DestroyWindow(dialog_);
    WindowTest::TearDown();
  }

  LRESULT item(int id, UINT msg, WPARAM w = 0, LPARAM l = 0) {
    return SendDlgItemMessageA(dialog_, id, msg, w, l);
  }
  static LPARAM str(const char* s) { return reinterpret_cast<LPARAM>(s); }

  Seen seen_;
  HWND dialog_ = nullptr;
};

TEST_F(ControlsTest, GetDlgItemTextTruncatesAndLeavesTheRestOfTheBufferAlone) {
  char buffer[16];
  std::memset(buffer, 0xCC, sizeof buffer);
  EXPECT_EQ(GetDlgItemTextA(dialog_, kEdit, buffer, 5), 4u);
  EXPECT_STREQ(buffer, "Scri");
  EXPECT_EQ(static_cast<unsigned char>(buffer[5]), 0xCC);

  std::memset(buffer, 0xCC, sizeof buffer);
  EXPECT_EQ(GetDlgItemTextA(dialog_, kEdit, buffer, 9), 8u);  // exactly fits with its NUL
  EXPECT_STREQ(buffer, "Scribbix");
  EXPECT_EQ(static_cast<unsigned char>(buffer[9]), 0xCC);

  std::memset(buffer, 0xCC, sizeof buffer);
  EXPECT_EQ(GetDlgItemTextA(dialog_, kEdit, buffer, 0), 0u);
  EXPECT_EQ(static_cast<unsigned char>(buffer[0]), 0xCC);

  EXPECT_EQ(GetDlgItemTextA(dialog_, 999, buffer, 16), 0u);  // no such control: empty text
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(static_cast<unsigned char>(buffer[1]), 0xCC);

  EXPECT_EQ(GetWindowTextLengthA(GetDlgItem(dialog_, kEdit)), 8);
  EXPECT_EQ(GetWindowTextA(dialog_, buffer, 16), 8);
  EXPECT_STREQ(buffer, "Controls");
}

TEST_F(ControlsTest, DlgItemIntRoundTripsAndRejectsWhatIsNotANumber) {
  BOOL ok = -1;
  ASSERT_TRUE(SetDlgItemInt(dialog_, kEdit, static_cast<UINT>(-12), TRUE));
  EXPECT_EQ(static_cast<int>(GetDlgItemInt(dialog_, kEdit, &ok, TRUE)), -12);
  EXPECT_TRUE(ok);
  EXPECT_EQ(GetDlgItemInt(dialog_, kEdit, &ok, FALSE), 0u);
  EXPECT_FALSE(ok);
  SetDlgItemTextA(dialog_, kEdit, " 4000000000 ");
  EXPECT_EQ(GetDlgItemInt(dialog_, kEdit, &ok, FALSE), 4000000000u);
  EXPECT_TRUE(ok);
  EXPECT_EQ(GetDlgItemInt(dialog_, kEdit, &ok, TRUE), 0u);  // out of range for a signed value
  EXPECT_FALSE(ok);
  SetDlgItemTextA(dialog_, kEdit, "12x");
  EXPECT_EQ(GetDlgItemInt(dialog_, kEdit, &ok, TRUE), 0u);
  EXPECT_FALSE(ok);
}

TEST_F(ControlsTest, ListBoxKeepsItemsSelectionAndSortOrder) {
  EXPECT_EQ(item(kList, LB_ADDSTRING, 0, str("Work")), 0);
  EXPECT_EQ(item(kList, LB_ADDSTRING, 0, str("Home")), 1);
  EXPECT_EQ(item(kList, LB_GETCOUNT), 2);
  EXPECT_EQ(item(kList, LB_GETCURSEL), LB_ERR);
  EXPECT_EQ(item(kList, LB_SETCURSEL, 1), 0);
  EXPECT_EQ(item(kList, LB_GETCURSEL), 1);
  EXPECT_EQ(item(kList, LB_SETCURSEL, 5), LB_ERR);
  EXPECT_EQ(item(kList, LB_GETCURSEL), 1);  // a bad index leaves the selection
  EXPECT_EQ(item(kList, LB_GETTEXTLEN, 1), 4);
  char text[8];
  std::memset(text, 0xCC, sizeof text);
  EXPECT_EQ(item(kList, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(text)), 4);
  EXPECT_STREQ(text, "Home");
  EXPECT_EQ(static_cast<unsigned char>(text[5]), 0xCC);
  EXPECT_EQ(item(kList, LB_GETTEXT, 2, reinterpret_cast<LPARAM>(text)), LB_ERR);
  EXPECT_EQ(item(kList, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), str("home")), 1);
  EXPECT_EQ(item(kList, LB_RESETCONTENT), 0);
  EXPECT_EQ(item(kList, LB_GETCOUNT), 0);
  EXPECT_EQ(item(kList, LB_GETCURSEL), LB_ERR);

  item(kSortedList, LB_ADDSTRING, 0, str("pilot"));
  item(kSortedList, LB_ADDSTRING, 0, str("Anna"));
  EXPECT_EQ(item(kSortedList, LB_ADDSTRING, 0, str("Bob")), 1);
  item(kSortedList, LB_GETTEXT, 2, reinterpret_cast<LPARAM>(text));
  EXPECT_STREQ(text, "pilot");
}

TEST_F(ControlsTest, ComboBoxSelectionBecomesItsText) {
  item(kCombo, CB_ADDSTRING, 0, str("Outlook"));
  item(kCombo, CB_ADDSTRING, 0, str("Work profile"));
  EXPECT_EQ(item(kCombo, CB_GETCOUNT), 2);
  EXPECT_EQ(item(kCombo, CB_SETCURSEL, 1), 1);
  EXPECT_EQ(item(kCombo, CB_GETCURSEL), 1);
  char text[32];
  EXPECT_EQ(GetDlgItemTextA(dialog_, kCombo, text, sizeof text), 12u);
  EXPECT_STREQ(text, "Work profile");
  EXPECT_EQ(item(kCombo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text)), 7);
  EXPECT_STREQ(text, "Outlook");
  EXPECT_EQ(item(kCombo, CB_SETCURSEL, 9), CB_ERR);  // a combo box clears its selection
  EXPECT_EQ(item(kCombo, CB_GETCURSEL), CB_ERR);
}

TEST_F(ControlsTest, ProgressBarClampsItsPositionAndStepsWrapAround) {
  EXPECT_EQ(item(kProgress, PBM_SETRANGE, 0, MAKELONG(0, 10)), MAKELONG(0, 100));
  EXPECT_EQ(item(kProgress, PBM_SETPOS, 25), 0);
  EXPECT_EQ(item(kProgress, PBM_GETPOS), 10);
  EXPECT_EQ(item(kProgress, PBM_SETSTEP, 4), 10);
  item(kProgress, PBM_SETPOS, 8);
  EXPECT_EQ(item(kProgress, PBM_STEPIT), 8);
  EXPECT_EQ(item(kProgress, PBM_GETPOS), 2);
}

TEST_F(ControlsTest, ClicksToggleCheckBoxesAndRadioButtonsWithinTheirGroup) {
  EXPECT_EQ(IsDlgButtonChecked(dialog_, kCheck), static_cast<UINT>(BST_UNCHECKED));
  item(kCheck, BM_CLICK);
  EXPECT_EQ(IsDlgButtonChecked(dialog_, kCheck), static_cast<UINT>(BST_CHECKED));
  EXPECT_EQ(seen_.commands.back(), static_cast<WPARAM>(kCheck));
  EXPECT_TRUE(CheckDlgButton(dialog_, kCheck, BST_UNCHECKED));
  EXPECT_EQ(item(kCheck, BM_GETCHECK), BST_UNCHECKED);

  EXPECT_TRUE(CheckRadioButton(dialog_, kRadioA, kRadioD, kRadioC));
  item(kRadioB, BM_CLICK);
  EXPECT_EQ(IsDlgButtonChecked(dialog_, kRadioA), static_cast<UINT>(BST_UNCHECKED));
  EXPECT_EQ(IsDlgButtonChecked(dialog_, kRadioB), static_cast<UINT>(BST_CHECKED));
  EXPECT_EQ(IsDlgButtonChecked(dialog_, kRadioC), static_cast<UINT>(BST_CHECKED));  // other group
  item(kRadioA, BM_CLICK);
  EXPECT_EQ(IsDlgButtonChecked(dialog_, kRadioB), static_cast<UINT>(BST_UNCHECKED));

  const std::size_t commands = seen_.commands.size();
  item(kButton, BM_CLICK);  // disabled: nothing happens
  EXPECT_EQ(seen_.commands.size(), commands);
  EXPECT_TRUE(EnableWindow(GetDlgItem(dialog_, kButton), TRUE));  // it was disabled
  item(kButton, BM_CLICK);
  EXPECT_EQ(seen_.commands.back(), static_cast<WPARAM>(kButton));
}

TEST_F(ControlsTest, ItemsAreFoundByIdAndKnowTheirIds) {
  HWND edit = GetDlgItem(dialog_, kEdit);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(GetDlgCtrlID(edit), kEdit);
  EXPECT_EQ(GetParent(edit), dialog_);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(GetDlgItem(dialog_, 4711), nullptr);
  EXPECT_NE(GetLastError(), 0xdeadbeefu);
  EXPECT_EQ(GetDlgCtrlID(dialog_), 0);
  EXPECT_EQ(SetWindowLongPtrA(dialog_, DWLP_USER, 0x1234), reinterpret_cast<LONG_PTR>(&seen_));
  EXPECT_EQ(GetWindowLongPtrA(dialog_, DWLP_USER), 0x1234);
  SetWindowLongPtrA(dialog_, DWLP_USER, reinterpret_cast<LONG_PTR>(&seen_));
}

TEST_F(WindowTest, TypedTextStopsAtTheEditLimitButSetTextDoesNot) {
  struct Limits {
    char typed[16] = {};
  } limits;
  auto proc = [](HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) -> INT_PTR {
    if (msg == WM_INITDIALOG) {
      SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
      SendDlgItemMessageA(hwnd, 1004, EM_LIMITTEXT, 5, 0);
      SetDlgItemTextA(hwnd, 1004, "longer than five");
      return TRUE;
    }
    if (msg == WM_COMMAND && HIWORD(wparam) == EN_CHANGE) {
      auto* l = reinterpret_cast<Limits*>(GetWindowLongPtrA(hwnd, DWLP_USER));
      GetDlgItemTextA(hwnd, 1004, l->typed, sizeof l->typed);
      EndDialog(hwnd, 1);
      return TRUE;
    }
    return FALSE;
  };
  sx::window::expect_dialog(sx::window::DialogMatch::by_id(kConflictDialog),
                            {sx::window::type(1004, "abcdefgh")});

  EXPECT_EQ(DialogBoxParamA(kModule, MAKEINTRESOURCEA(kConflictDialog), nullptr, proc,
                            reinterpret_cast<LPARAM>(&limits)),
            1);
  EXPECT_STREQ(limits.typed, "abcde");
}

}  // namespace
}  // namespace window_test
