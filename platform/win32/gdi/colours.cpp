// System colours (GetSysColor) and their stock brushes (GetSysColorBrush).
#include <array>

#include "../window/boundary.h"
#include "objects.h"

using namespace sx::gdi;
using sx::window::detail::guarded;

namespace {

// Windows XP's default theme, by COLOR_* index.
constexpr std::array<COLORREF, 25> kSystemColours = {
    RGB(212, 208, 200), RGB(0, 78, 152),    RGB(0, 84, 227),    RGB(122, 150, 223),
    RGB(255, 255, 255), RGB(255, 255, 255), RGB(0, 0, 0),       RGB(0, 0, 0),
    RGB(0, 0, 0),       RGB(255, 255, 255), RGB(212, 208, 200), RGB(212, 208, 200),
    RGB(128, 128, 128), RGB(49, 106, 197),  RGB(255, 255, 255), RGB(236, 233, 216),
    RGB(172, 168, 153), RGB(172, 168, 153), RGB(0, 0, 0),       RGB(216, 228, 248),
    RGB(255, 255, 255), RGB(113, 111, 100), RGB(241, 239, 226), RGB(0, 0, 0),
    RGB(255, 255, 225)};

// System colour brushes are stock objects past the GetStockObject indexes.
constexpr int kSystemBrushBase = 0x7100;

bool valid(int index) { return index >= 0 && index < static_cast<int>(kSystemColours.size()); }

}  // namespace

extern "C" {

DWORD GetSysColor(int index) { return valid(index) ? kSystemColours[index] : 0; }

HBRUSH GetSysColorBrush(int index) {
  return guarded<HBRUSH>("GetSysColorBrush", nullptr, [&]() -> HBRUSH {
    if (!valid(index)) return nullptr;
    Guard guard = lock();
    HGDIOBJ brush = stock_object_locked(kSystemBrushBase + index);
    if (brush == nullptr) {
      auto made = std::make_shared<Brush>();
      made->colour = kSystemColours[index];
      brush = register_stock_locked(kSystemBrushBase + index, std::move(made));
    }
    return static_cast<HBRUSH>(brush);
  });
}

}  // extern "C"
