// One-dimensional SAFEARRAYs of VARIANTs.
#include "com/safearray.h"

#include <cstdlib>
#include <new>

namespace {

VARIANT* element(SAFEARRAY* array, const LONG* indices) {
  if (array == nullptr || indices == nullptr || array->cDims != 1) return nullptr;
  const LONG offset = indices[0] - array->rgsabound[0].lLbound;
  if (offset < 0 || static_cast<ULONG>(offset) >= array->rgsabound[0].cElements) return nullptr;
  return static_cast<VARIANT*>(array->pvData) + offset;
}

}  // namespace

extern "C" {

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, ULONG elements) {
  if (vt != VT_VARIANT || elements > 0x1000000u) return nullptr;
  auto* array = static_cast<SAFEARRAY*>(std::calloc(1, sizeof(SAFEARRAY)));
  if (array == nullptr) return nullptr;
  auto* data = static_cast<VARIANT*>(std::calloc(elements == 0 ? 1 : elements, sizeof(VARIANT)));
  if (data == nullptr) {
    std::free(array);
    return nullptr;
  }
  for (ULONG i = 0; i < elements; ++i) VariantInit(&data[i]);
  array->cDims = 1;
  array->fFeatures = FADF_VARIANT;
  array->cbElements = sizeof(VARIANT);
  array->pvData = data;
  array->rgsabound[0].cElements = elements;
  array->rgsabound[0].lLbound = lower_bound;
  return array;
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
  if (array == nullptr) return S_OK;
  if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  auto* data = static_cast<VARIANT*>(array->pvData);
  for (ULONG i = 0; i < array->rgsabound[0].cElements; ++i) VariantClear(&data[i]);
  std::free(data);
  std::free(array);
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* array) { return array == nullptr ? 0 : array->cDims; }

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* bound) {
  if (array == nullptr || bound == nullptr) return E_INVALIDARG;
  if (dimension != 1 || array->cDims != 1) return DISP_E_BADINDEX;
  *bound = array->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* bound) {
  if (array == nullptr || bound == nullptr) return E_INVALIDARG;
  if (dimension != 1 || array->cDims != 1) return DISP_E_BADINDEX;
  *bound = array->rgsabound[0].lLbound + static_cast<LONG>(array->rgsabound[0].cElements) - 1;
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
  if (array == nullptr || vt == nullptr) return E_INVALIDARG;
  *vt = VT_VARIANT;
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value) {
  if (value == nullptr) return E_INVALIDARG;
  VARIANT* source = element(array, indices);
  if (source == nullptr) return array == nullptr ? E_INVALIDARG : DISP_E_BADINDEX;
  auto* out = static_cast<VARIANT*>(value);
  VariantInit(out);
  return VariantCopy(out, source);
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value) {
  if (value == nullptr) return E_INVALIDARG;
  VARIANT* target = element(array, indices);
  if (target == nullptr) return array == nullptr ? E_INVALIDARG : DISP_E_BADINDEX;
  return VariantCopy(target, static_cast<const VARIANT*>(value));
}

}  // extern "C"
