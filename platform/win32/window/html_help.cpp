// HtmlHelpA: a recorded viewer window for a help file that exists.
#include <sys/stat.h>

#include <cstdio>
#include <map>

#include "boundary.h"
#include "core.h"
#include "sx/ascii.h"
#include "sx/paths.h"
#include "win32/htmlhelp.h"

namespace sx::window::detail {
namespace {

constexpr const char* kViewerClass = "HH Parent";

LRESULT CALLBACK viewer_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

void register_viewer_class() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSA wc{};
    wc.lpszClassName = kViewerClass;
    wc.lpfnWndProc = viewer_proc;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassA(&wc);
  });
}

// The calling thread's open viewers, by their file (folded to lower case).
thread_local std::map<std::string, HWND> t_viewers;

std::string folded(std::string text) {
  for (char& c : text) c = sx::ascii::to_lower(c);
  return text;
}

// "C:\x\Help.chm::/topic.htm>main" gives "C:\x\Help.chm".
std::string file_part(const std::string& argument) {
  std::string file = argument.substr(0, argument.find(">"));
  const std::size_t topic = file.find("::");
  if (topic != std::string::npos) file.resize(topic);
  return file;
}

bool is_file(const std::string& windows_path) {
  sx::paths::Mapped mapped = sx::paths::map(windows_path);
  struct stat st;
  return mapped.error == ERROR_SUCCESS && ::stat(mapped.host.c_str(), &st) == 0 &&
         S_ISREG(st.st_mode);
}

std::string title_of(const std::string& file) {
  const std::size_t slash = file.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

HWND display(HWND caller, const std::string& argument) {
  const std::string file = file_part(argument);
  if (file.empty() || !is_file(file)) return nullptr;
  const std::string key = folded(file);
  auto it = t_viewers.find(key);
  if (it != t_viewers.end() && IsWindow(it->second)) {
    SetForegroundWindow(it->second);
    return it->second;
  }
  register_viewer_class();
  HWND viewer =
      CreateWindowExA(0, kViewerClass, title_of(file).c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                      IsWindow(caller) ? caller : nullptr, nullptr, nullptr, nullptr);
  if (viewer == nullptr) return nullptr;
  t_viewers[key] = viewer;
  SetForegroundWindow(viewer);
  switch (host()) {
    case Host::kScripted: {
      ShownWindow shown;
      shown.kind = ShownWindow::Kind::kHelpViewer;
      shown.title = title_of(file);
      shown.text = argument;
      record(std::move(shown));
      break;
    }
    case Host::kConsole:
      std::printf("\n[help: %s]\n", argument.c_str());
      std::fflush(stdout);
      break;
    case Host::kNone:
    case Host::kAnswers:
    case Host::kWeb:
      std::fprintf(stderr, "[help viewer opened: %s]\n", argument.c_str());
      break;
  }
  return viewer;
}

void close_all() {
  auto viewers = std::move(t_viewers);
  t_viewers.clear();
  for (const auto& [key, hwnd] : viewers) {
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
  }
}

}  // namespace
}  // namespace sx::window::detail

extern "C" HWND HtmlHelpA(HWND caller, LPCSTR file, UINT command, DWORD_PTR) {
  using namespace sx::window::detail;
  return guarded<HWND>("HtmlHelpA", nullptr, [&]() -> HWND {
    switch (command) {
      case HH_DISPLAY_TOPIC:
      case HH_DISPLAY_TOC:
      case HH_DISPLAY_INDEX:
      case HH_DISPLAY_SEARCH:
        return file != nullptr ? display(caller, file) : nullptr;
      case HH_CLOSE_ALL:
        close_all();
        return nullptr;
    }
    return nullptr;
  });
}
