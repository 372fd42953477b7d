// FindAddIn and SetAddIn: Outlook's COM add-ins, found by their description in the add-in list of
// the component's own Application.
#include "method_runner.h"
#include "outlook/office.h"
#include "update1.h"

namespace sx::update {
namespace {

using sx::com::throw_if_failed;
using sx::com::Variant;

ComPtr<COMAddIns> addins_of_shared_application() {
  ComPtr<_Application> application = shared_application();
  ComPtr<COMAddIns> addins;
  throw_if_failed(application->get_COMAddIns(addins.ReleaseAndGetAddressOf()));
  if (!addins) object_not_set();
  return addins;
}

ComPtr<COMAddIn> addin_at(COMAddIns* addins, LONG index) {
  ComPtr<COMAddIn> addin;
  throw_if_failed(addins->Item(Variant::from_i4(index).get(), addin.ReleaseAndGetAddressOf()));
  return addin;
}

bool described(COMAddIn* addin, const std::u16string& description) {
  sx::com::Bstr text;
  throw_if_failed(addin->get_Description(text.put()));
  return text.u16() == description;
}

bool connected(COMAddIn* addin) {
  VARIANT_BOOL connect = VARIANT_FALSE;
  throw_if_failed(addin->get_Connect(&connect));
  return connect != VARIANT_FALSE;
}

}  // namespace

STDMETHODIMP Update1::FindAddIn(VARIANT* anAddin, LONG* result) {
  SX_COM_CHECK_THREAD();
  ULONG stage = 0;
  return run_trapped(
      result, "FindAddIn:",
      [&](LONG& found) {
        found = 0;
        const std::u16string description = text_of(anAddin);
        ComPtr<COMAddIns> addins = addins_of_shared_application();
        stage = 0x100000;
        LONG n = 0;
        throw_if_failed(addins->get_Count(&n));
        stage = 0x200000;
        for (LONG i = 1; i <= n; ++i) {
          ComPtr<COMAddIn> addin = addin_at(addins.Get(), i);
          stage += 0x100000;
          // The last add-in of the description decides.
          if (addin && described(addin.Get(), description))
            found = connected(addin.Get()) ? i + 0x10000 : i;
        }
      },
      [&](const sx::com::ComError& e) {
        *result = static_cast<LONG>(static_cast<ULONG>(e.Error()) + stage);
      });
}

STDMETHODIMP Update1::SetAddIn(VARIANT* anAddin, VARIANT* flag, LONG* result) {
  SX_COM_CHECK_THREAD();
  ULONG stage = 0;
  return run_trapped(
      result, "SetAddIn:",
      [&](LONG& found) {
        const bool wanted = bool_of(flag);
        found = 0;
        const std::u16string description = text_of(anAddin);
        ComPtr<COMAddIns> addins = addins_of_shared_application();
        stage = 0x100000;
        LONG n = 0;
        throw_if_failed(addins->get_Count(&n));
        stage = 0x200000;
        for (LONG i = 1; i <= n; ++i) {
          const ULONG b = stage;
          ComPtr<COMAddIn> addin = addin_at(addins.Get(), i);
          stage = b + 0x10000;
          if (!addin || !described(addin.Get(), description)) continue;
          // The first add-in of the description is the one switched.
          stage = b + 0x110000;
          found = i;
          const bool was_connected = connected(addin.Get());
          if (was_connected) found = i + 0x10000;
          stage = b + 0x210000;
          if (was_connected != wanted) {
            stage = b + 0x310000;
            if (!namespace_) break;  // no profile to work in: nothing is switched
            stage = b + 0x410000;
            throw_if_failed(addin->put_Connect(wanted ? VARIANT_TRUE : VARIANT_FALSE));
          }
          stage = b + 0x100000;
          break;
        }
      },
      [&](const sx::com::ComError& e) {
        *result = static_cast<LONG>(static_cast<ULONG>(e.Error()) + stage);
      });
}

}  // namespace sx::update
