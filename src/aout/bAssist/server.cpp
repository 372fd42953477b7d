// ScribbixOut's four in-process server exports.
#include <atomic>

#include "class1.h"
#include "comdef.h"
#include "module_state.h"
#include "registration.h"
#include "scribbix/com_registration.h"
#include "scribbixout/scribbixout.h"
#include "windows.h"

namespace sx::assist {
namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
// An address inside this module, by which it finds its own file.
const char module_anchor = 0;

// Class1's factory: counts LockServer, so that DllCanUnloadNow keeps a locked server loaded.
class Class1Factory : public sx::com::ComObject<IClassFactory> {
 public:
  Class1Factory() : ComObject(sx::com::Threading::kFree) {}
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    try {
      sx::com::ComPtr<Class1> created = sx::com::make_object<Class1>();
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

}  // namespace

void object_created() { ++g_objects; }
void object_destroyed() { --g_objects; }
void lock_server(bool lock) { lock ? ++g_locks : --g_locks; }
bool can_unload() { return g_objects.load() == 0 && g_locks.load() <= 0; }

}  // namespace sx::assist

#define SX_EXPORT extern "C" __attribute__((visibility("default")))

SX_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != scribbixout::kClass1Clsid) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    return sx::com::make_object<sx::assist::Class1Factory>()->QueryInterface(iid, object);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

SX_EXPORT HRESULT DllCanUnloadNow() { return sx::assist::can_unload() ? S_OK : S_FALSE; }

SX_EXPORT HRESULT DllRegisterServer() {
  try {
    const std::string path = sx::common::module_path_of(&sx::assist::module_anchor);
    if (path.empty()) return SELFREG_E_CLASS;
    return sx::assist::register_server(path);
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

SX_EXPORT HRESULT DllUnregisterServer() { return sx::assist::unregister_server(); }
