// The window table, the per-thread queues and message delivery (see core.h).
#include "core.h"

#include "console_render.h"

#include <strings.h>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <unordered_map>
#include <utility>

#include "sx/clock.h"

namespace sx::window::detail {
namespace {

struct Table {
  std::unordered_map<std::uintptr_t, std::shared_ptr<Window>> windows;
  std::uint64_t counter = 0x10;
};

Table& table() {
  static Table* t = new Table();  // never destroyed: threads may end after static destruction began
  return *t;
}

std::uintptr_t key(HWND hwnd) { return reinterpret_cast<std::uintptr_t>(hwnd); }

// Ends the thread's queue when the thread ends: its windows go away without messages (the thread
// that would run their procedures is gone) and senders waiting for it get 0.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> queue;
  ~QueueHolder() {
    if (!queue) return;
    std::vector<std::filesystem::path> entries;
    {
      Guard guard = sx::kernel::lock();
      queue->alive = false;
      for (auto& sent : queue->sent) {
        sent->done = true;
      }
      queue->sent.clear();
      queue->posted.clear();
      queue->timers.clear();
      Table& t = table();
      for (auto it = t.windows.begin(); it != t.windows.end();) {
        if (it->second->owner == queue) {
          it->second->destroyed = true;
          it->second->ended = true;
          if (!it->second->published.empty()) entries.push_back(it->second->published);
          it = t.windows.erase(it);
        } else {
          ++it;
        }
      }
      sx::kernel::notify_all();
    }
    for (const auto& entry : entries) withdraw(entry);
  }
};
thread_local QueueHolder t_queue;

bool matches(const MSG& msg, HWND filter, UINT min, UINT max) {
  if (filter != nullptr && msg.hwnd != filter) {
    // A window filter also takes the messages of the window's descendants.
    auto w = find_locked(msg.hwnd);
    while (w && w->child && w->parent != filter) w = find_locked(w->parent);
    if (!w || !w->child) return false;
  }
  if (min == 0 && max == 0) return true;
  return msg.message >= min && msg.message <= max;
}

// Answers one message another thread sent to us. Lock held on entry and exit.
bool answer_one_sent_locked(Guard& guard, ThreadQueue& queue) {
  if (queue.sent.empty()) return false;
  std::shared_ptr<SentMessage> sent = queue.sent.front();
  queue.sent.pop_front();
  guard.unlock();
  const LRESULT result = dispatch(sent->hwnd, sent->msg, sent->wparam, sent->lparam);
  guard.lock();
  sent->result = result;
  sent->done = true;
  sx::kernel::notify_all();
  return true;
}

std::int64_t earlier(std::int64_t a, std::int64_t b) {
  if (a == sx::kernel::kNoDeadline) return b;
  if (b == sx::kernel::kNoDeadline) return a;
  return std::min(a, b);
}

// In real time, mail from other processes is looked for in slices; virtual time has no such slices
// (they would make the clock run on its own).
constexpr std::int64_t kForeignMailSliceMs = 100;

std::int64_t with_mail_slice(std::int64_t deadline) {
  if (sx::clock::is_virtual()) return deadline;
  return earlier(deadline, sx::clock::now_ms() + kForeignMailSliceMs);
}

}  // namespace

std::int64_t next_deadline_locked(const ThreadQueue& queue) {
  std::int64_t due = next_script_deadline_locked(queue);
  for (const Timer& timer : queue.timers) due = earlier(due, timer.due_ms);
  return due;
}

std::shared_ptr<ThreadQueue> current_queue() {
  if (!t_queue.queue) t_queue.queue = std::make_shared<ThreadQueue>();
  return t_queue.queue;
}

bool is_current_queue(const ThreadQueue* queue) {
  return queue != nullptr && queue == t_queue.queue.get();
}

std::shared_ptr<Window> find_locked(HWND hwnd) {
  if (hwnd == nullptr) return nullptr;
  Table& t = table();
  auto it = t.windows.find(key(hwnd));
  if (it == t.windows.end() || it->second->destroyed) return nullptr;
  return it->second;
}

HWND insert_locked(const std::shared_ptr<Window>& window) {
  Table& t = table();
  window->hwnd = make_handle(t.counter++);
  t.windows.emplace(key(window->hwnd), window);
  return window->hwnd;
}

std::vector<std::shared_ptr<Window>> children_locked(const Window& window) {
  std::vector<std::shared_ptr<Window>> result;
  for (HWND child : window.children) {
    if (auto w = find_locked(child)) result.push_back(std::move(w));
  }
  return result;
}

std::shared_ptr<Window> find_item_locked(HWND dialog, int id) {
  auto parent = find_locked(dialog);
  if (!parent) return nullptr;
  for (HWND child : parent->children) {
    auto w = find_locked(child);
    if (w && w->id == id) return w;
  }
  return nullptr;
}

