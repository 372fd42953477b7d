// A sample in-process server: DllGetClassObject hands out the factory of one apartment-threaded
// class with a dual interface whose methods take by-reference VARIANTs.
#include <atomic>

#include "comdef.h"
#include "test_server.h"

namespace {

std::atomic<LONG> g_objects{0};

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
