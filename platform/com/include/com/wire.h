// Calls between processes: the bytes a proxied call's arguments and results become on their way to
// another process of the machine, and the remote proxies and stubs made from an interface's member
// list (com/interface.h) by SX_COM_PROXY, as the in-process ones are (docs/com-apartments.md,
// "Between processes").
//
// Each parameter type has one wire form:
// - numbers, enums, GUID, REFIID: the value;
// - BSTR (and OLECHAR*, const OLECHAR*): the text, null kept apart from empty;
// - pointers to numbers (LONG*, DATE*, VARIANT_BOOL*, GUID*...), BSTR*, VARIANT*: [out], sent back;
// - VARIANT: the value (VT_BYREF as the value it points to, objects as references);
// - interface pointers (I*): references; I** and void** (as IUnknown): [out] references;
// - IDispatch's methods are carried by hand (com/wire.h's dispatch_* functions, src/remote.cpp);
// - anything else (SAFEARRAY, pointers to pointers...) is refused: CO_E_NOT_SUPPORTED, no call.
#pragma once

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "com/bstr.h"
#include "com/dispatch.h"
#include "com/interface.h"
#include "com/ptr.h"
#include "com/variant.h"
#include "com/work_ref.h"

// A stub was handed arguments it cannot read (a malformed or truncated message).
#ifndef RPC_X_BAD_STUB_DATA
#define RPC_X_BAD_STUB_DATA SX_HR_(0x800706F7)
#endif

namespace sx::com {

class RemoteConnection;     // a connection to another process (src/remote.cpp)
class RemoteProxyManager;   // the proxies of one object of another process

namespace wire {

// A failure while packing or unpacking; its HRESULT becomes the call's result.
struct Failure {
  HRESULT hr;
};

// Bytes of a message being written. References are counted for `connection`'s peer.
class Writer {
 public:
  explicit Writer(RemoteConnection* connection) : connection_(connection) {}
  void bytes(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    data_.insert(data_.end(), p, p + size);
  }
  template <class T>
  void value(const T& v) {
    static_assert(std::is_trivially_copyable_v<T>);
    bytes(&v, sizeof v);
  }
  void u8(std::uint8_t v) { data_.push_back(v); }
  void u32(std::uint32_t v) { value(v); }
  void u64(std::uint64_t v) { value(v); }
  // A text that may be null.
  void text(const OLECHAR* text);
  void text(const OLECHAR* text, std::size_t length);
  // Throws Failure for a value that cannot cross (VT_ARRAY, VT_RECORD, VT_DECIMAL...).
  void variant(const VARIANT& v);
  // A reference to `object` (its interface `iid`), null included. Throws Failure.
  void reference(IUnknown* object, REFIID iid);

  std::vector<std::uint8_t>& data() { return data_; }
  RemoteConnection* connection() const { return connection_; }

 private:
  RemoteConnection* connection_;
  std::vector<std::uint8_t> data_;
  // Proxies sent home, kept until the message has gone: their releases follow it.
  std::vector<ComPtr<IUnknown>> keep_alive_;
};

// Bytes of a message being read; every read checks the length and throws
// Failure{RPC_X_BAD_STUB_DATA} past the end or on a value that makes no sense.
class Reader {
 public:
  Reader(RemoteConnection* connection, const std::uint8_t* data, std::size_t size)
      : connection_(connection), data_(data), size_(size) {}
  void bytes(void* out, std::size_t size) {
    if (size > size_ - at_) throw Failure{RPC_X_BAD_STUB_DATA};
    if (size > 0) std::memcpy(out, data_ + at_, size);
    at_ += size;
  }
  template <class T>
  T value() {
    static_assert(std::is_trivially_copyable_v<T>);
    T v;
    bytes(&v, sizeof v);
    return v;
  }
  std::uint8_t u8() { return value<std::uint8_t>(); }
  std::uint32_t u32() { return value<std::uint32_t>(); }
  std::uint64_t u64() { return value<std::uint64_t>(); }
  // A new BSTR (null when null was sent); the caller frees it.
  BSTR text();
  // Into *out, which is empty.
  void variant(VARIANT* out);
  // The object referred to, as interface `iid`, AddRef'd into *out (null for null). Throws Failure
  // (RPC_E_DISCONNECTED for an object of ours no longer lent out).
  void reference(REFIID iid, void** out);

  bool at_end() const { return at_ == size_; }
  std::size_t left() const { return size_ - at_; }
  RemoteConnection* connection() const { return connection_; }

