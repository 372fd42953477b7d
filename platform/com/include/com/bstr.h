// BSTR, the automation string: UTF-16 text preceded by its length in bytes (a 32-bit prefix just
// before the characters) and followed by a NUL character. A BSTR may hold NULs inside; its length
// is the prefix, not the first NUL. A null BSTR counts as the empty string everywhere.
//
// The Sys* functions are thread-safe; a BSTR belongs to whoever allocated it until freed.
#pragma once

#include <string>
#include <string_view>

#include "com/guid.h"

using BSTR = OLECHAR*;
using LPBSTR = BSTR*;

extern "C" {
// A copy of the NUL-terminated `text`; null for a null `text` or when memory runs out.
BSTR SysAllocString(const OLECHAR* text);
// A string of `length` characters copied from `text` (which may hold NULs), or left zeroed when
// `text` is null. Null when memory runs out or the length is too large.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// A string of `bytes` bytes copied from `data` (zeroed when null); an odd byte count is allowed.
BSTR SysAllocStringByteLen(LPCSTR data, UINT bytes);
// Replaces *bstr by a copy of `text` (null `text` gives the empty string) and frees the old one.
// `text` may point into *bstr. FALSE (and *bstr unchanged) when memory runs out or bstr is null.
INT SysReAllocString(BSTR* bstr, const OLECHAR* text);
INT SysReAllocStringLen(BSTR* bstr, const OLECHAR* text, UINT length);
// Frees a BSTR; null is fine.
void SysFreeString(BSTR bstr);
// Length in characters (bytes / 2, rounded down) and in bytes; 0 for null.
UINT SysStringLen(BSTR bstr);
UINT SysStringByteLen(BSTR bstr);
}

namespace sx::com {

// Conversions between BSTR and narrow text. The ANSI forms use the system code page (CP_ACP); the
// UTF-8 forms replace unpaired surrogates and malformed bytes by U+FFFD. Every character of the
// BSTR counts, NULs included. The returned BSTR belongs to the caller (free it with SysFreeString);
// it is null only when memory runs out.
std::string bstr_to_ansi(BSTR text);
BSTR ansi_to_bstr(std::string_view text);
std::string bstr_to_utf8(BSTR text);
BSTR utf8_to_bstr(std::string_view text);
std::u16string bstr_to_u16(BSTR text);
BSTR u16_to_bstr(std::u16string_view text);

std::u16string utf8_to_u16(std::string_view text);
std::string u16_to_utf8(std::u16string_view text);
std::u16string ansi_to_u16(std::string_view text);
std::string u16_to_ansi(std::u16string_view text);

// Owns one BSTR (like _bstr_t, without sharing): frees it when destroyed. Move-only.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::u16string_view text) : value_(u16_to_bstr(text)) {}
  static Bstr from_ansi(std::string_view text) { return Bstr(ansi_to_bstr(text), kAttach); }
  static Bstr from_utf8(std::string_view text) { return Bstr(utf8_to_bstr(text), kAttach); }
  static Bstr attach(BSTR value) { return Bstr(value, kAttach); }
  Bstr(Bstr&& other) noexcept : value_(other.detach()) {}
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) reset(other.detach());
    return *this;
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(value_); }

  BSTR get() const { return value_; }
  // For out-parameters: frees the current string and hands out the slot.
  BSTR* put() {
    reset();
    return &value_;
  }
  BSTR detach() {
    BSTR v = value_;
    value_ = nullptr;
    return v;
  }
  void reset(BSTR value = nullptr) {
    if (value != value_) SysFreeString(value_);
    value_ = value;
  }
  UINT length() const { return SysStringLen(value_); }
  std::string ansi() const { return bstr_to_ansi(value_); }
  std::string utf8() const { return bstr_to_utf8(value_); }
  std::u16string u16() const { return bstr_to_u16(value_); }

 private:
  enum AttachTag { kAttach };
  Bstr(BSTR value, AttachTag) : value_(value) {}
  BSTR value_ = nullptr;
};

}  // namespace sx::com
