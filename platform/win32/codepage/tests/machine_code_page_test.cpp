#include <gtest/gtest.h>

#include <string>

#include "sx/testing/temp_machine.h"
#include "win32/codepage.h"
#include "win32/registry.h"

namespace {

void set_machine_code_page(const char* value) {
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", &key),
      ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "ACP", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                           static_cast<DWORD>(std::string(value).size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST(MachineCodePage, IsWindows1252WhenTheMachineSaysNothing) {
  sx::testing::TempMachine machine;
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_EQ(sx::codepage::ansi_to_utf8("\x80"), "\xE2\x82\xAC");
}

TEST(MachineCodePage, FollowsTheMachineRegistry) {
  sx::testing::TempMachine machine;
  set_machine_code_page("65001");
  EXPECT_EQ(GetACP(), 65001u);
  EXPECT_EQ(sx::codepage::ansi_to_wide("\xE2\x82\xAC"), u"\u20AC");
}

TEST(MachineCodePage, UnknownPageFallsBackToWindows1252) {
  sx::testing::TempMachine machine;
  set_machine_code_page("1251");
  EXPECT_EQ(GetACP(), 1252u);
}

}  // namespace
