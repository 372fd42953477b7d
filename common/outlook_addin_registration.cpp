#include "scribbix/outlook_addin_registration.h"

#include <string>

#include "comdef.h"

namespace sx::common {
namespace {

std::string key_of(const OutlookAddIn& addin) {
  return std::string(kOutlookAddInsKey) + "\\" + addin.progid;
}

}  // namespace

HRESULT register_outlook_addin(const OutlookAddIn& addin) {
  try {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key_of(addin).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
      return SELFREG_E_CLASS;
    }
    auto text = [&](const char* name, const char* value) {
      return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                            static_cast<DWORD>(std::char_traits<char>::length(value) + 1)) ==
             ERROR_SUCCESS;
    };
    const DWORD load = addin.load_behavior;
    const bool ok =
        text("FriendlyName", addin.friendly_name) && text("Description", addin.description) &&
        RegSetValueExA(key, "LoadBehavior", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&load),
                       sizeof load) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok ? S_OK : SELFREG_E_CLASS;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

HRESULT unregister_outlook_addin(const OutlookAddIn& addin) {
  try {
    const LONG status = RegDeleteTreeA(HKEY_CURRENT_USER, key_of(addin).c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

HRESULT register_addin_server(const AutomationServer& server, const OutlookAddIn& addin,
                              const void* anchor) {
  try {
    const std::string path = module_path_of(anchor);
    if (path.empty()) return SELFREG_E_CLASS;
    const HRESULT hr = register_automation_server(server, path);
    return FAILED(hr) ? hr : register_outlook_addin(addin);
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

HRESULT unregister_addin_server(const AutomationServer& server, const OutlookAddIn& addin) {
  const HRESULT entry = unregister_outlook_addin(addin);
  const HRESULT classes = unregister_automation_server(server);
  return FAILED(entry) ? entry : classes;
}

}  // namespace sx::common
