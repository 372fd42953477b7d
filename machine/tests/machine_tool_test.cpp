// The machine tool as a person uses it: each call is its own process.
#include <gtest/gtest.h>

#include <fstream>

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

TEST_F(MachineToolTest, CreateOnAMachineSaysSoAndReplaceStartsAfresh) {
  ASSERT_EQ(run_tool({"reg", "add", "HKCU\\Software\\Kept", "/f"}).exit_code, 0);
  std::ofstream(machine_.root() / "notes.txt") << "mine";
  ToolResult again = run_tool({"create"});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.output.find("There is a machine at " + machine_.root().string() + " already"),
            std::string::npos)
      << again.output;
  EXPECT_NE(read_file(machine_.root() / "registry.reg").find("Kept"), std::string::npos);

  ToolResult replaced = run_tool({"create", "--replace"});
  ASSERT_EQ(replaced.exit_code, 0) << replaced.output;
  EXPECT_EQ(read_file(machine_.root() / "registry.reg"), "REGEDIT4\n\n");
  EXPECT_EQ(read_file(machine_.root() / "notes.txt"), "mine");  // not part of the machine
  EXPECT_EQ(run_tool({"reg", "query", "HKCU\\Software\\Kept"}).exit_code, 1);
}

TEST_F(MachineToolTest, EveryProgramButCreateRefusesAFolderWithoutAMachine) {
  const auto nowhere = machine_.root() / "no machine";
  const std::string hint = "Make one with: sxmachine --machine '" + nowhere.string() + "' create";
  for (const auto& [program, args] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {SXMACHINE_PATH, {"reg", "query", "HKCU"}},
           {SXMACHINE_PATH, {"hotsync", "users"}},
           {SXMACHINE_PATH, {"conduit", "uninstall"}},
           {SXMACHINE_PATH, {"outlook", "install"}},
           {HOTSYNC_PATH, {"--list"}},
           {HOTSYNC_PATH, {}},
           {SXFOLDERS_PATH, {"profiles"}}}) {
    std::vector<std::string> line = {"--machine", nowhere.string()};
    line.insert(line.end(), args.begin(), args.end());
    ToolResult r = run_program(program, line);
    EXPECT_EQ(r.exit_code, 1) << program;
    EXPECT_NE(r.output.find("ERROR: There is no machine at " + nowhere.string()), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find(hint), std::string::npos) << r.output;
  }
  EXPECT_FALSE(std::filesystem::exists(nowhere));
  ToolResult made = run_program(SXMACHINE_PATH, {"--machine", nowhere.string(), "create"});
  EXPECT_EQ(made.exit_code, 0) << made.output;
  EXPECT_EQ(run_program(SXMACHINE_PATH, {"--machine", nowhere.string(), "reg", "query", "HKCU"})
                .exit_code,
            0);
}

TEST_F(MachineToolTest, TheDefaultMachineNeedsAnAbsoluteDataDirectory) {
  const auto cwd = machine_.root() / "cwd";
  std::filesystem::create_directories(cwd);
  const std::string in_cwd = "cd " + shell_quoted(cwd.string()) + " && env -u SX_MACHINE ";
  struct Case {
    std::string environment, message;
  };
  for (const Case& c :
       {Case{"-u XDG_DATA_HOME HOME=relative", "HOME (\"relative\") is not an absolute"},
        Case{"-u XDG_DATA_HOME -u HOME", "neither XDG_DATA_HOME nor HOME is set"},
        Case{"XDG_DATA_HOME=data HOME=/", "XDG_DATA_HOME (\"data\") is not"}}) {
    for (const std::string& program : {std::string(SXMACHINE_PATH), std::string(SXFOLDERS_PATH)}) {
      ToolResult r = run_program(program, {program == SXMACHINE_PATH ? "create" : "profiles"},
                                 in_cwd + c.environment);
      EXPECT_EQ(r.exit_code, 1) << c.environment;
      EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
      EXPECT_NE(r.output.find("name the machine with --machine DIR or SX_MACHINE=DIR"),
                std::string::npos)
          << r.output;
    }
  }
  EXPECT_TRUE(std::filesystem::is_empty(cwd));  // nothing made under the current folder
  ToolResult absolute = run_program(SXMACHINE_PATH, {"create"},
                                    in_cwd + "-u XDG_DATA_HOME HOME=" + shell_quoted(cwd.string()));
  EXPECT_EQ(absolute.exit_code, 0) << absolute.output;
  EXPECT_TRUE(std::filesystem::exists(cwd / ".local/share/scribbix/machine/registry.reg"));
}

TEST_F(MachineToolTest, AddedValuesShowInAQueryFromAnotherProcess) {
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

TEST_F(MachineToolTest, RegistryLimitsAndMistakesAreToldInWords) {
  std::string deep = "HKCU\\Deep";
  for (int level = 2; level <= 513; ++level) deep += "\\k";
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {{"reg", "add", deep}, "ERROR: The specified path is invalid. A key name has 1 to 255"},
           {{"reg", "add", "HKCU\\" + std::string(256, 'k')}, "keys go at most 512 levels deep"},
           {{"reg", "add", "HKCU\\T", "/v", std::string(16384, 'v'), "/d", "x"},
            "ERROR: The parameter is incorrect. A value name has at most 16383 characters"},
           {{"reg", "add", "HKCU\\T", "/v"}, "ERROR: /v needs a value."},
           {{"reg", "add", "HKCU\\T", "/t", "REG_DWORD", "/d", "xyz"},
            "ERROR: /d \"xyz\" is not a REG_DWORD"},
           {{"reg", "query", "HKCU\\T", "/bogus"},
            "ERROR: \"/bogus\" is not an option of reg query."},
           {{"reg", "bogus"},
            "ERROR: \"bogus\" is not a command of sxmachine reg; its commands are query, add, "
            "delete."},
           {{"nonsense"}, "ERROR: \"nonsense\" is not a command of sxmachine"},
       }) {
    std::vector<std::string> line = {"--machine", machine_.root().string()};
    line.insert(line.end(), c.args.begin(), c.args.end());
    ToolResult r = run_program(SXMACHINE_PATH, line);
    EXPECT_EQ(r.exit_code, 1) << c.message;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("error 161"), std::string::npos) << r.output;
  }
  std::string ok = "HKCU\\Deep";
  for (int level = 2; level <= 512; ++level) ok += "\\k";
  EXPECT_EQ(run_tool({"reg", "add", ok}).exit_code, 0);
  ToolResult deleted = run_tool({"reg", "delete", "HKCU\\Deep", "/f"});
  EXPECT_EQ(deleted.exit_code, 0) << deleted.output;
  EXPECT_EQ(run_tool({"reg", "query", "HKCU\\Deep"}).exit_code, 1);
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
  ToolResult r = run_program(SXMACHINE_PATH, {"--machine"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("ERROR: --machine needs a value: the simulated machine's folder"),
            std::string::npos)
      << r.output;
  r = run_program(SXMACHINE_PATH, {"--machine", "", "reg", "query", "HKCU"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("ERROR: --machine needs a folder."), std::string::npos) << r.output;
}

}  // namespace
}  // namespace sx::registry::testing
