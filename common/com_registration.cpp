#include "scribbix/com_registration.h"

#include <dlfcn.h>

#include <cstdio>

#include "comdef.h"

namespace sx::common {
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

std::string clsid_key(const AutomationServer& s) {
  return "CLSID\\" + sx::com::format_guid(s.clsid);
}
std::string interface_key(const AutomationServer& s) {
  return "Interface\\" + sx::com::format_guid(s.iid);
}
std::string typelib_key(const AutomationServer& s) {
  return "TypeLib\\" + sx::com::format_guid(s.libid);
}

}  // namespace

HRESULT register_automation_server(const AutomationServer& s, const std::string& module_path) {
  try {
    const std::string progid = s.progid;
    const std::string clsid = sx::com::format_guid(s.clsid);
    const std::string libid = sx::com::format_guid(s.libid);
    const std::string class_key = clsid_key(s);
    const std::string iface_key = interface_key(s);
    const std::string version_key = typelib_key(s) + "\\" + kLibraryVersion;
    char locale[16];
    std::snprintf(locale, sizeof locale, "%lx", static_cast<unsigned long>(s.library_locale));
    const bool ok = set_text(progid, nullptr, progid) &&
                    set_text(progid + "\\CLSID", nullptr, clsid) &&
                    set_text(class_key, nullptr, progid) &&
                    set_text(class_key + "\\InprocServer32", nullptr, module_path) &&
                    set_text(class_key + "\\InprocServer32", "ThreadingModel", "Apartment") &&
                    set_text(class_key + "\\ProgID", nullptr, progid) &&
                    set_text(class_key + "\\VERSION", nullptr, kLibraryVersion) &&
                    set_text(class_key + "\\TypeLib", nullptr, libid) &&
                    set_text(class_key + "\\Programmable", nullptr, "") &&
                    set_text(iface_key, nullptr, s.interface_name) &&
                    set_text(iface_key + "\\ProxyStubClsid", nullptr, kAutomationProxyStub) &&
                    set_text(iface_key + "\\ProxyStubClsid32", nullptr, kAutomationProxyStub) &&
                    set_text(iface_key + "\\TypeLib", nullptr, libid) &&
                    set_text(iface_key + "\\TypeLib", "Version", kLibraryVersion) &&
                    set_text(version_key, nullptr, s.library_help_string) &&
                    set_text(version_key + "\\" + locale + "\\win32", nullptr, module_path) &&
                    set_text(version_key + "\\FLAGS", nullptr, "0") &&
                    set_text(version_key + "\\HELPDIR", nullptr, folder_of(module_path));
    return ok ? S_OK : SELFREG_E_CLASS;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

HRESULT unregister_automation_server(const AutomationServer& s) {
  try {
    HRESULT hr = S_OK;
    for (const std::string& key :
         {std::string(s.progid), clsid_key(s), interface_key(s), typelib_key(s)}) {
      const LONG status = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) hr = SELFREG_E_CLASS;
    }
    return hr;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

std::string module_path_of(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  char path[MAX_PATH] = {};
  HMODULE module = GetModuleHandleA(info.dli_fname);
  const DWORD length = module != nullptr ? GetModuleFileNameA(module, path, sizeof path) : 0;
  if (length == 0 || length >= sizeof path) return info.dli_fname;
  return std::string(path, length);
}

}  // namespace sx::common
