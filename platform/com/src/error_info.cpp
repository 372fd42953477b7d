// The error information object and the per-thread error information slot.
#include <mutex>
#include <new>

#include "apartment_internal.h"
#include "com/errorinfo.h"
#include "com/object.h"

namespace sx::com {
namespace {

// One object serves both interfaces, as on Windows. Free-threaded: the error travels between
// threads inside ComError.
class ErrorInfoObject : public ComObject<IErrorInfo, ICreateErrorInfo> {
 public:
  ErrorInfoObject() : ComObject(Threading::kFree) {}

  STDMETHODIMP GetGUID(GUID* guid) override {
    if (guid == nullptr) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *guid = guid_;
    return S_OK;
  }
  STDMETHODIMP GetSource(BSTR* source) override { return get(source_, source); }
  STDMETHODIMP GetDescription(BSTR* description) override { return get(description_, description); }
  STDMETHODIMP GetHelpFile(BSTR* help_file) override { return get(help_file_, help_file); }
  STDMETHODIMP GetHelpContext(DWORD* help_context) override {
    if (help_context == nullptr) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *help_context = help_context_;
    return S_OK;
  }

  STDMETHODIMP SetGUID(REFGUID guid) override {
    std::lock_guard lock(mutex_);
    guid_ = guid;
    return S_OK;
  }
  STDMETHODIMP SetSource(LPOLESTR source) override { return set(source_, source); }
  STDMETHODIMP SetDescription(LPOLESTR description) override {
    return set(description_, description);
  }
  STDMETHODIMP SetHelpFile(LPOLESTR help_file) override { return set(help_file_, help_file); }
  STDMETHODIMP SetHelpContext(DWORD help_context) override {
    std::lock_guard lock(mutex_);
    help_context_ = help_context;
    return S_OK;
  }

 private:
  HRESULT get(const Bstr& field, BSTR* out) {
    if (out == nullptr) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *out = nullptr;
    if (field.get() == nullptr) return S_OK;
    *out = SysAllocStringLen(field.get(), field.length());
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
  }
  HRESULT set(Bstr& field, LPOLESTR text) {
    BSTR copy = SysAllocString(text);
    if (text != nullptr && copy == nullptr) return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    field.reset(copy);
    return S_OK;
  }

  std::mutex mutex_;
  GUID guid_ = GUID_NULL;
  Bstr source_;
  Bstr description_;
  Bstr help_file_;
  DWORD help_context_ = 0;
};

thread_local ComPtr<IErrorInfo> t_error_info;

}  // namespace

void set_error_info(std::string_view source, std::string_view description, REFGUID iid) {
  try {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.ReleaseAndGetAddressOf()))) return;
    create->SetGUID(iid);
    Bstr source_text = Bstr::from_ansi(source);
    Bstr description_text = Bstr::from_ansi(description);
    create->SetSource(source_text.get());
    create->SetDescription(description_text.get());
    if (ComPtr<IErrorInfo> info = create.As<IErrorInfo>()) SetErrorInfo(0, info.Get());
  } catch (...) {
    // Out of memory: the error simply carries no information.
  }
}

HRESULT report_error(HRESULT hr, std::string_view source, std::string_view description,
                     REFGUID iid) {
  set_error_info(source, description, iid);
  return hr;
}

// Called when a thread leaves COM.
void detail::drop_thread_error_info() { t_error_info = nullptr; }

}  // namespace sx::com

extern "C" {

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info) {
  if (reserved != 0) return E_INVALIDARG;
  sx::com::t_error_info = info;
  return S_OK;
}

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info) {
  if (info == nullptr || reserved != 0) return E_INVALIDARG;
  *info = sx::com::t_error_info.Detach();
  return *info != nullptr ? S_OK : S_FALSE;
}

HRESULT CreateErrorInfo(ICreateErrorInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = nullptr;
  try {
    auto object = sx::com::make_object<sx::com::ErrorInfoObject>();
    return object->QueryInterface(IID_ICreateErrorInfo, reinterpret_cast<void**>(info));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // extern "C"
