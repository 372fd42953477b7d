// Connection points (OLE's event plumbing): an object that raises events offers
// IConnectionPointContainer; a client asks it for the connection point of an event interface and
// Advises its sink there. Only what the Outlook stand-in's events need: enumeration is not offered
// (E_NOTIMPL).
#pragma once

#include "comdef.h"

struct IConnectionPointContainer;

struct IConnectionPoint : IUnknown {
  static constexpr IID kIid = sx::com::guid("{B196B286-BAB4-101A-B69C-00AA00341D07}");
  using Base = IUnknown;
  STDMETHOD(GetConnectionInterface)(IID* iid) = 0;
  STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** container) = 0;
  // Connects `sink` (queried for the event interface; CONNECT_E_CANNOTCONNECT when it lacks it) and
  // gives a cookie for Unadvise.
  STDMETHOD(Advise)(IUnknown* sink, DWORD* cookie) = 0;
  STDMETHOD(Unadvise)(DWORD cookie) = 0;  // CONNECT_E_NOCONNECTION for an unknown cookie
  STDMETHOD(EnumConnections)(void** enumerator) = 0;

 protected:
  ~IConnectionPoint() = default;
};

struct IConnectionPointContainer : IUnknown {
  static constexpr IID kIid = sx::com::guid("{B196B284-BAB4-101A-B69C-00AA00341D07}");
  using Base = IUnknown;
  STDMETHOD(EnumConnectionPoints)(void** enumerator) = 0;
  // CONNECT_E_NOCONNECTION when the object raises no events of that interface.
  STDMETHOD(FindConnectionPoint)(REFIID iid, IConnectionPoint** point) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};

#ifndef CONNECT_E_NOCONNECTION
#define CONNECT_E_NOCONNECTION static_cast<HRESULT>(0x80040200u)
#define CONNECT_E_CANNOTCONNECT static_cast<HRESULT>(0x80040202u)
#endif
