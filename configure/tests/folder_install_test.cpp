// Installing and updating the notes folder through the folder maintenance component, with the
// progress window up, on machines laid out as setup leaves them.
#include <gtest/gtest.h>

#include <fstream>

#include "configure_fixture.h"
#include "folder_install.h"
#include "hotsync_files.h"
#include "messages.h"
#include "scribbix/notes_folder.h"
#include "sx/hotsync.h"
#include "sx/outlook/faults.h"
#include "sx/outlook/outlook_process.h"
#include "wait_dlg.h"
#include "win32/crt.h"

namespace sx::configure::testing {
namespace {

constexpr char kUpdating[] = "Updating Scribbix Outlook Folder";
constexpr char kInstalling[] = "Installing Scribbix Outlook Folder";
constexpr char kUserFile[] = "C:\\Program Files\\Vorlan\\Scribbix\\Palm User Vorlan.pst";
constexpr char kHeldOpen[] =
    "Outlook is holding the Scribbix file open.\nPlease shut down Outlook to continue the "
    "installation.";

class FolderInstallTest : public ConfigureTest {
 protected:
  std::vector<int> Positions(const char* title) {
    auto window = ProgressWindow(title);
    if (!window) return {};
    const sx::window::ControlState* bar = window->control(CWaitDlg::kProgressId);
    return bar != nullptr ? bar->progress_history : std::vector<int>{};
  }
  std::filesystem::path Host(const std::string& windowsPath) {
    return machine_.c(windowsPath.substr(3));
  }
  static std::string Contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(FolderInstallTest, UpdateOfThreeNotesShowsZeroThirtyThreeSixtySevenAndKeepsEveryNote) {
  InstallSystem();
  AddNotes({"one", "two", "three"});
  TestChecker checker;
  const long result = UpdateFolder(checker, "Outlook");
  EXPECT_NE(result, NO_UPDATE_FILE);
  EXPECT_NE(result, kNoNotesFolder);
  EXPECT_EQ(Positions(kUpdating), (std::vector<int>{0, 33, 67}));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_FALSE(checker.HoldsOutlook());
  auto notes = Notes();
  ASSERT_TRUE(notes);
  std::sort(notes->begin(), notes->end());
  EXPECT_EQ(*notes, (std::vector<std::string>{"one", "three", "two"}));
  // The update store went back out of the profile.
  WithOutlook("Outlook",
              [](_NameSpace* ns) { EXPECT_FALSE(Folder(ns, "VorlanSXUpdate", "SXUpdate")); });
}

TEST_F(FolderInstallTest, UpdateOfAnEmptyFolderEndsAtOnceWithTheBarAtZero) {
  InstallSystem();
  TestChecker checker;
  const long result = UpdateFolder(checker, "Outlook");
  EXPECT_NE(result, NO_UPDATE_FILE);
  EXPECT_EQ(Positions(kUpdating), (std::vector<int>{0}));
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>(std::vector<std::string>{}));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(FolderInstallTest, CancelDuringTheUpdateLosesNoNoteAndLeavesTheOldFolderInPlace) {
  InstallSystem();
  const std::vector<std::string> five = {"one", "two", "three", "four", "five"};
  AddNotes(five);
  const std::vector<std::string> before = NoteIds();
  // Cancel is pressed while the bar shows 20; the procedure sees it at its next look.
  sx::window::expect_dialog(
      sx::window::DialogMatch::by_title(kUpdating),
      {sx::window::wait_for_progress(CWaitDlg::kProgressId, 20), sx::window::click(IDCANCEL)});
  TestChecker checker;
  // A cancelled update is no update done: its result says so.
  EXPECT_EQ(UpdateFolder(checker, "Outlook"), kUpdateCancelled);
  const std::vector<int> shown = Positions(kUpdating);
  ASSERT_GE(shown.size(), 2u);
  ASSERT_LT(shown.size(), 5u);  // not every note was carried
  const std::vector<int> all = {0, 20, 40, 60, 80};
  EXPECT_TRUE(std::equal(shown.begin(), shown.end(), all.begin()))
      << ::testing::PrintToString(shown);
  // EndUpdate did not run: the old folder is still the notes folder, every note the same item.
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>(five));
  EXPECT_EQ(NoteIds(), before);
  WithOutlook("Outlook", [](_NameSpace* ns) {
    EXPECT_FALSE(Folder(ns, "VorlanSXUpdate", "SXUpdate"));  // the update store is out
    EXPECT_FALSE(Folder(ns, "Vorlan", "SXUpdate"));  // and the copies carried so far are gone
  });
  // A later update carries them all.
  sx::window::clear_script();
  UpdateFolder(checker, "Outlook");
  EXPECT_EQ(Positions(kUpdating), (std::vector<int>{0, 20, 40, 60, 80}));
  EXPECT_TRUE(Boxes().empty());
  auto notes = Notes();
  ASSERT_TRUE(notes);
  std::sort(notes->begin(), notes->end());
  EXPECT_EQ(*notes, (std::vector<std::string>{"five", "four", "one", "three", "two"}));
  EXPECT_NE(NoteIds(), before);
  WithOutlook("Outlook", [](_NameSpace* ns) { EXPECT_FALSE(Folder(ns, "Vorlan", "SXUpdate")); });
}

TEST_F(FolderInstallTest, NoteThatCannotBeCarriedFailsTheUpdateAndKeepsTheOldFolder) {
  InstallSystem();
  AddNotes({"one", "two", "three"});
  const std::vector<std::string> before = NoteIds();
  FailTheSecondMove();
  TestChecker checker;
  EXPECT_EQ(UpdateFolder(checker, "Outlook"), -1);
  sx::outlook::clear_faults();
  EXPECT_EQ(Positions(kUpdating), (std::vector<int>{0}));
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("The disk is full."), std::string::npos) << boxes[0];
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>({"one", "two", "three"}));
  EXPECT_EQ(NoteIds(), before);
  WithOutlook("Outlook", [](_NameSpace* ns) { EXPECT_FALSE(Folder(ns, "Vorlan", "SXUpdate")); });
}

