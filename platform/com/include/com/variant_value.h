// sx::com::Variant: owns one VARIANT (like _variant_t) and clears it when it goes.
//
// The wrapped VARIANT is layout-compatible: &v.get() can be passed wherever a VARIANT* is wanted.
// Conversions to C++ values go through VariantChangeType and throw ComError on failure.
#pragma once

#include <string>
#include <string_view>

#include "com/dispatch.h"
#include "com/ptr.h"
#include "com/variant.h"

namespace sx::com {

class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const VARIANT& other);  // copies (VariantCopy); throws ComError on failure
  Variant(const Variant& other) : Variant(other.v_) {}
  Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
  ~Variant() { VariantClear(&v_); }
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;

  // Typed values. Text is taken as UTF-8 (from_utf8) or system code page (from_ansi).
  static Variant null();
  static Variant from_i4(LONG value);
  static Variant from_i2(SHORT value);
  static Variant from_ui1(BYTE value);
  static Variant from_r8(double value);
  static Variant from_date(DATE value);
  static Variant from_bool(bool value);
  static Variant from_error(SCODE value);
  static Variant from_bstr(std::u16string_view text);
  static Variant from_utf8(std::string_view text);
  static Variant from_ansi(std::string_view text);
  static Variant from_dispatch(IDispatch* object);  // AddRef'd
  static Variant from_unknown(IUnknown* object);    // AddRef'd
  // Takes over `v` (no copy); `v` is left VT_EMPTY.
  static Variant attach(VARIANT* v);

  VARTYPE vt() const { return v_.vt; }
  bool is_empty() const { return v_.vt == VT_EMPTY; }
  bool is_null() const { return v_.vt == VT_NULL; }

  const VARIANT& get() const { return v_; }
  VARIANT& get() { return v_; }
  // Clears and hands out the VARIANT for an out-parameter.
  VARIANT* put();
  // Hands the VARIANT over to the caller, who must clear it; this becomes VT_EMPTY.
  VARIANT detach();
  void clear();

  // Converted values; throw ComError (DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW, ...) on failure.
  LONG to_i4() const;
  double to_r8() const;
  DATE to_date() const;
  bool to_bool() const;
  std::string to_utf8() const;
  std::string to_ansi() const;
  // Converted to another type in a new Variant (flags as for VariantChangeTypeEx).
  Variant changed_to(VARTYPE vt, USHORT flags = 0) const;

 private:
  VARIANT v_;
};

}  // namespace sx::com
