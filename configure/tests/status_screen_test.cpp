// The status screen as a person meets it: started with or without the switch "install", its rows
// in their colours, the menu and the window menu, help, and the splash kept up on the virtual
// clock until both its time has passed and the first refresh is done.
#include <gtest/gtest.h>

#include <fstream>

#include "configure_fixture.h"
#include "messages.h"
#include "prsht.h"
#include "resources.h"
#include "splash.h"
#include "status_dlg.h"
#include "sx/outlook/faults.h"
#include "wait_dlg.h"

namespace sx::configure::testing {
namespace {

using sx::window::choose_menu_item;
using sx::window::choose_system_menu_item;
using sx::window::click;
using sx::window::DialogMatch;
using sx::window::expect_dialog;
using sx::window::ShownWindow;

constexpr char kStatus[] = "Scribbix Outlook Conduit Configuration";
constexpr char kWizard[] = "Installation Wizard";
constexpr char kProgram[] = "\"C:\\Program Files\\Vorlan\\Scribbix\\SXConfigure.exe\"";

TEST(CommandLineSwitchTest, InstallAsksForTheWizardOnlyAfterASlashOrADashInAnyCase) {
  for (const char* line : {" /install", " -install", " /INSTALL", " -Install   ", " /x /install"}) {
    EXPECT_TRUE(ParseCommandLine(std::string(kProgram) + line).installWizard) << line;
  }
  for (const char* line :
       {" install", " ?install", " /installer", " /in stall", "", " //install"}) {
    EXPECT_FALSE(ParseCommandLine(std::string(kProgram) + line).installWizard) << line;
  }
  // The opening quote goes; the closing one stays where the directory part never sees it.
  const CommandLine parsed = ParseCommandLine(std::string(kProgram) + " /install");
  EXPECT_EQ(parsed.programPath, "C:\\Program Files\\Vorlan\\Scribbix\\SXConfigure.exe\"");
  EXPECT_EQ(HelpFilePath(parsed.programPath),
            "C:\\Program Files\\Vorlan\\Scribbix\\SXConfigure.chm");
  EXPECT_EQ(HelpFilePath("SXConfigure.exe"), "SXConfigure.chm");
  EXPECT_EQ(HelpFilePath("\\SXConfigure.exe"), "SXConfigure.chm");
  // A blank not followed by a switch character stays inside the token.
  EXPECT_EQ(ParseCommandLine("C:\\My Tools\\SXConfigure.exe -install").programPath,
            "C:\\My Tools\\SXConfigure.exe");
  // The token table holds 20: a switch beyond is not looked at.
  std::string many = "prog";
  for (int i = 0; i < 19; ++i) many += " /x";
  EXPECT_FALSE(ParseCommandLine(many + " /install").installWizard);
  EXPECT_TRUE(ParseCommandLine("prog /install" + many.substr(4)).installWizard);
}

TEST(StatusColourTest, EachStateHasItsColour) {
  EXPECT_EQ(StatusColour(kGood), RGB(150, 250, 200));
  EXPECT_EQ(StatusColour(kWarning), RGB(255, 255, 100));
  EXPECT_EQ(StatusColour(kFailed), RGB(255, 100, 100));
  EXPECT_EQ(StatusColour(kUnchecked), RGB(215, 215, 215));
  EXPECT_EQ(StatusColour(7), RGB(215, 215, 215));
}

class StatusScreenTest : public ConfigureTest {
 protected:
  static std::vector<ShownWindow> Shown(const std::string& title) {
    std::vector<ShownWindow> out;
    for (const ShownWindow& w : sx::window::shown()) {
      if (w.title == title) out.push_back(w);
    }
    return out;
  }
  static int Pages() {
    int n = 0;
    for (const ShownWindow& w : sx::window::shown()) {
      n += w.kind == ShownWindow::Kind::kPropertyPage ? 1 : 0;
    }
    return n;
  }
  // How many refreshes ran: each shows the wait cursor once.
  static int Refreshes() {
    int n = 0;
    for (const auto& d : sx::window::drawn()) {
      n += d.kind == sx::window::Drawing::Kind::kCursor && d.text == "wait" ? 1 : 0;
    }
    return n;
  }
  int Run(TestChecker& checker, const std::string& switches = "") {
    return RunConfigure(checker, std::string(kProgram) + switches, false);
  }
};

TEST_F(StatusScreenTest, RowsShowTheChecksInTheirColoursAndRetestRunsThemAgain) {
  InstallSystem();
  TestChecker checker;
  expect_dialog(DialogMatch::by_title(kStatus), {click(IDC_RETEST), click(IDOK)});
  EXPECT_EQ(Run(checker), 0);
  EXPECT_EQ(Refreshes(), 2);
  const auto status = Shown(kStatus);
  ASSERT_EQ(status.size(), 1u);
  for (int row = 0; row < kRowCount; ++row) {
    const StatusRow& r = checker.GetRow(row);
    EXPECT_EQ(status[0].control(IDC_ROW_NAME + row)->text, r.name);
    EXPECT_EQ(status[0].control(IDC_ROW_INFO + row)->text, r.info);
    const sx::window::ControlState* s = status[0].control(IDC_ROW_STATUS + row);
    EXPECT_EQ(s->text, r.status);
    EXPECT_EQ(s->background_colour, StatusColour(r.state)) << r.name;
  }
  EXPECT_EQ(status[0].control(IDC_ROW_NAME)->text, "Microsoft Outlook 2000 SR-1");
  EXPECT_EQ(status[0].control(IDC_ROW_STATUS)->background_colour, RGB(150, 250, 200));
  EXPECT_EQ(sx::window::live_gdi_objects(), 0u);
  EXPECT_EQ(MainWindow(), nullptr);
}

TEST_F(StatusScreenTest, AFailedRowIsRedAndTheWindowMenuOpensAbout) {
  InstallSystem();
  Machine({"conduit", "uninstall"});
  TestChecker checker;
  expect_dialog(DialogMatch::by_title(kStatus),
                {choose_system_menu_item(IDM_ABOUTBOX), choose_menu_item(ID_ABOUT), click(IDOK)});
  Run(checker);
  EXPECT_EQ(Shown("About Configure").size(), 2u);
  const auto status = Shown(kStatus);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(checker.GetRowState(kRowConduit), kFailed);
  EXPECT_EQ(status[0].control(IDC_ROW_STATUS + kRowConduit)->background_colour, RGB(255, 100, 100));
}

TEST_F(StatusScreenTest, TheInstallSwitchOpensTheWizardOnceAfterTheFirstPaint) {
  InstallSystem();
  TestChecker checker;
  expect_dialog(DialogMatch::by_title(kWizard), {click(IDCANCEL)});
  expect_dialog(DialogMatch::by_title(kStatus),
                {sx::window::wait(10), click(IDC_RETEST), sx::window::wait(10), click(IDOK)});
  Run(checker, " -INSTALL");
  EXPECT_EQ(Pages(), 1);  // the folder page, left by Cancel
  EXPECT_EQ(sx::window::unused_scripts(), 0u);
  // The cancelled wizard changed nothing: no refresh besides RETEST, no message.
  EXPECT_EQ(Refreshes(), 2);
  EXPECT_TRUE(Shown("Operation Completed").empty());

  // Without the switch character the word does nothing.
  sx::window::clear_script();
  expect_dialog(DialogMatch::by_title(kStatus), {sx::window::wait(10), click(IDOK)});
  Run(checker, " install");
  EXPECT_EQ(Pages(), 0);
}

TEST_F(StatusScreenTest, TheInstallSwitchIsDroppedWhenTheNotesFolderFailsItsProbe) {
  InstallSystem();
  AddNotes({"one"});
  FailTheNextCreationTimeRead();  // the folder probe fails
  TestChecker checker;
  expect_dialog(DialogMatch::by_title(kStatus), {sx::window::wait(10), click(IDOK)});
  Run(checker, " /install");
  sx::outlook::clear_faults();
  EXPECT_TRUE(checker.FolderError());
  EXPECT_EQ(Pages(), 0);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{OutlookProblemText()}));
}

