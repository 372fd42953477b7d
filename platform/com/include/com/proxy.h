// Proxies generated from interface member lists (com/interface.h): one forwarding mechanism for
// every interface, as MIDL's proxies are generated from IDL.
//
//   SX_COM_PROXY(IThing, SX_THING_MEMBERS)   // at global scope, in the library that owns IThing
//
// declares the proxy of IThing and registers it for IThing::kIid, so that a QueryInterface for
// IThing on a proxy of another apartment's object succeeds. The list must hold every member of the
// interface and of its bases except IUnknown's and IDispatch's (those are forwarded here), in slot
// order. Parameters cross apartments by type:
// - numbers, enums, BSTR, GUIDs and pointers to them (out-values such as LONG*, BSTR*, GUID*) as
//   they are: the caller waits, so its memory is there for the call;
// - interface pointers (I*) are marshaled in; I** and void** are [out] and marshaled back;
// - VARIANT is marshaled in by value (a VT_BYREF argument as the value it points to); VARIANT* is
//   [out]; objects inside a VARIANT are marshaled like interface pointers;
// - anything else does not compile.
// A failure to marshal a parameter is the call's result (E_NOINTERFACE, RPC_E_DISCONNECTED...).
// The same list gives the interface's proxy and stub between processes (com/wire.h).
#pragma once

#include <functional>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "com/dispatch.h"
#include "com/interface.h"
#include "com/marshal.h"
#include "com/ptr.h"
#include "com/variant.h"
#include "com/wire.h"
#include "com/work_ref.h"

namespace sx::com {

class ProxyManager;

namespace detail {

// A parameter that could not cross apartments; its HRESULT becomes the call's result.
struct MarshalFailure {
  HRESULT hr;
};
inline void check_marshal(HRESULT hr) {
  if (FAILED(hr)) throw MarshalFailure{hr};
}

// A VARIANT on its way to another apartment: values copied, objects marshaled, a VT_BYREF value
// copied as the value it points to. Throws MarshalFailure (VT_ARRAY: DISP_E_BADVARTYPE).
class MarshaledVariant {
 public:
  MarshaledVariant();
  explicit MarshaledVariant(const VARIANT& value);  // on the sending thread
  ~MarshaledVariant();
  MarshaledVariant(MarshaledVariant&&) noexcept;
  MarshaledVariant& operator=(MarshaledVariant&&) noexcept;
  // On the receiving thread: the value into *out, which must be empty (VT_EMPTY).
  void unpack(VARIANT* out);

 private:
  VARIANT plain_;
  VARTYPE object_vt_ = VT_EMPTY;
  MarshaledInterface object_;
};

// The part of every interface proxy that does not depend on the interface.
class InterfaceProxyBase {
 public:
  InterfaceProxyBase(ProxyManager* manager, IUnknown* target)
      : manager_(manager), target_(target) {}
  virtual ~InterfaceProxyBase() = default;
  InterfaceProxyBase(const InterfaceProxyBase&) = delete;
  InterfaceProxyBase& operator=(const InterfaceProxyBase&) = delete;
  // The proxy as its interface (an IUnknown of it).
  virtual IUnknown* unknown() = 0;

 protected:
  HRESULT proxy_query(REFIID iid, void** out);
  ULONG proxy_add_ref();
  ULONG proxy_release();
  // RPC_E_WRONG_THREAD outside the apartment the proxy was handed to.
  HRESULT check_caller() const;
  // Runs `work` in the object's apartment and waits (see com/marshal.h); the object's error
  // information comes back to this thread. RPC_E_DISCONNECTED when the object is gone.
  HRESULT call_home(WorkRef work) const;
  IUnknown* target() const { return target_; }

