// The objects of the tests between processes: a dual interface with every kind of parameter, its
// implementation (used both by the test server program and, as an event sink, by the tests), and
// the class the server registers for the machine.
#pragma once

#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "comdef.h"
#include "win32/sync.h"

struct IProbe;

#define SX_TEST_PROBE_MEMBERS(M)                                                        \
  /* "text|number|{id}|when|flag" */                                                     \
  M(Describe, (BSTR, text), (LONG, number), (GUID, id), (DATE, when), (VARIANT_BOOL, flag), \
    (BSTR*, described))                                                                  \
  /* Fixed values: kProbeOutId, 36526.5, VARIANT_TRUE, 42, "out" */                      \
  M(Outs, (GUID*, id), (DATE*, when), (VARIANT_BOOL*, flag), (LONG*, number), (BSTR*, text)) \
  M(Echo, (VARIANT, value), (VARIANT*, echoed))                                         \
  M(MakeChild, (IProbe**, child))                                                       \
  M(Add, (LONG, amount), (LONG*, total))                                                \
  /* Calls sink->Add(1) and tells the total it answered. */                             \
  M(CallBack, (IProbe*, sink), (LONG*, total))                                          \
  /* Whether `other` is this very object. */                                            \
  M(IsSelf, (IUnknown*, other), (VARIANT_BOOL*, same))                                  \
  /* E_FAIL with error information "Probe"/"It failed." */                              \
  M(Fail)                                                                               \
  /* Sleeps `ms` on the clock. */                                                       \
  M(Busy, (LONG, ms))                                                                   \
  M(get_Pid, (LONG*, pid))                                                              \
  /* The object's interface `iid`, as QueryInterface, through a void** out. */          \
  M(Query, (REFIID, iid), (void**, object))                                             \
  /* Cuts every proxy others hold to the objects of its apartment (disconnect_objects). */ \
  M(Disconnect)                                                                         \
  /* Has the server revoke its class object (Probe::on_revoke). */                      \
  M(Revoke)                                                                             \
  /* How many probes live in its process. */                                            \
  M(get_Live, (LONG*, live))

struct IProbe : IDispatch {
  static constexpr IID kIid = sx::com::guid("{7D3B6A10-2C4E-4F8A-9B1D-5E6F7A8B9C01}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_TEST_PROBE_MEMBERS)

 protected:
  ~IProbe() = default;
};

inline constexpr CLSID kProbeClsid = sx::com::guid("{7D3B6A10-2C4E-4F8A-9B1D-5E6F7A8B9C02}");
inline constexpr GUID kProbeOutId = sx::com::guid("{7D3B6A10-2C4E-4F8A-9B1D-5E6F7A8B9C03}");

namespace remote_test {

class Probe : public sx::com::DispatchObject<IProbe> {
 public:
  Probe() {
    ++live_;
    table_.add(u"Twice", [](WORD, const sx::com::DispatchArgs& args, VARIANT* result) {
      sx::com::Variant n;
      if (const HRESULT hr = args.get(0, VT_I4, &n); FAILED(hr)) return hr;
      if (result != nullptr) *result = sx::com::Variant::from_i4(2 * n.get().lVal).detach();
      return S_OK;
    });
    table_.add(u"Explode", [](WORD, const sx::com::DispatchArgs&, VARIANT*) -> HRESULT {
      sx::com::throw_if_failed(sx::com::report_error(E_FAIL, "Probe", "Exploded."));
      return S_OK;
    });
  }

  STDMETHODIMP Describe(BSTR text, LONG number, GUID id, DATE when, VARIANT_BOOL flag,
                        BSTR* described) override {
    SX_COM_CHECK_THREAD();
    const std::string s = sx::com::bstr_to_utf8(text) + "|" + std::to_string(number) + "|" +
                          sx::com::format_guid(id) + "|" + std::to_string(when) + "|" +
                          std::to_string(flag);
    *described = sx::com::Bstr::from_utf8(s).detach();
    return S_OK;
  }
  STDMETHODIMP Outs(GUID* id, DATE* when, VARIANT_BOOL* flag, LONG* number, BSTR* text) override {
    SX_COM_CHECK_THREAD();
    *id = kProbeOutId;
    *when = 36526.5;
    *flag = VARIANT_TRUE;
    *number = 42;
    *text = sx::com::Bstr::from_utf8("out").detach();
    return S_OK;
  }
  STDMETHODIMP Echo(VARIANT value, VARIANT* echoed) override {
    SX_COM_CHECK_THREAD();
    VariantInit(echoed);
    return VariantCopy(echoed, &value);
  }
  STDMETHODIMP MakeChild(IProbe** child) override {
    SX_COM_CHECK_THREAD();
    *child = sx::com::make_object<Probe>().Detach();
    return S_OK;
  }
  STDMETHODIMP Add(LONG amount, LONG* total) override {
    SX_COM_CHECK_THREAD();
    added_on = std::this_thread::get_id();
    total_ += amount;
    *total = total_;
    return S_OK;
  }
  STDMETHODIMP CallBack(IProbe* sink, LONG* total) override {
    SX_COM_CHECK_THREAD();
    if (sink == nullptr) return E_POINTER;
    return sink->Add(1, total);
  }
  STDMETHODIMP IsSelf(IUnknown* other, VARIANT_BOOL* same) override {
    SX_COM_CHECK_THREAD();
    *same = sx::com::object_identity(other) == identity() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  STDMETHODIMP Fail() override {
    SX_COM_CHECK_THREAD();
    return sx::com::report_error(E_FAIL, "Probe", "It failed.");
  }
  STDMETHODIMP Busy(LONG ms) override {
    SX_COM_CHECK_THREAD();
    Sleep(static_cast<DWORD>(ms));
    return S_OK;
  }
  STDMETHODIMP get_Pid(LONG* pid) override {
    SX_COM_CHECK_THREAD();
    *pid = static_cast<LONG>(::getpid());
    return S_OK;
  }
  STDMETHODIMP Query(REFIID iid, void** object) override {
    SX_COM_CHECK_THREAD();
    return QueryInterface(iid, object);
  }

  STDMETHODIMP Disconnect() override {
    SX_COM_CHECK_THREAD();
    sx::com::disconnect_objects();
    return S_OK;
  }
  STDMETHODIMP Revoke() override {
    SX_COM_CHECK_THREAD();
    if (!on_revoke) return E_NOTIMPL;
    on_revoke();
    return S_OK;
  }

  STDMETHODIMP get_Live(LONG* live) override {
    SX_COM_CHECK_THREAD();
    *live = live_;
    return S_OK;
  }

  std::thread::id added_on;
  static inline std::function<void()> on_revoke;

 protected:
  const sx::com::DispatchTable& dispatch_table() const override { return table_; }
  ~Probe() override { --live_; }

 private:
  static inline std::atomic<LONG> live_{0};
  sx::com::DispatchTable table_;
  LONG total_ = 0;
};

}  // namespace remote_test
