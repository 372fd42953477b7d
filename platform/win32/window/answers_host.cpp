// The answers host: a person's script answers each modal dialog, wizard and message box by its
// title with the texts of the controls to press (sx/window.h, "Answers host").
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "core.h"
#include "sx/ascii.h"
#include "sx/clock.h"
#include "win32/codepage.h"

namespace sx::window {
namespace {

constexpr std::size_t kMaxAnswersFileBytes = 1024 * 1024;

// A control's text or a step as the person means it: without '&' marks and outer blanks.
std::string plain(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != '&') out += c;
  }
  const auto first = out.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return out.substr(first, out.find_last_not_of(" \t") - first + 1);
}

bool same_text(std::string_view a, std::string_view b) {
  return sx::ascii::equal_ignoring_case(plain(a), plain(b));
}

struct AnswersState {
  std::mutex mutex;
  bool loaded = false;
  std::vector<WindowAnswer> answers;
};
AnswersState& answers_state() {
  static auto* s = new AnswersState();
  return *s;
}

std::vector<WindowAnswer> from_environment() {
  std::vector<WindowAnswer> answers;
  std::vector<std::string> problems;
  if (const char* file = std::getenv(kAnswersFileEnvironmentVariable); file && *file) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (!ec && size <= kMaxAnswersFileBytes && in) text << in.rdbuf();
    if (ec || size > kMaxAnswersFileBytes || !in) {
      problems.push_back(std::string(kAnswersFileEnvironmentVariable) + ": " + file +
                         " cannot be read (or is larger than 1 MiB)");
    } else {
      answers = parse_window_answers(text.str(), "\n", &problems);
    }
  }
  if (const char* list = std::getenv(kAnswersEnvironmentVariable); list && *list) {
    auto more = parse_window_answers(list, ";\n", &problems);
    answers.insert(answers.end(), more.begin(), more.end());
  }
  for (const std::string& p : problems) std::fprintf(stderr, "[window answers: %s]\n", p.c_str());
  return answers;
}

// The steps for a window of this title; nothing when the list does not name it.
std::optional<std::vector<std::string>> steps_for(const std::string& title) {
  AnswersState& s = answers_state();
  std::lock_guard lock(s.mutex);
  if (!s.loaded) {
    s.answers = from_environment();
    s.loaded = true;
  }
  for (const WindowAnswer& a : s.answers) {
    if (same_text(a.title, title)) return a.steps;
  }
  return std::nullopt;
}

void say(const std::string& text) {
  const std::string shown = sx::codepage::ansi_to_utf8(text);
  std::fprintf(stderr, "%s\n", shown.c_str());
}

}  // namespace

std::vector<WindowAnswer> parse_window_answers(std::string_view text, std::string_view separators,
                                               std::vector<std::string>* problems) {
  std::vector<WindowAnswer> answers;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find_first_of(separators, at), text.size());
    std::string entry(text.substr(at, end - at));
    at = end + 1;
    if (!entry.empty() && entry.back() == '\r') entry.pop_back();
    const std::size_t first = entry.find_first_not_of(" \t");
    if (first == std::string::npos || entry[first] == '#') continue;  // blank, or a comment
    const auto eq = entry.find('=');
    WindowAnswer answer;
    if (eq != std::string::npos) {
      answer.title = sx::codepage::utf8_to_ansi(entry.substr(0, eq));
      std::string_view steps = std::string_view(entry).substr(eq + 1);
      std::size_t from = 0;
      while (from <= steps.size()) {
        const std::size_t bar = std::min(steps.find('|', from), steps.size());
        const std::string step = sx::codepage::utf8_to_ansi(steps.substr(from, bar - from));
        if (!plain(step).empty()) answer.steps.push_back(step);
        from = bar + 1;
      }
    }
    if (eq == std::string::npos || plain(answer.title).empty() || answer.steps.empty()) {
      if (problems != nullptr) {
        problems->push_back("\"" + (entry.size() > 80 ? entry.substr(0, 80) + "..." : entry) +
                            "\" is not TITLE=BUTTON; left out");
      }
      continue;
    }
    answers.push_back(std::move(answer));
  }
  return answers;
}

void set_window_answers(std::vector<WindowAnswer> answers) {
  AnswersState& s = answers_state();
  std::lock_guard lock(s.mutex);
  s.answers = std::move(answers);
  s.loaded = true;
}

}  // namespace sx::window

namespace sx::window::detail {
namespace {

struct Target {
  HWND control = nullptr;
  int item = -1;  // a list's item to pick; -1: press the control
};

// The enabled, shown control of the dialog (or of its current property page) whose text is `step`,
// else a list of it holding an item `step`.
Target find_target(HWND dialog, const std::string& step) {
  Guard guard = sx::kernel::lock();
  auto w = find_locked(dialog);
  if (!w) return {};
  std::vector<std::shared_ptr<Window>> controls;
  for (const auto& c : children_locked(*w)) {
    if (c->kind == WindowKind::kControl) controls.push_back(c);
    if (c->kind == WindowKind::kDialog && c->visible) {
      for (const auto& g : children_locked(*c))
        if (g->kind == WindowKind::kControl) controls.push_back(g);
    }
  }
  for (const auto& c : controls) {
    const bool pressable =
        c->control == ControlKind::kButton || c->control == ControlKind::kDefaultButton ||
        c->control == ControlKind::kCheckBox || c->control == ControlKind::kRadioButton;
    if (pressable && c->enabled && c->visible && same_text(c->text, step)) return {c->hwnd, -1};
  }
  for (const auto& c : controls) {
    if (c->control != ControlKind::kListBox && c->control != ControlKind::kComboBox) continue;
    if (!c->enabled || !c->visible) continue;
    for (std::size_t i = 0; i < c->items.size(); ++i) {
      if (same_text(c->items[i], step)) return {c->hwnd, static_cast<int>(i)};
    }
  }
  return {};
}

}  // namespace

void run_modal_answers(const std::shared_ptr<Window>& w) {
  std::string title;
  {
    Guard guard = sx::kernel::lock();
    title = w->text;
  }
  auto done = [&] { return w->ended || w->destroyed; };
  const auto steps = steps_for(title);
  if (!steps) {
    say("[dialog \"" + title + "\" is not in the window answers: cancelled]");
  } else {
    for (const std::string& step : *steps) {
      // What the previous step caused is delivered before the next one.
      const PumpResult r = pump(done, sx::clock::now_ms(), false);
      if (r == PumpResult::kDone) return;
      if (r == PumpResult::kQuit) break;
      const Target target = find_target(w->hwnd, step);
      if (target.control == nullptr) {
        say("[dialog \"" + title + "\" has nothing to press named \"" + step + "\": cancelled]");
        break;
      }
      say("[answered dialog \"" + title + "\": " + plain(step) + "]");
      const int id = GetDlgCtrlID(target.control);
      act_on_control(target.control, target.item >= 0 ? sx::window::select(id, target.item)
                                                      : sx::window::click(id));
    }
  }
  run_modal_none(w);
}

std::optional<int> answer_message_box(const std::string& title,
                                      const std::vector<std::pair<int, std::string>>& buttons) {
  if (const auto steps = steps_for(title)) {
    for (const std::string& step : *steps) {
      for (const auto& [id, text] : buttons) {
        if (!same_text(text, step)) continue;
        say("[answered message box \"" + title + "\": " + plain(text) + "]");
        return id;
      }
    }
  }
  say("[message box \"" + title + "\" is not in the window answers: nobody answers it]");
  return std::nullopt;
}

}  // namespace sx::window::detail
