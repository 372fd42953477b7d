// The installation wizard walked as a person walks it: pages shown or skipped by what the machine
// holds, the buttons each page offers, choices kept going back and forth, Cancel changing nothing,
// and Finish storing the pair and building the notes folder. Ends with the whole story on a fresh
// machine: the wizard, then HotSyncs carrying a note from the handheld into the new folder and
// one from Outlook back to the handheld.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "configure_fixture.h"
#include "folder_install.h"
#include "handheld_notes.h"
#include "option_dialogs.h"
#include "prsht.h"
#include "registry_key.h"
#include "resources.h"
#include "sx/hotsync.h"
#include "sx/hotsync_pdb.h"
#include "sx/outlook/faults.h"
#include "win32/crt.h"
#include "wizard.h"

namespace sx::configure::testing {
namespace {

using sx::window::check;
using sx::window::click;
using sx::window::DialogMatch;
using sx::window::expect_dialog;
using sx::window::select;
using sx::window::ShownWindow;

constexpr char kWizard[] = "Installation Wizard";
constexpr char kUpdating[] = "Updating Scribbix Outlook Folder";
constexpr char kInstalling[] = "Installing Scribbix Outlook Folder";

class WizardTest : public ConfigureTest {
 protected:
  // The pages in the order they were left.
  static std::vector<ShownWindow> Pages() {
    std::vector<ShownWindow> pages;
    for (const ShownWindow& w : sx::window::shown()) {
      if (w.kind == ShownWindow::Kind::kPropertyPage) pages.push_back(w);
    }
    return pages;
  }
  static std::vector<std::string> PageTitles() {
    std::vector<std::string> titles;
    for (const ShownWindow& w : Pages()) titles.push_back(w.title);
    return titles;
  }
  static std::string Text(const ShownWindow& page, int id) {
    const sx::window::ControlState* c = page.control(id);
    return c != nullptr ? c->text : "<none>";
  }
  // A machine as setup leaves it before anyone ran the wizard: HotSync with one user, Outlook,
  // the conduit and the components, but no notes store in any profile and no pair.
  void FreshMachine() {
    InstallSystem({});
    Machine({"hotsync", "add-user", "Palm User"});
    Machine({"conduit", "install"});
  }
};

TEST_F(WizardTest, OneUserAndOneProfileShowOnlyTheFolderAndFinalPages) {
  InstallSystem();
  AddNotes({"kept"});
  TestChecker checker;
  LookAtMachine(checker);
  expect_dialog(DialogMatch::by_title(kWizard), {click(ID_WIZNEXT), click(ID_WIZFINISH)});
  CWizardSettings settings(checker);
  EXPECT_TRUE(RunWizard(settings));
  EXPECT_EQ(PageTitles(), (std::vector<std::string>{"Scribbix Folder", "Final Settings"}));
  const auto pages = Pages();
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].wizard_buttons, PSWIZB_BACK | PSWIZB_NEXT);
  EXPECT_EQ(pages[0].control(IDC_UPDATE)->check, BST_CHECKED);
  EXPECT_EQ(pages[1].wizard_buttons, PSWIZB_BACK | PSWIZB_FINISH);
  EXPECT_EQ(Text(pages[1], IDC_FINAL_USER), "Palm User");
  EXPECT_EQ(Text(pages[1], IDC_FINAL_PROFILE), "Outlook");
  EXPECT_EQ(Text(pages[1], IDC_FINAL_FOLDER), "Update");
  // Finish updated the existing folder (nothing to install afresh), keeping the note.
  EXPECT_TRUE(ProgressWindow(kUpdating));
  EXPECT_FALSE(ProgressWindow(kInstalling));
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>({"kept"}));
  EXPECT_EQ(StoredPair("Palm User"), std::optional<std::string>("Outlook"));
}