 private:
  RemoteConnection* connection_;
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// --- How each parameter type crosses -----------------------------------------------------------
//
// On the caller's side write_in (before the call) and read_out (after a reply); on the object's
// side, around the call: read_in fills a Slot, open gives the argument, write_out sends the results
// (of a call that failed, empty ones).

template <class T>
using Bare = std::remove_cv_t<std::remove_reference_t<T>>;

template <class T>
inline constexpr bool is_number_v =
    (std::is_arithmetic_v<Bare<T>> || std::is_enum_v<Bare<T>> || std::is_same_v<Bare<T>, GUID> ||
     std::is_same_v<Bare<T>, CY>) &&
    !std::is_pointer_v<Bare<T>>;

template <class T>
inline constexpr bool is_interface_v =
    std::is_class_v<T> && std::is_base_of_v<IUnknown, T> && requires { T::kIid; };

// Text held on the object's side for the call.
struct TextSlot {
  BSTR text = nullptr;
  TextSlot() = default;
  TextSlot(const TextSlot&) = delete;
  TextSlot& operator=(const TextSlot&) = delete;
  ~TextSlot() { SysFreeString(text); }
};
struct VariantSlot {
  VARIANT value;
  VariantSlot() { VariantInit(&value); }
  VariantSlot(const VariantSlot&) = delete;
  VariantSlot& operator=(const VariantSlot&) = delete;
  ~VariantSlot() { VariantClear(&value); }
};

template <class T, class Enable = void>
struct WireArg {  // no rule: refused
  static constexpr bool kSupported = false;
  struct Slot {};
  static void write_in(Writer&, T) {}
  static void read_in(Reader&, Slot&) {}
  static T open(Slot&) { return T{}; }
  static void write_out(Writer&, Slot&, HRESULT) {}
  static void read_out(Reader&, T) {}
};

// Numbers, enums, GUIDs (REFIID too): by value.
template <class T>
struct WireArg<T, std::enable_if_t<is_number_v<T>>> {
  static constexpr bool kSupported = true;
  using Slot = Bare<T>;
  static void write_in(Writer& w, const Slot& v) { w.value(v); }
  static void read_in(Reader& r, Slot& slot) { slot = r.value<Slot>(); }
  static T open(Slot& slot) { return slot; }
  static void write_out(Writer&, Slot&, HRESULT) {}
  static void read_out(Reader&, const Slot&) {}
};

// [out] pointer to a number.
template <class T>
struct WireArg<T*, std::enable_if_t<is_number_v<T> && !std::is_const_v<T> &&
                                    !std::is_same_v<T, OLECHAR>>> {
  static constexpr bool kSupported = true;
  struct Slot {
    bool null_slot = false;
    T value{};
  };
  static void write_in(Writer& w, T* p) { w.u8(p == nullptr ? 1 : 0); }
  static void read_in(Reader& r, Slot& slot) { slot.null_slot = r.u8() != 0; }
  static T* open(Slot& slot) { return slot.null_slot ? nullptr : &slot.value; }
  static void write_out(Writer& w, Slot& slot, HRESULT) {
    if (!slot.null_slot) w.value(slot.value);
  }
  static void read_out(Reader& r, T* p) {
    if (p != nullptr) *p = r.value<T>();
  }
};

// [in] text: BSTR, OLECHAR*, const OLECHAR*.
template <class T>
struct WireArg<T, std::enable_if_t<std::is_same_v<Bare<T>, OLECHAR*> ||
                                   std::is_same_v<Bare<T>, const OLECHAR*>>> {
  static constexpr bool kSupported = true;
  using Slot = TextSlot;
  static void write_in(Writer& w, const OLECHAR* text) {
    // A BSTR knows its length (and may hold NULs); other texts end at their NUL.
    w.text(text);
  }
  static void read_in(Reader& r, Slot& slot) { slot.text = r.text(); }
  static T open(Slot& slot) { return slot.text; }
  static void write_out(Writer&, Slot&, HRESULT) {}
  static void read_out(Reader&, const OLECHAR*) {}
};

// [out] BSTR*.
template <>
struct WireArg<BSTR*> {
  static constexpr bool kSupported = true;
  struct Slot {
    bool null_slot = false;
    TextSlot text;
  };
  static void write_in(Writer& w, BSTR* p) { w.u8(p == nullptr ? 1 : 0); }
  static void read_in(Reader& r, Slot& slot) { slot.null_slot = r.u8() != 0; }
  static BSTR* open(Slot& slot) { return slot.null_slot ? nullptr : &slot.text.text; }
  static void write_out(Writer& w, Slot& slot, HRESULT) {
    if (!slot.null_slot) w.text(slot.text.text, slot.text.text ? SysStringLen(slot.text.text) : 0);
  }
  static void read_out(Reader& r, BSTR* p) {
    if (p != nullptr) *p = r.text();
  }
};

// [in] VARIANT.
template <>
struct WireArg<VARIANT> {
  static constexpr bool kSupported = true;
  using Slot = VariantSlot;
  static void write_in(Writer& w, const VARIANT& v) { w.variant(v); }
  static void read_in(Reader& r, Slot& slot) { r.variant(&slot.value); }
  static VARIANT open(Slot& slot) { return slot.value; }
  static void write_out(Writer&, Slot&, HRESULT) {}
  static void read_out(Reader&, const VARIANT&) {}
};

// [out] VARIANT*.
template <>
struct WireArg<VARIANT*> {
  static constexpr bool kSupported = true;
  struct Slot {
    bool null_slot = false;
    VariantSlot value;
  };
  static void write_in(Writer& w, VARIANT* p) { w.u8(p == nullptr ? 1 : 0); }
  static void read_in(Reader& r, Slot& slot) { slot.null_slot = r.u8() != 0; }
  static VARIANT* open(Slot& slot) { return slot.null_slot ? nullptr : &slot.value.value; }
  static void write_out(Writer& w, Slot& slot, HRESULT hr) {
    if (slot.null_slot) return;
    if (FAILED(hr)) VariantClear(&slot.value.value);
    w.variant(slot.value.value);
  }
  static void read_out(Reader& r, VARIANT* p) {
    if (p == nullptr) return;
    VariantInit(p);
    r.variant(p);
  }
};

// [in] interface pointer.
template <class I>
struct WireArg<I*, std::enable_if_t<is_interface_v<I>>> {
  static constexpr bool kSupported = true;
  using Slot = ComPtr<std::remove_cv_t<I>>;
  static void write_in(Writer& w, I* p) { w.reference(p, I::kIid); }
  static void read_in(Reader& r, Slot& slot) { r.reference(I::kIid, slot.PutVoid()); }
  static I* open(Slot& slot) { return slot.Get(); }
  static void write_out(Writer&, Slot&, HRESULT) {}
  static void read_out(Reader&, I*) {}
};

// [out] interface pointer.
template <class I>
struct OutInterfaceWire {
  static constexpr bool kSupported = true;
  struct Slot {
    bool null_slot = false;
    ComPtr<I> value;
  };
  static void write_in(Writer& w, void* p) { w.u8(p == nullptr ? 1 : 0); }
  static void read_in(Reader& r, Slot& slot) { slot.null_slot = r.u8() != 0; }
  static void write_out(Writer& w, Slot& slot, HRESULT hr) {
    if (slot.null_slot) return;
    w.reference(SUCCEEDED(hr) ? slot.value.Get() : nullptr, I::kIid);
  }
  static void read_out(Reader& r, void** p) {
    if (p == nullptr) return;
    *p = nullptr;
    r.reference(I::kIid, p);
  }
};
template <class I>
struct WireArg<I**, std::enable_if_t<is_interface_v<I>>> : OutInterfaceWire<I> {
  using Base = OutInterfaceWire<I>;
  static void write_in(Writer& w, I** p) { Base::write_in(w, p); }
  static I** open(typename Base::Slot& slot) {
    return slot.null_slot ? nullptr : slot.value.ReleaseAndGetAddressOf();
  }
  static void read_out(Reader& r, I** p) { Base::read_out(r, reinterpret_cast<void**>(p)); }
};
template <>
struct WireArg<void**> : OutInterfaceWire<IUnknown> {
  using Base = OutInterfaceWire<IUnknown>;
  static void write_in(Writer& w, void** p) { Base::write_in(w, p); }
  static void** open(Base::Slot& slot) {
    return slot.null_slot ? nullptr : reinterpret_cast<void**>(slot.value.ReleaseAndGetAddressOf());
  }
  static void read_out(Reader& r, void** p) { Base::read_out(r, p); }
};

}  // namespace wire

namespace detail {

// Method numbers in a call: IDispatch's four, then the member list's.
constexpr std::uint32_t kGetTypeInfoCount = 0;
constexpr std::uint32_t kGetTypeInfo = 1;
constexpr std::uint32_t kGetIDsOfNames = 2;
constexpr std::uint32_t kInvoke = 3;
constexpr std::uint32_t kFirstMember = 16;

// Runs one member on the object's side: reads the arguments, calls, writes the results. Its
// HRESULT is the method's; a Failure (arguments that do not decode) passes through.
using StubFn = HRESULT (*)(IUnknown* target, wire::Reader& in, wire::Writer& out);

template <class I, auto Method>
struct Stub;
template <class I, class C, class... P, HRESULT (STDMETHODCALLTYPE C::*Method)(P...)>
struct Stub<I, Method> {
  static HRESULT run(IUnknown* target, wire::Reader& in, wire::Writer& out) {
    std::tuple<typename wire::WireArg<P>::Slot...> slots;
    [&]<std::size_t... k>(std::index_sequence<k...>) {
      (wire::WireArg<P>::read_in(in, std::get<k>(slots)), ...);
    }(std::index_sequence_for<P...>{});
    if (!in.at_end()) throw wire::Failure{RPC_X_BAD_STUB_DATA};
    HRESULT hr = E_UNEXPECTED;
    try {
      hr = [&]<std::size_t... k>(std::index_sequence<k...>) {
        return (static_cast<I*>(target)->*Method)(
            wire::WireArg<P>::open(std::get<k>(slots))...);
      }(std::index_sequence_for<P...>{});
    } catch (...) {
      hr = E_UNEXPECTED;  // nothing passes the object's boundary
    }
    [&]<std::size_t... k>(std::index_sequence<k...>) {
      (wire::WireArg<P>::write_out(out, std::get<k>(slots), hr), ...);
    }(std::index_sequence_for<P...>{});
    return hr;
  }
};

class RemoteInterfaceProxyBase;

// What a process knows of an interface for calls between processes.
struct RemoteInterface {
  // The remote proxy of the interface over `manager`.
  RemoteInterfaceProxyBase* (*make_proxy)(RemoteProxyManager* manager);
  const StubFn* stubs;  // the member list's, in order
  std::uint32_t stub_count;
  // The object as IDispatch, for dual interfaces (null otherwise).
  IDispatch* (*as_dispatch)(IUnknown* target);
};
bool register_remote(REFIID iid, const RemoteInterface& entry);
const RemoteInterface* find_remote(REFIID iid);
// Runs method number `method` of `remote` on `target` (the object's interface, in its apartment)
// with the arguments in `in`, the results into `out`: the method's HRESULT. Throws wire::Failure
// for arguments that do not decode or a method the interface lacks.
HRESULT run_remote_method(const RemoteInterface& remote, IUnknown* target, std::uint32_t method,
                          wire::Reader& in, wire::Writer& out);

// The part of every remote interface proxy that does not depend on the interface.
class RemoteInterfaceProxyBase {
 public:
  RemoteInterfaceProxyBase(RemoteProxyManager* manager, REFIID iid) : manager_(manager), iid_(iid) {}
  virtual ~RemoteInterfaceProxyBase() = default;
  // The proxy as its interface (an IUnknown of it).
  virtual IUnknown* unknown() = 0;
  RemoteInterfaceProxyBase(const RemoteInterfaceProxyBase&) = delete;
  RemoteInterfaceProxyBase& operator=(const RemoteInterfaceProxyBase&) = delete;

