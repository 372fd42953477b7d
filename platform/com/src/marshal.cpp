// Interface pointers between apartments: the objects an apartment lends out (exports), the proxies
// an apartment holds (one proxy manager per object, with one interface proxy per interface), and
// the packing of interfaces and VARIANTs for the way across.
#include <algorithm>
#include <atomic>
#include <new>
#include <optional>
#include <vector>

#include "apartment_internal.h"
#include "com/errorinfo.h"
#include "com/object.h"
#include "com/proxy.h"

namespace sx::com {

namespace {

// Asked of any interface pointer to learn whether it is one of our proxies; only proxy managers
// answer it, from any thread, with themselves.
constexpr IID kProxyManagerIid = guid("{5A0C0C0C-51A7-4F5E-9C1D-2B6E0F3A7D01}");

std::atomic<std::uint64_t> g_export_serial{0};

struct ProxyRegistry {
  std::mutex mutex;
  std::map<IID, detail::ProxyFactory, GuidLess> factories;
  std::atomic<std::uint64_t> generation{0};  // bumped by every registration
};
ProxyRegistry& proxy_registry() {
  static auto* registry = new ProxyRegistry();  // never destroyed: proxies may die during exit
  return *registry;
}

// The interfaces that have proxies.
std::vector<IID> proxied_interfaces() {
  ProxyRegistry& r = proxy_registry();
  std::lock_guard lock(r.mutex);
  std::vector<IID> out;
  out.reserve(r.factories.size());
  for (const auto& [iid, factory] : r.factories) out.push_back(iid);
  return out;
}

// Every proxied call that hands out an object looks proxies up on both threads of the call. Each
// thread keeps what it found since the last registration, so that the registry's lock is not
// handed from one thread to the other at every call.
detail::ProxyFactory find_proxy(REFIID iid) {
  ProxyRegistry& r = proxy_registry();
  thread_local struct {
    std::uint64_t generation = ~std::uint64_t{0};
    std::map<IID, detail::ProxyFactory, GuidLess> found;
  } seen;
  const std::uint64_t generation = r.generation.load(std::memory_order_acquire);
  if (seen.generation != generation) {
    seen.found.clear();
    seen.generation = generation;
  }
  if (auto it = seen.found.find(iid); it != seen.found.end()) return it->second;
  detail::ProxyFactory factory = nullptr;
  {
    std::lock_guard lock(r.mutex);
    auto it = r.factories.find(iid);
    if (it == r.factories.end()) return nullptr;
    factory = it->second;
  }
  seen.found.emplace(iid, factory);
  return factory;
}

// The proxied interfaces of `identity`, each asked for once: those it lists, else every interface
// that has a proxy.
void learn_interfaces(IUnknown* identity, std::map<IID, ComPtr<IUnknown>, GuidLess>* interfaces) {
  const auto add = [&](const IID& iid) {
    ComPtr<IUnknown> p;
    if (SUCCEEDED(identity->QueryInterface(iid, p.PutVoid())) && p) {
      interfaces->emplace(iid, std::move(p));
    }
  };
  void* lists = nullptr;
  if (SUCCEEDED(identity->QueryInterface(ListsInterfaces::kIid, &lists)) && lists != nullptr) {
    std::size_t count = 0;
    const IID* listed = static_cast<ListsInterfaces*>(lists)->listed_interfaces(&count);
    identity->Release();
    for (std::size_t i = 0; i < count; ++i) {
      if (find_proxy(listed[i]) != nullptr) add(listed[i]);
    }
    return;
  }
  for (const IID& proxied : proxied_interfaces()) add(proxied);
}

}  // namespace

// The proxies one apartment holds to one object of another apartment: the object's identity here,
// and its interface proxies. Owns `connections_` references at the object's home.
class ProxyManager final : public IUnknown {
 public:
  ProxyManager(std::shared_ptr<detail::Apartment> owner, std::shared_ptr<detail::Apartment> home,
               IUnknown* identity, std::uint64_t serial)
      : owner_(std::move(owner)), home_(std::move(home)), identity_(identity), serial_(serial) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override;

