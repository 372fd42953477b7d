// A sample in-process server: DllGetClassObject hands out the factory of one apartment-threaded
// class with a dual interface whose methods take by-reference VARIANTs; DllCanUnloadNow lets it go
// when none of its objects lives. It counts its loads and unloads in the registry
// (HKCU\Software\SxTest "Loads", "Unloads") so that a test sees its globals come and go.
#include <atomic>

#include "comdef.h"
#include "test_server.h"
#include "win32/registry.h"

namespace {

std::atomic<LONG> g_objects{0};

void count(const char* name) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\SxTest", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return;
  DWORD value = 0, size = sizeof value, type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
      ERROR_SUCCESS)
    value = 0;
  ++value;
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

// The module's globals: made when the library is loaded, destroyed when it is unloaded.
struct ModuleLife {
  ModuleLife() { count("Loads"); }
  ~ModuleLife() { count("Unloads"); }
} g_module_life;

class Calculator : public sx::com::DispatchObject<ICalculator> {
 public:
  Calculator() {
    ++g_objects;
    table_.add(u"Objects", [this](WORD, const sx::com::DispatchArgs&, VARIANT* result) {
      LONG n = 0;
      Objects(&n);
      *result = sx::com::Variant::from_i4(n).detach();
      return S_OK;
    });
  }
  ~Calculator() override { --g_objects; }

  STDMETHODIMP Subtract(VARIANT* a, VARIANT* b, LONG* result) override {
    SX_COM_CHECK_THREAD();
    if (a == nullptr || b == nullptr || result == nullptr) return E_POINTER;
    try {
      *result = sx::com::Variant(*a).to_i4() - sx::com::Variant(*b).to_i4();
      return S_OK;
    } catch (const sx::com::ComError& e) {
      return sx::com::report_error(e.Error(), "SxTest.Calculator", "Subtract needs numbers");
    }
  }
  STDMETHODIMP Objects(LONG* result) override {
    SX_COM_CHECK_THREAD();
    *result = g_objects;
    return S_OK;
  }

 protected:
  const sx::com::DispatchTable& dispatch_table() const override { return table_; }

 private:
  sx::com::DispatchTable table_;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return g_objects == 0 ? S_OK : S_FALSE;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid,
                                                                            REFIID iid,
                                                                            LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != kCalculatorClsid) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    return sx::com::make_class_factory<Calculator>()->QueryInterface(iid, object);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
