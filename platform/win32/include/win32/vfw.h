// DrawDib, the bitmap drawing of Video for Windows: draws a device-independent bitmap into a device
// context. Nothing is rendered; each DrawDibDraw is recorded (sx/window.h `drawn()`: the
// destination rectangle and the source bitmap's size and bit count). Thread-safe.
#pragma once

#include "win32/wingdi.h"

struct HDRAWDIB__;
using HDRAWDIB = HDRAWDIB__*;

#define DDF_BACKGROUND 0x0100u

extern "C" {

HDRAWDIB DrawDibOpen();
BOOL DrawDibClose(HDRAWDIB hdd);
// Realises the device context's selected palette (as RealizePalette, recorded); returns the number
// of entries realised.
UINT DrawDibRealize(HDRAWDIB hdd, HDC dc, BOOL background);
// Draws `header`'s bitmap (biSize at least 40, sizes 1 to 16384, 1 to 32 bits per pixel, `bits` not
// null). dxSrc and dySrc -1 take the whole bitmap; dxDst and dyDst -1 the source size. FALSE for a
// bad handle, context or header.
BOOL DrawDibDraw(HDRAWDIB hdd, HDC dc, int xDst, int yDst, int dxDst, int dyDst,
                 const BITMAPINFOHEADER* header, LPVOID bits, int xSrc, int ySrc, int dxSrc,
                 int dySrc, UINT flags);

}  // extern "C"
