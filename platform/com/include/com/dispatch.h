// IDispatch, the late-bound automation interface, with DISPPARAMS, EXCEPINFO and the DISPID values.
//
// Dual interfaces derive from IDispatch and add their own methods after its four (slots 3-6), so
// slot 7 is the first method of the interface itself.
#pragma once

#include "com/bstr.h"
#include "com/unknown.h"
#include "com/variant.h"

using DISPID = LONG;
using MEMBERID = DISPID;

#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)
#define DISPID_NEWENUM (-4)
#define DISPID_EVALUATE (-5)

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

// Arguments of Invoke, in reverse order (rgvarg[0] is the last argument).
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

// What a method tells about an exception when Invoke returns DISP_E_EXCEPTION. The BSTRs belong to
// the caller after the call.
struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  PVOID pvReserved;
  HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

// Type information is not offered by our objects (GetTypeInfoCount gives 0); the type is declared
// so that IDispatch has its real slots.
struct ITypeInfo;

struct IDispatch : IUnknown {
  static constexpr IID kIid = sx::com::guid("{00020400-0000-0000-C000-000000000046}");
  using Base = IUnknown;

  STDMETHOD(GetTypeInfoCount)(UINT* count) = 0;                         // slot 3
  STDMETHOD(GetTypeInfo)(UINT index, LCID lcid, ITypeInfo** info) = 0;  // slot 4
  // Slot 5: maps names (the first is the member, the rest its named arguments) to DISPIDs.
  // DISP_E_UNKNOWNNAME when one is unknown (its DISPID is DISPID_UNKNOWN).
  STDMETHOD(GetIDsOfNames)(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) = 0;
  // Slot 6: calls a member. DISP_E_MEMBERNOTFOUND, DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH (with
  // the argument's position in *arg_error), DISP_E_EXCEPTION (details in *excep_info).
  STDMETHOD(Invoke)
  (DISPID member, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
   EXCEPINFO* excep_info, UINT* arg_error) = 0;

 protected:
  ~IDispatch() = default;
};
using LPDISPATCH = IDispatch*;

inline constexpr IID IID_IDispatch = IDispatch::kIid;
inline constexpr IID IID_NULL = GUID_NULL;
