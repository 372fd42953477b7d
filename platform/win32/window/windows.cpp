// Window state functions, window classes and FindWindowA.
#include <strings.h>
#include <algorithm>
#include <map>
#include <string>

#include "boundary.h"
#include "core.h"
#include "sx/clock.h"

using namespace sx::window::detail;

namespace sx::window::detail {

LRESULT default_proc(const std::shared_ptr<Window>& window, UINT msg, WPARAM wparam,
                     LPARAM lparam) {
  LRESULT result = 0;
  if (default_paint_message(window, msg, wparam, lparam, &result)) return result;
  switch (msg) {
    case WM_SETTEXT: {
      const char* text = reinterpret_cast<const char*>(lparam);
      bool top_level = false;
      {
        Guard guard = sx::kernel::lock();
        window->text = text != nullptr ? text : "";
        if (window->child) {
          invalidate_locked(*window, nullptr, true);
        } else {
          window->dirty = true;  // the caption is not part of the client area
        }
        top_level = !window->child && !window->published.empty();
      }
      if (top_level) publish(*window);
      return TRUE;
    }
    case WM_GETTEXT: {
      Guard guard = sx::kernel::lock();
      return copy_text(window->text, reinterpret_cast<char*>(lparam), wparam);
    }
    case WM_GETTEXTLENGTH: {
      Guard guard = sx::kernel::lock();
      return static_cast<LRESULT>(window->text.size());
    }
    case WM_CLOSE:
      if (window->kind == WindowKind::kClassWindow) DestroyWindow(window->hwnd);
      return 0;
    default:
      return 0;
  }
}

}  // namespace sx::window::detail

namespace {

struct WindowClass {
  WNDPROC proc = nullptr;
  HINSTANCE module = nullptr;
  HBRUSH background = nullptr;
  HCURSOR cursor = nullptr;
};

// Registered classes by lower-case name. Guarded by the kernel lock.
std::map<std::string, WindowClass>& classes() {
  static auto* c = new std::map<std::string, WindowClass>();
  return *c;
}

std::string lower(const char* s) {
  std::string r = s != nullptr ? s : "";
  for (char& c : r) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
  return r;
}

HWND g_foreground = nullptr;  // guarded by the kernel lock

}  // namespace

