#include "resident.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "sx/cli/program.h"
#include "sx/hotsync.h"
#include "sx/machine.h"
#include "windows.h"

namespace sx::hotsync {
namespace {

// Signals that close the program; SIGUSR1 only wakes the waiting thread when the program ends.
constexpr int kCloseSignals[] = {SIGINT, SIGTERM, SIGHUP};

LRESULT CALLBACK resident_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kRestartMessage) {
    if (wparam != 1) return 0;
    // Answer first; the window goes once the answer is on its way.
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    return 1;
  }
  if (msg == WM_CLOSE) {
    DestroyWindow(hwnd);
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

// Holds the machine's "only one HotSync Manager" lock.
class InstanceLock {
 public:
  InstanceLock() {
    const std::filesystem::path dir = sx::machine::root() / "windows";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const std::filesystem::path file = dir / (std::string(kWindowClass) + ".lock");
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      throw sx::cli::Failure("Cannot open " + file.string() + ": " + std::strerror(errno) + ".");
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd_);
      throw sx::cli::Failure(
          "HotSync Manager is running on this machine already; \"hotsync --close\" closes it.");
    }
  }
  ~InstanceLock() { ::close(fd_); }
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

 private:
  int fd_ = -1;
};

// Turns Ctrl+C, SIGTERM and SIGHUP into WM_CLOSE for the window, from a thread of its own (a signal
// handler may not post messages). The signals are blocked in every other thread.
class CloseOnSignals {
 public:
  // Blocks the signals in this thread and in the threads it starts from now on.
  CloseOnSignals() {
    sigemptyset(&set_);
    for (int s : kCloseSignals) sigaddset(&set_, s);
    sigaddset(&set_, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
  }
  void start(HWND window) {
    thread_ = std::thread([this, window] {
      int signal = 0;
      while (sigwait(&set_, &signal) == 0 && signal != SIGUSR1) {
        PostMessageA(window, WM_CLOSE, 0, 0);
      }
    });
  }
  ~CloseOnSignals() {
    if (!thread_.joinable()) return;
    pthread_kill(thread_.native_handle(), SIGUSR1);
    thread_.join();
  }
  CloseOnSignals(const CloseOnSignals&) = delete;
  CloseOnSignals& operator=(const CloseOnSignals&) = delete;

 private:
  sigset_t set_;
  std::thread thread_;
};

}  // namespace

int run_resident() {
  CloseOnSignals signals;  // before any thread starts, so that none of them takes the signals
  InstanceLock only_one;
  WNDCLASSA wc{};
  wc.lpfnWndProc = resident_proc;
  wc.lpszClassName = kWindowClass;
  if (RegisterClassA(&wc) == 0) throw sx::cli::Failure("Cannot register the window class.");
  HWND window = CreateWindowExA(0, kWindowClass, "HotSync Manager", 0, 0, 0, 100, 100, nullptr,
                                nullptr, nullptr, nullptr);
  if (window == nullptr) throw sx::cli::Failure("Cannot make HotSync Manager's window.");
  signals.start(window);
  std::printf("HotSync Manager is running (window class \"%s\").\n", kWindowClass);
  std::fflush(stdout);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  if (IsWindow(window)) DestroyWindow(window);
  std::printf("HotSync Manager closed.\n");
  return 0;
}

int close_resident() {
  HWND window = FindWindowA(kWindowClass, nullptr);
  if (window == nullptr) {
    std::printf("HotSync Manager is not running.\n");
    return 0;
  }
  if (!PostMessageA(window, WM_CLOSE, 0, 0))
    throw sx::cli::Failure("Cannot reach HotSync Manager's window.");
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (FindWindowA(kWindowClass, nullptr) != nullptr) {
    if (std::chrono::steady_clock::now() > give_up)
      throw sx::cli::Failure("HotSync Manager did not close within 10 seconds.");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::printf("HotSync Manager closed.\n");
  return 0;
}

}  // namespace sx::hotsync
