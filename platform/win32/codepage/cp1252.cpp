// Windows-1252. Bytes below 0x80 and from 0xA0 are Latin-1; 0x80-0x9F hold typographic characters,
// and the five bytes that 1252 leaves undefined map to the C1 control of the same value.
#include <array>

#include "encodings.h"

namespace sx::codepage {
namespace {

constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

}  // namespace

char16_t cp1252_to_unicode(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return kHighControls[byte - 0x80];
  return byte;
}

int unicode_to_cp1252(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return unit;
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == unit) return static_cast<int>(0x80 + i);
  }
  return -1;
}

bool append_utf16_as_cp1252(std::u16string_view in, char default_char, std::string* out) {
  bool exact = true;
  out->reserve(out->size() + in.size());
  for (char16_t unit : in) {
    const int byte = unicode_to_cp1252(unit);
    if (byte < 0) {
      exact = false;
      out->push_back(default_char);
    } else {
      out->push_back(static_cast<char>(byte));
    }
  }
  return exact;
}

}  // namespace sx::codepage
