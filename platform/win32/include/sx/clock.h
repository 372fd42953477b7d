// The one clock of the simulated machine, and the wait primitive every blocking call is built on.
//
// Every clock read, sleep, timer and timed wait of the system and of the stand-ins goes through
// here. In real mode time is the host's. In virtual mode (tests) time stands still while any
// participating thread is running and jumps to the earliest deadline when every participating
// thread is blocked in `wait_until`, so a 60-second timer costs no real time and the outcome is the
// same every run.
//
// Participating threads: the thread that switches to virtual mode, every thread started through
// CreateThread (registered by its creator before it runs, so a new thread cannot be overtaken by
// the clock), and any other thread from its first wait on.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

namespace sx::clock {

// Milliseconds on the monotonic clock (GetTickCount's basis), starting near 0 per process.
std::int64_t now_ms();

// Time of day: milliseconds since 1970-01-01 00:00 UTC.
std::int64_t wall_unix_ms();

// Switches this process to virtual time. The monotonic clock keeps its current value; the time of
// day becomes `wall_start_unix_ms`. The calling thread participates.
void use_virtual(std::int64_t wall_start_unix_ms = 978307200000 /* 2001-01-01 00:00 UTC */);

// Back to real time (the monotonic clock never goes backwards).
void use_real();

bool is_virtual();

// Virtual mode only: moves time forward by `ms` and wakes whatever is due.
void advance(std::int64_t ms);

}  // namespace sx::clock

namespace sx::kernel {

inline constexpr std::int64_t kNoDeadline = -1;

// The lock that guards all waitable state (events, thread exits, message queues, timers).
std::unique_lock<std::mutex> lock();

// Blocks until `ready()` is true or the clock reaches `deadline_ms` (sx::clock::now_ms() basis;
// kNoDeadline waits forever). `ready` is evaluated with `guard` held; `guard` must come from
// lock(). Returns true when `ready()` held, false on timeout. A thread that changes state a waiter
// may be waiting for calls notify_all() with the lock held.
bool wait_until(std::unique_lock<std::mutex>& guard, const std::function<bool()>& ready,
                std::int64_t deadline_ms);

// Wakes every waiter so that it re-evaluates its condition. Call with the lock held.
void notify_all();

// Thread participation in virtual time (see above). A creator calls reserve_participant() before it
// starts a thread, so that the clock cannot run ahead of a thread that has not started yet; the
// started thread calls thread_started(token) first and thread_exiting() last. When the thread
// cannot be started after all, the creator calls cancel_participant(token) instead.
//
// While a participant is blocked anywhere but in wait_until (std::thread::join, a plain std::mutex,
// reading a pipe) it counts as running, and virtual time stands still until it comes back.
using ThreadToken = std::uint64_t;
ThreadToken reserve_participant();
void thread_started(ThreadToken token);
void thread_exiting();
void cancel_participant(ThreadToken token);

}  // namespace sx::kernel
