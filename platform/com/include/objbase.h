// The COM runtime stand-in's umbrella header: system code includes it as it would include
// <objbase.h> / <oleauto.h> on Windows.
//
//   com/hresult.h    HRESULT and its codes
//   com/guid.h       GUID, IID, CLSID and their text form
//   com/unknown.h    IUnknown, IClassFactory
//   com/bstr.h       BSTR and conversions to narrow text
//   com/variant.h    VARIANT, VariantClear / Copy / ChangeType
//   com/vardate.h    automation dates
//   com/dispatch.h   IDispatch, DISPPARAMS, EXCEPINFO
//   com/errorinfo.h  IErrorInfo and the per-thread error information
//   com/runtime.h    apartments, CLSIDFromProgID, CoCreateInstance, local servers
//   com/marshal.h    interfaces between apartments (proxies), IAgileObject
//   com/safearray.h  SAFEARRAYs of VARIANTs
// The C++ helpers (ComPtr, ComObject, ComError, Variant) come with <comdef.h>.
#pragma once

#include "com/bstr.h"
#include "com/dispatch.h"
#include "com/errorinfo.h"
#include "com/guid.h"
#include "com/hresult.h"
#include "com/marshal.h"
#include "com/runtime.h"
#include "com/safearray.h"
#include "com/unknown.h"
#include "com/vardate.h"
#include "com/variant.h"
