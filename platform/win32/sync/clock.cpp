// The clock and the wait primitive (see sx/clock.h).
//
// One mutex and one condition variable guard every waitable object of the process. In virtual mode
// the clock moves only here: when the last running participant blocks, time jumps to the earliest
// deadline among the blocked ones. That makes timed waits cost no real time and makes their order
// deterministic.
//
// A waiter counts as blocked only from the moment it goes to sleep until the next notification.
// Every notification empties the blocked set: a woken waiter may have become ready (an event was
// set for it), and until it has looked at its condition again it must count as running, or the
// clock could jump past a deadline that the woken thread was about to beat.
#include "sx/clock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <set>
#include <thread>

namespace {

using SteadyClock = std::chrono::steady_clock;

struct ClockState {
  std::mutex mutex;
  std::condition_variable changed;
  const SteadyClock::time_point process_start = SteadyClock::now();
  std::atomic<bool> virtual_mode{false};
  std::atomic<std::int64_t> virtual_now{0};      // monotonic ms while virtual
  std::atomic<std::int64_t> real_offset{0};      // added to real elapsed ms, keeps now_ms monotonic
  std::atomic<std::int64_t> wall_minus_mono{0};  // virtual time of day = now_ms + this
  std::size_t participants = 0;                  // guarded by mutex
  // One entry per participant asleep in wait_until since the last notification (INT64_MAX when it
  // has no deadline). Guarded by mutex.
  std::multiset<std::int64_t> blocked_deadlines;
  // Bumped (under mutex) by every notification; read without the mutex while spinning.
  std::atomic<std::uint64_t> notifications{0};
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

// Wakes every waiter; they all count as running until they sleep again. Mutex held.
void notify_locked() {
  ClockState& s = state();
  s.blocked_deadlines.clear();
  ++s.notifications;
  s.changed.notify_all();
}

// How long a waiter watches for a notification before it sleeps. A worker that answers a command
// often does so within microseconds; a sleep and a wake-up cost tens of microseconds.
constexpr auto kSpin = std::chrono::microseconds(20);
constexpr auto kSpinBeforeYield = std::chrono::microseconds(5);

void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// Releases the lock for a short while and watches for a notification. Returns true when one came
// (the caller re-evaluates its condition); false when none did, and then sleeping is safe: the lock
// is held again and nothing was notified since `seen`.
bool spin_for_notification(std::unique_lock<std::mutex>& guard) {
  static const bool several_cpus = std::thread::hardware_concurrency() > 1;
  if (!several_cpus) return false;
  ClockState& s = state();
  const std::uint64_t seen = s.notifications.load(std::memory_order_relaxed);
  guard.unlock();
  const auto start = SteadyClock::now();
  const auto until = start + kSpin;
  const auto yield_from = start + kSpinBeforeYield;
  for (unsigned i = 1;; ++i) {
    if (s.notifications.load(std::memory_order_acquire) != seen) break;
    if (i % 64 == 0) {
      const auto now = SteadyClock::now();
      if (now >= until) break;
      // On a busy machine the thread we wait for may be queued behind us on this CPU. (Not at
      // once: a yield is a system call, dear in a virtual machine, and most answers come sooner.)
      if (now >= yield_from) std::this_thread::yield();
    }
    cpu_relax();
  }
  guard.lock();
  return s.notifications.load(std::memory_order_relaxed) != seen;
}

// Registration of the current thread as a participant; undone when the thread ends.
struct Participation {
  bool active = false;
  ~Participation() {
    if (!active) return;
    ClockState& s = state();
    std::lock_guard lock(s.mutex);
    --s.participants;
    notify_locked();
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
  notify_locked();
}

void use_real() {
  ClockState& s = state();
  std::lock_guard lock(s.mutex);
  if (!s.virtual_mode.load()) return;
  const std::int64_t now = s.virtual_now.load();
  const std::int64_t real = real_elapsed_ms() + s.real_offset.load();
  if (real < now) s.real_offset = s.real_offset.load() + (now - real);
  s.virtual_mode.store(false, std::memory_order_release);
  notify_locked();
}

bool is_virtual() { return state().virtual_mode.load(std::memory_order_acquire); }

void advance(std::int64_t ms) {
  ClockState& s = state();
  std::lock_guard lock(s.mutex);
  if (!s.virtual_mode.load() || ms <= 0) return;
  s.virtual_now = s.virtual_now.load() + ms;
  notify_locked();
}

}  // namespace sx::clock

namespace sx::kernel {

std::unique_lock<std::mutex> lock() { return std::unique_lock(state().mutex); }

void notify_all() { notify_locked(); }

bool wait_until(std::unique_lock<std::mutex>& guard, const std::function<bool()>& ready,
                std::int64_t deadline_ms) {
  ClockState& s = state();
  join_locked();
  for (;;) {
    if (ready()) return true;
    const std::int64_t now = sx::clock::now_ms();
    if (deadline_ms != kNoDeadline && now >= deadline_ms) return false;
    if (spin_for_notification(guard)) continue;

    if (s.virtual_mode.load()) {
      s.blocked_deadlines.insert(deadline_ms == kNoDeadline ? INT64_MAX : deadline_ms);
      if (s.blocked_deadlines.size() >= s.participants) {
        // Everybody waits: jump to the earliest deadline, if there is one still ahead. Every waiter
        // re-evaluates; the ones whose deadline came time out, the others go back to sleep.
        const std::int64_t earliest = *s.blocked_deadlines.begin();
        if (earliest != INT64_MAX && earliest > now) {
          s.virtual_now = earliest;
          notify_locked();
          continue;
        }
      }
      const std::uint64_t seen = s.notifications.load(std::memory_order_relaxed);
      s.changed.wait(guard);
      // A wake-up without a notification (spurious) leaves this waiter's entry behind: take it out.
      if (s.notifications.load(std::memory_order_relaxed) == seen) {
        auto mine = s.blocked_deadlines.find(deadline_ms == kNoDeadline ? INT64_MAX : deadline_ms);
        if (mine != s.blocked_deadlines.end()) s.blocked_deadlines.erase(mine);
      }
    } else if (deadline_ms == kNoDeadline) {
      s.changed.wait(guard);
    } else {
      const auto until =
          s.process_start + std::chrono::milliseconds(deadline_ms - s.real_offset.load());
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
  notify_locked();
}

void cancel_participant(ThreadToken) {
  ClockState& s = state();
  std::lock_guard lock(s.mutex);
  if (s.participants > 0) --s.participants;
  notify_locked();
}

}  // namespace sx::kernel