 protected:
  HRESULT remote_query(REFIID iid, void** out);
  ULONG remote_add_ref();
  ULONG remote_release();
  // Sends the call of `method`, its arguments written by `write`, waits for the reply, and has
  // `read` read its results when the object ran. The object's HRESULT in *result; the return value
  // tells whether the call was delivered (RPC_E_DISCONNECTED, RPC_X_BAD_STUB_DATA...).
  HRESULT remote_call(std::uint32_t method, FunctionRef<void(wire::Writer&)> write,
                      FunctionRef<void(wire::Reader&)> read, HRESULT* result);
  RemoteProxyManager* manager() const { return manager_; }

 private:
  RemoteProxyManager* manager_;
  IID iid_;
};

// IDispatch's methods over the wire, for every dual interface's remote proxy.
HRESULT remote_get_type_info_count(RemoteInterfaceProxyBase* proxy, UINT* count);
HRESULT remote_get_type_info(RemoteInterfaceProxyBase* proxy, UINT index, LCID lcid,
                             ITypeInfo** info);
HRESULT remote_get_ids_of_names(RemoteInterfaceProxyBase* proxy, REFIID iid, LPOLESTR* names,
                                UINT count, LCID lcid, DISPID* ids);
HRESULT remote_invoke(RemoteInterfaceProxyBase* proxy, DISPID member, REFIID iid, LCID lcid,
                      WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep_info,
                      UINT* arg_error);

}  // namespace detail

// The base of the remote proxy of interface I.
template <class I>
class RemoteProxyOf : public I, public detail::RemoteInterfaceProxyBase {
 public:
  using Interface = I;
  explicit RemoteProxyOf(RemoteProxyManager* manager) : RemoteInterfaceProxyBase(manager, I::kIid) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return remote_query(iid, out); }
  STDMETHODIMP_(ULONG) AddRef() override { return remote_add_ref(); }
  STDMETHODIMP_(ULONG) Release() override { return remote_release(); }
  IUnknown* unknown() override { return static_cast<I*>(this); }

