// The paint cycle: update regions, WM_PAINT from the queue, BeginPaint/EndPaint, the erase and
// colour messages with their default answers, and the paint of the built-in controls.
#include <algorithm>

#include "../gdi/objects.h"
#include "boundary.h"
#include "core.h"
#include "drawing_record.h"
#include "sx/clock.h"

namespace sx::window::detail {
namespace {

bool empty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

RECT intersect(const RECT& a, const RECT& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
}

RECT unite(const RECT& a, const RECT& b) {
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

bool in_tree_locked(const Window& w, HWND root) {
  for (const Window* p = &w;;) {
    if (p->hwnd == root) return true;
    if (!p->child) return false;
    auto parent = find_locked(p->parent);
    if (!parent) return false;
    p = parent.get();
  }
}

// What a control asks its dialog for its colours.
UINT colour_message(const Window& c) {
  switch (c.control) {
    case ControlKind::kEdit:
      return (c.style & ES_READONLY) || !c.enabled ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT;
    case ControlKind::kButton:
    case ControlKind::kDefaultButton:
      return WM_CTLCOLORBTN;
    case ControlKind::kListBox:
    case ControlKind::kComboBox:
      return WM_CTLCOLORLISTBOX;
    default:
      return WM_CTLCOLORSTATIC;
  }
}

// The system colour behind what a WM_CTLCOLOR* message paints by default.
int default_background(UINT msg) {
  return msg == WM_CTLCOLOREDIT || msg == WM_CTLCOLORLISTBOX ? COLOR_WINDOW : COLOR_3DFACE;
}

// Fills the client area with `brush` for an erase message and records it; false without a brush.
bool erase_with(const std::shared_ptr<Window>& w, HBRUSH brush) {
  auto colour = sx::gdi::brush_colour(brush);
  if (!colour) return false;
  Drawing drawing;
  drawing.kind = Drawing::Kind::kErase;
  drawing.window = w->hwnd;
  drawing.brush_colour = *colour;
  {
    Guard guard = sx::kernel::lock();
    drawing.rect = client_rect_locked(*w);
  }
  record_drawing(std::move(drawing));
  return true;
}

}  // namespace

bool shown_locked(const Window& w) {
  for (const Window* p = &w;;) {
    if (!p->visible || p->destroyed) return false;
    if (!p->child) return true;
    auto parent = find_locked(p->parent);
    if (!parent) return false;
    p = parent.get();
  }
}

void invalidate_locked(Window& w, const RECT* rect, bool erase) {
  if (w.destroyed) return;
  w.dirty = true;
  const RECT client = client_rect_locked(w);
  const RECT area = rect != nullptr ? intersect(*rect, client) : client;
  if (empty(area)) return;
  // The region stays inside the client area (which may have shrunk since).
  w.update = w.needs_paint ? intersect(unite(w.update, area), client) : area;
  w.needs_paint = true;
  w.needs_erase = w.needs_erase || erase;
  auto& list = w.owner->unpainted;
  if (std::find(list.begin(), list.end(), w.hwnd) == list.end()) list.push_back(w.hwnd);
  // Only the owner's message wait looks at what its windows need painted. A thread that changes
  // its own window is not waiting, and waking every waiter of the process for it would cost each
  // of them a wake-up (a progress window updated per record would wake them all per record).
  if (!is_current_queue(w.owner.get())) sx::kernel::notify_all();
}

void invalidate_tree_locked(Window& w) {
  invalidate_locked(w, nullptr, true);
  for (auto& child : children_locked(w)) invalidate_tree_locked(*child);
}

HWND next_to_paint_locked(ThreadQueue& queue, HWND filter) {
  auto& list = queue.unpainted;
  for (auto it = list.begin(); it != list.end();) {
    auto w = find_locked(*it);
    if (!w || !w->needs_paint) {
      it = list.erase(it);
      continue;
    }
    if (shown_locked(*w) && (filter == nullptr || in_tree_locked(*w, filter))) {
      // A parent paints before its children, as on Windows.
      std::shared_ptr<Window> first = w;
      for (auto p = w; p->child;) {
        p = find_locked(p->parent);
        if (!p) break;
        if (p->needs_paint && (filter == nullptr || in_tree_locked(*p, filter))) first = p;
      }
      return first->hwnd;
    }
    ++it;
  }
  return nullptr;
}

LRESULT dispatch_paint(const std::shared_ptr<Window>& w, WPARAM wparam, LPARAM lparam) {
  {
    Guard guard = sx::kernel::lock();
    w->validated_in_paint = false;
  }
  LRESULT result = 0;
  switch (w->kind) {
    case WindowKind::kDialog:
      result = dialog_proc(w, WM_PAINT, wparam, lparam);
      break;
    case WindowKind::kControl:
      result = control_proc(w, WM_PAINT, wparam, lparam);
      break;
    case WindowKind::kClassWindow:
      try {
        result = w->wndproc != nullptr ? w->wndproc(w->hwnd, WM_PAINT, wparam, lparam)
                                       : default_proc(w, WM_PAINT, wparam, lparam);
      } catch (...) {
        report("window procedure of class \"%s\" threw on WM_PAINT", w->class_name.c_str());
      }
      break;
  }
  Guard guard = sx::kernel::lock();
  if (!w->validated_in_paint && w->needs_paint && !w->destroyed) {
    report("window \"%s\" (class \"%s\") left WM_PAINT without BeginPaint; its region is emptied",
           w->text.c_str(), w->class_name.c_str());
    w->needs_paint = false;
    w->needs_erase = false;
  }
  return result;
}

void paint_control(const std::shared_ptr<Window>& c) {
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(c->hwnd, &paint);
  if (dc == nullptr) return;
  HWND parent = nullptr;
  UINT msg = 0;
  Drawing drawing;
  drawing.kind = Drawing::Kind::kControl;
  drawing.window = c->hwnd;
  bool enabled = true;
  {
    Guard guard = sx::kernel::lock();
    parent = c->parent;
    msg = colour_message(*c);
    drawing.text = c->text;
    drawing.rect = client_rect_locked(*c);
    enabled = c->enabled;
  }
  // Progress bars draw in their own colours and ask nobody.
  const bool asks = c->control != ControlKind::kProgressBar;
  HBRUSH brush =
      asks ? reinterpret_cast<HBRUSH>(SendMessageA(parent, msg, reinterpret_cast<WPARAM>(dc),
                                                   reinterpret_cast<LPARAM>(c->hwnd)))
           : GetSysColorBrush(COLOR_3DFACE);
  if (auto state = sx::gdi::dc_state(dc)) {
    drawing.text_colour = enabled ? state->text : GetSysColor(COLOR_GRAYTEXT);
    drawing.background_colour = state->bk_mode == TRANSPARENT ? CLR_INVALID : state->back;
  }
  auto brush_colour = sx::gdi::brush_colour(brush);
  drawing.brush_colour = brush_colour.value_or(CLR_INVALID);
  {
    Guard guard = sx::kernel::lock();
    const int background = default_background(msg);
    c->custom_colours = drawing.text_colour != GetSysColor(COLOR_WINDOWTEXT) ||
                        drawing.background_colour != GetSysColor(background) ||
                        drawing.brush_colour != GetSysColor(background);
    if (c->text_colour != drawing.text_colour ||
        c->background_colour != drawing.background_colour ||
        c->brush_colour != drawing.brush_colour) {
      c->dirty = true;  // the console shows the new colours
    }
    c->text_colour = drawing.text_colour;
    c->background_colour = drawing.background_colour;
    c->brush_colour = drawing.brush_colour;
  }
  record_drawing(std::move(drawing));
  EndPaint(c->hwnd, &paint);
}

bool default_paint_message(const std::shared_ptr<Window>& w, UINT msg, WPARAM wparam, LPARAM lparam,
                           LRESULT* result) {
  HWND hwnd = w->hwnd;
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      if (BeginPaint(hwnd, &paint) != nullptr) EndPaint(hwnd, &paint);
      *result = 0;
      return true;
    }
    case WM_ERASEBKGND:
    case WM_ICONERASEBKGND: {
      HBRUSH brush = nullptr;
      if (w->kind == WindowKind::kDialog) {
        // A dialog asks itself, as DefDlgProc does.
        brush = reinterpret_cast<HBRUSH>(
            SendMessageA(hwnd, WM_CTLCOLORDLG, wparam, reinterpret_cast<LPARAM>(hwnd)));
      } else {
        Guard guard = sx::kernel::lock();
        brush = w->class_background;
      }
      *result = erase_with(w, brush) ? 1 : 0;
      return true;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wparam);
      const int background = default_background(msg);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(dc, GetSysColor(background));
      *result = reinterpret_cast<LRESULT>(GetSysColorBrush(background));
      return true;
    }
    case WM_SETICON:
    case WM_GETICON: {
      Guard guard = sx::kernel::lock();
      HICON& slot = wparam == ICON_BIG ? w->big_icon : w->small_icon;
      *result = reinterpret_cast<LRESULT>(slot);
      if (msg == WM_SETICON) slot = reinterpret_cast<HICON>(lparam);
      return true;
    }
    case WM_SYSCOMMAND:
      *result = 0;
      switch (wparam & 0xFFF0) {
        case SC_CLOSE:
          SendMessageA(hwnd, WM_CLOSE, 0, 0);
          break;
        case SC_MINIMIZE:
          ShowWindow(hwnd, SW_MINIMIZE);
          break;
        case SC_RESTORE:
          ShowWindow(hwnd, SW_RESTORE);
          break;
      }
      return true;
  }
  return false;
}

}  // namespace sx::window::detail

