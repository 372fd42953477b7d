// Outlook's object model, as the stand-in offers it: typed interfaces in slot order (IUnknown's
// three, IDispatch's four, then the object's own members in the order listed here), the member
// names of Outlook's type library in the raw accessor style (`get_Count`, `put_Name`, `GetFirst`),
// and the constants the system uses. Include this as Outlook's type library would be imported.
//
// Conventions of every method:
// - Apartment: Outlook's objects belong to the thread that started Outlook in this process; a call
//   from another thread returns RPC_E_WRONG_THREAD and does nothing.
// - Failures return a failing HRESULT and set error information (IErrorInfo) with the source
//   "Microsoft Outlook" and a description, as Outlook's automation errors do. Injected faults
//   (sx/outlook/faults.h) carry the source and description they were given.
// - [out] BSTRs, VARIANTs and interfaces belong to the caller; [in] ones are borrowed.
// - "Nothing" results (GetNext past the end, Find without a match, UserProperties.Find of an absent
//   name) return S_OK with a null pointer.
// - Every object also answers IDispatch by member name (GetIDsOfNames/Invoke) for the members
//   listed here, property gets and puts alike, without type information.
// - Saved state lives in store files; property changes of an item stay in that item object until
//   Save or Close(olSave).
#pragma once

#include "comdef.h"
#include "outlook/connection_points.h"

struct _Application;
struct _NameSpace;
struct _Folders;
struct MAPIFolder;
struct _Items;
struct UserProperties;
struct UserProperty;
struct Links;
struct Link;

// OlItemType (Application.CreateItem, Items.Add, MAPIFolder.DefaultItemType).
enum OlItemType : LONG { olMailItem = 0, olContactItem = 2, olPostItem = 6 };
// OlObjectClass (an item's Class).
enum OlObjectClass : LONG { olContact = 40, olMail = 43, olPost = 45 };
// OlDefaultFolders (NameSpace.GetDefaultFolder).
enum OlDefaultFolders : LONG { olFolderInbox = 6, olFolderContacts = 10 };
// OlInspectorClose (an item's Close).
enum OlInspectorClose : LONG { olSave = 0, olDiscard = 1, olPromptForSave = 2 };
// OlUserPropertyType.
enum OlUserPropertyType : LONG { olText = 1, olNumber = 3, olDateTime = 5, olYesNo = 6 };
// OlSensitivity.
enum OlSensitivity : LONG { olNormal = 0, olPersonal = 1, olPrivate = 2, olConfidential = 3 };
// OlBodyFormat.
enum OlBodyFormat : LONG {
  olFormatUnspecified = 0,
  olFormatPlain = 1,
  olFormatHTML = 2,
  olFormatRichText = 3
};
// OlImportance.
enum OlImportance : LONG { olImportanceLow = 0, olImportanceNormal = 1, olImportanceHigh = 2 };

// The date Outlook shows as "None" (1 January 4501): the times of an item never saved.
inline constexpr DATE kOutlookNoDate = 949998.0;

inline constexpr CLSID CLSID_OutlookApplication =
    sx::com::guid("{0006F03A-0000-0000-C000-000000000046}");

struct _Application : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063001-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  STDMETHOD(get_Version)(BSTR* version) = 0;  // the file version of the installed OUTLOOK.EXE
  STDMETHOD(get_Name)(BSTR* name) = 0;        // "Outlook"
  // Only "MAPI" is known; other types fail with E_INVALIDARG.
  STDMETHOD(GetNamespace)(BSTR type, _NameSpace** ns) = 0;
  // An unsaved item of the kind (olMailItem, olContactItem, olPostItem); saving it puts it in the
  // default folder of its kind in the default store (contacts: the Contacts folder; others: Inbox).
  STDMETHOD(CreateItem)(LONG item_type, IDispatch** item) = 0;
  // Logs off; objects stay usable until released (Outlook ends with the last reference).
  STDMETHOD(Quit)() = 0;

 protected:
  ~_Application() = default;
};

