// CSplash: the splash screen shown while the status screen runs its first checks. A thread of its
// own shows bitmap 148 in a pop-up window centred on the screen (drawn with DrawDib, in a palette
// built from the bitmap's colour table) and keeps it up until both the minimum display time has
// passed and the status screen says it has finished its first refresh.
#pragma once

#include <atomic>
#include <cstdint>

#include "windows.h"

namespace sx::configure {

// What the splash reads from the status screen, and when it went.
struct SplashState {
  std::atomic<bool> initialised{false};      // the first refresh has finished
  std::atomic<HWND> statusWindow{nullptr};   // brought to the foreground when the splash goes
  std::atomic<std::int64_t> closedAtMs{-1};  // clock time the splash window went
};

// Flags: close on a key or mouse button press; close at the first timer whatever the state.
inline constexpr int kSplashCloseOnInput = 1;
inline constexpr int kSplashCloseAtFirstTimer = 4;

class CSplash {
 public:
  // Starts the thread (`state` must outlive it).
  CSplash(int bitmapId, UINT minimumMs, int flags, SplashState* state);
  // Waits for the thread to end.
  ~CSplash();
  CSplash(const CSplash&) = delete;
  CSplash& operator=(const CSplash&) = delete;
  bool Started() const { return thread_ != nullptr; }
  // Waits until the splash window has gone.
  void Wait();

 private:
  static DWORD WINAPI Run(LPVOID self);

  int bitmapId_;
  UINT minimumMs_;
  int flags_;
  SplashState* state_;
  HANDLE thread_ = nullptr;
};

}  // namespace sx::configure