TEST_F(FolderInstallTest, UpdateOnAMachineThatAsksForAProfileWorksInTheProfileNamed) {
  InstallSystem();
  AddNotes({"one"});
  ASSERT_TRUE(sx::outlook::profiles::create("Work", false));
  ASSERT_TRUE(sx::outlook::set_prompt_for_profile(true));
  // A person would pick "Work" in the chooser after a while; the watcher cancels it first.
  sx::window::expect_dialog(
      sx::window::DialogMatch::by_title(sx::outlook::kChooseProfileTitle),
      {sx::window::wait(60000), sx::window::select(1001, 1), sx::window::click(IDOK)});
  TestChecker checker;
  const std::int64_t started = sx::clock::now_ms();
  const long result = UpdateFolder(checker, "Outlook");
  EXPECT_GE(result, 0);
  EXPECT_LT(sx::clock::now_ms() - started, 5000);
  const auto chooser = sx::window::shown().front();
  EXPECT_EQ(chooser.title, sx::outlook::kChooseProfileTitle);
  EXPECT_EQ(chooser.result, IDCANCEL);
  ASSERT_TRUE(sx::outlook::set_prompt_for_profile(false));
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>({"one"}));
}

TEST_F(FolderInstallTest, UpdateWithoutTheComponentSaysSoAndIsNoUpdateDone) {
  InstallSystem();
  std::filesystem::remove(machine_.c("Program Files\\Vorlan\\Scribbix\\ScribbixUpdate.dll"));
  TestChecker checker;
  EXPECT_LT(UpdateFolder(checker, "Outlook"), 0);
  EXPECT_EQ(Boxes(),
            (std::vector<std::string>{"Upgrade Failure, Failed to load: ScribbixUpdate.dll"}));
}

TEST_F(FolderInstallTest, BeginUpdateFailureIsShownWithItsCodeAndEndsTheUpdate) {
  InstallSystem();
  AddNotes({"one"});
  sx::outlook::inject_fault({.kind = "MAPIFolder",
                             .operation = "CopyTo",
                             .hr = E_FAIL,
                             .source = "Microsoft Outlook",
                             .description = "The folder cannot be copied."});
  TestChecker checker;
  const long result = UpdateFolder(checker, "Outlook");
  sx::outlook::clear_faults();
  EXPECT_LT(result, 0);
  EXPECT_NE(result, kNoNotesFolder);
  char expected[64];
  std::snprintf(expected, sizeof expected, "Begin Upgrade Failure: 0x%lx",
                static_cast<unsigned long>(result) & 0xFFFFFFFFul);
  const auto boxes = Boxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back(), expected);
  EXPECT_EQ(std::string(expected).size(), std::string("Begin Upgrade Failure: 0x").size() + 8);
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>({"one"}));
  WithOutlook("Outlook", [](_NameSpace* ns) {
    EXPECT_FALSE(Folder(ns, "VorlanSXUpdate", "SXUpdate"));  // the update store went out again
  });
}

