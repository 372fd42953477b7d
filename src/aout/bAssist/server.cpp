// ScribbixOut's four in-process server exports.
#include <atomic>

#include "class1.h"
#include "comdef.h"
#include "module_state.h"
#include "registration.h"
#include "scribbix/class_factory.h"
#include "scribbix/com_registration.h"
#include "scribbixout/scribbixout.h"
#include "windows.h"

namespace sx::assist {
namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
// An address inside this module, by which it finds its own file.
const char module_anchor = 0;

// Class1's factory: LockServer counted.
using Class1Factory = sx::common::ClassFactory<Class1, lock_server>;

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
