// Choice of the window host, the none host's modal loop, and the scripted host's scripts and
// records.
#include <errno.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "core.h"
#include "drawing_record.h"
#include "sx/clock.h"
#include "win32/codepage.h"

namespace sx::window {
namespace {

constexpr int kUnset = -1;
std::atomic<int> g_host{kUnset};
// The none host because there is no terminal, not because a program or SX_WINDOW_HOST asked for it.
std::atomic<bool> g_no_terminal{false};

Host host_from_environment() {
  if (const char* value = std::getenv(kHostEnvironmentVariable)) {
    const std::string v = value;
    if (detail::equal_ignoring_case(v, "scripted")) return Host::kScripted;
    if (detail::equal_ignoring_case(v, "console")) return Host::kConsole;
    if (detail::equal_ignoring_case(v, "none")) return Host::kNone;
    if (detail::equal_ignoring_case(v, "answers")) return Host::kAnswers;
    if (detail::equal_ignoring_case(v, "web")) return Host::kWeb;
    if (!v.empty()) {
      detail::report("%s=\"%s\" is not scripted, console, none, answers or web; using the default",
                     kHostEnvironmentVariable, value);
    }
  }
  if (::isatty(0) && ::isatty(1)) return Host::kConsole;
  g_no_terminal = true;
  return Host::kNone;
}

struct Script {
  DialogMatch match;
  std::vector<UserAction> actions;
};
struct Answer {
  int button;
  std::string text_part;
  std::function<void()> before_answer;
};
struct ScriptState {
  std::mutex mutex;
  std::vector<Script> dialogs;
  std::vector<Answer> answers;
  std::vector<ShownWindow> shown;
};
ScriptState& script_state() {
  static auto* s = new ScriptState();
  return *s;
}

}  // namespace

void set_host(Host h) {
  g_no_terminal = false;
  g_host = static_cast<int>(h);
}

Host host() {
  int h = g_host.load();
  if (h == kUnset) {
    int expected = kUnset;
    g_host.compare_exchange_strong(expected, static_cast<int>(host_from_environment()));
    h = g_host.load();
  }
  return static_cast<Host>(h);
}

UserAction click(int control) { return {UserAction::Kind::kClick, control, {}, 0, -1}; }
UserAction type(int control, std::string text) {
  return {UserAction::Kind::kType, control, std::move(text), 0, -1};
}
UserAction check(int control, bool checked) {
  return {UserAction::Kind::kCheck, control, {}, checked ? BST_CHECKED : BST_UNCHECKED, -1};
}
UserAction select(int control, int index) {
  return {UserAction::Kind::kSelect, control, {}, index, -1};
}
UserAction wait(std::int64_t ms) { return {UserAction::Kind::kWait, 0, {}, 0, ms}; }
UserAction close() { return {UserAction::Kind::kClose, 0, {}, 0, -1}; }
UserAction choose_menu_item(int id) { return {UserAction::Kind::kMenu, id, {}, 0, -1}; }
UserAction choose_system_menu_item(int id) {
  return {UserAction::Kind::kSystemMenu, id, {}, 0, -1};
}
UserAction wait_for_progress(int control, int position) {
  return {UserAction::Kind::kWaitForProgress, control, {}, position, -1};
}

void expect_dialog(const DialogMatch& match, std::vector<UserAction> actions) {
  ScriptState& s = script_state();
  std::lock_guard lock(s.mutex);
  s.dialogs.push_back({match, std::move(actions)});
}

void expect_message_box(int answer, std::string text_part, std::function<void()> before_answer) {
  ScriptState& s = script_state();
  std::lock_guard lock(s.mutex);
  s.answers.push_back({answer, std::move(text_part), std::move(before_answer)});
}

std::vector<ShownWindow> shown() {
  ScriptState& s = script_state();
  std::lock_guard lock(s.mutex);
  return s.shown;
}

void clear_script() {
  {
    ScriptState& s = script_state();
    std::lock_guard lock(s.mutex);
    s.dialogs.clear();
    s.answers.clear();
    s.shown.clear();
  }
  detail::clear_drawings();
}

std::size_t unused_scripts() {
  ScriptState& s = script_state();
  std::lock_guard lock(s.mutex);
  return s.dialogs.size() + s.answers.size();
}

std::string console_background(int r, int g, int b) {
  return "\x1b[48;2;" + std::to_string(r) + ";" + std::to_string(g) + ";" + std::to_string(b) + "m";
}

std::string console_foreground(int r, int g, int b) {
  return "\x1b[38;2;" + std::to_string(r) + ";" + std::to_string(g) + ";" + std::to_string(b) + "m";
}

}  // namespace sx::window

