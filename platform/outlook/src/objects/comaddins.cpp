// Application.COMAddIns and its COMAddIn objects, over the add-in host of the running Outlook.
#include "objects/objects.h"
#include "server/outlook_process.h"

namespace sx::outlook {

namespace {

AddInHost& host_of(const AppPtr& app) { return app->process().addins(); }

}  // namespace

const Members<COMAddInsImpl>& COMAddInsImpl::members() {
  static const Members<COMAddInsImpl> m = [] {
    using M = Members<COMAddInsImpl>;
    M m;
    m.get(u"Count", &COMAddInsImpl::get_Count);
    m.add(u"Item", [](COMAddInsImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
      if (a.omitted(0)) return DISP_E_PARAMNOTFOUND;
      COMAddIn* addin = nullptr;
      HRESULT hr = self.Item(*a.at(0), &addin);
      if (SUCCEEDED(hr)) M::to_variant(addin, r);
      return hr;
    });
    m.add(u"Update", [](COMAddInsImpl& self, WORD, const sx::com::DispatchArgs&, VARIANT*) {
      return self.Update();
    });
    return m;
  }();
  return m;
}

STDMETHODIMP COMAddInsImpl::get_Count(LONG* count) {
  return call("get_Count", [&] {
    need(count);
    *count = static_cast<LONG>(host_of(app_).count());
    return S_OK;
  });
}

STDMETHODIMP COMAddInsImpl::Item(VARIANT index, COMAddIn** addin) {
  return call("Item", [&] {
    need(addin);
    *addin = nullptr;
    AddInHost& host = host_of(app_);
    sx::com::Variant v(index);
    if (v.vt() == (VT_BYREF | VT_VARIANT)) v = sx::com::Variant(*index.pvarVal);
    std::optional<std::size_t> at;
    if ((v.vt() & VT_TYPEMASK) == VT_BSTR) {
      at = host.find(v.to_utf8());
    } else {
      const LONG n = v.to_i4();
      if (n >= 1 && static_cast<std::size_t>(n) <= host.count())
        at = static_cast<std::size_t>(n - 1);
    }
    if (!at) raise(DISP_E_BADINDEX, "The add-in is not in the list of COM add-ins.");
    hand_out(host.entry(*at), addin);
    return S_OK;
  });
}

STDMETHODIMP COMAddInsImpl::Update() {
  return call("Update", [&] {
    host_of(app_).update();
    return S_OK;
  });
}

const Members<COMAddInImpl>& COMAddInImpl::members() {
  static const Members<COMAddInImpl> m = [] {
    Members<COMAddInImpl> m;
    m.prop(u"Description", &COMAddInImpl::get_Description, &COMAddInImpl::put_Description);
    m.get(u"ProgId", &COMAddInImpl::get_ProgId);
    m.get(u"Guid", &COMAddInImpl::get_Guid);
    m.prop(u"Connect", &COMAddInImpl::get_Connect, &COMAddInImpl::put_Connect);
    m.prop(u"Object", &COMAddInImpl::get_Object, &COMAddInImpl::put_Object);
    return m;
  }();
  return m;
}

STDMETHODIMP COMAddInImpl::get_Description(BSTR* description) {
  return call("get_Description", [&] {
    need(description);
    *description = out_text(host_of(app_).at(index_).registration.description);
    return S_OK;
  });
}

STDMETHODIMP COMAddInImpl::put_Description(BSTR description) {
  return call("put_Description", [&] {
    host_of(app_).at(index_).registration.description = in_text(description);
    return S_OK;
  });
}

STDMETHODIMP COMAddInImpl::get_ProgId(BSTR* progid) {
  return call("get_ProgId", [&] {
    need(progid);
    *progid = out_text(host_of(app_).at(index_).registration.progid);
    return S_OK;
  });
}

STDMETHODIMP COMAddInImpl::get_Guid(BSTR* guid) {
  return call("get_Guid", [&] {
    need(guid);
    const std::u16string progid =
        sx::com::ansi_to_u16(host_of(app_).at(index_).registration.progid);
    CLSID clsid{};
    const bool known = SUCCEEDED(CLSIDFromProgID(progid.c_str(), &clsid));
    *guid = out_text(known ? sx::com::format_guid(clsid) : "");
    return S_OK;
  });
}

STDMETHODIMP COMAddInImpl::get_Connect(VARIANT_BOOL* connected) {
  return call("get_Connect", [&] {
    need(connected);
    *connected = host_of(app_).at(index_).connected ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

STDMETHODIMP COMAddInImpl::put_Connect(VARIANT_BOOL connect) {
  // A failing OnConnection's result, with the error information the add-in left, is the put's.
  return call("put_Connect",
              [&] { return host_of(app_).set_connected(index_, connect != VARIANT_FALSE); });
}

STDMETHODIMP COMAddInImpl::get_Object(IDispatch** object) {
  return call("get_Object", [&] {
    need(object);
    *object = nullptr;
    hand_out(host_of(app_).at(index_).exposed, object);
    return S_OK;
  });
}

STDMETHODIMP COMAddInImpl::put_Object(IDispatch* object) {
  return call("put_Object", [&] {
    host_of(app_).at(index_).exposed = object;
    return S_OK;
  });
}

}  // namespace sx::outlook
