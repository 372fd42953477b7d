// Window geometry: system metrics, window and client rectangles, dialog units, SetWindowPos and
// MoveWindow.
#include <algorithm>

#include "boundary.h"
#include "core.h"

namespace sx::window::detail {
namespace {

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
constexpr int kCaption = 19;
constexpr int kMenuBar = 19;
constexpr int kDialogFrame = 3;
constexpr int kSizingFrame = 4;
constexpr int kBorder = 1;
constexpr int kIconSide = 32;
constexpr int kBaseUnitX = 6;  // MS Sans Serif 8 at 96 dpi
constexpr int kBaseUnitY = 13;
constexpr LONG kThickFrame = 0x00040000L;        // WS_THICKFRAME
constexpr LONG kDialogFrameStyle = 0x00400000L;  // WS_DLGFRAME

struct Frame {
  int side = 0;  // left, right and bottom border
  int top = 0;   // border, caption and menu bar above the client area
};

Frame frame_of(const Window& w) {
  Frame f;
  const DWORD style = w.style;
  if (style & kThickFrame) {
    f.side = kSizingFrame;
  } else if ((style & kDialogFrameStyle) ||
             (w.kind == WindowKind::kDialog && (style & DS_MODALFRAME))) {
    f.side = kDialogFrame;
  } else if (style & WS_BORDER) {
    f.side = kBorder;
  }
  f.top = f.side;
  if ((style & WS_CAPTION) == WS_CAPTION) f.top += kCaption;
  if (w.menu != nullptr && !w.child) f.top += kMenuBar;
  return f;
}

}  // namespace

int dialog_x_to_pixels(int units) { return units * kBaseUnitX / 4; }
int dialog_y_to_pixels(int units) { return units * kBaseUnitY / 8; }

RECT client_rect_locked(const Window& w) {
  if (w.iconic) return {0, 0, kIconSide, kIconSide};
  const Frame f = frame_of(w);
  const LONG width = std::max<LONG>(0, w.rect.right - w.rect.left - 2 * f.side);
  const LONG height = std::max<LONG>(0, w.rect.bottom - w.rect.top - f.top - f.side);
  return {0, 0, width, height};
}

POINT client_origin_locked(const Window& w) {
  const Frame f = frame_of(w);
  POINT origin{w.rect.left + f.side, w.rect.top + f.top};
  if (w.child) {
    if (auto parent = find_locked(w.parent)) {
      const POINT p = client_origin_locked(*parent);
      origin.x += p.x;
      origin.y += p.y;
    }
  }
  return origin;
}

void place_dialog_locked(Window& dialog, const DialogTemplate& t, const Window* owner) {
  const int width = dialog_x_to_pixels(t.cx);
  const int height = dialog_y_to_pixels(t.cy);
  dialog.rect = {0, 0, width, height};
  const Frame f = frame_of(dialog);
  const LONG outer_width = width + 2 * f.side;
  const LONG outer_height = height + f.top + f.side;
  POINT at{dialog_x_to_pixels(t.x), dialog_y_to_pixels(t.y)};
  if (dialog.child) {
    // A child dialog (a property page) sits at its position in the parent's client area.
  } else if (t.style & DS_CENTER) {
    at = {(kScreenWidth - outer_width) / 2, (kScreenHeight - outer_height) / 2};
  } else if (owner != nullptr) {
    const POINT origin = client_origin_locked(*owner);
    at.x += origin.x;
    at.y += origin.y;
  }
  dialog.rect = {at.x, at.y, at.x + outer_width, at.y + outer_height};
}

}  // namespace sx::window::detail

using namespace sx::window::detail;

extern "C" {

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
      return kScreenWidth;
    case SM_CYSCREEN:
      return kScreenHeight;
    case SM_CYCAPTION:
      return kCaption;
    case SM_CXBORDER:
    case SM_CYBORDER:
      return kBorder;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
      return kDialogFrame;
    case SM_CXFRAME:
    case SM_CYFRAME:
      return kSizingFrame;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR:
      return kIconSide;
    case SM_CYMENU:
      return kMenuBar;
    case SM_CXSMICON:
    case SM_CYSMICON:
      return 16;
  }
  return 0;
}

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
  return guarded<BOOL>("GetWindowRect", FALSE, [&] {
    return with_window<BOOL>(hwnd, FALSE, [&](Window& w) {
      if (rect == nullptr) return FALSE;
      *rect = w.rect;
      if (auto parent = w.child ? find_locked(w.parent) : nullptr) {
        const POINT origin = client_origin_locked(*parent);
        *rect = {rect->left + origin.x, rect->top + origin.y, rect->right + origin.x,
                 rect->bottom + origin.y};
      }
      return TRUE;
    });
  });
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
  return guarded<BOOL>("GetClientRect", FALSE, [&] {
    return with_window<BOOL>(hwnd, FALSE, [&](Window& w) {
      if (rect == nullptr) return FALSE;
      *rect = client_rect_locked(w);
      return TRUE;
    });
  });
}

BOOL SetWindowPos(HWND hwnd, HWND insert_after, int x, int y, int cx, int cy, UINT flags) {
  return guarded<BOOL>("SetWindowPos", FALSE, [&]() -> BOOL {
    const BOOL found = with_window<BOOL>(hwnd, FALSE, [&](Window& window) {
      Window* w = &window;
      RECT& r = w->rect;
      const bool sized =
          !(flags & SWP_NOSIZE) && (cx != r.right - r.left || cy != r.bottom - r.top);
      if (!(flags & SWP_NOMOVE)) {
        r = {x, y, x + (r.right - r.left), y + (r.bottom - r.top)};
      }
      if (!(flags & SWP_NOSIZE)) {
        r.right = r.left + std::max(0, cx);
        r.bottom = r.top + std::max(0, cy);
      }
      if (!(flags & SWP_NOZORDER)) {
        if (insert_after == HWND_TOPMOST) w->ex_style |= WS_EX_TOPMOST;
        if (insert_after == HWND_NOTOPMOST) w->ex_style &= ~static_cast<DWORD>(WS_EX_TOPMOST);
      }
      if (sized && !(flags & SWP_NOREDRAW)) invalidate_tree_locked(*w);
      w->dirty = true;
      return TRUE;
    });
    if (!found) return FALSE;
    if (flags & SWP_SHOWWINDOW) ShowWindow(hwnd, SW_SHOWNA);
    if (flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
    return TRUE;
  });
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL MapDialogRect(HWND dialog, RECT* rect) {
  if (rect == nullptr || !IsWindow(dialog)) return FALSE;
  *rect = {dialog_x_to_pixels(rect->left), dialog_y_to_pixels(rect->top),
           dialog_x_to_pixels(rect->right), dialog_y_to_pixels(rect->bottom)};
  return TRUE;
}

}  // extern "C"
