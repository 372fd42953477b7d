// The dialogs of the Options menu as a user meets them: opened over a checker that has looked at
// the machine, answered through the scripted host, and judged by what they left in the registry.
#include <gtest/gtest.h>

#include "configure_fixture.h"
#include "folder_install.h"
#include "option_dialogs.h"
#include "registry_key.h"
#include "resources.h"

namespace sx::configure::testing {
namespace {

using sx::window::check;
using sx::window::click;
using sx::window::DialogMatch;
using sx::window::expect_dialog;
using sx::window::select;

class OptionDialogsTest : public ConfigureTest {
 protected:
  static std::optional<DWORD> Dword(HKEY root, const char* path, const char* name) {
    CRegistryKey key;
    DWORD value = 0;
    if (!key.Open(root, path, KEY_READ) || !key.ReadDword(name, &value)) return std::nullopt;
    return value;
  }
  static void SetDword(HKEY root, const char* path, const char* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(root, path, &key), ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
  }
  static std::optional<sx::window::ShownWindow> Dialog(const std::string& title) {
    for (const auto& w : sx::window::shown()) {
      if (w.kind == sx::window::ShownWindow::Kind::kModalDialog && w.title == title) return w;
    }
    return std::nullopt;
  }
  static int Count(const std::string& title) {
    int n = 0;
    for (const auto& w : sx::window::shown()) n += w.title == title ? 1 : 0;
    return n;
  }
};

TEST_F(OptionDialogsTest, AnEmptyProfileRemovesTheUsersPairWhetherOrNotTheKeyExisted) {
  SaveProfileAssociation("Palm User", "");  // no key yet: made, nothing stored
  EXPECT_EQ(StoredPair("Palm User"), std::nullopt);
  SaveProfileAssociation("Palm User", "Outlook");
  SaveProfileAssociation("Other", "Work");
  EXPECT_EQ(StoredPair("Palm User"), std::optional<std::string>("Outlook"));
  SaveProfileAssociation("Palm User", "");
  EXPECT_EQ(StoredPair("Palm User"), std::nullopt);
  EXPECT_EQ(StoredPair("Other"), std::optional<std::string>("Work"));
}

TEST_F(OptionDialogsTest, WithoutAPalmUserNoPairIsStoredAndNoHandheldCountsAsConfigured) {
  SaveProfileAssociation("", "Outlook");  // as the wizard and the pairing dialog do without users
  EXPECT_EQ(StoredPair(""), std::nullopt);
  CRegistryKey key;
  if (key.Open(HKEY_CURRENT_USER, kPairsKey, KEY_READ)) {
    std::string unnamed;
    EXPECT_FALSE(key.ReadText("", &unnamed)) << unnamed;
  }
}

TEST_F(OptionDialogsTest, ChangingAUsersProfileRewritesItsPairAndLeavesTheOthers) {
  InstallSystem({"Palm User", "Alpha"});
  ASSERT_TRUE(sx::outlook::profiles::create("Work", false));
  TestChecker checker;
  LookAtMachine(checker);
  // Alpha comes first in the sorted list and has no pair: no profile is selected for it.
  expect_dialog(DialogMatch::by_title("Configure Profiles"),
                {select(IDC_PROFILES, 1), select(IDC_PALM_USERS, 1), select(IDC_PROFILES, 1),
                 select(IDC_PROFILES, 0), select(IDC_PROFILES, 1), click(IDOK)});
  EXPECT_EQ(RunProfilesDlg(checker, nullptr), IDOK);
  EXPECT_EQ(StoredPair("Alpha"), std::optional<std::string>("Work"));
  EXPECT_EQ(StoredPair("Palm User"), std::optional<std::string>("Work"));
  checker.CheckHandhelds(kRowHandhelds);
  EXPECT_EQ(checker.HandheldCount(), 2);
}

TEST_F(OptionDialogsTest, ThePairedProfileIsShownForTheUserExceptWithASingleProfile) {
  InstallSystem({"Palm User", "Alpha"});
  TestChecker checker;
  LookAtMachine(checker);
  // One profile: choosing the user selects nothing, so that choosing the profile pairs them.
  expect_dialog(DialogMatch::by_title("Configure Profiles"),
                {select(IDC_PALM_USERS, 1), click(IDCANCEL)});
  EXPECT_EQ(RunProfilesDlg(checker, nullptr), IDCANCEL);
  auto shown = Dialog("Configure Profiles");
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->control(IDC_PALM_USERS)->items,
            (std::vector<std::string>{"Alpha", "Palm User"}));
  EXPECT_EQ(shown->control(IDC_PROFILES)->selection, -1);

