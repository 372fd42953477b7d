// IUnknown and IClassFactory: the root of every COM interface and the interface that creates
// objects.
//
// Interfaces are abstract C++ classes whose virtual functions are declared in slot order, so a call
// "by slot" through the vtable reaches the same method as on Windows. Each interface carries its
// IID as `kIid`; the runtime's IID_* constants name the same values.
#pragma once

#include <type_traits>
#include "com/guid.h"

#include "com/hresult.h"

struct IUnknown {
  static constexpr IID kIid = sx::com::guid("{00000000-0000-0000-C000-000000000046}");

  // Slot 0. Hands out the interface `iid` (AddRef'd) in *object; E_NOINTERFACE and null when the
  // object has none; E_POINTER when `object` is null.
  STDMETHOD(QueryInterface)(REFIID iid, void** object) = 0;
  // Slots 1 and 2: the reference count. Release frees the object when the count reaches 0; both
  // return the new count, which is meaningful only for tests.
  STDMETHOD_(ULONG, AddRef)() = 0;
  STDMETHOD_(ULONG, Release)() = 0;

 protected:
  ~IUnknown() = default;  // objects are freed by Release, never deleted through an interface
};
using LPUNKNOWN = IUnknown*;

struct IClassFactory : IUnknown {
  static constexpr IID kIid = sx::com::guid("{00000001-0000-0000-C000-000000000046}");
  using Base = IUnknown;

  // Creates one object and hands out its interface `iid`. A non-null `outer` asks for aggregation,
  // which our factories refuse with CLASS_E_NOAGGREGATION.
  STDMETHOD(CreateInstance)(IUnknown* outer, REFIID iid, void** object) = 0;
  STDMETHOD(LockServer)(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

inline constexpr IID IID_IUnknown = IUnknown::kIid;
inline constexpr IID IID_IClassFactory = IClassFactory::kIid;

// IID_PPV_ARGS-like helper: the IID of *pp's interface and pp as void**.
#define IID_PPV_ARGS(pp)                                                 \
  std::remove_pointer_t<std::remove_reference_t<decltype(*(pp))>>::kIid, \
      reinterpret_cast<void**>(pp)
