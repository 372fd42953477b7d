// The class factory of an in-process server of the system: creates `Object` (not aggregatable)
// and counts LockServer through the module's `lock_server`, so that DllCanUnloadNow keeps a locked
// server loaded. Free-threaded; never throws.
#pragma once

#include <atomic>
#include <new>

#include "comdef.h"

namespace sx::common {

template <class Object, void (*lock_server)(bool)>
class ClassFactory : public sx::com::ComObject<IClassFactory> {
 public:
  ClassFactory() : ComObject(sx::com::Threading::kFree) {}
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    try {
      sx::com::ComPtr<Object> created = sx::com::make_object<Object>();
      return created->QueryInterface(iid, object);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    lock_server(lock != FALSE);
    return S_OK;
  }
};

// What a server's DllCanUnloadNow answers from: its live objects and its factory's LockServer
// count. Any thread.
class ServerCounts {
 public:
  void object_created() { ++objects_; }
  void object_destroyed() { --objects_; }
  void lock_server(bool lock) { lock ? ++locks_ : --locks_; }
  bool can_unload() const { return objects_.load() == 0 && locks_.load() <= 0; }

 private:
  std::atomic<long> objects_{0};
  std::atomic<long> locks_{0};
};

// DllGetClassObject of a server of one class `served`, made by `Factory`.
template <class Factory>
HRESULT get_class_object(REFCLSID clsid, REFCLSID served, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != served) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    return sx::com::make_object<Factory>()->QueryInterface(iid, object);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace sx::common
