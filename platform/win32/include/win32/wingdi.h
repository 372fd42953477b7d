// Drawing (the gdi32 part of the Windows stand-in): colours, brushes, device contexts, bitmaps and
// palettes.
//
// Nothing is rendered. What a program draws is recorded instead (what, where and in which colour,
// sx/window.h `drawn()`), and the console host shows the colours a dialog chose for its controls.
// Objects are real enough for the calls the system makes on them: a DIB section keeps its pixels
// and colour table, a palette its entries, a device context its colours and selected objects.
//
// The screen is 1024 by 768 pixels of 32 bits (no palette device). Every function is thread-safe,
// never throws, and sets GetLastError where Windows does. Handles of every kind live in one table;
// a handle of the wrong kind fails like an unknown one.
#pragma once

#include "win32/errors.h"
#include "win32/types.h"

struct HDC__;
using HDC = HDC__*;
struct HBRUSH__;
using HBRUSH = HBRUSH__*;
struct HBITMAP__;
using HBITMAP = HBITMAP__*;
struct HPALETTE__;
using HPALETTE = HPALETTE__*;
using HGDIOBJ = void*;

using COLORREF = DWORD;
#define RGB(r, g, b)                                                                             \
  (static_cast<COLORREF>(static_cast<BYTE>(r) | (static_cast<WORD>(static_cast<BYTE>(g)) << 8) | \
                         (static_cast<DWORD>(static_cast<BYTE>(b)) << 16)))
#define GetRValue(c) (static_cast<BYTE>((c)&0xFF))
#define GetGValue(c) (static_cast<BYTE>(((c) >> 8) & 0xFF))
#define GetBValue(c) (static_cast<BYTE>(((c) >> 16) & 0xFF))
#define CLR_INVALID 0xFFFFFFFFu

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // positive: bottom-up rows
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
using LPBITMAPINFOHEADER = BITMAPINFOHEADER*;
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;  // the pixels of a DIB section; null for a device-dependent bitmap
};

struct DIBSECTION {
  BITMAP dsBm;
  BITMAPINFOHEADER dsBmih;
  DWORD dsBitfields[3];
  HANDLE dshSection;
  DWORD dsOffset;
};
static_assert(sizeof(void*) != 8 || (sizeof(BITMAP) == 32 && sizeof(DIBSECTION) == 104));

struct PALETTEENTRY {
  BYTE peRed;
  BYTE peGreen;
  BYTE peBlue;
  BYTE peFlags;
};

struct LOGPALETTE {
  WORD palVersion;  // 0x300
  WORD palNumEntries;
  PALETTEENTRY palPalEntry[1];
};

struct LOGBRUSH {
  UINT lbStyle;
  COLORREF lbColor;
  ULONG_PTR lbHatch;
};

#define BI_RGB 0u
#define DIB_RGB_COLORS 0u
#define BS_SOLID 0u
#define BS_NULL 1u
#define PC_RESERVED 0x01
#define PC_EXPLICIT 0x02
#define PC_NOCOLLAPSE 0x04

// Background modes.
#define TRANSPARENT 1
#define OPAQUE 2

// Stock objects.
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define DEFAULT_PALETTE 15

// GetDeviceCaps.
#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define PLANES 14
#define NUMCOLORS 24
#define RASTERCAPS 38
#define LOGPIXELSX 88
#define LOGPIXELSY 90
#define SIZEPALETTE 104
#define RC_BITBLT 0x0001
#define RC_DI_BITMAP 0x0080
#define RC_PALETTE 0x0100
#define RC_STRETCHDIB 0x2000

extern "C" {

HBRUSH CreateSolidBrush(COLORREF colour);
// Stock objects are never deleted (TRUE, nothing happens). An object still selected into a device
// context is not deleted: FALSE, as the leak it is. FALSE for an unknown handle.
BOOL DeleteObject(HGDIOBJ object);
HGDIOBJ GetStockObject(int index);  // the brushes and DEFAULT_PALETTE above; null otherwise
// Selects a brush or a bitmap (into a memory device context only) and returns the one it replaces;
// null (HGDI_ERROR for a bitmap that cannot be selected) on failure. Palettes: SelectPalette.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Copies an object's description: a bitmap gives BITMAP (sizeof(BITMAP)) or, when it is a DIB
// section and `size` is at least sizeof(DIBSECTION), DIBSECTION; a brush LOGBRUSH; a palette its
// entry count as a WORD. With a null buffer, returns the size it would copy. 0 on failure.
int GetObjectA(HGDIOBJ object, int size, LPVOID buffer);

// A memory device context (for any `dc`, or none). Delete it with DeleteDC.
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
// The colour table of the DIB section selected into a memory device context: copies entries
// [start, start + count) that exist and returns how many; 0 when none is selected or it has none.
UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colours);

COLORREF SetTextColor(HDC dc, COLORREF colour);  // previous colour, CLR_INVALID on a bad dc
COLORREF GetTextColor(HDC dc);
COLORREF SetBkColor(HDC dc, COLORREF colour);
COLORREF GetBkColor(HDC dc);
int SetBkMode(HDC dc, int mode);  // previous mode, 0 on failure
int GetBkMode(HDC dc);
int GetDeviceCaps(HDC dc, int index);

// Palettes. CreateHalftonePalette gives 256 colours spread over the colour cube.
HPALETTE CreatePalette(const LOGPALETTE* palette);
HPALETTE CreateHalftonePalette(HDC dc);
UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries);
HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL force_background);
// Realises the device context's palette (recorded); returns the number of entries realised
// (0 for the default palette, GDI_ERROR on a bad dc).
UINT RealizePalette(HDC dc);

}  // extern "C"

#define HGDI_ERROR (reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(-1)))
#define GDI_ERROR 0xFFFFFFFFu
