// The proxies of the runtime's own interfaces: IDispatch (and its methods for every dual
// interface) and IClassFactory.
#include <vector>

#include "com/proxy.h"

namespace sx::com::detail {

HRESULT proxy_get_type_info(HomeRunner home, IDispatch* object, UINT index, LCID lcid,
                            ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  HRESULT result = E_UNEXPECTED;
  const HRESULT delivered = home([&] {
    ITypeInfo* got = nullptr;
    result = object->GetTypeInfo(index, lcid, &got);
    if (got != nullptr) {
      // Type information does not cross apartments here.
      reinterpret_cast<IUnknown*>(got)->Release();
      result = E_NOTIMPL;
    }
  });
  return FAILED(delivered) ? delivered : result;
}

HRESULT proxy_invoke(HomeRunner home, IDispatch* object, DISPID member, REFIID iid, LCID lcid,
                     WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep_info,
                     UINT* arg_error) {
  try {
    std::vector<MarshaledVariant> args;
    std::vector<DISPID> named;
    UINT count = 0;
    if (params != nullptr) {
      count = params->cArgs;
      if (count > 0 && params->rgvarg == nullptr) return E_INVALIDARG;
      for (UINT i = 0; i < count; ++i) args.emplace_back(params->rgvarg[i]);
      if (params->cNamedArgs > 0) {
        if (params->rgdispidNamedArgs == nullptr) return E_INVALIDARG;
        named.assign(params->rgdispidNamedArgs, params->rgdispidNamedArgs + params->cNamedArgs);
      }
    }
    const IID interface_id = iid;
    HRESULT answer = E_UNEXPECTED;
    MarshaledVariant returned;
    const HRESULT delivered = home([&] {
      std::vector<VARIANT> held(count);
      for (VARIANT& v : held) VariantInit(&v);
      try {
        for (UINT i = 0; i < count; ++i) args[i].unpack(&held[i]);
        DISPPARAMS there{held.data(), named.data(), count, static_cast<UINT>(named.size())};
        VARIANT value;
        VariantInit(&value);
        answer =
            object->Invoke(member, interface_id, lcid, flags, params != nullptr ? &there : nullptr,
                           result != nullptr ? &value : nullptr, excep_info, arg_error);
        if (SUCCEEDED(answer) && result != nullptr) {
          try {
            returned = MarshaledVariant(value);
          } catch (const MarshalFailure& failure) {
            answer = failure.hr;
          }
        }
        VariantClear(&value);
      } catch (const MarshalFailure& failure) {
        answer = failure.hr;
      }
      for (VARIANT& v : held) VariantClear(&v);
    });
    if (FAILED(delivered)) return delivered;
    if (result != nullptr) {
      VariantClear(result);
      if (SUCCEEDED(answer)) returned.unpack(result);
    }
    return answer;
  } catch (const MarshalFailure& failure) {
    return failure.hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace sx::com::detail

// IClassFactory: the object CreateInstance makes is marshaled back as the interface asked for.
template <>
class sx::com::InterfaceProxy<IClassFactory> final : public sx::com::ProxyOf<IClassFactory> {
 public:
  using ProxyOf::ProxyOf;

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (const HRESULT hr = check_caller(); FAILED(hr)) return hr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    const IID wanted = iid;
    MarshaledInterface packed;
    HRESULT result = E_UNEXPECTED;
    const HRESULT delivered = call_home([&] {
      ComPtr<IUnknown> made;
      result = remote()->CreateInstance(nullptr, wanted, made.PutVoid());
      if (SUCCEEDED(result)) {
        if (const HRESULT hr = marshal_interface(made.Get(), wanted, &packed); FAILED(hr)) {
          result = hr;
        }
      }
    });
    if (FAILED(delivered)) return delivered;
    if (FAILED(result)) return result;
    return unmarshal_interface(std::move(packed), wanted, object);
  }
  STDMETHODIMP LockServer(BOOL lock) override { return forward(&IClassFactory::LockServer, lock); }
};

namespace {
[[maybe_unused]] const bool class_factory_proxy = sx::com::register_proxy_of<IClassFactory>();
}  // namespace

SX_COM_PROXY(IDispatch, SX_COM_NO_MEMBERS);
