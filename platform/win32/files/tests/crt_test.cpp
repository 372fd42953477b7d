// The C runtime's rename, remove, _access and _chmod on Windows paths, with the runtime's errno.
// This test program is linked with sx_windows_crt, so rename() and remove() here are the Windows
// runtime's.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "files_test_util.h"
#include "io.h"
#include "sx/testing/temp_machine.h"
#include "win32/files.h"

namespace {

using sx::files::testing::open_file;
using sx::files::testing::write_host_file;

class CrtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(machine_.c("Vorlan"));
    write_host_file(machine_.c("Vorlan\\Anne Vorlan.pst"), "notes");
  }
  sx::testing::TempMachine machine_;
};

TEST_F(CrtTest, RenameSetsAsideTheFileAtTheFirstFreeNumber) {
  for (int n = 1; n <= 3; ++n) {
    write_host_file(machine_.c("Vorlan\\Anne Vorlan.pst." + std::to_string(n)), "old");
  }
  const std::string target = "C:\\Vorlan\\Anne Vorlan.pst";
  int n = 1;
  int last_errno = 0;
  for (; n <= 100; ++n) {
    errno = 0;
    if (rename(target.c_str(), (target + "." + std::to_string(n)).c_str()) == 0) break;
    last_errno = errno;
  }
  EXPECT_EQ(n, 4);
  EXPECT_EQ(last_errno, EEXIST);
  EXPECT_EQ(EEXIST, 17);
  EXPECT_TRUE(std::filesystem::exists(machine_.c("Vorlan\\Anne Vorlan.pst.4")));
  EXPECT_FALSE(std::filesystem::exists(machine_.c("Vorlan\\Anne Vorlan.pst")));
}

TEST_F(CrtTest, RenameOfAFileHeldOpenWithoutDeleteSharingFailsWithEacces) {
  HANDLE held = open_file("C:\\Vorlan\\Anne Vorlan.pst", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  errno = 0;
  EXPECT_EQ(rename("C:\\Vorlan\\Anne Vorlan.pst", "C:\\Vorlan\\Anne Vorlan.pst.1"), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(EACCES, 13);
  errno = 0;
  EXPECT_EQ(remove("C:\\Vorlan\\Anne Vorlan.pst"), -1);
  EXPECT_EQ(errno, EACCES);
  CloseHandle(held);
  EXPECT_EQ(rename("C:\\Vorlan\\Anne Vorlan.pst", "C:\\Vorlan\\Anne Vorlan.pst.1"), 0);
}

TEST_F(CrtTest, MissingFilesAndFoldersGiveEnoent) {
  errno = 0;
  EXPECT_EQ(rename("C:\\Vorlan\\missing.pst", "C:\\Vorlan\\x.pst"), -1);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(remove("C:\\No Such Folder\\a.pst"), -1);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(_access("C:\\Vorlan\\missing.pst", 0), -1);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(_chmod("C:\\Vorlan\\missing.pst", _S_IREAD | _S_IWRITE), -1);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(remove("C:\\Vorlan"), -1);  // a folder is not a file
  EXPECT_EQ(errno, EACCES);
}

TEST_F(CrtTest, ReadOnlyFileIsMadeWritableAgainWithChmod) {
  const char* store = "C:\\Vorlan\\Anne Vorlan.pst";
  EXPECT_EQ(_access(store, 6), 0);
  EXPECT_EQ(_chmod(store, _S_IREAD), 0);
  errno = 0;
  EXPECT_EQ(_access(store, 6), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(_access(store, 4), 0);
  errno = 0;
  EXPECT_EQ(remove(store), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(_chmod(store, _S_IREAD | _S_IWRITE), 0);
  EXPECT_EQ(_access(store, 2), 0);
  EXPECT_EQ(_access("C:\\Vorlan", 6), 0);  // folders may always be written
  errno = 0;
  EXPECT_EQ(_access(store, 1), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(_unlink(store), 0);
  EXPECT_FALSE(std::filesystem::exists(machine_.c("Vorlan\\Anne Vorlan.pst")));
}

TEST_F(CrtTest, HostPathsStillReachTheHostCalls) {
  const std::filesystem::path a = machine_.root() / "host-a.txt";
  const std::filesystem::path b = machine_.root() / "host-b.txt";
  write_host_file(a, "x");
  EXPECT_EQ(rename(a.c_str(), b.c_str()), 0);
  EXPECT_TRUE(std::filesystem::exists(b));
  EXPECT_EQ(remove(b.c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(b));
}

}  // namespace
