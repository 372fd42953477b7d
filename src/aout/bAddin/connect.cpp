#include "connect.h"

#include "module_state.h"

namespace sx::addin {

using sx::com::ComError;

Connect::Connect() { object_created(); }
Connect::~Connect() {
  addin_ = nullptr;
  object_destroyed();
}

STDMETHODIMP Connect::OnConnection(IDispatch* Application, ext_ConnectMode, IDispatch* AddInInst,
                                   SAFEARRAY**) {
  SX_COM_CHECK_THREAD();
  try {
    sx::com::Variant progid;
    if (AddInInst != nullptr)
      sx::com::throw_if_failed(sx::com::get_property(AddInInst, u"ProgId", progid.put()));
    ComPtr<_Application> application;
    if (Application != nullptr)
      sx::com::throw_if_failed(
          Application->QueryInterface(_Application::kIid, application.PutVoid()));
    if (!addin_) addin_ = sx::com::make_object<ScribbixAddIn>();
    const sx::com::Variant text = progid.changed_to(VT_BSTR);
    addin_->AttachOutlook(application.Get(),
                          sx::com::Bstr(text.get().bstrVal ? text.get().bstrVal : u"").u16());
    return S_OK;
  } catch (const ComError& e) {
    // Outlook gives the add-in up: nothing of it stays.
    addin_ = nullptr;
    if (e.ErrorInfo()) SetErrorInfo(0, e.ErrorInfo().Get());
    return e.Error();
  } catch (const std::bad_alloc&) {
    addin_ = nullptr;
    return E_OUTOFMEMORY;
  } catch (...) {
    addin_ = nullptr;
    return E_UNEXPECTED;
  }
}

STDMETHODIMP Connect::OnDisconnection(ext_DisconnectMode, SAFEARRAY**) {
  SX_COM_CHECK_THREAD();
  try {
    if (addin_) addin_->DetachOutlook();
  } catch (...) {
  }
  addin_ = nullptr;
  return S_OK;
}

STDMETHODIMP Connect::OnAddInsUpdate(SAFEARRAY**) {
  SX_COM_CHECK_THREAD();
  return S_OK;
}
STDMETHODIMP Connect::OnStartupComplete(SAFEARRAY**) {
  SX_COM_CHECK_THREAD();
  return S_OK;
}
STDMETHODIMP Connect::OnBeginShutdown(SAFEARRAY**) {
  SX_COM_CHECK_THREAD();
  return S_OK;
}

}  // namespace sx::addin