std::vector<std::shared_ptr<Window>> all_windows_locked() {
  std::vector<std::shared_ptr<Window>> result;
  for (auto& [k, w] : table().windows) {
    if (!w->destroyed) result.push_back(w);
  }
  // Oldest first, as windows are found in creation order.
  std::sort(result.begin(), result.end(),
            [](const auto& a, const auto& b) { return key(a->hwnd) < key(b->hwnd); });
  return result;
}

std::shared_ptr<Window> find(HWND hwnd) {
  Guard guard = sx::kernel::lock();
  auto w = find_locked(hwnd);
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

bool destroy(HWND hwnd) {
  std::shared_ptr<Window> w;
  std::vector<HWND> owned;
  {
    Guard guard = sx::kernel::lock();
    w = find_locked(hwnd);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    if (w->owner != current_queue()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    // Owned top-level windows go first, as on Windows.
    for (auto& other : all_windows_locked()) {
      if (!other->child && other->parent == hwnd) owned.push_back(other->hwnd);
    }
  }
  for (HWND o : owned) destroy(o);

  if (w->kind == WindowKind::kDialog && !w->modal && !w->child && host() == Host::kConsole) {
    // Its last state, when the person has not seen it yet (a progress window at 100%).
    bool changed = false;
    {
      Guard guard = sx::kernel::lock();
      changed = !w->destroyed && w->visible && changed_since_drawn_locked(*w);
    }
    if (changed) console_show_modeless(w);
  }
  if (w->kind == WindowKind::kDialog && !w->modal && !w->child && host() == Host::kWeb) {
    web_window_gone(hwnd);
  }
  if (w->kind == WindowKind::kDialog && !w->modal && !w->child && host() == Host::kScripted) {
    Guard guard = sx::kernel::lock();
    if (!w->destroyed) {
      ShownWindow shown = snapshot_locked(*w);
      guard.unlock();
      record(std::move(shown));
    }
  }
  {
    Guard guard = sx::kernel::lock();
    if (w->destroyed) return true;  // destroyed by its own procedure meanwhile
  }
  dispatch(hwnd, WM_DESTROY, 0, 0);

  std::vector<HWND> children;
  std::filesystem::path entry;
  HMENU menu = nullptr, system_menu = nullptr;
  {
    Guard guard = sx::kernel::lock();
    if (w->destroyed) return true;
    w->destroyed = true;
    w->ended = true;
    children = w->children;
    entry = std::move(w->published);
    menu = std::exchange(w->menu, nullptr);
    system_menu = std::exchange(w->system_menu, nullptr);
    auto& timers = w->owner->timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [&](const Timer& t) { return t.hwnd == hwnd; }),
                 timers.end());
    table().windows.erase(key(hwnd));
    if (w->child) {
      if (auto parent = find_locked(w->parent)) {
        auto& siblings = parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), hwnd), siblings.end());
      }
    }
    sx::kernel::notify_all();
  }
  for (HWND child : children) destroy(child);
  if (!entry.empty()) withdraw(entry);
  destroy_window_menus(menu, system_menu);
  return true;
}

bool has_messages_locked(ThreadQueue& queue) {
  return !queue.sent.empty() || !queue.posted.empty() || queue.quit ||
         next_to_paint_locked(queue, nullptr) != nullptr;
}

LRESULT dispatch(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  std::shared_ptr<Window> w;
  {
    Guard guard = sx::kernel::lock();
    w = find_locked(hwnd);
  }
  if (!w) return 0;
  if (msg == WM_PAINT) return dispatch_paint(w, wparam, lparam);
  if (msg == kScriptedActionMessage) return perform_scripted_action(w);
  switch (w->kind) {
    case WindowKind::kDialog:
    case WindowKind::kControl: {
      const LRESULT result = w->kind == WindowKind::kDialog ? dialog_proc(w, msg, wparam, lparam)
                                                            : control_proc(w, msg, wparam, lparam);
      // A thread that changes its modeless windows (a progress window) without reading messages
      // still shows the changes at the console.
      if (host() == Host::kConsole) console_refresh(*w->owner);
      if (host() == Host::kWeb) web_refresh(*w->owner);
      return result;
    }
    case WindowKind::kClassWindow:
      break;
  }
  try {
    return w->wndproc != nullptr ? w->wndproc(hwnd, msg, wparam, lparam)
                                 : default_proc(w, msg, wparam, lparam);
  } catch (const std::exception& e) {
    report("window procedure of class \"%s\" threw on message 0x%04X: %s", w->class_name.c_str(),
           msg, e.what());
  } catch (...) {
    report("window procedure of class \"%s\" threw on message 0x%04X", w->class_name.c_str(), msg);
  }
  return 0;
}