  HRESULT check_caller() const {
    return detail::current_apartment_raw() == owner_.get() ? S_OK : RPC_E_WRONG_THREAD;
  }
  HRESULT call_home(detail::WorkRef work) const;
  // Adds the interface proxy for `iid` over `target` (a pointer valid at home) unless there is one.
  HRESULT add_interface(REFIID iid, IUnknown* target, void** out);
  // Interfaces of the object known without asking: (IID, pointer valid at home).
  void learn(const std::vector<std::pair<IID, IUnknown*>>& known);

  const std::shared_ptr<detail::Apartment>& owner() const { return owner_; }
  const std::shared_ptr<detail::Apartment>& home() const { return home_; }
  IUnknown* identity() const { return identity_; }
  std::uint64_t serial() const { return serial_; }

  // Guarded by owner_->proxies_mutex.
  std::size_t connections = 0;

 private:
  ~ProxyManager() = default;

  const std::shared_ptr<detail::Apartment> owner_;
  const std::shared_ptr<detail::Apartment> home_;
  IUnknown* const identity_;
  const std::uint64_t serial_;
  std::atomic<ULONG> refs_{0};
  std::mutex mutex_;
  std::map<IID, std::unique_ptr<detail::InterfaceProxyBase>, GuidLess> interfaces_;
  std::map<IID, IUnknown*, GuidLess> known_;
};

namespace detail {

// --- Exports, on the home apartment's thread ---------------------------------------------------

ExportEntry* find_export(Apartment& apartment, IUnknown* identity, std::uint64_t serial) {
  auto it = apartment.exports.find(identity);
  return it != apartment.exports.end() && it->second.serial == serial ? &it->second : nullptr;
}

void release_export(Apartment& apartment, IUnknown* identity, std::uint64_t serial,
                    std::size_t connections) {
  ExportEntry* entry = find_export(apartment, identity, serial);
  if (entry == nullptr || connections == 0) return;
  connections = std::min(connections, entry->connections);
  entry->connections -= connections;
  apartment.connections -= connections;
  std::optional<ExportEntry> gone;
  if (entry->connections == 0) {
    gone = std::move(*entry);
    apartment.exports.erase(identity);
  }
  gone.reset();  // the object's references go here, on its own thread
  if (apartment.connections == 0 && apartment.on_last_release) {
    const auto handler = apartment.on_last_release;
    handler();
  }
}

void disconnect_exports(Apartment& apartment) {
  auto gone = std::move(apartment.exports);
  apartment.exports.clear();
  apartment.connections = 0;
  gone.clear();
}

void release_proxies_held_by(Apartment& apartment) {
  std::vector<std::pair<ComPtr<ProxyManager>, std::size_t>> held;
  {
    std::lock_guard lock(apartment.proxies_mutex);
    for (auto& [key, manager] : apartment.proxies) {
      held.emplace_back(ComPtr<ProxyManager>(), std::exchange(manager->connections, 0));
      held.back().first.Attach(manager);
      manager->AddRef();  // kept alive while we give its references back
    }
    apartment.proxies.clear();
  }
  for (auto& entry : held) {
    ProxyManager* manager = entry.first.Get();
    const std::size_t connections = entry.second;
    if (connections == 0) continue;
    (void)call_in(
        manager->home(),
        [&] {
          release_export(*manager->home(), manager->identity(), manager->serial(), connections);
        },
        true);
  }
  send_deferred_releases(apartment);
}

// --- Interface proxies -------------------------------------------------------------------------

HRESULT InterfaceProxyBase::proxy_query(REFIID iid, void** out) {
  return manager_->QueryInterface(iid, out);
}
ULONG InterfaceProxyBase::proxy_add_ref() { return manager_->AddRef(); }
ULONG InterfaceProxyBase::proxy_release() { return manager_->Release(); }
HRESULT InterfaceProxyBase::check_caller() const { return manager_->check_caller(); }
HRESULT InterfaceProxyBase::call_home(WorkRef work) const { return manager_->call_home(work); }

bool register_proxy(REFIID iid, ProxyFactory factory) {
  ProxyRegistry& r = proxy_registry();
  std::lock_guard lock(r.mutex);
  r.factories[iid] = factory;
  r.generation.fetch_add(1, std::memory_order_release);
  return true;
}

}  // namespace detail

HRESULT ProxyManager::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (iid == kProxyManagerIid) {
    AddRef();
    *out = this;
    return S_OK;
  }
  if (const HRESULT hr = check_caller(); FAILED(hr)) return hr;
  if (iid == IID_IUnknown) {
    AddRef();
    *out = static_cast<IUnknown*>(this);
    return S_OK;
  }
  IUnknown* known = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (auto it = interfaces_.find(iid); it != interfaces_.end()) {
      IUnknown* proxy = it->second->unknown();
      proxy->AddRef();
      *out = proxy;
      return S_OK;
    }
    if (auto it = known_.find(iid); it != known_.end()) known = it->second;
  }
  if (find_proxy(iid) == nullptr) return E_NOINTERFACE;
  if (known != nullptr) return add_interface(iid, known, out);
  // Asking for an interface only counts references (as COM's remote QueryInterface does): it is
  // answered even while the object's apartment holds its calls.
  IUnknown* target = nullptr;
  HRESULT found = RPC_E_DISCONNECTED;
  const HRESULT delivered = detail::call_in(
      home_,
      [&] {
        detail::ExportEntry* entry = detail::find_export(*home_, identity_, serial_);
        if (entry == nullptr) return;
        if (auto it = entry->interfaces.find(iid); it != entry->interfaces.end()) {
          target = it->second.Get();
          found = S_OK;
          return;
        }
        ComPtr<IUnknown> p;
        found = identity_->QueryInterface(iid, p.PutVoid());
        if (SUCCEEDED(found) && p) {
          target = p.Get();
          entry->interfaces.emplace(iid, std::move(p));
        } else if (SUCCEEDED(found)) {
          found = E_NOINTERFACE;
        }
      },
      true);
  if (FAILED(delivered)) return delivered;
  if (FAILED(found)) return found;
  return add_interface(iid, target, out);
}

