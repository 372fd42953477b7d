// The class factory of an in-process server of the system: creates `Object` (not aggregatable)
// and counts LockServer through the module's `lock_server`, so that DllCanUnloadNow keeps a locked
// server loaded. Free-threaded; never throws.
#pragma once

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

}  // namespace sx::common
