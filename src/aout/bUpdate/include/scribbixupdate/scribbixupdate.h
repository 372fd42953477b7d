// ScribbixUpdate's type library as a client imports it: the identity of the folder maintenance
// component and its dual interface _Update1 in slot order (IUnknown's three, IDispatch's four,
// then the nineteen methods below). Callers bind by these values and by slot order; they never
// change.
//
// Every parameter is passed by reference and owned by the caller; the result comes through the
// last parameter. The methods trap Outlook's failures: they show a message box (critical stop,
// the method's prefix and the error's description) and give a code as their result, with the
// error's source and description left as the calling thread's error information. Only
// SetNameSpace, EndUpdate and FolderShortcutCreate let a failure out as the call's HRESULT.
// Failing HRESULTs otherwise come only from the COM runtime's own failures: RPC_E_WRONG_THREAD for
// a call from another thread than the creator's (the class is apartment-threaded), E_POINTER for
// a null result pointer, E_OUTOFMEMORY.
#pragma once

#include "objbase.h"
#include "outlook/outlook.h"

namespace scribbixupdate {

// Type library "ScribbixUpdate" 1.0, locale 0x409.
inline constexpr GUID kLibid = sx::com::guid("{2497ACBA-6605-4458-8135-91AD036F2C0E}");
inline constexpr char kLibraryName[] = "ScribbixUpdate";
inline constexpr char kLibraryHelpString[] = "Scribbix Outlook Update";
inline constexpr LCID kLibraryLocale = 0x409;

// Update1: creatable, apartment-threaded, default interface _Update1.
inline constexpr CLSID kUpdate1Clsid = sx::com::guid("{D1B258D1-B26A-4E8B-AC94-933CC33DB9F8}");
inline constexpr char kUpdate1ProgId[] = "ScribbixUpdate.Update1";

// Codes the methods give (the stage codes are the stage number shifted left by 16, plus the
// error number's other bits when a step failed).
inline constexpr LONG kNoNameSpace = static_cast<LONG>(0x80003001u);  // BeginUpdate, CountScribbix
inline constexpr LONG kNotesFolderMissing = static_cast<LONG>(0x80770000u);
inline constexpr LONG kNoNameSpaceForShortcut = static_cast<LONG>(0x80000001u);
inline constexpr LONG kNoExplorer = static_cast<LONG>(0x80000002u);
inline constexpr LONG kNoOutlookBar = static_cast<LONG>(0x80000003u);
// EndUpdate's failure when not every note of the old notes folder reached the new one: the old
// folder is kept as it is, the incomplete new folder removed (FACILITY_ITF).
inline constexpr HRESULT kUpgradeIncomplete = static_cast<HRESULT>(0x80040201u);

// Dispatch ids of the methods, in slot order from 0x60030000.
enum Update1DispId : DISPID {
  kDispAddPst = 0x60030000,
  kDispRenameUpdate,
  kDispFindFolder,
  kDispRemoveUpdateFolder,
  kDispRemoveScribbixFolder,
  kDispFindAddIn,
  kDispSetAddIn,
  kDispNextUpdate,
  kDispBeginUpdate,
  kDispEndUpdate,
  kDispSetNameSpace,
  kDispCountScribbix,
  kDispRenameX,
  kDispGroupExists,
  kDispShortCutExists,
  kDispFolderShortcutCreate,
  kDispCheckScribbixShortcut,
  kDispShortcutGroups,
  kDispCreateScribbixShortcut,
};
static_assert(kDispCreateScribbixShortcut == 0x60030012);

}  // namespace scribbixupdate

// The folder maintenance component's interface. Calling order: SetNameSpace first (the namespace
// of the logged-on profile), then any folder method. An upgrade is BeginUpdate, NextUpdate as
// many times as BeginUpdate returned, then EndUpdate.
struct _Update1 : IDispatch {
  static constexpr IID kIid = sx::com::guid("{B826482E-B493-40B7-8FC6-886257142AA3}");
  using Base = IDispatch;