TEST_F(StatusScreenTest, WithoutAProfileTheWizardAndTheUpdateAreRefused) {
  InstallSystem();
  HKEY profiles = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, sx::outlook::profiles::kProfilesKey, &profiles),
            ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteTreeA(profiles, "Outlook"), ERROR_SUCCESS);
  RegCloseKey(profiles);
  TestChecker checker;
  expect_dialog(DialogMatch::by_title(kStatus),
                {sx::window::wait(10), choose_menu_item(ID_UPDATE_OUTLOOK), click(IDOK)});
  Run(checker, " /install");
  EXPECT_EQ(checker.ProfileCount(), 0);
  EXPECT_EQ(Shown("Outlook Not Found").size(), 2u);
  EXPECT_EQ(Pages(), 0);
  EXPECT_TRUE(Shown("Update the Scribbix Folder").empty());
  EXPECT_EQ(Refreshes(), 1);
}

TEST_F(StatusScreenTest, AFinishedWizardRefreshesAndReportsTheOutcome) {
  InstallSystem();
  TestChecker checker;
  expect_dialog(DialogMatch::by_title(kWizard), {click(ID_WIZNEXT), click(ID_WIZFINISH)});
  expect_dialog(DialogMatch::by_title(kStatus), {choose_menu_item(ID_INSTALL_WIZARD), click(IDOK)});
  Run(checker);
  EXPECT_EQ(Refreshes(), 2);
  auto completed = Shown("Operation Completed");
  ASSERT_EQ(completed.size(), 1u);
  EXPECT_EQ(completed[0].control(IDC_COMPLETED_TEXT)->text, kInstallSucceeded);

  // With a component missing the same run reports failure.
  sx::window::clear_script();
  Machine({"conduit", "uninstall"});
  expect_dialog(DialogMatch::by_title(kWizard), {click(ID_WIZNEXT), click(ID_WIZFINISH)});
  expect_dialog(DialogMatch::by_title(kStatus), {choose_menu_item(ID_INSTALL_WIZARD), click(IDOK)});
  Run(checker);
  completed = Shown("Operation Completed");
  ASSERT_EQ(completed.size(), 1u);
  EXPECT_EQ(completed[0].control(IDC_COMPLETED_TEXT)->text, kInstallFailed);
}