extern "C" {

BOOL IsWindow(HWND hwnd) {
  return guarded<BOOL>("IsWindow", FALSE, [&]() -> BOOL {
    {
      Guard guard = sx::kernel::lock();
      if (find_locked(hwnd)) return TRUE;
    }
    return !is_own_handle(hwnd) && foreign_window_exists(hwnd) ? TRUE : FALSE;
  });
}

BOOL IsWindowVisible(HWND hwnd) {
  Guard guard = sx::kernel::lock();
  auto w = find_locked(hwnd);
  return w && w->visible ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hwnd) {
  Guard guard = sx::kernel::lock();
  auto w = find_locked(hwnd);
  return w && w->enabled ? TRUE : FALSE;
}

BOOL ShowWindow(HWND hwnd, int command) {
  return guarded<BOOL>("ShowWindow", FALSE, [&]() -> BOOL {
    auto w = find(hwnd);
    if (!w) return FALSE;
    bool was_visible = false;
    bool show_modeless = false;
    {
      Guard guard = sx::kernel::lock();
      was_visible = w->visible;
      const bool was_iconic = w->iconic;
      w->visible = command != SW_HIDE;
      if (command == SW_MINIMIZE || command == SW_SHOWMINIMIZED || command == SW_SHOWMINNOACTIVE) {
        w->iconic = !w->child;
      } else if (command == SW_SHOWNORMAL || command == SW_RESTORE || command == SW_SHOWMAXIMIZED) {
        w->iconic = false;
      }
      w->dirty = true;
      if (w->visible && (!was_visible || w->iconic != was_iconic)) invalidate_tree_locked(*w);
      if (!w->visible && was_visible && w->child) {
        // What the child covered shows its parent again.
        if (auto parent = find_locked(w->parent)) {
          const RECT& r = w->rect;
          invalidate_locked(*parent, &r, true);
        }
      }
      show_modeless =
          w->visible && !was_visible && w->kind == WindowKind::kDialog && !w->modal && !w->child;
    }
    if (show_modeless && sx::window::host() == sx::window::Host::kConsole) {
      console_show_modeless(w);
    }
    if (show_modeless && sx::window::host() == sx::window::Host::kWeb) web_show_modeless(w);
    // A script for a modeless dialog is matched when it is first shown, with the title it has then.
    if (show_modeless && sx::window::host() == sx::window::Host::kScripted) {
      attach_modeless_script(w);
    }
    return was_visible ? TRUE : FALSE;
  });
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  return guarded<BOOL>("EnableWindow", FALSE, [&]() -> BOOL {
    auto w = find(hwnd);
    if (!w) return FALSE;
    bool was_disabled = false;
    {
      Guard guard = sx::kernel::lock();
      was_disabled = !w->enabled;
      w->enabled = enable != FALSE;
      if (w->enabled) {
        w->style &= ~static_cast<DWORD>(WS_DISABLED);
      } else {
        w->style |= WS_DISABLED;
      }
      if (was_disabled == w->enabled) invalidate_locked(*w, nullptr, true);
    }
    if (was_disabled == (enable != FALSE)) SendMessageA(hwnd, WM_ENABLE, enable, 0);
    return was_disabled ? TRUE : FALSE;
  });
}

HWND GetParent(HWND hwnd) {
  Guard guard = sx::kernel::lock();
  auto w = find_locked(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return w->parent;
}

BOOL SetForegroundWindow(HWND hwnd) {
  Guard guard = sx::kernel::lock();
  if (!find_locked(hwnd)) return FALSE;
  g_foreground = hwnd;
  return TRUE;
}

HWND GetForegroundWindow() {
  Guard guard = sx::kernel::lock();
  return find_locked(g_foreground) ? g_foreground : nullptr;
}

BOOL DestroyWindow(HWND hwnd) {
  return guarded<BOOL>("DestroyWindow", FALSE, [&] { return destroy(hwnd) ? TRUE : FALSE; });
}

BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
  return guarded<BOOL>("SetWindowTextA", FALSE, [&]() -> BOOL {
    if (!find(hwnd)) return FALSE;
    return SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0 ? TRUE : FALSE;
  });
}

int GetWindowTextA(HWND hwnd, LPSTR buffer, int max_count) {
  return guarded<int>("GetWindowTextA", 0, [&]() -> int {
    if (buffer != nullptr && max_count > 0) buffer[0] = '\0';
    if (!find(hwnd) || buffer == nullptr || max_count <= 0) return 0;
    return static_cast<int>(SendMessageA(hwnd, WM_GETTEXT, static_cast<WPARAM>(max_count),
                                         reinterpret_cast<LPARAM>(buffer)));
  });
}

int GetWindowTextLengthA(HWND hwnd) {
  return guarded<int>("GetWindowTextLengthA", 0, [&]() -> int {
    if (!find(hwnd)) return 0;
    return static_cast<int>(SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0));
  });
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
  Guard guard = sx::kernel::lock();
  auto w = find_locked(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (index) {
    case GWL_STYLE:
      return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE:
      return static_cast<LONG_PTR>(w->ex_style);
    case GWL_ID:
      return w->id;
    case GWLP_USERDATA:
      return w->userdata;
  }
  if (w->kind == WindowKind::kDialog) {
    switch (index) {
      case DWLP_MSGRESULT:
        return w->msg_result;
      case DWLP_DLGPROC:
        return reinterpret_cast<LONG_PTR>(w->dlgproc);
      case DWLP_USER:
        return w->dialog_user;
    }
  }
  SetLastError(ERROR_INVALID_PARAMETER);  // Windows: ERROR_INVALID_INDEX
  return 0;
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
  Guard guard = sx::kernel::lock();
  auto w = find_locked(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  LONG_PTR old = 0;
  auto swap = [&](auto& field, auto v) {
    old = static_cast<LONG_PTR>(field);
    field = v;
  };
  switch (index) {
    case GWL_STYLE:
      swap(w->style, static_cast<DWORD>(value));
      break;
    case GWL_EXSTYLE:
      swap(w->ex_style, static_cast<DWORD>(value));
      break;
    case GWL_ID:
      swap(w->id, static_cast<int>(value));
      break;
    case GWLP_USERDATA:
      swap(w->userdata, value);
      break;
    case DWLP_MSGRESULT:
      if (w->kind != WindowKind::kDialog) goto bad;
      swap(w->msg_result, value);
      break;
    case DWLP_USER:
      if (w->kind != WindowKind::kDialog) goto bad;
      swap(w->dialog_user, value);
      break;
    case DWLP_DLGPROC:
      if (w->kind != WindowKind::kDialog) goto bad;
      old = reinterpret_cast<LONG_PTR>(w->dlgproc);
      w->dlgproc = reinterpret_cast<DLGPROC>(value);
      break;
    default:
    bad:
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
  }
  return old;
}

ATOM RegisterClassA(const WNDCLASSA* wc) {
  return guarded<ATOM>("RegisterClassA", 0, [&]() -> ATOM {
    if (wc == nullptr || wc->lpszClassName == nullptr || IS_INTRESOURCE(wc->lpszClassName) ||
        wc->lpfnWndProc == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    Guard guard = sx::kernel::lock();
    auto [it, inserted] = classes().emplace(
        lower(wc->lpszClassName),
        WindowClass{wc->lpfnWndProc, wc->hInstance, wc->hbrBackground, wc->hCursor});
    if (!inserted) {
      SetLastError(1410);  // ERROR_CLASS_ALREADY_EXISTS
      return 0;
    }
    return static_cast<ATOM>(0xC000 + classes().size());
  });
}

BOOL UnregisterClassA(LPCSTR class_name, HINSTANCE) {
  return guarded<BOOL>("UnregisterClassA", FALSE, [&]() -> BOOL {
    if (class_name == nullptr || IS_INTRESOURCE(class_name)) return FALSE;
    Guard guard = sx::kernel::lock();
    return classes().erase(lower(class_name)) != 0 ? TRUE : FALSE;
  });
}

HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE hInstance,
                     LPVOID param) {
  return guarded<HWND>("CreateWindowExA", nullptr, [&]() -> HWND {
    if (class_name == nullptr || IS_INTRESOURCE(class_name)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    auto w = std::make_shared<Window>();
    const bool message_only = parent == HWND_MESSAGE;
    if (message_only) parent = nullptr;
    const bool child = (style & WS_CHILD) != 0 && !message_only;
    {
      Guard guard = sx::kernel::lock();
      auto it = classes().find(lower(class_name));
      if (it == classes().end()) {
        SetLastError(1411);  // ERROR_CANNOT_FIND_WND_CLASS
        return nullptr;
      }
      std::shared_ptr<Window> parent_window;
      if (parent != nullptr) {
        parent_window = find_locked(parent);
        if (!parent_window) {
          SetLastError(ERROR_INVALID_WINDOW_HANDLE);
          return nullptr;
        }
      }
      guard.unlock();
      w->owner = current_queue();
      guard.lock();
      w->kind = WindowKind::kClassWindow;
      w->wndproc = it->second.proc;
      w->class_background = it->second.background;
      w->class_cursor = it->second.cursor;
      // CW_USEDEFAULT: position 0 and, for the size, 640 x 480.
      const int left = x == CW_USEDEFAULT ? 0 : x;
      const int top = x == CW_USEDEFAULT ? 0 : y;
      const int right = left + (width == CW_USEDEFAULT ? 640 : std::max(0, width));
      const int bottom = top + (width == CW_USEDEFAULT ? 480 : std::max(0, height));
      w->rect = {left, top, right, bottom};
      w->class_name = class_name;
      w->text = title != nullptr ? title : "";
      w->style = style;
      w->ex_style = ex_style;
      w->parent = parent;
      w->child = child && parent_window;
      w->message_only = message_only;
      w->id = w->child ? static_cast<int>(reinterpret_cast<std::uintptr_t>(menu)) : 0;
      w->enabled = (style & WS_DISABLED) == 0;
      insert_locked(w);
      if (w->child) parent_window->children.push_back(w->hwnd);
    }
    if (!w->child && !message_only) publish(*w);
    CREATESTRUCTA cs{
        param, hInstance,  menu,    parent, height, width, y, x, static_cast<LONG>(style),
        title, class_name, ex_style};
    if (SendMessageA(w->hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
      DestroyWindow(w->hwnd);
      SetLastError(ERROR_CANCELLED);
      return nullptr;
    }
    if (style & WS_VISIBLE) {
      Guard guard = sx::kernel::lock();
      w->visible = true;
      invalidate_tree_locked(*w);
    }
    return w->hwnd;
  });
}

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return guarded<LRESULT>("DefWindowProcA", 0, [&]() -> LRESULT {
    auto w = find(hwnd);
    return w ? default_proc(w, msg, wParam, lParam) : 0;
  });
}

HWND FindWindowA(LPCSTR class_name, LPCSTR title) {
  return guarded<HWND>("FindWindowA", nullptr, [&]() -> HWND {
    {
      Guard guard = sx::kernel::lock();
      for (auto& w : all_windows_locked()) {
        if (w->child || w->message_only) continue;
        if (class_name != nullptr && !equal_ignoring_case(w->class_name, class_name)) continue;
        if (title != nullptr && !equal_ignoring_case(w->text, title)) continue;
        return w->hwnd;
      }
    }
    return find_foreign(class_name, title);
  });
}

}  // extern "C"
