// Events and the wait functions.
#include <algorithm>
#include <memory>
#include <vector>

#include "sync_objects.h"

using sx::sync::Event;
using sx::sync::Waitable;

extern "C" {

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
  try {
    if (lpName != nullptr) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return nullptr;
    }
    HANDLE handle =
        sx::handles::insert(std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE));
    SetLastError(ERROR_SUCCESS);
    return handle;
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

static BOOL set_event_state(HANDLE hEvent, bool signalled) {
  try {
    std::shared_ptr<Event> event = sx::handles::get<Event>(hEvent);
    if (!event) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    auto guard = sx::kernel::lock();
    event->set_locked(signalled);
    if (signalled) sx::kernel::notify_all();
    return TRUE;
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL SetEvent(HANDLE hEvent) { return set_event_state(hEvent, true); }
BOOL ResetEvent(HANDLE hEvent) { return set_event_state(hEvent, false); }

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
  try {
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
    // Look the objects up before taking the kernel lock: the handle table has its own lock.
    std::vector<std::shared_ptr<Waitable>> objects;
    objects.reserve(nCount);
    for (DWORD i = 0; i < nCount; ++i) {
      std::shared_ptr<Waitable> object = sx::handles::get<Waitable>(lpHandles[i]);
      if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
      }
      if (bWaitAll && std::find(objects.begin(), objects.end(), object) != objects.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
      }
      objects.push_back(std::move(object));
    }

    const std::int64_t deadline = sx::sync::deadline_after(dwMilliseconds);
    auto guard = sx::kernel::lock();
    DWORD index = 0;
    auto ready = [&] {
      if (bWaitAll) {
        return std::all_of(objects.begin(), objects.end(),
                           [](const auto& o) { return o->signalled_locked(); });
      }
      for (DWORD i = 0; i < nCount; ++i) {
        if (objects[i]->signalled_locked()) {
          index = i;
          return true;
        }
      }
      return false;
    };
    if (!sx::kernel::wait_until(guard, ready, deadline)) return WAIT_TIMEOUT;
    // Still under the hold in which `ready` held: consume atomically.
    if (bWaitAll) {
      for (auto& object : objects) object->consume_locked();
      return WAIT_OBJECT_0;
    }
    objects[index]->consume_locked();
    return WAIT_OBJECT_0 + index;
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return WAIT_FAILED;
  }
}

}  // extern "C"
