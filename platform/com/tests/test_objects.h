// Small COM objects for the runtime's tests.
#pragma once

#include <atomic>

#include "comdef.h"

namespace sx::com::testing {

// An apartment-threaded dispatch object whose value property (DISPID_VALUE) is a number, and
// which counts its calls. `*destroyed` becomes true when it is freed.
class ValueObject : public ComObject<IDispatch> {
 public:
  explicit ValueObject(LONG value, bool* destroyed = nullptr)
      : value_(value), destroyed_(destroyed) {}
  ~ValueObject() override {
    if (destroyed_ != nullptr) *destroyed_ = true;
  }

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    SX_COM_CHECK_THREAD();
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    SX_COM_CHECK_THREAD();
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID* ids) override {
    SX_COM_CHECK_THREAD();
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  STDMETHODIMP Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    SX_COM_CHECK_THREAD();
    ++calls;
    if (member != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_I4;
    result->lVal = value_;
    return S_OK;
  }

  std::atomic<int> calls{0};

 private:
  LONG value_;
  bool* destroyed_;
};

// The count an object reports after one AddRef/Release pair, i.e. its current count.
inline ULONG ref_count(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

}  // namespace sx::com::testing
