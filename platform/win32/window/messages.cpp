// Message functions and timers: SendMessageA, PostMessageA, GetMessageA, PeekMessageA, ...
#include <algorithm>

#include "boundary.h"
#include "core.h"
#include "sx/clock.h"

using namespace sx::window::detail;

namespace {

bool get_or_peek(LPMSG msg, HWND hwnd, UINT min, UINT max, bool remove, bool wait) {
  std::shared_ptr<ThreadQueue> me = current_queue();
  if (hwnd != nullptr) {
    auto w = find(hwnd);
    if (!w) return false;
  }
  for (;;) {
    deliver_foreign_mail();
    {
      Guard guard = sx::kernel::lock();
      if (take_message_locked(guard, *me, msg, hwnd, min, max, remove)) return true;
      if (!wait) break;
      std::int64_t deadline = next_deadline_locked(*me);
      if (!sx::clock::is_virtual()) {
        const std::int64_t slice = sx::clock::now_ms() + 100;  // mail from other processes
        deadline = deadline == sx::kernel::kNoDeadline ? slice : std::min(deadline, slice);
      }
      sx::kernel::wait_until(
          guard, [&] { return has_messages_locked(*me); }, deadline);
    }
    console_refresh(*me);
  }
  console_refresh(*me);
  return false;
}

}  // namespace

namespace sx::window {

PumpEnd pump_until(const std::function<bool()>& done, std::int64_t deadline_ms) {
  switch (pump(done, deadline_ms, false)) {
    case PumpResult::kDone:
      return PumpEnd::kDone;
    case PumpResult::kQuit:
      return PumpEnd::kQuit;
    case PumpResult::kDeadline:
    case PumpResult::kIdle:
      break;
  }
  return PumpEnd::kDeadline;
}

WaitEnd wait_for_input(const std::function<bool()>& done, std::int64_t deadline_ms) {
  std::shared_ptr<ThreadQueue> me = current_queue();
  for (;;) {
    deliver_foreign_mail();
    Guard guard = sx::kernel::lock();
    if (done()) return WaitEnd::kDone;
    const std::int64_t now = sx::clock::now_ms();
    std::int64_t next_timer = sx::kernel::kNoDeadline;
    for (const Timer& t : me->timers) {
      if (next_timer == sx::kernel::kNoDeadline || t.due_ms < next_timer) next_timer = t.due_ms;
    }
    if (!me->sent.empty() || !me->posted.empty() || me->quit ||
        (next_timer != sx::kernel::kNoDeadline && next_timer <= now))
      return WaitEnd::kInput;
    if (deadline_ms != sx::kernel::kNoDeadline && now >= deadline_ms) return WaitEnd::kDeadline;
    std::int64_t until = deadline_ms;
    if (next_timer != sx::kernel::kNoDeadline &&
        (until == sx::kernel::kNoDeadline || next_timer < until))
      until = next_timer;
    if (!sx::clock::is_virtual()) {
      const std::int64_t slice = now + 100;  // mail from other processes
      until = until == sx::kernel::kNoDeadline ? slice : std::min(until, slice);
    }
    sx::kernel::wait_until(
        guard, [&] { return done() || !me->sent.empty() || !me->posted.empty() || me->quit; },
        until);
  }
}

bool input_may_wait() {
  // The console host redraws modeless windows from PeekMessage; scripted dialogs act from there.
  if (host() == Host::kConsole || foreign_mail_due()) return true;
  std::shared_ptr<ThreadQueue> me = current_queue();
  Guard guard = sx::kernel::lock();
  if (!me->scripted.empty() || !me->sent.empty() || !me->posted.empty() || me->quit ||
      !me->unpainted.empty())
    return true;
  if (me->timers.empty()) return false;
  const std::int64_t now = sx::clock::now_ms();
  return std::any_of(me->timers.begin(), me->timers.end(),
                     [now](const Timer& t) { return t.due_ms <= now; });
}

}  // namespace sx::window

extern "C" {

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return guarded<LRESULT>("SendMessageA", 0, [&] { return send(hwnd, msg, wParam, lParam); });
}

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return guarded<BOOL>("PostMessageA", FALSE,
                       [&] { return post(hwnd, msg, wParam, lParam) ? TRUE : FALSE; });
}

