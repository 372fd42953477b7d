// VariantChangeType(Ex): conversions between empty, numbers, currency, dates, booleans, text and
// objects with the Windows rules for the US English locale.
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "com/dispatch.h"
#include "com/vardate.h"
#include "com/variant.h"
#include "variant_internal.h"
#include "variant_text.h"

namespace sx::com::detail {
namespace {

using Int = __int128;

bool is_integer_source(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_BOOL:
      return true;
    default:
      return false;
  }
}

Int integer_of(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1:
      return v.cVal;
    case VT_UI1:
      return v.bVal;
    case VT_I2:
      return v.iVal;
    case VT_UI2:
      return v.uiVal;
    case VT_I4:
      return v.lVal;
    case VT_UI4:
      return v.ulVal;
    case VT_I8:
      return v.llVal;
    case VT_UI8:
      return v.ullVal;
    case VT_INT:
      return v.intVal;
    case VT_UINT:
      return v.uintVal;
    case VT_BOOL:
      return v.boolVal;
    default:
      return 0;  // VT_EMPTY
  }
}

// The numeric value of a number, date, bool, empty or text source as a double.
HRESULT real_of(const VARIANT& v, double* out) {
  if (is_integer_source(v.vt)) {
    *out = static_cast<double>(integer_of(v));
    return S_OK;
  }
  switch (v.vt) {
    case VT_R4:
      *out = v.fltVal;
      return S_OK;
    case VT_R8:
      *out = v.dblVal;
      return S_OK;
    case VT_DATE:
      *out = v.date;
      return S_OK;
    case VT_CY:
      *out = static_cast<double>(v.cyVal.int64) / 10000.0;
      return S_OK;
    case VT_BSTR:
      return parse_number(bstr_to_u16(v.bstrVal), out);
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// The value as an integer in [lo, hi]: exact for integer sources, rounded half to even otherwise.
HRESULT integer_in_range(const VARIANT& v, Int lo, Int hi, Int* out) {
  Int value = 0;
  if (is_integer_source(v.vt)) {
    value = integer_of(v);
  } else {
    double d = 0;
    if (const HRESULT hr = real_of(v, &d); FAILED(hr)) return hr;
    if (std::isnan(d)) return DISP_E_OVERFLOW;
    d = std::nearbyint(d);  // the default rounding mode rounds half to even
    if (!(d >= -1.8e19 && d <= 1.9e19)) return DISP_E_OVERFLOW;
    value = static_cast<Int>(d);
  }
  if (value < lo || value > hi) return DISP_E_OVERFLOW;
  *out = value;
  return S_OK;
}

HRESULT bool_of(const VARIANT& v, VARIANT_BOOL* out) {
  if (v.vt == VT_BSTR) {
    const std::u16string text = trim_blanks(bstr_to_u16(v.bstrVal));
    if (equals_ignoring_case(text, u"True")) {
      *out = VARIANT_TRUE;
      return S_OK;
    }
    if (equals_ignoring_case(text, u"False")) {
      *out = VARIANT_FALSE;
      return S_OK;
    }
  }
  if (is_integer_source(v.vt)) {
    *out = integer_of(v) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  double d = 0;
  if (const HRESULT hr = real_of(v, &d); FAILED(hr)) return hr;
  *out = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT date_of(const VARIANT& v, DATE* out) {
  if (v.vt == VT_BSTR) return parse_date(bstr_to_u16(v.bstrVal), out);
  double d = 0;
  if (const HRESULT hr = real_of(v, &d); FAILED(hr)) return hr;
  if (!(d > kMinDate - 1.0 && d < kMaxDateExclusive)) return DISP_E_OVERFLOW;
  *out = d;
  return S_OK;
}

HRESULT text_of(const VARIANT& v, USHORT flags, std::u16string* out) {
  char buffer[64];
  switch (v.vt) {
    case VT_EMPTY:
      out->clear();
      return S_OK;
    case VT_BSTR:
      *out = bstr_to_u16(v.bstrVal);
      return S_OK;
    case VT_BOOL:
      if ((flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) != 0) {
        *out = v.boolVal != 0 ? u"True" : u"False";
        return S_OK;
      }
      break;
    case VT_R4:
      *out = format_real(v.fltVal, 7);
      return S_OK;
    case VT_R8:
      *out = format_real(v.dblVal, 15);
      return S_OK;
    case VT_CY:
      *out = format_currency(v.cyVal.int64);
      return S_OK;
    case VT_DATE:
      return format_date(v.date, out);
    default:
      break;
  }
  if (!is_integer_source(v.vt)) return DISP_E_TYPEMISMATCH;
  const Int value = integer_of(v);
  if (value < 0) {
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(value));
  } else {
    std::snprintf(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(value));
  }
  out->assign(buffer, buffer + std::strlen(buffer));
  return S_OK;
}

// The value property of an object (DISPID_VALUE), for conversions of objects to plain values.
HRESULT value_property(IDispatch* object, LCID lcid, VARIANT* out) {
  if (object == nullptr) return DISP_E_TYPEMISMATCH;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VariantInit(out);
  return object->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none,
                        out, nullptr, nullptr);
}

// Fills `out` (which is empty) with `value` converted to `vt`. `value` is not VT_BYREF.
HRESULT convert(const VARIANT& value, LCID lcid, USHORT flags, VARTYPE vt, VARIANT* out) {
  if (vt == VT_EMPTY) return S_OK;
  if (vt == VT_NULL) {
    if (value.vt != VT_EMPTY && value.vt != VT_NULL) return DISP_E_TYPEMISMATCH;
    out->vt = VT_NULL;
    return S_OK;
  }
  if (value.vt == VT_NULL) return DISP_E_TYPEMISMATCH;

  if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    if (value.vt != VT_DISPATCH && value.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
    out->vt = vt;
    out->punkVal = nullptr;
    if (value.punkVal == nullptr) return S_OK;
    void* object = nullptr;
    const HRESULT hr =
        value.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &object);
    if (FAILED(hr)) {
      out->vt = VT_EMPTY;
      return hr == E_NOINTERFACE ? DISP_E_TYPEMISMATCH : hr;
    }
    out->punkVal = static_cast<IUnknown*>(object);
    return S_OK;
  }
  if (value.vt == VT_DISPATCH) {
    if ((flags & VARIANT_NOVALUEPROP) != 0) return DISP_E_TYPEMISMATCH;
    VARIANT inner;
    if (const HRESULT hr = value_property(value.pdispVal, lcid, &inner); FAILED(hr)) return hr;
    VARIANT plain;
    const HRESULT deref = dereference(inner, &plain);
    // One level only: a value property that is itself an object does not convert further.
    const HRESULT hr =
        FAILED(deref) ? deref : convert(plain, lcid, flags | VARIANT_NOVALUEPROP, vt, out);
    VariantClear(&inner);
    return hr;
  }
  if (value.vt == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
  if (vt == VT_ERROR || value.vt == VT_ERROR) {
    if (vt != value.vt) return DISP_E_TYPEMISMATCH;
    *out = value;
    return S_OK;
  }

  Int n = 0;
  HRESULT hr = S_OK;
  // Integer targets: each with its range.
  auto integer = [&](Int lo, Int hi) { return hr = integer_in_range(value, lo, hi, &n); };
  switch (vt) {
    case VT_I1:
      if (SUCCEEDED(integer(-128, 127))) out->cVal = static_cast<CHAR>(n);
      break;
    case VT_UI1:
      if (SUCCEEDED(integer(0, 255))) out->bVal = static_cast<BYTE>(n);
      break;
    case VT_I2:
      if (SUCCEEDED(integer(-32768, 32767))) out->iVal = static_cast<SHORT>(n);
      break;
    case VT_UI2:
      if (SUCCEEDED(integer(0, 65535))) out->uiVal = static_cast<USHORT>(n);
      break;
    case VT_I4:
    case VT_INT:
      if (SUCCEEDED(integer(std::numeric_limits<std::int32_t>::min(),
                            std::numeric_limits<std::int32_t>::max()))) {
        out->lVal = static_cast<LONG>(n);
      }
      break;
    case VT_UI4:
    case VT_UINT:
      if (SUCCEEDED(integer(0, std::numeric_limits<std::uint32_t>::max()))) {
        out->ulVal = static_cast<ULONG>(n);
      }
      break;
    case VT_I8:
      if (SUCCEEDED(integer(std::numeric_limits<std::int64_t>::min(),
                            std::numeric_limits<std::int64_t>::max()))) {
        out->llVal = static_cast<LONGLONG>(n);
      }
      break;
    case VT_UI8:
      if (SUCCEEDED(integer(0, std::numeric_limits<std::uint64_t>::max()))) {
        out->ullVal = static_cast<ULONGLONG>(n);
      }
      break;
    case VT_R4: {
      double d = 0;
      hr = real_of(value, &d);
      if (SUCCEEDED(hr) && std::isfinite(d) && std::fabs(d) > FLT_MAX) hr = DISP_E_OVERFLOW;
      if (SUCCEEDED(hr)) out->fltVal = static_cast<float>(d);
      break;
    }
    case VT_R8:
      hr = real_of(value, &out->dblVal);
      break;
    case VT_CY: {
      double d = 0;
      if (value.vt == VT_CY) {
        out->cyVal = value.cyVal;
      } else if (is_integer_source(value.vt)) {
        const Int scaled = integer_of(value) * 10000;
        if (scaled < std::numeric_limits<std::int64_t>::min() ||
            scaled > std::numeric_limits<std::int64_t>::max()) {
          hr = DISP_E_OVERFLOW;
        } else {
          out->cyVal.int64 = static_cast<LONGLONG>(scaled);
        }
      } else if (SUCCEEDED(hr = real_of(value, &d))) {
        d = std::nearbyint(d * 10000.0);
        if (!(d >= -9.2233720368547e18 && d <= 9.2233720368547e18)) {
          hr = DISP_E_OVERFLOW;
        } else {
          out->cyVal.int64 = static_cast<LONGLONG>(d);
        }
      }
      break;
    }
    case VT_DATE:
      hr = date_of(value, &out->date);
      break;
    case VT_BOOL:
      hr = bool_of(value, &out->boolVal);
      break;
    case VT_BSTR: {
      std::u16string text;
      hr = text_of(value, flags, &text);
      if (SUCCEEDED(hr)) {
        out->bstrVal = u16_to_bstr(text);
        if (out->bstrVal == nullptr) hr = E_OUTOFMEMORY;
      }
      break;
    }
    default:
      return DISP_E_BADVARTYPE;
  }
  if (SUCCEEDED(hr)) out->vt = vt;
  return hr;
}

}  // namespace
}  // namespace sx::com::detail

