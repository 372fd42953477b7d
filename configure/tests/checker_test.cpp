// The checks of the status screen on machines laid out as setup leaves them: each row's texts and
// state, and what the checks leave for the wizard.
#include <gtest/gtest.h>

#include <filesystem>

#include "configure_fixture.h"
#include "messages.h"
#include "sx/clock.h"
#include "sx/outlook/faults.h"
#include "sx/outlook/outlook_process.h"
#include "sx/outlook/profiles.h"
#include "sx/paths.h"

namespace sx::configure::testing {
namespace {

using ::testing::TestWithParam;

struct Shown {
  std::string name, info, status;
  RowState state;
};

Shown RowOf(const CComponentChecker& checker, int row) {
  const StatusRow& r = checker.GetRow(row);
  return {r.name, r.info, r.status, r.state};
}

#define EXPECT_ROW(checker, row, n, i, s, st) \
  do {                                        \
    const Shown shown_ = RowOf(checker, row); \
    EXPECT_EQ(shown_.name, n) << #row;        \
    EXPECT_EQ(shown_.info, i) << #row;        \
    EXPECT_EQ(shown_.status, s) << #row;      \
    EXPECT_EQ(shown_.state, st) << #row;      \
  } while (0)

class CheckerTest : public ConfigureTest {};

TEST_F(CheckerTest, InstalledSystemShowsEveryRowGoodAndTheAddInsHeldBackAreEnabled) {
  InstallSystem();
  AddNotes({"first", "second"});
  TestChecker checker;
  std::vector<int> order;
  checker.RefreshStatus([&](int row) { order.push_back(row); });
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_FALSE(checker.exitCode);
  EXPECT_ROW(checker, kRowOutlook, "Microsoft Outlook 2000 SR-1", "Version 9.0.0.3821", " Active ",
             kGood);
  EXPECT_ROW(checker, kRowProfiles, "Outlook Profiles", "Outlook", " Found ", kGood);
  EXPECT_ROW(checker, kRowHotSync, "HotSync", "Version 6.0.1.0", " Found ", kGood);
  EXPECT_ROW(checker, kRowHandhelds, "Scribbix Configured Handheld", "Palm User", " 1 Configured ",
             kGood);
  EXPECT_ROW(checker, kRowConduit, "Scribbix Outlook Conduit", "Version 1.8.0.0", " Installed ",
             kGood);
  EXPECT_ROW(checker, kRowUpdate, "Scribbix Outlook Update", "Version 1.8.0.0", " Found ", kGood);
  EXPECT_ROW(checker, kRowPost, "Scribbix Outlook Post", "Version 1.8.0.0", " Found ", kGood);
  EXPECT_ROW(checker, kRowAddIn, "Scribbix Outlook Add-In", " Registered ", " Enabled ", kGood);
  EXPECT_ROW(checker, kRowMonitorAddIn, "Scribbix Outlook Monitor Add-In", " Registered ",
             " Enabled ", kGood);
  EXPECT_ROW(checker, kRowFolder, "Scribbix Folder: Outlook", "2 Entries", " Found ", kGood);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(checker.PalmUserCount(), 1);
  EXPECT_EQ(checker.PalmUsers(), (std::set<std::string>{"Palm User"}));
  EXPECT_EQ(checker.ProfileCount(), 1);
  EXPECT_EQ(checker.OutlookVersion(0), 9);
  EXPECT_EQ(checker.OutlookVersion(3), 3821);
  EXPECT_EQ(checker.OutlookVersion(4), 0);
  EXPECT_EQ(checker.OutlookVersion(5), -1);
  // The folder check let Outlook go; the add-ins' "LoadBehavior" is as it was.
  EXPECT_FALSE(checker.HoldsOutlook());
  EXPECT_EQ(LoadBehavior(kNotesAddInProgId), std::optional<DWORD>(3));
  EXPECT_EQ(LoadBehavior(kMonitorAddInProgId), std::optional<DWORD>(3));
}

TEST_F(CheckerTest, HeldBackAddInsLoadBehaviorIsRestoredOrTurnedIntoLoadAtStartup) {
  InstallSystem();
  RegisterAddIns(9, 0);  // notes add-in on demand (and loaded once), monitor switched off
  TestChecker checker;
  ASSERT_EQ(checker.StartOutlook(), 0);
  EXPECT_FALSE(checker.NotesAddInAtStartup());
  EXPECT_FALSE(checker.MonitorAddInAtStartup());
  EXPECT_EQ(LoadBehavior(kNotesAddInProgId), std::optional<DWORD>(3));
  EXPECT_EQ(LoadBehavior(kMonitorAddInProgId), std::optional<DWORD>(0));
  checker.CheckAddIn(kRowAddIn, "Scribbix Outlook Add-In", kNotesAddInProgId, kNotesAddInName,
                     checker.NotesAddInAtStartup());
  // Registered with Outlook, held back from this Outlook and not loaded at its start: disabled.
  EXPECT_ROW(checker, kRowAddIn, "Scribbix Outlook Add-In", " Registered ", " Disabled ", kWarning);
  checker.ReleaseOutlook();
  ASSERT_EQ(checker.StartOutlook(), 0);  // 3 now: loaded at start-up, and put back as 3
  EXPECT_TRUE(checker.NotesAddInAtStartup());
  EXPECT_EQ(LoadBehavior(kNotesAddInProgId), std::optional<DWORD>(3));
}

TEST_F(CheckerTest, AddInMissingFromOutlooksListOrUnregisteredIsShownSo) {
  InstallSystem();
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "", &key), ERROR_SUCCESS);
  RegDeleteTreeA(key, (std::string(kMonitorAddInProgId)).c_str());
  RegCloseKey(key);
  TestChecker checker;
  checker.RefreshStatus();
  EXPECT_ROW(checker, kRowMonitorAddIn, "Scribbix Outlook Monitor Add-In", "", " Not Found ",
             kFailed);
  EXPECT_ROW(checker, kRowAddIn, "Scribbix Outlook Add-In", " Registered ", " Enabled ", kGood);
}

