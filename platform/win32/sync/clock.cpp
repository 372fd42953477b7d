// The clock and the wait primitive (see sx/clock.h).
//
// One mutex and one condition variable guard every waitable object of the process. In virtual mode the
// clock moves only here: when the last running participant blocks, time jumps to the earliest deadline
// among the blocked ones. That makes timed waits cost no real time and makes their order deterministic.
#include "sx/clock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <set>

namespace {

using SteadyClock = std::chrono::steady_clock;

struct ClockState {
  std::mutex mutex;
  std::condition_variable changed;
  const SteadyClock::time_point process_start = SteadyClock::now();
  std::atomic<bool> virtual_mode{false};
  std::atomic<std::int64_t> virtual_now{0};    // monotonic ms while virtual
  std::atomic<std::int64_t> real_offset{0};    // added to real elapsed ms, keeps now_ms monotonic
  std::atomic<std::int64_t> wall_minus_mono{0};  // virtual time of day = now_ms + this
  std::size_t participants = 0;                // guarded by mutex
  std::multiset<std::int64_t> blocked_deadlines;  // one entry per blocked participant (kNoDeadline too)
};

ClockState& state() {
  static ClockState* s = new ClockState();  // never destroyed: threads may wait during exit
  return *s;
}

std::int64_t real_elapsed_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() -
                                                                state().process_start)
      .count();
}

// Registration of the current thread as a participant; undone when the thread ends.
struct Participation {
  bool active = false;
  ~Participation() {
    if (!active) return;
    ClockState& s = state();
    std::lock_guard lock(s.mutex);
    --s.participants;
    s.changed.notify_all();
  }
};
thread_local Participation t_participation;

// Must be called with the mutex held.
void join_locked() {
  if (t_participation.active) return;
  t_participation.active = true;
  ++state().participants;
}

}  // namespace

namespace sx::clock {

std::int64_t now_ms() {
  ClockState& s = state();
  if (s.virtual_mode.load(std::memory_order_acquire)) return s.virtual_now.load();
  return real_elapsed_ms() + s.real_offset.load();
}

std::int64_t wall_unix_ms() {
  ClockState& s = state();
  if (s.virtual_mode.load(std::memory_order_acquire)) {
    return s.virtual_now.load() + s.wall_minus_mono.load();
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void use_virtual(std::int64_t wall_start_unix_ms) {
  ClockState& s = state();
  std::lock_guard lock(s.mutex);
  const std::int64_t now = now_ms();
  s.virtual_now = now;
  s.wall_minus_mono = wall_start_unix_ms - now;
  s.virtual_mode.store(true, std::memory_order_release);
  join_locked();
  s.changed.notify_all();
}

void use_real() {
  ClockState& s = state();
  std::lock_guard lock(s.mutex);
  if (!s.virtual_mode.load()) return;
  const std::int64_t now = s.virtual_now.load();
  const std::int64_t real = real_elapsed_ms() + s.real_offset.load();
  if (real < now) s.real_offset = s.real_offset.load() + (now - real);
  s.virtual_mode.store(false, std::memory_order_release);
  s.changed.notify_all();
}

bool is_virtual() { return state().virtual_mode.load(std::memory_order_acquire); }

void advance(std::int64_t ms) {
  ClockState& s = state();
  std::lock_guard lock(s.mutex);
  if (!s.virtual_mode.load() || ms <= 0) return;
  s.virtual_now = s.virtual_now.load() + ms;
  s.changed.notify_all();
}

}  // namespace sx::clock

namespace sx::kernel {

std::unique_lock<std::mutex> lock() { return std::unique_lock(state().mutex); }

void notify_all() { state().changed.notify_all(); }

bool wait_until(std::unique_lock<std::mutex>& guard, const std::function<bool()>& ready,
                std::int64_t deadline_ms) {
  ClockState& s = state();
  join_locked();
  for (;;) {
    if (ready()) return true;
    const std::int64_t now = sx::clock::now_ms();
    if (deadline_ms != kNoDeadline && now >= deadline_ms) return false;

    if (s.virtual_mode.load()) {
      auto mine = s.blocked_deadlines.insert(deadline_ms == kNoDeadline ? INT64_MAX : deadline_ms);
      if (s.blocked_deadlines.size() >= s.participants) {
        // Everybody waits: jump to the earliest deadline, if there is one still ahead.
        const std::int64_t earliest = *s.blocked_deadlines.begin();
        if (earliest != INT64_MAX && earliest > now) {
          s.virtual_now = earliest;
          s.blocked_deadlines.erase(mine);
          s.changed.notify_all();
          continue;
        }
      }
      s.changed.wait(guard);
      s.blocked_deadlines.erase(mine);
    } else if (deadline_ms == kNoDeadline) {
      s.changed.wait(guard);
    } else {
      const auto until = s.process_start +
                         std::chrono::milliseconds(deadline_ms - s.real_offset.load());
      s.changed.wait_until(guard, until);
    }
  }
}

ThreadToken reserve_participant() {
  ClockState& s = state();
  std::lock_guard lock(s.mutex);
  ++s.participants;
  static ThreadToken next = 0;
  return ++next;
}

void thread_started(ThreadToken) {
  // The creator already counted this thread; mark it so that its end is counted too.
  t_participation.active = true;
}

void thread_exiting() {
  ClockState& s = state();
  std::lock_guard lock(s.mutex);
  if (!t_participation.active) return;
  t_participation.active = false;
  --s.participants;
  s.changed.notify_all();
}

}  // namespace sx::kernel
