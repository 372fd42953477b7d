#include "resources.h"

#include <mutex>
#include <string>
#include <vector>

#include "sx/resources.h"
#include "sx/window.h"

namespace sx::configure {
namespace {

using sx::window::ControlKind;
using sx::window::ControlTemplate;
using sx::window::DialogTemplate;

constexpr DWORD kModal = DS_MODALFRAME | DS_CENTER | WS_CAPTION | WS_SYSMENU;

ControlTemplate Label(const std::string& text, int x, int y, int cx, DWORD style = 0) {
  return {IDC_STATIC, ControlKind::kStatic, text, x, y, cx, 9, style};
}

// Static lines, one under the other, from (x, y).
void Lines(std::vector<ControlTemplate>* controls, const std::vector<std::string>& lines, int x,
           int y, int cx) {
  for (const std::string& line : lines) {
    controls->push_back(Label(line, x, y, cx));
    y += 10;
  }
}

DialogTemplate Dialog(int id, const std::string& title, int cx, int cy, DWORD style = kModal) {
  DialogTemplate d;
  d.id = id;
  d.title = title;
  d.cx = cx;
  d.cy = cy;
  d.style = style;
  return d;
}

// OK and Cancel at the bottom right; `cancelDefault` makes Cancel the default button.
void OkCancel(DialogTemplate* d, bool cancelDefault = false) {
  d->controls.push_back({IDOK, cancelDefault ? ControlKind::kButton : ControlKind::kDefaultButton,
                         "OK", d->cx - 112, d->cy - 21, 50, 14, 0});
  d->controls.push_back({IDCANCEL,
                         cancelDefault ? ControlKind::kDefaultButton : ControlKind::kButton,
                         "Cancel", d->cx - 57, d->cy - 21, 50, 14, 0});
}

DialogTemplate Profiles() {
  DialogTemplate d = Dialog(IDD_PROFILES, "Configure Profiles", 240, 110);
  d.controls.push_back(Label("Associate a Palm User Name with an Outlook Profile.", 7, 7, 226));
  d.controls.push_back({IDC_PALM_USERS, ControlKind::kComboBox, "", 7, 24, 226, 60,
                        CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP});
  d.controls.push_back({IDC_PROFILES, ControlKind::kComboBox, "", 7, 48, 226, 60,
                        CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP});
  OkCancel(&d);
  return d;
}

DialogTemplate ProgressOption() {
  DialogTemplate d = Dialog(IDD_PROGRESS_OPTION, "Configure Progress Notification", 220, 80);
  Lines(&d.controls,
        {"When checked, the conduit will show its progress by",
         "displaying a small portion of the note being processed."},
        7, 7, 206);
  d.controls.push_back({IDC_SHOW_PROGRESS, ControlKind::kCheckBox, "Enable progress notification",
                        7, 34, 206, 10, WS_TABSTOP});
  OkCancel(&d);
  return d;
}

DialogTemplate OutlookOptions() {
  DialogTemplate d = Dialog(IDD_OUTLOOK_OPTIONS, "Outlook Options", 220, 130);
  Lines(&d.controls, {"These options modify what Scribbix features are", "available in Outlook."},
        7, 7, 206);
  d.controls.push_back(
      {IDC_STATIC, ControlKind::kGroupBox, "Scribbix Menu Options", 7, 30, 206, 52, 0});
  d.controls.push_back({IDC_MODE_TOOLBAR, ControlKind::kRadioButton, "Enable Scribbix Toolbar", 14,
                        42, 190, 10, WS_GROUP | WS_TABSTOP});
  d.controls.push_back(
      {IDC_MODE_MENU, ControlKind::kRadioButton, "Enable Scribbix Menu Item", 14, 54, 190, 10, 0});
  d.controls.push_back({IDC_MODE_NONE, ControlKind::kRadioButton,
                        "Disable Scribbix toolbars and menus", 14, 66, 190, 10, 0});
  d.controls.push_back({IDC_AUTOEDIT, ControlKind::kCheckBox, "Enable Scribbix AutoEdit Mode.", 7,
                        88, 206, 10, WS_GROUP | WS_TABSTOP});
  OkCancel(&d);
  return d;
}

DialogTemplate Warning(int id, const std::string& title, const std::vector<std::string>& lines) {
  DialogTemplate d = Dialog(id, title, 220, 30 + static_cast<int>(lines.size()) * 10 + 14);
  Lines(&d.controls, lines, 7, 7, 206);
  OkCancel(&d);
  return d;
}

DialogTemplate UpdateFolder() {
  DialogTemplate d = Dialog(IDD_UPDATE_FOLDER, "Update the Scribbix Folder", 300, 130);
  Lines(&d.controls,
        {"The Update option will replace the Scribbix folder without losing any of the notes.",
         "Choosing the Update option will create a Scribbix folder if one does not exist.", "",
         "Choose a Profile to Update:"},
        7, 7, 286);
  d.controls.push_back({IDC_UPDATE_PROFILES, ControlKind::kListBox, "", 7, 50, 286, 50,
                        LBS_SORT | LBS_NOTIFY | WS_TABSTOP});
  OkCancel(&d, true);
  return d;
}

DialogTemplate NotFound() {
  DialogTemplate d = Dialog(IDD_OUTLOOK_NOT_FOUND, "Outlook Not Found", 220, 60);
  Lines(&d.controls, {"This process requires that Outlook 2000 or greater be", "installed."}, 7, 7,
        206);
  d.controls.push_back({IDCANCEL, ControlKind::kDefaultButton, "Cancel", 85, 39, 50, 14, 0});
  return d;
}

DialogTemplate Completed() {
  DialogTemplate d = Dialog(IDD_COMPLETED, "Operation Completed", 220, 70);
  d.controls.push_back({IDC_COMPLETED_TEXT, ControlKind::kEdit, "", 7, 7, 206, 36,
                        ES_MULTILINE | ES_READONLY | ES_CENTER});
  d.controls.push_back({IDOK, ControlKind::kDefaultButton, "OK", 85, 49, 50, 14, 0});
  return d;
}

DialogTemplate About() {
  DialogTemplate d = Dialog(IDD_ABOUTBOX, "About Configure", 220, 60);
  Lines(&d.controls, {"Scribbix Outlook Conduit Configuration", "Copyright (C) Vorlan Software"},
        40, 10, 170);
  d.controls.push_back({IDOK, ControlKind::kDefaultButton, "OK", 163, 39, 50, 14, 0});
  return d;
}

DialogTemplate Page(int id, const std::string& title) {
  DialogTemplate d = Dialog(id, title, 317, 143, WS_CHILD | WS_CAPTION);
  return d;
}

std::vector<DialogTemplate> WizardPages() {
  DialogTemplate first = Page(IDD_PAGE_FIRST, "Choose a Palm User Name");
  Lines(&first.controls,
        {"HotSync is configured for multiple Palms, which one would you like to configure",
         "for Scribbix syncronization?"},
        7, 7, 303);
  first.controls.push_back({IDC_WIZARD_USERS, ControlKind::kListBox, "", 7, 32, 303, 100,
                            LBS_SORT | LBS_NOTIFY | WS_TABSTOP});

  DialogTemplate outlook = Page(IDD_PAGE_OUTLOOK, "Choose an Outlook Profile");
  Lines(&outlook.controls,
        {"The current user has multiple Outlook Profiles defined, which one do you want",
         "to syncronize Scribbix with?"},
        7, 7, 303);
  outlook.controls.push_back(
      {IDC_WIZARD_PROFILES, ControlKind::kListBox, "", 7, 32, 303, 100, LBS_NOTIFY | WS_TABSTOP});

  DialogTemplate update = Page(IDD_PAGE_UPDATE, "Scribbix Folder");
  Lines(&update.controls,
        {"The Update option will replace the Scribbix folder without losing any of the notes.",
         "Choosing the Update option will create a Scribbix folder if one does not exist.",
         "WARNING: The Replace option will erase the current contents of the folder.",
         "The handheld's notes are kept: the next HotSync copies them into the new folder.",
         "Do you want to Update or Replace the Scribbix folder?"},
        7, 7, 303);
  update.controls.push_back(
      {IDC_UPDATE, ControlKind::kRadioButton, "Update", 20, 65, 100, 10, WS_GROUP | WS_TABSTOP});
  update.controls.push_back(
      {IDC_REPLACE, ControlKind::kRadioButton, "Replace", 20, 79, 100, 10, 0});

  DialogTemplate final = Page(IDD_PAGE_FINAL, "Final Settings");
  final.controls.push_back(Label("Palm User:", 7, 10, 70));
  final.controls.push_back({IDC_FINAL_USER, ControlKind::kStatic, "", 80, 10, 230, 9, 0});
  final.controls.push_back(Label("Outlook Profile:", 7, 24, 70));
  final.controls.push_back({IDC_FINAL_PROFILE, ControlKind::kStatic, "", 80, 24, 230, 9, 0});
  final.controls.push_back(Label("Scribbix Folder:", 7, 38, 70));
  final.controls.push_back({IDC_FINAL_FOLDER, ControlKind::kStatic, "", 80, 38, 230, 9, 0});
  Lines(&final.controls,
        {"To accept these settings press the Finish button.  Use the Back button to make",
         "any changes."},
        7, 60, 303);
  return {first, outlook, update, final};
}

DialogTemplate Status() {
  DialogTemplate d = Dialog(IDD_STATUS, "Scribbix Outlook Conduit Configuration", 400, 200,
                            DS_MODALFRAME | DS_CENTER | WS_CAPTION | WS_SYSMENU);
  d.menu = IDR_MENU;
  d.controls.push_back(
      {IDC_STATIC, ControlKind::kGroupBox, "Configuration Status", 7, 7, 386, 160, 0});
  d.controls.push_back(Label("NAME", 14, 18, 150));
  d.controls.push_back(Label("INFO", 170, 18, 150));
  d.controls.push_back(Label("STATUS", 326, 18, 60));
  for (int row = 0; row < 10; ++row) {
    const int y = 30 + row * 13;
    d.controls.push_back({IDC_ROW_NAME + row, ControlKind::kStatic, "", 14, y, 150, 9, 0});
    d.controls.push_back({IDC_ROW_INFO + row, ControlKind::kStatic, "", 170, y, 150, 9, 0});
    d.controls.push_back({IDC_ROW_STATUS + row, ControlKind::kStatic, "", 326, y, 60, 9, 0});
  }
  d.controls.push_back({IDC_RETEST, ControlKind::kButton, "RETEST", 270, 176, 60, 14, 0});
  d.controls.push_back({IDOK, ControlKind::kDefaultButton, "OK", 336, 176, 57, 14, 0});
  return d;
}

sx::window::MenuTemplate Menu() {
  using sx::window::menu_item;
  using sx::window::popup;
  sx::window::MenuTemplate menu;
  menu.id = IDR_MENU;
  menu.items = {
      popup("&Options", {menu_item(ID_CONFIGURE_OUTLOOK, "Configure &Outlook..."),
                         menu_item(ID_CONFIGURE_PROFILES, "&Configure Profiles..."),
                         menu_item(ID_CONFIGURE_PROGRESS, "Configure &Progress..."),
                         menu_item(ID_UPDATE_OUTLOOK, "&Update Outlook..."),
                         sx::window::separator(), menu_item(ID_EXIT, "&Exit")}),
      popup("&Wizard", {menu_item(ID_INSTALL_WIZARD, "&Install Wizard...")}),
      popup("&Help", {menu_item(ID_HELP_INDEX, "Index..."), menu_item(ID_ABOUT, "About...")}),
  };
  return menu;
}

// The splash picture: 399 x 333 at 256 colours, a grey ramp as its colour table.
sx::window::BitmapResource SplashBitmap() {
  sx::window::BitmapResource bitmap;
  bitmap.id = IDB_SPLASH;
  bitmap.width = 399;
  bitmap.height = 333;
  bitmap.bit_count = 8;
  for (int i = 0; i < 256; ++i) {
    const BYTE v = static_cast<BYTE>(i);
    bitmap.colours.push_back(RGBQUAD{v, v, v, 0});
  }
  return bitmap;
}

}  // namespace

void RegisterResources() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const DialogTemplate& d :
         {Profiles(), ProgressOption(), OutlookOptions(),
          Warning(IDD_OPTION_CAUTION, "Option Caution",
                  {"The menu option you have chosen has been known",
                   "to cause problems when used with the original version",
                   "of Outlook 2000.  It is recommended that you choose",
                   "a different menu option or upgrade to Outlook 2000", "SR1 or greater."}),
          Warning(IDD_OPTION_WARNING, "Option Warning",
                  {"The combination of options you have chosen has",
                   "been known to cause problems when used with",
                   "Outlook 2000 SR1. It is recommended that you change",
                   "change one of the following: choose a different menu",
                   "option, disable the AutoEdit mode option, or upgrade",
                   "to a newer version of Outlook."}),
          UpdateFolder(), NotFound(), Completed(), About(), Status()}) {
      sx::window::register_dialog(nullptr, d);
    }
    for (const DialogTemplate& page : WizardPages()) sx::window::register_dialog(nullptr, page);
    sx::window::register_menu(nullptr, Menu());
    sx::window::register_bitmap(nullptr, SplashBitmap());
    sx::window::register_icon(nullptr, {IDR_MAINFRAME, "", 32, 32});
    sx::window::register_string(nullptr, IDS_ABOUTBOX, "&About Configure...");
  });
}

}  // namespace sx::configure
