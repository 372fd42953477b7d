// The console host: a person in a terminal. Dialogs are drawn as text on stdout
// (console_render.cpp) and answered with a line on stdin: a control's number presses it (or,
// followed by text, types into an edit or picks a list item), "mN" chooses a menu item and "sN" an
// item of the window menu, Enter alone presses the default button, "q" closes the dialog. stdin is
// read with poll() in short slices so that timers and messages of other threads go on while nobody
// types.
#include <poll.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "console_render.h"
#include "core.h"
#include "sx/clock.h"

namespace sx::window::detail {
namespace {

constexpr std::int64_t kSliceMs = 50;

void draw(const std::shared_ptr<Window>& w) {
  const std::string text = render_for_console(w, true).text;
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// One line from stdin when one is complete; sets *eof at the end of input.
std::mutex g_input_mutex;
std::string g_pending_input;

bool read_line(std::string* line, bool* eof) {
  std::lock_guard lock(g_input_mutex);
  for (;;) {
    const auto newline = g_pending_input.find('\n');
    if (newline != std::string::npos) {
      *line = g_pending_input.substr(0, newline);
      g_pending_input.erase(0, newline + 1);
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return true;
    }
    pollfd fd{0, POLLIN, 0};
    if (::poll(&fd, 1, 0) <= 0) return false;
    char buffer[256];
    const ssize_t n = ::read(0, buffer, sizeof buffer);
    if (n <= 0) {
      *eof = true;
      return false;
    }
    g_pending_input.append(buffer, static_cast<std::size_t>(n));
    if (g_pending_input.size() > 64 * 1024) g_pending_input.clear();  // nobody types that much
  }
}

// "m3" chooses the third menu item, "s1" the first item of the window menu.
bool answer_menu(const std::shared_ptr<Window>& w, const ConsoleView& view,
                 const std::string& input) {
  if (input.size() < 2 || (input[0] != 'm' && input[0] != 's')) return false;
  const bool system = input[0] == 's';
  const std::vector<UINT>& ids = system ? view.system_ids : view.menu_ids;
  const long n = std::strtol(input.c_str() + 1, nullptr, 10);
  if (n < 1 || n > static_cast<long>(ids.size())) return true;
  UserAction action = system ? choose_system_menu_item(static_cast<int>(ids[n - 1]))
                             : choose_menu_item(static_cast<int>(ids[n - 1]));
  perform_user_action(w, action);
  return true;
}

void answer(const std::shared_ptr<Window>& w, const std::string& line) {
  std::string input = line;
  while (!input.empty() && input.front() == ' ') input.erase(0, 1);
  if (input == "q" || input == "Q") {
    SendMessageA(w->hwnd, WM_CLOSE, 0, 0);
    return;
  }
  const ConsoleView view = render_for_console(w, false);
  if (answer_menu(w, view, input)) return;
  std::shared_ptr<Window> target;
  std::string rest;
  if (input.empty()) {
    // Enter: the default button that can be pressed (Finish once it has taken Next's place).
    Guard guard = sx::kernel::lock();
    for (const auto& c : view.inputs) {
      if (c->control == ControlKind::kDefaultButton && c->enabled && c->visible) target = c;
    }
  } else {
    char* end = nullptr;
    const long n = std::strtol(input.c_str(), &end, 10);
    if (end == input.c_str() || n < 1 || n > static_cast<long>(view.inputs.size())) return;
    rest = end;
    if (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
    target = view.inputs[static_cast<std::size_t>(n - 1)];
  }
  if (!target) return;
  {
    Guard guard = sx::kernel::lock();
    if (!target->enabled) return;
  }
  switch (target->control) {
    case ControlKind::kEdit:
      act_on_control(target->hwnd, type(target->id, rest));
      break;
    case ControlKind::kListBox:
    case ControlKind::kComboBox:
      act_on_control(target->hwnd, select(target->id, std::atoi(rest.c_str()) - 1));
      break;
    default:
      act_on_control(target->hwnd, click(target->id));
      break;
  }
}

}  // namespace

void run_modal_console(const std::shared_ptr<Window>& w) {
  auto done = [&] { return w->ended || w->destroyed; };
  // Paint first, so that the first drawing already has the colours the dialog chooses.
  if (pump(done, sx::clock::now_ms(), false) == PumpResult::kDone) return;
  draw(w);
  for (;;) {
    const PumpResult r = pump(done, sx::clock::now_ms() + kSliceMs, false);
    if (r == PumpResult::kDone) return;
    if (r == PumpResult::kQuit) break;
    bool redraw = false;
    {
      Guard guard = sx::kernel::lock();
      redraw = changed_since_drawn_locked(*w);
    }
    if (redraw) draw(w);
    std::string line;
    bool eof = false;
    if (read_line(&line, &eof)) {
      answer(w, line);
    } else if (eof) {
      break;  // nobody left to answer
    }
  }
  run_modal_none(w);
}

namespace {
// When this thread last drew a modeless window: they are redrawn at most once a second.
thread_local std::chrono::steady_clock::time_point t_last_modeless_draw;
}  // namespace

void console_show_modeless(const std::shared_ptr<Window>& w) {
  t_last_modeless_draw = std::chrono::steady_clock::now();
  draw(w);
}

void console_refresh(const ThreadQueue& queue) {
  if (host() != Host::kConsole) return;
  auto& last = t_last_modeless_draw;
  const auto now = std::chrono::steady_clock::now();
  if (now - last < std::chrono::seconds(1)) return;
  const std::vector<std::shared_ptr<Window>> due = changed_modeless_dialogs(queue);
  if (due.empty()) return;
  last = now;
  for (auto& w : due) draw(w);
}

}  // namespace sx::window::detail