  // slot 7: adds the personal folders file newPst to the profile and names it into the notes
  // layout ("VorlanSXUpdate" -> "Vorlan", "SXUpdate" -> "Scribbix"); a stage code (0: done).
  STDMETHOD(AddPst)(VARIANT* newPst, LONG* result) = 0;
  // slot 8: AddPst for an update store already in the profile.
  STDMETHOD(RenameUpdate)(LONG* result) = 0;
  // slot 9: 0 when a top-level folder named folderName exists, else the stage reached.
  STDMETHOD(FindFolder)(VARIANT* folderName, LONG* result) = 0;
  // slot 10: removes the store "VorlanSXUpdate" from the profile (its file stays); stage code.
  STDMETHOD(RemoveUpdateFolder)(LONG* result) = 0;
  // slot 11: removes the store "Vorlan" from the profile (its file stays); stage code, no message.
  STDMETHOD(RemoveScribbixFolder)(LONG* result) = 0;
  // slot 12: the 1-based index of the last COM add-in described anAddin (+0x10000 when
  // connected), 0 when none, or the error number plus the stage.
  STDMETHOD(FindAddIn)(VARIANT* anAddin, LONG* result) = 0;
  // slot 13: connects (flag True) or disconnects the first COM add-in described anAddin; its
  // index (+0x10000 when it was connected), 0 when none, or the error number plus the stage.
  STDMETHOD(SetAddIn)(VARIANT* anAddin, VARIANT* flag, LONG* result) = 0;
  // slot 14: carries the next note of the old notes folder into the new one; 0, or -1.
  STDMETHOD(NextUpdate)(LONG* result) = 0;
  // slot 15: adds the update store newPst and copies its folder into the notes store; the number
  // of notes to carry, or a code (0x80003001..0x80003040, kNotesFolderMissing).
  STDMETHOD(BeginUpdate)(VARIANT* newPst, VARIANT* newForm, LONG* result) = 0;
  // slot 16: puts the new folder in the old one's place and removes the update store; 0. Lets
  // Outlook's failures out; kUpgradeIncomplete when a note did not reach the new folder.
  STDMETHOD(EndUpdate)(LONG* result) = 0;
  // slot 17: keeps newNameSpace when none is held (1), else keeps the first (0).
  STDMETHOD(SetNameSpace)(_NameSpace** newNameSpace, LONG* result) = 0;
  // slot 18: the number of notes in the notes folder, kNotesFolderMissing or kNoNameSpace.
  STDMETHOD(CountScribbix)(LONG* result) = 0;
  // slot 19: renames the store root "Vorlan" to "VorlanSXUpdate"; 0x90000 when it did.
  STDMETHOD(RenameX)(LONG* result) = 0;
  // slot 20: whether the Outlook Bar has a group named sGroup.
  STDMETHOD(GroupExists)(VARIANT* sGroup, VARIANT_BOOL* result) = 0;
  // slot 21: whether the group sGroup holds a shortcut named sShortcut.
  STDMETHOD(ShortCutExists)(VARIANT* sShortcut, VARIANT* sGroup, VARIANT_BOOL* result) = 0;
  // slot 22: appends a shortcut to oFolder (a MAPIFolder), named as the folder, to group sGroup.
  // Lets every failure out.
  STDMETHOD(FolderShortcutCreate)(VARIANT* sGroup, MAPIFolder** oFolder) = 0;
  // slot 23: 1 when some group holds a shortcut "Scribbix", 0 when none does, or
  // kNoNameSpaceForShortcut, kNoExplorer, kNoOutlookBar.
  STDMETHOD(CheckScribbixShortcut)(LONG* result) = 0;
  // slot 24: the groups' names each followed by "," (Empty without a namespace).
  STDMETHOD(ShortcutGroups)(VARIANT* result) = 0;
  // slot 25: adds a shortcut to the notes folder to group vGroup; 0, kNoNameSpaceForShortcut or
  // kNotesFolderMissing.
  STDMETHOD(CreateScribbixShortcut)(VARIANT* vGroup, LONG* result) = 0;

 protected:
  ~_Update1() = default;
};

inline constexpr IID IID__Update1 = _Update1::kIid;
