#include "update_component.h"

#include <cstdio>

namespace sx::configure {

using sx::com::ComPtr;
using sx::com::throw_if_failed;
using sx::com::Variant;

ComPtr<_Update1> CreateUpdateComponent(HRESULT* why) {
  CLSID clsid{};
  ComPtr<_Update1> update;
  HRESULT hr = CLSIDFromProgID(u"ScribbixUpdate.Update1", &clsid);
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, _Update1::kIid, update.PutVoid());
  if (FAILED(hr) || !update) {
    update = nullptr;
    if (why != nullptr) *why = FAILED(hr) ? hr : E_NOINTERFACE;
  }
  return update;
}

LONG SetNameSpace(_Update1* update, _NameSpace* nameSpace) {
  LONG result = 0;
  throw_if_failed(update->SetNameSpace(&nameSpace, &result));
  return result;
}

LONG Call(_Update1* update, HRESULT (STDMETHODCALLTYPE _Update1::*method)(LONG*)) {
  LONG result = 0;
  throw_if_failed((update->*method)(&result));
  return result;
}

LONG CallWithText(_Update1* update, HRESULT (STDMETHODCALLTYPE _Update1::*method)(VARIANT*, LONG*),
                  const std::string& text) {
  Variant argument = Variant::from_ansi(text);
  LONG result = 0;
  throw_if_failed((update->*method)(&argument.get(), &result));
  return result;
}

LONG SetAddIn(_Update1* update, const char* addInName, bool on) {
  Variant addIn = Variant::from_ansi(addInName);
  Variant flag = Variant::from_bool(on);
  LONG result = 0;
  throw_if_failed(update->SetAddIn(&addIn.get(), &flag.get(), &result));
  return result;
}

std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "%lx", value & 0xFFFFFFFFul);
  return text;
}

}  // namespace sx::configure
