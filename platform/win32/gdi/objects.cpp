// The GDI object table, stock objects, brushes, device contexts and the functions that work on any
// object (DeleteObject, SelectObject, GetObjectA).
#include "objects.h"

#include <cstring>
#include <unordered_map>

#include "../window/boundary.h"
#include "sx/resources.h"

namespace sx::gdi {
namespace {

struct Table {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, std::shared_ptr<Object>> objects;
  std::uintptr_t next = 0x100000;
  std::unordered_map<int, HGDIOBJ> stock;
};

Table& table() {
  static auto* t = new Table();  // never destroyed: objects may be released during exit
  return *t;
}

std::uintptr_t key(HGDIOBJ handle) { return reinterpret_cast<std::uintptr_t>(handle); }

std::shared_ptr<Object> make_stock(int index) {
  auto solid = [](COLORREF colour) {
    auto b = std::make_shared<Brush>();
    b->colour = colour;
    return b;
  };
  switch (index) {
    case WHITE_BRUSH:
      return solid(RGB(255, 255, 255));
    case LTGRAY_BRUSH:
      return solid(RGB(192, 192, 192));
    case GRAY_BRUSH:
      return solid(RGB(128, 128, 128));
    case DKGRAY_BRUSH:
      return solid(RGB(64, 64, 64));
    case BLACK_BRUSH:
      return solid(RGB(0, 0, 0));
    case NULL_BRUSH: {
      auto b = std::make_shared<Brush>();
      b->hollow = true;
      return b;
    }
    case DEFAULT_PALETTE: {
      // The 20 colours every palette device reserves.
      auto p = std::make_shared<Palette>();
      const BYTE c[20][3] = {{0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},
                             {0, 0, 128},     {128, 0, 128},   {0, 128, 128},   {192, 192, 192},
                             {192, 220, 192}, {166, 202, 240}, {255, 251, 240}, {160, 160, 164},
                             {128, 128, 128}, {255, 0, 0},     {0, 255, 0},     {255, 255, 0},
                             {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
      for (const auto& e : c) p->entries.push_back({e[0], e[1], e[2], 0});
      return p;
    }
    case kDefaultBitmapIndex: {
      auto b = std::make_shared<Bitmap>();  // what a fresh memory context has selected
      b->width = b->height = 1;
      b->bit_count = 1;
      b->bits.assign(4, 0);
      return b;
    }
  }
  return nullptr;
}

}  // namespace

Guard lock() { return Guard(table().mutex); }

HGDIOBJ insert_locked(std::shared_ptr<Object> object) {
  Table& t = table();
  const std::uintptr_t value = t.next;
  t.next += 4;
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<HGDIOBJ>(value);
}

std::shared_ptr<Object> find_locked(HGDIOBJ handle) {
  auto& objects = table().objects;
  auto it = objects.find(key(handle));
  return it == objects.end() ? nullptr : it->second;
}

void erase_locked(HGDIOBJ handle) { table().objects.erase(key(handle)); }

std::size_t live_objects_locked() {
  std::size_t n = 0;
  for (const auto& [k, object] : table().objects) n += object->stock ? 0 : 1;
  return n;
}

HGDIOBJ stock_object_locked(int index) {
  Table& t = table();
  auto it = t.stock.find(index);
  if (it != t.stock.end()) return it->second;
  std::shared_ptr<Object> object = make_stock(index);
  return object ? register_stock_locked(index, std::move(object)) : nullptr;
}

HGDIOBJ register_stock_locked(int index, std::shared_ptr<Object> object) {
  object->stock = true;
  HGDIOBJ handle = insert_locked(std::move(object));
  table().stock.emplace(index, handle);
  return handle;
}

namespace {

// Selects `object` into `dc` in slot `slot`, returning what it replaces.
HGDIOBJ swap_selection_locked(HGDIOBJ& slot, HGDIOBJ object) {
  HGDIOBJ previous = slot;
  if (auto old = find_locked(previous)) --old->selections;
  if (auto now = find_locked(object)) ++now->selections;
  slot = object;
  return previous;
}

HDC make_dc_locked(HWND window, bool memory) {
  auto dc = std::make_shared<DeviceContext>();
  dc->window = window;
  dc->memory = memory;
  HDC handle = static_cast<HDC>(insert_locked(dc));
  swap_selection_locked(dc->brush, stock_object_locked(WHITE_BRUSH));
  swap_selection_locked(dc->palette, stock_object_locked(DEFAULT_PALETTE));
  if (memory) swap_selection_locked(dc->bitmap, stock_object_locked(kDefaultBitmapIndex));
  return handle;
}

}  // namespace

HDC create_dc(HWND window) {
  Guard guard = lock();
  return make_dc_locked(window, false);
}

bool delete_dc(HDC handle) {
  Guard guard = lock();
  auto dc = find_locked<DeviceContext>(handle);
  if (!dc) return false;
  swap_selection_locked(dc->brush, nullptr);
  swap_selection_locked(dc->bitmap, nullptr);
  swap_selection_locked(dc->palette, nullptr);
  erase_locked(handle);
  return true;
}

std::optional<DcState> dc_state(HDC handle) {
  Guard guard = lock();
  auto dc = find_locked<DeviceContext>(handle);
  if (!dc) return std::nullopt;
  return DcState{dc->window, dc->text, dc->back, dc->bk_mode};
}

std::optional<COLORREF> brush_colour(HBRUSH handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value >= 1 && value <= COLOR_INFOBK + 1) return GetSysColor(static_cast<int>(value - 1));
  Guard guard = lock();
  auto brush = find_locked<Brush>(handle);
  if (!brush || brush->hollow) return std::nullopt;
  return brush->colour;
}

HICON make_icon(std::string name, int width, int height, bool cursor, bool stock) {
  auto icon = std::make_shared<Icon>();
  icon->name = std::move(name);
  icon->width = width;
  icon->height = height;
  icon->cursor = cursor;
  icon->stock = stock;
  Guard guard = lock();
  return static_cast<HICON>(insert_locked(std::move(icon)));
}

bool is_hollow_brush(HBRUSH handle) {
  Guard guard = lock();
  auto brush = find_locked<Brush>(handle);
  return brush && brush->hollow;
}

std::optional<Icon> icon_info(HICON handle) {
  Guard guard = lock();
  auto icon = find_locked<Icon>(handle);
  if (!icon) return std::nullopt;
  return *icon;
}

}  // namespace sx::gdi

namespace sx::window {

std::size_t live_gdi_objects() {
  sx::gdi::Guard guard = sx::gdi::lock();
  return sx::gdi::live_objects_locked();
}

}  // namespace sx::window

using namespace sx::gdi;
using sx::window::detail::guarded;

extern "C" {

HBRUSH CreateSolidBrush(COLORREF colour) {
  return guarded<HBRUSH>("CreateSolidBrush", nullptr, [&] {
    auto brush = std::make_shared<Brush>();
    brush->colour = colour & 0x00FFFFFFu;
    Guard guard = lock();
    return static_cast<HBRUSH>(insert_locked(std::move(brush)));
  });
}

HGDIOBJ GetStockObject(int index) {
  return guarded<HGDIOBJ>("GetStockObject", nullptr, [&] {
    if (index == kDefaultBitmapIndex) return static_cast<HGDIOBJ>(nullptr);
    Guard guard = lock();
    return stock_object_locked(index);
  });
}

BOOL DeleteObject(HGDIOBJ handle) {
  return guarded<BOOL>("DeleteObject", FALSE, [&]() -> BOOL {
    Guard guard = lock();
    auto object = find_locked(handle);
    if (!object || dynamic_cast<DeviceContext*>(object.get()) != nullptr ||
        dynamic_cast<Icon*>(object.get()) != nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (object->stock) return TRUE;
    if (object->selections > 0) return FALSE;  // still selected into a device context
    erase_locked(handle);
    return TRUE;
  });
}

HGDIOBJ SelectObject(HDC dc_handle, HGDIOBJ handle) {
  return guarded<HGDIOBJ>("SelectObject", nullptr, [&]() -> HGDIOBJ {
    Guard guard = lock();
    auto dc = find_locked<DeviceContext>(dc_handle);
    auto object = find_locked(handle);
    if (!dc || !object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    if (dynamic_cast<Brush*>(object.get()) != nullptr) {
      return swap_selection_locked(dc->brush, handle);
    }
    if (auto bitmap = std::dynamic_pointer_cast<Bitmap>(object)) {
      // A bitmap goes into one memory context at a time.
      if (!dc->memory || (bitmap->selections > 0 && dc->bitmap != handle)) return HGDI_ERROR;
      return swap_selection_locked(dc->bitmap, handle);
    }
    SetLastError(ERROR_INVALID_PARAMETER);  // palettes go through SelectPalette
    return nullptr;
  });
}

int GetObjectA(HGDIOBJ handle, int size, LPVOID buffer) {
  return guarded<int>("GetObjectA", 0, [&]() -> int {
    Guard guard = lock();
    auto object = find_locked(handle);
    if (!object || size < 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    auto copy = [&](const void* data, int bytes) -> int {
      if (buffer == nullptr) return bytes;
      if (size < bytes) return 0;
      std::memcpy(buffer, data, static_cast<std::size_t>(bytes));
      return bytes;
    };
    if (auto brush = std::dynamic_pointer_cast<Brush>(object)) {
      LOGBRUSH lb{brush->hollow ? BS_NULL : BS_SOLID, brush->colour, 0};
      return copy(&lb, sizeof lb);
    }
    if (auto palette = std::dynamic_pointer_cast<Palette>(object)) {
      const WORD count = static_cast<WORD>(palette->entries.size());
      return copy(&count, sizeof count);
    }
    auto bitmap = std::dynamic_pointer_cast<Bitmap>(object);
    if (!bitmap) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    DIBSECTION ds{};
    ds.dsBm.bmType = 0;
    ds.dsBm.bmWidth = bitmap->width;
    ds.dsBm.bmHeight = bitmap->height;
    ds.dsBm.bmPlanes = 1;
    ds.dsBm.bmBitsPixel = bitmap->bit_count;
    if (!bitmap->dib) {
      // A device-dependent bitmap: rows padded to 16 bits, pixels not reachable.
      ds.dsBm.bmWidthBytes = ((bitmap->width * bitmap->bit_count + 15) / 16) * 2;
      return copy(&ds.dsBm, sizeof ds.dsBm);
    }
    ds.dsBm.bmWidthBytes = sx::window::dib_row_bytes(bitmap->width, bitmap->bit_count);
    ds.dsBm.bmBits = bitmap->bits.data();
    if (buffer != nullptr && size < static_cast<int>(sizeof ds)) {
      return copy(&ds.dsBm, sizeof ds.dsBm);
    }
    ds.dsBmih.biSize = sizeof(BITMAPINFOHEADER);
    ds.dsBmih.biWidth = bitmap->width;
    ds.dsBmih.biHeight = bitmap->height;
    ds.dsBmih.biPlanes = 1;
    ds.dsBmih.biBitCount = bitmap->bit_count;
    ds.dsBmih.biCompression = BI_RGB;
    ds.dsBmih.biSizeImage = static_cast<DWORD>(bitmap->bits.size());
    ds.dsBmih.biClrUsed = static_cast<DWORD>(bitmap->colours.size());
    return copy(&ds, sizeof ds);
  });
}

HDC CreateCompatibleDC(HDC) {
  return guarded<HDC>("CreateCompatibleDC", nullptr, [&] {
    Guard guard = lock();
    return make_dc_locked(nullptr, true);
  });
}

BOOL DeleteDC(HDC dc) {
  return guarded<BOOL>("DeleteDC", FALSE, [&]() -> BOOL {
    if (delete_dc(dc)) return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  });
}

}  // extern "C"