extern "C" {

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt) {
  return VariantChangeTypeEx(dest, src, LOCALE_USER_DEFAULT, flags, vt);
}

HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID lcid, USHORT flags,
                            VARTYPE vt) {
  using namespace sx::com::detail;
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  try {
    if (!is_valid_type(src->vt)) return DISP_E_BADVARTYPE;
    if ((vt & (VT_BYREF | VT_ARRAY)) != 0 || !is_supported_base_type(vt)) {
      return DISP_E_BADVARTYPE;
    }
    VARIANT value;
    if (const HRESULT hr = dereference(*src, &value); FAILED(hr)) return hr;
    VARIANT result;
    VariantInit(&result);
    result.wReserved1 = result.wReserved2 = result.wReserved3 = 0;
    result.llVal = 0;
    // Same type: a plain copy (a BSTR duplicated, an interface AddRef'd).
    const HRESULT hr =
        value.vt == vt ? VariantCopy(&result, &value) : convert(value, lcid, flags, vt, &result);
    if (FAILED(hr)) {
      VariantClear(&result);
      return hr;
    }
    // `value` may borrow from `src`, which may be `dest`: clear only now that the result stands.
    if (const HRESULT clear = VariantClear(dest); FAILED(clear)) {
      VariantClear(&result);
      return clear;
    }
    *dest = result;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // extern "C"