TEST_F(WizardTest, ChoicesSurviveGoingBackAndForthAndCancelChangesNothing) {
  InstallSystem({"Palm User", "Alpha"});
  ASSERT_TRUE(sx::outlook::profiles::create("Work", false));
  ASSERT_TRUE(sx::outlook::profiles::create("Home", false));
  SetText(HKEY_CURRENT_USER, sx::outlook::profiles::kProfilesKey, "DefaultProfile", "Work");
  TestChecker checker;
  LookAtMachine(checker);
  expect_dialog(DialogMatch::by_title(kWizard),
                {select(IDC_WIZARD_USERS, 1), click(ID_WIZNEXT),  // "Palm User"
                 click(ID_WIZNEXT),                               // the default profile
                 check(IDC_REPLACE), click(ID_WIZBACK),           // Back stores the choice
                 click(ID_WIZNEXT), click(ID_WIZNEXT),            // to the final page
                 click(ID_WIZBACK), click(IDCANCEL)});
  CWizardSettings settings(checker);
  EXPECT_FALSE(RunWizard(settings));
  EXPECT_EQ(PageTitles(),
            (std::vector<std::string>{"Choose a Palm User Name", "Choose an Outlook Profile",
                                      "Scribbix Folder", "Choose an Outlook Profile",
                                      "Scribbix Folder", "Final Settings", "Scribbix Folder"}));
  const auto pages = Pages();
  ASSERT_EQ(pages.size(), 7u);
  EXPECT_EQ(pages[0].wizard_buttons, PSWIZB_NEXT);
  EXPECT_EQ(pages[0].control(IDC_WIZARD_USERS)->items,
            (std::vector<std::string>{"Alpha", "Palm User"}));
  EXPECT_EQ(pages[1].wizard_buttons, PSWIZB_BACK | PSWIZB_NEXT);
  EXPECT_EQ(pages[1].control(IDC_WIZARD_PROFILES)->items,
            (std::vector<std::string>{"Home", "Outlook", "Work"}));
  EXPECT_EQ(pages[1].control(IDC_WIZARD_PROFILES)->selection, 2);  // the default, "Work"
  EXPECT_EQ(pages[4].control(IDC_REPLACE)->check, BST_CHECKED);
  EXPECT_EQ(Text(pages[5], IDC_FINAL_USER), "Palm User");
  EXPECT_EQ(Text(pages[5], IDC_FINAL_PROFILE), "Work");
  EXPECT_EQ(Text(pages[5], IDC_FINAL_FOLDER), "Replace");
  EXPECT_EQ(pages[6].control(IDC_REPLACE)->check, BST_CHECKED);
  // Cancelled: no pair stored, no folder touched.
  EXPECT_EQ(StoredPair("Palm User"), std::optional<std::string>("Outlook"));
  EXPECT_EQ(StoredPair("Alpha"), std::nullopt);
  EXPECT_FALSE(ProgressWindow(kUpdating));
  EXPECT_FALSE(ProgressWindow(kInstalling));
}

// Without the update store there is neither an update nor a fresh folder to install: the install
// the wizard turns to says so before it touches the user's notes file or the profile.
TEST_F(WizardTest, UpdateWithoutAnUpdateStoreChangesNothingAndSaysWhy) {
  InstallSystem();
  AddNotes({"kept"});
  std::filesystem::remove(machine_.c("Program Files\\Vorlan\\Scribbix") / "SXUpdate.pst");
  TestChecker checker;
  LookAtMachine(checker);
  expect_dialog(DialogMatch::by_title(kWizard), {click(ID_WIZNEXT), click(ID_WIZFINISH)});
  CWizardSettings settings(checker);
  EXPECT_TRUE(RunWizard(settings));
  EXPECT_EQ(settings.outcome, kFolderFailed);
  EXPECT_TRUE(ProgressWindow(kUpdating));
  EXPECT_TRUE(ProgressWindow(kInstalling));
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"Install Failure, The Scribbix Update file was not "
                                               "found: " +
                                               std::string(kInstallDir) +
                                               "\\SXUpdate.pst\nRun setup and choose to Repair "
                                               "the installation."}));
  EXPECT_FALSE(std::filesystem::exists(machine_.c("Program Files\\Vorlan\\Scribbix") /
                                       "Palm User Vorlan.pst.1"));
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>({"kept"}));
}

// A read-only update store is made writable and the update, whose logon then fails, reports no
// update store: the install the wizard turns to cannot log on either and stops before it sets the
// old file aside, so the profile never points at a template that was not named.
TEST_F(WizardTest, AReadOnlyUpdateStoreAndAProfileThatCannotBeLoggedOnToAreRefused) {
  InstallSystem();
  AddNotes({"kept"});
  const std::string store = std::string(kInstallDir) + "\\SXUpdate.pst";
  ASSERT_EQ(_chmod(store.c_str(), _S_IREAD), 0);
  TestChecker checker;
  LookAtMachine(checker);
  sx::outlook::inject_fault({.kind = "NameSpace",
                             .operation = "Logon",
                             .times = 0,
                             .hr = static_cast<HRESULT>(0x80040111),
                             .source = "Microsoft Outlook",
                             .description = "The profile cannot be opened."});
  expect_dialog(DialogMatch::by_title(kWizard), {click(ID_WIZNEXT), click(ID_WIZFINISH)});
  CWizardSettings settings(checker);
  EXPECT_TRUE(RunWizard(settings));
  sx::outlook::clear_faults();
  EXPECT_EQ(settings.outcome, kFolderFailed);
  EXPECT_EQ(_access(store.c_str(), 6), 0);
  const auto boxes = Boxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back(), "Install Failure, The Outlook profile \"Outlook\" could not be opened.");
  EXPECT_FALSE(std::filesystem::exists(machine_.c("Program Files\\Vorlan\\Scribbix") /
                                       "Palm User Vorlan.pst.1"));
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>({"kept"}));
}

