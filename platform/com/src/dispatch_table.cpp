#include "com/dispatch_table.h"

#include <new>

#include "com/com_error.h"
#include "com/errorinfo.h"

namespace sx::com {
namespace {

std::u16string fold(std::u16string_view name) {
  std::u16string out(name);
  for (char16_t& c : out) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  }
  return out;
}

bool is_omitted(const VARIANT& v) { return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND; }

void fill_exception(const ComError& error, EXCEPINFO* info) {
  if (info == nullptr) return;
  *info = EXCEPINFO{};
  info->scode = error.Error();
  if (error.Source() != nullptr) info->bstrSource = ansi_to_bstr(error.Source());
  if (error.Description() != nullptr) info->bstrDescription = ansi_to_bstr(error.Description());
}

}  // namespace

UINT DispatchArgs::count() const {
  if (params_ == nullptr) return 0;
  return params_->cArgs - (put_value() != nullptr ? 1 : 0);
}

VARIANT* DispatchArgs::at(UINT i) const {
  const UINT n = count();
  if (i >= n) return nullptr;
  // Positional arguments follow the named ones, last argument first.
  const UINT named = params_->cArgs - n;
  return &params_->rgvarg[named + (n - 1 - i)];
}

bool DispatchArgs::omitted(UINT i) const {
  const VARIANT* v = at(i);
  return v == nullptr || is_omitted(*v);
}

HRESULT DispatchArgs::get(UINT i, VARTYPE vt, Variant* out) const {
  if (omitted(i)) return DISP_E_PARAMNOTFOUND;
  return VariantChangeType(out->put(), at(i), 0, vt);
}

VARIANT* DispatchArgs::put_value() const {
  if (params_ == nullptr || params_->cNamedArgs != 1 || params_->cArgs == 0 ||
      params_->rgdispidNamedArgs == nullptr ||
      params_->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
    return nullptr;
  }
  return &params_->rgvarg[0];
}

DISPID DispatchTable::add(std::u16string_view name, Handler handler, std::optional<DISPID> id) {
  const std::u16string key = fold(name);
  auto known = ids_.find(key);
  if (known != ids_.end()) {
    handlers_[known->second] = std::move(handler);
    return known->second;
  }
  const DISPID chosen = id.value_or(last_ + 1);
  if (chosen > last_) last_ = chosen;
  ids_.emplace(key, chosen);
  handlers_[chosen] = std::move(handler);
  return chosen;
}

HRESULT DispatchTable::ids_of_names(LPOLESTR* names, UINT count, DISPID* ids) const {
  if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    if (i == 0 && names[0] != nullptr) {
      try {
        auto it = ids_.find(fold(names[0]));
        if (it != ids_.end()) ids[0] = it->second;
      } catch (...) {
        return E_OUTOFMEMORY;
      }
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT DispatchTable::invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO* excep_info) const {
  auto it = handlers_.find(id);
  if (it == handlers_.end()) return DISP_E_MEMBERNOTFOUND;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  if (params == nullptr) params = &none;
  if (params->cArgs > 0 && params->rgvarg == nullptr) return E_INVALIDARG;
  const DispatchArgs args(params);
  if (params->cNamedArgs > 0 && args.put_value() == nullptr) return DISP_E_NONAMEDARGS;
  if (result != nullptr) VariantInit(result);
  try {
    return it->second(flags, args, result);
  } catch (const ComError& error) {
    if (result != nullptr) VariantClear(result);
    fill_exception(error, excep_info);
    return DISP_E_EXCEPTION;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT dispid_of(IDispatch* object, std::u16string_view name, DISPID* id) {
  if (object == nullptr || id == nullptr) return E_POINTER;
  try {
    std::u16string text(name);
    LPOLESTR names[1] = {text.data()};
    return object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT invoke_by_name(IDispatch* object, std::u16string_view name, WORD flags,
                       const std::vector<Variant>& args, VARIANT* result) {
  DISPID id = DISPID_UNKNOWN;
  if (const HRESULT hr = dispid_of(object, name, &id); FAILED(hr)) return hr;
  try {
    // DISPPARAMS holds the arguments last first. Shallow copies: a callee never frees its
    // arguments.
    std::vector<VARIANT> reversed(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
      reversed[args.size() - 1 - i] = args[i].get();
    }
    DISPID put_id = DISPID_PROPERTYPUT;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), put ? &put_id : nullptr,
                      static_cast<UINT>(reversed.size()), put ? 1u : 0u};
    if (result != nullptr) VariantClear(result);
    EXCEPINFO info{};
    UINT arg_error = 0;
    HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &info,
                                &arg_error);
    if (hr == DISP_E_EXCEPTION) {
      if (info.pfnDeferredFillIn != nullptr) info.pfnDeferredFillIn(&info);
      set_error_info(bstr_to_ansi(info.bstrSource), bstr_to_ansi(info.bstrDescription));
      if (FAILED(info.scode)) hr = info.scode;
    }
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT get_property(IDispatch* object, std::u16string_view name, VARIANT* result) {
  return invoke_by_name(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, result);
}

HRESULT put_property(IDispatch* object, std::u16string_view name, const VARIANT& value) {
  try {
    std::vector<Variant> args;
    args.emplace_back(value);
    return invoke_by_name(object, name, DISPATCH_PROPERTYPUT, args, nullptr);
  } catch (const ComError& error) {
    return error.Error();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace sx::com
