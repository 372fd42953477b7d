// The web host: the machine's page (`sxmachine view`) draws the dialogs, message boxes, wizards and
// progress windows of a process, and the person answers them there. While a window is up its
// description is kept in <root>/view/windows/ (sx/web_windows.h) whenever it changed, and what the
// person did arrives in <root>/view/input/, read in 50 ms slices so that timers and other threads'
// messages go on meanwhile. Clicks, typing and picks are delivered as the console host delivers
// them (act_on_control); "close" is WM_CLOSE.
//
// Without an open page, and when the page is closed while a dialog is up, the dialog is left to
// the none host: its timers run out, and one that still needs an answer is cancelled.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "console_render.h"
#include "core.h"
#include "sx/clock.h"
#include "sx/web_windows.h"
#include "win32/codepage.h"

namespace sx::window::detail {
namespace {

using nlohmann::json;
namespace web = sx::window::web;

constexpr std::int64_t kSliceMs = 50;

std::string name_of(HWND hwnd) {
  char name[48];
  std::snprintf(name, sizeof name, "%ld-%llx", static_cast<long>(::getpid()),
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(hwnd)));
  return name;
}

std::string utf8(const std::string& ansi) { return sx::codepage::ansi_to_utf8(ansi); }

const char* class_of(ControlKind kind) {
  switch (kind) {
    case ControlKind::kStatic: return "static";
    case ControlKind::kEdit: return "edit";
    case ControlKind::kButton: return "button";
    case ControlKind::kDefaultButton: return "button";
    case ControlKind::kCheckBox: return "checkbox";
    case ControlKind::kRadioButton: return "radio";
    case ControlKind::kGroupBox: return "groupbox";
    case ControlKind::kListBox: return "listbox";
    case ControlKind::kComboBox: return "combobox";
    case ControlKind::kProgressBar: return "progress";
  }
  return "static";
}

json colour(COLORREF c) {
  if (c == CLR_INVALID) return nullptr;
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", GetRValue(c), GetGValue(c), GetBValue(c));
  return text;
}

// Pixels back to dialog units (base units 6 x 13), for the page's readers: the template's own
// numbers, as dialog_x_to_pixels and dialog_y_to_pixels round down and these round up.
int x_units(int pixels) { return (pixels * 4 + 5) / 6; }
int y_units(int pixels) { return (pixels * 8 + 12) / 13; }

// The controls of `w` and of its shown child dialogs (a wizard's current page), at their places
// from the top window's client area. Lock held; marks them drawn.
void controls_locked(Window& w, int dx, int dy, json* out) {
  for (const auto& c : children_locked(w)) {
    c->dirty = false;
    if (c->kind == WindowKind::kDialog) {
      if (c->visible) controls_locked(*c, dx + c->rect.left, dy + c->rect.top, out);
      continue;
    }
    if (c->kind != WindowKind::kControl) continue;
    const int x = dx + c->rect.left, y = dy + c->rect.top;
    const int cx = c->rect.right - c->rect.left, cy = c->rect.bottom - c->rect.top;
    json control{{"handle", reinterpret_cast<std::uintptr_t>(c->hwnd)},
                 {"id", c->id},
                 {"class", class_of(c->control)},
                 {"text", utf8(c->text)},
                 {"x", x}, {"y", y}, {"cx", cx}, {"cy", cy},
                 {"du", {x_units(x), y_units(y), x_units(cx), y_units(cy)}},
                 {"enabled", c->enabled},
                 {"visible", c->visible},
                 {"default", c->control == ControlKind::kDefaultButton},
                 {"checked", c->check == BST_CHECKED},
                 {"multiline", (c->style & ES_MULTILINE) != 0},
                 {"readonly", (c->style & ES_READONLY) != 0}};
    if (c->control == ControlKind::kListBox || c->control == ControlKind::kComboBox) {
      json items = json::array();
      for (const auto& item : c->items) items.push_back(utf8(item));
      control["items"] = std::move(items);
      control["selection"] = c->selection;
    }
    if (c->control == ControlKind::kProgressBar) {
      control["pos"] = c->pos;
      control["min"] = c->range_min;
      control["max"] = c->range_max;
    }
    if (c->custom_colours) {
      control["colour"] = colour(c->text_colour);
      // The text's own background where the control set one (the status screen's rows), else
      // the brush it painted with, as the console host shows it.
      control["background"] = colour(c->background_colour != CLR_INVALID ? c->background_colour
                                                                           : c->brush_colour);
    }
    out->push_back(std::move(control));
  }
}

json describe(const std::shared_ptr<Window>& w) {
  Guard guard = sx::kernel::lock();
  w->dirty = false;
  const RECT client = client_rect_locked(*w);
  json controls = json::array();
  controls_locked(*w, 0, 0, &controls);
  return json{{"name", name_of(w->hwnd)},
              {"pid", ::getpid()},
              {"program", program_invocation_short_name},
              {"title", utf8(w->text)},
              {"kind", w->is_message_box ? "message box" : w->modal ? "dialog" : "progress"},
              {"modal", w->modal},
              {"width", client.right},
              {"height", client.bottom},
              {"controls", std::move(controls)}};
}

void publish(const std::shared_ptr<Window>& w) {
  try {
    const json value = describe(w);
    std::error_code ec;
    std::filesystem::create_directories(web::windows_folder(), ec);
    const auto file = web::windows_folder() / (name_of(w->hwnd) + ".json");
    const auto temporary = web::windows_folder() / (".tmp-" + name_of(w->hwnd));
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      out << value.dump(-1, ' ', false, json::error_handler_t::replace);
      if (!out) return;
    }
    std::filesystem::rename(temporary, file, ec);
  } catch (const std::exception& e) {
    report("cannot show dialog \"%s\" in the page: %s", w->text.c_str(), e.what());
  }
}

