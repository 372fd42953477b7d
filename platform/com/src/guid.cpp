#include <cstdio>
#include <cstring>
#include <tuple>

#include "com/guid.h"

namespace sx::com {

std::string format_guid(REFGUID g) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return std::string(text, 38);
}

std::u16string format_guid_utf16(REFGUID g) {
  const std::string text = format_guid(g);
  return std::u16string(text.begin(), text.end());
}

bool GuidLess::operator()(const GUID& a, const GUID& b) const {
  if (a.Data1 != b.Data1) return a.Data1 < b.Data1;
  if (a.Data2 != b.Data2) return a.Data2 < b.Data2;
  if (a.Data3 != b.Data3) return a.Data3 < b.Data3;
  return std::memcmp(a.Data4, b.Data4, sizeof a.Data4) < 0;
}

}  // namespace sx::com

namespace {

// Length of a NUL-terminated text, looking at no more than `limit` characters.
std::size_t bounded_length(LPCOLESTR text, std::size_t limit) {
  std::size_t n = 0;
  while (n < limit && text[n] != 0) ++n;
  return n;
}

HRESULT guid_from_text(LPCOLESTR text, GUID* out) {
  if (text == nullptr || out == nullptr) return E_INVALIDARG;
  // Read one past 38 so that a longer text is refused.
  const std::size_t n = bounded_length(text, 39);
  const auto g = sx::com::parse_guid(std::u16string_view(text, n));
  *out = g.value_or(GUID_NULL);
  return g ? S_OK : CO_E_CLASSSTRING;
}

}  // namespace

extern "C" {

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) { return guid_from_text(text, clsid); }

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
  const HRESULT hr = guid_from_text(text, iid);
  return hr == CO_E_CLASSSTRING ? E_INVALIDARG : hr;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity) {
  if (buffer == nullptr || capacity < 39) return 0;
  try {
    const std::u16string text = sx::com::format_guid_utf16(guid);
    std::memcpy(buffer, text.data(), text.size() * sizeof(OLECHAR));
    buffer[38] = 0;
    return 39;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
