// Sample COM add-ins for the add-in host's tests, in one in-process server: "SxTest.AddInA",
// "SxTest.AddInB" and "SxTest.Failing" (whose OnConnection fails). DllRegisterServer registers
// their classes (this file's host path as InprocServer32) and their add-in entries, as the
// add-ins' own registration does. Each writes what Outlook calls
// into the registry of the machine (HKCU\Software\SxTest "AddInLog", one line per call), so that a
// test reads the order of the calls whatever thread they came on; "AddInThreads" counts the calls
// that did not come on the thread that owns the Application (0 is right).
#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <string>

#include "comdef.h"
#include "outlook/extensibility.h"
#include "outlook/outlook.h"
#include "test_addins.h"
#include "win32/registry.h"

namespace {

std::atomic<long> g_objects{0};

std::string read_log(const char* name) {
  HKEY key = nullptr;
  std::string text;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kTestAddInLogKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return text;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size > 0) {
    text.resize(size);
    RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    text.resize(std::strlen(text.c_str()));
  }
  RegCloseKey(key);
  return text;
}

void write_log(const char* name, const std::string& text) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kTestAddInLogKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
}

void log(const std::string& line) { write_log("AddInLog", read_log("AddInLog") + line + "\n"); }

class TestAddIn : public sx::com::ComObject<IDTExtensibility2> {
 public:
  TestAddIn(const char* name, bool fails) : name_(name), fails_(fails) { ++g_objects; }
  ~TestAddIn() override { --g_objects; }

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }

  STDMETHODIMP OnConnection(IDispatch* application, ext_ConnectMode mode, IDispatch* instance,
                            SAFEARRAY** custom) override {
    check_thread();
    // The add-in reads its own ProgID from its COMAddIn, and keeps the Application.
    sx::com::Variant progid;
    sx::com::get_property(instance, u"ProgId", progid.put());
    log(name_ + ":OnConnection(" + std::to_string(mode) + "," + progid.to_utf8() + "," +
        (custom != nullptr && *custom != nullptr ? "custom" : "none") + ")");
    if (fails_) return sx::com::report_error(E_FAIL, "SxTest", "The folder is missing.");
    application_ = application;
    return S_OK;
  }
  STDMETHODIMP OnDisconnection(ext_DisconnectMode mode, SAFEARRAY**) override {
    check_thread();
    log(name_ + ":OnDisconnection(" + std::to_string(mode) + ")");
    application_ = nullptr;
    return S_OK;
  }
  STDMETHODIMP OnAddInsUpdate(SAFEARRAY**) override {
    check_thread();
    log(name_ + ":OnAddInsUpdate");
    return S_OK;
  }
  STDMETHODIMP OnStartupComplete(SAFEARRAY**) override {
    check_thread();
    log(name_ + ":OnStartupComplete");
    return S_OK;
  }
  STDMETHODIMP OnBeginShutdown(SAFEARRAY**) override {
    check_thread();
    log(name_ + ":OnBeginShutdown");
    return S_OK;
  }

 private:
  // Outlook's objects are handed to add-ins as they are: calls on them work right here.
  void check_thread() {
    if (!application_) return;
    sx::com::Variant name;
    if (FAILED(sx::com::get_property(application_.Get(), u"Name", name.put()))) {
      write_log("AddInThreads", read_log("AddInThreads") + "x");
    }
  }

  std::string name_;
  bool fails_;
  sx::com::ComPtr<IDispatch> application_;
};

}  // namespace

namespace {

bool set_value(HKEY root, const std::string& path, const char* name, DWORD type, const void* data,
               DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  const bool ok =
      RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}
bool set_text(HKEY root, const std::string& path, const char* name, const std::string& text) {
  return set_value(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) == 0 || info.dli_fname == nullptr)
    return E_UNEXPECTED;
  const struct {
    const char* progid;
    CLSID clsid;
    DWORD load_behavior;
  } addins[] = {{"SxTest.AddInA", kTestAddInA, 3},
                {"SxTest.AddInB", kTestAddInB, 3},
                {"SxTest.Failing", kTestAddInFailing, 2}};
  for (const auto& a : addins) {
    const std::string clsid = sx::com::format_guid(a.clsid);
    const std::string entry =
        std::string("Software\\Microsoft\\Office\\Outlook\\Addins\\") + a.progid;
    if (!set_text(HKEY_CLASSES_ROOT, std::string(a.progid) + "\\CLSID", nullptr, clsid) ||
        !set_text(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32", nullptr,
                  info.dli_fname) ||
        !set_text(HKEY_CURRENT_USER, entry, "FriendlyName", a.progid) ||
        !set_text(HKEY_CURRENT_USER, entry, "Description", std::string("Sample ") + a.progid) ||
        !set_value(HKEY_CURRENT_USER, entry, "LoadBehavior", REG_DWORD, &a.load_behavior,
                   sizeof a.load_behavior))
      return SELFREG_E_CLASS;
  }
  return S_OK;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return g_objects == 0 ? S_OK : S_FALSE;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid,
                                                                            REFIID iid,
                                                                            LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  const char* name = nullptr;
  bool fails = false;
  if (clsid == kTestAddInA) {
    name = "A";
  } else if (clsid == kTestAddInB) {
    name = "B";
  } else if (clsid == kTestAddInFailing) {
    name = "Failing";
    fails = true;
  } else {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  try {
    auto factory = sx::com::make_object<sx::com::FunctionClassFactory>(
        [name, fails](REFIID wanted, void** out) {
          return sx::com::make_object<TestAddIn>(name, fails)->QueryInterface(wanted, out);
        });
    return factory->QueryInterface(iid, object);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
