// GUIDs (interface and class identifiers) in the Windows layout, their text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", and a compile-time way to write them.
//
// All functions are pure and thread-safe.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "com/hresult.h"
#include "win32/types.h"

using OLECHAR = WCHAR;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];

  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
      if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
  }
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPGUID = GUID*;
using LPCLSID = CLSID*;

inline constexpr GUID GUID_NULL{};

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

namespace sx::com {

namespace detail {
constexpr int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace detail

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex digits in either case, braces required,
// exactly 38 characters). Nothing for any other text.
template <class Char>
constexpr std::optional<GUID> parse_guid(std::basic_string_view<Char> text) {
  if (text.size() != 38 || text[0] != '{' || text[37] != '}') return std::nullopt;
  for (int dash : {9, 14, 19, 24}) {
    if (text[dash] != '-') return std::nullopt;
  }
  // Reads `count` hex digits starting at `pos`.
  auto read = [&](std::size_t pos, int count, std::uint64_t* out) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) {
      const Char c = text[pos + i];
      const int d =
          static_cast<std::uint32_t>(c) < 128 ? detail::hex_digit(static_cast<char>(c)) : -1;
      if (d < 0) return false;
      value = value * 16 + static_cast<std::uint64_t>(d);
    }
    *out = value;
    return true;
  };
  GUID g{};
  std::uint64_t v = 0;
  if (!read(1, 8, &v)) return std::nullopt;
  g.Data1 = static_cast<std::uint32_t>(v);
  if (!read(10, 4, &v)) return std::nullopt;
  g.Data2 = static_cast<std::uint16_t>(v);
  if (!read(15, 4, &v)) return std::nullopt;
  g.Data3 = static_cast<std::uint16_t>(v);
  constexpr int kData4Pos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!read(kData4Pos[i], 2, &v)) return std::nullopt;
    g.Data4[i] = static_cast<std::uint8_t>(v);
  }
  return g;
}

inline std::optional<GUID> parse_guid(std::string_view text) { return parse_guid<char>(text); }
inline std::optional<GUID> parse_guid(std::u16string_view text) {
  return parse_guid<char16_t>(text);
}

// A GUID written in source: `constexpr IID kIid = sx::com::guid("{...}");`. A malformed text does
// not compile.
consteval GUID guid(const char* text) {
  std::size_t n = 0;
  while (text[n] != '\0') ++n;
  const std::optional<GUID> g = parse_guid<char>(std::string_view(text, n));
  if (!g) throw std::invalid_argument("malformed GUID literal");
  return *g;
}

// Upper-case text form with braces, 38 characters.
std::string format_guid(REFGUID g);
std::u16string format_guid_utf16(REFGUID g);

// A total order, for maps keyed by GUID.
struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const;
};

}  // namespace sx::com

extern "C" {
// Reads a class id written "{...}". CO_E_CLASSSTRING for a malformed text (the class id is then
// GUID_NULL), E_INVALIDARG for null pointers. A text that is not in braces is not looked up as a
// ProgID here; use CLSIDFromProgID for names.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
HRESULT IIDFromString(LPCOLESTR text, IID* iid);
// Writes the 38-character text plus its NUL into `buffer` of `capacity` characters. Returns the
// number of characters written including the NUL, or 0 (buffer untouched) when it does not fit.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity);
}
