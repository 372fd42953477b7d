// CreateThread and its companions. Threads are detached std::threads: the thread object (shared
// with its handles) outlives both the thread and its last handle as long as either needs it, and a
// process may end while threads still run.
#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

#include "sync_objects.h"

namespace sx::sync {
namespace {

thread_local DWORD t_thread_id = 0;

// The body of every thread started by CreateThread. Nothing escapes from here.
void run_thread(const std::shared_ptr<Thread>& thread, LPTHREAD_START_ROUTINE start, LPVOID param,
                sx::kernel::ThreadToken token) noexcept {
  sx::kernel::thread_started(token);
  t_thread_id = thread->id();
  DWORD exit_code = SX_EXCEPTION_EXIT_CODE;
  try {
    {
      auto guard = sx::kernel::lock();
      sx::kernel::wait_until(
          guard, [&] { return thread->suspend_count_ == 0; }, sx::kernel::kNoDeadline);
    }
    exit_code = start(param);
  } catch (...) {
    exit_code = SX_EXCEPTION_EXIT_CODE;
  }
  {
    // Signal before leaving the clock: a timed wait for this thread must not time out in between.
    auto guard = sx::kernel::lock();
    thread->exit_code_ = exit_code;
    thread->finished_ = true;
    sx::kernel::notify_all();
  }
  sx::kernel::thread_exiting();
}

}  // namespace

DWORD allocate_thread_id() {
  static std::atomic<DWORD> next{0x1000};
  DWORD id = next.fetch_add(4);
  if (id == 0) id = next.fetch_add(4);  // after wrapping
  return id;
}

}  // namespace sx::sync

using sx::sync::Thread;

extern "C" {

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, std::size_t, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (lpStartAddress == nullptr ||
      (dwCreationFlags & ~(CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HANDLE handle = nullptr;
  try {
    auto thread = std::make_shared<Thread>(sx::sync::allocate_thread_id(),
                                           (dwCreationFlags & CREATE_SUSPENDED) != 0);
    handle = sx::handles::insert(thread);
    const sx::kernel::ThreadToken token = sx::kernel::reserve_participant();
    try {
      std::thread([thread, lpStartAddress, lpParameter, token] {
        sx::sync::run_thread(thread, lpStartAddress, lpParameter, token);
      }).detach();
    } catch (...) {
      sx::kernel::cancel_participant(token);
      throw;
    }
    if (lpThreadId != nullptr) *lpThreadId = thread->id();
    return handle;
  } catch (...) {
    if (handle != nullptr) sx::handles::close(handle);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

DWORD ResumeThread(HANDLE hThread) try {
  std::shared_ptr<Thread> thread = sx::handles::get<Thread>(hThread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(-1);
  }
  auto guard = sx::kernel::lock();
  const DWORD previous = thread->suspend_count_;
  if (previous > 0 && --thread->suspend_count_ == 0) sx::kernel::notify_all();
  return previous;
} catch (...) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return static_cast<DWORD>(-1);
}

DWORD GetCurrentThreadId() {
  if (sx::sync::t_thread_id == 0) sx::sync::t_thread_id = sx::sync::allocate_thread_id();
  return sx::sync::t_thread_id;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) try {
  std::shared_ptr<Thread> thread = sx::handles::get<Thread>(hThread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (lpExitCode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto guard = sx::kernel::lock();
  *lpExitCode = thread->exit_code_;
  return TRUE;
} catch (...) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return FALSE;
}

}  // extern "C"
