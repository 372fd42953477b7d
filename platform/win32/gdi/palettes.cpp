// Logical palettes: CreatePalette, CreateHalftonePalette, SelectPalette, RealizePalette.
#include <algorithm>

#include "../window/boundary.h"
#include "../window/drawing_record.h"
#include "objects.h"

using namespace sx::gdi;
using sx::window::detail::guarded;

namespace {

constexpr WORD kPaletteVersion = 0x300;

// 256 colours: the 20 reserved ones, a 6 x 6 x 6 colour cube and grey steps in between.
std::vector<PALETTEENTRY> halftone() {
  std::vector<PALETTEENTRY> entries;
  {
    Guard guard = lock();
    auto defaults = find_locked<Palette>(stock_object_locked(DEFAULT_PALETTE));
    entries = defaults->entries;
  }
  const BYTE levels[6] = {0, 51, 102, 153, 204, 255};
  for (BYTE r : levels) {
    for (BYTE g : levels) {
      for (BYTE b : levels) entries.push_back({r, g, b, 0});
    }
  }
  for (int i = 1; entries.size() < 256; ++i) {
    const BYTE grey = static_cast<BYTE>(i * 255 / 21);
    entries.push_back({grey, grey, grey, 0});
  }
  return entries;
}

HPALETTE insert_palette(std::vector<PALETTEENTRY> entries) {
  auto palette = std::make_shared<Palette>();
  palette->entries = std::move(entries);
  Guard guard = lock();
  return static_cast<HPALETTE>(insert_locked(std::move(palette)));
}

}  // namespace

extern "C" {

HPALETTE CreatePalette(const LOGPALETTE* palette) {
  return guarded<HPALETTE>("CreatePalette", nullptr, [&]() -> HPALETTE {
    if (palette == nullptr || palette->palVersion != kPaletteVersion ||
        palette->palNumEntries == 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    // The entries follow the header; the caller sized the block for palNumEntries of them.
    const PALETTEENTRY* first = palette->palPalEntry;
    return insert_palette({first, first + palette->palNumEntries});
  });
}

HPALETTE CreateHalftonePalette(HDC) {
  return guarded<HPALETTE>("CreateHalftonePalette", nullptr,
                           [] { return insert_palette(halftone()); });
}

UINT GetPaletteEntries(HPALETTE handle, UINT start, UINT count, PALETTEENTRY* entries) {
  return guarded<UINT>("GetPaletteEntries", 0, [&]() -> UINT {
    Guard guard = lock();
    auto palette = find_locked<Palette>(handle);
    if (!palette) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    const std::size_t size = palette->entries.size();
    if (entries == nullptr) return static_cast<UINT>(size);
    if (start >= size) return 0;
    const UINT n = static_cast<UINT>(std::min<std::size_t>(count, size - start));
    std::copy_n(palette->entries.begin() + start, n, entries);
    return n;
  });
}

HPALETTE SelectPalette(HDC dc_handle, HPALETTE handle, BOOL force_background) {
  return guarded<HPALETTE>("SelectPalette", nullptr, [&]() -> HPALETTE {
    Guard guard = lock();
    auto dc = find_locked<DeviceContext>(dc_handle);
    auto palette = find_locked<Palette>(handle);
    if (!dc || !palette) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    if (auto old = find_locked(dc->palette)) --old->selections;
    ++palette->selections;
    dc->realise_in_background = force_background != FALSE;
    return static_cast<HPALETTE>(std::exchange(dc->palette, handle));
  });
}

UINT RealizePalette(HDC dc_handle) {
  return guarded<UINT>("RealizePalette", GDI_ERROR, [&]() -> UINT {
    sx::window::Drawing drawing;
    drawing.kind = sx::window::Drawing::Kind::kPalette;
    {
      Guard guard = lock();
      auto dc = find_locked<DeviceContext>(dc_handle);
      if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return GDI_ERROR;
      }
      auto palette = find_locked<Palette>(dc->palette);
      if (!palette || palette->stock) return 0;  // the default palette is always realised
      drawing.window = dc->window;
      drawing.width = static_cast<int>(palette->entries.size());
      drawing.background = dc->realise_in_background;
    }
    const UINT realised = static_cast<UINT>(drawing.width);
    sx::window::detail::record_drawing(std::move(drawing));
    return realised;
  });
}

}  // extern "C"
