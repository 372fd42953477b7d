// Icons, cursors and bitmaps from resources: LoadIconA, LoadCursorA, LoadImageA, DrawIcon and the
// current cursor.
#include <map>
#include <mutex>

#include "../gdi/objects.h"
#include "boundary.h"
#include "core.h"
#include "drawing_record.h"
#include "resource_table.h"

namespace sx::window::detail {
namespace {

struct Shared {
  std::mutex mutex;
  std::map<std::pair<HINSTANCE, std::string>, HICON> icons;  // shared icons by (module, name)
  HCURSOR current = nullptr;
  std::string current_name = "arrow";
};

Shared& shared() {
  static auto* s = new Shared();
  return *s;
}

int id_of(LPCSTR name) {
  return IS_INTRESOURCE(name) ? static_cast<int>(reinterpret_cast<std::uintptr_t>(name)) : -1;
}

const char* stock_icon_name(int id) {
  switch (id) {
    case 32512:
      return "application";
    case 32513:
      return "hand";
    case 32514:
      return "question";
    case 32515:
      return "exclamation";
    case 32516:
      return "asterisk";
  }
  return nullptr;
}

const char* stock_cursor_name(int id) {
  switch (id) {
    case 32512:
      return "arrow";
    case 32513:
      return "ibeam";
    case 32514:
      return "wait";
    case 32515:
      return "cross";
    case 32649:
      return "hand";
    case 32650:
      return "appstarting";
  }
  return nullptr;
}

// The one shared handle of an icon or cursor, made on first use.
HICON shared_icon(HINSTANCE module, const std::string& key, const std::string& name, int width,
                  int height, bool cursor) {
  Shared& s = shared();
  std::lock_guard lock(s.mutex);
  auto& slot = s.icons[{module, (cursor ? "cursor:" : "icon:") + key}];
  if (slot == nullptr) slot = sx::gdi::make_icon(name, width, height, cursor, true);
  return slot;
}

HICON load_icon(HINSTANCE module, LPCSTR name, int cx, int cy) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (module == nullptr) {
    const char* stock = stock_icon_name(id_of(name));
    if (stock == nullptr) {
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return nullptr;
    }
    return shared_icon(nullptr, stock, stock, 32, 32, false);
  }
  auto icon = icon_resources().find(module, name);
  if (!icon) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const std::string label = icon->name.empty() ? "icon " + std::to_string(icon->id) : icon->name;
  const int width = cx > 0 ? cx : icon->width;
  const int height = cy > 0 ? cy : icon->height;
  return shared_icon(module, label + "@" + std::to_string(width) + "x" + std::to_string(height),
                     label, width, height, false);
}

}  // namespace
}  // namespace sx::window::detail

namespace sx::window {

std::string current_cursor() {
  detail::Shared& s = detail::shared();
  std::lock_guard lock(s.mutex);
  return s.current_name;
}

}  // namespace sx::window

using namespace sx::window::detail;
using sx::window::Drawing;

extern "C" {

HICON LoadIconA(HINSTANCE hInstance, LPCSTR name) {
  return guarded<HICON>("LoadIconA", nullptr, [&] { return load_icon(hInstance, name, 0, 0); });
}

HCURSOR LoadCursorA(HINSTANCE hInstance, LPCSTR name) {
  return guarded<HCURSOR>("LoadCursorA", nullptr, [&]() -> HCURSOR {
    const char* stock = hInstance == nullptr ? stock_cursor_name(id_of(name)) : nullptr;
    if (stock == nullptr) {
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return nullptr;
    }
    return shared_icon(nullptr, stock, stock, 32, 32, true);
  });
}

HANDLE LoadImageA(HINSTANCE hInstance, LPCSTR name, UINT type, int cx, int cy, UINT flags) {
  return guarded<HANDLE>("LoadImageA", nullptr, [&]() -> HANDLE {
    if (flags & LR_LOADFROMFILE) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return nullptr;
    }
    if (cx < 0 || cy < 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    switch (type) {
      case IMAGE_BITMAP: {
        auto bitmap = bitmap_resources().find(hInstance, name);
        if (!bitmap) {
          SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
          return nullptr;
        }
        return reinterpret_cast<HANDLE>(
            sx::gdi::create_bitmap(*bitmap, cx, cy, (flags & LR_CREATEDIBSECTION) != 0));
      }
      case IMAGE_ICON:
        return reinterpret_cast<HANDLE>(load_icon(hInstance, name, cx, cy));
      case IMAGE_CURSOR:
        return reinterpret_cast<HANDLE>(LoadCursorA(hInstance, name));
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  });
}

BOOL DestroyIcon(HICON icon) {
  return guarded<BOOL>("DestroyIcon", FALSE, [&]() -> BOOL {
    if (!sx::gdi::icon_info(icon)) {
      SetLastError(ERROR_INVALID_ICON_HANDLE);
      return FALSE;
    }
    return TRUE;  // every icon here is shared
  });
}

BOOL DrawIcon(HDC dc, int x, int y, HICON icon) {
  return guarded<BOOL>("DrawIcon", FALSE, [&]() -> BOOL {
    auto state = sx::gdi::dc_state(dc);
    auto info = sx::gdi::icon_info(icon);
    if (!state || !info) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    Drawing drawing;
    drawing.kind = Drawing::Kind::kIcon;
    drawing.window = state->window;
    drawing.rect = {x, y, x + info->width, y + info->height};
    drawing.text = info->name;
    drawing.width = info->width;
    drawing.height = info->height;
    record_drawing(std::move(drawing));
    return TRUE;
  });
}

HCURSOR SetCursor(HCURSOR cursor) {
  return guarded<HCURSOR>("SetCursor", nullptr, [&]() -> HCURSOR {
    std::string name;
    if (cursor != nullptr) {
      auto info = sx::gdi::icon_info(cursor);
      if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
      }
      name = info->name;
    }
    HCURSOR previous = nullptr;
    {
      Shared& s = shared();
      std::lock_guard lock(s.mutex);
      previous = std::exchange(s.current, cursor);
      s.current_name = name;
    }
    Drawing drawing;
    drawing.kind = Drawing::Kind::kCursor;
    drawing.text = name;
    record_drawing(std::move(drawing));
    return previous;
  });
}

HCURSOR GetCursor() {
  Shared& s = shared();
  std::lock_guard lock(s.mutex);
  return s.current;
}

}  // extern "C"
