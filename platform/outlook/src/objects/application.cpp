#include "objects/objects.h"
#include "server/outlook_process.h"
#include "sx/outlook/install.h"
#include "ui/ui.h"

namespace sx::outlook {

ApplicationImpl::ApplicationImpl(OutlookProcess& process)
    : OutlookObject("Application"), process_(process), session_(std::make_unique<Session>()) {
  session_->version = installed_version();
}

ApplicationImpl::~ApplicationImpl() = default;

Ui& ApplicationImpl::ui() {
  if (!ui_) ui_ = std::make_unique<Ui>(*this);
  return *ui_;
}

const Members<ApplicationImpl>& ApplicationImpl::members() {
  static const Members<ApplicationImpl> m = [] {
    Members<ApplicationImpl> m;
    m.get(u"Version", &ApplicationImpl::get_Version);
    m.get(u"Name", &ApplicationImpl::get_Name);
    m.add(u"GetNamespace",
          [](ApplicationImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
            sx::com::Variant type;
            HRESULT hr = a.get(0, VT_BSTR, &type);
            if (FAILED(hr)) return hr;
            _NameSpace* ns = nullptr;
            hr = self.GetNamespace(type.get().bstrVal, &ns);
            if (SUCCEEDED(hr)) Members<ApplicationImpl>::to_variant(ns, r);
            return hr;
          });
    m.add(u"CreateItem",
          [](ApplicationImpl& self, WORD, const sx::com::DispatchArgs& a, VARIANT* r) {
            sx::com::Variant type;
            HRESULT hr = a.get(0, VT_I4, &type);
            if (FAILED(hr)) return hr;
            IDispatch* item = nullptr;
            hr = self.CreateItem(type.get().lVal, &item);
            if (SUCCEEDED(hr)) Members<ApplicationImpl>::to_variant(item, r);
            return hr;
          });
    m.add(u"Quit", [](ApplicationImpl& self, WORD, const sx::com::DispatchArgs&, VARIANT*) {
      return self.Quit();
    });
    m.get(u"COMAddIns", &ApplicationImpl::get_COMAddIns);
    m.get(u"Explorers", &ApplicationImpl::get_Explorers);
    m.get(u"ActiveExplorer", &ApplicationImpl::get_ActiveExplorer);
    m.get(u"Inspectors", &ApplicationImpl::get_Inspectors);
    return m;
  }();
  return m;
}

STDMETHODIMP ApplicationImpl::get_Version(BSTR* version) {
  return call("get_Version", [&] {
    need(version);
    *version = out_text(session_->version);
    return S_OK;
  });
}

STDMETHODIMP ApplicationImpl::get_Name(BSTR* name) {
  return call("get_Name", [&] {
    need(name);
    *name = out_text("Outlook");
    return S_OK;
  });
}

STDMETHODIMP ApplicationImpl::GetNamespace(BSTR type, _NameSpace** ns) {
  return call("GetNamespace", [&] {
    need(ns);
    *ns = nullptr;
    if (!equal_ignoring_case(in_text(type), "MAPI"))
      raise(E_INVALIDARG, "The namespace type is not valid.");
    hand_out(sx::com::make_object<NameSpaceImpl>(AppPtr(this)), ns);
    return S_OK;
  });
}

STDMETHODIMP ApplicationImpl::CreateItem(LONG item_type, IDispatch** item) {
  return call("CreateItem", [&] {
    need(item);
    *item = nullptr;
    std::string message_class;
    switch (item_type) {
      case olMailItem:
        message_class = "IPM.Note";
        break;
      case olContactItem:
        message_class = "IPM.Contact";
        break;
      case olPostItem:
        message_class = "IPM.Post";
        break;
      default:
        raise(E_INVALIDARG, "This kind of item cannot be created.");
    }
    hand_out(make_new_item(AppPtr(this), FolderRef{}, message_class), item);
    return S_OK;
  });
}

STDMETHODIMP ApplicationImpl::Quit() {
  return call("Quit", [&] {
    process_.quit();
    return S_OK;
  });
}

STDMETHODIMP ApplicationImpl::get_COMAddIns(COMAddIns** addins) {
  return call("get_COMAddIns", [&] {
    need(addins);
    *addins = nullptr;
    hand_out(sx::com::make_object<COMAddInsImpl>(AppPtr(this)), addins);
    return S_OK;
  });
}

STDMETHODIMP ApplicationImpl::get_Explorers(_Explorers** explorers) {
  return call("get_Explorers", [&] {
    need(explorers);
    *explorers = nullptr;
    hand_out(sx::com::make_object<ExplorersImpl>(AppPtr(this)), explorers);
    return S_OK;
  });
}

STDMETHODIMP ApplicationImpl::get_ActiveExplorer(_Explorer** explorer) {
  return call("get_ActiveExplorer", [&] {
    need(explorer);
    *explorer = nullptr;
    hand_out(ExplorerPtr(ui().active_explorer()), explorer);
    return S_OK;
  });
}

STDMETHODIMP ApplicationImpl::get_Inspectors(_Inspectors** inspectors) {
  return call("get_Inspectors", [&] {
    need(inspectors);
    *inspectors = nullptr;
    hand_out(sx::com::make_object<InspectorsImpl>(AppPtr(this)), inspectors);
    return S_OK;
  });
}

}  // namespace sx::outlook
