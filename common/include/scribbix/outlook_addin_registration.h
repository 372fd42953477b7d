// The registration of an Outlook COM add-in, as the add-ins' own DllRegisterServer writes it:
// HKEY_CURRENT_USER\Software\Microsoft\Office\Outlook\Addins\<ProgID> with "FriendlyName",
// "Description" (texts) and "LoadBehavior" (a DWORD). Outlook reads it when it starts; the
// description is the name by which the system finds the add-in in Outlook's COM add-in list.
// One thread at a time; never throws.
#pragma once

#include "objbase.h"
#include "scribbix/com_registration.h"
#include "windows.h"

namespace sx::common {

struct OutlookAddIn {
  const char* progid;
  const char* friendly_name;
  const char* description;
  DWORD load_behavior;  // 3: load when Outlook starts
};

// The add-ins' key under HKEY_CURRENT_USER.
inline constexpr char kOutlookAddInsKey[] = "Software\\Microsoft\\Office\\Outlook\\Addins";

// Writes the three values (over any earlier ones). S_OK, or SELFREG_E_CLASS when a value cannot be
// written.
HRESULT register_outlook_addin(const OutlookAddIn& addin);
// Removes the add-in's key (a missing key is fine). S_OK, or SELFREG_E_CLASS.
HRESULT unregister_outlook_addin(const OutlookAddIn& addin);

// What an add-in's DllRegisterServer does: its class and type library entries (the module that
// holds `anchor` as InprocServer32), then its add-in entry. The first failure's code.
HRESULT register_addin_server(const AutomationServer& server, const OutlookAddIn& addin,
                              const void* anchor);
// What its DllUnregisterServer does: both removed; the first failure's code.
HRESULT unregister_addin_server(const AutomationServer& server, const OutlookAddIn& addin);

}  // namespace sx::common
