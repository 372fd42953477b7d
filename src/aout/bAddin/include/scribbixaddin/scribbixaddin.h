// ScribbixOutlookAddIn's type library as a client imports it: the identity of the notes add-in
// (its class Connect, which Outlook creates by the ProgID "VorScribOutlookAddIn.Connect"), its
// registration as an Outlook add-in, the command bar texts it uses, and the dual interface
// _ScribbixAddIn of its ScribbixAddIn object in slot order (IUnknown's three, IDispatch's four,
// then the two methods below). These values never change.
#pragma once

#include "objbase.h"
#include "outlook/outlook.h"

namespace scribbixaddin {

// Type library "ScribbixOutlookAddIn" 1.0, locale 0x409.
inline constexpr GUID kLibid = sx::com::guid("{6B3A0E71-3C2D-4F5E-9A41-7D0C2B5E8F13}");
inline constexpr char kLibraryHelpString[] = "Scribbix Outlook Add-In";
inline constexpr LCID kLibraryLocale = 0x409;

// Connect: creatable, apartment-threaded, implements IDTExtensibility2.
inline constexpr CLSID kConnectClsid = sx::com::guid("{0E5A6C42-8B17-4D09-A3F6-51C7E2D9B804}");
inline constexpr char kConnectProgId[] = "VorScribOutlookAddIn.Connect";

// The add-in entry under HKEY_CURRENT_USER\Software\Microsoft\Office\Outlook\Addins\<ProgID>.
inline constexpr char kAddInName[] = "Scribbix Outlook Add-In";  // FriendlyName and Description
inline constexpr unsigned long kLoadBehavior = 3;                // load when Outlook starts

// Its settings under HKEY_LOCAL_MACHINE\Software\Vorlan Software\Scribbix, read at connection.
inline constexpr char kMenuModeValue[] = "MenuMode";
inline constexpr char kAutoEditModeValue[] = "AutoEditMode";

// Command bar texts and values.
inline constexpr char kNotesBarName[] = "Scribbix Bar";
inline constexpr char kMenuBarName[] = "Menu Bar";
inline constexpr char kMenuCaption[] = "&Scribbix";
inline constexpr char kMenuTag[] = "ScribbixTag";
inline constexpr char kButtonCaption[] = "New &Note";
inline constexpr char kButtonTag[] = "SXCountTag";
inline constexpr char kButtonTooltip[] = "Create a new Scribbix entry";
inline constexpr long kButtonFaceId = 2687;
inline constexpr long kButtonStyle = 3;  // icon and caption
// The notes folder as OpenMAPIFolder takes it.
inline constexpr char kNotesFolderPath[] = "\\Vorlan\\Scribbix";
// An inspector's "&Edit" menu and its "Edit Item" command, which switches a note to editing.
inline constexpr long kEditMenuId = 30003;
inline constexpr long kEditItemId = 3273;

// Dispatch ids of _ScribbixAddIn, in slot order.
enum ScribbixAddInDispId : DISPID {
  kDispGetFolderPath = 0x60030000,
  kDispOpenMAPIFolder,
};

}  // namespace scribbixaddin

// The notes add-in's own object: the folder helpers it uses for the notes folder.
struct _ScribbixAddIn : IDispatch {
  static constexpr IID kIid = sx::com::guid("{9C41D7B2-5E08-4A6F-B3C9-2F8E61A04D57}");
  using Base = IDispatch;

  // slot 7: the path of objFolder (an Outlook folder): "\" and the folder's name, preceded by
  // "\" and the name of each parent folder up to the store root ("\Vorlan\Scribbix"). Every
  // error is ignored: what was reached is the path ("" when objFolder is no folder).
  STDMETHOD(GetFolderPath)(VARIANT objFolder, BSTR* result) = 0;
  // slot 8: the folder at strPath: "\Store\Folder\..." from the profile's store roots, or a path
  // without the leading "\" from the folder the active explorer shows. Nothing (null) when the
  // first name is not found; a missing folder below it is Outlook's error, returned as it is.
  STDMETHOD(OpenMAPIFolder)(VARIANT strPath, MAPIFolder** result) = 0;

 protected:
  ~_ScribbixAddIn() = default;
};
