// A small program for the process tests, started through CreateProcessA:
//   test_child exit N            ends with exit code N (returned from main)
//   test_child exitprocess N     ends with ExitProcess(N)
//   test_child args FILE ARG...  writes each ARG on a line of FILE (a Windows path), then ends
//   test_child cmdline FILE      writes GetCommandLineA() into FILE, then ends
//   test_child window CLASS      shows a top-level window of CLASS until it is closed
//   test_child hold FILE CLASS   opens FILE for reading and writing, sharing both but not delete
//                                (as Outlook holds its store), then shows the window until closed
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "windows.h"

namespace {

LRESULT CALLBACK window_procedure(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

int show_window(const char* class_name) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = window_procedure;
  wc.lpszClassName = class_name;
  if (RegisterClassA(&wc) == 0) return 2;
  HWND hwnd = CreateWindowExA(0, class_name, "test child", 0, 0, 0, 10, 10, nullptr, nullptr,
                              nullptr, nullptr);
  if (hwnd == nullptr) return 3;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}

int write_text(const char* file_name, const std::string& text) {
  HANDLE file = CreateFileA(file_name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 4;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return 0;
}

int write_arguments(int argc, char** argv) {
  std::string text;
  for (int i = 3; i < argc; ++i) text += std::string(argv[i]) + "\n";
  return write_text(argv[2], text);
}

int hold(const char* file_name, const char* class_name) {
  HANDLE file =
      CreateFileA(file_name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 5;
  const int result = show_window(class_name);
  CloseHandle(file);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "exit") == 0) return std::atoi(argv[2]);
  if (argc >= 3 && std::strcmp(argv[1], "exitprocess") == 0) {
    ExitProcess(static_cast<UINT>(std::strtoul(argv[2], nullptr, 10)));
  }
  if (argc >= 3 && std::strcmp(argv[1], "args") == 0) return write_arguments(argc, argv);
  if (argc >= 3 && std::strcmp(argv[1], "cmdline") == 0) {
    return write_text(argv[2], GetCommandLineA());
  }
  if (argc >= 3 && std::strcmp(argv[1], "window") == 0) return show_window(argv[2]);
  if (argc >= 4 && std::strcmp(argv[1], "hold") == 0) return hold(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: test_child exit N | exitprocess N | args FILE ARG... | cmdline FILE | "
               "window CLASS | hold FILE CLASS\n");
  return 1;
}
