// ScribbixMonitorAddIn's four in-process server exports. DllRegisterServer registers the class
// Connect and the add-in's entry for Outlook (loaded when Outlook starts).
#include <atomic>

#include "comdef.h"
#include "connect.h"
#include "module_state.h"
#include "scribbix/class_factory.h"
#include "scribbix/outlook_addin_registration.h"
#include "scribbixmonitor/scribbixmonitor.h"
#include "windows.h"

namespace sx::monitor {
namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
// An address inside this module, by which it finds its own file.
const char module_anchor = 0;

constexpr sx::common::AutomationServer kServer{scribbixmonitor::kConnectProgId,
                                               scribbixmonitor::kConnectClsid,
                                               "_ScribbixMonitor1",
                                               _ScribbixMonitor1::kIid,
                                               scribbixmonitor::kLibid,
                                               scribbixmonitor::kLibraryHelpString,
                                               scribbixmonitor::kLibraryLocale};

constexpr sx::common::OutlookAddIn kAddIn{scribbixmonitor::kConnectProgId,
                                          scribbixmonitor::kAddInName, scribbixmonitor::kAddInName,
                                          scribbixmonitor::kLoadBehavior};

using ConnectFactory = sx::common::ClassFactory<Connect, lock_server>;

}  // namespace

void object_created() { ++g_objects; }
void object_destroyed() { --g_objects; }
void lock_server(bool lock) { lock ? ++g_locks : --g_locks; }
bool can_unload() { return g_objects.load() == 0 && g_locks.load() <= 0; }

}  // namespace sx::monitor

#define SX_EXPORT extern "C" __attribute__((visibility("default")))

SX_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != scribbixmonitor::kConnectClsid) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    return sx::com::make_object<sx::monitor::ConnectFactory>()->QueryInterface(iid, object);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

SX_EXPORT HRESULT DllCanUnloadNow() { return sx::monitor::can_unload() ? S_OK : S_FALSE; }

SX_EXPORT HRESULT DllRegisterServer() {
  return sx::common::register_addin_server(sx::monitor::kServer, sx::monitor::kAddIn,
                                           &sx::monitor::module_anchor);
}

SX_EXPORT HRESULT DllUnregisterServer() {
  return sx::common::unregister_addin_server(sx::monitor::kServer, sx::monitor::kAddIn);
}