struct _NameSpace : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063002-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  STDMETHOD(get_Type)(BSTR* type) = 0;                // "MAPI"
  STDMETHOD(get_CurrentProfileName)(BSTR* name) = 0;  // "" before logon
  // The store roots of the profile in the order the stores were added (logs on to the default
  // profile first when not logged on).
  STDMETHOD(get_Folders)(_Folders** folders) = 0;
  // Logs on to `profile` (text; Empty, omitted or "" means the default profile). Already logged on:
  // S_OK and nothing changes. An unknown profile fails with MAPI_E_LOGON_FAILED (0x80040111).
  STDMETHOD(Logon)(VARIANT profile, VARIANT password, VARIANT show_dialog, VARIANT new_session) = 0;
  STDMETHOD(Logoff)() = 0;
  // olFolderContacts / olFolderInbox of the default (first) store; MAPI_E_NOT_FOUND when it has
  // none.
  STDMETHOD(GetDefaultFolder)(LONG folder_type, MAPIFolder** folder) = 0;
  // Opens the store file at the Windows path (creating it when missing, its root named
  // "Personal Folders") and adds it to the profile, which keeps it for the next logon. A store
  // already in the profile is not added twice.
  STDMETHOD(AddStore)(VARIANT path) = 0;
  // Removes the store whose root is `root` from the profile (the file stays). E_INVALIDARG when
  // `root` is not a store root of this session.
  STDMETHOD(RemoveStore)(MAPIFolder* root) = 0;
  // The item with this entry id in any open store; MAPI_E_NOT_FOUND when none has it.
  STDMETHOD(GetItemFromID)(BSTR entry_id, VARIANT store_id, IDispatch** item) = 0;

 protected:
  ~_NameSpace() = default;
};

struct _Folders : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063040-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  STDMETHOD(get_Count)(LONG* count) = 0;
  // By 1-based index (DISP_E_BADINDEX outside 1..Count) or by name, compared without regard to case
  // (MAPI_E_NOT_FOUND when absent).
  STDMETHOD(Item)(VARIANT index, MAPIFolder** folder) = 0;
  // A new subfolder (its default item type from `type`, else the parent's). Fails for store roots'
  // collection and for a name already used.
  STDMETHOD(Add)(BSTR name, VARIANT type, MAPIFolder** folder) = 0;
  STDMETHOD(GetFirst)(MAPIFolder** folder) = 0;
  STDMETHOD(GetNext)(MAPIFolder** folder) = 0;  // null past the end
  STDMETHOD(GetLast)(MAPIFolder** folder) = 0;
  // Deletes the folder at the 1-based index with everything in it; for the store roots' collection
  // it removes the store from the profile.
  STDMETHOD(Remove)(LONG index) = 0;

 protected:
  ~_Folders() = default;
};

struct MAPIFolder : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063006-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  STDMETHOD(get_Name)(BSTR* name) = 0;
  STDMETHOD(put_Name)(BSTR name) = 0;  // saved at once
  STDMETHOD(get_Folders)(_Folders** folders) = 0;
  STDMETHOD(get_Items)(_Items** items) = 0;
  // The parent folder; a store root's parent is the NameSpace (not a folder).
  STDMETHOD(get_Parent)(IDispatch** parent) = 0;
  STDMETHOD(get_DefaultItemType)(LONG* type) = 0;
  STDMETHOD(get_DefaultMessageClass)(BSTR* message_class) = 0;
  STDMETHOD(get_EntryID)(BSTR* id) = 0;
  STDMETHOD(get_StoreID)(BSTR* id) = 0;
  // Copies this folder, its subfolders and their items into `destination` and returns the copy.
  STDMETHOD(CopyTo)(MAPIFolder* destination, MAPIFolder** copy) = 0;
  // Deletes the folder and everything in it (not a store root).
  STDMETHOD(Delete)() = 0;

 protected:
  ~MAPIFolder() = default;
};

struct _Items : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063041-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  STDMETHOD(get_Count)(LONG* count) = 0;
  // By 1-based index, or by subject text (MAPI_E_NOT_FOUND when none has it).
  STDMETHOD(Item)(VARIANT index, IDispatch** item) = 0;
  // A new unsaved item in this folder: Empty/omitted gives the folder's default message class, a
  // number an OlItemType, a text a message class ("IPM.Post", "IPM.Contact.X", ...).
  STDMETHOD(Add)(VARIANT type, IDispatch** item) = 0;
  // The first item matching the filter (sx/outlook/filter.h), or null. A filter that cannot be read
  // fails with E_INVALIDARG.
  STDMETHOD(Find)(BSTR filter, IDispatch** item) = 0;
  STDMETHOD(FindNext)(IDispatch** item) = 0;  // the next match after the last Find/FindNext
  STDMETHOD(GetFirst)(IDispatch** item) = 0;
  STDMETHOD(GetNext)(IDispatch** item) = 0;  // null past the end
  STDMETHOD(GetLast)(IDispatch** item) = 0;
  // Deletes the item at the 1-based index (raises ItemRemove).
  STDMETHOD(Remove)(LONG index) = 0;
  // The matching items, as a collection of its own (taken now; it does not follow later changes).
  STDMETHOD(Restrict)(BSTR filter, _Items** items) = 0;

 protected:
  ~_Items() = default;
};

