// The registry entries of an in-process automation server of the system (what its
// DllRegisterServer writes and DllUnregisterServer removes): under HKEY_CLASSES_ROOT the ProgID,
// the class (InprocServer32 = the module's path, apartment-threaded), its dual interface
// (marshaled by the automation marshaler through the type library) and the type library.
// One thread at a time; never throws.
#pragma once

#include <string>

#include "objbase.h"
#include "windows.h"

namespace sx::common {

// Who a server is, as its type library says.
struct AutomationServer {
  const char* progid;
  CLSID clsid;
  const char* interface_name;
  IID iid;
  GUID libid;
  const char* library_help_string;
  LCID library_locale;
};

// Writes every entry for `server` whose file is `module_path` (a Windows path). S_OK, or
// SELFREG_E_CLASS when an entry cannot be written (those written stay; unregistering clears them).
HRESULT register_automation_server(const AutomationServer& server, const std::string& module_path);
// Removes every entry (missing ones are fine). S_OK, or SELFREG_E_CLASS when a key that exists
// cannot be removed.
HRESULT unregister_automation_server(const AutomationServer& server);

// The Windows path of the loaded module that holds `address` (a function of the server), when it
// lies on the machine's drive C:; its host path otherwise; "" when it cannot be told.
std::string module_path_of(const void* address);

}  // namespace sx::common
