// FindWindowA and WM_CLOSE across the stand-in processes of one machine.
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <fstream>

#include "window_fixture.h"

namespace window_test {
namespace {

namespace fs = std::filesystem;

class MachineWindowsTest : public WindowTest {
 protected:
  fs::path windows_dir() const { return machine_.root() / "windows"; }
  std::size_t entries() const {
    std::size_t n = 0;
    std::error_code ec;
    for (fs::directory_iterator it(windows_dir(), ec), end; !ec && it != end; it.increment(ec)) {
      n += it->path().extension() == ".win";
    }
    return n;
  }
};

TEST_F(MachineWindowsTest, TopLevelWindowsAreListedUnderTheMachineRootUntilDestroyed) {
  HWND dialog = CreateDialogA(kModule, MAKEINTRESOURCEA(kProgressDialog), nullptr, nullptr);
  EXPECT_EQ(entries(), 1u);  // the dialog, not its six controls
  DestroyWindow(dialog);
  EXPECT_EQ(entries(), 0u);
}

TEST_F(MachineWindowsTest, EntriesOfEndedProcessesAndDamagedEntriesAreIgnored) {
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  fs::create_directories(windows_dir());
  char name[32];
  std::snprintf(name, sizeof name, "%016llx.win",
                static_cast<unsigned long long>(static_cast<std::uint64_t>(dead) << 32 | 0x40));
  std::ofstream(windows_dir() / name) << "pid " << dead << "\nclass #32770\ntitle Choose Profile\n";
  std::ofstream(windows_dir() / "0000000100000040.win") << "pid x\nclass";
  std::ofstream(windows_dir() / "garbage.win") << std::string(10000, 'p');

  EXPECT_EQ(FindWindowA(nullptr, "Choose Profile"), nullptr);
  EXPECT_FALSE(fs::exists(windows_dir() / name));  // cleaned away
}

// A second stand-in process shows "Choose Profile" and runs its message loop; this process finds
// the window and closes it with WM_CLOSE through the machine.
TEST_F(MachineWindowsTest, WindowOfAnotherProcessIsFoundAndClosedByPostedClose) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ready[0]);
    sx::clock::use_real();
    auto proc = [](HWND hwnd, UINT msg, WPARAM wparam, LPARAM) -> INT_PTR {
      if (msg == WM_COMMAND && LOWORD(wparam) == IDCANCEL) {
        DestroyWindow(hwnd);
        PostQuitMessage(IDCANCEL);
      }
      return msg == WM_COMMAND;
    };
    HWND w = CreateDialogA(kModule, MAKEINTRESOURCEA(kChooseProfileDialog), nullptr, proc);
    const char byte = w != nullptr ? 1 : 0;
    if (::write(ready[1], &byte, 1) != 1) ::_exit(10);
    MSG msg;
    alarm(20);  // never hang the test run
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    ::_exit(msg.message == WM_QUIT && msg.wParam == IDCANCEL ? 0 : 11);
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(byte, 1);

  HWND found = FindWindowA("OUTLOOK.APPLICATION", "Choose Profile");
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(IsWindow(found));
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(PostMessageA(found, WM_SETTEXT, 0, 0));  // carries a pointer: cannot cross
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_TRUE(PostMessageA(found, WM_CLOSE, 0, 0));

  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(FindWindowA("OUTLOOK.APPLICATION", "Choose Profile"), nullptr);
  EXPECT_FALSE(IsWindow(found));
}

TEST_F(MachineWindowsTest, SendMessageToAnotherProcessReturnsItsWindowProcedureAnswer) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ready[0]);
    sx::clock::use_real();
    WNDCLASSA wc{};
    wc.lpszClassName = "AnswerClass";
    wc.lpfnWndProc = [](HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) -> LRESULT {
      if (msg == WM_APP + 5) {
        if (wparam == 2) PostQuitMessage(0);
        return 0x1000 + static_cast<LRESULT>(wparam) + lparam;
      }
      return DefWindowProcA(hwnd, msg, wparam, lparam);
    };
    RegisterClassA(&wc);
    HWND w = CreateWindowExA(0, "AnswerClass", "Answers", 0, 0, 0, 10, 10, nullptr, nullptr,
                             nullptr, nullptr);
    const char byte = w != nullptr ? 1 : 0;
    if (::write(ready[1], &byte, 1) != 1) ::_exit(10);
    MSG msg;
    alarm(20);
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    ::_exit(0);
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(byte, 1);

  HWND found = FindWindowA("AnswerClass", nullptr);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(SendMessageA(found, WM_APP + 5, 1, 0x20), 0x1021);
  EXPECT_EQ(SendMessageA(found, WM_APP + 5, 2, 0), 0x1002);
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(SendMessageA(found, WM_APP + 5, 1, 0), 0);  // gone: nobody answers
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

}  // namespace
}  // namespace window_test