LRESULT send(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  std::shared_ptr<ThreadQueue> me = current_queue();
  Guard guard = sx::kernel::lock();
  auto w = find_locked(hwnd);
  if (!w) {
    guard.unlock();
    if (is_own_handle(hwnd)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    // Another process's window: its process answers from its message loop.
    return send_foreign(hwnd, msg, wparam, lparam);
  }
  if (w->owner == me) {
    guard.unlock();
    return dispatch(hwnd, msg, wparam, lparam);
  }
  auto sent = std::make_shared<SentMessage>();
  sent->hwnd = hwnd;
  sent->msg = msg;
  sent->wparam = wparam;
  sent->lparam = lparam;
  w->owner->sent.push_back(sent);
  sx::kernel::notify_all();
  for (;;) {
    sx::kernel::wait_until(
        guard, [&] { return sent->done || !me->sent.empty(); }, sx::kernel::kNoDeadline);
    if (sent->done) return sent->result;
    // Answer what is sent to us meanwhile, so that two threads sending to each other go on.
    answer_one_sent_locked(guard, *me);
  }
}

bool post(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  Guard guard = sx::kernel::lock();
  std::shared_ptr<ThreadQueue> target;
  if (hwnd == nullptr) {
    guard.unlock();
    target = current_queue();
    guard.lock();
  } else if (auto w = find_locked(hwnd)) {
    target = w->owner;
  } else {
    guard.unlock();
    if (!is_own_handle(hwnd)) return post_foreign(hwnd, msg, wparam, lparam);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (!target->alive) return false;
  MSG m{};
  m.hwnd = hwnd;
  m.message = msg;
  m.wParam = wparam;
  m.lParam = lparam;
  m.time = static_cast<DWORD>(sx::clock::now_ms());
  target->posted.push_back(m);
  sx::kernel::notify_all();
  return true;
}

bool take_message_locked(Guard& guard, ThreadQueue& queue, MSG* out, HWND filter, UINT min,
                         UINT max, bool remove) {
  while (answer_one_sent_locked(guard, queue)) {
  }
  queue_due_script_actions_locked(queue);
  for (auto it = queue.posted.begin(); it != queue.posted.end();) {
    if (it->hwnd != nullptr && !find_locked(it->hwnd)) {  // its window is gone
      it = queue.posted.erase(it);
      continue;
    }
    if (matches(*it, filter, min, max)) {
      *out = *it;
      if (remove) queue.posted.erase(it);
      return true;
    }
    ++it;
  }
  if (queue.quit && filter == nullptr) {
    *out = MSG{};
    out->message = WM_QUIT;
    out->wParam = static_cast<WPARAM>(queue.quit_code);
    if (remove) queue.quit = false;
    return true;
  }
  const std::int64_t now = sx::clock::now_ms();
  // WM_PAINT stays "in the queue" until the window's update region is empty.
  if (HWND unpainted = next_to_paint_locked(queue, filter)) {
    MSG m{};
    m.hwnd = unpainted;
    m.message = WM_PAINT;
    m.time = static_cast<DWORD>(now);
    if (matches(m, filter, min, max)) {
      *out = m;
      return true;
    }
  }
  for (Timer& timer : queue.timers) {
    if (timer.due_ms > now) continue;
    MSG m{};
    m.hwnd = timer.hwnd;
    m.message = WM_TIMER;
    m.wParam = timer.id;
    m.lParam = reinterpret_cast<LPARAM>(timer.proc);
    m.time = static_cast<DWORD>(now);
    if (!matches(m, filter, min, max)) continue;
    *out = m;
    if (remove) timer.due_ms = now + timer.elapse_ms;
    return true;
  }
  return false;
}

PumpResult pump(const std::function<bool()>& done, std::int64_t deadline_ms, bool stop_when_idle) {
  std::shared_ptr<ThreadQueue> me = current_queue();
  for (;;) {
    deliver_foreign_mail();
    MSG msg{};
    {
      Guard guard = sx::kernel::lock();
      while (answer_one_sent_locked(guard, *me)) {
      }
      if (done()) return PumpResult::kDone;
      const bool got = [&] {
        if (me->quit && me->posted.empty()) return false;
        return take_message_locked(guard, *me, &msg, nullptr, 0, 0, true);
      }();
      if (!got) {
        if (me->quit) return PumpResult::kQuit;
        if (done()) return PumpResult::kDone;
        const std::int64_t now = sx::clock::now_ms();
        if (deadline_ms != sx::kernel::kNoDeadline && now >= deadline_ms) {
          return PumpResult::kDeadline;
        }
        if (stop_when_idle && me->timers.empty() &&
            next_script_deadline_locked(*me) == sx::kernel::kNoDeadline) {
          return PumpResult::kIdle;
        }
        const std::int64_t until = with_mail_slice(earlier(deadline_ms, next_deadline_locked(*me)));
        sx::kernel::wait_until(
            guard, [&] { return done() || has_messages_locked(*me); }, until);
        continue;
      }
    }
    DispatchMessageA(&msg);
  }
}

bool equal_ignoring_case(const std::string& a, const char* b) {
  return ::strcasecmp(a.c_str(), b) == 0;
}

void report(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(stderr, "sxwin32: %s\n", line);
}

int copy_text(const std::string& text, char* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  const std::size_t n = std::min(text.size(), capacity - 1);
  std::copy_n(text.data(), n, buffer);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

}  // namespace sx::window::detail