 private:
  ProxyManager* manager_;
  IUnknown* target_;  // the object's interface, valid in its apartment while this proxy lives
};

using ProxyFactory = InterfaceProxyBase* (*)(ProxyManager* manager, IUnknown* target);
// Registers the proxy of interface `iid` (for this process). Returns true.
bool register_proxy(REFIID iid, ProxyFactory factory);

template <class T>
inline constexpr bool is_interface_pointer_v =
    std::is_pointer_v<T>&& std::is_class_v<std::remove_pointer_t<T>>&&
        std::is_base_of_v<IUnknown, std::remove_cv_t<std::remove_pointer_t<T>>>;

// How a parameter of type T crosses: pack (caller's thread), open and finish (object's thread,
// around the call; finish always runs), done (caller's thread, after a delivered call).
template <class T, class Enable = void>
struct Arg {
  static_assert((std::is_trivially_copyable_v<std::remove_cvref_t<T>> &&
                 !std::is_class_v<std::remove_pointer_t<std::remove_cvref_t<T>>>) ||
                    std::is_same_v<std::remove_cvref_t<T>, GUID> ||
                    std::is_same_v<std::remove_cvref_t<T>, GUID*> ||
                    std::is_same_v<std::remove_cvref_t<T>, EXCEPINFO*>,
                "no rule to marshal this parameter type");
  using Wire = std::remove_cvref_t<T>;
  static Wire pack(T value) { return value; }
  static T open(Wire& wire) { return wire; }
  static void finish(Wire&, HRESULT*) {}
  static void done(Wire&, T) {}
};

// [in] interface pointer.
template <class T>
struct Arg<T, std::enable_if_t<is_interface_pointer_v<T>>> {
  using I = std::remove_cv_t<std::remove_pointer_t<T>>;
  struct Wire {
    MarshaledInterface packed;
    ComPtr<I> held;
  };
  static Wire pack(T value) {
    Wire wire;
    check_marshal(marshal_interface(value, I::kIid, &wire.packed));
    return wire;
  }
  static T open(Wire& wire) {
    check_marshal(unmarshal_interface(std::move(wire.packed), I::kIid, wire.held.PutVoid()));
    return wire.held.Get();
  }
  static void finish(Wire& wire, HRESULT*) { wire.held = nullptr; }
  static void done(Wire&, T) {}
};

// [out] interface pointer (I**, or void** as IUnknown).
template <class I>
struct OutInterfaceArg {
  struct Wire {
    bool null_slot = false;
    ComPtr<I> value;
    MarshaledInterface packed;
  };
  static Wire pack(I** slot) {
    Wire wire;
    wire.null_slot = slot == nullptr;
    return wire;
  }
  static I** open(Wire& wire) {
    return wire.null_slot ? nullptr : wire.value.ReleaseAndGetAddressOf();
  }
  static void finish(Wire& wire, HRESULT* result) {
    if (SUCCEEDED(*result) && wire.value) {
      const HRESULT hr = marshal_interface(wire.value.Get(), I::kIid, &wire.packed);
      if (FAILED(hr)) *result = hr;
    }
    wire.value = nullptr;
  }
  static void done(Wire& wire, I** slot) {
    if (slot == nullptr) return;
    *slot = nullptr;
    check_marshal(
        unmarshal_interface(std::move(wire.packed), I::kIid, reinterpret_cast<void**>(slot)));
  }
};
template <class T>
struct Arg<
    T, std::enable_if_t<std::is_pointer_v<T> && is_interface_pointer_v<std::remove_pointer_t<T>>>>
    : OutInterfaceArg<std::remove_pointer_t<std::remove_pointer_t<T>>> {};
template <>
struct Arg<void**> {
  using Base = OutInterfaceArg<IUnknown>;
  using Wire = Base::Wire;
  static Wire pack(void** slot) { return Base::pack(reinterpret_cast<IUnknown**>(slot)); }
  static void** open(Wire& wire) { return reinterpret_cast<void**>(Base::open(wire)); }
  static void finish(Wire& wire, HRESULT* result) { Base::finish(wire, result); }
  static void done(Wire& wire, void** slot) {
    Base::done(wire, reinterpret_cast<IUnknown**>(slot));
  }
};

// [in] VARIANT.
template <>
struct Arg<VARIANT> {
  struct Wire {
    MarshaledVariant packed;
    VARIANT held{};
  };
  static Wire pack(const VARIANT& value) { return Wire{MarshaledVariant(value), VARIANT{}}; }
  static VARIANT open(Wire& wire) {
    wire.packed.unpack(&wire.held);
    return wire.held;
  }
  static void finish(Wire& wire, HRESULT*) { VariantClear(&wire.held); }
  static void done(Wire&, const VARIANT&) {}
};

// [out] VARIANT*.
template <>
struct Arg<VARIANT*> {
  struct Wire {
    bool null_slot = false;
    VARIANT value{};
    MarshaledVariant packed;
  };
  static Wire pack(VARIANT* slot) {
    Wire wire;
    wire.null_slot = slot == nullptr;
    return wire;
  }
  static VARIANT* open(Wire& wire) { return wire.null_slot ? nullptr : &wire.value; }
  static void finish(Wire& wire, HRESULT* result) {
    if (SUCCEEDED(*result)) {
      try {
        wire.packed = MarshaledVariant(wire.value);
      } catch (const MarshalFailure& failure) {
        *result = failure.hr;
      }
    }
    VariantClear(&wire.value);
  }
  static void done(Wire& wire, VARIANT* slot) {
    if (slot == nullptr) return;
    VariantInit(slot);
    wire.packed.unpack(slot);
  }
};

template <>
struct Arg<DISPPARAMS*>;  // only IDispatch::Invoke takes it, and its proxy marshals it itself

// Runs a proxied call: packs the arguments here, calls `method` on the object in its apartment,
// and unpacks the results here.
using HomeRunner = FunctionRef<HRESULT(WorkRef)>;

// The work of one proxied call: the packed arguments, the result, the object and the method, in
// one piece that starts a cache line. The object's thread reads it straight after the call itself
// (apartment_internal.h), so a call with few arguments moves only these two lines to it.
template <class I, class C, class... P>
struct alignas(64) ForwardedWork {
  std::tuple<typename Arg<P>::Wire...> wires;
  I* object;
  HRESULT (STDMETHODCALLTYPE C::*method)(P...);
  HRESULT result = E_UNEXPECTED;

