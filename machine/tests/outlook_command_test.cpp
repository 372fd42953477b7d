// The machine tool's Outlook and COM commands, each call its own process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "comdef.h"
#include "outlook/outlook.h"
#include "registry_test_util.h"
#include "sx/outlook/addins.h"
#include "sx/outlook/outlook_process.h"
#include "sx/testing/temp_machine.h"
#include "win32/module.h"
#include "win32/sync.h"
#include "win32/window.h"

namespace sx::registry::testing {
namespace {

class OutlookCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(run_tool({"create", "--replace"}).exit_code, 0); }
  sx::testing::TempMachine machine_;
};

std::string file_version(const std::string& path) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  if (size == 0) return "(none)";
  std::string block(size, '\0');
  void* value = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data()) ||
      !VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\FileVersion", &value, &length))
    return "(unreadable)";
  return static_cast<const char*>(value);
}

TEST_F(OutlookCommandTest, InstallSetsTheVersionsOfOutlookAndItsLibraryFiles) {
  ToolResult r = run_tool(
      {"outlook", "install", "--outlrpc-version", "9.0.2416", "--editor-preferences", "0x20003"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const std::string dir = "C:\\Program Files\\Microsoft Office\\Office\\";
  EXPECT_EQ(file_version(dir + "OUTLOOK.EXE"), "9.0.0.3821");
  EXPECT_EQ(file_version(dir + "outlrpc.dll"), "9.0.2416");
  EXPECT_EQ(file_version(dir + "1033\\outllibr.dll"), "9.0.3821");
  EXPECT_EQ(run_tool({"outlook", "install", "--editor-preferences", "many"}).exit_code, 1);
}

// The "one Outlook process" setting: OUTLOOK.EXE becomes a program of the machine and back, its
// version kept; a person's Outlook then runs in Outlook's own process and ends with "quit".
TEST_F(OutlookCommandTest, ProcessMakesOutlookExeAProgramOfTheMachineAndBack) {
  ASSERT_EQ(run_tool({"outlook", "install"}).exit_code, 0);
  const std::string exe = "C:\\Program Files\\Microsoft Office\\Office\\OUTLOOK.EXE";
  const std::filesystem::path host =
      machine_.c("Program Files\\Microsoft Office\\Office\\OUTLOOK.EXE");
  EXPECT_EQ(::access(host.c_str(), X_OK), -1);
  ToolResult on = run_tool({"outlook", "process", "on"});
  ASSERT_EQ(on.exit_code, 0) << on.output;
  EXPECT_EQ(::access(host.c_str(), X_OK), 0);
  EXPECT_EQ(file_version(exe), "9.0.0.3821");

  ToolResult r =
      run_program(SXMACHINE_PATH, {"--machine", machine_.root().string(), "outlook", "run"},
                  "printf 'quit\\n' |");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("- Microsoft Outlook =="), std::string::npos) << r.output;
  EXPECT_EQ(run_tool({"outlook", "close"}).output, "No Outlook is running.\n");

  ASSERT_EQ(run_tool({"outlook", "process", "off"}).exit_code, 0);
  EXPECT_EQ(::access(host.c_str(), X_OK), -1);
  EXPECT_EQ(file_version(exe), "9.0.0.3821");
  EXPECT_EQ(run_tool({"outlook", "process", "maybe"}).exit_code, 1);
}

// A person's Outlook from the machine tool: the screen, a command, and Outlook gone at "quit".
TEST_F(OutlookCommandTest, RunShowsOutlookToAPersonAndEndsItAtQuit) {
  ASSERT_EQ(run_tool({"outlook", "install"}).exit_code, 0);
  ToolResult r =
      run_program(SXMACHINE_PATH, {"--machine", machine_.root().string(), "outlook", "run"},
                  "printf 'folder 99\\nquit\\n' |");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("- Microsoft Outlook =="), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Outlook has ended."), std::string::npos) << r.output;
  EXPECT_EQ(run_tool({"outlook", "close"}).output, "No Outlook is running.\n");
  // Without Outlook installed there is nothing to start: said in words, exit code 1.
  ASSERT_EQ(run_tool({"create", "--replace"}).exit_code, 0);
  ToolResult bare =
      run_program(SXMACHINE_PATH, {"--machine", machine_.root().string(), "outlook", "run"},
                  "printf 'quit\\n' |");
  EXPECT_EQ(bare.exit_code, 1) << bare.output;
  EXPECT_EQ(bare.output.rfind("ERROR: ", 0), 0u) << bare.output;
}

TEST_F(OutlookCommandTest, RegisteredAddInsAreListedWithTheirLoadBehavior) {
  EXPECT_EQ(run_tool({"outlook", "addins"}).output,
            "No COM add-ins are registered with Outlook.\n");
  // What regsvr32 does with the add-ins' library: their own registration writes the entries.
  ToolResult registered = run_tool({"com", "register", SX_TEST_ADDINS_PATH});
  ASSERT_EQ(registered.exit_code, 0) << registered.output;
  ASSERT_TRUE(sx::outlook::addins::set_load_behavior("SxTest.AddInB", 8));
  ToolResult listed = run_tool({"outlook", "addins"});
  EXPECT_EQ(listed.exit_code, 0);
  EXPECT_EQ(listed.output,
            "SxTest.AddInA\n"
            "    LoadBehavior  3 (loads when Outlook starts)\n"
            "    FriendlyName  SxTest.AddInA\n"
            "    Description   Sample SxTest.AddInA\n"
            "SxTest.AddInB\n"
            "    LoadBehavior  8 (held back: loads on demand only)\n"
            "    FriendlyName  SxTest.AddInB\n"
            "    Description   Sample SxTest.AddInB\n"
            "SxTest.Failing\n"
            "    LoadBehavior  2 (switched off)\n"
            "    FriendlyName  SxTest.Failing\n"
            "    Description   Sample SxTest.Failing\n");
  ToolResult missing = run_tool({"com", "register", "C:\\Program Files\\Nothing.dll"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(
      missing.output.find("ERROR: DllRegisterServer of C:\\Program Files\\Nothing.dll failed"),
      std::string::npos)
      << missing.output;
}

TEST_F(OutlookCommandTest, PromptSettingIsWrittenForOutlookToRead) {
  EXPECT_FALSE(sx::outlook::prompts_for_profile());
  EXPECT_EQ(run_tool({"outlook", "prompt", "on"}).exit_code, 0);
  EXPECT_TRUE(sx::outlook::prompts_for_profile());
  EXPECT_EQ(run_tool({"outlook", "prompt", "off"}).exit_code, 0);
  EXPECT_FALSE(sx::outlook::prompts_for_profile());
  EXPECT_EQ(run_tool({"outlook", "prompt", "maybe"}).exit_code, 1);
}

// Another process closes this process's Outlook through its main window. Mail between processes
// is read in real time, so this test runs on the real clock.
TEST(OutlookCloseCommand, AnotherProcessClosesARunningOutlook) {
  sx::testing::TempMachine machine(sx::testing::TempMachine::Clock::kReal);
  ASSERT_EQ(run_tool({"create", "--replace"}).exit_code, 0);
  ASSERT_EQ(run_tool({"outlook", "install"}).exit_code, 0);
  EXPECT_EQ(run_tool({"outlook", "close"}).output, "No Outlook is running.\n");
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  sx::com::ComPtr<_Application> app;
  ASSERT_EQ(CoCreateInstance(CLSID_OutlookApplication, nullptr, CLSCTX_LOCAL_SERVER,
                             IID_PPV_ARGS(app.ReleaseAndGetAddressOf())),
            S_OK);
  ASSERT_NE(FindWindowA(sx::outlook::kMainWindowClass, nullptr), nullptr);
  ToolResult closed = run_tool({"outlook", "close"});
  EXPECT_EQ(closed.exit_code, 0);
  EXPECT_EQ(closed.output, "Asked 1 Outlook to close.\n");
  EXPECT_EQ(FindWindowA(sx::outlook::kMainWindowClass, nullptr), nullptr);
  sx::com::Bstr name;
  EXPECT_EQ(app->get_Name(name.put()), RPC_E_DISCONNECTED);
  app = nullptr;
  CoUninitialize();
}

}  // namespace
}  // namespace sx::registry::testing
