#include "connect.h"

#include "module_state.h"

namespace sx::monitor {

Connect::Connect() { object_created(); }
Connect::~Connect() {
  if (monitor_) monitor_->DetachOutlook();
  monitor_ = nullptr;
  object_destroyed();
}

ScribbixMonitor1& Connect::monitor() {
  if (!monitor_) monitor_ = sx::com::make_object<ScribbixMonitor1>();
  return *monitor_;
}

STDMETHODIMP Connect::OnConnection(IDispatch* Application, ext_ConnectMode, IDispatch*,
                                   SAFEARRAY**) {
  SX_COM_CHECK_THREAD();
  try {
    ComPtr<_Application> application;
    if (Application != nullptr)
      Application->QueryInterface(_Application::kIid, application.PutVoid());
    monitor().AttachOutlook(application.Get());
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

STDMETHODIMP Connect::OnStartupComplete(SAFEARRAY**) {
  SX_COM_CHECK_THREAD();
  try {
    _Application* outlook = module_outlook().Get();
    LONG found = 0;
    monitor().FindFolder(&outlook, &found);
    if (found != 0) {
      sx::com::Bstr description = sx::com::Bstr::from_utf8(scribbixmonitor::kNotesAddInDescription);
      BSTR name = description.get();
      VARIANT_BOOL on = VARIANT_TRUE;
      LONG result = 0;
      monitor().SetAddIn(&outlook, &name, &on, &result);
    }
  } catch (...) {
  }
  return S_OK;
}

STDMETHODIMP Connect::OnDisconnection(ext_DisconnectMode, SAFEARRAY**) {
  SX_COM_CHECK_THREAD();
  try {
    if (monitor_) monitor_->DetachOutlook();
  } catch (...) {
  }
  monitor_ = nullptr;
  return S_OK;
}

STDMETHODIMP Connect::OnAddInsUpdate(SAFEARRAY**) {
  SX_COM_CHECK_THREAD();
  return S_OK;
}
STDMETHODIMP Connect::OnBeginShutdown(SAFEARRAY**) {
  SX_COM_CHECK_THREAD();
  return S_OK;
}

}  // namespace sx::monitor
