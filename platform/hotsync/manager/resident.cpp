#include "resident.h"

#include <cstdio>

#include "sx/hotsync.h"
#include "windows.h"

namespace sx::hotsync {
namespace {

LRESULT CALLBACK resident_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kRestartMessage) {
    if (wparam != 1) return 0;
    // Answer first; the window goes once the answer is on its way.
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    return 1;
  }
  if (msg == WM_CLOSE) {
    DestroyWindow(hwnd);
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

}  // namespace

int run_resident() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = resident_proc;
  wc.lpszClassName = kWindowClass;
  if (RegisterClassA(&wc) == 0) {
    std::fprintf(stderr, "hotsync: cannot register the window class\n");
    return 1;
  }
  HWND window = CreateWindowExA(0, kWindowClass, "HotSync Manager", 0, 0, 0, 100, 100, nullptr,
                                nullptr, nullptr, nullptr);
  if (window == nullptr) {
    std::fprintf(stderr, "hotsync: cannot create the window\n");
    return 1;
  }
  std::printf("HotSync Manager is running (window class \"%s\").\n", kWindowClass);
  std::fflush(stdout);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  std::printf("HotSync Manager closed.\n");
  return 0;
}

}  // namespace sx::hotsync
