// The machine tool as a person uses it: each call is its own process.
#include <gtest/gtest.h>

#include "registry_test_util.h"
#include "sx/testing/temp_machine.h"

namespace sx::registry::testing {
namespace {

class MachineToolTest : public ::testing::Test {
 protected:
  sx::testing::TempMachine machine_;
};

TEST_F(MachineToolTest, CreateMakesAMachineWithAnEmptyRegistry) {
  const auto dir = machine_.root() / "fresh";
  ToolResult created = run_tool({"create", dir.string()});
  ASSERT_EQ(created.exit_code, 0) << created.output;
  EXPECT_NE(created.output.find(dir.string()), std::string::npos);
  EXPECT_EQ(read_file(dir / "registry.reg"), "REGEDIT4\n\n");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "drive_c"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "handhelds"));
}

TEST_F(MachineToolTest, AddedValuesShowInAQueryFromAnotherProcess) {
  ASSERT_EQ(run_tool({"create"}).exit_code, 0);
  const std::string key = "HKLM\\Software\\Vorlan Software\\Scribbix";
  ASSERT_EQ(
      run_tool({"reg", "add", key, "/v", "Path", "/d", "C:\\Program Files\\Scribbix"}).exit_code,
      0);
  ASSERT_EQ(
      run_tool({"reg", "add", key, "/v", "Base", "/t", "REG_DWORD", "/d", "0x7ff00000"}).exit_code,
      0);
  ASSERT_EQ(run_tool({"reg", "add", key, "/ve", "/d", "M\xC3\xBCller"}).exit_code, 0);
  ASSERT_EQ(run_tool({"reg", "add", key + "\\Sub"}).exit_code, 0);

  ToolResult all =
      run_tool({"reg", "query", "HKEY_LOCAL_MACHINE\\Software\\Vorlan Software\\Scribbix"});
  EXPECT_EQ(all.exit_code, 0);
  EXPECT_EQ(all.output,
            "\n"
            "HKEY_LOCAL_MACHINE\\Software\\Vorlan Software\\Scribbix\n"
            "    Path    REG_SZ    C:\\Program Files\\Scribbix\n"
            "    Base    REG_DWORD    0x7ff00000\n"
            "    (Default)    REG_SZ    M\xC3\xBCller\n"
            "\n"
            "HKEY_LOCAL_MACHINE\\Software\\Vorlan Software\\Scribbix\\Sub\n");
  ToolResult one = run_tool({"reg", "query", key, "/v", "Base"});
  EXPECT_EQ(one.output,
            "\nHKEY_LOCAL_MACHINE\\Software\\Vorlan Software\\Scribbix\n"
            "    Base    REG_DWORD    0x7ff00000\n\n");
  EXPECT_NE(read_file(machine_.root() / "registry.reg").find("@=\"M\xFCller\""), std::string::npos);
}

TEST_F(MachineToolTest, ExitCodesAndMessagesFollowRegExe) {
  const std::string key = "HKCU\\Software\\T";
  ToolResult r = run_tool({"reg", "query", key});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.output,
            "ERROR: The system was unable to find the specified registry key or value.\n");

  r = run_tool({"reg", "add", key, "/v", "N", "/t", "REG_DWORD", "/d", "1"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.output, "The operation completed successfully.\n");
  r = run_tool({"reg", "add", key, "/v", "N", "/t", "REG_DWORD", "/d", "2"});
  EXPECT_EQ(r.exit_code, 1);  // no prompt: refuses without /f
  EXPECT_NE(r.output.find("/f"), std::string::npos);
  EXPECT_EQ(query_path(HKEY_CURRENT_USER, "Software\\T", "N"), std::string("\x01\0\0\0", 4));
  EXPECT_EQ(run_tool({"reg", "add", key, "/v", "N", "/t", "REG_DWORD", "/d", "2", "/f"}).exit_code,
            0);
  EXPECT_EQ(query_path(HKEY_CURRENT_USER, "Software\\T", "N"), std::string("\x02\0\0\0", 4));

  EXPECT_EQ(
      run_tool({"reg", "add", key, "/v", "X", "/t", "REG_DWORD", "/d", "4294967296"}).exit_code, 1);
  EXPECT_EQ(run_tool({"reg", "add", key, "/v", "X", "/t", "REG_QWORD", "/d", "1"}).exit_code, 1);
  EXPECT_EQ(run_tool({"reg", "add", "HKXX\\Software"}).exit_code, 1);
  EXPECT_EQ(run_tool({"reg", "query", key, "/bogus"}).exit_code, 1);
  EXPECT_EQ(run_tool({"reg", "query", key, "/v", "Missing"}).exit_code, 1);
  EXPECT_EQ(run_tool({"nonsense"}).exit_code, 1);

  r = run_tool({"reg", "delete", key, "/v", "N"});
  EXPECT_EQ(r.exit_code, 1);  // no prompt: refuses without /f
  EXPECT_EQ(query_path(HKEY_CURRENT_USER, "Software\\T", "N"), std::string("\x02\0\0\0", 4));
  EXPECT_EQ(run_tool({"reg", "delete", key, "/v", "N", "/f"}).exit_code, 0);
  EXPECT_EQ(query_path(HKEY_CURRENT_USER, "Software\\T", "N"), "<error 2>");
  EXPECT_EQ(run_tool({"reg", "delete", key, "/v", "N", "/f"}).exit_code, 1);
  EXPECT_EQ(run_tool({"reg", "delete", "HKCU", "/f"}).exit_code, 1);
}

TEST_F(MachineToolTest, DeleteRemovesTheKeyWithItsSubkeys) {
  ASSERT_EQ(run_tool({"reg", "add", "HKCR\\Prog.Id\\CLSID", "/ve", "/d", "{x}"}).exit_code, 0);
  ASSERT_EQ(run_tool({"reg", "add", "HKCR\\Prog.Id\\Other\\Deeper"}).exit_code, 0);
  ASSERT_EQ(run_tool({"reg", "delete", "HKCR\\Prog.Id", "/f"}).exit_code, 0);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Prog.Id", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(MachineToolTest, HelpIsThereForEveryCommand) {
  for (auto args : {std::initializer_list<std::string>{"--help"},
                    {"create", "--help"},
                    {"reg", "--help"},
                    {"reg", "query", "/?"},
                    {"reg", "add", "--help"},
                    {"reg", "delete", "-h"}}) {
    ToolResult r = run_tool(args);
    EXPECT_EQ(r.exit_code, 0) << *args.begin();
    EXPECT_NE(r.output.find("Usage: sxmachine"), std::string::npos) << r.output;
  }
  ToolResult r = run_tool({"--machine"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("--machine needs a folder"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace sx::registry::testing
