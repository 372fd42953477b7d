// Installing and updating the notes folder through the folder maintenance component, with the
// progress window up, on machines laid out as setup leaves them.
#include <gtest/gtest.h>

#include <fstream>

#include "configure_fixture.h"
#include "folder_install.h"
#include "messages.h"
#include "scribbix/notes_folder.h"
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
  UpdateFolder(checker, "Outlook");
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
  sx::outlook::inject_fault({.kind = "Item",
                             .operation = "Move",
                             .nth = 2,
                             .hr = static_cast<HRESULT>(0x80040109),
                             .source = "Microsoft Outlook",
                             .description = "The disk is full."});
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
  EXPECT_TRUE(report.copied);
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
  sx::window::expect_message_box(IDOK, "holding the Scribbix file");
  sx::window::expect_message_box(IDOK, "holding the Scribbix file");
  sx::window::expect_message_box(IDOK, "holding the Scribbix file", [&] { CloseHandle(held); });
  TestChecker checker;
  InstallReport report;
  InstallFolder(checker, "Palm User", "Outlook", &report);
  // ".1" is the file the machine tool installed, set aside by the first installation.
  EXPECT_EQ(report.setAside, std::string(kUserFile) + ".2");
  EXPECT_TRUE(report.copied);
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(boxes[static_cast<std::size_t>(i)], kHeldOpen);
  EXPECT_EQ(Notes(), std::optional<std::vector<std::string>>(std::vector<std::string>{}));
}

TEST_F(FolderInstallTest, OldFileThatCannotBeSetAsideIsNeverOverwritten) {
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
  InstallFolder(checker, "Palm User", "Outlook", &report);
  EXPECT_FALSE(report.copied);
  EXPECT_TRUE(report.setAside.empty());
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"Rename Failure, Failed to rename: " +
                                               std::string(kUserFile) + ". Error Number = 17"}));
  EXPECT_EQ(Contents(Host(kUserFile)), before);
}

TEST_F(FolderInstallTest, FreshInstallForANewUserAddsTheNotesFolderToTheProfile) {
  InstallSystem();
  ASSERT_TRUE(sx::outlook::profiles::create("Work", false));
  TestChecker checker;
  InstallReport report;
  InstallFolder(checker, "Jo", "Work", &report);
  EXPECT_EQ(report.target, std::string(kInstallDir) + "\\Jo Vorlan.pst");
  EXPECT_TRUE(report.setAside.empty());
  EXPECT_TRUE(report.copied);
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
  EXPECT_TRUE(report.copied);
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
  EXPECT_EQ(InstallFolder(checker, "Palm User", "Outlook", &report), 1);
  EXPECT_FALSE(report.copied);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{
                         "Install Failure, The installation path was not found.\nRun setup and "
                         "choose to Repair the installation."}));
  EXPECT_EQ(Positions(kInstalling), (std::vector<int>{0, 10, 20, 100}));
}

TEST_F(FolderInstallTest, InstallOverAnOldFileWithoutTheComponentStillKeepsTheOldFile) {
  InstallSystem();
  {
    TestChecker checker;
    InstallFolder(checker, "Palm User", "Outlook");
  }
  sx::window::clear_script();
  CoFreeUnusedLibraries();  // the component is unloaded, then its file goes
  std::filesystem::remove(machine_.c("Program Files\\Vorlan\\Scribbix\\ScribbixUpdate.dll"));
  TestChecker checker;
  InstallReport report;
  InstallFolder(checker, "Palm User", "Outlook", &report);
  EXPECT_EQ(report.setAside, std::string(kUserFile) + ".2");  // ".1": the machine tool's file
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].rfind("Remove Failure, Failed to load: ScribbixUpdate.dll, Error 0x", 0), 0u)
      << boxes[0];
  EXPECT_EQ(boxes[1], "Install Failure, Failed to load: ScribbixUpdate.dll");
  EXPECT_EQ(boxes[2], "Your previous Scribbix notes were kept in the file:\n" + report.setAside);
}

TEST_F(FolderInstallTest, InstallWithoutTheComponentSaysItCannotBeLoadedAndLeavesTheAddIns) {
  InstallSystem();
  RegisterAddIns(2, 2);
  std::filesystem::remove(machine_.c("Program Files\\Vorlan\\Scribbix\\ScribbixUpdate.dll"));
  TestChecker checker;
  InstallReport report;
  InstallFolder(checker, "Jo", "Outlook", &report);
  EXPECT_TRUE(report.copied);
  EXPECT_EQ(Boxes(),
            (std::vector<std::string>{"Install Failure, Failed to load: ScribbixUpdate.dll"}));
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
