#include "cp1252.h"

#include <cstdint>

namespace sx::machine_tool {
namespace {

// Code points of bytes 0x80-0x9F; the rest of the code page equals Latin-1.
constexpr char32_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void append_utf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one UTF-8 character at `text[i]`; returns its length, or 0 when malformed.
std::size_t decode(std::string_view text, std::size_t i, char32_t* c) {
  auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  unsigned char lead = b(0);
  std::size_t len = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > text.size()) return 0;
  char32_t value = len == 1 ? lead : lead & (0x7F >> len);
  for (std::size_t k = 1; k < len; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (b(k) & 0x3F);
  }
  static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kMin[len]) return 0;  // overlong form
  *c = value;
  return len;
}

}  // namespace

std::string cp1252_to_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto b = static_cast<unsigned char>(ch);
    append_utf8(&out, b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b);
  }
  return out;
}

std::optional<std::string> utf8_to_cp1252(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    std::size_t len = decode(text, i, &c);
    if (len == 0) {  // not UTF-8: keep the byte
      out.push_back(text[i++]);
      continue;
    }
    i += len;
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    bool found = false;
    for (int k = 0; k < 32 && !found; ++k) {
      if (kHigh[k] == c) {
        out.push_back(static_cast<char>(0x80 + k));
        found = true;
      }
    }
    if (!found) return std::nullopt;
  }
  return out;
}

}  // namespace sx::machine_tool
