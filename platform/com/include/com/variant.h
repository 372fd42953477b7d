// VARIANT, the automation value, in the Windows layout (vt, three reserved words, the value union),
// and the runtime functions that copy, clear and convert it.
//
// Supported types: VT_EMPTY, VT_NULL, VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8,
// VT_INT, VT_UINT, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_DISPATCH, VT_UNKNOWN, VT_ERROR,
// VT_BOOL, each also as VT_BYREF, plus VT_BYREF|VT_VARIANT. Arrays, records and decimals are not
// supported and give DISP_E_BADVARTYPE.
//
// Conversions follow the Windows rules for the US English locale (we have no other): see
// VariantChangeTypeEx. The functions are thread-safe for distinct VARIANTs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "com/bstr.h"
#include "com/hresult.h"
#include "com/unknown.h"

struct IDispatch;

using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using DATE = double;
using DOUBLE = double;
using FLOAT = float;
using LCID = DWORD;

#define VARIANT_TRUE static_cast<VARIANT_BOOL>(-1)
#define VARIANT_FALSE static_cast<VARIANT_BOOL>(0)

// Currency: a 64-bit integer holding the value times 10000.
union CY {
  struct {
    ULONG Lo;
    LONG Hi;
  };
  LONGLONG int64;
};

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_RECORD = 36,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_RESERVED = 0x8000,
  VT_TYPEMASK = 0x0FFF,
};

struct tagVARIANT;
using VARIANT = tagVARIANT;
using VARIANTARG = tagVARIANT;
using LPVARIANT = VARIANT*;
using LPVARIANTARG = VARIANT*;

struct tagVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    CY cyVal;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    LONGLONG* pllVal;
    FLOAT* pfltVal;
    DOUBLE* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    CY* pcyVal;
    DATE* pdate;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    VARIANT* pvarVal;
    PVOID byref;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    CHAR* pcVal;
    USHORT* puiVal;
    ULONG* pulVal;
    ULONGLONG* pullVal;
    INT* pintVal;
    UINT* puintVal;
    struct {
      PVOID pvRecord;
      PVOID pRecInfo;
    };
  };
};
static_assert(offsetof(VARIANT, vt) == 0);
static_assert(offsetof(VARIANT, wReserved3) == 6);
static_assert(offsetof(VARIANT, lVal) == 8);
static_assert(sizeof(VARIANT) == 8 + 2 * sizeof(void*));

// Flags of VariantChangeTypeEx.
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10

#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_INVARIANT 0x007F

extern "C" {
// Sets vt to VT_EMPTY; touches nothing else.
void VariantInit(VARIANTARG* v);
// Frees what the VARIANT owns (a BSTR is freed, an interface released; a VT_BYREF value owns
// nothing) and sets it to VT_EMPTY. DISP_E_BADVARTYPE (VARIANT untouched) for an unsupported type.
HRESULT VariantClear(VARIANTARG* v);
// Clears `dest`, then copies `src` into it: a BSTR is duplicated, an interface AddRef'd, a
// VT_BYREF value copied as the pointer. Copying a VARIANT onto itself does nothing.
HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);
// Like VariantCopy, but a VT_BYREF source is copied as the value it points to (one level;
// VT_BYREF|VT_VARIANT copies the pointed-to VARIANT, which must not itself be VT_BYREF|VT_VARIANT,
// else E_INVALIDARG). `dest` may be `src`.
HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src);
// VariantChangeTypeEx with the user default locale.
HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt);
// Converts `src` (dereferenced when VT_BYREF) to type `vt` into `dest`; `dest` may be `src`. On
// success `dest` was cleared first and holds the new value; on failure `dest` is left as it was.
// Rules (locale US English whatever `lcid` says):
// - VT_EMPTY becomes 0, "" or False; VT_NULL converts only to VT_NULL and VT_EMPTY, else
//   DISP_E_TYPEMISMATCH.
// - Numbers convert between each other with rounding half to even; a value outside the target's
//   range gives DISP_E_OVERFLOW. True is -1 and False 0; any non-zero number is True.
// - Text to number: optional blanks, sign, digits with "," group separators, ".", exponent, or
//   "&H"/"&O" hex/octal; anything else gives DISP_E_TYPEMISMATCH. Text to bool also accepts "True"
//   and "False" in any case.
// - Bool to text gives "True"/"False" with VARIANT_ALPHABOOL, else "-1"/"0". Numbers give their
//   shortest decimal form with up to 15 significant digits (7 for VT_R4), e.g. "0.1", "1E+20".
// - Dates to text: "M/D/YYYY h:mm:ss AM|PM" (5 March 2001 14:30 is "3/5/2001 2:30:00 PM"); a date
//   with no time part gives only "M/D/YYYY" and day 0 (30 December 1899) only the time. Text to
//   date accepts those forms (seconds and AM/PM optional, 24-hour clock without AM/PM), the
//   ISO form "YYYY-MM-DD[ hh:mm[:ss]]", and two-digit years (00-29 are 20xx, 30-99 19xx); outside
//   1 January 100 to 31 December 9999 DISP_E_OVERFLOW.
// - An object (VT_DISPATCH) converts through its value property (DISPID_VALUE), unless
//   VARIANT_NOVALUEPROP; VT_UNKNOWN and VT_DISPATCH convert between each other by QueryInterface.
// - VT_ERROR converts only to VT_ERROR.
HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID lcid, USHORT flags,
                            VARTYPE vt);
}