TEST_F(FolderInstallTest, UpdateOfAProfileWithoutNotesFolderSaysNothingAndAsksForAnInstall) {
  InstallSystem();
  ASSERT_TRUE(sx::outlook::profiles::create("Work", false));
  TestChecker checker;
  EXPECT_EQ(UpdateFolder(checker, "Work"), kNoNotesFolder);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(FolderInstallTest, ReadOnlyUpdateStoreIsMadeWritableAndStillNoUpdateFileWhenLogonFails) {
  InstallSystem();
  const std::string store = std::string(kInstallDir) + "\\SXUpdate.pst";
  ASSERT_EQ(_chmod(store.c_str(), _S_IREAD), 0);
  ASSERT_NE(_access(store.c_str(), 2), 0);
  TestChecker checker;
  EXPECT_EQ(UpdateFolder(checker, "Nobody"), NO_UPDATE_FILE);
  EXPECT_EQ(_access(store.c_str(), 6), 0);
}

TEST_F(FolderInstallTest, UpdateWithoutTheUpdateStoreDoesNotStart) {
  InstallSystem();
  std::filesystem::remove(machine_.c("Program Files\\Vorlan\\Scribbix\\SXUpdate.pst"));
  AddNotes({"kept"});
  TestChecker checker;
  EXPECT_EQ(UpdateFolder(checker, "Outlook"), NO_UPDATE_FILE);
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>(std::vector<std::string>{"kept"}));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(FolderInstallTest, InstallSetsTheOldFileAsideAfterTheCopiesOneToThreeAndSaysWhere) {
  InstallSystem();
  RegisterAddIns(2, 2);  // both switched off
  // The user's notes file from an earlier installation, in the profile, and three older copies.
  {
    TestChecker checker;
    InstallFolder(checker, "Palm User", "Outlook");
  }
  AddNotes({"old note"});
  for (int n = 1; n <= 3; ++n) {
    std::ofstream(Host(std::string(kUserFile) + "." + std::to_string(n))) << "copy " << n;
  }
  const std::string before = Contents(Host(kUserFile));
  sx::window::clear_script();
  TestChecker checker;
  InstallReport report;
  EXPECT_EQ(InstallFolder(checker, "Palm User", "Outlook", &report), 1);
  EXPECT_EQ(report.target, kUserFile);
  EXPECT_EQ(report.setAside, std::string(kUserFile) + ".4");
  EXPECT_TRUE(report.installed);
  for (int n = 1; n <= 3; ++n) {
    EXPECT_EQ(Contents(Host(std::string(kUserFile) + "." + std::to_string(n))),
              "copy " + std::to_string(n));
  }
  EXPECT_EQ(Contents(Host(std::string(kUserFile) + ".4")), before);  // nothing of it lost
  EXPECT_EQ(Boxes(),
            (std::vector<std::string>{"Your previous Scribbix notes were kept in the file:\n" +
                                      report.setAside}));
  EXPECT_EQ(Positions(kInstalling), (std::vector<int>{0, 10, 20, 90, 100}));
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>(std::vector<std::string>{}));
  // Both add-ins were switched on: they load at every start from now on.
  EXPECT_EQ(LoadBehavior(kNotesAddInProgId), std::optional<DWORD>(3));
  EXPECT_EQ(LoadBehavior(kMonitorAddInProgId), std::optional<DWORD>(3));
  EXPECT_FALSE(checker.HoldsOutlook());
}

TEST_F(FolderInstallTest, InstallWhileOutlookHoldsTheOldFileRepeatsTheMessageUntilItIsClosed) {
  InstallSystem();
  {
    TestChecker checker;
    InstallFolder(checker, "Palm User", "Outlook");
  }
  sx::window::clear_script();
  // Another Outlook (a person's) keeps the file open as Outlook does: shared read and write, not
  // delete.
  HANDLE held =
      CreateFileA(kUserFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  sx::window::expect_message_box(IDRETRY, "holding the Scribbix file");
  sx::window::expect_message_box(IDRETRY, "holding the Scribbix file");
  sx::window::expect_message_box(IDRETRY, "holding the Scribbix file", [&] { CloseHandle(held); });
  TestChecker checker;
  InstallReport report;
  const std::int64_t started = sx::clock::now_ms();
  EXPECT_EQ(InstallFolder(checker, "Palm User", "Outlook", &report), 1);
  // Each message comes after five seconds in which Outlook did not let go.
  EXPECT_GE(sx::clock::now_ms() - started, 3 * 5000);
  // ".1" is the file the machine tool installed, set aside by the first installation.
  EXPECT_EQ(report.setAside, std::string(kUserFile) + ".2");
  EXPECT_TRUE(report.installed);
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(boxes[static_cast<std::size_t>(i)], kHeldOpen);
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>(std::vector<std::string>{}));
}

