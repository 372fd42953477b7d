// CoInitialize(Ex) / CoUninitialize: which kind of apartment each thread is in, and how often it
// entered it.
#include "com/runtime.h"
#include "runtime_internal.h"

namespace {

struct ThreadApartment {
  sx::com::ApartmentKind kind = sx::com::ApartmentKind::kNone;
  int count = 0;
};

thread_local ThreadApartment t_apartment;

constexpr DWORD kKnownFlags =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

}  // namespace

namespace sx::com {
ApartmentKind current_apartment() { return t_apartment.kind; }
}  // namespace sx::com

extern "C" {

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(LPVOID, DWORD coinit) {
  using sx::com::ApartmentKind;
  if ((coinit & ~kKnownFlags) != 0) return E_INVALIDARG;
  const ApartmentKind wanted = (coinit & COINIT_APARTMENTTHREADED) != 0
                                   ? ApartmentKind::kSingleThreaded
                                   : ApartmentKind::kMultiThreaded;
  ThreadApartment& a = t_apartment;
  if (a.count > 0) {
    if (a.kind != wanted) return RPC_E_CHANGED_MODE;
    ++a.count;
    return S_FALSE;
  }
  a.kind = wanted;
  a.count = 1;
  return S_OK;
}

void CoUninitialize() {
  ThreadApartment& a = t_apartment;
  if (a.count == 0) return;
  if (--a.count == 0) {
    a.kind = sx::com::ApartmentKind::kNone;
    sx::com::drop_thread_error_info();
  }
}

}  // extern "C"
