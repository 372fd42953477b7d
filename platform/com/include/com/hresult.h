// HRESULT, the result type of every COM call, and the codes the system meets.
//
// An HRESULT is a signed 32-bit value: negative means failure. Codes are spelt as in the Windows
// SDK and have the same values, so texts that show them ("Code = %08lx") read the same as on
// Windows.
#pragma once

#include <cstdint>

#include "win32/types.h"

using HRESULT = std::int32_t;
using SCODE = std::int32_t;

#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define STDAPI extern "C" HRESULT STDAPICALLTYPE
#define STDMETHOD(name) virtual HRESULT STDMETHODCALLTYPE name
#define STDMETHOD_(type, name) virtual type STDMETHODCALLTYPE name
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE

#define SEVERITY_SUCCESS 0
#define SEVERITY_ERROR 1
#define FACILITY_NULL 0
#define FACILITY_RPC 1
#define FACILITY_DISPATCH 2
#define FACILITY_STORAGE 3
#define FACILITY_ITF 4
#define FACILITY_WIN32 7

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define HRESULT_CODE(hr) (static_cast<HRESULT>(hr) & 0xFFFF)
#define HRESULT_FACILITY(hr) ((static_cast<HRESULT>(hr) >> 16) & 0x1FFF)
#define HRESULT_SEVERITY(hr) ((static_cast<std::uint32_t>(hr) >> 31) & 0x1)
#define MAKE_HRESULT(sev, fac, code)                             \
  static_cast<HRESULT>((static_cast<std::uint32_t>(sev) << 31) | \
                       (static_cast<std::uint32_t>(fac) << 16) | static_cast<std::uint32_t>(code))
#define MAKE_SCODE(sev, fac, code) MAKE_HRESULT(sev, fac, code)

// A Win32 error code as an HRESULT (0x8007xxxx); 0 and values that already are HRESULTs pass as
// they are.
constexpr HRESULT HRESULT_FROM_WIN32(std::uint32_t code) {
  return static_cast<HRESULT>(code) <= 0
             ? static_cast<HRESULT>(code)
             : static_cast<HRESULT>((code & 0x0000FFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}

#define SX_HR_(value) static_cast<HRESULT>(value##u)

#define S_OK static_cast<HRESULT>(0)
#define S_FALSE static_cast<HRESULT>(1)
#define E_UNEXPECTED SX_HR_(0x8000FFFF)
#define E_NOTIMPL SX_HR_(0x80004001)
#define E_NOINTERFACE SX_HR_(0x80004002)
#define E_POINTER SX_HR_(0x80004003)
#define E_ABORT SX_HR_(0x80004004)
#define E_FAIL SX_HR_(0x80004005)
#define E_ACCESSDENIED SX_HR_(0x80070005)
#define E_HANDLE SX_HR_(0x80070006)
#define E_OUTOFMEMORY SX_HR_(0x8007000E)
#define E_INVALIDARG SX_HR_(0x80070057)

#define CLASS_E_NOAGGREGATION SX_HR_(0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE SX_HR_(0x80040111)
#define REGDB_E_READREGDB SX_HR_(0x80040150)
#define REGDB_E_CLASSNOTREG SX_HR_(0x80040154)
#define CO_E_NOTINITIALIZED SX_HR_(0x800401F0)
#define CO_E_CLASSSTRING SX_HR_(0x800401F3)
#define CO_E_DLLNOTFOUND SX_HR_(0x800401F8)
#define CO_E_ERRORINDLL SX_HR_(0x800401F9)
#define CO_E_SERVER_EXEC_FAILURE SX_HR_(0x80080005)
#define MK_E_UNAVAILABLE SX_HR_(0x800401E3)
#define CO_E_NOT_SUPPORTED SX_HR_(0x80004021)
#define SELFREG_E_CLASS SX_HR_(0x80040201)
#define CO_E_SERVER_STOPPING SX_HR_(0x80080008)
#define RPC_E_CHANGED_MODE SX_HR_(0x80010106)
#define RPC_E_DISCONNECTED SX_HR_(0x80010108)
#define RPC_E_WRONG_THREAD SX_HR_(0x8001010E)
#define RPC_S_CALLPENDING SX_HR_(0x80010115)

#define DISP_E_UNKNOWNINTERFACE SX_HR_(0x80020001)
#define DISP_E_MEMBERNOTFOUND SX_HR_(0x80020003)
#define DISP_E_PARAMNOTFOUND SX_HR_(0x80020004)
#define DISP_E_TYPEMISMATCH SX_HR_(0x80020005)
#define DISP_E_UNKNOWNNAME SX_HR_(0x80020006)
#define DISP_E_NONAMEDARGS SX_HR_(0x80020007)
#define DISP_E_BADVARTYPE SX_HR_(0x80020008)
#define DISP_E_EXCEPTION SX_HR_(0x80020009)
#define DISP_E_OVERFLOW SX_HR_(0x8002000A)
#define DISP_E_BADINDEX SX_HR_(0x8002000B)
#define DISP_E_ARRAYISLOCKED SX_HR_(0x8002000D)
#define DISP_E_BADPARAMCOUNT SX_HR_(0x8002000E)
#define DISP_E_PARAMNOTOPTIONAL SX_HR_(0x8002000F)
#define TYPE_E_ELEMENTNOTFOUND SX_HR_(0x8002802B)
