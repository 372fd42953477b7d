// The registry entries of ScribbixOut (what DllRegisterServer writes and DllUnregisterServer
// removes): under HKEY_CLASSES_ROOT the ProgID, the class (InprocServer32 = this module's path,
// apartment-threaded), the interface _Class1 (marshaled by the automation marshaler through the
// type library) and the type library.
// One thread at a time; never throws.
#pragma once

#include <string>

#include "objbase.h"
#include "windows.h"

namespace sx::assist {

// Writes every entry for a server whose file is `module_path` (a Windows path). S_OK, or
// SELFREG_E_CLASS when an entry cannot be written (those written stay; unregistering clears them).
HRESULT register_server(const std::string& module_path);
// Removes every entry (missing ones are fine). S_OK, or SELFREG_E_CLASS when a key that exists
// cannot be removed.
HRESULT unregister_server();

}  // namespace sx::assist