using namespace sx::window::detail;
using sx::window::Drawing;

extern "C" {

HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
  return guarded<HDC>("BeginPaint", nullptr, [&]() -> HDC {
    if (paint == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    std::shared_ptr<Window> w;
    bool erase = false;
    bool iconic = false;
    *paint = PAINTSTRUCT{};
    {
      Guard guard = sx::kernel::lock();
      w = find_locked(hwnd);
      if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
      if (w->needs_paint) paint->rcPaint = w->update;
      erase = w->needs_erase;
      iconic = w->iconic;
      w->needs_paint = false;
      w->needs_erase = false;
      w->validated_in_paint = true;
    }
    HDC dc = sx::gdi::create_dc(hwnd);
    paint->hdc = dc;
    paint->fErase = TRUE;
    if (erase) {
      const LRESULT erased = SendMessageA(hwnd, iconic ? WM_ICONERASEBKGND : WM_ERASEBKGND,
                                          reinterpret_cast<WPARAM>(dc), 0);
      paint->fErase = erased == 0 ? TRUE : FALSE;
    } else {
      paint->fErase = FALSE;
    }
    return dc;
  });
}

BOOL EndPaint(HWND, const PAINTSTRUCT* paint) {
  return guarded<BOOL>("EndPaint", FALSE, [&]() -> BOOL {
    if (paint != nullptr) sx::gdi::delete_dc(paint->hdc);
    return TRUE;
  });
}

BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
  return guarded<BOOL>("InvalidateRect", FALSE, [&] {
    return with_window<BOOL>(hwnd, FALSE, [&](Window& w) {
      invalidate_locked(w, rect, erase != FALSE);
      return TRUE;
    });
  });
}

