// Internal: the GDI object table. Brushes, bitmaps, palettes, device contexts, icons, cursors and
// DrawDib handles share one table and one lock; every field of every object is guarded by it. No
// window function is ever called with this lock held.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sx/resources.h"
#include "win32/winuser.h"

namespace sx::gdi {

struct Object {
  virtual ~Object() = default;
  bool stock = false;  // made by the system: never deleted
  int selections = 0;  // device contexts that have it selected
};

struct Brush final : Object {
  COLORREF colour = 0;
  bool hollow = false;  // NULL_BRUSH paints nothing
};

struct Bitmap final : Object {
  int width = 0, height = 0;
  WORD bit_count = 0;
  bool dib = false;  // a DIB section (its pixels reachable through BITMAP::bmBits)
  std::vector<RGBQUAD> colours;
  std::vector<BYTE> bits;  // bottom-up rows of dib_row_bytes() each
};

struct Palette final : Object {
  std::vector<PALETTEENTRY> entries;
};

struct DeviceContext final : Object {
  HWND window = nullptr;  // the window drawn in; null for the screen and memory contexts
  bool memory = false;
  COLORREF text = RGB(0, 0, 0);
  COLORREF back = RGB(255, 255, 255);
  int bk_mode = OPAQUE;
  HGDIOBJ brush = nullptr;
  HGDIOBJ bitmap = nullptr;   // memory contexts
  HGDIOBJ palette = nullptr;  // a palette
  bool realise_in_background = false;
};

struct Icon final : Object {
  std::string name;  // "application", a cursor's name, or the resource's name or id
  int width = 32, height = 32;
  bool cursor = false;
};

struct DrawDibHandle final : Object {};

using Guard = std::unique_lock<std::mutex>;
Guard lock();

HGDIOBJ insert_locked(std::shared_ptr<Object> object);
std::shared_ptr<Object> find_locked(HGDIOBJ handle);
template <class T>
std::shared_ptr<T> find_locked(HGDIOBJ handle) {
  return std::dynamic_pointer_cast<T>(find_locked(handle));
}
void erase_locked(HGDIOBJ handle);
std::size_t live_objects_locked();

// Stock objects (GetStockObject indexes), made on first use; kDefaultBitmapIndex is the 1 x 1
// monochrome bitmap a fresh memory context holds, which GetStockObject does not hand out.
inline constexpr int kDefaultBitmapIndex = 0x7000;
HGDIOBJ stock_object_locked(int index);  // null for an index it does not know
HGDIOBJ register_stock_locked(int index, std::shared_ptr<Object> object);

// A device context drawing in `window` (null: the screen). Lock not held.
HDC create_dc(HWND window);
// Deletes a context made by create_dc or CreateCompatibleDC; false for an unknown one.
bool delete_dc(HDC dc);

// What a control's paint needs to know about its context and brush. Lock not held.
struct DcState {
  HWND window = nullptr;
  COLORREF text = 0, back = 0;
  int bk_mode = OPAQUE;
};
std::optional<DcState> dc_state(HDC dc);
// A solid brush's colour; nothing for a hollow brush or an unknown handle. As on Windows, a system
// colour index plus one stands for that colour's brush ((HBRUSH)(COLOR_BTNFACE + 1)).
std::optional<COLORREF> brush_colour(HBRUSH brush);
bool is_hollow_brush(HBRUSH brush);

// A bitmap from a bitmap resource, `cx` x `cy` pixels (0: the resource's own width or height).
HBITMAP create_bitmap(const sx::window::BitmapResource& source, int cx, int cy, bool dib);

// Icons and cursors.
HICON make_icon(std::string name, int width, int height, bool cursor, bool stock);
std::optional<Icon> icon_info(HICON icon);

}  // namespace sx::gdi
