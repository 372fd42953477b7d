// Helpers to implement COM objects in a few lines.
//
//   struct IThing : IDispatch { static constexpr IID kIid = sx::com::guid("{...}");
//                               using Base = IDispatch; STDMETHOD(Frob)(LONG* result) = 0; };
//   class Thing : public sx::com::ComObject<IThing> {
//     STDMETHODIMP Frob(LONG* result) override { SX_COM_CHECK_THREAD(); ... }
//   };
//   sx::com::ComPtr<Thing> thing = sx::com::make_object<Thing>();
//
// ComObject gives the reference count (atomic; the object deletes itself at 0) and QueryInterface
// for every listed interface and the interfaces it derives from (each interface names its parent as
// `Base`), IUnknown answering with the first interface. The object records the apartment that
// created it: an apartment-threaded object's methods start with SX_COM_CHECK_THREAD(), which
// returns RPC_E_WRONG_THREAD on a thread outside it (a single-threaded apartment is its one thread;
// the multithreaded apartment is every thread in it). QueryInterface, AddRef and Release work from
// any thread. A free-threaded object answers IAgileObject, so apartments hand it over as it is
// instead of making proxies of it (com/marshal.h).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <new>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>

#include "com/marshal.h"
#include "com/ptr.h"
#include "com/runtime.h"
#include "com/unknown.h"

// First statement of a method of an apartment-threaded object.
#define SX_COM_CHECK_THREAD()                                                      \
  do {                                                                             \
    if (const HRESULT sx_thread_hr_ = this->check_thread(); FAILED(sx_thread_hr_)) \
      return sx_thread_hr_;                                                        \
  } while (0)

namespace sx::com {

enum class Threading {
  kApartment,  // belongs to the creating thread's apartment
  kFree,       // callable from any thread (the object guards its own state)
};

template <class... Interfaces>
class ComObject : public Interfaces..., public ListsInterfaces {
  static_assert(sizeof...(Interfaces) > 0);

 public:
  explicit ComObject(Threading threading = Threading::kApartment)
      : threading_(threading),
        owner_(std::this_thread::get_id()),
        owner_multithreaded_(current_apartment() == ApartmentKind::kMultiThreaded) {}
  virtual ~ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    void* found = nullptr;
    ((found == nullptr ? (found = find<Interfaces>(iid)) : found), ...);
    if (found == nullptr) found = query_other(iid);
    if (found == nullptr && iid == ListsInterfaces::kIid) {
      found = static_cast<ListsInterfaces*>(this);
    }
    if (found == nullptr && iid == IID_IAgileObject && threading_ == Threading::kFree) {
      found = static_cast<IUnknown*>(static_cast<First*>(this));
    }
    *object = found;
    if (found == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  const IID* listed_interfaces(std::size_t* count) override {
    static constexpr std::size_t kCount = listed<Interfaces...>().count;
    static constexpr auto kListed = [] {
      const Listed all = listed<Interfaces...>();
      std::array<IID, kCount> out{};
      for (std::size_t i = 0; i < kCount; ++i) out[i] = all.iids[i];
      return out;
    }();
    *count = kCount;
    return kListed.data();
  }

  // S_OK in the object's apartment (the creating thread; any multithreaded-apartment thread when
  // it was created in that apartment) or for a free-threaded object, else RPC_E_WRONG_THREAD.
  HRESULT check_thread() const {
    if (threading_ == Threading::kFree) return S_OK;
    const bool inside = owner_multithreaded_ ? current_apartment() == ApartmentKind::kMultiThreaded
                                             : std::this_thread::get_id() == owner_;
    return inside ? S_OK : RPC_E_WRONG_THREAD;
  }
  // The object's identity (its IUnknown as QueryInterface gives it out), not AddRef'd.
  IUnknown* identity() { return static_cast<First*>(this); }

 protected:
  // Further interfaces a derived class hands out (not AddRef'd here); null for none.
  virtual void* query_other(REFIID) { return nullptr; }

 private:
  using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;

  // Every interface of the list and of their chains of bases, IUnknown excepted, each once.
  struct Listed {
    std::array<IID, 32> iids{};
    std::size_t count = 0;
  };
  template <class... List>
  static constexpr Listed listed() {
    Listed out;
    (add_chain<List>(out), ...);
    return out;
  }
  template <class Chain>
  static constexpr void add_chain(Listed& out) {
    if constexpr (!std::is_same_v<Chain, IUnknown>) {
      bool seen = false;
      for (std::size_t i = 0; i < out.count; ++i) seen = seen || out.iids[i] == Chain::kIid;
      if (!seen) out.iids[out.count++] = Chain::kIid;
      add_chain<typename Chain::Base>(out);
    }
  }

  template <class I, class Chain = I>
  void* find(REFIID iid) {
    if (iid == Chain::kIid) return static_cast<Chain*>(static_cast<I*>(this));
    if constexpr (!std::is_same_v<Chain, IUnknown>) {
      return find<I, typename Chain::Base>(iid);
    } else {
      return nullptr;
    }
  }

  std::atomic<ULONG> refs_{0};
  const Threading threading_;
  const std::thread::id owner_;
  const bool owner_multithreaded_;
};

// A new object of class T (derived from ComObject) held by a ComPtr: its count is 1. Throws
// std::bad_alloc like `new`; construction runs on the calling thread, which becomes its owner.
template <class T, class... Args>
ComPtr<T> make_object(Args&&... args) {
  return ComPtr<T>(new T(std::forward<Args>(args)...));
}

// A class factory that makes objects through `create` (called with the requested IID and the out
// pointer). Refuses aggregation; turns exceptions into E_OUTOFMEMORY / E_UNEXPECTED. Free-threaded.
class FunctionClassFactory : public ComObject<IClassFactory> {
 public:
  using Create = std::function<HRESULT(REFIID iid, void** object)>;
  explicit FunctionClassFactory(Create create)
      : ComObject(Threading::kFree), create_(std::move(create)) {}
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    try {
      return create_(iid, object);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  Create create_;
};

// The factory of a class T that has a default constructor: each CreateInstance makes a new T.
template <class T>
ComPtr<IClassFactory> make_class_factory() {
  return make_object<FunctionClassFactory>([](REFIID iid, void** object) {
    ComPtr<T> created = make_object<T>();
    return created->QueryInterface(iid, object);
  });
}

}  // namespace sx::com