HRESULT ProxyManager::add_interface(REFIID iid, IUnknown* target, void** out) {
  detail::ProxyFactory factory = find_proxy(iid);
  if (factory == nullptr) return E_NOINTERFACE;
  std::lock_guard lock(mutex_);
  auto it = interfaces_.find(iid);
  if (it == interfaces_.end()) {
    try {
      it = interfaces_
               .emplace(iid, std::unique_ptr<detail::InterfaceProxyBase>(factory(this, target)))
               .first;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  if (out != nullptr) {
    IUnknown* proxy = it->second->unknown();
    proxy->AddRef();
    *out = proxy;
  }
  return S_OK;
}

void ProxyManager::learn(const std::vector<std::pair<IID, IUnknown*>>& known) {
  std::lock_guard lock(mutex_);
  for (const auto& [iid, target] : known) known_.emplace(iid, target);
}

ULONG ProxyManager::Release() {
  const ULONG left = --refs_;
  if (left != 0) return left;
  std::size_t connections_left = 0;
  bool other_proxies_home = false;
  {
    std::lock_guard lock(owner_->proxies_mutex);
    if (refs_ != 0) return refs_;  // found again meanwhile by an unmarshal in this apartment
    auto it = owner_->proxies.find({home_.get(), identity_});
    if (it != owner_->proxies.end() && it->second == this) owner_->proxies.erase(it);
    connections_left = std::exchange(connections, 0);
    auto same_home = owner_->proxies.lower_bound({home_.get(), nullptr});
    other_proxies_home =
        same_home != owner_->proxies.end() && same_home->first.first == home_.get();
  }
  if (connections_left > 0) {
    // A single-threaded apartment that still holds other proxies into the same home cannot make
    // this the home's last external release: the references wait and go home with the next call
    // there, ahead of it, so that releasing costs no call of its own. The last proxy into a home
    // gives back everything at once and waits, so that a server that ends on its last release has
    // ended when Release returns.
    if (other_proxies_home && owner_->kind == ApartmentKind::kSingleThreaded &&
        detail::current_apartment_raw() == owner_.get()) {
      owner_->deferred_releases.push_back({home_, identity_, serial_, connections_left});
    } else {
      (void)detail::call_in(
          home_, [&] { detail::release_export(*home_, identity_, serial_, connections_left); },
          true);
    }
  }
  delete this;
  return 0;
}

HRESULT ProxyManager::call_home(detail::WorkRef work) const {
  ComPtr<IErrorInfo> error;
  const HRESULT delivered = detail::call_object(home_, identity_, serial_, work, &error);
  if (FAILED(delivered)) return delivered;
  SetErrorInfo(0, error.Get());
  return S_OK;
}

namespace {

// A proxy manager for (home, identity) in `here`, made when there is none, owning `connections`
// more references at home. Returned AddRef'd.
ComPtr<ProxyManager> attach_manager(const std::shared_ptr<detail::Apartment>& here,
                                    const std::shared_ptr<detail::Apartment>& home,
                                    IUnknown* identity, std::uint64_t serial,
                                    std::size_t connections) {
  std::lock_guard lock(here->proxies_mutex);
  auto& slot = here->proxies[{home.get(), identity}];
  if (slot == nullptr || slot->serial() != serial) {
    // None yet, or one of an earlier object at the same address: that one stays for its holders.
    slot = new ProxyManager(here, home, identity, serial);
  }
  ComPtr<ProxyManager> manager(slot);
  slot->connections += connections;
  return manager;
}

// One more connection counted at the home of the object `proxy` stands for, for a third apartment
// or process that receives it: RPC_E_DISCONNECTED when the object is gone.
HRESULT count_connection_at_home(const ProxyManager& proxy) {
  bool counted = false;
  const HRESULT delivered = detail::call_in(
      proxy.home(),
      [&] {
        detail::Apartment& home = *proxy.home();
        if (auto* entry = detail::find_export(home, proxy.identity(), proxy.serial())) {
          ++entry->connections;
          ++home.connections;
          counted = true;
        }
      },
      true);
  if (FAILED(delivered)) return delivered;
  return counted ? S_OK : RPC_E_DISCONNECTED;
}

}  // namespace

// --- Packing interfaces ------------------------------------------------------------------------

struct MarshaledInterface::State {
  enum class Kind { kNull, kDirect, kExport, kBorrowed };
  Kind kind = Kind::kNull;
  IID iid = GUID_NULL;
  ComPtr<IUnknown> direct;  // kDirect: a free-threaded object
  // kExport: an object of `home` with one connection counted for whoever unpacks it.
  std::shared_ptr<detail::Apartment> home;
  IUnknown* identity = nullptr;
  std::uint64_t serial = 0;
  IUnknown* iface = nullptr;
  std::vector<std::pair<IID, IUnknown*>> known;  // every proxied interface the object has
  bool consumed = false;
  ComPtr<ProxyManager> borrowed;  // kBorrowed: a proxy of ours, kept alive on the way

  ~State() {
    if (kind != Kind::kExport || consumed) return;
    // Never unpacked: the connection goes back to the object's apartment.
    auto h = home;
    (void)detail::call_in(
        h, [&] { detail::release_export(*h, identity, serial, 1); }, true);
  }
};

MarshaledInterface::MarshaledInterface() = default;
MarshaledInterface::~MarshaledInterface() = default;
MarshaledInterface::MarshaledInterface(MarshaledInterface&&) noexcept = default;
MarshaledInterface& MarshaledInterface::operator=(MarshaledInterface&&) noexcept = default;

HRESULT marshal_interface(IUnknown* object, REFIID iid, MarshaledInterface* out) {
  if (out == nullptr) return E_POINTER;
  try {
    auto state = std::make_unique<MarshaledInterface::State>();
    state->iid = iid;
    using Kind = MarshaledInterface::State::Kind;
    if (object == nullptr) {
      out->state_ = std::move(state);
      return S_OK;
    }
    ComPtr<ProxyManager> manager;
    if (SUCCEEDED(object->QueryInterface(kProxyManagerIid, manager.PutVoid())) && manager) {
      state->kind = Kind::kBorrowed;
      state->borrowed = std::move(manager);
      out->state_ = std::move(state);
      return S_OK;
    }
    ComPtr<IUnknown> agile;
    if (SUCCEEDED(object->QueryInterface(IID_IAgileObject, agile.PutVoid())) && agile) {
      state->kind = Kind::kDirect;
      if (const HRESULT hr = object->QueryInterface(iid, state->direct.PutVoid()); FAILED(hr)) {
        return hr;
      }
      out->state_ = std::move(state);
      return S_OK;
    }
    detail::Apartment* me = detail::current_apartment_raw();
    if (me == nullptr) return CO_E_NOTINITIALIZED;
    if (me->kind != ApartmentKind::kSingleThreaded) return CO_E_NOT_SUPPORTED;
    ComPtr<IUnknown> identity;
    if (const HRESULT hr = object->QueryInterface(IID_IUnknown, identity.PutVoid()); FAILED(hr)) {
      return hr;
    }
    ComPtr<IUnknown> iface;
    if (const HRESULT hr = object->QueryInterface(iid, iface.PutVoid()); FAILED(hr)) return hr;
    detail::ensure_window(*me);
    detail::ExportEntry& entry = me->exports[identity.Get()];
    if (!entry.identity) {
      entry.identity = identity;
      entry.serial = ++g_export_serial;
      learn_interfaces(identity.Get(), &entry.interfaces);
    }
    auto it = entry.interfaces.find(iid);
    if (it == entry.interfaces.end()) it = entry.interfaces.emplace(iid, iface).first;
    for (const auto& [known_iid, known_iface] : entry.interfaces) {
      state->known.emplace_back(known_iid, known_iface.Get());
    }
    ++entry.connections;
    ++me->connections;
    state->kind = Kind::kExport;
    state->home = detail::current_apartment_state();
    state->identity = identity.Get();
    state->serial = entry.serial;
    state->iface = it->second.Get();
    out->state_ = std::move(state);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT unmarshal_interface(MarshaledInterface&& in, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  std::unique_ptr<MarshaledInterface::State> state = std::move(in.state_);
  if (!state) return S_OK;  // nothing was packed: null
  using Kind = MarshaledInterface::State::Kind;
  try {
    switch (state->kind) {
      case Kind::kNull:
        return S_OK;
      case Kind::kDirect:
        return state->direct->QueryInterface(iid, out);
      case Kind::kExport: {
        std::shared_ptr<detail::Apartment> me = detail::current_apartment_state();
        if (!me) return CO_E_NOTINITIALIZED;
        if (state->home == me) {  // back in its own apartment: the object itself
          detail::ExportEntry* entry = detail::find_export(*me, state->identity, state->serial);
          if (entry == nullptr) return RPC_E_DISCONNECTED;
          ComPtr<IUnknown> keep = entry->identity;
          const HRESULT hr = keep->QueryInterface(iid, out);
          state->consumed = true;
          detail::release_export(*me, state->identity, state->serial, 1);
          return hr;
        }
        ComPtr<ProxyManager> manager =
            attach_manager(me, state->home, state->identity, state->serial, 1);
        state->consumed = true;
        manager->learn(state->known);
        (void)manager->add_interface(state->iid, state->iface, nullptr);
        return manager->QueryInterface(iid, out);
      }
      case Kind::kBorrowed: {
        std::shared_ptr<detail::Apartment> me = detail::current_apartment_state();
        if (!me) return CO_E_NOTINITIALIZED;
        const ComPtr<ProxyManager>& proxy = state->borrowed;
        if (proxy->owner() == me) return proxy->QueryInterface(iid, out);
        if (proxy->home() == me) {  // a proxy coming home: the object itself
          detail::ExportEntry* entry = detail::find_export(*me, proxy->identity(), proxy->serial());
          if (entry == nullptr) return RPC_E_DISCONNECTED;
          return entry->identity->QueryInterface(iid, out);
        }
        // A third apartment: it needs a reference of its own at the object's home.
        if (const HRESULT hr = count_connection_at_home(*proxy); FAILED(hr)) return hr;
        ComPtr<ProxyManager> manager =
            attach_manager(me, proxy->home(), proxy->identity(), proxy->serial(), 1);
        return manager->QueryInterface(iid, out);
      }
    }
    return E_UNEXPECTED;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// --- References for other processes ------------------------------------------------------------

namespace detail {

struct MarshalAccess {
  static MarshaledInterface::State* state(MarshaledInterface& m) { return m.state_.get(); }
};

HRESULT export_home(IUnknown* object, REFIID iid, HomeReference* out) {
  try {
    MarshaledInterface packed;
    if (const HRESULT hr = marshal_interface(object, iid, &packed); FAILED(hr)) return hr;
    MarshaledInterface::State* state = MarshalAccess::state(packed);
    using Kind = MarshaledInterface::State::Kind;
    switch (state->kind) {
      case Kind::kNull:
        return E_POINTER;
      case Kind::kDirect: {
        auto me = current_apartment_state();
        if (!me) return CO_E_NOTINITIALIZED;
        if (me->kind != ApartmentKind::kSingleThreaded) return CO_E_NOT_SUPPORTED;
        ensure_window(*me);
        out->home = std::move(me);
        if (const HRESULT hr = object->QueryInterface(IID_IUnknown, out->agile.PutVoid());
            FAILED(hr)) {
          return hr;
        }
        out->identity = out->agile.Get();
        return S_OK;
      }
      case Kind::kExport:
        out->home = state->home;
        out->identity = state->identity;
        out->serial = state->serial;
        state->consumed = true;  // the reference is the home reference's now
        return S_OK;
      case Kind::kBorrowed: {
        const ComPtr<ProxyManager>& proxy = state->borrowed;
        if (const HRESULT hr = count_connection_at_home(*proxy); FAILED(hr)) return hr;
        out->home = proxy->home();
        out->identity = proxy->identity();
        out->serial = proxy->serial();
        return S_OK;
      }
    }
    return E_UNEXPECTED;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT unmarshal_home(const HomeReference& reference, REFIID iid, void** out) {
  *out = nullptr;
  if (reference.agile) return reference.agile->QueryInterface(iid, out);
  std::shared_ptr<Apartment> me = current_apartment_state();
  if (!me) return CO_E_NOTINITIALIZED;
  if (me == reference.home) {
    ExportEntry* entry = find_export(*me, reference.identity, reference.serial);
    if (entry == nullptr) return RPC_E_DISCONNECTED;
    return entry->identity->QueryInterface(iid, out);
  }
  try {
    bool counted = false;
    std::vector<std::pair<IID, IUnknown*>> known;
    const HRESULT delivered = call_in(
        reference.home,
        [&] {
          Apartment& home = *reference.home;
          if (auto* entry = find_export(home, reference.identity, reference.serial)) {
            ++entry->connections;
            ++home.connections;
            counted = true;
            for (const auto& [known_iid, known_iface] : entry->interfaces) {
              known.emplace_back(known_iid, known_iface.Get());
            }
          }
        },
        true);
    if (FAILED(delivered)) return delivered;
    if (!counted) return RPC_E_DISCONNECTED;
    ComPtr<ProxyManager> manager =
        attach_manager(me, reference.home, reference.identity, reference.serial, 1);
    manager->learn(known);
    return manager->QueryInterface(iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

void release_home(HomeReference& reference) {
  if (reference.agile) {
    reference.agile = nullptr;
    return;
  }
  if (!reference.home) return;
  auto home = std::move(reference.home);
  IUnknown* identity = reference.identity;
  const std::uint64_t serial = reference.serial;
  (void)call_in(
      home, [&] { release_export(*home, identity, serial, 1); }, true);
}

IUnknown* interface_at_home(const HomeReference& reference, REFIID iid, HRESULT* hr) {
  if (reference.agile) {
    // The reference holds the object, so the interface stays valid while it lives.
    ComPtr<IUnknown> p;
    *hr = reference.agile->QueryInterface(iid, p.PutVoid());
    if (SUCCEEDED(*hr) && !p) *hr = E_NOINTERFACE;
    return SUCCEEDED(*hr) ? p.Get() : nullptr;
  }
  ExportEntry* entry = find_export(*reference.home, reference.identity, reference.serial);
  if (entry == nullptr) {
    *hr = RPC_E_DISCONNECTED;
    return nullptr;
  }
  if (auto it = entry->interfaces.find(iid); it != entry->interfaces.end()) {
    *hr = S_OK;
    return it->second.Get();
  }
  ComPtr<IUnknown> p;
  *hr = entry->identity->QueryInterface(iid, p.PutVoid());
  if (FAILED(*hr)) return nullptr;
  if (!p) {
    *hr = E_NOINTERFACE;
    return nullptr;
  }
  IUnknown* raw = p.Get();
  entry->interfaces.emplace(iid, std::move(p));
  return raw;
}

}  // namespace detail

IUnknown* object_identity(IUnknown* object) {
  if (object == nullptr) return nullptr;
  ComPtr<ProxyManager> manager;
  if (SUCCEEDED(object->QueryInterface(kProxyManagerIid, manager.PutVoid())) && manager) {
    return manager->identity();
  }
  ComPtr<IUnknown> identity;
  if (FAILED(object->QueryInterface(IID_IUnknown, identity.PutVoid()))) return object;
  return identity.Get();
}

// --- Packing VARIANTs --------------------------------------------------------------------------

namespace detail {

MarshaledVariant::MarshaledVariant() { VariantInit(&plain_); }

MarshaledVariant::MarshaledVariant(const VARIANT& value) {
  VariantInit(&plain_);
  VARIANT copy;
  VariantInit(&copy);
  check_marshal(VariantCopyInd(&copy, &value));
  const VARTYPE vt = copy.vt;
  if ((vt & VT_ARRAY) != 0) {
    VariantClear(&copy);
    throw MarshalFailure{DISP_E_BADVARTYPE};
  }
  if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    const HRESULT hr =
        marshal_interface(copy.punkVal, vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &object_);
    VariantClear(&copy);
    check_marshal(hr);
    object_vt_ = vt;
    return;
  }
  plain_ = copy;  // owned from here on
}

MarshaledVariant::~MarshaledVariant() { VariantClear(&plain_); }

MarshaledVariant::MarshaledVariant(MarshaledVariant&& other) noexcept
    : plain_(other.plain_), object_vt_(other.object_vt_), object_(std::move(other.object_)) {
  VariantInit(&other.plain_);
  other.object_vt_ = VT_EMPTY;
}

MarshaledVariant& MarshaledVariant::operator=(MarshaledVariant&& other) noexcept {
  if (this != &other) {
    VariantClear(&plain_);
    plain_ = other.plain_;
    VariantInit(&other.plain_);
    object_vt_ = std::exchange(other.object_vt_, VT_EMPTY);
    object_ = std::move(other.object_);
  }
  return *this;
}

void MarshaledVariant::unpack(VARIANT* out) {
  if (object_vt_ != VT_EMPTY) {
    void* p = nullptr;
    check_marshal(unmarshal_interface(
        std::move(object_), object_vt_ == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &p));
    out->vt = object_vt_;
    out->punkVal = static_cast<IUnknown*>(p);
    return;
  }
  check_marshal(VariantCopy(out, &plain_));
}

}  // namespace detail

namespace {

// The carrier of CoMarshalInterThreadInterfaceInStream.
class MarshalStream : public ComObject<IStream> {
 public:
  MarshalStream() : ComObject(Threading::kFree) {}
  MarshaledInterface packed;
};

}  // namespace

}  // namespace sx::com

extern "C" {

HRESULT CoMarshalInterThreadInterfaceInStream(REFIID iid, LPUNKNOWN object, LPSTREAM* stream) {
  if (stream == nullptr) return E_INVALIDARG;
  *stream = nullptr;
  if (object == nullptr) return E_INVALIDARG;
  try {
    auto carrier = sx::com::make_object<sx::com::MarshalStream>();
    if (const HRESULT hr = sx::com::marshal_interface(object, iid, &carrier->packed); FAILED(hr)) {
      return hr;
    }
    *stream = carrier.Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoGetInterfaceAndReleaseStream(LPSTREAM stream, REFIID iid, LPVOID* object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (stream == nullptr) return E_INVALIDARG;
  auto* carrier = static_cast<sx::com::MarshalStream*>(stream);
  const HRESULT hr = sx::com::unmarshal_interface(std::move(carrier->packed), iid, object);
  stream->Release();
  return hr;
}

}  // extern "C"
