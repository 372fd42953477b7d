#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../inheritance.h"
#include "io.h"
#include "sx/testing/temp_machine.h"
#include "windows.h"

namespace {

namespace fs = std::filesystem;

// The test child program, copied onto the machine's drive C: as a Windows program would be.
constexpr const char* kChild = "C:\\Tools\\child.exe";

class ProcessTest : public ::testing::Test {
 protected:
  explicit ProcessTest(
      sx::testing::TempMachine::Clock clock = sx::testing::TempMachine::Clock::kVirtual)
      : machine_(clock) {
    fs::create_directories(machine_.c("Tools"));
    fs::copy_file(SX_TEST_CHILD, machine_.c("Tools\\child.exe"));
  }

  // Starts the child with `arguments`; returns its process information (handles to be closed).
  PROCESS_INFORMATION start(const std::string& arguments) {
    std::string line = std::string("\"") + kChild + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    EXPECT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                               nullptr, nullptr, &startup, &info))
        << GetLastError();
    return info;
  }

  static DWORD finish(PROCESS_INFORMATION info) {
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0xdeadbeef;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
  }

  sx::testing::TempMachine machine_;
};

TEST_F(ProcessTest, ExitCodeComesBackThroughTheProcessHandle) {
  PROCESS_INFORMATION info = start("exit 7");
  EXPECT_NE(info.dwProcessId, 0u);
  EXPECT_EQ(finish(info), 7u);
}

TEST_F(ProcessTest, ExitCodeMinusOneIsReadAsAll32BitsSet) {
  EXPECT_EQ(finish(start("exit -1")), 0xFFFFFFFFu);
  EXPECT_EQ(finish(start("exit 255")), 255u);  // the same 8 bits for the host, told apart here
  EXPECT_EQ(finish(start("exit 256")), 256u);
  EXPECT_EQ(finish(start("exitprocess 4294967295")), 0xFFFFFFFFu);
  EXPECT_EQ(finish(start("exitprocess 3")), 3u);
  EXPECT_TRUE(fs::is_empty(machine_.root() / "processes"));  // the exit code files are gone
}

TEST_F(ProcessTest, ChildReadsTheCommandLineItWasStartedWithInTheWindowsForm) {
  const std::string arguments = R"(cmdline C:\cmd.txt "two words" /Install)";
  EXPECT_EQ(finish(start(arguments)), 0u);
  std::ifstream in(machine_.c("cmd.txt"));
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), std::string("\"") + kChild + "\" " + arguments);
}

TEST(CommandLine, ProgramNotStartedByCreateProcessHasItsPathQuotedFirst) {
  const std::string line = GetCommandLineA();
  ASSERT_GE(line.size(), 2u);
  EXPECT_EQ(line[0], '"');
  const std::size_t close = line.find('"', 1);
  ASSERT_NE(close, std::string::npos);
  EXPECT_NE(line.substr(1, close - 1).find("process_tests"), std::string::npos) << line;
  EXPECT_EQ(GetCommandLineA(), GetCommandLineA());  // one text for the life of the process
}

TEST(CommandLine, ArgumentsAreQuotedSoThatWindowsReadsThemBack) {
  using sx::process::quote_argument;
  EXPECT_EQ(quote_argument("plain"), "plain");
  EXPECT_EQ(quote_argument(R"(c:\dir\)"), R"(c:\dir\)");  // no quotes: backslashes stay
  EXPECT_EQ(quote_argument(""), R"("")");
  EXPECT_EQ(quote_argument("two words"), R"("two words")");
  EXPECT_EQ(quote_argument(R"(a"b)"), R"("a\"b")");
  EXPECT_EQ(quote_argument(R"(c:\my dir\)"), R"("c:\my dir\\")");
  EXPECT_EQ(quote_argument(R"(x\"y z)"), R"("x\\\"y z")");
}

TEST(ExitCodeFile, TheFullCodeCountsOnlyWhenItMatchesTheStatusTheHostSaw) {
  using sx::process::exit_code_from_text;
  EXPECT_EQ(exit_code_from_text("-1\n", 255), 0xFFFFFFFFu);
  EXPECT_EQ(exit_code_from_text("4101\n", 4101 & 0xFF), 4101u);
  EXPECT_EQ(exit_code_from_text("4294967295", 255), 0xFFFFFFFFu);
  // Another process's file, a damaged one or one cut short: the 8-bit status stands.
  for (const char* text : {"4101\n", "", "\n", " 4101", "+4101", "41o1", "4294967296",
                           "-2147483649", "99999999999999999999"}) {
    EXPECT_EQ(exit_code_from_text(text, 7), 7u) << text;
  }
}

TEST_F(ProcessTest, CommandLineIsSplitTheWindowsWay) {
  EXPECT_EQ(finish(start(R"(args C:\out.txt "two words" a\"b c:\dir\ "e\\")")), 0u);
  std::ifstream in(machine_.c("out.txt"));
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "two words\na\"b\nc:\\dir\\\ne\\\n");
}

