// VariantInit, VariantClear, VariantCopy, VariantCopyInd.
#include "com/variant.h"
#include "com/dispatch.h"
#include "variant_internal.h"

namespace sx::com::detail {

bool is_supported_base_type(VARTYPE base) {
  switch (base) {
    case VT_EMPTY:
    case VT_NULL:
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
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_ERROR:
    case VT_BOOL:
      return true;
    default:
      return false;
  }
}

bool is_valid_type(VARTYPE vt) {
  if ((vt & VT_BYREF) != 0) {
    const VARTYPE base = vt & ~VT_BYREF;
    return base == VT_VARIANT ||
           (is_supported_base_type(base) && base != VT_EMPTY && base != VT_NULL);
  }
  return is_supported_base_type(vt);
}

}  // namespace sx::com::detail

using sx::com::detail::is_valid_type;

extern "C" {

void VariantInit(VARIANTARG* v) {
  if (v != nullptr) v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* v) {
  if (v == nullptr) return E_INVALIDARG;
  if (!is_valid_type(v->vt)) return DISP_E_BADVARTYPE;
  switch (v->vt) {
    case VT_BSTR:
      SysFreeString(v->bstrVal);
      break;
    case VT_DISPATCH:
      if (v->pdispVal != nullptr) v->pdispVal->Release();
      break;
    case VT_UNKNOWN:
      if (v->punkVal != nullptr) v->punkVal->Release();
      break;
    default:
      break;
  }
  v->vt = VT_EMPTY;
  v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
  v->llVal = 0;
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (dest == src) return S_OK;
  if (!is_valid_type(src->vt)) return DISP_E_BADVARTYPE;
  VARIANT copy = *src;
  if (src->vt == VT_BSTR && src->bstrVal != nullptr) {
    copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src->bstrVal),
                                         SysStringByteLen(src->bstrVal));
    if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
  }
  if (const HRESULT hr = VariantClear(dest); FAILED(hr)) {
    if (copy.vt == VT_BSTR) SysFreeString(copy.bstrVal);
    return hr;
  }
  if ((copy.vt == VT_DISPATCH || copy.vt == VT_UNKNOWN) && copy.punkVal != nullptr) {
    copy.punkVal->AddRef();
  }
  *dest = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if ((src->vt & VT_BYREF) == 0) {
    if (dest == src) return S_OK;
    return VariantCopy(dest, src);
  }
  if (!is_valid_type(src->vt)) return DISP_E_BADVARTYPE;
  if (src->byref == nullptr) return E_INVALIDARG;
  VARIANT value;
  if (const HRESULT hr = sx::com::detail::dereference(*src, &value); FAILED(hr)) return hr;
  // `value` borrows; VariantCopy makes the owned copy. Through a temporary so dest may be src.
  VARIANT owned;
  VariantInit(&owned);
  if (const HRESULT hr = VariantCopy(&owned, &value); FAILED(hr)) return hr;
  if (dest != src) {
    if (const HRESULT hr = VariantClear(dest); FAILED(hr)) {
      VariantClear(&owned);
      return hr;
    }
  }
  *dest = owned;
  return S_OK;
}

}  // extern "C"

namespace sx::com::detail {

HRESULT dereference(const VARIANT& src, VARIANT* value) {
  VariantInit(value);
  value->wReserved1 = value->wReserved2 = value->wReserved3 = 0;
  if ((src.vt & VT_BYREF) == 0) {
    *value = src;
    return S_OK;
  }
  if (src.byref == nullptr) return E_INVALIDARG;
  const VARTYPE base = src.vt & ~VT_BYREF;
  if (base == VT_VARIANT) {
    const VARIANT& inner = *src.pvarVal;
    if (inner.vt == (VT_BYREF | VT_VARIANT)) return E_INVALIDARG;
    *value = inner;
    return S_OK;
  }
  value->vt = base;
  value->llVal = 0;
  switch (base) {
    case VT_I1:
      value->cVal = *src.pcVal;
      break;
    case VT_UI1:
      value->bVal = *src.pbVal;
      break;
    case VT_I2:
      value->iVal = *src.piVal;
      break;
    case VT_UI2:
      value->uiVal = *src.puiVal;
      break;
    case VT_I4:
      value->lVal = *src.plVal;
      break;
    case VT_UI4:
      value->ulVal = *src.pulVal;
      break;
    case VT_I8:
      value->llVal = *src.pllVal;
      break;
    case VT_UI8:
      value->ullVal = *src.pullVal;
      break;
    case VT_INT:
      value->intVal = *src.pintVal;
      break;
    case VT_UINT:
      value->uintVal = *src.puintVal;
      break;
    case VT_R4:
      value->fltVal = *src.pfltVal;
      break;
    case VT_R8:
      value->dblVal = *src.pdblVal;
      break;
    case VT_CY:
      value->cyVal = *src.pcyVal;
      break;
    case VT_DATE:
      value->date = *src.pdate;
      break;
    case VT_BSTR:
      value->bstrVal = *src.pbstrVal;
      break;
    case VT_DISPATCH:
      value->pdispVal = *src.ppdispVal;
      break;
    case VT_UNKNOWN:
      value->punkVal = *src.ppunkVal;
      break;
    case VT_ERROR:
      value->scode = *src.pscode;
      break;
    case VT_BOOL:
      value->boolVal = *src.pboolVal;
      break;
    default:
      return DISP_E_BADVARTYPE;
  }
  return S_OK;
}

}  // namespace sx::com::detail