struct VersionCase {
  const char* version;
  const char* name;
  const char* status;
  RowState state;
};

class OutlookVersionTest : public ConfigureTest,
                           public ::testing::WithParamInterface<VersionCase> {};

TEST_P(OutlookVersionTest, VersionGivesNameStatusAndState) {
  InstallSystem({"Palm User"}, GetParam().version);
  TestChecker checker;
  checker.CheckOutlook(kRowOutlook);
  EXPECT_FALSE(checker.exitCode);
  EXPECT_ROW(checker, kRowOutlook, GetParam().name, std::string("Version ") + GetParam().version,
             GetParam().status, GetParam().state);
  EXPECT_TRUE(Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Versions, OutlookVersionTest,
    ::testing::Values(VersionCase{"9.0.0.3821", "Microsoft Outlook 2000 SR-1", " Active ", kGood},
                      VersionCase{"9.0.0.2711", "Microsoft Outlook 2000", " Active ", kGood},
                      VersionCase{"10.0.0.2627", "Microsoft Outlook", " Active ", kGood},
                      VersionCase{"8.5.5104.6", "Microsoft Outlook", " Old ", kFailed}),
    [](const ::testing::TestParamInfo<VersionCase>& info) {
      std::string name = std::string("Version_") + info.param.version;
      for (char& c : name) c = c == '.' ? '_' : c;
      return name;
    });

TEST_F(CheckerTest, PartlyUpgradedSr1NamesTheOutOfDateFileAndEndsTheProgram) {
  InstallSystem();
  InstallOutlook(sx::outlook::kDefaultVersion, "9.0.2416");
  TestChecker checker;
  std::vector<int> shown;
  checker.RefreshStatus([&](int row) { shown.push_back(row); });
  EXPECT_EQ(checker.exitCode, std::optional<int>(-1));
  EXPECT_TRUE(shown.empty());  // the program ended within the first check
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], OutlookProblemText("The following file is out of date: C:\\Program "
                                         "Files\\Microsoft Office\\Office\\outlrpc.dll\n"));
}