TEST_F(FolderInstallTest, OldFileThatCannotBeSetAsideIsNeverOverwrittenAndStaysInTheProfile) {
  InstallSystem();
  {
    TestChecker checker;
    InstallFolder(checker, "Palm User", "Outlook");
  }
  AddNotes({"precious"});
  for (int n = 1; n <= 100; ++n) {
    std::ofstream(Host(std::string(kUserFile) + "." + std::to_string(n))) << n;
  }
  const std::string before = Contents(Host(kUserFile));
  sx::window::clear_script();
  TestChecker checker;
  InstallReport report;
  EXPECT_EQ(InstallFolder(checker, "Palm User", "Outlook", &report), 0);
  EXPECT_FALSE(report.installed);
  EXPECT_TRUE(report.restored);
  EXPECT_TRUE(report.setAside.empty());
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"Rename Failure, Failed to rename: " +
                                               std::string(kUserFile) + ". Error Number = 17"}));
  EXPECT_EQ(Contents(Host(kUserFile)), before);
  // The old folder, taken out of the profile to free its file, is back in it.
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>({"precious"}));
  EXPECT_FALSE(checker.HoldsOutlook());
}

// --- What an installation needs is checked before anything is touched

class InstallRefusalTest : public FolderInstallTest {
 protected:
  void SetUp() override {
    FolderInstallTest::SetUp();
    InstallSystem();
    AddNotes({"kept"});
    before_ = Contents(Host(kUserFile));
  }
  // The user's notes file, its folder in the profile and its notes are as they were.
  void ExpectNothingChanged(const TestChecker& checker) {
    EXPECT_EQ(Contents(Host(kUserFile)), before_);
    EXPECT_FALSE(std::filesystem::exists(Host(std::string(kUserFile) + ".1")));
    EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>({"kept"}));
    EXPECT_FALSE(checker.HoldsOutlook());
  }
  static std::string HotSyncUserFolder() {
    std::vector<sx::hotsync::UserEntry> users;
    std::string why;
    EXPECT_TRUE(sx::hotsync::read_users(&users, &why)) << why;
    return users.empty() ? "" : users.front().directory;
  }
  std::string before_;
};

// A mistyped profile: the logon fails, and the install stops there. Nor does the program's own
// Outlook, refused its logon, hold the old file (it has no session), so no "held open" message.
TEST_F(InstallRefusalTest, AProfileThatCannotBeLoggedOnToChangesNothing) {
  TestChecker checker;
  InstallReport report;
  EXPECT_EQ(InstallFolder(checker, "Palm User", "Nope", &report), 0);
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u) << ::testing::PrintToString(boxes);
  EXPECT_EQ(boxes[0].rfind("Com Error!", 0), 0u) << boxes[0];
  EXPECT_EQ(boxes[1], "Install Failure, The Outlook profile \"Nope\" could not be opened.");
  EXPECT_EQ(report.problem, "the Outlook profile \"Nope\" could not be logged on to");
  EXPECT_TRUE(report.restored);
  ExpectNothingChanged(checker);
}

TEST_F(InstallRefusalTest, AMissingUpdateStoreChangesNothingAndIsNotTakenForAHeldFile) {
  std::filesystem::remove(machine_.c("Program Files\\Vorlan\\Scribbix\\SXUpdate.pst"));
  TestChecker checker;
  const std::int64_t started = sx::clock::now_ms();
  EXPECT_EQ(InstallFolder(checker, "Palm User", "Outlook"), 0);
  EXPECT_LT(sx::clock::now_ms() - started, 1000);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"Install Failure, The Scribbix Update file was not "
                                               "found: " +
                                               std::string(kInstallDir) +
                                               "\\SXUpdate.pst\nRun setup and choose to Repair "
                                               "the installation."}));
  ExpectNothingChanged(checker);
}

