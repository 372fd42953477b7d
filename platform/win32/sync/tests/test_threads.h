// Test helpers: start a lambda on a CreateThread thread, measure real time.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "win32/sync.h"

namespace sx::testing {

// Starts `body` through CreateThread; returns the thread handle (null on failure).
inline HANDLE start_thread(std::function<DWORD()> body, DWORD flags = 0, DWORD* id = nullptr) {
  auto* owned = new std::function<DWORD()>(std::move(body));
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID param) -> DWORD {
        std::unique_ptr<std::function<DWORD()>> fn(static_cast<std::function<DWORD()>*>(param));
        return (*fn)();
      },
      owned, flags, id);
  if (thread == nullptr) delete owned;
  return thread;
}

// Real (host) milliseconds elapsed since `start`.
inline long long real_ms_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

}  // namespace sx::testing