TEST_F(ProcessTest, ProgramsThatCannotStartFailWithTheirCode) {
  STARTUPINFOA startup{};
  PROCESS_INFORMATION info{};
  std::string missing = "C:\\Tools\\missing.exe";
  EXPECT_FALSE(CreateProcessA(nullptr, missing.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  std::ofstream(machine_.c("Tools\\plain.txt")) << "not a program";
  std::string plain = "C:\\Tools\\plain.txt";
  EXPECT_FALSE(CreateProcessA(nullptr, plain.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));

  std::string child = kChild;
  EXPECT_FALSE(CreateProcessA(nullptr, child.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                              nullptr, nullptr, &startup, &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

// The child's window comes up in real time, so these run on the real clock.
class WindowedProcessTest : public ProcessTest {
 protected:
  WindowedProcessTest() : ProcessTest(sx::testing::TempMachine::Clock::kReal) {}
};

TEST_F(WindowedProcessTest, WaitForInputIdleReturnsOnceTheChildShowsAWindow) {
  PROCESS_INFORMATION info = start("window SxTestChild");
  ASSERT_EQ(WaitForInputIdle(info.hProcess, 10000), 0u);
  HWND child = FindWindowA("SxTestChild", nullptr);
  ASSERT_NE(child, nullptr);
  EXPECT_TRUE(PostMessageA(child, WM_CLOSE, 0, 0));
  EXPECT_EQ(finish(info), 0u);
}

TEST_F(WindowedProcessTest, RenameOfAFileHeldOpenByAnotherProgramFailsWithEaccesUntilItEnds) {
  fs::create_directories(machine_.c("Vorlan"));
  std::ofstream(machine_.c("Vorlan\\Anne Vorlan.pst")) << "notes";
  PROCESS_INFORMATION info = start(R"(hold "C:\Vorlan\Anne Vorlan.pst" SxTestOutlook)");
  ASSERT_EQ(WaitForInputIdle(info.hProcess, 10000), 0u);

  errno = 0;
  EXPECT_EQ(rename("C:\\Vorlan\\Anne Vorlan.pst", "C:\\Vorlan\\Anne Vorlan.pst.1"), -1);
  EXPECT_EQ(errno, EACCES);

  EXPECT_TRUE(PostMessageA(FindWindowA("SxTestOutlook", nullptr), WM_CLOSE, 0, 0));
  EXPECT_EQ(finish(info), 0u);
  EXPECT_EQ(rename("C:\\Vorlan\\Anne Vorlan.pst", "C:\\Vorlan\\Anne Vorlan.pst.1"), 0);
}

TEST_F(WindowedProcessTest, TerminateProcessEndsItWithTheGivenCode) {
  PROCESS_INFORMATION info = start("window SxTestVictim");
  ASSERT_EQ(WaitForInputIdle(info.hProcess, 10000), 0u);
  EXPECT_TRUE(TerminateProcess(info.hProcess, 9));
  EXPECT_EQ(finish(info), 9u);
}

TEST_F(WindowedProcessTest, WaitForInputIdleFailsForAProcessThatEndedWithoutAWindow) {
  PROCESS_INFORMATION info = start("exit 0");
  EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForInputIdle(info.hProcess, 1000), WAIT_FAILED);
  finish(info);
}

}  // namespace