BOOL GetMessageA(LPMSG msg, HWND hwnd, UINT filter_min, UINT filter_max) {
  return guarded<BOOL>("GetMessageA", -1, [&]() -> BOOL {
    if (msg == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return -1;
    }
    if (!get_or_peek(msg, hwnd, filter_min, filter_max, true, true)) return -1;
    return msg->message == WM_QUIT ? FALSE : TRUE;
  });
}

BOOL PeekMessageA(LPMSG msg, HWND hwnd, UINT filter_min, UINT filter_max, UINT remove) {
  return guarded<BOOL>("PeekMessageA", FALSE, [&]() -> BOOL {
    if (msg == nullptr) return FALSE;
    return get_or_peek(msg, hwnd, filter_min, filter_max, (remove & PM_REMOVE) != 0, false);
  });
}

BOOL TranslateMessage(const MSG*) { return FALSE; }  // no keyboard messages in this stand-in

LRESULT DispatchMessageA(const MSG* msg) {
  return guarded<LRESULT>("DispatchMessageA", 0, [&]() -> LRESULT {
    if (msg == nullptr) return 0;
    if (msg->message == WM_TIMER && msg->lParam != 0) {
      auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
      try {
        proc(msg->hwnd, WM_TIMER, msg->wParam, static_cast<DWORD>(sx::clock::now_ms()));
      } catch (...) {
        report("timer procedure threw (timer %lu)", static_cast<unsigned long>(msg->wParam));
      }
      return 0;
    }
    if (msg->hwnd == nullptr) return 0;
    auto w = find(msg->hwnd);
    if (!w) return 0;
    if (w->owner != current_queue()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
    return dispatch(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  });
}

BOOL IsDialogMessageA(HWND dialog, LPMSG msg) {
  return guarded<BOOL>("IsDialogMessageA", FALSE, [&]() -> BOOL {
    if (msg == nullptr || dialog == nullptr || msg->hwnd == nullptr) return FALSE;
    bool ours = false;
    {
      Guard guard = sx::kernel::lock();
      auto w = find_locked(msg->hwnd);
      while (w && !ours) {
        ours = w->hwnd == dialog;
        w = w->child ? find_locked(w->parent) : nullptr;
      }
    }
    if (!ours) return FALSE;
    DispatchMessageA(msg);
    return TRUE;
  });
}

void PostQuitMessage(int exit_code) {
  guarded<int>("PostQuitMessage", 0, [&] {
    auto me = current_queue();
    Guard guard = sx::kernel::lock();
    me->quit = true;
    me->quit_code = exit_code;
    sx::kernel::notify_all();
    return 0;
  });
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC proc) {
  return guarded<UINT_PTR>("SetTimer", 0, [&]() -> UINT_PTR {
    auto me = current_queue();
    Guard guard = sx::kernel::lock();
    if (hwnd != nullptr) {
      auto w = find_locked(hwnd);
      if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
      }
      if (w->owner != me) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
      }
    } else {
      id = me->next_thread_timer_id++;
    }
    elapse_ms = std::max(elapse_ms, static_cast<UINT>(USER_TIMER_MINIMUM));
    const std::int64_t due = sx::clock::now_ms() + elapse_ms;
    for (Timer& t : me->timers) {
      if (t.hwnd == hwnd && t.id == id) {  // setting it again restarts it
        t.elapse_ms = elapse_ms;
        t.due_ms = due;
        t.proc = proc;
        sx::kernel::notify_all();
        return hwnd != nullptr && id == 0 ? 1 : id;
      }
    }
    me->timers.push_back(Timer{hwnd, id, elapse_ms, due, proc});
    sx::kernel::notify_all();
    return hwnd != nullptr && id == 0 ? 1 : id;
  });
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  return guarded<BOOL>("KillTimer", FALSE, [&]() -> BOOL {
    auto me = current_queue();
    Guard guard = sx::kernel::lock();
    auto& timers = me->timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == timers.end()) {
      SetLastError(hwnd != nullptr && !find_locked(hwnd) ? ERROR_INVALID_WINDOW_HANDLE
                                                         : ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    timers.erase(it);
    // A WM_TIMER already taken is not recalled; none is queued, so nothing else to drop.
    return TRUE;
  });
}

}  // extern "C"
