#include "sx/cli/values.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

#include "sx/ascii.h"
#include "sx/cli/program.h"
#include "win32/module.h"

namespace sx::cli {

std::optional<std::int64_t> parse_number(std::string_view text, std::int64_t min,
                                         std::int64_t max) {
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;  // |INT64_MIN|
  std::uint64_t value = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && sx::ascii::to_lower(c) >= 'a' && sx::ascii::to_lower(c) <= 'f') {
      digit = static_cast<unsigned>(sx::ascii::to_lower(c) - 'a' + 10);
    } else {
      return std::nullopt;
    }
    if (value > (kLimit - digit) / base) return std::nullopt;  // beyond any int64
    value = value * base + digit;
  }
  if (!negative && value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
    return std::nullopt;
  const std::int64_t signed_value =
      negative ? (value == kLimit ? std::numeric_limits<std::int64_t>::min()
                                  : -static_cast<std::int64_t>(value))
               : static_cast<std::int64_t>(value);
  if (signed_value < min || signed_value > max) return std::nullopt;
  return signed_value;
}

std::string number_range_text(std::int64_t min, std::int64_t max) {
  return "a whole number from " + std::to_string(min) + " to " + std::to_string(max);
}

CLI::Validator number(std::int64_t min, std::int64_t max) {
  return CLI::Validator(
      [min, max](std::string& text) -> std::string {
        auto value = parse_number(text, min, max);
        if (!value) return "\"" + text + "\" is not " + number_range_text(min, max);
        text = std::to_string(*value);
        return {};
      },
      "", "number");
}

CLI::Validator one_of(std::vector<std::string> words) {
  return CLI::Validator(
      [words](std::string& text) -> std::string {
        for (const std::string& word : words) {
          if (sx::ascii::equal_ignoring_case(text, word)) {
            text = word;
            return {};
          }
        }
        std::string list;
        for (const std::string& word : words) list += (list.empty() ? "" : ", ") + word;
        return "\"" + text + "\" is not one of: " + list;
      },
      "", "one of");
}

std::string count_of(std::uint64_t n, std::string_view singular, std::string_view plural) {
  return std::to_string(n) + " " + std::string(n == 1 ? singular : plural);
}

std::size_t columns(std::string_view utf8) {
  std::size_t n = 0;
  for (char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
  return n;
}

std::string pad_right(std::string_view utf8, std::size_t width) {
  std::string out(utf8);
  const std::size_t used = columns(utf8);
  if (used < width) out.append(width - used, ' ');
  return out;
}

std::string sentence(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 32);
  if (!text.empty() && text.back() != '.' && text.back() != '!' && text.back() != '?') text += '.';
  return text;
}

std::string shell_word(const std::string& text) {
  if (!text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789/._-+=:,@") == std::string::npos) {
    return text;
  }
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

void check_readable_file(const std::string& path, const std::string& what) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status))
    throw Failure("There is no file " + path + " (it should be " + what + ").");
  if (fs::is_directory(status)) throw Failure(path + " is a folder, not " + what + ".");
  std::ifstream in(path, std::ios::binary);
  if (!in || !fs::is_regular_file(status)) {
    throw Failure(path + " cannot be read as " + what + " (" +
                  std::error_code(errno, std::generic_category()).message() + ").");
  }
}

std::string windows_error_text(DWORD code) {
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
  if (length == 0) return "Windows error " + std::to_string(code) + ".";
  return std::string(text, length);
}

}  // namespace sx::cli
