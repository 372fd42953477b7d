// The base of every object-model class: apartment check, fault injection, exception-to-HRESULT
// conversion with error information, and IDispatch by member name from a static member table.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "objects/errors.h"
#include "outlook/outlook.h"

namespace sx::outlook {

class ApplicationImpl;

namespace detail {

// One positional argument of a late-bound call, converted to the typed method's parameter type.
template <class P>
struct InArg;
template <>
struct InArg<VARIANT> {
  VARIANT value;  // borrowed from the call (omitted: VT_ERROR DISP_E_PARAMNOTFOUND)
  HRESULT load(const sx::com::DispatchArgs& a, UINT i) {
    VariantInit(&value);
    if (VARIANT* v = a.at(i); v != nullptr && !a.omitted(i)) {
      value = *v;
    } else {
      value.vt = VT_ERROR;
      value.scode = DISP_E_PARAMNOTFOUND;
    }
    return S_OK;
  }
};
template <VARTYPE Vt, class V, V VARIANT::*Field>
struct ConvertedArg {
  sx::com::Variant holder;
  V value{};
  HRESULT load(const sx::com::DispatchArgs& a, UINT i) {
    const HRESULT hr = a.get(i, Vt, &holder);
    if (SUCCEEDED(hr)) value = holder.get().*Field;
    return hr;
  }
};
template <>
struct InArg<BSTR> : ConvertedArg<VT_BSTR, BSTR, &VARIANT::bstrVal> {};
template <>
struct InArg<LONG> : ConvertedArg<VT_I4, LONG, &VARIANT::lVal> {};
template <>
struct InArg<VARIANT_BOOL> : ConvertedArg<VT_BOOL, VARIANT_BOOL, &VARIANT::boolVal> {};
template <class I>
struct InArg<I*> {
  sx::com::ComPtr<I> object;
  I* value = nullptr;
  HRESULT load(const sx::com::DispatchArgs& a, UINT i) {
    sx::com::Variant v;
    if (const HRESULT hr = a.get(i, VT_DISPATCH, &v); FAILED(hr)) return hr;
    IDispatch* d = v.get().pdispVal;
    if (d != nullptr && FAILED(d->QueryInterface(IID_PPV_ARGS(object.ReleaseAndGetAddressOf()))))
      return DISP_E_TYPEMISMATCH;
    value = object.Get();
    return S_OK;
  }
};

}  // namespace detail

// Member table of a class T for late binding: names (matched without regard to case) to handlers.
template <class T>
class Members {
 public:
  using Handler = std::function<HRESULT(T& self, WORD flags, const sx::com::DispatchArgs& args,
                                        VARIANT* result)>;

  Members& add(std::u16string_view name, Handler h) {
    ids_[fold(name)] = static_cast<DISPID>(handlers_.size() + 1);
    handlers_.push_back(std::move(h));
    return *this;
  }
  // A property with a getter and (optionally) a setter of the typed interface.
  template <class Out>
  Members& get(std::u16string_view name, HRESULT (T::*getter)(Out*)) {
    return add(
        name,
        [getter](T& self, WORD flags, const sx::com::DispatchArgs&, VARIANT* result) -> HRESULT {
          if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
          Out out{};
          HRESULT hr = (self.*getter)(&out);
          if (FAILED(hr)) return hr;
          to_variant(out, result);
          return S_OK;
        });
  }
  template <class Out, class In>
  Members& prop(std::u16string_view name, HRESULT (T::*getter)(Out*), HRESULT (T::*setter)(In)) {
    return add(name,
               [getter, setter](T& self, WORD flags, const sx::com::DispatchArgs& args,
                                VARIANT* result) -> HRESULT {
                 if (flags & DISPATCH_PROPERTYPUT) {
                   VARIANT* v = args.put_value();
                   if (v == nullptr) return DISP_E_PARAMNOTFOUND;
                   sx::com::Variant value(*v);
                   return put_from(self, setter, value);
                 }
                 Out out{};
                 HRESULT hr = (self.*getter)(&out);
                 if (FAILED(hr)) return hr;
                 to_variant(out, result);
                 return S_OK;
               });
  }

  // A method whose parameters are all inputs (VARIANT, BSTR, LONG, VARIANT_BOOL, interfaces),
  // taken from the call's positional arguments.
  template <class... P>
  Members& method(std::u16string_view name, HRESULT (T::*fn)(P...)) {
    return add(name, [fn](T& self, WORD, const sx::com::DispatchArgs& args, VARIANT*) {
      return call_with(self, fn, args, static_cast<std::nullptr_t*>(nullptr),
                       std::index_sequence_for<P...>{});
    });
  }
  // A method whose last parameter is its result (an out-pointer), the others inputs as above.
  template <class... P>
  Members& function(std::u16string_view name, HRESULT (T::*fn)(P...)) {
    static_assert(sizeof...(P) > 0);
    return add(name, [fn](T& self, WORD, const sx::com::DispatchArgs& args, VARIANT* result) {
      using Out = std::remove_pointer_t<std::tuple_element_t<sizeof...(P) - 1, std::tuple<P...>>>;
      Out out{};
      HRESULT hr = call_with(self, fn, args, &out, std::make_index_sequence<sizeof...(P) - 1>{});
      if (SUCCEEDED(hr)) to_variant(out, result);
      return hr;
    });
  }

