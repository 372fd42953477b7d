// Critical sections. Their state lives in the CRITICAL_SECTION itself and is guarded by the kernel
// lock; a thread that must wait for a section waits through sx::kernel::wait_until, so that on the
// virtual clock a holder that sleeps still sees time move (a raw mutex would freeze the clock).
#include <cstring>

#include "sync_objects.h"

namespace {

HANDLE owner_value(DWORD thread_id) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(thread_id));
}

}  // namespace

extern "C" {

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (lpCriticalSection == nullptr) return;
  auto guard = sx::kernel::lock();  // publishes the zeroed fields to other threads
  std::memset(lpCriticalSection, 0, sizeof(*lpCriticalSection));
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection,
                                           DWORD dwSpinCount) {
  InitializeCriticalSection(lpCriticalSection);
  if (lpCriticalSection != nullptr) lpCriticalSection->SpinCount = dwSpinCount;
  return TRUE;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  const HANDLE me = owner_value(GetCurrentThreadId());
  auto guard = sx::kernel::lock();
  if (cs->OwningThread != me && cs->OwningThread != nullptr) {
    ++cs->LockCount;
    sx::kernel::wait_until(
        guard, [cs] { return cs->OwningThread == nullptr; }, sx::kernel::kNoDeadline);
    --cs->LockCount;
  }
  cs->OwningThread = me;
  ++cs->RecursionCount;
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  const HANDLE me = owner_value(GetCurrentThreadId());
  auto guard = sx::kernel::lock();
  if (cs->OwningThread != me && cs->OwningThread != nullptr) return FALSE;
  cs->OwningThread = me;
  ++cs->RecursionCount;
  return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  const HANDLE me = owner_value(GetCurrentThreadId());
  auto guard = sx::kernel::lock();
  if (cs->OwningThread != me || cs->RecursionCount <= 0) return;
  if (--cs->RecursionCount == 0) {
    cs->OwningThread = nullptr;
    if (cs->LockCount > 0) sx::kernel::notify_all();
  }
}

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (lpCriticalSection == nullptr) return;
  auto guard = sx::kernel::lock();
  std::memset(lpCriticalSection, 0, sizeof(*lpCriticalSection));
}

}  // extern "C"
