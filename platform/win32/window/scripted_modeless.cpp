// The scripted host's modeless dialogs: a script's actions travel through the dialog thread's queue
// as private messages, posted when they are due, so that they happen while the program works and
// pumps its messages between steps.
#include <algorithm>

#include "core.h"
#include "sx/clock.h"

namespace sx::window::detail {
namespace {

// Makes the script's first action the current one: a timed wait starts counting now.
void start_head_locked(Window& w) {
  w.script_posted = false;
  w.script_due_ms = -1;
  if (!w.script.empty() && w.script.front().kind == UserAction::Kind::kWait &&
      w.script.front().wait_ms >= 0) {
    w.script_due_ms = sx::clock::now_ms() + w.script.front().wait_ms;
  }
}

bool due_locked(const Window& w, std::int64_t now) {
  if (w.script.empty() || w.script_posted || w.destroyed) return false;
  const UserAction& action = w.script.front();
  switch (action.kind) {
    case UserAction::Kind::kWait:
      return w.script_due_ms >= 0 && now >= w.script_due_ms;  // wait(-1): until the dialog ends
    case UserAction::Kind::kWaitForProgress:
      return progress_reached_locked(w.hwnd, action.control, action.value);
    default:
      return true;
  }
}

}  // namespace

void attach_modeless_script(const std::shared_ptr<Window>& w) {
  std::string title;
  int resource_id = 0;
  {
    Guard guard = sx::kernel::lock();
    if (w->script_checked) return;
    w->script_checked = true;
    title = w->text;
    resource_id = w->resource_id;
  }
  std::vector<UserAction> actions = take_dialog_script(title, resource_id);
  if (actions.empty()) return;
  Guard guard = sx::kernel::lock();
  w->script.assign(actions.begin(), actions.end());
  start_head_locked(*w);
  w->owner->scripted.push_back(w->hwnd);
  sx::kernel::notify_all();
}

void queue_due_script_actions_locked(ThreadQueue& queue) {
  if (queue.scripted.empty()) return;
  const std::int64_t now = sx::clock::now_ms();
  auto& list = queue.scripted;
  for (auto it = list.begin(); it != list.end();) {
    auto w = find_locked(*it);
    if (!w || w->script.empty()) {
      it = list.erase(it);
      continue;
    }
    if (due_locked(*w, now)) {
      MSG m{};
      m.hwnd = w->hwnd;
      m.message = kScriptedActionMessage;
      m.time = static_cast<DWORD>(now);
      queue.posted.push_back(m);
      w->script_posted = true;
    }
    ++it;
  }
}

std::int64_t next_script_deadline_locked(const ThreadQueue& queue) {
  std::int64_t deadline = sx::kernel::kNoDeadline;
  for (HWND hwnd : queue.scripted) {
    auto w = find_locked(hwnd);
    if (!w || w->script_posted || w->script_due_ms < 0) continue;
    if (deadline == sx::kernel::kNoDeadline || w->script_due_ms < deadline) {
      deadline = w->script_due_ms;
    }
  }
  return deadline;
}

LRESULT perform_scripted_action(const std::shared_ptr<Window>& w) {
  UserAction action;
  {
    Guard guard = sx::kernel::lock();
    if (w->script.empty()) return 0;
    action = w->script.front();
    w->script.pop_front();
    start_head_locked(*w);
  }
  perform_user_action(w, action);
  return 0;
}

}  // namespace sx::window::detail
