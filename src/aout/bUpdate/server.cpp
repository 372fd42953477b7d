// ScribbixUpdate's four in-process server exports.
#include <atomic>

#include "comdef.h"
#include "module_state.h"
#include "outlook_calls.h"
#include "scribbix/class_factory.h"
#include "scribbix/com_registration.h"
#include "scribbixupdate/scribbixupdate.h"
#include "update1.h"
#include "windows.h"

namespace sx::update {
namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
// An address inside this module, by which it finds its own file.
const char module_anchor = 0;

constexpr sx::common::AutomationServer kServer{scribbixupdate::kUpdate1ProgId,
                                               scribbixupdate::kUpdate1Clsid,
                                               "_Update1",
                                               _Update1::kIid,
                                               scribbixupdate::kLibid,
                                               scribbixupdate::kLibraryHelpString,
                                               scribbixupdate::kLibraryLocale};

// Update1's factory: LockServer counted.
using Update1Factory = sx::common::ClassFactory<Update1, lock_server>;

}  // namespace

void object_created() { ++g_objects; }
void object_destroyed() {
  if (--g_objects == 0) release_shared_application();
}
void lock_server(bool lock) { lock ? ++g_locks : --g_locks; }
bool can_unload() { return g_objects.load() == 0 && g_locks.load() <= 0; }

}  // namespace sx::update

#define SX_EXPORT extern "C" __attribute__((visibility("default")))

SX_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != scribbixupdate::kUpdate1Clsid) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    return sx::com::make_object<sx::update::Update1Factory>()->QueryInterface(iid, object);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

SX_EXPORT HRESULT DllCanUnloadNow() { return sx::update::can_unload() ? S_OK : S_FALSE; }

SX_EXPORT HRESULT DllRegisterServer() {
  try {
    const std::string path = sx::common::module_path_of(&sx::update::module_anchor);
    if (path.empty()) return SELFREG_E_CLASS;
    return sx::common::register_automation_server(sx::update::kServer, path);
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

SX_EXPORT HRESULT DllUnregisterServer() {
  return sx::common::unregister_automation_server(sx::update::kServer);
}
