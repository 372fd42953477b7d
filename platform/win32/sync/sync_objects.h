// Kernel objects of this folder (events and threads) and the helpers the wait functions share.
// Internal to sxwin32.
#pragma once

#include <cstdint>

#include "sx/clock.h"
#include "sx/waitable.h"
#include "win32/sync.h"

namespace sx::sync {

// A manual-reset flag and a signalled flag: the least state that gives Windows' event semantics.
class Event final : public Waitable {
 public:
  Event(bool manual_reset, bool signalled) : manual_reset_(manual_reset), signalled_(signalled) {}
  bool signalled_locked() const override { return signalled_; }
  void consume_locked() override {
    if (!manual_reset_) signalled_ = false;
  }
  void set_locked(bool signalled) { signalled_ = signalled; }

 private:
  const bool manual_reset_;
  bool signalled_;  // guarded by sx::kernel::lock()
};

// A thread started by CreateThread: signalled once its entry point has returned.
class Thread final : public Waitable {
 public:
  Thread(DWORD id, bool suspended) : suspend_count_(suspended ? 1 : 0), id_(id) {}
  bool signalled_locked() const override { return finished_; }

  DWORD id() const { return id_; }
  // All guarded by sx::kernel::lock().
  bool finished_ = false;
  DWORD exit_code_ = STILL_ACTIVE;
  DWORD suspend_count_;

 private:
  const DWORD id_;
};

// Absolute deadline on the sx::clock::now_ms() basis for a Win32 timeout in milliseconds.
inline std::int64_t deadline_after(DWORD milliseconds) {
  if (milliseconds == INFINITE) return sx::kernel::kNoDeadline;
  return sx::clock::now_ms() + static_cast<std::int64_t>(milliseconds);
}

// A fresh thread id (multiples of four, never 0).
DWORD allocate_thread_id();

}  // namespace sx::sync