BOOL ValidateRect(HWND hwnd, const RECT* rect) {
  return guarded<BOOL>("ValidateRect", FALSE, [&] {
    return with_window<BOOL>(hwnd, FALSE, [&](Window& w) {
      w.validated_in_paint = true;
      // A rectangle that covers the whole update region empties it; a smaller one leaves it (the
      // region is kept as one rectangle).
      if (rect == nullptr ||
          (w.needs_paint && rect->left <= w.update.left && rect->top <= w.update.top &&
           rect->right >= w.update.right && rect->bottom >= w.update.bottom)) {
        w.needs_paint = false;
        w.needs_erase = false;
      }
      return TRUE;
    });
  });
}

BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL) {
  return guarded<BOOL>("GetUpdateRect", FALSE, [&] {
    return with_window<BOOL>(hwnd, FALSE, [&](Window& w) {
      if (rect != nullptr) *rect = w.needs_paint ? w.update : RECT{};
      return w.needs_paint ? TRUE : FALSE;
    });
  });
}

BOOL UpdateWindow(HWND hwnd) {
  return guarded<BOOL>("UpdateWindow", FALSE, [&]() -> BOOL {
    bool paint = false;
    {
      Guard guard = sx::kernel::lock();
      auto w = find_locked(hwnd);
      if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
      }
      paint = w->needs_paint && shown_locked(*w);
    }
    if (paint) SendMessageA(hwnd, WM_PAINT, 0, 0);
    return TRUE;
  });
}

BOOL IsIconic(HWND hwnd) {
  Guard guard = sx::kernel::lock();
  auto w = find_locked(hwnd);
  return w && w->iconic ? TRUE : FALSE;
}

HDC GetDC(HWND hwnd) {
  return guarded<HDC>("GetDC", nullptr, [&]() -> HDC {
    if (hwnd != nullptr && !find(hwnd)) return nullptr;
    return sx::gdi::create_dc(hwnd);
  });
}

int ReleaseDC(HWND, HDC dc) {
  return guarded<int>("ReleaseDC", 0, [&] { return sx::gdi::delete_dc(dc) ? 1 : 0; });
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  return guarded<int>("FillRect", 0, [&]() -> int {
    auto state = sx::gdi::dc_state(dc);
    if (!state || rect == nullptr) return 0;
    if (sx::gdi::is_hollow_brush(brush)) return 1;  // paints nothing
    auto colour = sx::gdi::brush_colour(brush);
    if (!colour) return 0;
    Drawing drawing;
    drawing.kind = Drawing::Kind::kFill;
    drawing.window = state->window;
    drawing.rect = *rect;
    drawing.brush_colour = *colour;
    record_drawing(std::move(drawing));
    return 1;
  });
}

}  // extern "C"
