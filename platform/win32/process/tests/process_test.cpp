#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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
