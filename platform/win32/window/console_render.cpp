// The console host's drawing of a dialog: its menu bar, its controls in the colours the dialog
// chose for them, progress bars, and the current page of a property sheet.
#include "console_render.h"

#include <algorithm>
#include <cstdio>

#include "win32/codepage.h"

namespace sx::window::detail {
namespace {

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

// Each line of `text` after `prefix`; line ends at its end make no empty lines.
std::string indent_lines(std::string text, const std::string& prefix) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  std::string r = prefix;
  for (char ch : text) {
    r += ch;
    if (ch == '\n') r += prefix;
  }
  return r + "\n";
}

// A static's text in the colours its dialog chose (a status row drawn in red shows in red).
std::string coloured(const Window& c, const std::string& text) {
  if (!c.custom_colours) return text;
  std::string out;
  if (c.text_colour != CLR_INVALID) {
    out += console_foreground(GetRValue(c.text_colour), GetGValue(c.text_colour),
                              GetBValue(c.text_colour));
  }
  if (c.background_colour != CLR_INVALID) {
    out += console_background(GetRValue(c.background_colour), GetGValue(c.background_colour),
                              GetBValue(c.background_colour));
  }
  return out + text + kConsoleReset;
}

void render_control_locked(const Window& c, const std::string& key, std::string& out) {
  const std::string text = without_mnemonic(c.text);
  switch (c.control) {
    case ControlKind::kStatic:
      out += indent_lines(coloured(c, to_terminal(c.text)), "|   ");
      break;
    case ControlKind::kEdit:
      // A field to type in shows its number; a read-only one (a progress window's) its text.
      out += indent_lines(coloured(c, to_terminal(c.text)),
                          (c.style & ES_READONLY) != 0 ? "|     " : "| " + key);
      break;
    case ControlKind::kButton:
      out += "| " + key + "< " + text + " >\n";
      break;
    case ControlKind::kDefaultButton:
      out += "| " + key + "<< " + text + " >>  (Enter)\n";
      break;
    case ControlKind::kCheckBox:
      out += "| " + key + (c.check == BST_CHECKED ? "[x] " : "[ ] ") + text + "\n";
      break;
    case ControlKind::kRadioButton:
      out += "| " + key + (c.check == BST_CHECKED ? "(*) " : "( ) ") + text + "\n";
      break;
    case ControlKind::kGroupBox:
      out += "|   -- " + text + " --\n";
      break;
    case ControlKind::kListBox:
    case ControlKind::kComboBox:
      out += "| " + key + (c.control == ControlKind::kListBox ? "list" : "choice") + ":\n";
      for (std::size_t i = 0; i < c.items.size(); ++i) {
        out += "|       " + std::string(static_cast<int>(i) == c.selection ? "> " : "  ") +
               std::to_string(i + 1) + ". " + to_terminal(c.items[i]) + "\n";
      }
      break;
    case ControlKind::kProgressBar: {
      const int span = std::max(1, c.range_max - c.range_min);
      const int filled = std::clamp((c.pos - c.range_min) * 30 / span, 0, 30);
      out += "|   [" + std::string(filled, '#') + std::string(30 - filled, '.') + "] " +
             std::to_string((c.pos - c.range_min) * 100 / span) + "%\n";
      break;
    }
  }
}

// The controls of `w`, numbering those that answer keys.
void render_controls_locked(Window& w, ConsoleView& view, bool mark_drawn) {
  for (const auto& c : children_locked(w)) {
    if (c->kind != WindowKind::kControl) continue;
    if (mark_drawn) c->dirty = false;
    if (!c->visible) continue;
    std::string key = "    ";
    if (answers_keys(*c)) {
      view.inputs.push_back(c);
      char label[16];
      std::snprintf(label, sizeof label, c->enabled ? "[%zu] " : "(%zu) ", view.inputs.size());
      key = label;
    }
    render_control_locked(*c, key, view.text);
  }
}

}  // namespace

std::string to_terminal(const std::string& ansi) {
  std::string out = sx::codepage::ansi_to_utf8(ansi);
  std::erase(out, '\r');
  return out;
}

bool changed_since_drawn_locked(const Window& w) {
  if (w.dirty) return true;
  for (const auto& c : children_locked(w)) {
    if (c->kind == WindowKind::kDialog ? c->visible && changed_since_drawn_locked(*c) : c->dirty) {
      return true;
    }
  }
  return false;
}

std::vector<std::shared_ptr<Window>> changed_modeless_dialogs(const ThreadQueue& queue) {
  std::vector<std::shared_ptr<Window>> due;
  Guard guard = sx::kernel::lock();
  for (auto& w : all_windows_locked()) {
    if (w->owner.get() == &queue && w->kind == WindowKind::kDialog && !w->modal && !w->child &&
        w->visible && changed_since_drawn_locked(*w)) {
      due.push_back(w);
    }
  }
  return due;
}

ConsoleView render_for_console(const std::shared_ptr<Window>& w, bool mark_drawn) {
  ConsoleView view;
  HMENU menu = nullptr, system_menu = nullptr;
  {
    Guard guard = sx::kernel::lock();
    if (w->destroyed || w->kind != WindowKind::kDialog) return view;
    menu = w->menu;
    system_menu = w->system_menu;
  }
  // Menus are read without the window lock (they have their own).
  const std::vector<std::string> menu_lines = describe_menu(menu, "m", &view.menu_ids);
  const std::vector<std::string> system_lines = describe_menu(system_menu, "s", &view.system_ids);

  Guard guard = sx::kernel::lock();
  if (w->destroyed) return {};
  std::string& out = view.text;
  out = "\n+-- " + to_terminal(w->text) + " " + std::string(20, '-') + "\n";
  for (const std::string& line : menu_lines) out += "| " + to_terminal(line) + "\n";
  for (const std::string& line : system_lines) {
    out += "| Window menu:" + to_terminal(line) + "\n";
  }
  if (!menu_lines.empty() || !system_lines.empty()) out += "|" + std::string(24, '-') + "\n";
  // A shown child dialog (the current page of a property sheet) comes first, under its title.
  for (const auto& page : children_locked(*w)) {
    if (page->kind != WindowKind::kDialog) continue;
    if (mark_drawn) page->dirty = false;
    if (!page->visible) continue;
    out += "|  == " + to_terminal(page->text) + " ==\n";
    render_controls_locked(*page, view, mark_drawn);
    out += "|\n";
  }
  render_controls_locked(*w, view, mark_drawn);
  if (mark_drawn) w->dirty = false;
  if (w->modal) {
    out += "+-- number = press/toggle, \"number text\" = type or pick, Enter = default";
    if (!view.menu_ids.empty()) out += ", mN = menu";
    if (!view.system_ids.empty()) out += ", sN = window menu";
    out += ", q = close\n> ";
  } else {
    out += "+" + std::string(24, '-') + "\n";
  }
  return view;
}

}  // namespace sx::window::detail

namespace sx::window {

std::string console_render(HWND dialog) {
  auto w = detail::find(dialog);
  return w ? detail::render_for_console(w, false).text : std::string();
}

}  // namespace sx::window
