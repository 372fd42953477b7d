#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "files_test_util.h"
#include "sx/file_share.h"
#include "sx/testing/temp_machine.h"
#include "win32/files.h"

namespace {

using sx::files::testing::open_file;
using sx::files::testing::write_host_file;

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class SharingTest : public ::testing::Test {
 protected:
  void SetUp() override { write_host_file(machine_.c("store.pst"), "data"); }
  sx::testing::TempMachine machine_;
};

TEST_F(SharingTest, ExclusiveOpenShutsOutEveryOtherOpenUntilClosed) {
  HANDLE owner = open_file("C:\\store.pst", kReadWrite, 0, OPEN_EXISTING);
  ASSERT_NE(owner, INVALID_HANDLE_VALUE);
  for (DWORD access : {GENERIC_READ, GENERIC_WRITE, static_cast<DWORD>(DELETE)}) {
    EXPECT_EQ(open_file("C:\\STORE.PST", access, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << access;
  }
  EXPECT_FALSE(DeleteFileA("C:\\store.pst"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  write_host_file(machine_.c("new.pst"), "new");
  EXPECT_FALSE(MoveFileExA("C:\\new.pst", "C:\\store.pst", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileA("C:\\store.pst", "C:\\moved.pst"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(CopyFileA("C:\\store.pst", "C:\\copy.pst", FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // Overwriting counts as writing, whatever access the handle asks for.
  EXPECT_EQ(open_file("C:\\store.pst", GENERIC_READ, kShareAll, CREATE_ALWAYS),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // An open that asks for no data access is not checked.
  HANDLE attributes_only = open_file("C:\\store.pst", 0, 0, OPEN_EXISTING);
  EXPECT_NE(attributes_only, INVALID_HANDLE_VALUE);
  CloseHandle(attributes_only);

  ASSERT_TRUE(CloseHandle(owner));
  HANDLE next = open_file("C:\\store.pst", GENERIC_READ, 0, OPEN_EXISTING);
  EXPECT_NE(next, INVALID_HANDLE_VALUE);
  CloseHandle(next);
  EXPECT_EQ(sx::files::testing::read_host_file(machine_.c("store.pst")), "data");
}

TEST_F(SharingTest, ExclusiveOpenFailsWhileAnotherHandleHoldsTheFile) {
  HANDLE reader = open_file("C:\\store.pst", GENERIC_READ, kShareAll, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(open_file("C:\\store.pst", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(reader);
  HANDLE exclusive = open_file("C:\\store.pst", GENERIC_READ, 0, OPEN_EXISTING);
  EXPECT_NE(exclusive, INVALID_HANDLE_VALUE);
  CloseHandle(exclusive);
}

TEST_F(SharingTest, ShareModesAreCheckedBothWays) {
  // Readers that share reading only: another reader fits, a writer does not.
  HANDLE r1 = open_file("C:\\store.pst", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(r1, INVALID_HANDLE_VALUE);
  HANDLE r2 = open_file("C:\\store.pst", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(r2, INVALID_HANDLE_VALUE);
  EXPECT_EQ(open_file("C:\\store.pst", GENERIC_WRITE, kShareAll, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // A reader that does not share writing is fine, since nobody writes.
  HANDLE r3 = open_file("C:\\store.pst", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(r3, INVALID_HANDLE_VALUE);
  CloseHandle(r1);
  CloseHandle(r2);
  CloseHandle(r3);

  // A writer sharing read and write: a second writer must share writing too... and reading, since
  // the first one reads nothing but the second denies nothing it holds.
  HANDLE w1 =
      open_file("C:\\store.pst", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  ASSERT_NE(w1, INVALID_HANDLE_VALUE);
  EXPECT_EQ(open_file("C:\\store.pst", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);  // would deny the writing that w1 holds
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  HANDLE w2 = open_file("C:\\store.pst", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  EXPECT_NE(w2, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFileA("C:\\store.pst"));  // nobody shares delete
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(w1);
  CloseHandle(w2);
}

TEST_F(SharingTest, FilesOpenWithShareDeleteCanBeDeletedAndRenamed) {
  HANDLE h = open_file("C:\\store.pst", GENERIC_READ, kShareAll, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(MoveFileA("C:\\store.pst", "C:\\renamed.pst"));
  EXPECT_TRUE(DeleteFileA("C:\\renamed.pst"));
  CloseHandle(h);
}

TEST_F(SharingTest, OfThreadsRacingForAnExclusiveOpenExactlyOneWins) {
  for (int round = 0; round < 20; ++round) {
    std::atomic<int> ready{0};
    std::atomic<int> winners{0};
    std::vector<HANDLE> opened(6, INVALID_HANDLE_VALUE);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < opened.size(); ++i) {
      threads.emplace_back([&, i] {
        ready.fetch_add(1);
        while (ready.load() < static_cast<int>(opened.size())) {
        }
        opened[i] = open_file("C:\\store.pst", kReadWrite, 0, OPEN_EXISTING);
        if (opened[i] != INVALID_HANDLE_VALUE) winners.fetch_add(1);
      });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(winners.load(), 1) << round;
    for (HANDLE h : opened) {
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
  }
}

// Runs `child` in a forked process and returns its exit status (0 = the child's checks held).
template <class F>
int in_child_process(F child) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(child());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST_F(SharingTest, ExclusiveOpenHoldsAgainstAnotherProcess) {
  HANDLE owner = open_file("C:\\store.pst", kReadWrite, 0, OPEN_EXISTING);
  ASSERT_NE(owner, INVALID_HANDLE_VALUE);
  EXPECT_EQ(in_child_process([] {
              HANDLE h = open_file("C:\\store.pst", GENERIC_READ, kShareAll, OPEN_EXISTING);
              return h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION ? 0 : 1;
            }),
            0);
  CloseHandle(owner);
  EXPECT_EQ(in_child_process([] {
              HANDLE h = open_file("C:\\store.pst", GENERIC_READ, 0, OPEN_EXISTING);
              return h != INVALID_HANDLE_VALUE ? 0 : 1;
            }),
            0);
}

TEST_F(SharingTest, AnotherProcessHoldingTheFileBlocksAnExclusiveOpenUntilItExits) {
  int to_child[2];
  int to_parent[2];
  ASSERT_EQ(::pipe(to_child), 0);
  ASSERT_EQ(::pipe(to_parent), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    HANDLE h = open_file("C:\\store.pst", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    const char opened = h != INVALID_HANDLE_VALUE ? 'y' : 'n';
    (void)!::write(to_parent[1], &opened, 1);
    char go;
    (void)!::read(to_child[0], &go, 1);  // hold the file until the parent has tried
    ::_exit(0);
  }
  char opened = 0;
  ASSERT_EQ(::read(to_parent[0], &opened, 1), 1);
  ASSERT_EQ(opened, 'y');
  EXPECT_EQ(open_file("C:\\store.pst", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(open_file("C:\\store.pst", GENERIC_WRITE, kShareAll, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ASSERT_EQ(::write(to_child[1], "x", 1), 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  HANDLE h = open_file("C:\\store.pst", GENERIC_READ, 0, OPEN_EXISTING);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);  // the child's exit released its locks
  CloseHandle(h);
  for (int fd : {to_child[0], to_child[1], to_parent[0], to_parent[1]}) ::close(fd);
}

}  // namespace

// A file a stand-in keeps open with host calls (Outlook's store) counts like a CreateFileA handle.
TEST(HeldShareMode, HostDescriptorHoldsItsShareModeUntilClosed) {
  sx::testing::TempMachine machine;
  write_host_file(machine.c("held.pst"), "data");
  const int fd = ::open(machine.c("held.pst").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(sx::files::hold_share_mode(fd, kReadWrite, FILE_SHARE_READ | FILE_SHARE_WRITE),
            static_cast<DWORD>(ERROR_SUCCESS));
  // Readers and writers that share are welcome; exclusive opens, deletes and renames are not.
  HANDLE reader =
      open_file("C:\\held.pst", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  EXPECT_EQ(open_file("C:\\held.pst", kReadWrite, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileA("C:\\held.pst", "C:\\held.pst.1"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // A second holder that would deny what the first holds is refused and records nothing.
  const int other = ::open(machine.c("held.pst").c_str(), O_RDWR | O_CLOEXEC);
  EXPECT_EQ(sx::files::hold_share_mode(other, GENERIC_READ, 0),
            static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ::close(other);
  ::close(fd);
  EXPECT_TRUE(MoveFileA("C:\\held.pst", "C:\\held.pst.1"));
}
