// Error information: the source and description that travel with a failing HRESULT.
//
// A method that fails calls SetErrorInfo (or sx::com::set_error_info) before it returns; the caller
// takes it with GetErrorInfo on the same thread. Each thread has one slot; GetErrorInfo empties it.
#pragma once

#include "com/bstr.h"
#include "com/unknown.h"

struct IErrorInfo : IUnknown {
  static constexpr IID kIid = sx::com::guid("{1CF2B120-547D-101B-8E65-08002B2BD119}");
  using Base = IUnknown;
  STDMETHOD(GetGUID)(GUID* guid) = 0;
  STDMETHOD(GetSource)(BSTR* source) = 0;
  STDMETHOD(GetDescription)(BSTR* description) = 0;
  STDMETHOD(GetHelpFile)(BSTR* help_file) = 0;
  STDMETHOD(GetHelpContext)(DWORD* help_context) = 0;

 protected:
  ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
  static constexpr IID kIid = sx::com::guid("{22F03340-547D-101B-8E65-08002B2BD119}");
  using Base = IUnknown;
  STDMETHOD(SetGUID)(REFGUID guid) = 0;
  STDMETHOD(SetSource)(LPOLESTR source) = 0;
  STDMETHOD(SetDescription)(LPOLESTR description) = 0;
  STDMETHOD(SetHelpFile)(LPOLESTR help_file) = 0;
  STDMETHOD(SetHelpContext)(DWORD help_context) = 0;

 protected:
  ~ICreateErrorInfo() = default;
};

struct ISupportErrorInfo : IUnknown {
  static constexpr IID kIid = sx::com::guid("{DF0B3D60-548F-101B-8E65-08002B2BD119}");
  using Base = IUnknown;
  // S_OK when the interface `iid` sets error information on failure, else S_FALSE.
  STDMETHOD(InterfaceSupportsErrorInfo)(REFIID iid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};

inline constexpr IID IID_IErrorInfo = IErrorInfo::kIid;
inline constexpr IID IID_ICreateErrorInfo = ICreateErrorInfo::kIid;
inline constexpr IID IID_ISupportErrorInfo = ISupportErrorInfo::kIid;

extern "C" {
// Replaces this thread's error information by `info` (AddRef'd; null clears it). `reserved` must be
// 0.
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
// Takes this thread's error information: S_OK and the object (the slot is emptied), or S_FALSE and
// null when there is none. E_INVALIDARG for a null `info`.
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);
// A new, empty error information object; query it for IErrorInfo to hand to SetErrorInfo.
HRESULT CreateErrorInfo(ICreateErrorInfo** info);
}

namespace sx::com {

// Builds error information with `source` and `description` (system code page text) and sets it on
// this thread. Never throws; does nothing when memory runs out.
void set_error_info(std::string_view source, std::string_view description, REFGUID iid = GUID_NULL);

// set_error_info, then returns `hr`, for `return report_error(E_FAIL, "X", "why");` in a method.
HRESULT report_error(HRESULT hr, std::string_view source, std::string_view description,
                     REFGUID iid = GUID_NULL);

}  // namespace sx::com
