#include "splash.h"

#include <vector>

#include "resources.h"
#include "sx/clock.h"
#include "vfw.h"

namespace sx::configure {
namespace {

constexpr char kSplashClass[] = "SXConfigureSplash";
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kRetryMs = 100;

// CDib: the splash bitmap as a DIB section, with a palette built from its colour table (a
// halftone palette when it has none).
class CDib {
 public:
  explicit CDib(int id) {
    bitmap_ = reinterpret_cast<HBITMAP>(
        LoadImageA(nullptr, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (bitmap_ == nullptr || GetObjectA(bitmap_, sizeof section_, &section_) == 0) return;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap_);
    std::vector<RGBQUAD> colours(256);
    const UINT n = GetDIBColorTable(dc, 0, 256, colours.data());
    SelectObject(dc, old);
    if (n == 0) {
      palette_ = CreateHalftonePalette(dc);
    } else {
      std::vector<BYTE> buffer(sizeof(LOGPALETTE) + n * sizeof(PALETTEENTRY));
      auto* logical = reinterpret_cast<LOGPALETTE*>(buffer.data());
      logical->palVersion = 0x300;
      logical->palNumEntries = static_cast<WORD>(n);
      for (UINT i = 0; i < n; ++i) {
        logical->palPalEntry[i] = {colours[i].rgbRed, colours[i].rgbGreen, colours[i].rgbBlue, 0};
      }
      palette_ = CreatePalette(logical);
    }
    DeleteDC(dc);
  }
  ~CDib() {
    if (palette_ != nullptr) DeleteObject(palette_);
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
  }
  CDib(const CDib&) = delete;
  CDib& operator=(const CDib&) = delete;

  bool Loaded() const { return section_.dsBm.bmBits != nullptr; }
  int Width() const { return section_.dsBmih.biWidth; }
  int Height() const { return section_.dsBmih.biHeight; }

  void Draw(HDC dc, HDRAWDIB drawDib) {
    HPALETTE old = palette_ != nullptr ? SelectPalette(dc, palette_, FALSE) : nullptr;
    if (palette_ != nullptr) RealizePalette(dc);
    DrawDibDraw(drawDib, dc, 0, 0, Width(), Height(), &section_.dsBmih, section_.dsBm.bmBits, 0, 0,
                Width(), Height(), 0);
    if (old != nullptr) SelectPalette(dc, old, TRUE);
  }

 private:
  HBITMAP bitmap_ = nullptr;
  HPALETTE palette_ = nullptr;
  DIBSECTION section_{};
};

// The window's data (GWLP_USERDATA).
struct SplashWnd {
  CDib* dib;
  HDRAWDIB drawDib;
  int flags;
  SplashState* state;
};

LRESULT CALLBACK SplashProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    auto* self = reinterpret_cast<SplashWnd*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
      case WM_CREATE: {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return 0;
      }
      case WM_PAINT: {
        PAINTSTRUCT paint{};
        HDC dc = BeginPaint(window, &paint);
        if (self != nullptr && self->dib->Loaded()) self->dib->Draw(dc, self->drawDib);
        EndPaint(window, &paint);
        return 0;
      }
      case WM_TIMER:
        if (self == nullptr || wParam != kTimerId) break;
        KillTimer(window, kTimerId);
        if (self->state->initialised.load() || (self->flags & kSplashCloseAtFirstTimer) != 0) {
          DestroyWindow(window);
        } else {
          SetTimer(window, kTimerId, kRetryMs, nullptr);
        }
        return 0;
      case WM_KEYDOWN:
      case WM_LBUTTONDOWN:
      case WM_RBUTTONDOWN:
      case WM_MBUTTONDOWN:
        if (self != nullptr && (self->flags & kSplashCloseOnInput) != 0) {
          DestroyWindow(window);
          return 0;
        }
        break;
      case WM_DESTROY:
        if (self != nullptr) {
          self->state->closedAtMs = sx::clock::now_ms();
          if (HWND status = self->state->statusWindow.load(); status != nullptr && IsWindow(status))
            SetForegroundWindow(status);
        }
        PostQuitMessage(0);
        return 0;
      default:
        break;
    }
  } catch (...) {
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

CSplash::CSplash(int bitmapId, UINT minimumMs, int flags, SplashState* state)
    : bitmapId_(bitmapId), minimumMs_(minimumMs), flags_(flags), state_(state) {
  thread_ = CreateThread(nullptr, 0, &CSplash::Run, this, 0, nullptr);
}

CSplash::~CSplash() {
  Wait();
  if (thread_ != nullptr) CloseHandle(thread_);
}

void CSplash::Wait() {
  if (thread_ != nullptr) WaitForSingleObject(thread_, INFINITE);
}

DWORD WINAPI CSplash::Run(LPVOID param) {
  auto* self = static_cast<CSplash*>(param);
  try {
    RegisterResources();
    WNDCLASSA wc{};
    wc.lpfnWndProc = &SplashProc;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = kSplashClass;
    RegisterClassA(&wc);  // fails harmlessly when a previous splash registered it

    CDib dib(self->bitmapId_);
    SplashWnd data{&dib, DrawDibOpen(), self->flags_, self->state_};
    const int cx = dib.Loaded() ? dib.Width() : 0, cy = dib.Loaded() ? dib.Height() : 0;
    HWND window = CreateWindowExA(
        0, kSplashClass, "", WS_POPUP | WS_VISIBLE, (GetSystemMetrics(SM_CXSCREEN) - cx) / 2,
        (GetSystemMetrics(SM_CYSCREEN) - cy) / 2, cx, cy, nullptr, nullptr, nullptr, &data);
    if (window != nullptr) {
      UpdateWindow(window);
      SetForegroundWindow(window);
      SetTimer(window, kTimerId, self->minimumMs_, nullptr);
      MSG message{};
      while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    }
    DrawDibClose(data.drawDib);
  } catch (...) {
  }
  return 0;
}

}  // namespace sx::configure
