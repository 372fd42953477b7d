#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "files_test_util.h"
#include "sx/clock.h"
#include "sx/testing/temp_machine.h"
#include "win32/files.h"

namespace {

using sx::files::testing::open_file;
using sx::files::testing::read_host_file;
using sx::files::testing::write_host_file;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class FileHandleTest : public ::testing::Test {
 protected:
  sx::testing::TempMachine machine_;
};

TEST_F(FileHandleTest, DispositionsCreateOpenAndReportExistingFiles) {
  SetLastError(0xdeadbeef);
  HANDLE h = open_file("C:\\a.txt", GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_TRUE(CloseHandle(h));

  EXPECT_EQ(open_file("C:\\A.TXT", GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));

  h = open_file("C:\\a.txt", GENERIC_READ, 0, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(h);

  h = open_file("C:\\a.txt", GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(h);

  h = open_file("C:\\b.txt", GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(h);

  EXPECT_EQ(open_file("C:\\missing.txt", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(open_file("C:\\nodir\\x.txt", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(open_file("C:\\nodir\\x.txt", GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(open_file("C:\\a.txt", GENERIC_READ, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(open_file("C:\\a.txt", GENERIC_READ, 0, 9), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(open_file("C:\\a?.txt", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(open_file("C:\\", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FileHandleTest, CreateAlwaysAndTruncateExistingEmptyTheFile) {
  write_host_file(machine_.c("x.txt"), "old content");
  HANDLE h = open_file("C:\\x.txt", GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);
  CloseHandle(h);
  write_host_file(machine_.c("x.txt"), "old content");
  h = open_file("C:\\x.txt", GENERIC_WRITE, 0, TRUNCATE_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);
  CloseHandle(h);
  EXPECT_EQ(open_file("C:\\y.txt", GENERIC_WRITE, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FileHandleTest, WriteReadSeekAndSizeWorkTogether) {
  HANDLE h = open_file("C:\\data.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0xdeadbeef;
  ASSERT_TRUE(WriteFile(h, "hello world", 11, &written, nullptr));
  EXPECT_EQ(written, 11u);

  EXPECT_EQ(SetFilePointer(h, 6, nullptr, FILE_BEGIN), 6u);
  char buffer[16];
  std::memset(buffer, 0xCC, sizeof(buffer));
  DWORD read = 0xdeadbeef;
  ASSERT_TRUE(ReadFile(h, buffer, sizeof(buffer), &read, nullptr));
  EXPECT_EQ(read, 5u);
  EXPECT_EQ(std::string(buffer, 5), "world");
  EXPECT_EQ(static_cast<unsigned char>(buffer[5]), 0xCC);

  ASSERT_TRUE(ReadFile(h, buffer, sizeof(buffer), &read, nullptr));  // at the end: TRUE, 0 bytes
  EXPECT_EQ(read, 0u);

  EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_CURRENT), 6u);
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_END), 10u);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(SetFilePointer(h, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  LONG high = 1;  // 4 GiB + 2: past the end is allowed
  EXPECT_EQ(SetFilePointer(h, 2, &high, FILE_BEGIN), 2u);
  EXPECT_EQ(high, 1);

  EXPECT_EQ(SetFilePointer(h, 5, nullptr, FILE_BEGIN), 5u);
  ASSERT_TRUE(SetEndOfFile(h));
  DWORD size_high = 0xdeadbeef;
  EXPECT_EQ(GetFileSize(h, &size_high), 5u);
  EXPECT_EQ(size_high, 0u);
  ASSERT_TRUE(FlushFileBuffers(h));
  ASSERT_TRUE(CloseHandle(h));
  EXPECT_EQ(read_host_file(machine_.c("data.bin")), "hello");
}

TEST_F(FileHandleTest, AppendIsAMoveToTheEndBeforeWriting) {
  write_host_file(machine_.c("log.txt"), "line 1\r\n");
  HANDLE h = open_file("C:\\log.txt", GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), 8u);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, "line 2\r\n", 8, &written, nullptr));
  CloseHandle(h);
  EXPECT_EQ(read_host_file(machine_.c("log.txt")), "line 1\r\nline 2\r\n");
}

TEST_F(FileHandleTest, HandlesRefuseWhatTheirAccessDoesNotAllow) {
  write_host_file(machine_.c("a.txt"), "abc");
  HANDLE reader = open_file("C:\\a.txt", GENERIC_READ, kShareAll, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  DWORD n = 0xdeadbeef;
  EXPECT_FALSE(WriteFile(reader, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(SetEndOfFile(reader));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(FlushFileBuffers(reader));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HANDLE writer = open_file("C:\\a.txt", GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  char c;
  EXPECT_FALSE(ReadFile(writer, &c, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(reader);
  CloseHandle(writer);
  EXPECT_EQ(read_host_file(machine_.c("a.txt")), "abc");
}

TEST_F(FileHandleTest, ClosedOrForeignHandlesAreInvalid) {
  HANDLE h = open_file("C:\\a.txt", GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_TRUE(CloseHandle(h));
  DWORD n = 0;
  EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetFileSize(h, nullptr), INVALID_FILE_SIZE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA("C:\\*", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ReadFile(search, &data, 1, &n, nullptr));  // a search is no file
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  FindClose(search);
}

TEST_F(FileHandleTest, WritesAreStampedWithTheMachineClock) {
  // Virtual time starts on 2001-01-01 00:00 UTC: FILETIME 0x01C07385_C89DC000.
  HANDLE h = open_file("C:\\t.txt", GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  sx::clock::advance(90 * 1000);  // +90 s
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "x", 1, &n, nullptr));
  FILETIME written{0xdeadbeef, 0xdeadbeef};
  ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &written));
  const unsigned long long ticks =
      (static_cast<unsigned long long>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  EXPECT_EQ(ticks, 0x01C07385C89DC000ull + 90ull * 10000000ull);

  const FILETIME chosen{0x12345600u, 0x01C10000u};
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &chosen));
  CloseHandle(h);  // nothing written since: the chosen time stays
  h = open_file("C:\\t.txt", GENERIC_READ, 0, OPEN_EXISTING);
  ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &written));
  EXPECT_EQ(written.dwHighDateTime, chosen.dwHighDateTime);
  EXPECT_EQ(written.dwLowDateTime, chosen.dwLowDateTime);
  EXPECT_FALSE(SetFileTime(h, nullptr, nullptr, &chosen));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(h);
}

TEST_F(FileHandleTest, ReadOnlyFilesRefuseWritingOpens) {
  HANDLE h = CreateFileA("C:\\ro.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_READONLY, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "kept", 4, &n, nullptr));  // the creating handle may still write
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributesA("C:\\ro.txt"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);

  for (DWORD disposition : {OPEN_EXISTING, OPEN_ALWAYS, CREATE_ALWAYS, TRUNCATE_EXISTING}) {
    EXPECT_EQ(open_file("C:\\ro.txt", GENERIC_WRITE, kShareAll, disposition), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << disposition;
  }
  EXPECT_EQ(open_file("C:\\ro.txt", GENERIC_READ, kShareAll, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(open_file("C:\\ro.txt", DELETE, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  h = open_file("C:\\ro.txt", GENERIC_READ, kShareAll, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(read_host_file(machine_.c("ro.txt")), "kept");

  ASSERT_TRUE(SetFileAttributesA("C:\\ro.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA("C:\\ro.txt"), FILE_ATTRIBUTE_ARCHIVE);
  h = open_file("C:\\ro.txt", GENERIC_WRITE, 0, OPEN_EXISTING);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
}

}  // namespace
