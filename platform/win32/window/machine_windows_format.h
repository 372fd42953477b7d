// The small files through which processes of one machine see each other's top-level windows and
// post or send them messages (layout: machine_windows.cpp). Any process of the machine may have
// written them, or been killed while writing: every reader takes them as untrusted text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sx::window::detail {

// windows/<hwnd>.win: "pid <n>\nclass <escaped>\ntitle <escaped>\n".
struct WindowEntry {
  std::uint32_t pid = 0;
  std::string class_name;
  std::string title;
};
std::string format_window_entry(const WindowEntry& entry);
// False unless the pid, class and title lines are all there and the pid is a 32-bit number.
bool parse_window_entry(std::string_view text, WindowEntry* entry);

// A window handle as a file name: 16 hex digits.
std::string handle_name(std::uint64_t handle);
bool parse_handle_name(std::string_view name, std::uint64_t* handle);

// windows/mail-<pid>/<unique>.msg: "<hwnd> <msg> <wParam> <lParam>[ <reply>]\n". `reply` names the
// answer file a sent message waits for (digits and '-', at most 64 characters); empty: posted.
struct Letter {
  std::uint64_t hwnd = 0;
  std::uint32_t msg = 0;
  std::uint64_t wparam = 0;
  std::int64_t lparam = 0;
  std::string reply;
};
std::string format_letter(const Letter& letter);
// False for a damaged letter (the message number is checked by the caller).
bool parse_letter(std::string_view text, Letter* letter);

// windows/replies/<reply>.ans: "<result>\n".
std::optional<std::int64_t> parse_answer(std::string_view text);

}  // namespace sx::window::detail
