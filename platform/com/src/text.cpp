// Conversions between BSTR / UTF-16 and narrow text (UTF-8 and the system code page).
#include <stdexcept>
#include <string>

#include "com/bstr.h"
#include "win32/codepage.h"

namespace sx::com {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void append_utf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

}  // namespace

std::u16string utf8_to_u16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t c = 0;
    char32_t min = 0;
    if (b < 0x80) {
      c = b;
    } else if (b >= 0xC2 && b < 0xE0) {
      extra = 1, c = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b < 0xF0) {
      extra = 2, c = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b < 0xF5) {
      extra = 3, c = b & 0x07, min = 0x10000;
    } else {
      out.push_back(static_cast<char16_t>(kReplacement));
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < extra; ++k, ++j) {
      if (j >= text.size() || (static_cast<unsigned char>(text[j]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (static_cast<unsigned char>(text[j]) & 0x3F);
    }
    if (!ok || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back(static_cast<char16_t>(kReplacement));
      i = j;  // a byte that broke the sequence is read again as the start of the next one
      continue;
    }
    append_utf16(out, c);
    i = j;
  }
  return out;
}

std::string u16_to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    append_utf8(out, c);
  }
  return out;
}

// The system code page, through the Windows conversions (CP_ACP), which never fail for it.
std::u16string ansi_to_u16(std::string_view text) {
  if (text.empty()) return {};
  if (text.size() > 0x7FFFFFFF) throw std::length_error("text too long");
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  std::u16string out(static_cast<std::size_t>(needed > 0 ? needed : 0), u'\0');
  if (needed > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), length, out.data(), needed);
  return out;
}

std::string u16_to_ansi(std::u16string_view text) {
  if (text.empty()) return {};
  if (text.size() > 0x7FFFFFFF) throw std::length_error("text too long");
  const int length = static_cast<int>(text.size());
  const int needed =
      WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(needed > 0 ? needed : 0), '\0');
  if (needed > 0) {
    WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
  }
  return out;
}

std::u16string bstr_to_u16(BSTR text) {
  return text == nullptr ? std::u16string() : std::u16string(text, SysStringLen(text));
}

BSTR u16_to_bstr(std::u16string_view text) {
  if (text.size() > 0x3FFFFFF0u) return nullptr;
  return SysAllocStringLen(text.empty() ? u"" : text.data(), static_cast<UINT>(text.size()));
}

std::string bstr_to_ansi(BSTR text) { return u16_to_ansi(bstr_to_u16(text)); }
BSTR ansi_to_bstr(std::string_view text) { return u16_to_bstr(ansi_to_u16(text)); }
std::string bstr_to_utf8(BSTR text) { return u16_to_utf8(bstr_to_u16(text)); }
BSTR utf8_to_bstr(std::string_view text) { return u16_to_bstr(utf8_to_u16(text)); }

}  // namespace sx::com
