// Office's list of COM add-ins as Outlook offers it (Application.COMAddIns), imported as Office's
// type library would be. Conventions as in outlook/outlook.h.
#pragma once

#include "comdef.h"

struct COMAddIn;

// The add-ins registered under HKEY_CURRENT_USER\Software\Microsoft\Office\Outlook\Addins when
// Outlook started, in ascending order of their ProgIDs (the registry's order).
#define SX_OFFICE_COM_ADDINS_MEMBERS(M)                                                         \
  M(get_Count, (LONG*, count))                                                                  \
  /* By 1-based index (a number) or by ProgID (a text, compared without regard to case);        \
     DISP_E_BADINDEX when there is none. */                                                     \
  M(Item, (VARIANT, index), (COMAddIn**, addin))                                                \
  /* Adds the add-ins registered since Outlook started, at the end. It reads no "LoadBehavior": \
     that is read once, when Outlook starts. */                                                 \
  M(Update)

struct COMAddIns : IDispatch {
  static constexpr IID kIid = sx::com::guid("{000C0339-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OFFICE_COM_ADDINS_MEMBERS)

 protected:
  ~COMAddIns() = default;
};

#define SX_OFFICE_COM_ADDIN_MEMBERS(M)                                                           \
  /* The registry's "Description" as read when Outlook started; a put changes only this run. */  \
  M(get_Description, (BSTR*, description))                                                       \
  M(put_Description, (BSTR, description))                                                        \
  M(get_ProgId, (BSTR*, progid))                                                                 \
  /* The class id of the ProgID in braces; "" when the class is not registered. */               \
  M(get_Guid, (BSTR*, guid))                                                                     \
  /* Whether the add-in is connected now. */                                                     \
  M(get_Connect, (VARIANT_BOOL*, connected))                                                     \
  /* Connects (OnConnection with ext_cm_AfterStartup) or disconnects (OnDisconnection with       \
     ext_dm_UserClosed) at once, before the put returns; then writes "LoadBehavior": 3 when      \
     connected, the value with the loaded bit (1) cleared when disconnected. Nothing happens     \
     when the state is already the one asked for. A failing OnConnection is the put's failure;   \
     the add-in stays disconnected and "LoadBehavior" is left alone. */                          \
  M(put_Connect, (VARIANT_BOOL, connect))                                                        \
  /* What the add-in exposes of itself (it sets it, usually in OnConnection); null otherwise. */ \
  M(get_Object, (IDispatch**, object))                                                           \
  M(put_Object, (IDispatch*, object))

struct COMAddIn : IDispatch {
  static constexpr IID kIid = sx::com::guid("{000C033A-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OFFICE_COM_ADDIN_MEMBERS)

 protected:
  ~COMAddIn() = default;
};
