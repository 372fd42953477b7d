// Connection points (OLE's event plumbing): an object that raises events offers
// IConnectionPointContainer; a client asks it for the connection point of an event interface and
// Advises its sink there. Only what the Outlook stand-in's events need: enumeration is not offered
// (E_NOTIMPL).
#pragma once

#include "comdef.h"

struct IConnectionPointContainer;

#define SX_CONNECTION_POINT_MEMBERS(M)                                                           \
  M(GetConnectionInterface, (IID*, iid))                                                         \
  M(GetConnectionPointContainer, (IConnectionPointContainer**, container))                       \
  /* Connects `sink` (queried for the event interface; CONNECT_E_CANNOTCONNECT when it lacks it) \
     and gives a cookie for Unadvise. */                                                         \
  M(Advise, (IUnknown*, sink), (DWORD*, cookie))                                                 \
  /* CONNECT_E_NOCONNECTION for an unknown cookie */                                             \
  M(Unadvise, (DWORD, cookie))                                                                   \
  M(EnumConnections, (void**, enumerator))

struct IConnectionPoint : IUnknown {
  static constexpr IID kIid = sx::com::guid("{B196B286-BAB4-101A-B69C-00AA00341D07}");
  using Base = IUnknown;
  SX_COM_MEMBERS(SX_CONNECTION_POINT_MEMBERS)

 protected:
  ~IConnectionPoint() = default;
};

#define SX_CONNECTION_POINT_CONTAINER_MEMBERS(M)                                   \
  M(EnumConnectionPoints, (void**, enumerator))                                    \
  /* CONNECT_E_NOCONNECTION when the object raises no events of that interface. */ \
  M(FindConnectionPoint, (REFIID, iid), (IConnectionPoint**, point))

struct IConnectionPointContainer : IUnknown {
  static constexpr IID kIid = sx::com::guid("{B196B284-BAB4-101A-B69C-00AA00341D07}");
  using Base = IUnknown;
  SX_COM_MEMBERS(SX_CONNECTION_POINT_CONTAINER_MEMBERS)

 protected:
  ~IConnectionPointContainer() = default;
};

#ifndef CONNECT_E_NOCONNECTION
#define CONNECT_E_NOCONNECTION static_cast<HRESULT>(0x80040200u)
#define CONNECT_E_CANNOTCONNECT static_cast<HRESULT>(0x80040202u)
#endif