// Members every item kind shares, in one slot order: posts, contacts and mail derive from it.
struct _OutlookItem : IDispatch {
  static constexpr IID kIid = sx::com::guid("{000630FF-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  STDMETHOD(get_Class)(LONG* object_class) = 0;
  STDMETHOD(get_EntryID)(BSTR* id) = 0;  // "" before the first save
  STDMETHOD(get_Parent)(IDispatch** folder) = 0;
  STDMETHOD(get_MessageClass)(BSTR* value) = 0;
  STDMETHOD(put_MessageClass)(BSTR value) = 0;
  STDMETHOD(get_Subject)(BSTR* value) = 0;
  STDMETHOD(put_Subject)(BSTR value) = 0;
  STDMETHOD(get_Body)(BSTR* value) = 0;
  STDMETHOD(put_Body)(BSTR value) = 0;
  STDMETHOD(get_HTMLBody)(BSTR* value) = 0;
  STDMETHOD(put_HTMLBody)(BSTR value) = 0;  // also sets BodyFormat to olFormatHTML
  STDMETHOD(get_BodyFormat)(LONG* value) = 0;
  STDMETHOD(put_BodyFormat)(LONG value) = 0;
  STDMETHOD(get_Categories)(BSTR* value) = 0;
  STDMETHOD(put_Categories)(BSTR value) = 0;
  STDMETHOD(get_Sensitivity)(LONG* value) = 0;
  STDMETHOD(put_Sensitivity)(LONG value) = 0;
  STDMETHOD(get_Importance)(LONG* value) = 0;
  STDMETHOD(put_Importance)(LONG value) = 0;
  STDMETHOD(get_BillingInformation)(BSTR* value) = 0;
  STDMETHOD(put_BillingInformation)(BSTR value) = 0;
  STDMETHOD(get_Companies)(BSTR* value) = 0;
  STDMETHOD(put_Companies)(BSTR value) = 0;
  // Set by the first save, the last save, and (posts and mail) the first save; kOutlookNoDate
  // before.
  STDMETHOD(get_CreationTime)(DATE* value) = 0;
  STDMETHOD(get_LastModificationTime)(DATE* value) = 0;
  STDMETHOD(get_ReceivedTime)(DATE* value) = 0;
  STDMETHOD(get_Saved)(VARIANT_BOOL* saved) = 0;  // no unsaved changes
  STDMETHOD(get_UserProperties)(UserProperties** properties) = 0;
  STDMETHOD(get_Links)(Links** links) = 0;
  // Writes the item (ItemAdd to its folder's watchers the first time, ItemChange after).
  STDMETHOD(Save)() = 0;
  // olSave saves (even an unchanged new item); olDiscard and olPromptForSave drop unsaved changes.
  STDMETHOD(Close)(LONG mode) = 0;
  // A saved copy in the same folder (ItemAdd there), with this item's unsaved changes.
  STDMETHOD(Copy)(IDispatch** copy) = 0;
  // Saves this item (with its changes) into `destination` and returns the moved item (ItemRemove
  // in the old folder, ItemAdd in the new). This object then refers to nothing that can be saved.
  STDMETHOD(Move)(MAPIFolder* destination, IDispatch** moved) = 0;
  STDMETHOD(Delete)() = 0;  // ItemRemove in its folder

 protected:
  ~_OutlookItem() = default;
};

struct _PostItem : _OutlookItem {
  static constexpr IID kIid = sx::com::guid("{00063024-0000-0000-C000-000000000046}");
  using Base = _OutlookItem;

 protected:
  ~_PostItem() = default;
};

struct _MailItem : _OutlookItem {
  static constexpr IID kIid = sx::com::guid("{00063034-0000-0000-C000-000000000046}");
  using Base = _OutlookItem;

