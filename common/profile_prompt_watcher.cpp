#include "scribbix/profile_prompt_watcher.h"

#include "windows.h"

namespace sx::common {

ProfilePromptWatcher::ProfilePromptWatcher() { InitializeCriticalSection(&lock_); }

ProfilePromptWatcher::~ProfilePromptWatcher() {
  stop();
  wait();
  DeleteCriticalSection(&lock_);
}

void ProfilePromptWatcher::start() {
  EnterCriticalSection(&lock_);
  countdown_ = kPolls;
  const bool running = running_;
  if (!running) running_ = true;
  LeaveCriticalSection(&lock_);
  if (running) return;
  wait();  // a thread that ended on its own is joined before the next starts
  thread_ = CreateThread(nullptr, 0, &ProfilePromptWatcher::thread_main, this, 0, nullptr);
  if (thread_ == nullptr) {
    EnterCriticalSection(&lock_);
    running_ = false;
    LeaveCriticalSection(&lock_);
  }
}

void ProfilePromptWatcher::stop() {
  EnterCriticalSection(&lock_);
  running_ = false;
  LeaveCriticalSection(&lock_);
}

void ProfilePromptWatcher::wait() {
  if (thread_ == nullptr) return;
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  thread_ = nullptr;
}

int ProfilePromptWatcher::cancelled() const {
  auto* self = const_cast<ProfilePromptWatcher*>(this);
  EnterCriticalSection(&self->lock_);
  const int n = cancelled_;
  LeaveCriticalSection(&self->lock_);
  return n;
}

DWORD WINAPI ProfilePromptWatcher::thread_main(LPVOID self) {
  try {
    static_cast<ProfilePromptWatcher*>(self)->run();
  } catch (...) {
  }
  return 0;
}

void ProfilePromptWatcher::run() {
  for (;;) {
    HWND prompt = FindWindowA("OUTLOOK.APPLICATION", "Choose Profile");
    if (prompt != nullptr) {
      SendMessageA(prompt, WM_COMMAND, IDCANCEL, 0);
      EnterCriticalSection(&lock_);
      ++cancelled_;
      LeaveCriticalSection(&lock_);
    } else {
      Sleep(100);
    }
    EnterCriticalSection(&lock_);
    const bool stop = !running_ || countdown_-- == 1;
    if (stop) running_ = false;
    LeaveCriticalSection(&lock_);
    if (stop) return;
  }
}

}  // namespace sx::common
