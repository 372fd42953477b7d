#include "registration.h"

#include <cstdio>

#include "comdef.h"
#include "scribbixout/scribbixout.h"

namespace sx::assist {
namespace {

// The automation marshaler (PSOAInterface): dual interfaces are marshaled from their type library.
constexpr char kAutomationProxyStub[] = "{00020424-0000-0000-C000-000000000046}";
constexpr char kLibraryVersion[] = "1.0";

bool set_text(const std::string& path, const char* name, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG status =
      RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

std::string folder_of(const std::string& path) {
  const auto slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string clsid_key() { return "CLSID\\" + sx::com::format_guid(scribbixout::kClass1Clsid); }
std::string interface_key() { return "Interface\\" + sx::com::format_guid(_Class1::kIid); }
std::string typelib_key() { return "TypeLib\\" + sx::com::format_guid(scribbixout::kLibid); }

}  // namespace

HRESULT register_server(const std::string& module_path) {
  try {
    const std::string progid = scribbixout::kClass1ProgId;
    const std::string clsid = sx::com::format_guid(scribbixout::kClass1Clsid);
    const std::string libid = sx::com::format_guid(scribbixout::kLibid);
    const std::string version_key = typelib_key() + "\\" + kLibraryVersion;
    char locale[16];
    std::snprintf(locale, sizeof locale, "%lx",
                  static_cast<unsigned long>(scribbixout::kLibraryLocale));
    const bool ok =
        set_text(progid, nullptr, progid) && set_text(progid + "\\CLSID", nullptr, clsid) &&
        set_text(clsid_key(), nullptr, progid) &&
        set_text(clsid_key() + "\\InprocServer32", nullptr, module_path) &&
        set_text(clsid_key() + "\\InprocServer32", "ThreadingModel", "Apartment") &&
        set_text(clsid_key() + "\\ProgID", nullptr, progid) &&
        set_text(clsid_key() + "\\VERSION", nullptr, kLibraryVersion) &&
        set_text(clsid_key() + "\\TypeLib", nullptr, libid) &&
        set_text(clsid_key() + "\\Programmable", nullptr, "") &&
        set_text(interface_key(), nullptr, "_Class1") &&
        set_text(interface_key() + "\\ProxyStubClsid", nullptr, kAutomationProxyStub) &&
        set_text(interface_key() + "\\ProxyStubClsid32", nullptr, kAutomationProxyStub) &&
        set_text(interface_key() + "\\TypeLib", nullptr, libid) &&
        set_text(interface_key() + "\\TypeLib", "Version", kLibraryVersion) &&
        set_text(version_key, nullptr, scribbixout::kLibraryHelpString) &&
        set_text(version_key + "\\" + locale + "\\win32", nullptr, module_path) &&
        set_text(version_key + "\\FLAGS", nullptr, "0") &&
        set_text(version_key + "\\HELPDIR", nullptr, folder_of(module_path));
    return ok ? S_OK : SELFREG_E_CLASS;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

HRESULT unregister_server() {
  try {
    HRESULT hr = S_OK;
    for (const std::string& key :
         {std::string(scribbixout::kClass1ProgId), clsid_key(), interface_key(), typelib_key()}) {
      const LONG status = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) hr = SELFREG_E_CLASS;
    }
    return hr;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

}  // namespace sx::assist