TEST_F(CheckerTest, OutlookThatCannotBeStartedEndsTheProgramAfterTheComErrorAndTheProblemBox) {
  InstallSystem();
  sx::outlook::inject_fault({.kind = "Application",
                             .operation = "Create",
                             .hr = CO_E_SERVER_EXEC_FAILURE,
                             .source = "Microsoft Outlook",
                             .description = "Outlook cannot start."});
  TestChecker checker;
  checker.RefreshStatus();
  sx::outlook::clear_faults();
  EXPECT_EQ(checker.exitCode, std::optional<int>(-1));
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_NE(boxes[0].find("\tSource = Microsoft Outlook\n\tDescription = Outlook cannot start.\n"),
            std::string::npos)
      << boxes[0];
  EXPECT_EQ(boxes[1], OutlookProblemText());
  EXPECT_EQ(checker.GetRow(kRowOutlook).status, " Found ");
}

TEST_F(CheckerTest, DefaultProfileIsMatchedWithoutRegardToCaseElseTheFirstIsShown) {
  InstallSystem();
  ASSERT_TRUE(sx::outlook::profiles::create("Alpha", false));
  ASSERT_TRUE(sx::outlook::profiles::create("Work", false));
  SetText(HKEY_CURRENT_USER, sx::outlook::profiles::kProfilesKey, "DefaultProfile", "WORK");
  TestChecker checker;
  checker.CheckProfiles(kRowProfiles);
  EXPECT_ROW(checker, kRowProfiles, "Outlook Profiles", "Work", " Found ", kGood);
  EXPECT_EQ(checker.DefaultProfileIndex(), 2);
  EXPECT_EQ(checker.ProfileCount(), 3);

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, sx::outlook::profiles::kProfilesKey, &key),
            ERROR_SUCCESS);
  RegDeleteValueA(key, "DefaultProfile");
  RegCloseKey(key);
  checker.CheckProfiles(kRowProfiles);
  EXPECT_ROW(checker, kRowProfiles, "Outlook Profiles", "Alpha", " Found ", kGood);
  EXPECT_EQ(checker.DefaultProfileIndex(), 0);
}

TEST_F(CheckerTest, NoProfileLeavesTheRowFailedWithACountOfZero) {
  TestChecker checker;
  checker.CheckProfiles(kRowProfiles);
  EXPECT_ROW(checker, kRowProfiles, "Outlook Profiles", "", " Not Found ", kFailed);
  EXPECT_EQ(checker.ProfileCount(), 0);
}

TEST_F(CheckerTest, ThreeStoredPairsShowTheFirstUserWithTwoDots) {
  InstallSystem({"Ann", "Bob", "Cy"});
  Machine({"system", "install", "--user", "Bob", "--outlook-in-each-program"});
  Machine({"system", "install", "--user", "Cy", "--outlook-in-each-program"});
  TestChecker checker;
  checker.CheckHandhelds(kRowHandhelds);
  EXPECT_ROW(checker, kRowHandhelds, "Scribbix Configured Handheld", "Ann..", " 3 Configured ",
             kGood);
  EXPECT_EQ(checker.PairUsers(), (std::vector<std::string>{"Ann", "Bob", "Cy"}));
  EXPECT_EQ(checker.PairProfiles(), (std::vector<std::string>{"Outlook", "Outlook", "Outlook"}));
  checker.CheckHotSync(kRowHotSync);
  EXPECT_EQ(checker.PalmUserCount(), 3);
  EXPECT_EQ(checker.PalmUsers(), (std::set<std::string>{"Ann", "Bob", "Cy"}));
}

