// ProfilePromptWatcher: while a program starts Outlook (the conduit, the configuration program), a
// thread that cancels Outlook's "Choose Profile" window (class "OUTLOOK.APPLICATION") so that the
// program can log on to the profile it means. It looks 30 times, 100 ms apart (about three
// seconds), and looks again at once after each window it cancelled.
//
// start() and stop() may be called from any thread; the watcher's thread touches only top-level
// windows. The destructor waits for the thread.
#pragma once

#include "win32/sync.h"

namespace sx::common {

class ProfilePromptWatcher {
 public:
  static constexpr int kPolls = 30;

  ProfilePromptWatcher();
  ~ProfilePromptWatcher();
  ProfilePromptWatcher(const ProfilePromptWatcher&) = delete;
  ProfilePromptWatcher& operator=(const ProfilePromptWatcher&) = delete;

  // Starts the thread; while it runs, starting again gives it its 30 polls anew.
  void start();
  // Asks the thread to end after its current look.
  void stop();
  // Waits until the thread has ended.
  void wait();
  // Windows cancelled so far.
  int cancelled() const;

 private:
  static DWORD WINAPI thread_main(LPVOID self);
  void run();

  CRITICAL_SECTION lock_{};
  bool running_ = false;
  int countdown_ = kPolls;
  int cancelled_ = 0;
  HANDLE thread_ = nullptr;
};

}  // namespace sx::common