  HRESULT ids_of_names(LPOLESTR* names, UINT count, DISPID* ids) const {
    if (names == nullptr || ids == nullptr) return E_INVALIDARG;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      if (i > 0 || names[i] == nullptr) {
        hr = DISP_E_UNKNOWNNAME;
        continue;
      }
      auto it = ids_.find(fold(std::u16string_view(names[i])));
      if (it == ids_.end())
        hr = DISP_E_UNKNOWNNAME;
      else
        ids[i] = it->second;
    }
    return hr;
  }
  HRESULT invoke(T& self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep) const {
    if (id < 1 || static_cast<std::size_t>(id) > handlers_.size()) return DISP_E_MEMBERNOTFOUND;
    if (params == nullptr) return E_INVALIDARG;
    VARIANT scratch;
    VariantInit(&scratch);
    VARIANT* out = result != nullptr ? result : &scratch;
    VariantClear(out);
    HRESULT hr;
    try {
      hr = handlers_[static_cast<std::size_t>(id - 1)](self, flags, sx::com::DispatchArgs(params),
                                                       out);
    } catch (const sx::com::ComError& e) {
      hr = e.Error();
    } catch (...) {
      hr = E_UNEXPECTED;
    }
    VariantClear(&scratch);
    if (FAILED(hr) && hr != DISP_E_MEMBERNOTFOUND && hr != DISP_E_PARAMNOTFOUND &&
        hr != DISP_E_TYPEMISMATCH && hr != DISP_E_BADPARAMCOUNT) {
      // The typed method left error information on this thread: hand it over in the EXCEPINFO.
      if (excep != nullptr) {
        *excep = EXCEPINFO{};
        IErrorInfo* info = nullptr;
        if (GetErrorInfo(0, &info) == S_OK && info != nullptr) {
          info->GetSource(&excep->bstrSource);
          info->GetDescription(&excep->bstrDescription);
          info->Release();
        }
        excep->scode = hr;
      }
      return DISP_E_EXCEPTION;
    }
    return hr;
  }

  static void to_variant(BSTR v, VARIANT* r) { r->vt = VT_BSTR, r->bstrVal = v; }
  static void to_variant(LONG v, VARIANT* r) { r->vt = VT_I4, r->lVal = v; }
  static void to_variant(DATE v, VARIANT* r) { r->vt = VT_DATE, r->date = v; }
  static void to_variant(VARIANT_BOOL v, VARIANT* r) { r->vt = VT_BOOL, r->boolVal = v; }
  static void to_variant(VARIANT v, VARIANT* r) { *r = v; }
  template <class I>
  static void to_variant(I* v, VARIANT* r) {
    r->vt = VT_DISPATCH;
    r->pdispVal = v;  // our interfaces derive from IDispatch; the reference passes to the result
  }

 private:
  template <class Fn, class Out, std::size_t... I>
  static HRESULT call_with(T& self, Fn fn, const sx::com::DispatchArgs& args, Out* out,
                           std::index_sequence<I...>) {
    return call_with_types(self, fn, args, out, std::index_sequence<I...>{}, fn);
  }
  template <class Fn, class Out, std::size_t... I, class... P>
  static HRESULT call_with_types(T& self, Fn fn, const sx::com::DispatchArgs& args, Out* out,
                                 std::index_sequence<I...>, HRESULT (T::*)(P...)) {
    using Params = std::tuple<P...>;
    std::tuple<detail::InArg<std::tuple_element_t<I, Params>>...> in;
    HRESULT hr = S_OK;
    ((SUCCEEDED(hr) ? (hr = std::get<I>(in).load(args, static_cast<UINT>(I))) : hr), ...);
    if (FAILED(hr)) return hr;
    if constexpr (std::is_same_v<Out, std::nullptr_t>) {
      return (self.*fn)(std::get<I>(in).value...);
    } else {
      return (self.*fn)(std::get<I>(in).value..., out);
    }
  }
  static std::u16string fold(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out)
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return out;
  }
  static HRESULT put_from(T& self, HRESULT (T::*setter)(BSTR), const sx::com::Variant& v) {
    sx::com::Variant s = v.changed_to(VT_BSTR);
    return (self.*setter)(s.get().bstrVal);
  }
  static HRESULT put_from(T& self, HRESULT (T::*setter)(LONG), const sx::com::Variant& v) {
    return (self.*setter)(v.to_i4());
  }
  static HRESULT put_from(T& self, HRESULT (T::*setter)(VARIANT), const sx::com::Variant& v) {
    return (self.*setter)(v.get());
  }
  static HRESULT put_from(T& self, HRESULT (T::*setter)(VARIANT_BOOL), const sx::com::Variant& v) {
    sx::com::Variant b = v.changed_to(VT_BOOL);
    return (self.*setter)(b.get().boolVal);
  }
  static HRESULT put_from(T& self, HRESULT (T::*setter)(IDispatch*), const sx::com::Variant& v) {
    sx::com::Variant d =
        v.is_empty() || v.is_null() ? sx::com::Variant() : v.changed_to(VT_DISPATCH);
    return (self.*setter)(d.vt() == VT_DISPATCH ? d.get().pdispVal : nullptr);
  }

  std::unordered_map<std::u16string, DISPID> ids_;
  std::vector<Handler> handlers_;
};

