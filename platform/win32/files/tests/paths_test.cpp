#include "sx/paths.h"

#include <gtest/gtest.h>

#include "files_test_util.h"
#include "sx/testing/temp_machine.h"

namespace {

namespace fs = std::filesystem;

class PathsTest : public ::testing::Test {
 protected:
  sx::testing::TempMachine machine_;
  fs::path drive_c() const { return machine_.root() / "drive_c"; }
};

TEST_F(PathsTest, DriveLettersMapToDriveFolders) {
  EXPECT_EQ(sx::paths::to_host("C:\\Program Files\\Vorlan\\x.dll"),
            drive_c() / "Program Files" / "Vorlan" / "x.dll");
  EXPECT_EQ(sx::paths::to_host("d:\\data\\a.txt"), machine_.root() / "drive_d" / "data" / "a.txt");
  EXPECT_EQ(sx::paths::to_host("C:\\"), drive_c());
}

TEST_F(PathsTest, BothSeparatorsAndRepeatsSplitComponents) {
  EXPECT_EQ(sx::paths::to_host("C:/a//b\\\\c/"), drive_c() / "a" / "b" / "c");
}

TEST_F(PathsTest, PathsWithoutDriveAreOnDriveC) {
  EXPECT_EQ(sx::paths::to_host("a\\b.txt"), drive_c() / "a" / "b.txt");
  EXPECT_EQ(sx::paths::to_host("\\a\\b.txt"), drive_c() / "a" / "b.txt");
  EXPECT_EQ(sx::paths::to_host("C:a\\b.txt"), drive_c() / "a" / "b.txt");
}

TEST_F(PathsTest, ExistingComponentsAreFoundIgnoringCase) {
  fs::create_directories(drive_c() / "Program Files" / "Vorlan");
  sx::files::testing::write_host_file(drive_c() / "Program Files" / "Vorlan" / "SXOut.dll", "x");
  EXPECT_EQ(sx::paths::to_host("c:\\PROGRAM FILES\\vorlan\\sxout.DLL"),
            drive_c() / "Program Files" / "Vorlan" / "SXOut.dll");
  // A missing tail keeps the case it was given.
  EXPECT_EQ(sx::paths::to_host("C:\\program files\\New Folder\\A.txt"),
            drive_c() / "Program Files" / "New Folder" / "A.txt");
}

TEST_F(PathsTest, ExactCaseWinsOverAnotherCaseOfTheSameName) {
  sx::files::testing::write_host_file(drive_c() / "Notes.txt", "1");
  sx::files::testing::write_host_file(drive_c() / "NOTES.TXT", "2");
  EXPECT_EQ(sx::paths::to_host("C:\\NOTES.TXT"), drive_c() / "NOTES.TXT");
  EXPECT_EQ(sx::paths::to_host("C:\\Notes.txt"), drive_c() / "Notes.txt");
  EXPECT_EQ(sx::paths::to_host("C:\\notes.txt"), drive_c() / "NOTES.TXT");  // first in byte order
}

TEST_F(PathsTest, DotDotNeverLeavesTheDriveFolder) {
  EXPECT_EQ(sx::paths::to_host("C:\\..\\..\\etc\\passwd"), drive_c() / "etc" / "passwd");
  EXPECT_EQ(sx::paths::to_host("..\\..\\.."), drive_c());
  EXPECT_EQ(sx::paths::to_host("C:\\a\\.\\b\\..\\..\\..\\c"), drive_c() / "c");
  EXPECT_EQ(sx::paths::to_host("C:/a/../../drive_d/x"), drive_c() / "drive_d" / "x");
  EXPECT_EQ(sx::paths::to_host("C:\\a\\...\\b"), drive_c() / "a" / "b");
}

TEST_F(PathsTest, TrailingDotsAndSpacesAreDropped) {
  EXPECT_EQ(sx::paths::to_host("C:\\dir \\a.txt. "), drive_c() / "dir" / "a.txt");
}

TEST_F(PathsTest, IllegalCharactersAndNetworkPathsAreRefused) {
  for (const char* bad : {"C:\\a<b", "C:\\a>b", "C:\\a:b", "C:\\a\"b", "C:\\a|b", "C:\\a?b",
                          "C:\\dir*\\x", "C:\\a\x01"}) {
    sx::paths::Mapped mapped = sx::paths::map(bad);
    EXPECT_EQ(mapped.error, static_cast<DWORD>(ERROR_INVALID_NAME)) << bad;
    EXPECT_TRUE(mapped.host.empty()) << bad;
  }
  for (const char* net :
       {"\\\\server\\share\\x", "//server/share", "\\\\?\\UNC\\srv\\x", "\\\\.\\PhysicalDrive0"}) {
    EXPECT_EQ(sx::paths::map(net).error, static_cast<DWORD>(ERROR_BAD_NETPATH)) << net;
    EXPECT_TRUE(sx::paths::to_host(net).empty()) << net;
  }
  EXPECT_EQ(sx::paths::map("").error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(sx::paths::to_host("\\\\?\\C:\\a\\b"), drive_c() / "a" / "b");
}

TEST_F(PathsTest, HostPathsUnderADriveGiveWindowsPaths) {
  EXPECT_EQ(sx::paths::to_windows(drive_c() / "Program Files" / "x.dll"),
            "C:\\Program Files\\x.dll");
  EXPECT_EQ(sx::paths::to_windows(drive_c()), "C:\\");
  EXPECT_EQ(sx::paths::to_windows(machine_.root() / "drive_d" / "a"), "D:\\a");
  EXPECT_EQ(sx::paths::to_windows(drive_c() / "a" / ".." / "b"), "C:\\b");
  EXPECT_EQ(sx::paths::to_windows(machine_.root() / "handhelds" / "x"), "");
  EXPECT_EQ(sx::paths::to_windows(machine_.root()), "");
  EXPECT_EQ(sx::paths::to_windows(drive_c() / ".." / ".." / "elsewhere"), "");
  EXPECT_EQ(sx::paths::to_windows("/etc/passwd"), "");
}

}  // namespace