  ASSERT_TRUE(sx::outlook::profiles::create("Work", false));
  LookAtMachine(checker);
  sx::window::clear_script();
  expect_dialog(DialogMatch::by_title("Configure Profiles"),
                {select(IDC_PALM_USERS, 1), click(IDCANCEL)});
  RunProfilesDlg(checker, nullptr);
  shown = Dialog("Configure Profiles");
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->control(IDC_PROFILES)->items, (std::vector<std::string>{"Outlook", "Work"}));
  EXPECT_EQ(shown->control(IDC_PROFILES)->selection, 0);  // "Outlook", Palm User's pair
  EXPECT_EQ(StoredPair("Palm User"),
            std::optional<std::string>("Outlook"));  // Cancel stored nothing
}

TEST_F(OptionDialogsTest, ProgressOptionReadsTheRegistrationsValueAndNeverMakesTheKey) {
  TestChecker checker;
  expect_dialog(DialogMatch::by_title("Configure Progress Notification"),
                {check(IDC_SHOW_PROGRESS), click(IDOK)});
  // Without the key nothing is stored, and the user is told so: OK ends as Cancel.
  EXPECT_EQ(RunProgressOptionDlg(nullptr), IDCANCEL);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{
                         "The setting was not saved: the registry key HKEY_CURRENT_USER\\Software\\"
                         "U.S. Robotics\\Pilot Desktop\\ApplicationVorScrib could not be opened "
                         "for writing."}));
  EXPECT_EQ(Dword(HKEY_CURRENT_USER, kConduitKey, "ShowProgress"), std::nullopt);
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyA(HKEY_CURRENT_USER, kConduitKey, &key), ERROR_SUCCESS);

  // Registration leaves 0xFFFFFFFF: shown checked; unchecking stores 0, checking stores 1.
  SetDword(HKEY_CURRENT_USER, kConduitKey, "ShowProgress", 0xFFFFFFFFu);
  expect_dialog(DialogMatch::by_title("Configure Progress Notification"),
                {check(IDC_SHOW_PROGRESS, false), click(IDOK)});
  RunProgressOptionDlg(nullptr);
  EXPECT_EQ(Dword(HKEY_CURRENT_USER, kConduitKey, "ShowProgress"), std::optional<DWORD>(0));
  expect_dialog(DialogMatch::by_title("Configure Progress Notification"),
                {check(IDC_SHOW_PROGRESS), click(IDCANCEL)});
  RunProgressOptionDlg(nullptr);
  EXPECT_EQ(Dword(HKEY_CURRENT_USER, kConduitKey, "ShowProgress"), std::optional<DWORD>(0));
  expect_dialog(DialogMatch::by_title("Configure Progress Notification"),
                {check(IDC_SHOW_PROGRESS), click(IDOK)});
  RunProgressOptionDlg(nullptr);
  EXPECT_EQ(Dword(HKEY_CURRENT_USER, kConduitKey, "ShowProgress"), std::optional<DWORD>(1));
}

TEST_F(OptionDialogsTest, MenuModesAboveTwoShowTheMenuItemButton) {
  TestChecker checker;
  for (DWORD stored : {7u, 0xFFFFFFFFu, 1u}) {
    SetDword(HKEY_LOCAL_MACHINE, kScribbixKey, "MenuMode", stored);
    sx::window::clear_script();
    expect_dialog(DialogMatch::by_title("Outlook Options"), {click(IDCANCEL)});
    EXPECT_EQ(RunOutlookOptionsDlg(checker, nullptr), IDCANCEL);
    auto shown = Dialog("Outlook Options");
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->control(IDC_MODE_MENU)->check, stored == 1u ? BST_UNCHECKED : BST_CHECKED)
        << stored;
    EXPECT_EQ(shown->control(IDC_MODE_NONE)->check, stored == 1u ? BST_CHECKED : BST_UNCHECKED);
    EXPECT_EQ(Dword(HKEY_LOCAL_MACHINE, kScribbixKey, "MenuMode"), std::optional<DWORD>(stored));
  }
  EXPECT_EQ(MenuModeFromRegistry(false, 2), 0);
  EXPECT_EQ(MenuModeFromRegistry(true, 0), 0);
}