 protected:
  template <class C, class... P>
  HRESULT remote_forward(std::uint32_t method, HRESULT (STDMETHODCALLTYPE C::*)(P...),
                         std::type_identity_t<P>... args) {
    if constexpr (!(wire::WireArg<P>::kSupported && ...)) {
      return CO_E_NOT_SUPPORTED;
    } else {
      HRESULT result = E_UNEXPECTED;
      try {
        const HRESULT delivered = remote_call(
            method, [&](wire::Writer& w) { (wire::WireArg<P>::write_in(w, args), ...); },
            [&](wire::Reader& r) { (wire::WireArg<P>::read_out(r, args), ...); }, &result);
        return FAILED(delivered) ? delivered : result;
      } catch (const wire::Failure& failure) {
        return failure.hr;
      } catch (...) {
        return E_OUTOFMEMORY;
      }
    }
  }
};

// RemoteProxyOf plus IDispatch's four methods, for dual interfaces.
template <class I>
class RemoteDispatchProxyOf : public RemoteProxyOf<I> {
 public:
  using RemoteProxyOf<I>::RemoteProxyOf;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    return detail::remote_get_type_info_count(this, count);
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
    return detail::remote_get_type_info(this, index, lcid, info);
  }
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override {
    return detail::remote_get_ids_of_names(this, iid, names, count, lcid, ids);
  }
  STDMETHODIMP Invoke(DISPID member, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excep_info, UINT* arg_error) override {
    return detail::remote_invoke(this, member, iid, lcid, flags, params, result, excep_info,
                                 arg_error);
  }
};

