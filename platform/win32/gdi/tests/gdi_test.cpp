// Resources of a module (strings, bitmaps), DIB sections, colour tables, palettes, brushes and
// DrawDib, as a splash screen and a status screen use them.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "sx/testing/temp_machine.h"
#include "vfw.h"
#include "windows.h"

namespace {

using sx::window::Drawing;

HINSTANCE const kProgram = nullptr;
HINSTANCE const kLibrary = reinterpret_cast<HINSTANCE>(0x7000);
constexpr int kSplash = 148, kPhoto = 149;

class GdiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sx::window::set_host(sx::window::Host::kScripted);
    sx::window::clear_script();
    objects_before_ = sx::window::live_gdi_objects();

    sx::window::BitmapResource splash;
    splash.id = kSplash;
    splash.width = 399;
    splash.height = 333;
    splash.bit_count = 8;
    for (int i = 0; i < 256; ++i) {
      splash.colours.push_back(
          {static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i / 2), 0});
    }
    const int row = sx::window::dib_row_bytes(399, 8);
    splash.bits.assign(static_cast<std::size_t>(row) * 333, 0);
    splash.bits[0] = 7;  // bottom-left pixel
    for (int y = 313; y < 333; ++y) {
      splash.bits[static_cast<std::size_t>(row) * static_cast<std::size_t>(y)] = 200;  // top left
    }
    sx::window::register_bitmap(kProgram, splash);

    sx::window::BitmapResource photo;
    photo.id = kPhoto;
    photo.width = 4;
    photo.height = 2;
    photo.bit_count = 24;
    sx::window::register_bitmap(kProgram, photo);
  }

  void TearDown() override {
    EXPECT_EQ(sx::window::live_gdi_objects(), objects_before_) << "GDI objects leaked";
    sx::window::unregister_resources(kProgram);
    sx::window::unregister_resources(kLibrary);
    sx::window::clear_script();
  }

  HBITMAP load(int id, int cx = 0, int cy = 0, UINT flags = LR_CREATEDIBSECTION) {
    return reinterpret_cast<HBITMAP>(
        LoadImageA(kProgram, MAKEINTRESOURCEA(id), IMAGE_BITMAP, cx, cy, flags));
  }

  std::vector<Drawing> drawn(Drawing::Kind kind) {
    std::vector<Drawing> found;
    for (const Drawing& d : sx::window::drawn()) {
      if (d.kind == kind) found.push_back(d);
    }
    return found;
  }

  sx::testing::TempMachine machine_;
  std::size_t objects_before_ = 0;
};

