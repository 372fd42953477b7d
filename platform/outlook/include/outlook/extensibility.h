// IDTExtensibility2, the interface every COM add-in implements, and its enumerations, imported as
// the add-in designer's type library would be.
//
// Outlook creates an add-in by its ProgID (its InprocServer32) on Outlook's own thread and calls
// these methods there, handing it Outlook's objects themselves (no proxies). `custom` is an empty
// one-dimensional SAFEARRAY of VARIANTs that Outlook owns. A failing OnConnection leaves the add-in
// disconnected (and Outlook releases it); the other results are ignored.
#pragma once

#include "comdef.h"

enum ext_ConnectMode : int {
  ext_cm_AfterStartup = 0,  // connected by a Connect put (Outlook was running)
  ext_cm_Startup = 1,       // loaded while Outlook started
  ext_cm_External = 2,
  ext_cm_CommandLine = 3,
};

enum ext_DisconnectMode : int {
  ext_dm_HostShutdown = 0,  // Outlook ends
  ext_dm_UserClosed = 1,    // a Connect put switched it off
};

struct IDTExtensibility2 : IDispatch {
  static constexpr IID kIid = sx::com::guid("{B65AD801-ABAF-11D0-BB8B-00A0C90F2744}");
  using Base = IDispatch;
  // `application` is Outlook's Application; `addin_instance` the add-in's own COMAddIn.
  STDMETHOD(OnConnection)
  (IDispatch* application, ext_ConnectMode connect_mode, IDispatch* addin_instance,
   SAFEARRAY** custom) = 0;
  STDMETHOD(OnDisconnection)(ext_DisconnectMode remove_mode, SAFEARRAY** custom) = 0;
  // The set of connected add-ins changed (another add-in was connected or disconnected).
  STDMETHOD(OnAddInsUpdate)(SAFEARRAY** custom) = 0;
  // Outlook has started and every add-in loaded at start-up is connected (start-up add-ins only).
  STDMETHOD(OnStartupComplete)(SAFEARRAY** custom) = 0;
  // Outlook is about to end; OnDisconnection(ext_dm_HostShutdown) follows.
  STDMETHOD(OnBeginShutdown)(SAFEARRAY** custom) = 0;

 protected:
  ~IDTExtensibility2() = default;
};
