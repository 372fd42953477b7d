// The console host: a person in a terminal. Dialogs are drawn as text on stdout and answered with a
// line on stdin: a control's number presses it (or, followed by text, types into an edit or picks a
// list item), Enter alone presses the default button, "q" closes the dialog. stdin is read with
// poll() in short slices so that timers and messages of other threads go on while nobody types.
#include <poll.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "core.h"
#include "sx/clock.h"
#include "win32/codepage.h"

namespace sx::window::detail {
namespace {

constexpr std::int64_t kSliceMs = 50;

// The machine's ANSI text as UTF-8 for the terminal, without carriage returns.
std::string to_terminal(const std::string& ansi) {
  std::string out = sx::codepage::ansi_to_utf8(ansi);
  std::erase(out, '\r');
  return out;
}

// "&Skip This Field" reads "Skip This Field"; "&&" is a literal ampersand.
std::string without_mnemonic(const std::string& text) {
  std::string r;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    r += text[i];
  }
  return to_terminal(r);
}

bool answers_keys(const Window& c) {
  switch (c.control) {
    case ControlKind::kButton:
    case ControlKind::kDefaultButton:
    case ControlKind::kCheckBox:
    case ControlKind::kRadioButton:
    case ControlKind::kListBox:
    case ControlKind::kComboBox:
      return true;
    case ControlKind::kEdit:
      return (c.style & ES_READONLY) == 0;
    default:
      return false;
  }
}

std::string indent_lines(const std::string& text, const std::string& prefix) {
  std::string r = prefix;
  for (char ch : to_terminal(text)) {
    r += ch;
    if (ch == '\n') r += prefix;
  }
  return r + "\n";
}

// Draws the dialog; lock held. Controls that answer keys are numbered from 1 in tab order.
std::string render_locked(Window& w) {
  std::string out = "\n+-- " + to_terminal(w.text) + " " + std::string(20, '-') + "\n";
  int number = 0;
  for (const auto& c : children_locked(w)) {
    c->dirty = false;
    if (!c->visible) continue;
    std::string key = "    ";
    if (answers_keys(*c)) {
      ++number;
      char label[16];
      std::snprintf(label, sizeof label, c->enabled ? "[%d] " : "(%d) ", number);
      key = label;
    }
    const std::string text = without_mnemonic(c->text);
    switch (c->control) {
      case ControlKind::kStatic:
        out += indent_lines(c->text, "|   ");
        break;
      case ControlKind::kEdit:
        out += indent_lines(c->text, "| " + key + "|");
        break;
      case ControlKind::kButton:
        out += "| " + key + "< " + text + " >\n";
        break;
      case ControlKind::kDefaultButton:
        out += "| " + key + "<< " + text + " >>  (Enter)\n";
        break;
      case ControlKind::kCheckBox:
        out += "| " + key + (c->check == BST_CHECKED ? "[x] " : "[ ] ") + text + "\n";
        break;
      case ControlKind::kRadioButton:
        out += "| " + key + (c->check == BST_CHECKED ? "(*) " : "( ) ") + text + "\n";
        break;
      case ControlKind::kGroupBox:
        out += "|   -- " + text + " --\n";
        break;
      case ControlKind::kListBox:
      case ControlKind::kComboBox:
        out += "| " + key + (c->control == ControlKind::kListBox ? "list" : "choice") + ":\n";
        for (std::size_t i = 0; i < c->items.size(); ++i) {
          out += "|       " + std::string(static_cast<int>(i) == c->selection ? "> " : "  ") +
                 std::to_string(i + 1) + ". " + to_terminal(c->items[i]) + "\n";
        }
        break;
      case ControlKind::kProgressBar: {
        const int span = std::max(1, c->range_max - c->range_min);
        const int filled = std::clamp((c->pos - c->range_min) * 30 / span, 0, 30);
        out += "|   [" + std::string(filled, '#') + std::string(30 - filled, '.') + "] " +
               std::to_string((c->pos - c->range_min) * 100 / span) + "%\n";
        break;
      }
    }
  }
  w.dirty = false;
  if (w.modal) {
    out +=
        "+-- number = press/toggle, \"number text\" = type or pick, Enter = default, q = close\n> ";
  } else {
    out += "+" + std::string(24, '-') + "\n";
  }
  return out;
}

void draw(const std::shared_ptr<Window>& w) {
  std::string text;
  {
    Guard guard = sx::kernel::lock();
    if (w->destroyed) return;
    text = render_locked(*w);
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

bool changed_locked(const Window& w) {
  if (w.dirty) return true;
  for (const auto& c : children_locked(w)) {
    if (c->dirty) return true;
  }
  return false;
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

void answer(const std::shared_ptr<Window>& w, const std::string& line) {
  std::string input = line;
  while (!input.empty() && input.front() == ' ') input.erase(0, 1);
  if (input == "q" || input == "Q") {
    SendMessageA(w->hwnd, WM_CLOSE, 0, 0);
    return;
  }
  std::shared_ptr<Window> target;
  std::string rest;
  {
    Guard guard = sx::kernel::lock();
    auto children = children_locked(*w);
    if (input.empty()) {
      for (auto& c : children) {
        if (c->control == ControlKind::kDefaultButton) target = c;
      }
      if (!target) return;
    } else {
      char* end = nullptr;
      const long n = std::strtol(input.c_str(), &end, 10);
      if (end == input.c_str()) return;
      rest = end;
      if (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
      long number = 0;
      for (auto& c : children) {
        if (c->visible && answers_keys(*c) && ++number == n) target = c;
      }
      if (!target) return;
    }
    if (!target->enabled) return;
  }
  switch (target->control) {
    case ControlKind::kEdit: {
      std::string text = rest;
      {
        Guard guard = sx::kernel::lock();
        if (text.size() > target->limit) text.resize(target->limit);
      }
      SetWindowTextA(target->hwnd, text.c_str());
      SendMessageA(w->hwnd, WM_COMMAND, MAKELONG(target->id, EN_CHANGE),
                   reinterpret_cast<LPARAM>(target->hwnd));
      break;
    }
    case ControlKind::kListBox:
    case ControlKind::kComboBox: {
      const bool combo = target->control == ControlKind::kComboBox;
      const int item = std::atoi(rest.c_str()) - 1;
      SendMessageA(target->hwnd, combo ? CB_SETCURSEL : LB_SETCURSEL, item, 0);
      SendMessageA(w->hwnd, WM_COMMAND, MAKELONG(target->id, combo ? CBN_SELCHANGE : LBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(target->hwnd));
      break;
    }
    default:
      SendMessageA(target->hwnd, BM_CLICK, 0, 0);
      break;
  }
}

}  // namespace

void run_modal_console(const std::shared_ptr<Window>& w) {
  auto done = [&] { return w->ended || w->destroyed; };
  draw(w);
  for (;;) {
    const PumpResult r = pump(done, sx::clock::now_ms() + kSliceMs, false);
    if (r == PumpResult::kDone) return;
    if (r == PumpResult::kQuit) break;
    bool redraw = false;
    {
      Guard guard = sx::kernel::lock();
      redraw = changed_locked(*w);
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

void console_show_modeless(const std::shared_ptr<Window>& w) { draw(w); }

void console_refresh(const ThreadQueue& queue) {
  if (host() != Host::kConsole) return;
  // Modeless windows (a progress window) are redrawn at most once a second.
  static thread_local std::chrono::steady_clock::time_point last;
  const auto now = std::chrono::steady_clock::now();
  if (now - last < std::chrono::seconds(1)) return;
  std::vector<std::shared_ptr<Window>> due;
  {
    Guard guard = sx::kernel::lock();
    for (auto& w : all_windows_locked()) {
      if (w->owner.get() == &queue && w->kind == WindowKind::kDialog && !w->modal && w->visible &&
          changed_locked(*w)) {
        due.push_back(w);
      }
    }
  }
  if (due.empty()) return;
  last = now;
  for (auto& w : due) draw(w);
}

}  // namespace sx::window::detail