// The completion message follows the folder work too: a cancelled update and an update with a
// note that could not be carried are no success, however good the rows are afterwards.
TEST_F(StatusScreenTest, ACancelledOrFailedUpdateIsNoSuccessWhateverTheRows) {
  InstallSystem();
  AddNotes({"one", "two", "three", "four", "five"});
  TestChecker checker;
  const auto runWizard = [&](std::vector<sx::window::UserAction> updating) {
    sx::window::clear_script();
    expect_dialog(DialogMatch::by_title(kWizard), {click(ID_WIZNEXT), click(ID_WIZFINISH)});
    expect_dialog(DialogMatch::by_title("Updating Scribbix Outlook Folder"), std::move(updating));
    expect_dialog(DialogMatch::by_title(kStatus),
                  {choose_menu_item(ID_INSTALL_WIZARD), click(IDOK)});
    Run(checker);
    for (int row = 0; row < kRowCount; ++row)
      EXPECT_NE(checker.GetRowState(row), kFailed) << checker.GetRow(row).name;
    const auto completed = Shown("Operation Completed");
    return completed.size() == 1 ? completed[0].control(IDC_COMPLETED_TEXT)->text : "<none>";
  };
  EXPECT_EQ(runWizard({sx::window::wait_for_progress(CWaitDlg::kProgressId, 20), click(IDCANCEL)}),
            kInstallCancelled);
  FailTheSecondMove();
  EXPECT_EQ(runWizard({}), kInstallFailed);
  sx::outlook::clear_faults();
  EXPECT_EQ(runWizard({}), kInstallSucceeded);
}

