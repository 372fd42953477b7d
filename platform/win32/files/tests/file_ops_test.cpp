#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "files_test_util.h"
#include "sx/testing/temp_machine.h"
#include "win32/files.h"

namespace {

namespace fs = std::filesystem;
using sx::files::testing::open_file;
using sx::files::testing::read_host_file;
using sx::files::testing::write_host_file;

class FileOpsTest : public ::testing::Test {
 protected:
  sx::testing::TempMachine machine_;
};

TEST_F(FileOpsTest, DeleteFileRemovesFilesOnly) {
  write_host_file(machine_.c("dir\\a.txt"), "a");
  ASSERT_TRUE(DeleteFileA("C:\\DIR\\A.TXT"));
  EXPECT_FALSE(fs::exists(machine_.c("dir\\a.txt")));
  EXPECT_FALSE(DeleteFileA("C:\\dir\\a.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteFileA("C:\\nodir\\a.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(DeleteFileA("C:\\dir"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileA("C:\\dir\\a|b"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
}

TEST_F(FileOpsTest, ReadOnlyFilesCannotBeDeletedOrReplaced) {
  write_host_file(machine_.c("ro.txt"), "keep");
  write_host_file(machine_.c("other.txt"), "other");
  ASSERT_TRUE(SetFileAttributesA("C:\\ro.txt", FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(DeleteFileA("C:\\ro.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(MoveFileExA("C:\\other.txt", "C:\\ro.txt", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(CopyFileA("C:\\other.txt", "C:\\ro.txt", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(read_host_file(machine_.c("ro.txt")), "keep");
  // A read-only file may itself be renamed.
  ASSERT_TRUE(MoveFileA("C:\\ro.txt", "C:\\ro2.txt"));
  EXPECT_EQ(GetFileAttributesA("C:\\ro2.txt"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
}

TEST_F(FileOpsTest, MoveFileRefusesAnExistingTargetUnlessReplacing) {
  write_host_file(machine_.c("state.new"), "new");
  write_host_file(machine_.c("state.vxs"), "old");
  EXPECT_FALSE(MoveFileA("C:\\state.new", "C:\\STATE.VXS"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(MoveFileExA("C:\\state.new", "C:\\state.vxs", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  ASSERT_TRUE(MoveFileExA("C:\\state.new", "C:\\STATE.VXS", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(read_host_file(machine_.c("state.vxs")), "new");
  EXPECT_FALSE(fs::exists(machine_.c("state.new")));
  EXPECT_FALSE(MoveFileA("C:\\state.new", "C:\\x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(MoveFileA("C:\\state.vxs", "C:\\nodir\\x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(MoveFileExA("C:\\state.vxs", "C:\\x", MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(FileOpsTest, MoveFileRenamesFoldersAndChangesCase) {
  write_host_file(machine_.c("Old\\a.txt"), "a");
  ASSERT_TRUE(MoveFileA("C:\\old", "C:\\New"));
  EXPECT_EQ(read_host_file(machine_.root() / "drive_c" / "New" / "a.txt"), "a");
  ASSERT_TRUE(MoveFileA("C:\\new\\a.txt", "C:\\New\\A.TXT"));
  EXPECT_TRUE(fs::exists(machine_.root() / "drive_c" / "New" / "A.TXT"));
  EXPECT_FALSE(fs::exists(machine_.root() / "drive_c" / "New" / "a.txt"));
  write_host_file(machine_.c("f.txt"), "f");
  EXPECT_FALSE(MoveFileExA("C:\\f.txt", "C:\\New", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FileOpsTest, CopyFileCopiesContentAttributesAndTime) {
  write_host_file(machine_.c("src.txt"), "content");
  HANDLE h = open_file("C:\\src.txt", GENERIC_WRITE, 0, OPEN_EXISTING);
  const FILETIME when{0x11111100u, 0x01C20000u};
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &when));
  CloseHandle(h);
  ASSERT_TRUE(SetFileAttributesA("C:\\src.txt", FILE_ATTRIBUTE_READONLY));

  ASSERT_TRUE(CopyFileA("C:\\SRC.TXT", "C:\\dst.txt", TRUE));
  EXPECT_EQ(read_host_file(machine_.c("dst.txt")), "content");
  EXPECT_EQ(GetFileAttributesA("C:\\dst.txt"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
  h = open_file("C:\\dst.txt", GENERIC_READ, 0, OPEN_EXISTING);
  FILETIME copied{};
  ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &copied));
  CloseHandle(h);
  EXPECT_EQ(copied.dwHighDateTime, when.dwHighDateTime);
  EXPECT_EQ(copied.dwLowDateTime, when.dwLowDateTime);

  write_host_file(machine_.c("other.txt"), "x");
  EXPECT_FALSE(CopyFileA("C:\\other.txt", "C:\\dst.txt", TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_FALSE(CopyFileA("C:\\missing.txt", "C:\\dst2.txt", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(CopyFileA("C:\\other.txt", "C:\\OTHER.txt", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ASSERT_TRUE(SetFileAttributesA("C:\\dst.txt", FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(CopyFileA("C:\\other.txt", "C:\\dst.txt", FALSE));
  EXPECT_EQ(read_host_file(machine_.c("dst.txt")), "x");
}

TEST_F(FileOpsTest, FoldersAreCreatedAndRemovedWithWindowsErrors) {
  ASSERT_TRUE(CreateDirectoryA("C:\\Data", nullptr));
  EXPECT_FALSE(CreateDirectoryA("C:\\DATA", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryA("C:\\nodir\\sub", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA("C:\\data"), FILE_ATTRIBUTE_DIRECTORY);

  write_host_file(machine_.c("Data\\f.txt"), "f");
  EXPECT_FALSE(RemoveDirectoryA("C:\\data"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_FALSE(RemoveDirectoryA("C:\\data\\f.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  ASSERT_TRUE(DeleteFileA("C:\\data\\f.txt"));
  ASSERT_TRUE(RemoveDirectoryA("C:\\data"));
  EXPECT_FALSE(RemoveDirectoryA("C:\\data"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(RemoveDirectoryA("C:\\"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(RemoveDirectoryA("C:\\..\\.."));  // still the drive root
  EXPECT_TRUE(fs::is_directory(machine_.root() / "drive_c"));
}

TEST_F(FileOpsTest, AttributesOfMissingNamesTellFileFromPath) {
  EXPECT_EQ(GetFileAttributesA("C:\\missing.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA("C:\\missing\\x.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA("C:\\a\"b"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_FALSE(SetFileAttributesA("C:\\missing.txt", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FileOpsTest, TempFileNamesAreMadeInTheMachinesTempFolder) {
  char path[MAX_PATH];
  std::memset(path, 0xCC, sizeof(path));
  EXPECT_EQ(GetTempPathA(4, path), 17u);  // too small: the size needed, buffer untouched
  EXPECT_EQ(static_cast<unsigned char>(path[0]), 0xCC);
  ASSERT_EQ(GetTempPathA(sizeof(path), path), 16u);
  EXPECT_STREQ(path, "C:\\Windows\\Temp\\");

  char name[MAX_PATH];
  const UINT unique = GetTempFileNameA(path, "SXOUT", 0, name);
  ASSERT_NE(unique, 0u);
  char expected[64];
  std::snprintf(expected, sizeof(expected), "C:\\Windows\\Temp\\SXO%X.TMP", unique);
  EXPECT_STREQ(name, expected);
  EXPECT_EQ(GetFileAttributesA(name), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(GetTempFileNameA("C:\\Windows\\Temp", "ab", 0x1F2, name), 0x1F2u);
  EXPECT_STREQ(name, "C:\\Windows\\Temp\\ab1F2.TMP");
  EXPECT_EQ(GetFileAttributesA(name), INVALID_FILE_ATTRIBUTES);  // not created
}

}  // namespace