TEST_F(CheckerTest, HotSyncWithoutUsersIsFoundButFailedAndNoPairLeavesTheFolderUnchecked) {
  InstallSystem({});
  TestChecker checker;
  checker.RefreshStatus();
  EXPECT_ROW(checker, kRowHotSync, "HotSync", "Version 6.0.1.0", " Found ", kFailed);
  EXPECT_EQ(checker.PalmUserCount(), 0);
  EXPECT_ROW(checker, kRowHandhelds, "Scribbix Configured Handheld", "", " Not Found ", kWarning);
  EXPECT_ROW(checker, kRowConduit, "Scribbix Outlook Conduit", "", " Not Found ", kFailed);
  EXPECT_ROW(checker, kRowFolder, "Scribbix Folder", "", " Not Found ", kFailed);
  // Without a pair Outlook stays held, and the next refresh keeps the Outlook row as it was.
  EXPECT_TRUE(checker.HoldsOutlook());
  InstallOutlook("10.0.0.2627");
  checker.RefreshStatus();
  EXPECT_EQ(checker.GetRow(kRowOutlook).info, "Version 9.0.0.3821");
}

TEST_F(CheckerTest, ConduitWhoseInternalNameLacksOutlookIsInstalledButFailed) {
  InstallSystem();
  // Another module in the conduit's place: its InternalName is "ScribbixOut". (The conduit's file
  // is replaced, not written over: this process has it mapped since its registration.)
  std::filesystem::remove(machine_.c("Program Files\\Palm\\SXOut.dll"));
  std::filesystem::copy_file(machine_.c("Program Files\\Vorlan\\Scribbix\\ScribbixOut.dll"),
                             machine_.c("Program Files\\Palm\\SXOut.dll"));
  TestChecker checker;
  checker.CheckConduit(kRowConduit);
  EXPECT_ROW(checker, kRowConduit, "ScribbixOut", "Version 1.8.0.0", " Installed ", kFailed);
}

TEST_F(CheckerTest, ComponentWhoseServerFileIsGoneIsNotFound) {
  InstallSystem();
  std::filesystem::remove(machine_.c("Program Files\\Vorlan\\Scribbix\\ScribbixUpdate.dll"));
  TestChecker checker;
  checker.CheckComponent(kRowUpdate, "Scribbix Outlook Update", "ScribbixUpdate.Update1", kWarning);
  EXPECT_ROW(checker, kRowUpdate, "Scribbix Outlook Update", "", " Not Found ", kFailed);
}

TEST_F(CheckerTest, ChooseProfileIsCancelledByTheWatcherAndTheFolderIsCheckedInThePairedProfile) {
  InstallSystem();
  ASSERT_TRUE(sx::outlook::profiles::create("Work", false));
  ASSERT_TRUE(sx::outlook::set_prompt_for_profile(true));
  // Nobody answers the chooser for a minute: only the watcher closes it in time, each time Outlook
  // starts (the Outlook check, and the folder check after Outlook was let go).
  sx::window::expect_dialog(sx::window::DialogMatch::by_title(sx::outlook::kChooseProfileTitle),
                            {sx::window::wait(60000)});
  TestChecker checker;
  const std::int64_t started = sx::clock::now_ms();
  checker.RefreshStatus();
  EXPECT_LT(sx::clock::now_ms() - started, 3000);  // 1000 of them the release's pause
  EXPECT_ROW(checker, kRowOutlook, "Microsoft Outlook 2000 SR-1", "Version 9.0.0.3821", " Active ",
             kGood);
  EXPECT_ROW(checker, kRowFolder, "Scribbix Folder: Outlook", "0 Entries", " Found ", kGood);
  int choosers = 0;
  for (const auto& w : sx::window::shown()) {
    if (w.title != sx::outlook::kChooseProfileTitle) continue;
    ++choosers;
    EXPECT_EQ(w.result, IDCANCEL);
    EXPECT_FALSE(w.ended_by_host);
  }
  EXPECT_EQ(choosers, 1);
}

