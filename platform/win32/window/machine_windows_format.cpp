#include "machine_windows_format.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace sx::window::detail {
namespace {

std::string escape(const std::string& s) {
  std::string r;
  for (char c : s) {
    if (c == '\\') {
      r += "\\\\";
    } else if (c == '\n') {
      r += "\\n";
    } else if (c == '\r') {
      r += "\\r";
    } else {
      r += c;
    }
  }
  return r;
}

std::string unescape(std::string_view s) {
  std::string r;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char n = s[++i];
      r += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      r += s[i];
    }
  }
  return r;
}

bool is_reply_name(const std::string& s) {
  return !s.empty() && s.size() <= 64 && s.find_first_not_of("0123456789-") == std::string::npos;
}

}  // namespace

std::string format_window_entry(const WindowEntry& entry) {
  return "pid " + std::to_string(entry.pid) + "\nclass " + escape(entry.class_name) + "\ntitle " +
         escape(entry.title) + "\n";
}

bool parse_window_entry(std::string_view text, WindowEntry* entry) {
  bool has_pid = false, has_class = false, has_title = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string line(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.rfind("pid ", 0) == 0) {
      const std::string digits = line.substr(4);
      if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
          digits.size() > 10) {
        return false;
      }
      const unsigned long long v = std::strtoull(digits.c_str(), nullptr, 10);
      if (v > 0xFFFFFFFFull) return false;
      entry->pid = static_cast<std::uint32_t>(v);
      has_pid = true;
    } else if (line.rfind("class ", 0) == 0) {
      entry->class_name = unescape(std::string_view(line).substr(6));
      has_class = true;
    } else if (line.rfind("title ", 0) == 0 || line == "title") {
      entry->title = line.size() > 6 ? unescape(std::string_view(line).substr(6)) : std::string();
      has_title = true;
    }
  }
  return has_pid && has_class && has_title;
}

std::string handle_name(std::uint64_t handle) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(handle));
  return text;
}

bool parse_handle_name(std::string_view name, std::uint64_t* handle) {
  if (name.size() != 16 || name.find_first_not_of("0123456789abcdefABCDEF") != name.npos) {
    return false;
  }
  *handle = std::strtoull(std::string(name).c_str(), nullptr, 16);
  return true;
}

std::string format_letter(const Letter& letter) {
  std::string line = handle_name(letter.hwnd) + " " + std::to_string(letter.msg) + " " +
                     std::to_string(letter.wparam) + " " + std::to_string(letter.lparam);
  if (!letter.reply.empty()) line += " " + letter.reply;
  return line + "\n";
}

bool parse_letter(std::string_view text, Letter* letter) {
  std::istringstream in{std::string(text)};
  std::string handle, msg, wparam, lparam, reply, more;
  if (!(in >> handle >> msg >> wparam >> lparam)) return false;
  if (in >> reply && (!is_reply_name(reply) || in >> more)) return false;
  const auto digits = [](const std::string& s, bool sign) {
    const std::size_t from = sign && !s.empty() && s[0] == '-' ? 1 : 0;
    return s.size() > from && s.size() <= 20 &&
           s.find_first_not_of("0123456789", from) == std::string::npos;
  };
  if (!parse_handle_name(handle, &letter->hwnd) || !digits(msg, false) || !digits(wparam, false) ||
      !digits(lparam, true)) {
    return false;
  }
  errno = 0;
  const unsigned long long m = std::strtoull(msg.c_str(), nullptr, 10);
  const unsigned long long w = std::strtoull(wparam.c_str(), nullptr, 10);
  const long long l = std::strtoll(lparam.c_str(), nullptr, 10);
  if (errno != 0 || m > 0xFFFFFFFFull) return false;
  letter->msg = static_cast<std::uint32_t>(m);
  letter->wparam = w;
  letter->lparam = l;
  letter->reply = reply;
  return true;
}

std::optional<std::int64_t> parse_answer(std::string_view text) {
  std::string s(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  const std::size_t from = !s.empty() && s[0] == '-' ? 1 : 0;
  if (s.size() <= from || s.size() > 20 || s.find_first_not_of("0123456789", from) != s.npos) {
    return std::nullopt;
  }
  errno = 0;
  const long long value = std::strtoll(s.c_str(), nullptr, 10);
  if (errno != 0) return std::nullopt;
  return value;
}

}  // namespace sx::window::detail
