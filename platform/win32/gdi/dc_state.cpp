// The state of a device context: its colours, background mode, device capabilities and the colour
// table of the DIB section selected into a memory context.
#include <algorithm>

#include "../window/boundary.h"
#include "objects.h"

using namespace sx::gdi;
using sx::window::detail::guarded;

namespace {

// Runs `change` on the context; `failure` for an unknown one.
template <class R, class F>
R with_dc(HDC handle, R failure, F&& change) {
  Guard guard = lock();
  auto dc = find_locked<DeviceContext>(handle);
  if (!dc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return failure;
  }
  return change(*dc);
}

}  // namespace

extern "C" {

COLORREF SetTextColor(HDC dc, COLORREF colour) {
  return with_dc<COLORREF>(dc, CLR_INVALID, [&](DeviceContext& c) {
    return std::exchange(c.text, colour & 0x00FFFFFFu);
  });
}

COLORREF GetTextColor(HDC dc) {
  return with_dc<COLORREF>(dc, CLR_INVALID, [](DeviceContext& c) { return c.text; });
}

COLORREF SetBkColor(HDC dc, COLORREF colour) {
  return with_dc<COLORREF>(dc, CLR_INVALID, [&](DeviceContext& c) {
    return std::exchange(c.back, colour & 0x00FFFFFFu);
  });
}

COLORREF GetBkColor(HDC dc) {
  return with_dc<COLORREF>(dc, CLR_INVALID, [](DeviceContext& c) { return c.back; });
}

int SetBkMode(HDC dc, int mode) {
  return with_dc<int>(dc, 0, [&](DeviceContext& c) {
    if (mode != TRANSPARENT && mode != OPAQUE) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    return std::exchange(c.bk_mode, mode);
  });
}

int GetBkMode(HDC dc) {
  return with_dc<int>(dc, 0, [](DeviceContext& c) { return c.bk_mode; });
}

int GetDeviceCaps(HDC dc, int index) {
  return with_dc<int>(dc, 0, [&](DeviceContext&) {
    switch (index) {
      case HORZRES:
        return 1024;
      case VERTRES:
        return 768;
      case BITSPIXEL:
        return 32;
      case PLANES:
        return 1;
      case NUMCOLORS:
        return -1;  // more than a palette holds
      case RASTERCAPS:
        return RC_BITBLT | RC_DI_BITMAP | RC_STRETCHDIB;  // no RC_PALETTE: a true-colour screen
      case LOGPIXELSX:
      case LOGPIXELSY:
        return 96;
      case SIZEPALETTE:
        return 0;
    }
    return 0;
  });
}

UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colours) {
  return guarded<UINT>("GetDIBColorTable", 0, [&]() -> UINT {
    return with_dc<UINT>(dc, 0, [&](DeviceContext& c) -> UINT {
      auto bitmap = find_locked<Bitmap>(c.bitmap);
      if (!bitmap || !bitmap->dib || colours == nullptr) return 0;
      const std::size_t size = bitmap->colours.size();
      if (start >= size) return 0;
      const UINT n = static_cast<UINT>(std::min<std::size_t>(count, size - start));
      std::copy_n(bitmap->colours.begin() + start, n, colours);
      return n;
    });
  });
}

}  // extern "C"