TEST_F(CheckerTest, EmptyNotesFolderIsLeftEmptyByTheProbe) {
  InstallSystem();
  TestChecker checker;
  checker.RefreshStatus();
  EXPECT_ROW(checker, kRowFolder, "Scribbix Folder: Outlook", "0 Entries", " Found ", kGood);
  EXPECT_FALSE(checker.FolderError());
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>(std::vector<std::string>{}));
}

TEST_F(CheckerTest, ProbeRemovesItsOwnTestPostWhenAnotherNoteArrivedMeanwhile) {
  InstallSystem();
  AddNotes({"a note the HotSync saved"});
  TestChecker checker;
  ASSERT_EQ(checker.LogonProfile("Outlook"), 0);
  ComPtr<MAPIFolder> folder = Folder(checker.NameSpace(), "Vorlan", "Scribbix");
  ASSERT_TRUE(folder);
  EXPECT_EQ(checker.ProbeEmptyFolder(folder.Get()), 0);
  folder = nullptr;
  checker.ReleaseOutlook();
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>(
                         std::vector<std::string>{"a note the HotSync saved"}));
}

TEST_F(CheckerTest, ProfileWithoutTheNotesStoreLeavesTheFolderRowNotFound) {
  InstallSystem();
  ASSERT_TRUE(sx::outlook::profiles::create("Work", false));
  SetText(HKEY_CURRENT_USER, "Software\\Vorlan Software\\Scribbix\\Profiles", "Palm User", "Work");
  TestChecker checker;
  checker.RefreshStatus();
  EXPECT_ROW(checker, kRowFolder, "Scribbix Folder: Work", "", " Not Found ", kFailed);
  EXPECT_FALSE(checker.FolderError());
  EXPECT_TRUE(Boxes().empty());
}

// A notes store Outlook finds damaged is no missing folder: the row says it is damaged and names
// the repair, and the wizard is not offered by itself (installing again would make the notes look
// deleted at the next HotSync).
TEST_F(CheckerTest, ADamagedNotesStoreShowsDamagedWithTheRepairInsteadOfNotFound) {
  InstallSystem();
  AddNotes({"one", "two"});
  std::string notesStore;
  for (const std::string& path : sx::outlook::profiles::stores("Outlook"))
    if (path.ends_with(" Vorlan.pst")) notesStore = path;
  ASSERT_FALSE(notesStore.empty());
  const auto file = sx::paths::to_host(notesStore);
  std::filesystem::resize_file(file, std::filesystem::file_size(file) - 7);
  TestChecker checker;
  checker.RefreshStatus();
  EXPECT_ROW(checker, kRowFolder, "Scribbix Folder: Outlook", "Repair: sxfolders repair",
             " Damaged ", kFailed);
  EXPECT_TRUE(checker.FolderError());
  EXPECT_EQ(checker.DamagedFile(), notesStore);
  ASSERT_FALSE(Boxes().empty());
  EXPECT_NE(Boxes().back().find("Errors have been detected in the file " + notesStore),
            std::string::npos)
      << Boxes().back();
}

TEST_F(CheckerTest, UnreadableNotesFolderShowsErrorAndTheProblemBox) {
  InstallSystem();
  AddNotes({"one"});
  FailTheNextCreationTimeRead();  // the folder probe fails
  TestChecker checker;
  checker.RefreshStatus();
  sx::outlook::clear_faults();
  EXPECT_ROW(checker, kRowFolder, "Scribbix Folder: Outlook", " ERROR ", " Not Found ", kFailed);
  EXPECT_TRUE(checker.FolderError());
  EXPECT_EQ(Boxes(), (std::vector<std::string>{OutlookProblemText()}));
}

}  // namespace
}  // namespace sx::configure::testing
