// Class1, ScribbixOut's one creatable class: every read and write of note posts for the conduit
// (scribbixout/scribbixout.h gives the interface and each method's results).
//
// Apartment-threaded: all calls come from the creating thread (the conduit's Outlook thread); a
// call from another thread returns RPC_E_WRONG_THREAD. Outlook's objects are held through the
// proxies that creation hands to this apartment. Methods catch every Outlook error, give it as
// their result, and leave its source and description as this thread's error information.
#pragma once

#include <string>

#include "comdef.h"
#include "outlook/outlook.h"
#include "position_index.h"
#include "scribbixout/scribbixout.h"
#include "windows.h"

namespace sx::assist {

class Class1 : public sx::com::DispatchObject<_Class1, ISupportErrorInfo> {
 public:
  Class1();
  ~Class1() override;

  STDMETHODIMP IsOutlookLoaded(LONG* result) override;
  STDMETHODIMP LoadOutlook(LONG* result) override;
  STDMETHODIMP UnloadOutlook(LONG* result) override;
  STDMETHODIMP LogonOutlook(VARIANT* vtProfile, LONG* result) override;
  STDMETHODIMP GetScribbixFolder(LONG* result) override;
  STDMETHODIMP BeginItem(LONG* result) override;
  STDMETHODIMP NextItem(LONG* result) override;
  STDMETHODIMP EndItem(LONG* result) override;
  STDMETHODIMP ReadItem(VARIANT* aKey, VARIANT* aDate, VARIANT* aCreate, VARIANT* aModify,
                        VARIANT* aBody, VARIANT* aCategory, VARIANT* aContact, VARIANT* aSense,
                        VARIANT* aFlag, LONG* result) override;
  STDMETHODIMP NewItem(VARIANT* aKey, VARIANT* aDate, VARIANT* aSubject, VARIANT* aBody,
                       VARIANT* aCategory, VARIANT* aContact, VARIANT* aSense, VARIANT* aFlag,
                       VARIANT* aFormat, LONG* result) override;
  STDMETHODIMP UpdateItem(VARIANT* aKey, VARIANT* aDate, VARIANT* aSubject, VARIANT* aBody,
                          VARIANT* aCategory, VARIANT* aContact, VARIANT* aSense, VARIANT* aFlag,
                          VARIANT* aFormat, LONG* result) override;
  STDMETHODIMP DeleteItem(VARIANT* aKey, LONG* result) override;
  STDMETHODIMP OutlookVersionString(VARIANT* aRest, LONG* result) override;

  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;

 protected:
  const sx::com::DispatchTable& dispatch_table() const override { return table_; }

 private:
  void build_dispatch_table();
  LONG read_item(VARIANT* aKey, VARIANT* aDate, VARIANT* aCreate, VARIANT* aModify, VARIANT* aBody,
                 VARIANT* aCategory, VARIANT* aContact, VARIANT* aSense, VARIANT* aFlag);
  LONG new_item(VARIANT* aKey, VARIANT* aDate, VARIANT* aSubject, VARIANT* aBody,
                VARIANT* aCategory, VARIANT* aContact, VARIANT* aSense, VARIANT* aFlag,
                VARIANT* aFormat);
  LONG update_item(VARIANT* aKey, VARIANT* aDate, VARIANT* aSubject, VARIANT* aBody,
                   VARIANT* aCategory, VARIANT* aContact, VARIANT* aSense, VARIANT* aFlag,
                   VARIANT* aFormat);
  LONG delete_item(VARIANT* aKey);
  // The 1-based position of the post with entry id `entry_id` in the open collection, or 0.
  LONG position_of(const std::u16string& entry_id);

  // State, in the order the component keeps it.
  sx::com::ComPtr<_Application> application_;
  sx::com::ComPtr<_NameSpace> session_;
  sx::com::ComPtr<_Folders> top_folders_;
  sx::com::ComPtr<MAPIFolder> notes_folder_;
  LONG item_index_ = 0;  // 0 before the first item, n after the n-th, -1 after the last
  sx::com::ComPtr<_OutlookItem> current_item_;
  sx::com::ComPtr<_Items> items_;
  std::u16string version_;

  // Positions of the open collection's posts by entry id, so that a delete need not read every
  // post before the one it removes (filled at the first delete, checked before each use).
  PositionIndex positions_;
  sx::com::DispatchTable table_;
};

}  // namespace sx::assist
