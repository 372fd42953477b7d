// Menus: a menu resource attached to a dialog, commands from its items, the window menu.
#include "window_fixture.h"

namespace window_test {
namespace {

using sx::window::DialogMatch;

constexpr int kMainDialog = 400;
constexpr int kMainMenu = 401;
constexpr int kOptionsProfiles = 32780, kOptionsExit = 32776, kWizardInstall = 32777;
constexpr int kHelpAbout = 32773;
constexpr UINT kAboutBox = 16;

struct MainDialog {
  std::vector<UINT> commands;
  std::vector<UINT> system_commands;
  bool grey_wizard = false;
};

INT_PTR CALLBACK main_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_INITDIALOG) SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
  auto* d = reinterpret_cast<MainDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (d == nullptr) return FALSE;
  switch (msg) {
    case WM_INITDIALOG: {
      HMENU system = GetSystemMenu(hwnd, FALSE);
      AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
      AppendMenuA(system, MF_STRING, kAboutBox, "&About Configure...");
      if (d->grey_wizard) EnableMenuItem(GetMenu(hwnd), kWizardInstall, MF_BYCOMMAND | MF_GRAYED);
      return TRUE;
    }
    case WM_COMMAND:
      d->commands.push_back(LOWORD(wparam));
      if (LOWORD(wparam) == kOptionsExit || LOWORD(wparam) == IDCANCEL) {
        EndDialog(hwnd, LOWORD(wparam));
      }
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) == kAboutBox) {
        d->system_commands.push_back(static_cast<UINT>(wparam));
        return TRUE;
      }
      return FALSE;  // the default course (SC_CLOSE closes)
  }
  return FALSE;
}

class MenuTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    using sx::window::menu_item;
    sx::window::MenuTemplate menu;
    menu.id = kMainMenu;
    menu.items = {
        sx::window::popup("&Options", {menu_item(kOptionsProfiles, "&Configure Profiles..."),
                                       sx::window::separator(), menu_item(kOptionsExit, "&Exit")}),
        sx::window::popup("&Wizard", {menu_item(kWizardInstall, "&Install Wizard...")}),
        sx::window::popup("&Help", {menu_item(kHelpAbout, "About...")}),
    };
    sx::window::register_menu(kModule, menu);

    sx::window::DialogTemplate dialog;
    dialog.id = kMainDialog;
    dialog.title = "Scribbix Outlook Conduit Configuration";
    dialog.cx = 300;
    dialog.cy = 200;
    dialog.style = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    dialog.menu = kMainMenu;
    dialog.controls = {{IDOK, sx::window::ControlKind::kDefaultButton, "OK", 240, 180, 50, 14, 0}};
    sx::window::register_dialog(kModule, dialog);
  }

  INT_PTR run(MainDialog* d) {
    return DialogBoxParamA(kModule, MAKEINTRESOURCEA(kMainDialog), nullptr, main_proc,
                           reinterpret_cast<LPARAM>(d));
  }
};

TEST_F(MenuTest, MenuItemCommandReachesTheDialogProcedure) {
  sx::window::expect_dialog(
      DialogMatch::by_id(kMainDialog),
      {sx::window::choose_menu_item(kWizardInstall), sx::window::choose_menu_item(kOptionsExit)});
  MainDialog d;
  EXPECT_EQ(run(&d), kOptionsExit);
  EXPECT_EQ(d.commands, (std::vector<UINT>{kWizardInstall, kOptionsExit}));
  EXPECT_EQ(sx::window::unused_scripts(), 0u);
}

TEST_F(MenuTest, GreyedMenuItemCannotBeChosen) {
  sx::window::expect_dialog(DialogMatch::by_id(kMainDialog),
                            {sx::window::choose_menu_item(kWizardInstall),
                             sx::window::choose_menu_item(99999), sx::window::close()});
  MainDialog d;
  d.grey_wizard = true;
  EXPECT_EQ(run(&d), IDCANCEL);
  EXPECT_EQ(d.commands, (std::vector<UINT>{IDCANCEL}));
}

TEST_F(MenuTest, WindowMenuItemAddedAtStartUpReachesWmSysCommand) {
  sx::window::expect_dialog(DialogMatch::by_id(kMainDialog),
                            {sx::window::choose_system_menu_item(kAboutBox),
                             sx::window::choose_system_menu_item(SC_CLOSE)});
  MainDialog d;
  EXPECT_EQ(run(&d), IDCANCEL);  // SC_CLOSE took its default course: WM_CLOSE, then Cancel
  EXPECT_EQ(d.system_commands, (std::vector<UINT>{kAboutBox}));
}

