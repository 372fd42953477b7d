#include "com/variant_value.h"

#include <new>
#include <utility>

#include "com/com_error.h"

namespace sx::com {

Variant::Variant(const VARIANT& other) {
  VariantInit(&v_);
  if (const HRESULT hr = VariantCopy(&v_, &other); FAILED(hr)) throw ComError(hr);
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    VariantClear(&v_);
    v_ = other.v_;
    VariantInit(&other.v_);
  }
  return *this;
}

namespace {
template <class Set>
Variant make(VARTYPE vt, Set set) {
  Variant v;
  VARIANT& raw = *v.put();
  raw.llVal = 0;
  set(raw);
  raw.vt = vt;
  return v;
}

Variant text(BSTR value) {
  if (value == nullptr) throw std::bad_alloc();
  return make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = value; });
}
}  // namespace

Variant Variant::null() {
  return make(VT_NULL, [](VARIANT&) {});
}
Variant Variant::from_i4(LONG value) {
  return make(VT_I4, [&](VARIANT& v) { v.lVal = value; });
}
Variant Variant::from_i2(SHORT value) {
  return make(VT_I2, [&](VARIANT& v) { v.iVal = value; });
}
Variant Variant::from_ui1(BYTE value) {
  return make(VT_UI1, [&](VARIANT& v) { v.bVal = value; });
}
Variant Variant::from_r8(double value) {
  return make(VT_R8, [&](VARIANT& v) { v.dblVal = value; });
}
Variant Variant::from_date(DATE value) {
  return make(VT_DATE, [&](VARIANT& v) { v.date = value; });
}
Variant Variant::from_bool(bool value) {
  return make(VT_BOOL, [&](VARIANT& v) { v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; });
}
Variant Variant::from_error(SCODE value) {
  return make(VT_ERROR, [&](VARIANT& v) { v.scode = value; });
}
Variant Variant::from_bstr(std::u16string_view value) { return text(u16_to_bstr(value)); }
Variant Variant::from_utf8(std::string_view value) { return text(utf8_to_bstr(value)); }
Variant Variant::from_ansi(std::string_view value) { return text(ansi_to_bstr(value)); }
Variant Variant::from_dispatch(IDispatch* object) {
  if (object != nullptr) object->AddRef();
  return make(VT_DISPATCH, [&](VARIANT& v) { v.pdispVal = object; });
}
Variant Variant::from_unknown(IUnknown* object) {
  if (object != nullptr) object->AddRef();
  return make(VT_UNKNOWN, [&](VARIANT& v) { v.punkVal = object; });
}

Variant Variant::attach(VARIANT* value) {
  Variant v;
  v.v_ = *value;
  VariantInit(value);
  return v;
}

VARIANT* Variant::put() {
  clear();
  return &v_;
}

VARIANT Variant::detach() {
  VARIANT out = v_;
  VariantInit(&v_);
  return out;
}

void Variant::clear() {
  if (FAILED(VariantClear(&v_))) VariantInit(&v_);
}

Variant Variant::changed_to(VARTYPE vt, USHORT flags) const {
  Variant out;
  if (const HRESULT hr = VariantChangeType(out.put(), &v_, flags, vt); FAILED(hr)) {
    throw ComError(hr);
  }
  return out;
}

LONG Variant::to_i4() const { return changed_to(VT_I4).v_.lVal; }
double Variant::to_r8() const { return changed_to(VT_R8).v_.dblVal; }
DATE Variant::to_date() const { return changed_to(VT_DATE).v_.date; }
bool Variant::to_bool() const { return changed_to(VT_BOOL).v_.boolVal != VARIANT_FALSE; }
std::string Variant::to_utf8() const {
  return bstr_to_utf8(changed_to(VT_BSTR, VARIANT_ALPHABOOL).v_.bstrVal);
}
std::string Variant::to_ansi() const {
  return bstr_to_ansi(changed_to(VT_BSTR, VARIANT_ALPHABOOL).v_.bstrVal);
}

}  // namespace sx::com
