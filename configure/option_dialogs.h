// The dialogs of the Options menu, and the routine with which they and the installation wizard
// store a Palm user's Outlook profile. Each dialog runs modally on the user-interface thread and
// returns IDOK or IDCANCEL (OK stores, Cancel stores nothing); none lets an exception out.
#pragma once

#include <string>

#include "component_checker.h"

namespace sx::configure {

// Where the pairs live (HKEY_CURRENT_USER), and the settings the dialogs change.
inline constexpr char kPairsKey[] = "Software\\Vorlan Software\\Scribbix\\Profiles";
inline constexpr char kConduitKey[] = "Software\\U.S. Robotics\\Pilot Desktop\\ApplicationVorScrib";
inline constexpr char kScribbixKey[] = "Software\\Vorlan Software\\Scribbix";  // HKEY_LOCAL_MACHINE

// Stores one pair: the text value named `palmUser` under the pairs key (created when missing) with
// `profile` as its data; an empty profile deletes the user's value instead.
void SaveProfileAssociation(const std::string& palmUser, const std::string& profile);

// "Configure Profiles": pairs a Palm user with a profile; OK stores every pair it shows, in order.
INT_PTR RunProfilesDlg(const CComponentChecker& checker, HWND owner);
// "Configure Progress Notification": the conduit's "ShowProgress".
INT_PTR RunProgressOptionDlg(HWND owner);
// "Outlook Options": "MenuMode" and "AutoEditMode" of the notes add-in, with the caution and the
// warning for the Outlook 2000 releases that had trouble with them.
INT_PTR RunOutlookOptionsDlg(const CComponentChecker& checker, HWND owner);
// "Update the Scribbix Folder": UpdateFolder for the chosen profile.
INT_PTR RunUpdateFolderDlg(CComponentChecker& checker, HWND owner);

// The menu mode a stored "MenuMode" stands for: a missing value 0, anything above 2 (taken as
// unsigned) 2.
int MenuModeFromRegistry(bool read, DWORD value);

}  // namespace sx::configure
