// DrawDib: bitmaps drawn into a device context, recorded.
#include <cstdlib>

#include "../window/boundary.h"
#include "../window/drawing_record.h"
#include "objects.h"
#include "win32/vfw.h"

using namespace sx::gdi;
using sx::window::detail::guarded;

namespace {

constexpr LONG kMaxSide = 16384;

bool sane(const BITMAPINFOHEADER* h) {
  return h != nullptr && h->biSize >= sizeof(BITMAPINFOHEADER) && h->biWidth > 0 &&
         h->biWidth <= kMaxSide && h->biHeight != 0 && std::labs(h->biHeight) <= kMaxSide &&
         h->biBitCount >= 1 && h->biBitCount <= 32;
}

bool is_drawdib(HDRAWDIB hdd) {
  Guard guard = lock();
  return find_locked<DrawDibHandle>(hdd) != nullptr;
}

}  // namespace

extern "C" {

HDRAWDIB DrawDibOpen() {
  return guarded<HDRAWDIB>("DrawDibOpen", nullptr, [] {
    Guard guard = lock();
    return static_cast<HDRAWDIB>(insert_locked(std::make_shared<DrawDibHandle>()));
  });
}

BOOL DrawDibClose(HDRAWDIB hdd) {
  return guarded<BOOL>("DrawDibClose", FALSE, [&]() -> BOOL {
    Guard guard = lock();
    if (!find_locked<DrawDibHandle>(hdd)) return FALSE;
    erase_locked(hdd);
    return TRUE;
  });
}

UINT DrawDibRealize(HDRAWDIB hdd, HDC dc, BOOL) {
  if (!is_drawdib(hdd)) return 0;
  const UINT realised = RealizePalette(dc);
  return realised == GDI_ERROR ? 0 : realised;
}

BOOL DrawDibDraw(HDRAWDIB hdd, HDC dc, int xDst, int yDst, int dxDst, int dyDst,
                 const BITMAPINFOHEADER* header, LPVOID bits, int, int, int dxSrc, int dySrc,
                 UINT) {
  return guarded<BOOL>("DrawDibDraw", FALSE, [&]() -> BOOL {
    if (!is_drawdib(hdd) || !sane(header) || bits == nullptr) return FALSE;
    auto state = dc_state(dc);
    if (!state) return FALSE;
    const int width = header->biWidth;
    const int height = static_cast<int>(std::labs(header->biHeight));
    if (dxSrc == -1 && dySrc == -1) {
      dxSrc = width;
      dySrc = height;
    }
    if (dxDst == -1 && dyDst == -1) {
      dxDst = dxSrc;
      dyDst = dySrc;
    }
    sx::window::Drawing drawing;
    drawing.kind = sx::window::Drawing::Kind::kBitmap;
    drawing.window = state->window;
    drawing.rect = RECT{xDst, yDst, xDst + dxDst, yDst + dyDst};
    drawing.width = width;
    drawing.height = height;
    drawing.bit_count = header->biBitCount;
    sx::window::detail::record_drawing(std::move(drawing));
    return TRUE;
  });
}

}  // extern "C"