// Nobody there to answer (the box's Cancel is what the unattended host answers): one message after
// a bounded wait, then the installation stops without touching the file or the profile.
TEST_F(InstallRefusalTest, AFileAnotherOutlookHoldsStopsTheInstallAfterOneMessage) {
  HANDLE held =
      CreateFileA(kUserFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  sx::window::expect_message_box(IDCANCEL, "holding the Scribbix file");
  TestChecker checker;
  InstallReport report;
  const std::int64_t started = sx::clock::now_ms();
  EXPECT_EQ(InstallFolder(checker, "Palm User", "Outlook", &report), 0);
  EXPECT_EQ(sx::clock::now_ms() - started, 5000);
  CloseHandle(held);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{kHeldOpen}));
  EXPECT_EQ(report.problem, "Outlook holds the notes file " + std::string(kUserFile) +
                                " open; close Outlook and install again");
  ExpectNothingChanged(checker);
}

// A step that fails after the old folder left the profile and its files were set aside puts all of
// it back: the old file and the user's HotSync state in their places, the old folder in the
// profile, no fresh file left behind.
TEST_F(InstallRefusalTest, AFailureAfterTheOldFilesWereSetAsidePutsEverythingBack) {
  const std::string state = UserStateFile("Palm User");
  ASSERT_EQ(state, sx::hotsync::hotsync_dir() + "\\" + HotSyncUserFolder() +
                       "\\VorlanScrib\\Palm User-Scribbix.VXS");
  std::filesystem::create_directories(Host(state).parent_path());
  std::ofstream(Host(state)) << "the notes of the last HotSync";
  // The fresh file cannot be added to the profile.
  sx::outlook::inject_fault({.kind = "NameSpace",
                             .operation = "AddStore",
                             .hr = E_FAIL,
                             .source = "Microsoft Outlook",
                             .description = "The file cannot be added."});
  TestChecker checker;
  InstallReport report;
  EXPECT_EQ(InstallFolder(checker, "Palm User", "Outlook", &report), 0);
  sx::outlook::clear_faults();
  const auto boxes = Boxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back(), "Install Failure, Failed to add the Scribbix folder to the profile: " +
                              std::string(kUserFile));
  EXPECT_TRUE(report.restored);
  EXPECT_TRUE(report.setAside.empty());
  EXPECT_TRUE(report.stateSetAside.empty());
  EXPECT_EQ(Contents(Host(state)), "the notes of the last HotSync");
  EXPECT_FALSE(std::filesystem::exists(Host(state + ".1")));
  ExpectNothingChanged(checker);

  // Done again without the fault, both are set aside under one number.
  sx::window::clear_script();
  EXPECT_EQ(InstallFolder(checker, "Palm User", "Outlook", &report), 1);
  EXPECT_EQ(report.setAside, std::string(kUserFile) + ".1");
  EXPECT_EQ(report.stateSetAside, state + ".1");
  EXPECT_FALSE(std::filesystem::exists(Host(state)));
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>(std::vector<std::string>{}));
}

TEST_F(FolderInstallTest, FreshInstallForANewUserAddsTheNotesFolderToTheProfile) {
  InstallSystem();
  ASSERT_TRUE(sx::outlook::profiles::create("Work", false));
  TestChecker checker;
  InstallReport report;
  EXPECT_EQ(InstallFolder(checker, "Jo", "Work", &report), 1);
  EXPECT_EQ(report.target, std::string(kInstallDir) + "\\Jo Vorlan.pst");
  EXPECT_TRUE(report.setAside.empty());
  EXPECT_TRUE(report.installed);
  EXPECT_TRUE(report.addInsOn);
  EXPECT_TRUE(report.problem.empty());
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Notes("Work"), std::optional<std::vector<std::string>>(std::vector<std::string>{}));
  // The template is untouched: the next install copies it again.
  TestChecker again;
  again.RefreshStatus();
  EXPECT_EQ(again.GetRowState(kRowFolder), kGood);
}

// A Palm user's name is the handheld's to choose: one with path separators still gets its notes
// file inside the installation directory.
TEST_F(FolderInstallTest, AUserNameWithPathSeparatorsKeepsTheNotesFileInTheInstallationDirectory) {
  InstallSystem();
  ASSERT_TRUE(sx::outlook::profiles::create("Work", false));
  TestChecker checker;
  InstallReport report;
  InstallFolder(checker, "..\\..\\Jo/C:", "Work", &report);
  EXPECT_EQ(report.target, std::string(kInstallDir) + "\\.._.._Jo_C_ Vorlan.pst");
  EXPECT_TRUE(report.installed);
  EXPECT_EQ(sx::common::NotesFileName(".."), "_ Vorlan.pst");
}

