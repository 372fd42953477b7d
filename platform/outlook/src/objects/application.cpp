#include <mutex>

#include "objects/objects.h"
#include "sx/outlook/install.h"

namespace sx::outlook {

namespace {

// The running Application of this process. Guarded by `running_mutex`; an Application whose count
// fell to 0 is taken out under the same mutex before it is freed, and one that gets a new reference
// in between is kept.
std::mutex running_mutex;
ApplicationImpl* running = nullptr;

}  // namespace

ApplicationImpl::ApplicationImpl()
    : OutlookObject("Application"), session_(std::make_unique<Session>()) {
  session_->version = installed_version();
}

ApplicationImpl::~ApplicationImpl() = default;

ULONG ApplicationImpl::Release() {
  ULONG left = --count_;
  if (left != 0) return left;
  {
    std::lock_guard g(running_mutex);
    if (count_ != 0) return count_;  // attached again meanwhile
    if (running == this) running = nullptr;
  }
  delete this;
  return 0;
}

HRESULT ApplicationImpl::get_or_start(REFIID iid, void** object) {
  std::lock_guard g(running_mutex);
  if (running == nullptr) running = new ApplicationImpl();
  running->AddRef();
  HRESULT hr = running->QueryInterface(iid, object);
  ApplicationImpl* app = running;
  // Drop our extra reference without deleting under the lock: the count is at least the one the
  // caller now holds, unless the interface was refused.
  if (--app->count_ == 0) {
    running = nullptr;
    delete app;
  }
  return hr;
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
    session_->logoff();
    return S_OK;
  });
}

void register_server() {
  sx::com::register_local_server(CLSID_OutlookApplication, [](IClassFactory** factory) -> HRESULT {
    auto f = sx::com::make_object<sx::com::FunctionClassFactory>(
        [](REFIID iid, void** object) { return ApplicationImpl::get_or_start(iid, object); });
    *factory = f.Detach();
    return S_OK;
  });
}

namespace {
const bool registered_at_load = (register_server(), true);
}  // namespace

}  // namespace sx::outlook