TEST_F(OptionDialogsTest, OptionsAreNotStoredWhenTheKeyIsMissingAndTheUserIsToldSo) {
  TestChecker checker;
  expect_dialog(DialogMatch::by_title("Outlook Options"),
                {click(IDC_MODE_NONE), check(IDC_AUTOEDIT), click(IDOK)});
  EXPECT_EQ(RunOutlookOptionsDlg(checker, nullptr), IDCANCEL);
  EXPECT_EQ(Dword(HKEY_LOCAL_MACHINE, kScribbixKey, "MenuMode"), std::nullopt);
  EXPECT_EQ(Boxes(),
            (std::vector<std::string>{
                "The setting was not saved: the registry key HKEY_LOCAL_MACHINE\\Software\\"
                "Vorlan Software\\Scribbix could not be opened for writing."}));
  // With the key there, the same OK stores both and says nothing.
  sx::window::clear_script();
  SetDword(HKEY_LOCAL_MACHINE, kScribbixKey, "MenuMode", 0);
  expect_dialog(DialogMatch::by_title("Outlook Options"),
                {click(IDC_MODE_NONE), check(IDC_AUTOEDIT), click(IDOK)});
  EXPECT_EQ(RunOutlookOptionsDlg(checker, nullptr), IDOK);
  EXPECT_EQ(Dword(HKEY_LOCAL_MACHINE, kScribbixKey, "MenuMode"), std::optional<DWORD>(1));
  EXPECT_EQ(Dword(HKEY_LOCAL_MACHINE, kScribbixKey, "AutoEditMode"), std::optional<DWORD>(1));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(OptionDialogsTest, TheFirstOutlook2000CautionsAgainstTheMenuItemAndCancelKeepsTheDialog) {
  InstallSystem({"Palm User"}, "9.0.0.2711");
  TestChecker checker;
  checker.CheckOutlook(kRowOutlook);
  ASSERT_EQ(checker.OutlookVersion(3), 2711);
  SetDword(HKEY_LOCAL_MACHINE, kScribbixKey, "MenuMode", 0);
  expect_dialog(DialogMatch::by_title("Outlook Options"),
                {click(IDC_MODE_MENU), click(IDOK), click(IDOK)});
  expect_dialog(DialogMatch::by_title("Option Caution"), {click(IDCANCEL)});
  expect_dialog(DialogMatch::by_title("Option Caution"), {click(IDOK)});
  EXPECT_EQ(RunOutlookOptionsDlg(checker, nullptr), IDOK);
  EXPECT_EQ(Count("Option Caution"), 2);
  EXPECT_EQ(Count("Option Warning"), 0);
  EXPECT_EQ(Dword(HKEY_LOCAL_MACHINE, kScribbixKey, "MenuMode"), std::optional<DWORD>(2));
  EXPECT_EQ(Dword(HKEY_LOCAL_MACHINE, kScribbixKey, "AutoEditMode"), std::optional<DWORD>(0));

  // Cancelled at the caution and then in the dialog: nothing stored.
  SetDword(HKEY_LOCAL_MACHINE, kScribbixKey, "MenuMode", 0);
  expect_dialog(DialogMatch::by_title("Outlook Options"),
                {click(IDC_MODE_MENU), click(IDOK), click(IDCANCEL)});
  expect_dialog(DialogMatch::by_title("Option Caution"), {click(IDCANCEL)});
  EXPECT_EQ(RunOutlookOptionsDlg(checker, nullptr), IDCANCEL);
  EXPECT_EQ(Dword(HKEY_LOCAL_MACHINE, kScribbixKey, "MenuMode"), std::optional<DWORD>(0));
}

TEST_F(OptionDialogsTest, Outlook2000Sr1WarnsAgainstToolbarWithAutoEditOnly) {
  InstallSystem({"Palm User"}, "9.0.0.3821");
  TestChecker checker;
  checker.CheckOutlook(kRowOutlook);
  ASSERT_EQ(checker.OutlookVersion(3), 3821);
  SetDword(HKEY_LOCAL_MACHINE, kScribbixKey, "MenuMode", 2);
  expect_dialog(DialogMatch::by_title("Outlook Options"),
                {click(IDC_MODE_TOOLBAR), check(IDC_AUTOEDIT, false), click(IDOK)});
  EXPECT_EQ(RunOutlookOptionsDlg(checker, nullptr), IDOK);
  EXPECT_EQ(Count("Option Warning"), 0);
  EXPECT_EQ(Dword(HKEY_LOCAL_MACHINE, kScribbixKey, "MenuMode"), std::optional<DWORD>(0));

  expect_dialog(DialogMatch::by_title("Outlook Options"),
                {check(IDC_AUTOEDIT), click(IDOK), click(IDCANCEL)});
  expect_dialog(DialogMatch::by_title("Option Warning"), {click(IDCANCEL)});
  EXPECT_EQ(RunOutlookOptionsDlg(checker, nullptr), IDCANCEL);
  EXPECT_EQ(Count("Option Warning"), 1);
  EXPECT_EQ(Dword(HKEY_LOCAL_MACHINE, kScribbixKey, "AutoEditMode"), std::optional<DWORD>(0));
  // The menu item is no trouble on SR-1.
  expect_dialog(DialogMatch::by_title("Outlook Options"),
                {click(IDC_MODE_MENU), check(IDC_AUTOEDIT), click(IDOK)});
  EXPECT_EQ(RunOutlookOptionsDlg(checker, nullptr), IDOK);
  EXPECT_EQ(Count("Option Caution") + Count("Option Warning"), 1);
  EXPECT_EQ(Dword(HKEY_LOCAL_MACHINE, kScribbixKey, "AutoEditMode"), std::optional<DWORD>(1));
}

TEST_F(OptionDialogsTest, NewerOutlooksNeverWarn) {
  InstallSystem({"Palm User"}, "10.0.0.2627");
  TestChecker checker;
  checker.CheckOutlook(kRowOutlook);
  ASSERT_GE(checker.OutlookVersion(0), 10);
  for (int mode : {IDC_MODE_MENU, IDC_MODE_TOOLBAR}) {
    expect_dialog(DialogMatch::by_title("Outlook Options"),
                  {click(mode), check(IDC_AUTOEDIT), click(IDOK)});
    EXPECT_EQ(RunOutlookOptionsDlg(checker, nullptr), IDOK);
  }
  EXPECT_EQ(Count("Option Caution") + Count("Option Warning"), 0);
}

TEST_F(OptionDialogsTest, UpdateFolderDialogUpdatesTheChosenProfileAndNeverInstalls) {
  InstallSystem();
  AddNotes({"one", "two"});
  TestChecker checker;
  LookAtMachine(checker);
  expect_dialog(DialogMatch::by_title("Update the Scribbix Folder"), {click(IDOK)});
  EXPECT_EQ(RunUpdateFolderDlg(checker, nullptr), IDOK);
  EXPECT_TRUE(ProgressWindow("Updating Scribbix Outlook Folder"));
  auto notes = Notes();
  ASSERT_TRUE(notes);
  EXPECT_EQ(notes->size(), 2u);

  // A profile without a notes folder: the update finds nothing and nothing is installed.
  ASSERT_TRUE(sx::outlook::profiles::create("Alpha", false));
  LookAtMachine(checker);
  sx::window::clear_script();
  expect_dialog(DialogMatch::by_title("Update the Scribbix Folder"), {click(IDOK)});
  RunUpdateFolderDlg(checker, nullptr);
  auto shown = Dialog("Update the Scribbix Folder");
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->control(IDC_UPDATE_PROFILES)->items,
            (std::vector<std::string>{"Alpha", "Outlook"}));
  EXPECT_FALSE(ProgressWindow("Installing Scribbix Outlook Folder"));
  EXPECT_EQ(Notes("Alpha"), std::nullopt);
}

}  // namespace
}  // namespace sx::configure::testing