void withdraw(HWND hwnd) {
  std::error_code ec;
  std::filesystem::remove(web::windows_folder() / (name_of(hwnd) + ".json"), ec);
  std::filesystem::remove(web::input_folder() / (name_of(hwnd) + ".jsonl"), ec);
}

// Whether `control` is `top` or lies within it. Lock held.
bool within_locked(HWND control, HWND top) {
  for (auto c = find_locked(control); c; c = c->child ? find_locked(c->parent) : nullptr) {
    if (c->hwnd == top) return true;
  }
  return false;
}

// What the person did since the last look, delivered in order. The server only ever appends whole
// lines to the window's input file; `*taken` is how far this window has read it, so that nothing
// appended while it reads is lost. A line not yet ended is left for the next look.
void take_input(const std::shared_ptr<Window>& w, std::uintmax_t* taken) {
  const auto file = web::input_folder() / (name_of(w->hwnd) + ".jsonl");
  std::ifstream in(file, std::ios::binary);
  if (!in || !in.seekg(static_cast<std::streamoff>(*taken))) return;
  std::string line;
  while (std::getline(in, line)) {
    if (in.eof()) break;  // no line end yet
    *taken += line.size() + 1;
    const auto input = web::parse_window_input(line);
    if (!input) continue;
    if (input->kind == web::WindowInput::Kind::kClose) {
      SendMessageA(w->hwnd, WM_CLOSE, 0, 0);
      continue;
    }
    const HWND control = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(input->handle));
    int id = 0;
    {
      Guard guard = sx::kernel::lock();
      auto c = find_locked(control);
      if (!c || c->kind != WindowKind::kControl || !within_locked(control, w->hwnd) ||
          !c->enabled || !c->visible) {
        continue;
      }
      id = c->id;
    }
    switch (input->kind) {
      case web::WindowInput::Kind::kType:
        act_on_control(control, type(id, sx::codepage::utf8_to_ansi(input->text)));
        break;
      case web::WindowInput::Kind::kSelect:
        act_on_control(control, select(id, input->index));
        break;
      default:
        act_on_control(control, click(id));
        break;
    }
  }
}

}  // namespace

void run_modal_web(const std::shared_ptr<Window>& w) {
  auto done = [&] { return w->ended || w->destroyed; };
  if (pump(done, sx::clock::now_ms(), false) == PumpResult::kDone) return;
  if (!web::page_open()) {
    run_modal_none(w);
    return;
  }
  // Input left behind for a window of an earlier process with the same name is not this one's.
  std::error_code ec;
  std::filesystem::remove(web::input_folder() / (name_of(w->hwnd) + ".jsonl"), ec);
  publish(w);
  std::uintmax_t taken = 0;
  bool quit = false;
  for (;;) {
    const PumpResult r = pump(done, sx::clock::now_ms() + kSliceMs, false);
    if (r == PumpResult::kDone) break;
    if (r == PumpResult::kQuit) {
      quit = true;
      break;
    }
    // A page closed while the dialog is up leaves it to its timers, as nobody answers it.
    if (!web::page_open()) break;
    take_input(w, &taken);
    bool changed = false;
    {
      Guard guard = sx::kernel::lock();
      changed = !w->destroyed && changed_since_drawn_locked(*w);
    }
    if (changed) publish(w);
  }
  withdraw(w->hwnd);
  bool ended = false;
  {
    Guard guard = sx::kernel::lock();
    ended = w->ended || w->destroyed;
  }
  if (!ended || quit) run_modal_none(w);
}

void web_show_modeless(const std::shared_ptr<Window>& w) {
  if (web::page_open()) publish(w);
}

void web_refresh(const ThreadQueue& queue) {
  static thread_local std::chrono::steady_clock::time_point last;
  const auto now = std::chrono::steady_clock::now();
  if (now - last < std::chrono::milliseconds(kSliceMs)) return;
  last = now;
  const std::vector<std::shared_ptr<Window>> due = changed_modeless_dialogs(queue);
  if (due.empty() || !web::page_open()) return;
  for (auto& w : due) publish(w);
}

void web_window_gone(HWND hwnd) { withdraw(hwnd); }

}  // namespace sx::window::detail
