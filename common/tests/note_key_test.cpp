// The note key counter over "Last" and "Base", and the registry helpers under it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <thread>
#include <vector>

#include "scribbix/note_key.h"
#include "scribbix/notes_folder.h"
#include "scribbix/registry_values.h"
#include "sx/clock.h"
#include "sx/registry_file.h"
#include "sx/testing/temp_machine.h"
#include "windows.h"

namespace sx::common {
namespace {

class NoteKeyTest : public ::testing::Test {
 protected:
  explicit NoteKeyTest(
      sx::testing::TempMachine::Clock clock = sx::testing::TempMachine::Clock::kVirtual)
      : machine_(clock) {
    std::string why;
    EXPECT_TRUE(sx::registry::create_empty_file(&why)) << why;
  }
  static void set(const char* name, DWORD value) {
    ASSERT_TRUE(SetKeyValue(HKEY_LOCAL_MACHINE, kInstallationKey, name,
                            static_cast<long>(static_cast<std::int32_t>(value)), REG_DWORD));
  }
  static DWORD get(const char* name) {
    HKEY key = nullptr;
    DWORD value = 0xDEADBEEF, size = sizeof value, type = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallationKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
      RegCloseKey(key);
    }
    return value;
  }

  sx::testing::TempMachine machine_;
};

TEST_F(NoteKeyTest, WithoutLastOrBaseABaseIsMadeFromTheTimeOfDay) {
  sx::clock::advance((14 * 60 + 30) * 60'000);  // the virtual day starts at midnight
  SYSTEMTIME now{};
  GetLocalTime(&now);
  ASSERT_EQ(now.wHour, 14);
  const double key = NextNoteKey();
  const DWORD base = get("Base");
  EXPECT_EQ(base % 1048576, 0u);
  EXPECT_EQ(base, 0x1AA00000u);  // 14:30 is 0.6041666 of a day: 0x9AAAAAAA folded, masked
  EXPECT_EQ(key, base + 1.0);
  EXPECT_EQ(get("Last"), base + 1);
  EXPECT_EQ(NextNoteKey(), base + 2.0);
  EXPECT_EQ(get("Base"), base);
}

TEST_F(NoteKeyTest, TheSequenceGoesOnFromLastElseFromBase) {
  set("Base", 100);
  EXPECT_EQ(NextNoteKey(), 101.0);
  EXPECT_EQ(NextNoteKey(), 102.0);
  set("Last", 0);  // 0 counts as missing: start again from Base
  EXPECT_EQ(NextNoteKey(), 101.0);
  set("Last", 0x7FFFFFFF);
  EXPECT_EQ(NextNoteKey(), -2147483648.0);  // the value "Last" holds now, as a note ID reads it
  EXPECT_EQ(get("Last"), 0x80000000u);
  EXPECT_EQ(NextNoteKey(), -2147483647.0);
  set("Last", 0xFFFFFFFF);
  EXPECT_EQ(NextNoteKey(), 1.0);  // never 0
  EXPECT_EQ(get("Last"), 1u);
}

TEST_F(NoteKeyTest, AFailedWriteStillGivesAKey) {
  set("Last", 5);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallationKey, 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  // A text where a number belongs reads as its leading number.
  ASSERT_EQ(WriteRegValue(key, kLastValue, REG_SZ, std::string("17 apples")), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(NextNoteKey(), 18.0);
}

class NoteKeyRealTimeTest : public NoteKeyTest {
 protected:
  NoteKeyRealTimeTest() : NoteKeyTest(sx::testing::TempMachine::Clock::kReal) {}
};

TEST_F(NoteKeyRealTimeTest, DrawsAtOnceFromThreadsAndProcessesNeverRepeatAKey) {
  set("Last", 1000);
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  constexpr int kEach = 40;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipe_fds[0]);
    for (int i = 0; i < kEach; ++i) {
      const double key = NextNoteKey();
      if (write(pipe_fds[1], &key, sizeof key) != sizeof key) _exit(2);
    }
    _exit(0);
  }
  close(pipe_fds[1]);
  std::vector<std::vector<double>> drawn(3);
  std::vector<std::thread> threads;
  for (auto& keys : drawn) {
    threads.emplace_back([&keys] {
      for (int i = 0; i < kEach; ++i) keys.push_back(NextNoteKey());
    });
  }
  for (auto& t : threads) t.join();
  std::vector<double> all;
  double key = 0;
  while (read(pipe_fds[0], &key, sizeof key) == sizeof key) all.push_back(key);
  close(pipe_fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (const auto& keys : drawn) all.insert(all.end(), keys.begin(), keys.end());
  ASSERT_EQ(all.size(), 4u * kEach);
  EXPECT_EQ(std::set<double>(all.begin(), all.end()).size(), all.size());
  EXPECT_EQ(get("Last"), 1000u + 4 * kEach);
}

TEST_F(NoteKeyTest, RegistryHelpersReadAndWriteAsBefore) {
  EXPECT_FALSE(SetKeyValue(HKEY_LOCAL_MACHINE, "\\", "x", std::string("y"), REG_SZ));
  EXPECT_FALSE(SetKeyValue(HKEY_LOCAL_MACHINE, "", "x", std::string("y"), REG_SZ));
  ASSERT_TRUE(
      SetKeyValue(HKEY_LOCAL_MACHINE, "\\Software\\Test", "Text", std::string("abc"), REG_SZ));
  ASSERT_TRUE(SetKeyValue(HKEY_LOCAL_MACHINE, "Software\\Test", "Number", -3L, REG_DWORD));
  ASSERT_TRUE(SetKeyValue(HKEY_LOCAL_MACHINE, "Software\\Test", "Other", 1L, 3));  // nothing
  EXPECT_EQ(GetKeyValue(HKEY_LOCAL_MACHINE, "Software\\Test", "Text"), "abc");
  EXPECT_EQ(GetKeyValue(HKEY_LOCAL_MACHINE, "Software\\Test", "Number"), "-3");
  EXPECT_EQ(GetKeyValue(HKEY_LOCAL_MACHINE, "Software\\Test", "Other"), "");
  EXPECT_EQ(GetKeyValue(HKEY_LOCAL_MACHINE, "Software\\Missing", "Text"), "");

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  const BYTE binary[] = {1, 2};
  ASSERT_EQ(RegSetValueExA(key, "Binary", 0, REG_BINARY, binary, sizeof binary), ERROR_SUCCESS);
  RegValue value = std::string("sentinel");
  EXPECT_EQ(ReadRegValue(key, "Binary", &value), -1);
  EXPECT_EQ(std::get<std::string>(value), "sentinel");
  EXPECT_EQ(ReadRegValue(key, "Number", &value), ERROR_SUCCESS);
  EXPECT_EQ(std::get<long>(value), -3);
  EXPECT_EQ(ReadRegValue(key, "Missing", &value), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
  EXPECT_EQ(leading_number("99999999999"), 2147483647);
  EXPECT_EQ(leading_number("-99999999999"), -2147483647 - 1);
  EXPECT_EQ(leading_number("x1"), 0);
}

}  // namespace
}  // namespace sx::common