TEST_F(StatusScreenTest, HelpOpensTheFileBesideTheProgramOrSaysWhyNot) {
  InstallSystem();
  TestChecker checker;
  expect_dialog(DialogMatch::by_title(kStatus), {choose_menu_item(ID_HELP_INDEX), click(IDOK)});
  Run(checker);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{
                         "Failed to load the help file: \"C:\\Program Files\\Vorlan\\Scribbix\\"
                         "SXConfigure.chm\""}));

  std::ofstream(machine_.c("Program Files\\Vorlan\\Scribbix") / "SXConfigure.chm") << "help";
  sx::window::clear_script();
  expect_dialog(DialogMatch::by_title(kStatus), {choose_menu_item(ID_HELP_INDEX), click(IDOK)});
  Run(checker);
  EXPECT_TRUE(Boxes().empty());
  int viewers = 0;
  for (const ShownWindow& w : sx::window::shown()) {
    viewers += w.kind == ShownWindow::Kind::kHelpViewer ? 1 : 0;
  }
  EXPECT_EQ(viewers, 1);
}

TEST_F(StatusScreenTest, OptionsMenuOpensItsDialogsAndRefreshesAfterProfilesOk) {
  InstallSystem();
  TestChecker checker;
  expect_dialog(DialogMatch::by_title("Configure Profiles"), {click(IDOK)});
  expect_dialog(DialogMatch::by_title("Outlook Options"), {click(IDOK)});
  expect_dialog(DialogMatch::by_title("Configure Progress Notification"), {click(IDOK)});
  expect_dialog(DialogMatch::by_title(kStatus),
                {choose_menu_item(ID_CONFIGURE_PROFILES), choose_menu_item(ID_CONFIGURE_OUTLOOK),
                 choose_menu_item(ID_CONFIGURE_PROGRESS), click(IDOK)});
  Run(checker);
  EXPECT_EQ(sx::window::unused_scripts(), 0u);
  EXPECT_EQ(Refreshes(), 2);  // start-up, and after the profiles dialog only
}

// --- The splash, on the virtual clock

class SplashTest : public ConfigureTest {};

TEST_F(SplashTest, StaysTheMinimumTimeAndUntilTheFirstRefreshIsDone) {
  ASSERT_TRUE(sx::clock::is_virtual());
  SplashState early;
  early.initialised = true;  // the checks were quicker than the splash
  std::int64_t start = sx::clock::now_ms();
  {
    CSplash splash(IDB_SPLASH, 2000, 0, &early);
    ASSERT_TRUE(splash.Started());
  }
  EXPECT_EQ(early.closedAtMs - start, 2000);

  SplashState late;
  start = sx::clock::now_ms();
  {
    CSplash splash(IDB_SPLASH, 2000, 0, &late);
    Sleep(3450);  // the checks take longer
    late.initialised = true;
  }
  EXPECT_GE(late.closedAtMs - start, 3450);
  EXPECT_LE(late.closedAtMs - start, 3500);

  // The whole bitmap was drawn in its own size, in its palette.
  bool bitmap = false, palette = false;
  for (const auto& d : sx::window::drawn()) {
    if (d.kind == sx::window::Drawing::Kind::kBitmap) {
      bitmap = true;
      EXPECT_EQ(d.width, 399);
      EXPECT_EQ(d.height, 333);
      EXPECT_EQ(d.bit_count, 8);
      EXPECT_EQ(d.rect.right - d.rect.left, 399);
    }
    palette = palette || (d.kind == sx::window::Drawing::Kind::kPalette && d.width == 256);
  }
  EXPECT_TRUE(bitmap);
  EXPECT_TRUE(palette);
  EXPECT_EQ(sx::window::live_gdi_objects(), 0u);
}

}  // namespace
}  // namespace sx::configure::testing
