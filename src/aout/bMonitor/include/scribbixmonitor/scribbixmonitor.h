// ScribbixMonitorAddIn's type library as a client imports it: the identity of the monitor add-in
// (its class Connect, created by Outlook by the ProgID "ScribbixMonitorAddIn.Connect"), its
// registration as an Outlook add-in, and the dual interface _ScribbixMonitor1 of its
// ScribbixMonitor1 object in slot order (IUnknown's three, IDispatch's four, then the two methods
// below). These values never change.
#pragma once

#include "objbase.h"
#include "outlook/outlook.h"

namespace scribbixmonitor {

// Type library "ScribbixMonitorAddIn" 1.0, locale 0x409.
inline constexpr GUID kLibid = sx::com::guid("{3F8D2A96-71C4-4B0E-8E25-A6D94C1B7F30}");
inline constexpr char kLibraryHelpString[] = "ScribbixMonitorAdd-In";
inline constexpr LCID kLibraryLocale = 0x409;

// Connect: creatable, apartment-threaded, implements IDTExtensibility2.
inline constexpr CLSID kConnectClsid = sx::com::guid("{B7E4C1D3-2A95-4F68-9D07-3E5A81C6F2B9}");
inline constexpr char kConnectProgId[] = "ScribbixMonitorAddIn.Connect";

// The add-in entry under HKEY_CURRENT_USER\Software\Microsoft\Office\Outlook\Addins\<ProgID>.
inline constexpr char kAddInName[] = "ScribbixMonitorAdd-In";  // FriendlyName and Description
inline constexpr unsigned long kLoadBehavior = 3;              // load when Outlook starts

// The notes add-in's description, by which it is switched on.
inline constexpr char kNotesAddInDescription[] = "Scribbix Outlook Add-In";
inline constexpr char kNotesBarName[] = "Scribbix Bar";

// SetAddIn's results.
inline constexpr long kAddInMissing = -1;
inline constexpr long kAddInOff = 0;
inline constexpr long kAddInOn = 1;

// Dispatch ids of _ScribbixMonitor1, in slot order.
enum ScribbixMonitor1DispId : DISPID {
  kDispSetAddIn = 0x60030000,
  kDispFindFolder,
};

}  // namespace scribbixmonitor

// The monitor's own object. Parameters by reference, owned by the caller.
struct _ScribbixMonitor1 : IDispatch {
  static constexpr IID kIid = sx::com::guid("{5D19B6E8-0C37-4A2F-B854-C2E7093DA61F}");
  using Base = IDispatch;

  // slot 7: switches the first COM add-in of olApp described exactly anAddin to flag (connects or
  // disconnects it only when its state differs). 1 when it is connected afterwards, 0 when not,
  // -1 when no add-in has that description. An Outlook failure ends it with what was reached.
  STDMETHOD(SetAddIn)(_Application** olApp, BSTR* anAddin, VARIANT_BOOL* flag, LONG* result) = 0;
  // slot 8: 1 when olApp's profile has a top-level folder "Vorlan" holding a folder "Scribbix";
  // else 0, and the toolbar "Scribbix Bar" of the explorer the monitor watches is hidden.
  STDMETHOD(FindFolder)(_Application** olApp, LONG* result) = 0;

 protected:
  ~_ScribbixMonitor1() = default;
};