  void operator()() {
    try {
      result = std::apply([&](auto&... wire) { return (object->*method)(Arg<P>::open(wire)...); },
                          wires);
    } catch (const MarshalFailure& failure) {
      result = failure.hr;
    } catch (const std::bad_alloc&) {
      result = E_OUTOFMEMORY;
    } catch (...) {
      result = E_UNEXPECTED;
    }
    std::apply([&](auto&... wire) { (Arg<P>::finish(wire, &result), ...); }, wires);
  }
};

template <class I, class C, class... P, class... A>
HRESULT forward_call(HomeRunner home, I* object, HRESULT (STDMETHODCALLTYPE C::*method)(P...),
                     A... args) {
  try {
    ForwardedWork<I, C, P...> work{{Arg<P>::pack(args)...}, object, method};
    const HRESULT delivered = home(work);
    if (FAILED(delivered)) return delivered;
    [&]<std::size_t... k>(std::index_sequence<k...>) {
      (Arg<P>::done(std::get<k>(work.wires), args), ...);
    }
    (std::index_sequence_for<P...>{});
    return work.result;
  } catch (const MarshalFailure& failure) {
    return failure.hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace detail

// The base of the proxy of interface I: IUnknown through the proxy's identity, and forward().
template <class I>
class ProxyOf : public I, public detail::InterfaceProxyBase {
 public:
  using Interface = I;
  // The typed pointer is taken now, while the object is surely alive: later the object may be gone
  // and the pointer is only passed home, where the call first checks that it still lives.
  ProxyOf(ProxyManager* manager, IUnknown* target)
      : InterfaceProxyBase(manager, target), remote_(static_cast<I*>(target)) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return proxy_query(iid, out); }
  STDMETHODIMP_(ULONG) AddRef() override { return proxy_add_ref(); }
  STDMETHODIMP_(ULONG) Release() override { return proxy_release(); }
  IUnknown* unknown() override { return static_cast<I*>(this); }

 protected:
  I* remote() const { return remote_; }

  template <class C, class... P>
  HRESULT forward(HRESULT (STDMETHODCALLTYPE C::*method)(P...), std::type_identity_t<P>... args) {
    if (const HRESULT hr = check_caller(); FAILED(hr)) return hr;
    return detail::forward_call<I>([this](detail::WorkRef work) { return call_home(work); },
                                   remote(), method, args...);
  }

 private:
  I* const remote_;
};

// ProxyOf plus IDispatch's four methods, for dual interfaces.
template <class I>
class DispatchProxyOf : public ProxyOf<I> {
 public:
  using ProxyOf<I>::ProxyOf;

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    return this->forward(&IDispatch::GetTypeInfoCount, count);
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override {
    return this->forward(&IDispatch::GetIDsOfNames, iid, names, count, lcid, ids);
  }
  STDMETHODIMP Invoke(DISPID member, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excep_info, UINT* arg_error) override;
};

namespace detail {
// The work of DispatchProxyOf::GetTypeInfo and ::Invoke, for any dual interface.
HRESULT proxy_get_type_info(HomeRunner home, IDispatch* object, UINT index, LCID lcid,
                            ITypeInfo** info);
HRESULT proxy_invoke(HomeRunner home, IDispatch* object, DISPID member, REFIID iid, LCID lcid,
                     WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep_info,
                     UINT* arg_error);
}  // namespace detail

template <class I>
STDMETHODIMP DispatchProxyOf<I>::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  if (const HRESULT hr = this->check_caller(); FAILED(hr)) return hr;
  return detail::proxy_get_type_info([this](detail::WorkRef work) { return this->call_home(work); },
                                     this->remote(), index, lcid, info);
}

template <class I>
STDMETHODIMP DispatchProxyOf<I>::Invoke(DISPID member, REFIID iid, LCID lcid, WORD flags,
                                        DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep_info,
                                        UINT* arg_error) {
  if (const HRESULT hr = this->check_caller(); FAILED(hr)) return hr;
  return detail::proxy_invoke([this](detail::WorkRef work) { return this->call_home(work); },
                              this->remote(), member, iid, lcid, flags, params, result, excep_info,
                              arg_error);
}

template <class I>
using ProxyBaseFor =
    std::conditional_t<std::is_base_of_v<IDispatch, I>, DispatchProxyOf<I>, ProxyOf<I>>;

// Specialised by SX_COM_PROXY.
template <class I>
class InterfaceProxy;

template <class I>
bool register_proxy_of() {
  return detail::register_proxy(
      I::kIid, [](ProxyManager* manager, IUnknown* target) -> detail::InterfaceProxyBase* {
        return new InterfaceProxy<I>(manager, target);
      });
}

}  // namespace sx::com

#define SX_COM_FORWARD_MEMBER_(name, ...)                                          \
  STDMETHODIMP name(SX_COM_PARAMS(__VA_ARGS__)) override {                         \
    return this->forward(&Interface::name __VA_OPT__(, SX_COM_ARGS(__VA_ARGS__))); \
  }

// The proxy of `iface` from its member list (with its bases' members but IUnknown's and
// IDispatch's), registered when the library loads. Use at global scope.
#define SX_COM_PROXY(iface, list)                                                    \
  template <>                                                                        \
  class sx::com::InterfaceProxy<iface> final : public sx::com::ProxyBaseFor<iface> { \
   public:                                                                           \
    using ProxyBaseFor<iface>::ProxyBaseFor;                                         \
    list(SX_COM_FORWARD_MEMBER_)                                                     \
  };                                                                                 \
  [[maybe_unused]] static const bool sx_com_proxy_registered_##iface =               \
      sx::com::register_proxy_of<iface>();                                           \
  SX_COM_REMOTE(iface, list)

// A proxy for an interface whose members are only IUnknown's and IDispatch's.
#define SX_COM_NO_MEMBERS(M)
