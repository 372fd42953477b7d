#include "outlook_calls.h"

#include <mutex>

#include "windows.h"

namespace sx::update {
namespace {

using sx::com::Bstr;
using sx::com::throw_if_failed;

constexpr char kSource[] = "ScribbixUpdate";
constexpr char kMessageTitle[] = "Scribbix Update";
constexpr HRESULT kObjectNotSet = static_cast<HRESULT>(0x800A005Bu);

struct SharedApplication {
  std::mutex lock;
  DWORD thread = 0;
  ComPtr<_Application> application;
  // The module is unloaded only when no component object lives, so nothing is held then. A
  // reference still held when the process exits is left alone: its apartment may be gone.
  ~SharedApplication() { (void)application.Detach(); }
};

// An object of the module, not of the heap: the module may be unloaded and loaded again.
SharedApplication& shared() {
  static SharedApplication s;
  return s;
}

ComPtr<_Application> create_application() {
  CLSID clsid{};
  throw_if_failed(CLSIDFromProgID(u"Outlook.Application", &clsid));
  ComPtr<_Application> application;
  throw_if_failed(
      CoCreateInstance(clsid, nullptr, CLSCTX_ALL, _Application::kIid, application.PutVoid()));
  return application;
}

}  // namespace

std::u16string widen(std::string_view ascii) {
  std::u16string out;
  for (const char c : ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

void object_not_set() {
  sx::com::set_error_info(kSource, "Object variable or With block variable not set");
  sx::com::issue_error(kObjectNotSet);
}

ComPtr<_Folders> folders_of(_NameSpace* ns) {
  if (ns == nullptr) object_not_set();
  ComPtr<_Folders> folders;
  throw_if_failed(ns->get_Folders(folders.ReleaseAndGetAddressOf()));
  return folders;
}

ComPtr<_Folders> folders_of(MAPIFolder* folder) {
  if (folder == nullptr) object_not_set();
  ComPtr<_Folders> folders;
  throw_if_failed(folder->get_Folders(folders.ReleaseAndGetAddressOf()));
  return folders;
}

LONG count_of(_Folders* folders) {
  if (folders == nullptr) object_not_set();
  LONG count = 0;
  throw_if_failed(folders->get_Count(&count));
  return count;
}

ComPtr<MAPIFolder> first_of(_Folders* folders) {
  if (folders == nullptr) object_not_set();
  ComPtr<MAPIFolder> folder;
  throw_if_failed(folders->GetFirst(folder.ReleaseAndGetAddressOf()));
  return folder;
}

ComPtr<MAPIFolder> next_of(_Folders* folders) {
  if (folders == nullptr) object_not_set();
  ComPtr<MAPIFolder> folder;
  throw_if_failed(folders->GetNext(folder.ReleaseAndGetAddressOf()));
  return folder;
}

std::u16string name_of(MAPIFolder* folder) {
  if (folder == nullptr) object_not_set();
  Bstr name;
  throw_if_failed(folder->get_Name(name.put()));
  return sx::com::bstr_to_u16(name.get());
}

void rename(MAPIFolder* folder, std::string_view name) {
  if (folder == nullptr) object_not_set();
  throw_if_failed(folder->put_Name(Bstr(widen(name)).get()));
}

bool named(MAPIFolder* folder, std::string_view name) { return name_of(folder) == widen(name); }

ComPtr<_Application> shared_application() {
  SharedApplication& s = shared();
  std::unique_lock<std::mutex> held(s.lock);
  if (s.application && s.thread == GetCurrentThreadId()) return s.application;
  if (s.application) {
    held.unlock();
    return create_application();
  }
  held.unlock();
  ComPtr<_Application> made = create_application();
  held.lock();
  if (!s.application) {
    s.application = made;
    s.thread = GetCurrentThreadId();
  }
  return made;
}

void release_shared_application() {
  SharedApplication& s = shared();
  ComPtr<_Application> gone;
  {
    std::lock_guard<std::mutex> held(s.lock);
    if (s.thread != GetCurrentThreadId()) return;
    gone = std::move(s.application);
    s.thread = 0;
  }
}

std::string description_of(const sx::com::ComError& e) {
  return e.Description() != nullptr ? e.Description() : e.ErrorMessage();
}

void report(const sx::com::ComError& e, const std::string& prefix) {
  const std::string description = description_of(e);
  const std::string text = prefix + description;
  MessageBoxA(nullptr, text.c_str(), kMessageTitle, MB_OK | MB_ICONSTOP);
  sx::com::set_error_info(e.Source() != nullptr ? e.Source() : kSource, description);
}

std::string str(long value) { return (value >= 0 ? " " : "") + std::to_string(value); }

}  // namespace sx::update
