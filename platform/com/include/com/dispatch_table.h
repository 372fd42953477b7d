// Late binding made short: a table of named members for implementing IDispatch, and client calls
// by member name.
//
//   class Item : public sx::com::DispatchObject<IDispatch> {
//    public:
//     Item() {
//       table_.add(u"Subject", [this](WORD flags, const DispatchArgs& args, VARIANT* result)
//       {...});
//     }
//     const DispatchTable& dispatch_table() const override { return table_; }
//   };
//
// Names are matched without regard to case. Objects built this way offer no type information.
// Handlers run on the caller's thread; DispatchObject checks the apartment before it calls one.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "com/dispatch.h"
#include "com/object.h"
#include "com/variant_value.h"

namespace sx::com {

// The arguments of one Invoke call, in call order (DISPPARAMS keeps them reversed).
class DispatchArgs {
 public:
  explicit DispatchArgs(const DISPPARAMS* params) : params_(params) {}
  // Positional arguments (the value of a property put is not one of them).
  UINT count() const;
  // True when argument `i` is absent or passed as omitted (VT_ERROR DISP_E_PARAMNOTFOUND).
  bool omitted(UINT i) const;
  // Argument `i` (VT_BYREF as passed), or null when absent.
  VARIANT* at(UINT i) const;
  // Argument `i` converted to `vt`: DISP_E_PARAMNOTFOUND when omitted, else VariantChangeType's
  // result.
  HRESULT get(UINT i, VARTYPE vt, Variant* out) const;
  // The value of a property put (the DISPID_PROPERTYPUT named argument), or null.
  VARIANT* put_value() const;

 private:
  const DISPPARAMS* params_;
};

class DispatchTable {
 public:
  // Called with the DISPATCH_* flags, the arguments and the result slot (may be null; VT_EMPTY on
  // entry). Failing results pass to the caller as they are; a ComError thrown by a handler becomes
  // DISP_E_EXCEPTION with its code, source and description in the EXCEPINFO.
  using Handler = std::function<HRESULT(WORD flags, const DispatchArgs& args, VARIANT* result)>;

  // Adds a member and returns its DISPID: `id` when given, otherwise the next after the largest so
  // far (the first is 1). Adding a known name replaces its handler.
  DISPID add(std::u16string_view name, Handler handler, std::optional<DISPID> id = std::nullopt);

  // GetIDsOfNames: the first name is a member; further names (named arguments) are not supported
  // and get DISPID_UNKNOWN. DISP_E_UNKNOWNNAME when any name is unknown.
  HRESULT ids_of_names(LPOLESTR* names, UINT count, DISPID* ids) const;
  // Invoke: DISP_E_MEMBERNOTFOUND for an unknown DISPID, DISP_E_NONAMEDARGS for named arguments
  // other than the value of a property put. Never throws.
  HRESULT invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep_info) const;

 private:
  std::map<std::u16string, DISPID> ids_;  // keyed by the folded name
  std::map<DISPID, Handler> handlers_;
  DISPID last_ = 0;
};

// ComObject plus IDispatch's four methods answered from dispatch_table().
template <class... Interfaces>
class DispatchObject : public ComObject<Interfaces...> {
 public:
  using ComObject<Interfaces...>::ComObject;

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    SX_COM_CHECK_THREAD();
    if (count == nullptr) return E_INVALIDARG;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    SX_COM_CHECK_THREAD();
    if (info != nullptr) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    SX_COM_CHECK_THREAD();
    return dispatch_table().ids_of_names(names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep_info, UINT*) override {
    SX_COM_CHECK_THREAD();
    return dispatch_table().invoke(id, flags, params, result, excep_info);
  }

 protected:
  virtual const DispatchTable& dispatch_table() const = 0;
};

// Client side. The DISPID of `name` (GetIDsOfNames with the user default locale).
HRESULT dispid_of(IDispatch* object, std::u16string_view name, DISPID* id);
// Calls member `name` with `args` (in call order) and `flags`; the result (may be null) is cleared
// first. When the call raises DISP_E_EXCEPTION the EXCEPINFO's source and description are set as
// this thread's error information and its code is returned.
HRESULT invoke_by_name(IDispatch* object, std::u16string_view name, WORD flags,
                       const std::vector<Variant>& args, VARIANT* result);
// invoke_by_name without arguments, as a method or property get.
HRESULT get_property(IDispatch* object, std::u16string_view name, VARIANT* result);
// Sets property `name` to `value`.
HRESULT put_property(IDispatch* object, std::u16string_view name, const VARIANT& value);

}  // namespace sx::com