TEST_F(FolderInstallTest, InstallWithoutInstallationPathSaysSoAndTouchesNoProfile) {
  InstallSystem();
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorlan Software\\Scribbix", &key),
            ERROR_SUCCESS);
  RegDeleteValueA(key, "Path");
  RegCloseKey(key);
  TestChecker checker;
  InstallReport report;
  EXPECT_EQ(InstallFolder(checker, "Palm User", "Outlook", &report), 0);
  EXPECT_FALSE(report.installed);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{
                         "Install Failure, The installation path was not found.\nRun setup and "
                         "choose to Repair the installation."}));
  EXPECT_EQ(Positions(kInstalling), (std::vector<int>{0, 10, 20, 100}));
}

// Without the component nothing of the old installation is touched: its file stays where the
// profile finds it, and no template takes its place.
TEST_F(FolderInstallTest, InstallWithoutTheComponentSaysSoAndChangesNothing) {
  InstallSystem();
  RegisterAddIns(2, 2);
  AddNotes({"kept"});
  const std::string before = Contents(Host(kUserFile));
  CoFreeUnusedLibraries();  // the component is unloaded, then its file goes
  std::filesystem::remove(machine_.c("Program Files\\Vorlan\\Scribbix\\ScribbixUpdate.dll"));
  TestChecker checker;
  InstallReport report;
  EXPECT_EQ(InstallFolder(checker, "Palm User", "Outlook", &report), 0);
  EXPECT_FALSE(report.installed);
  EXPECT_TRUE(report.setAside.empty());
  EXPECT_EQ(Boxes(),
            (std::vector<std::string>{"Install Failure, Failed to load: ScribbixUpdate.dll"}));
  EXPECT_EQ(Contents(Host(kUserFile)), before);
  EXPECT_FALSE(std::filesystem::exists(Host(std::string(kUserFile) + ".1")));
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>({"kept"}));
  // For a new user no file is made either, and the add-ins stay as they were.
  sx::window::clear_script();
  EXPECT_EQ(InstallFolder(checker, "Jo", "Outlook", &report), 0);
  EXPECT_FALSE(std::filesystem::exists(Host(std::string(kInstallDir) + "\\Jo Vorlan.pst")));
  EXPECT_EQ(LoadBehavior(kNotesAddInProgId), std::optional<DWORD>(2));
}

TEST_F(FolderInstallTest, CopyFileBlocksCopiesEveryByteAndCutsALongerTarget) {
  const std::string source = "C:\\data\\source.bin", target = "C:\\data\\target.bin";
  std::filesystem::create_directories(machine_.c("data"));
  std::string bytes(16384 * 2 + 7, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 % 251);
  std::ofstream(Host(source), std::ios::binary) << bytes;
  std::ofstream(Host(target), std::ios::binary) << std::string(100000, 'x');
  EXPECT_EQ(CopyFileBlocks(source, target), 0u);
  EXPECT_EQ(Contents(Host(target)), bytes);
  // An exact multiple of the block size, and an empty file.
  bytes.resize(16384);
  std::ofstream(Host(source), std::ios::binary | std::ios::trunc) << bytes;
  EXPECT_EQ(CopyFileBlocks(source, target), 0u);
  EXPECT_EQ(Contents(Host(target)), bytes);
  std::ofstream(Host(source), std::ios::binary | std::ios::trunc);
  EXPECT_EQ(CopyFileBlocks(source, target), 0u);
  EXPECT_EQ(Contents(Host(target)), "");
  EXPECT_EQ(CopyFileBlocks("C:\\data\\missing.bin", target),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FolderInstallTest, ExclusiveAccessWaitsAboutTenSecondsForAHeldFile) {
  const std::string file = "C:\\data\\held.bin";
  std::filesystem::create_directories(machine_.c("data"));
  std::ofstream(Host(file)) << "x";
  EXPECT_TRUE(WaitForExclusiveAccess(file));
  HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const std::int64_t started = sx::clock::now_ms();
  EXPECT_FALSE(WaitForExclusiveAccess(file));
  EXPECT_EQ(sx::clock::now_ms() - started, 10000);
  CloseHandle(held);
}

}  // namespace
}  // namespace sx::configure::testing