namespace sx::window::detail {

void record(ShownWindow shown) {
  ScriptState& s = script_state();
  std::lock_guard lock(s.mutex);
  s.shown.push_back(std::move(shown));
}

bool take_message_box_answer(const std::string& text, int* answer,
                             std::function<void()>* before_answer) {
  ScriptState& s = script_state();
  std::lock_guard lock(s.mutex);
  for (auto it = s.answers.begin(); it != s.answers.end(); ++it) {
    if (text.find(it->text_part) != std::string::npos) {
      *answer = it->button;
      *before_answer = std::move(it->before_answer);
      s.answers.erase(it);
      return true;
    }
  }
  return false;
}

// The script for a dialog that is being shown, taken out of the queue; empty when there is none.
std::vector<UserAction> take_dialog_script(const std::string& title, int resource_id) {
  ScriptState& s = script_state();
  std::lock_guard lock(s.mutex);
  for (auto it = s.dialogs.begin(); it != s.dialogs.end(); ++it) {
    const DialogMatch& m = it->match;
    if (m.title && *m.title != title) continue;
    if (m.resource_id && *m.resource_id != resource_id) continue;
    std::vector<UserAction> actions = std::move(it->actions);
    s.dialogs.erase(it);
    return actions;
  }
  return {};
}

void run_modal(const std::shared_ptr<Window>& dialog) {
  switch (host()) {
    case Host::kScripted:
      run_modal_scripted(dialog);
      break;
    case Host::kConsole:
      run_modal_console(dialog);
      break;
    case Host::kNone:
      run_modal_none(dialog);
      break;
    case Host::kAnswers:
      run_modal_answers(dialog);
      break;
    case Host::kWeb:
      run_modal_web(dialog);
      break;
  }
}

namespace {

// Whether `hwnd` is `top` or one of its descendants. Lock held.
bool within_locked(HWND hwnd, HWND top) {
  for (auto w = find_locked(hwnd); w; w = w->child ? find_locked(w->parent) : nullptr) {
    if (w->hwnd == top) return true;
  }
  return false;
}

// A dialog shown where nobody can answer it because the program has no terminal: says so on stderr
// at once, with how long the dialog's own timers keep it up, so that a person watching the program
// does not wait without knowing why. Where the none host was asked for, the asker knows.
void say_nobody_answers(const std::shared_ptr<Window>& w) {
  if (!g_no_terminal) return;
  std::string title;
  std::int64_t last_due = -1;
  {
    Guard guard = sx::kernel::lock();
    title = w->text;
    for (const Timer& t : w->owner->timers) {
      if (within_locked(t.hwnd, w->hwnd)) last_due = std::max(last_due, t.due_ms);
    }
  }
  const std::int64_t seconds =
      last_due < 0 ? 0 : (std::max<std::int64_t>(0, last_due - sx::clock::now_ms()) + 999) / 1000;
  const std::string shown = sx::codepage::ansi_to_utf8(title);
  if (seconds > 0) {
    std::fprintf(stderr,
                 "%s: the dialog \"%s\" waits for an answer, and nobody can give one here (no "
                 "terminal): it closes by itself in %lld seconds.\n",
                 program_invocation_short_name, shown.c_str(), static_cast<long long>(seconds));
  } else {
    std::fprintf(stderr,
                 "%s: the dialog \"%s\" needs an answer, and nobody can give one here (no "
                 "terminal): it is cancelled.\n",
                 program_invocation_short_name, shown.c_str());
  }
}

}  // namespace

void run_modal_none(const std::shared_ptr<Window>& w) {
  auto done = [&] { return w->ended || w->destroyed; };
  say_nobody_answers(w);
  // Let the dialog's own timers run out first; nobody will click anything.
  PumpResult r = pump(done, sx::kernel::kNoDeadline, true);
  if (r == PumpResult::kIdle) {
    {
      Guard guard = sx::kernel::lock();
      w->ended_by_host = true;
    }
    SendMessageA(w->hwnd, WM_CLOSE, 0, 0);
    r = pump(done, sx::kernel::kNoDeadline, true);
  }
  if (r == PumpResult::kDone) return;
  Guard guard = sx::kernel::lock();
  if (w->ended || w->destroyed) return;
  if (r == PumpResult::kIdle) {
    report("dialog \"%s\" did not close on WM_CLOSE and nobody answers it; ended with IDCANCEL",
           w->text.c_str());
    w->end_result = IDCANCEL;
  }
  w->ended = true;  // WM_QUIT also ends a modal loop; the quit message stays queued
  w->ended_by_host = true;
}

}  // namespace sx::window::detail
