// ScribbixMonitorAddIn's four in-process server exports. DllRegisterServer registers the class
// Connect and the add-in's entry for Outlook (loaded when Outlook starts).
#include "comdef.h"
#include "connect.h"
#include "module_state.h"
#include "scribbix/class_factory.h"
#include "scribbix/outlook_addin_registration.h"
#include "scribbixmonitor/scribbixmonitor.h"
#include "windows.h"

namespace sx::monitor {
namespace {

sx::common::ServerCounts g_counts;
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

void object_created() { g_counts.object_created(); }
void object_destroyed() { g_counts.object_destroyed(); }
void lock_server(bool lock) { g_counts.lock_server(lock); }
bool can_unload() { return g_counts.can_unload(); }

}  // namespace sx::monitor

#define SX_EXPORT extern "C" __attribute__((visibility("default")))

SX_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  return sx::common::get_class_object<sx::monitor::ConnectFactory>(
      clsid, scribbixmonitor::kConnectClsid, iid, object);
}

SX_EXPORT HRESULT DllCanUnloadNow() { return sx::monitor::can_unload() ? S_OK : S_FALSE; }

SX_EXPORT HRESULT DllRegisterServer() {
  return sx::common::register_addin_server(sx::monitor::kServer, sx::monitor::kAddIn,
                                           &sx::monitor::module_anchor);
}

SX_EXPORT HRESULT DllUnregisterServer() {
  return sx::common::unregister_addin_server(sx::monitor::kServer, sx::monitor::kAddIn);
}
