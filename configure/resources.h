// The configuration program's resources: the ids of its dialogs, controls, menu commands, bitmap,
// icon and strings, and RegisterResources(), which declares them once for the program's module.
#pragma once

#include "windows.h"

namespace sx::configure {

// Dialogs. Their ids stay clear of the conduit's (129 to 132): a test process that runs a HotSync
// loads the conduit beside this program's resources.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_STATUS = 102;
inline constexpr int IDD_PROFILES = 160;
inline constexpr int IDD_PROGRESS_OPTION = 161;
inline constexpr int IDD_OUTLOOK_OPTIONS = 162;
inline constexpr int IDD_OPTION_CAUTION = 163;
inline constexpr int IDD_OPTION_WARNING = 164;
inline constexpr int IDD_UPDATE_FOLDER = 165;
inline constexpr int IDD_OUTLOOK_NOT_FOUND = 166;
inline constexpr int IDD_COMPLETED = 167;
inline constexpr int IDD_PAGE_FIRST = 170;
inline constexpr int IDD_PAGE_OUTLOOK = 171;
inline constexpr int IDD_PAGE_UPDATE = 172;
inline constexpr int IDD_PAGE_FINAL = 173;

// Other resources.
inline constexpr int IDR_MAINFRAME = 128;  // the application icon
inline constexpr int IDR_MENU = 146;       // the status screen's menu
inline constexpr int IDB_SPLASH = 148;     // the splash bitmap, 399 x 333, 256 colours
inline constexpr UINT IDS_ABOUTBOX = 101;  // "&About Configure..."

// Controls.
inline constexpr int IDC_PALM_USERS = 1001;  // profiles dialog: Palm users (sorted drop-down)
inline constexpr int IDC_PROFILES = 1002;    // profiles dialog: profiles (sorted drop-down)
inline constexpr int IDC_SHOW_PROGRESS = 1003;
inline constexpr int IDC_MODE_TOOLBAR = 1004;
inline constexpr int IDC_MODE_MENU = 1005;
inline constexpr int IDC_MODE_NONE = 1006;
inline constexpr int IDC_AUTOEDIT = 1007;
inline constexpr int IDC_UPDATE_PROFILES = 1008;
inline constexpr int IDC_WIZARD_USERS = 1010;
inline constexpr int IDC_WIZARD_PROFILES = 1011;
inline constexpr int IDC_UPDATE = 1012;
inline constexpr int IDC_REPLACE = 1013;
inline constexpr int IDC_FINAL_USER = 1014;
inline constexpr int IDC_FINAL_PROFILE = 1015;
inline constexpr int IDC_FINAL_FOLDER = 1016;
inline constexpr int IDC_COMPLETED_TEXT = 1017;
inline constexpr int IDC_RETEST = 1018;
// Status screen rows: the name, information and status texts of row r (0 to 9).
inline constexpr int IDC_ROW_NAME = 1100;
inline constexpr int IDC_ROW_INFO = 1110;
inline constexpr int IDC_ROW_STATUS = 1120;

// Menu commands.
inline constexpr int ID_ABOUT = 32773;
inline constexpr int ID_UPDATE_OUTLOOK = 32775;
inline constexpr int ID_EXIT = 32776;
inline constexpr int ID_INSTALL_WIZARD = 32777;
inline constexpr int ID_CONFIGURE_PROFILES = 32780;
inline constexpr int ID_CONFIGURE_PROGRESS = 32781;
inline constexpr int ID_CONFIGURE_OUTLOOK = 32782;
inline constexpr int ID_HELP_INDEX = 57666;
inline constexpr int ID_HELP = 57670;
// The window menu's About item; any system command from 16 to 31 opens the About box.
inline constexpr int IDM_ABOUTBOX = 0x0010;

// Declares every dialog template, the menu, the bitmap, the icon and the strings (once).
void RegisterResources();

}  // namespace sx::configure
