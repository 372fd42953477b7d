// UTF-8 to and from UTF-16, with the replacement of ill-formed input recommended by Unicode
// (one U+FFFD per maximal subpart of an ill-formed sequence).
#include <cstdint>

#include "encodings.h"

namespace sx::codepage {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void append_code_point(std::uint32_t cp, std::u16string* out) {
  if (cp < 0x10000) {
    out->push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void append_utf8(std::uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Number of continuation bytes a lead byte announces and the allowed range of the first of them;
// 0 continuation bytes for a byte that cannot start a sequence.
struct Lead {
  int continuation;
  unsigned char low, high;
  std::uint32_t bits;
};

Lead classify(unsigned char b) {
  if (b >= 0xC2 && b <= 0xDF) return {1, 0x80, 0xBF, b & 0x1Fu};
  if (b == 0xE0) return {2, 0xA0, 0xBF, 0};     // no overlong forms
  if (b == 0xED) return {2, 0x80, 0x9F, 0x0D};  // no surrogates
  if (b >= 0xE1 && b <= 0xEF) return {2, 0x80, 0xBF, b & 0x0Fu};
  if (b == 0xF0) return {3, 0x90, 0xBF, 0};  // no overlong forms
  if (b >= 0xF1 && b <= 0xF3) return {3, 0x80, 0xBF, b & 0x07u};
  if (b == 0xF4) return {3, 0x80, 0x8F, 4};  // nothing above U+10FFFF
  return {0, 0, 0, 0};
}

}  // namespace

bool append_utf8_as_utf16(std::string_view in, std::u16string* out) {
  bool valid = true;
  out->reserve(out->size() + in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const auto b0 = static_cast<unsigned char>(in[i]);
    if (b0 < 0x80) {
      out->push_back(b0);
      ++i;
      continue;
    }
    const Lead lead = classify(b0);
    std::size_t j = i + 1;
    if (lead.continuation == 0) {
      valid = false;
      out->push_back(kReplacement);
      i = j;
      continue;
    }
    std::uint32_t cp = lead.bits;
    unsigned char low = lead.low, high = lead.high;
    int taken = 0;
    while (taken < lead.continuation && j < in.size()) {
      const auto b = static_cast<unsigned char>(in[j]);
      if (b < low || b > high) break;
      cp = (cp << 6) | (b & 0x3Fu);
      low = 0x80;
      high = 0xBF;
      ++j;
      ++taken;
    }
    if (taken < lead.continuation) {
      valid = false;
      out->push_back(kReplacement);  // the maximal subpart i..j is replaced as a whole
    } else {
      append_code_point(cp, out);
    }
    i = j;
  }
  return valid;
}

bool append_utf16_as_utf8(std::u16string_view in, std::string* out) {
  bool valid = true;
  out->reserve(out->size() + in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    const char16_t unit = in[i];
    if (is_high_surrogate(unit) && i + 1 < in.size() && is_low_surrogate(in[i + 1])) {
      append_utf8(0x10000 + ((static_cast<std::uint32_t>(unit) - 0xD800) << 10) +
                      (static_cast<std::uint32_t>(in[i + 1]) - 0xDC00),
                  out);
      ++i;
    } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
      valid = false;
      append_utf8(kReplacement, out);
    } else {
      append_utf8(unit, out);
    }
  }
  return valid;
}

std::size_t whole_utf16_prefix(std::u16string_view units, std::size_t limit) {
  if (limit >= units.size()) return units.size();
  // Do not end between the two halves of a pair.
  if (limit > 0 && is_high_surrogate(units[limit - 1]) && is_low_surrogate(units[limit])) {
    return limit - 1;
  }
  return limit;
}

std::size_t whole_utf8_prefix(std::string_view bytes, std::size_t limit) {
  if (limit >= bytes.size()) return bytes.size();
  // Back up over continuation bytes to the start of the character that `limit` cuts.
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80) --end;
  return end;
}

}  // namespace sx::codepage
