// The conduit's binding of the Outlook access component ScribbixOut ("ScribbixOut.Class1"), as the
// type library import of the component gives it: the dual interface `_Class1`, bound by its IID and
// by slot (IDispatch's seven slots, then the thirteen methods below in this order).
//
// Every method returns S_OK and hands its 32-bit result through the last parameter (the component
// reports Outlook's failures there); every other parameter is a VARIANT owned by the caller and
// passed by reference, in and out. All calls come from the thread that created the object.
#pragma once

#include "com/dispatch.h"
#include "com/guid.h"
#include "com/variant.h"

inline constexpr char kScribbixOutProgId[] = "ScribbixOut.Class1";

struct _Class1 : IDispatch {
  static constexpr IID kIid = sx::com::guid("{1617160A-4398-40EC-9FFC-EDF458F120EA}");
  using Base = IDispatch;

  STDMETHOD(IsOutlookLoaded)(LONG* result) = 0;
  STDMETHOD(LoadOutlook)(LONG* result) = 0;
  STDMETHOD(UnloadOutlook)(LONG* result) = 0;
  STDMETHOD(LogonOutlook)(VARIANT* vtProfile, LONG* result) = 0;
  STDMETHOD(GetScribbixFolder)(LONG* result) = 0;
  STDMETHOD(BeginItem)(LONG* result) = 0;
  STDMETHOD(NextItem)(LONG* result) = 0;
  STDMETHOD(EndItem)(LONG* result) = 0;
  STDMETHOD(ReadItem)
  (VARIANT* aKey, VARIANT* aDate, VARIANT* aCreate, VARIANT* aModify, VARIANT* aBody,
   VARIANT* aCategory, VARIANT* aContact, VARIANT* aSense, VARIANT* aFlag, LONG* result) = 0;
  STDMETHOD(NewItem)
  (VARIANT* aKey, VARIANT* aDate, VARIANT* aSubject, VARIANT* aBody, VARIANT* aCategory,
   VARIANT* aContact, VARIANT* aSense, VARIANT* aFlag, VARIANT* aFormat, LONG* result) = 0;
  STDMETHOD(UpdateItem)
  (VARIANT* aKey, VARIANT* aDate, VARIANT* aSubject, VARIANT* aBody, VARIANT* aCategory,
   VARIANT* aContact, VARIANT* aSense, VARIANT* aFlag, VARIANT* aFormat, LONG* result) = 0;
  STDMETHOD(DeleteItem)(VARIANT* aKey, LONG* result) = 0;
  STDMETHOD(OutlookVersionString)(VARIANT* aRest, LONG* result) = 0;

 protected:
  ~_Class1() = default;
};