template <class I>
using RemoteProxyBaseFor = std::conditional_t<std::is_base_of_v<IDispatch, I>,
                                              RemoteDispatchProxyOf<I>, RemoteProxyOf<I>>;

// Specialised by SX_COM_PROXY.
template <class I>
class RemoteProxy;
template <class I>
struct RemoteStubs;

template <class I>
bool register_remote_of() {
  detail::RemoteInterface entry{};
  entry.make_proxy = [](RemoteProxyManager* manager) -> detail::RemoteInterfaceProxyBase* {
    return new RemoteProxy<I>(manager);
  };
  entry.stubs = RemoteStubs<I>::kTable;
  entry.stub_count = static_cast<std::uint32_t>(std::size(RemoteStubs<I>::kTable) - 1);
  if constexpr (std::is_base_of_v<IDispatch, I>) {
    entry.as_dispatch = [](IUnknown* target) -> IDispatch* { return static_cast<I*>(target); };
  }
  return detail::register_remote(I::kIid, entry);
}

}  // namespace sx::com

#define SX_COM_STUB_ENTRY_(name, ...) &::sx::com::detail::Stub<Interface, &Interface::name>::run,
#define SX_COM_METHOD_NUMBER_(name, ...) kMethod_##name,
#define SX_COM_REMOTE_MEMBER_(name, ...)                                                  \
  STDMETHODIMP name(SX_COM_PARAMS(__VA_ARGS__)) override {                                \
    return this->remote_forward(::sx::com::detail::kFirstMember + kMethod_##name,         \
                                &Interface::name __VA_OPT__(, SX_COM_ARGS(__VA_ARGS__))); \
  }

// The remote proxy and the stubs of `iface` from its member list (used by SX_COM_PROXY).
#define SX_COM_REMOTE(iface, list)                                                             \
  template <>                                                                                  \
  struct sx::com::RemoteStubs<iface> {                                                         \
    using Interface = iface;                                                                   \
    static constexpr ::sx::com::detail::StubFn kTable[] = {list(SX_COM_STUB_ENTRY_) nullptr};  \
  };                                                                                           \
  template <>                                                                                  \
  class sx::com::RemoteProxy<iface> final : public sx::com::RemoteProxyBaseFor<iface> {        \
   public:                                                                                     \
    using RemoteProxyBaseFor<iface>::RemoteProxyBaseFor;                                       \
    enum : std::uint32_t { list(SX_COM_METHOD_NUMBER_) kMethodCount_ };                        \
    list(SX_COM_REMOTE_MEMBER_)                                                                \
  };                                                                                           \
  [[maybe_unused]] static const bool sx_com_remote_registered_##iface =                        \
      sx::com::register_remote_of<iface>()