TEST_F(WizardTest, UpdateOfAProfileWithoutANotesFolderInstallsItSilently) {
  FreshMachine();
  TestChecker checker;
  LookAtMachine(checker);
  ASSERT_EQ(checker.PalmUserCount(), 1);
  expect_dialog(DialogMatch::by_title(kWizard), {click(ID_WIZNEXT), click(ID_WIZFINISH)});
  CWizardSettings settings(checker);
  EXPECT_TRUE(RunWizard(settings));
  EXPECT_EQ(settings.folderAction, kUpdateFolder);
  EXPECT_TRUE(ProgressWindow(kInstalling));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>(std::vector<std::string>{}));
  EXPECT_TRUE(std::filesystem::exists(machine_.c("Program Files\\Vorlan\\Scribbix") /
                                      "Palm User Vorlan.pst"));
  EXPECT_EQ(StoredPair("Palm User"), std::optional<std::string>("Outlook"));
}

TEST_F(WizardTest, WithoutProfilesOnlyThePairIsStored) {
  Machine({"hotsync", "install"});
  TestChecker checker;
  LookAtMachine(checker);
  ASSERT_EQ(checker.ProfileCount(), 0);
  ASSERT_EQ(checker.PalmUserCount(), 0);
  // No Palm user: the first page's list is empty and Next stores an empty name.
  expect_dialog(DialogMatch::by_title(kWizard),
                {click(ID_WIZNEXT), click(ID_WIZNEXT), click(ID_WIZFINISH)});
  CWizardSettings settings(checker);
  EXPECT_TRUE(RunWizard(settings));
  EXPECT_EQ(PageTitles(), (std::vector<std::string>{"Choose a Palm User Name", "Scribbix Folder",
                                                    "Final Settings"}));
  EXPECT_FALSE(ProgressWindow(kUpdating));
  EXPECT_FALSE(ProgressWindow(kInstalling));
}

// --- The whole story on a fresh machine

TEST_F(WizardTest, FreshMachineWizardThenHotSyncCarriesNotesBothWays) {
  FreshMachine();
  // The handheld holds one new note.
  PutHandheldNotes({"Buy milk on the way home"});

  // The person: refresh, the wizard with its defaults (one user, one profile, Update), Finish.
  TestChecker checker;
  checker.RefreshStatus();
  ASSERT_FALSE(checker.Ended());
  expect_dialog(DialogMatch::by_title(kWizard), {click(ID_WIZNEXT), click(ID_WIZFINISH)});
  CWizardSettings settings(checker);
  ASSERT_TRUE(RunWizard(settings));
  EXPECT_TRUE(Boxes().empty());
  checker.RefreshStatus();
  for (int row = 0; row < kRowCount; ++row) {
    EXPECT_NE(checker.GetRowState(row), kFailed) << checker.GetRow(row).name;
  }
  EXPECT_EQ(checker.GetRow(kRowFolder).info.find("0 Entries") != std::string::npos, true)
      << checker.GetRow(kRowFolder).info;

  // HotSync: the handheld's note arrives in the new folder.
  sx::hotsync::HotSyncReport report;
  ASSERT_EQ(sx::hotsync::run_hotsync("Palm User", &report), 0);
  std::vector<std::string> bodies;
  EachNote("Outlook", [&](_PostItem* post) {
    Bstr body;
    post->get_Body(body.put());
    bodies.push_back(body.utf8());
  });
  ASSERT_EQ(bodies.size(), 1u);
  EXPECT_NE(bodies[0].find("Buy milk on the way home"), std::string::npos) << bodies[0];

  // A note written in Outlook goes the other way.
  AddNotes({"Call the plumber"});
  ASSERT_EQ(sx::hotsync::run_hotsync("Palm User", &report), 0);
  const std::map<std::string, std::string> handheld = HandheldNotes();
  ASSERT_EQ(handheld.size(), 2u);
  bool found = false;
  for (const auto& [record, text] : handheld)
    found = found || text.find("Call the plumber") != std::string::npos;
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace sx::configure::testing
