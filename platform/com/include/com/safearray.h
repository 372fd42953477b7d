// SAFEARRAY, as much of it as the system needs: one-dimensional arrays of VARIANTs (the `custom`
// argument of the add-in interface IDTExtensibility2 is one).
#pragma once

#include "com/variant.h"

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  PVOID pvData;
  SAFEARRAYBOUND rgsabound[1];
};
using LPSAFEARRAY = SAFEARRAY*;

#define FADF_VARIANT 0x0800

extern "C" {
// A vector of `elements` empty VARIANTs indexed from `lower_bound`. Only VT_VARIANT is supported
// (null for any other type); null when memory runs out.
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, ULONG elements);
// Clears every element and frees the array. S_OK for null; DISP_E_ARRAYISLOCKED while locked.
HRESULT SafeArrayDestroy(SAFEARRAY* array);
// Number of dimensions; 0 for null.
UINT SafeArrayGetDim(SAFEARRAY* array);
// Bounds of dimension `dimension` (1-based). DISP_E_BADINDEX for a dimension that is not there.
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* bound);
// The VT_ of the elements.
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
// Copies element indices[0] into *value (a VARIANT the caller clears); DISP_E_BADINDEX outside.
HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value);
// Copies *value (a VARIANT) into element indices[0], clearing what was there.
HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value);
}