 protected:
  ~_MailItem() = default;
};

struct _ContactItem : _OutlookItem {
  static constexpr IID kIid = sx::com::guid("{00063021-0000-0000-C000-000000000046}");
  using Base = _OutlookItem;
  STDMETHOD(get_LastName)(BSTR* value) = 0;
  STDMETHOD(put_LastName)(BSTR value) = 0;
  STDMETHOD(get_FirstName)(BSTR* value) = 0;
  STDMETHOD(put_FirstName)(BSTR value) = 0;
  STDMETHOD(get_CompanyName)(BSTR* value) = 0;
  STDMETHOD(put_CompanyName)(BSTR value) = 0;
  STDMETHOD(get_FullName)(BSTR* value) = 0;  // first and last name joined by a blank

 protected:
  ~_ContactItem() = default;
};

struct UserProperties : IDispatch {
  static constexpr IID kIid = sx::com::guid("{0006303D-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  STDMETHOD(get_Count)(LONG* count) = 0;
  // By 1-based index or name (MAPI_E_NOT_FOUND / DISP_E_BADINDEX when absent).
  STDMETHOD(Item)(VARIANT index, UserProperty** property) = 0;
  // Adds a property of `type` (olText, olNumber, olDateTime, olYesNo; others E_INVALIDARG) with an
  // empty value ("", 0, kOutlookNoDate, False). An existing name of the same type is returned as it
  // is; of another type it fails with E_INVALIDARG. The last two arguments are accepted and kept
  // nowhere (they concern Outlook's views).
  STDMETHOD(Add)
  (BSTR name, LONG type, VARIANT add_to_folder_fields, VARIANT display_format,
   UserProperty** property) = 0;
  STDMETHOD(Find)(BSTR name, VARIANT custom, UserProperty** property) = 0;  // null when absent
  STDMETHOD(Remove)(LONG index) = 0;

 protected:
  ~UserProperties() = default;
};

struct UserProperty : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063042-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  STDMETHOD(get_Name)(BSTR* name) = 0;
  STDMETHOD(get_Type)(LONG* type) = 0;
  // Text as VT_BSTR, number as VT_R8 (whatever was stored), date as VT_DATE, yes/no as VT_BOOL.
  STDMETHOD(get_Value)(VARIANT* value) = 0;
  // Converted to the property's type; DISP_E_TYPEMISMATCH when it cannot be.
  STDMETHOD(put_Value)(VARIANT value) = 0;

 protected:
  ~UserProperty() = default;
};

struct Links : IDispatch {
  static constexpr IID kIid = sx::com::guid("{0006308A-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  STDMETHOD(get_Count)(LONG* count) = 0;
  STDMETHOD(Item)(VARIANT index, Link** link) = 0;  // 1-based, or by name
  // Links a saved contact (E_INVALIDARG for anything else).
  STDMETHOD(Add)(IDispatch* item, Link** link) = 0;
  STDMETHOD(Remove)(VARIANT index) = 0;

 protected:
  ~Links() = default;
};

struct Link : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063089-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  STDMETHOD(get_Name)(BSTR* name) = 0;
  STDMETHOD(get_Type)(LONG* type) = 0;  // olContact
  // The linked contact; MAPI_E_NOT_FOUND when it is in no open store any more.
  STDMETHOD(get_Item)(IDispatch** item) = 0;

 protected:
  ~Link() = default;
};

// The events of a folder's items. A sink implements this interface and connects through the
// IConnectionPointContainer of any Items collection of the folder (FindConnectionPoint with
// ItemsEvents::kIid, then Advise); it hears about every change of that folder made in this
// process, on Outlook's thread, after the change is saved. Failures of a sink are ignored.
struct ItemsEvents : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063077-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  STDMETHOD(ItemAdd)(IDispatch* item) = 0;
  STDMETHOD(ItemChange)(IDispatch* item) = 0;
  STDMETHOD(ItemRemove)() = 0;

 protected:
  ~ItemsEvents() = default;
};

// MAPI's error codes that Outlook's automation errors carry.
#define MAPI_E_NOT_FOUND static_cast<HRESULT>(0x8004010Fu)
#define MAPI_E_LOGON_FAILED static_cast<HRESULT>(0x80040111u)
#define MAPI_E_OBJECT_DELETED static_cast<HRESULT>(0x8004010Au)
#define MAPI_E_CORRUPT_DATA static_cast<HRESULT>(0x8004011Bu)