TEST_F(MenuTest, MenuResourceBuildsTheBarAndTheWindowMenuHasTheAddedItems) {
  struct Probe {
    int bar_items = 0;
    char wizard[32] = {};
    UINT exit_id = 0;
    int system_items = 0;
    char about[32] = {};
    HMENU bar = nullptr;
  } probe;
  auto proc = [](HWND hwnd, UINT msg, WPARAM, LPARAM lparam) -> INT_PTR {
    if (msg != WM_INITDIALOG) return FALSE;
    auto* p = reinterpret_cast<Probe*>(lparam);
    p->bar = GetMenu(hwnd);
    p->bar_items = GetMenuItemCount(p->bar);
    GetMenuStringA(p->bar, 1, p->wizard, sizeof p->wizard, MF_BYPOSITION);
    p->exit_id = GetMenuItemID(GetSubMenu(p->bar, 0), 2);
    HMENU system = GetSystemMenu(hwnd, FALSE);
    EXPECT_EQ(GetSystemMenu(hwnd, FALSE), system);  // one copy per window
    AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(system, MF_STRING, kAboutBox, "&About Configure...");
    p->system_items = GetMenuItemCount(system);
    GetMenuStringA(system, kAboutBox, p->about, sizeof p->about, MF_BYCOMMAND);
    EndDialog(hwnd, IDOK);
    return TRUE;
  };
  DialogBoxParamA(kModule, MAKEINTRESOURCEA(kMainDialog), nullptr, proc,
                  reinterpret_cast<LPARAM>(&probe));
  EXPECT_EQ(probe.bar_items, 3);
  EXPECT_STREQ(probe.wizard, "&Wizard");
  EXPECT_EQ(probe.exit_id, static_cast<UINT>(kOptionsExit));
  EXPECT_EQ(probe.system_items, 5);  // Move, separator, Close, separator, About
  EXPECT_STREQ(probe.about, "&About Configure...");
  EXPECT_FALSE(IsMenu(probe.bar));  // destroyed with its dialog
}

TEST_F(MenuTest, MenusMadeInCodeCanBeSetChangedAndDestroyed) {
  HMENU bar = CreateMenu();
  HMENU file = CreatePopupMenu();
  ASSERT_TRUE(AppendMenuA(file, MF_STRING | MF_CHECKED, 100, "&Open"));
  ASSERT_TRUE(AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File"));
  EXPECT_FALSE(AppendMenuA(bar, MF_POPUP, 12345, "&Broken"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
  EXPECT_EQ(GetMenuState(bar, 100, MF_BYCOMMAND) & MF_CHECKED, MF_CHECKED);
  EXPECT_EQ(CheckMenuItem(bar, 100, MF_BYCOMMAND | MF_UNCHECKED), MF_CHECKED);
  EXPECT_EQ(EnableMenuItem(bar, 100, MF_GRAYED), MF_ENABLED);
  EXPECT_EQ(EnableMenuItem(bar, 555, MF_GRAYED), 0xFFFFFFFFu);
  EXPECT_EQ(GetMenuItemID(bar, 0), 0xFFFFFFFFu);  // a popup has no command id

  HWND owner =
      CreateDialogParamA(kModule, MAKEINTRESOURCEA(kProgressDialog), nullptr, logging_proc, 0);
  RECT before{}, after{};
  GetClientRect(owner, &before);
  EXPECT_TRUE(SetMenu(owner, bar));
  EXPECT_EQ(GetMenu(owner), bar);
  GetClientRect(owner, &after);
  EXPECT_EQ(before.bottom - after.bottom, GetSystemMetrics(SM_CYMENU));

  EXPECT_TRUE(DeleteMenu(bar, 0, MF_BYPOSITION));
  EXPECT_FALSE(IsMenu(file));  // a popup goes with its item
  EXPECT_EQ(GetMenuItemCount(bar), 0);
  DestroyWindow(owner);
  EXPECT_FALSE(IsMenu(bar));
  EXPECT_EQ(LoadMenuA(kModule, MAKEINTRESOURCEA(999)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

}  // namespace
}  // namespace window_test