// ComObject plus the call wrapper and IDispatch from `Derived::members()`.
template <class Derived, class... Interfaces>
class OutlookObject : public sx::com::ComObject<Interfaces...> {
 public:
  explicit OutlookObject(const char* kind) : kind_(kind) {}

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
    return Derived::members().ids_of_names(names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT*) override {
    SX_COM_CHECK_THREAD();
    return Derived::members().invoke(static_cast<Derived&>(*this), id, flags, params, result,
                                     excep);
  }

  const char* kind() const { return kind_; }

 protected:
  // Runs `body` as the member `operation`: apartment check, injected faults, and every exception
  // turned into an HRESULT with error information. Never throws.
  template <class Body>
  HRESULT call(std::string_view operation, Body&& body) noexcept {
    SX_COM_CHECK_THREAD();
    try {
      detail::check_fault(kind_, operation, this->identity());
      SetErrorInfo(0, nullptr);
      return body();
    } catch (const OutlookError& e) {
      return sx::com::report_error(e.hr, e.source, e.description);
    } catch (const sx::com::ComError& e) {
      return sx::com::report_error(e.Error(), e.Source() ? e.Source() : kOutlookSource,
                                   e.Description() ? e.Description() : e.ErrorMessage());
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return sx::com::report_error(E_UNEXPECTED, kOutlookSource, "Unexpected failure.");
    }
  }

 private:
  const char* kind_;
};

// Helpers for out-parameters.
inline BSTR out_text(std::string_view utf8) {
  BSTR b = sx::com::utf8_to_bstr(utf8);
  if (b == nullptr) throw std::bad_alloc();
  return b;
}
inline std::string in_text(BSTR b) { return sx::com::bstr_to_utf8(b); }
inline void need(const void* p) {
  if (p == nullptr) raise(E_POINTER, "A required argument is missing.");
}
template <class I, class T>
void hand_out(const sx::com::ComPtr<T>& object, I** out) {
  *out = static_cast<I*>(object.Get());
  if (*out) (*out)->AddRef();
}

// Index argument of a collection: a number (1-based) or a name.
struct IndexArg {
  bool by_name = false;
  LONG number = 0;
  std::string name;
};

inline sx::com::Variant dereferenced(const VARIANT& v) {
  sx::com::Variant value(v);
  if (value.vt() == (VT_BYREF | VT_VARIANT)) value = sx::com::Variant(*v.pvarVal);
  return value;
}

// Throws (a ComError) when the value is neither a text nor a number.
inline IndexArg read_index(const VARIANT& v) {
  sx::com::Variant value = dereferenced(v);
  IndexArg out;
  if ((value.vt() & VT_TYPEMASK) == VT_BSTR) {
    out.by_name = true;
    out.name = value.to_utf8();
  } else {
    out.number = value.to_i4();
  }
  return out;
}

// An optional argument: nothing when it is omitted (VT_ERROR), Empty or Null.
inline std::optional<sx::com::Variant> given(const VARIANT& v) {
  sx::com::Variant value = dereferenced(v);
  if (value.is_empty() || value.is_null() || value.vt() == VT_ERROR) return std::nullopt;
  return value;
}
inline std::optional<LONG> given_long(const VARIANT& v) {
  auto value = given(v);
  if (!value) return std::nullopt;
  return value->to_i4();
}
inline std::optional<bool> given_bool(const VARIANT& v) {
  auto value = given(v);
  if (!value) return std::nullopt;
  return value->changed_to(VT_BOOL).get().boolVal != VARIANT_FALSE;
}
inline std::optional<std::string> given_text(const VARIANT& v) {
  auto value = given(v);
  if (!value) return std::nullopt;
  return value->changed_to(VT_BSTR).to_utf8();
}

// The folder passed as argument `index` of a late-bound call: S_OK with *folder set, the argument's
// own failure, or DISP_E_TYPEMISMATCH when it is not a folder.
inline HRESULT folder_argument(const sx::com::DispatchArgs& args, UINT index,
                               sx::com::ComPtr<MAPIFolder>* folder) {
  sx::com::Variant value;
  HRESULT hr = args.get(index, VT_DISPATCH, &value);
  if (FAILED(hr)) return hr;
  IDispatch* object = value.get().pdispVal;
  if (object == nullptr ||
      FAILED(object->QueryInterface(IID_PPV_ARGS(folder->ReleaseAndGetAddressOf())))) {
    return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

}  // namespace sx::outlook
