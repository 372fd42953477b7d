// ScribbixOut's type library as a client imports it: the identity of the access component and its
// dual interface _Class1 in slot order (IUnknown's three, IDispatch's four, then the thirteen
// methods below). Callers bind by these values and by slot order; they never change.
//
// Every method returns S_OK and hands its 32-bit result through the last parameter; every other
// parameter is a VARIANT passed by reference (in/out), owned by the caller. A method reports an
// Outlook failure through its result, never through the HRESULT, and leaves the failure's error
// information (source, description) set on the calling thread (GetErrorInfo). Failing HRESULTs
// come only from the COM runtime's own failures: RPC_E_WRONG_THREAD for a call from another
// thread than the creator's (the class is apartment-threaded), E_POINTER for a null result pointer,
// E_OUTOFMEMORY.
#pragma once

#include "objbase.h"

namespace scribbixout {

// Type library "ScribbixOut" 1.0, help string "Outlook Interface for Scribbix", locale 0x409.
inline constexpr GUID kLibid = sx::com::guid("{F0817932-2C04-4DF0-B0B6-BF72E7F2A200}");
inline constexpr char kLibraryName[] = "ScribbixOut";
inline constexpr char kLibraryHelpString[] = "Outlook Interface for Scribbix";
inline constexpr LCID kLibraryLocale = 0x409;

// Class1: creatable, apartment-threaded, default interface _Class1.
inline constexpr CLSID kClass1Clsid = sx::com::guid("{6BEB7231-FE61-4182-8FCA-ECF40038A83C}");
inline constexpr char kClass1ProgId[] = "ScribbixOut.Class1";

// Results the methods give.
inline constexpr LONG kFolderNotFound = static_cast<LONG>(0x80770000u);  // GetScribbixFolder

// Dispatch ids of the methods, in slot order from 0x60030000.
enum Class1DispId : DISPID {
  kDispIsOutlookLoaded = 0x60030000,
  kDispLoadOutlook,
  kDispUnloadOutlook,
  kDispLogonOutlook,
  kDispGetScribbixFolder,
  kDispBeginItem,
  kDispNextItem,
  kDispEndItem,
  kDispReadItem,
  kDispNewItem,
  kDispUpdateItem,
  kDispDeleteItem,
  kDispOutlookVersionString,
};
static_assert(kDispOutlookVersionString == 0x6003000C);

}  // namespace scribbixout

// The access component's interface. Calling order: LoadOutlook, LogonOutlook, GetScribbixFolder,
// BeginItem; then NextItem/ReadItem walk the notes folder while NewItem, UpdateItem and DeleteItem
// work on the same open collection until EndItem; UnloadOutlook ends everything.
struct _Class1 : IDispatch {
  static constexpr IID kIid = sx::com::guid("{1617160A-4398-40EC-9FFC-EDF458F120EA}");
  using Base = IDispatch;

  // slot 7: 1 when the MAPI session is held, else 0.
  STDMETHOD(IsOutlookLoaded)(LONG* result) = 0;
  // slot 8: starts or attaches to Outlook; 0, or -1.
  STDMETHOD(LoadOutlook)(LONG* result) = 0;
  // slot 9: releases every Outlook object (logging off the session); always 0.
  STDMETHOD(UnloadOutlook)(LONG* result) = 0;
  // slot 10: logs on to the profile named by vtProfile (Empty, Null or "": Outlook's choice, its
  // chooser allowed); 0, or -1.
  STDMETHOD(LogonOutlook)(VARIANT* vtProfile, LONG* result) = 0;
  // slot 11: finds "Vorlan"\"Scribbix"; 0, kFolderNotFound, or -1 without a session or on error.
  STDMETHOD(GetScribbixFolder)(LONG* result) = 0;
  // slot 12: opens the notes folder's items; their count, or -1.
  STDMETHOD(BeginItem)(LONG* result) = 0;
  // slot 13: fetches the next item; its 1-based index, or -1 at the end or on error.
  STDMETHOD(NextItem)(LONG* result) = 0;
  // slot 14: closes the item collection; 0, or -1.
  STDMETHOD(EndItem)(LONG* result) = 0;
  // slot 15: reads the current item into the nine arguments (filled with the values), stamping
  // missing note properties; 0, or minus the failing step (a further -128 when the item could not
  // be closed either, or there is none).
  STDMETHOD(ReadItem)
  (VARIANT* aKey, VARIANT* aDate, VARIANT* aCreate, VARIANT* aModify, VARIANT* aBody,
   VARIANT* aCategory, VARIANT* aContact, VARIANT* aSense, VARIANT* aFlag, LONG* result) = 0;
  // slot 16: adds a note post; the mask of the steps done (negative on failure), -1 without an
  // open collection.
  STDMETHOD(NewItem)
  (VARIANT* aKey, VARIANT* aDate, VARIANT* aSubject, VARIANT* aBody, VARIANT* aCategory,
   VARIANT* aContact, VARIANT* aSense, VARIANT* aFlag, VARIANT* aFormat, LONG* result) = 0;
  // slot 17: rewrites the post whose "ScribKey" is aKey; 0 (also when there is none or no open
  // collection), or the code of the step reached when it failed.
  STDMETHOD(UpdateItem)
  (VARIANT* aKey, VARIANT* aDate, VARIANT* aSubject, VARIANT* aBody, VARIANT* aCategory,
   VARIANT* aContact, VARIANT* aSense, VARIANT* aFlag, VARIANT* aFormat, LONG* result) = 0;
  // slot 18: removes the post whose "ScribKey" is aKey; its 1-based position, 0 when none has it,
  // -1 without an open collection.
  STDMETHOD(DeleteItem)(VARIANT* aKey, LONG* result) = 0;
  // slot 19: aRest := Outlook's version text (VT_BSTR); result: its major number (0 when none).
  STDMETHOD(OutlookVersionString)(VARIANT* aRest, LONG* result) = 0;

 protected:
  ~_Class1() = default;
};

inline constexpr IID IID__Class1 = _Class1::kIid;
