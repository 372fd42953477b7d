// Where the web window host (SX_WINDOW_HOST=web) and the machine's page server (`sxmachine view`)
// meet: files under <machine root>/view/, so that every process of the machine reaches the page
// and nothing leaves the machine root.
//
//   view/page               the page server's pid, while at least one page is open
//   view/windows/NAME.json  a window a process shows under the web host, as the page draws it
//                           (written through a temporary file and a rename; removed when it goes)
//   view/input/NAME.jsonl   what the person did to it in the page, one JSON object a line,
//                           appended whole by the server, read by the window's thread up to
//                           its last line end, removed with the window
//
// NAME is "<pid>-<handle in hexadecimal>". The window file: {"name", "pid", "program", "title",
// "kind" ("dialog", "message box", "progress"), "modal", "width", "height" (client area in
// pixels), "controls": [{"handle", "id", "class", "text", "x", "y", "cx", "cy" (pixels from the
// client area's corner), "du": [x, y, cx, cy] (dialog units), "enabled", "visible", "default",
// "checked", "multiline", "readonly", "items", "selection", "pos", "min", "max", "colour",
// "background"}]}; texts UTF-8. A process that ended without taking its windows down leaves
// their files behind; readers pass over (and may remove) the files of processes that are gone.
// An input line: {"handle": H, "do": "click" | "type" | "select" | "close", "text": T (type),
// "index": N (select)}. All functions are thread-safe.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sx::window::web {

std::filesystem::path view_folder();     // <root>/view
std::filesystem::path page_marker();     // <root>/view/page
std::filesystem::path windows_folder();  // <root>/view/windows
std::filesystem::path input_folder();    // <root>/view/input

// Whether a page is open: the marker names a living process.
bool page_open();

// What the page did to a window.
struct WindowInput {
  enum class Kind { kClick, kType, kSelect, kClose };
  Kind kind = Kind::kClick;
  std::uint64_t handle = 0;  // the control (kClose: unused)
  std::string text;          // kType, UTF-8
  int index = 0;             // kSelect
};

// One input line. Untrusted: nothing for a line that is not exactly one of the shapes above (texts
// of at most 64 KiB, indexes from 0 to 65535), never more.
std::optional<WindowInput> parse_window_input(std::string_view line);
// The line for `input`, with its line end.
std::string window_input_line(const WindowInput& input);

// True for a NAME that the web host makes ("<digits>-<hex digits>"), so that a name from a
// request never leaves the folders above.
bool is_window_name(std::string_view name);

}  // namespace sx::window::web