TEST_F(GdiTest, StringTablesBelongToTheirModule) {
  sx::window::register_strings(kProgram, {{101, "&About Configure..."}, {102, "Index"}});
  sx::window::register_string(kLibrary, 101, "Something else");
  char buffer[32];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(LoadStringA(kProgram, 101, buffer, sizeof buffer), 19);
  EXPECT_STREQ(buffer, "&About Configure...");
  EXPECT_EQ(LoadStringA(kLibrary, 101, buffer, sizeof buffer), 14);
  EXPECT_STREQ(buffer, "Something else");
  EXPECT_EQ(LoadStringA(kProgram, 101, buffer, 7), 6);  // cut, NUL-terminated
  EXPECT_STREQ(buffer, "&About");
  EXPECT_EQ(LoadStringA(kLibrary, 102, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(LoadStringA(kProgram, 101, nullptr, 10), 0);
}

TEST_F(GdiTest, DibSectionInItsOwnSizeDescribesItselfAndItsPixels) {
  HBITMAP bitmap = load(kSplash);
  ASSERT_NE(bitmap, nullptr);
  DIBSECTION ds{};
  ASSERT_EQ(GetObjectA(bitmap, sizeof ds, &ds), static_cast<int>(sizeof ds));
  EXPECT_EQ(ds.dsBm.bmWidth, 399);
  EXPECT_EQ(ds.dsBm.bmHeight, 333);
  EXPECT_EQ(ds.dsBm.bmBitsPixel, 8);
  EXPECT_EQ(ds.dsBm.bmWidthBytes, 400);  // rows padded to 32 bits
  EXPECT_EQ(ds.dsBmih.biSize, sizeof(BITMAPINFOHEADER));
  EXPECT_EQ(ds.dsBmih.biClrUsed, 256u);
  EXPECT_EQ(ds.dsBmih.biSizeImage, 400u * 333u);
  ASSERT_NE(ds.dsBm.bmBits, nullptr);
  EXPECT_EQ(static_cast<const BYTE*>(ds.dsBm.bmBits)[0], 7);

  BITMAP bm{};
  EXPECT_EQ(GetObjectA(bitmap, sizeof bm, &bm), static_cast<int>(sizeof bm));
  EXPECT_EQ(GetObjectA(bitmap, 0, nullptr), static_cast<int>(sizeof ds));
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_FALSE(DeleteObject(bitmap));
}

TEST_F(GdiTest, DeviceDependentBitmapHidesItsPixelsAndColourTable) {
  HBITMAP bitmap = load(kSplash, 0, 0, LR_DEFAULTCOLOR);
  ASSERT_NE(bitmap, nullptr);
  DIBSECTION ds{};
  EXPECT_EQ(GetObjectA(bitmap, sizeof ds, &ds), static_cast<int>(sizeof(BITMAP)));
  EXPECT_EQ(ds.dsBm.bmBits, nullptr);
  HDC memory = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(memory, bitmap);
  RGBQUAD colours[4];
  EXPECT_EQ(GetDIBColorTable(memory, 0, 4, colours), 0u);
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(bitmap);
}

TEST_F(GdiTest, ColourTableIsReadThroughAMemoryContextAndMadeIntoAPalette) {
  HBITMAP bitmap = load(kSplash);
  HDC memory = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(memory, bitmap);
  ASSERT_NE(old, nullptr);
  EXPECT_FALSE(DeleteObject(bitmap));  // still selected

  std::vector<RGBQUAD> table(256);
  ASSERT_EQ(GetDIBColorTable(memory, 0, 256, table.data()), 256u);
  EXPECT_EQ(table[10].rgbBlue, 10);
  EXPECT_EQ(table[10].rgbGreen, 245);
  EXPECT_EQ(GetDIBColorTable(memory, 250, 100, table.data()), 6u);
  EXPECT_EQ(table[0].rgbBlue, 250);

  std::vector<BYTE> block(sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY));
  auto* logical = reinterpret_cast<LOGPALETTE*>(block.data());
  logical->palVersion = 0x300;
  logical->palNumEntries = 256;
  GetDIBColorTable(memory, 0, 256, table.data());
  for (int i = 0; i < 256; ++i) {
    logical->palPalEntry[i] = {table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
  }
  HPALETTE palette = CreatePalette(logical);
  ASSERT_NE(palette, nullptr);
  PALETTEENTRY entry{};
  EXPECT_EQ(GetPaletteEntries(palette, 10, 1, &entry), 1u);
  EXPECT_EQ(entry.peRed, 5);
  EXPECT_EQ(entry.peBlue, 10);
  WORD count = 0;
  EXPECT_EQ(GetObjectA(palette, sizeof count, &count), 2);
  EXPECT_EQ(count, 256);

  SelectObject(memory, old);
  DeleteDC(memory);
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_TRUE(DeleteObject(palette));
}

TEST_F(GdiTest, TrueColourBitmapHasNoColourTableSoAHalftonePaletteIsUsed) {
  HBITMAP photo = load(kPhoto);
  HDC memory = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(memory, photo);
  RGBQUAD colours[1];
  EXPECT_EQ(GetDIBColorTable(memory, 0, 1, colours), 0u);
  HPALETTE halftone = CreateHalftonePalette(memory);
  EXPECT_EQ(GetPaletteEntries(halftone, 0, 0, nullptr), 256u);
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(halftone);
  DeleteObject(photo);
}

TEST_F(GdiTest, DrawDibRecordsTheBitmapInItsOwnSizeAfterTheForegroundPalette) {
  WNDCLASSA wc{};
  wc.lpszClassName = "SplashGdiTest";
  wc.lpfnWndProc = DefWindowProcA;
  RegisterClassA(&wc);
  HWND splash = CreateWindowExA(0, "SplashGdiTest", "", WS_POPUP, 0, 0, 399, 333, nullptr, nullptr,
                                nullptr, nullptr);
  HBITMAP bitmap = load(kSplash);
  DIBSECTION ds{};
  GetObjectA(bitmap, sizeof ds, &ds);

  HDC dc = GetDC(splash);
  HPALETTE palette = CreateHalftonePalette(dc);
  HPALETTE old = SelectPalette(dc, palette, FALSE);
  EXPECT_EQ(RealizePalette(dc), 256u);
  HDRAWDIB hdd = DrawDibOpen();
  ASSERT_NE(hdd, nullptr);
  EXPECT_TRUE(DrawDibDraw(hdd, dc, 0, 0, -1, -1, &ds.dsBmih, ds.dsBm.bmBits, 0, 0, -1, -1, 0));
  EXPECT_FALSE(DrawDibDraw(hdd, dc, 0, 0, -1, -1, &ds.dsBmih, nullptr, 0, 0, -1, -1, 0));
  BITMAPINFOHEADER broken = ds.dsBmih;
  broken.biWidth = -5;
  EXPECT_FALSE(DrawDibDraw(hdd, dc, 0, 0, -1, -1, &broken, ds.dsBm.bmBits, 0, 0, -1, -1, 0));
  EXPECT_TRUE(DrawDibClose(hdd));
  EXPECT_FALSE(DrawDibDraw(hdd, dc, 0, 0, -1, -1, &ds.dsBmih, ds.dsBm.bmBits, 0, 0, -1, -1, 0));
  SelectPalette(dc, old, FALSE);
  EXPECT_TRUE(ReleaseDC(splash, dc));

  const auto palettes = drawn(Drawing::Kind::kPalette);
  ASSERT_EQ(palettes.size(), 1u);
  EXPECT_EQ(palettes[0].width, 256);
  EXPECT_FALSE(palettes[0].background);
  const auto bitmaps = drawn(Drawing::Kind::kBitmap);
  ASSERT_EQ(bitmaps.size(), 1u);
  EXPECT_EQ(bitmaps[0].window, splash);
  EXPECT_EQ(bitmaps[0].rect.right, 399);
  EXPECT_EQ(bitmaps[0].rect.bottom, 333);
  EXPECT_EQ(bitmaps[0].width, 399);
  EXPECT_EQ(bitmaps[0].height, 333);
  EXPECT_EQ(bitmaps[0].bit_count, 8);

  DeleteObject(palette);
  DeleteObject(bitmap);
  DestroyWindow(splash);
  UnregisterClassA("SplashGdiTest", nullptr);
}

TEST_F(GdiTest, StretchedBitmapTakesTheNearestSourcePixels) {
  HBITMAP small = load(kSplash, 100, 50);
  DIBSECTION ds{};
  GetObjectA(small, sizeof ds, &ds);
  EXPECT_EQ(ds.dsBm.bmWidth, 100);
  EXPECT_EQ(ds.dsBm.bmHeight, 50);
  const auto* bits = static_cast<const BYTE*>(ds.dsBm.bmBits);
  EXPECT_EQ(bits[0], 7);
  EXPECT_EQ(bits[static_cast<std::size_t>(ds.dsBm.bmWidthBytes) * 49], 200);
  DeleteObject(small);
  EXPECT_EQ(LoadImageA(kProgram, MAKEINTRESOURCEA(kSplash), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(load(999), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

TEST_F(GdiTest, BrushesColoursAndContextsKeepWhatWasSet) {
  HBRUSH face = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  LOGBRUSH lb{};
  ASSERT_EQ(GetObjectA(face, sizeof lb, &lb), static_cast<int>(sizeof lb));
  EXPECT_EQ(lb.lbColor, RGB(236, 233, 216));
  EXPECT_EQ(GetSysColorBrush(COLOR_BTNFACE), GetSysColorBrush(COLOR_BTNFACE));
  EXPECT_TRUE(DeleteObject(GetSysColorBrush(COLOR_BTNFACE)));  // stock: stays
  EXPECT_EQ(GetSysColorBrush(99), nullptr);

  HDC dc = GetDC(nullptr);
  EXPECT_EQ(SetBkColor(dc, RGB(255, 100, 100)), RGB(255, 255, 255));
  EXPECT_EQ(GetBkColor(dc), RGB(255, 100, 100));
  EXPECT_EQ(SetTextColor(dc, RGB(1, 2, 3)), RGB(0, 0, 0));
  EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
  EXPECT_EQ(GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE, 0);
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), GetSystemMetrics(SM_CXSCREEN));
  HGDIOBJ old = SelectObject(dc, face);
  EXPECT_FALSE(DeleteObject(face));
  SelectObject(dc, old);
  EXPECT_EQ(ReleaseDC(nullptr, dc), 1);
  EXPECT_EQ(SetBkColor(dc, 0), CLR_INVALID);  // released
  EXPECT_TRUE(DeleteObject(face));
}

TEST(BitmapResource, InconsistentBitmapsAreRefused) {
  sx::window::BitmapResource b;
  b.id = 1;
  b.width = 2;
  b.height = 2;
  b.bit_count = 8;
  b.bits = {1, 2, 3};  // two rows need 8 bytes
  EXPECT_THROW(sx::window::register_bitmap(nullptr, b), std::invalid_argument);
  b.bits.clear();
  b.bit_count = 7;
  EXPECT_THROW(sx::window::register_bitmap(nullptr, b), std::invalid_argument);
  b.bit_count = 1;
  b.colours.resize(3);
  EXPECT_THROW(sx::window::register_bitmap(nullptr, b), std::invalid_argument);
  b.colours.resize(2);
  b.width = 0;
  EXPECT_THROW(sx::window::register_bitmap(nullptr, b), std::invalid_argument);
}

}  // namespace
