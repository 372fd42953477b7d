// Two processes on one machine: the other process is the machine tool (sxmachine reg ...).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "registry_test_util.h"
#include "sx/testing/temp_machine.h"

namespace sx::registry::testing {
namespace {

class RegistryProcessTest : public ::testing::Test {
 protected:
  sx::testing::TempMachine machine_;
};

TEST_F(RegistryProcessTest, ValueAddedByAnotherProcessIsSeenThroughAnOpenHandle) {
  HKEY key = create_key(HKEY_LOCAL_MACHINE, "Software\\Vorlan Software\\Scribbix");
  ASSERT_EQ(set_dword(key, "Last", 1), ERROR_SUCCESS);
  EXPECT_EQ(query(key, "Path"), "<error 2>");

  ToolResult added = run_tool({"reg", "add", "HKLM\\Software\\Vorlan Software\\Scribbix", "/v",
                               "Path", "/d", "C:\\Sx M\xC3\xBCller", "/f"});  // UTF-8 u umlaut
  ASSERT_EQ(added.exit_code, 0) << added.output;
  ToolResult counted = run_tool({"reg", "add", "HKLM\\Software\\Vorlan Software\\Scribbix", "/v",
                                 "Last", "/t", "REG_DWORD", "/d", "2", "/f"});
  ASSERT_EQ(counted.exit_code, 0) << counted.output;

  EXPECT_EQ(query(key, "Path"), std::string("C:\\Sx M\xFCller\0", 13));  // Windows-1252 inside
  EXPECT_EQ(query(key, "Last"), std::string("\x02\0\0\0", 4));
  RegCloseKey(key);
}

TEST_F(RegistryProcessTest, ValueWrittenHereIsSeenByAnotherProcess) {
  HKEY key = create_key(HKEY_CURRENT_USER, "Software\\Vorlan Software\\Scribbix\\Profiles");
  ASSERT_EQ(set_sz(key, "Palm User", "Outlook"), ERROR_SUCCESS);
  ASSERT_EQ(set_dword(key, "ShowProgress", 0xFFFFFFFF), ERROR_SUCCESS);
  RegCloseKey(key);
  ToolResult result =
      run_tool({"reg", "query", "HKCU\\Software\\Vorlan Software\\Scribbix\\Profiles"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output,
            "\n"
            "HKEY_CURRENT_USER\\Software\\Vorlan Software\\Scribbix\\Profiles\n"
            "    Palm User    REG_SZ    Outlook\n"
            "    ShowProgress    REG_DWORD    0xffffffff\n"
            "\n");
}

TEST_F(RegistryProcessTest, KeyDeletedByAnotherProcessGivesKeyDeletedOnAnOpenHandle) {
  HKEY key = create_key(HKEY_CURRENT_USER, "Gone\\Soon");
  ASSERT_EQ(set_dword(key, "v", 1), ERROR_SUCCESS);
  ToolResult result = run_tool({"reg", "delete", "HKCU\\Gone", "/f"});
  ASSERT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(query(key, "v"), "<error 1018>");
  EXPECT_EQ(query_path(HKEY_CURRENT_USER, "Gone", "v"), "<error 2>");
  RegCloseKey(key);
}

TEST_F(RegistryProcessTest, WritesFromTwoProcessesAtOnceLoseNothing) {
  constexpr int kEach = 15;
  std::string script;
  for (int i = 0; i < kEach; ++i) {
    script += std::string("'") + SXMACHINE_PATH + "' reg add HKLM\\\\Race /v Child" +
              std::to_string(i) + " /t REG_DWORD /d " + std::to_string(i) +
              " /f >/dev/null || exit 1\n";
  }
  std::atomic<bool> child_done{false};
  std::thread child([&] {
    EXPECT_EQ(std::system(script.c_str()), 0);
    child_done = true;
  });
  int parent_writes = 0;  // keep writing for as long as the child does
  while (!child_done || parent_writes < kEach) {
    HKEY key = create_key(HKEY_LOCAL_MACHINE, "Race");
    EXPECT_EQ(set_dword(key, ("Parent" + std::to_string(parent_writes)).c_str(), 1), ERROR_SUCCESS);
    RegCloseKey(key);
    ++parent_writes;
  }
  child.join();
  drop_registry_cache();
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Race", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, static_cast<DWORD>(kEach + parent_writes));
  RegCloseKey(key);
}

}  // namespace
}  // namespace sx::registry::testing
