// Outlook's object model, as the stand-in offers it: typed interfaces in slot order (IUnknown's
// three, IDispatch's four, then the object's own members in the order listed here), the member
// names of Outlook's type library in the raw accessor style (`get_Count`, `put_Name`, `GetFirst`),
// and the constants the system uses. Include this as Outlook's type library would be imported.
//
// Outlook behaves as a process of its own (docs/outlook.md): its objects live on Outlook's thread.
// Creating "Outlook.Application" starts Outlook or reaches the running one; a client gets proxies
// (com/proxy.h) whose calls run on Outlook's thread, one at a time, while the client waits. Add-ins
// live on Outlook's thread and get the objects themselves.
//
// Conventions of every method:
// - Apartment: a proxy works in the apartment it was handed to; a call from another thread returns
//   RPC_E_WRONG_THREAD and does nothing. After Outlook ended, calls return RPC_E_DISCONNECTED.
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
#include "outlook/office.h"

struct _Application;
struct _NameSpace;
struct _Folders;
struct MAPIFolder;
struct _Items;
struct UserProperties;
struct UserProperty;
struct Links;
struct Link;
struct _Explorers;
struct _Explorer;
struct _Inspectors;
struct _Inspector;
struct Panes;
struct _OutlookBarStorage;
struct _OutlookBarGroups;
struct _OutlookBarGroup;
struct _OutlookBarShortcuts;
struct _OutlookBarShortcut;

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

#define SX_OUTLOOK_APPLICATION_MEMBERS(M)                                                      \
  /* the file version of the installed OUTLOOK.EXE */                                          \
  M(get_Version, (BSTR*, version))                                                             \
  /* "Outlook" */                                                                              \
  M(get_Name, (BSTR*, name))                                                                   \
  /* Only "MAPI" is known; other types fail with E_INVALIDARG. */                              \
  M(GetNamespace, (BSTR, type), (_NameSpace**, ns))                                            \
  /* An unsaved item of the kind (olMailItem, olContactItem, olPostItem); saving it puts it in \
     the default folder of its kind in the default store (contacts: the Contacts folder;       \
     others: Inbox). */                                                                        \
  M(CreateItem, (LONG, item_type), (IDispatch**, item))                                        \
  /* Ends Outlook now: add-ins are disconnected, the session logged off, store files closed,   \
     and every client's proxies are cut off (RPC_E_DISCONNECTED from then on). */              \
  M(Quit)                                                                                      \
  /* The COM add-ins Outlook found when it started. */                                         \
  M(get_COMAddIns, (COMAddIns**, addins))                                                      \
  /* The open explorer windows, in the order they were opened. */                              \
  M(get_Explorers, (_Explorers**, explorers))                                                  \
  /* The explorer shown last that is still open; null when Outlook shows none (started by      \
     automation without a window). */                                                          \
  M(get_ActiveExplorer, (_Explorer**, explorer))                                               \
  /* The open inspector windows, in the order they were opened. */                             \
  M(get_Inspectors, (_Inspectors**, inspectors))

struct _Application : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063001-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_APPLICATION_MEMBERS)

 protected:
  ~_Application() = default;
};

#define SX_OUTLOOK_NAME_SPACE_MEMBERS(M)                                                        \
  /* "MAPI" */                                                                                  \
  M(get_Type, (BSTR*, type))                                                                    \
  /* "" before logon */                                                                         \
  M(get_CurrentProfileName, (BSTR*, name))                                                      \
  /* The store roots of the profile in the order the stores were added (logs on to the default  \
     profile first when not logged on). */                                                      \
  M(get_Folders, (_Folders**, folders))                                                         \
  /* Logs on to `profile` (text). Empty, omitted or "" means the default profile, or, when the  \
     machine asks for a profile ("Choose Profile", docs/outlook.md) or `show_dialog` is True,   \
     the profile a person chooses (MAPI_E_USER_CANCEL when cancelled). Already logged on: S_OK  \
     and nothing changes. An unknown profile fails with MAPI_E_LOGON_FAILED (0x80040111). */    \
  M(Logon, (VARIANT, profile), (VARIANT, password), (VARIANT, show_dialog),                     \
    (VARIANT, new_session))                                                                     \
  M(Logoff)                                                                                     \
  /* olFolderContacts / olFolderInbox of the default (first) store; MAPI_E_NOT_FOUND when it    \
     has none. */                                                                               \
  M(GetDefaultFolder, (LONG, folder_type), (MAPIFolder**, folder))                              \
  /* Opens the store file at the Windows path (creating it when missing, its root named         \
     "Personal Folders") and adds it to the profile, which keeps it for the next logon. A store \
     already in the profile is not added twice. */                                              \
  M(AddStore, (VARIANT, path))                                                                  \
  /* Removes the store whose root is `root` from the profile (the file stays). E_INVALIDARG     \
     when `root` is not a store root of this session. */                                        \
  M(RemoveStore, (MAPIFolder*, root))                                                           \
  /* The item with this entry id in any open store; MAPI_E_NOT_FOUND when none has it. */       \
  M(GetItemFromID, (BSTR, entry_id), (VARIANT, store_id), (IDispatch**, item))

struct _NameSpace : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063002-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_NAME_SPACE_MEMBERS)

 protected:
  ~_NameSpace() = default;
};

#define SX_OUTLOOK_FOLDERS_MEMBERS(M)                                                           \
  M(get_Count, (LONG*, count))                                                                  \
  /* By 1-based index (DISP_E_BADINDEX outside 1..Count) or by name, compared without regard to \
     case (MAPI_E_NOT_FOUND when absent). */                                                    \
  M(Item, (VARIANT, index), (MAPIFolder**, folder))                                             \
  /* A new subfolder (its default item type from `type`, else the parent's). Fails for store    \
     roots' collection and for a name already used. */                                          \
  M(Add, (BSTR, name), (VARIANT, type), (MAPIFolder**, folder))                                 \
  M(GetFirst, (MAPIFolder**, folder))                                                           \
  /* null past the end */                                                                       \
  M(GetNext, (MAPIFolder**, folder))                                                            \
  M(GetLast, (MAPIFolder**, folder))                                                            \
  /* Deletes the folder at the 1-based index with everything in it; for the store roots'        \
     collection it removes the store from the profile. */                                       \
  M(Remove, (LONG, index))

struct _Folders : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063040-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_FOLDERS_MEMBERS)

 protected:
  ~_Folders() = default;
};

#define SX_OUTLOOK_MAPI_FOLDER_MEMBERS(M)                                                  \
  M(get_Name, (BSTR*, name))                                                               \
  /* saved at once */                                                                      \
  M(put_Name, (BSTR, name))                                                                \
  M(get_Folders, (_Folders**, folders))                                                    \
  M(get_Items, (_Items**, items))                                                          \
  /* The parent folder; a store root's parent is the NameSpace (not a folder). */          \
  M(get_Parent, (IDispatch**, parent))                                                     \
  M(get_DefaultItemType, (LONG*, type))                                                    \
  M(get_DefaultMessageClass, (BSTR*, message_class))                                       \
  M(get_EntryID, (BSTR*, id))                                                              \
  M(get_StoreID, (BSTR*, id))                                                              \
  /* Copies this folder, its subfolders and their items into `destination` and returns the \
     copy. */                                                                              \
  M(CopyTo, (MAPIFolder*, destination), (MAPIFolder**, copy))                              \
  /* Deletes the folder and everything in it (not a store root). */                        \
  M(Delete)

struct MAPIFolder : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063006-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_MAPI_FOLDER_MEMBERS)

 protected:
  ~MAPIFolder() = default;
};

#define SX_OUTLOOK_ITEMS_MEMBERS(M)                                                             \
  M(get_Count, (LONG*, count))                                                                  \
  /* By 1-based index, or by subject text (MAPI_E_NOT_FOUND when none has it). */               \
  M(Item, (VARIANT, index), (IDispatch**, item))                                                \
  /* A new unsaved item in this folder: Empty/omitted gives the folder's default message class, \
     a number an OlItemType, a text a message class ("IPM.Post", "IPM.Contact.X", ...). */      \
  M(Add, (VARIANT, type), (IDispatch**, item))                                                  \
  /* The first item matching the filter (sx/outlook/filter.h), or null. A filter that cannot be \
     read fails with E_INVALIDARG. */                                                           \
  M(Find, (BSTR, filter), (IDispatch**, item))                                                  \
  /* the next match after the last Find/FindNext */                                             \
  M(FindNext, (IDispatch**, item))                                                              \
  M(GetFirst, (IDispatch**, item))                                                              \
  /* null past the end */                                                                       \
  M(GetNext, (IDispatch**, item))                                                               \
  M(GetLast, (IDispatch**, item))                                                               \
  /* Deletes the item at the 1-based index (raises ItemRemove). */                              \
  M(Remove, (LONG, index))                                                                      \
  /* The matching items, as a collection of its own (taken now; it does not follow later        \
     changes). */                                                                               \
  M(Restrict, (BSTR, filter), (_Items**, items))

struct _Items : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063041-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_ITEMS_MEMBERS)

 protected:
  ~_Items() = default;
};

// Members every item kind shares, in one slot order: posts, contacts and mail derive from it.
#define SX_OUTLOOK_OUTLOOK_ITEM_MEMBERS(M)                                                      \
  M(get_Class, (LONG*, object_class))                                                           \
  /* "" before the first save */                                                                \
  M(get_EntryID, (BSTR*, id))                                                                   \
  M(get_Parent, (IDispatch**, folder))                                                          \
  M(get_MessageClass, (BSTR*, value))                                                           \
  M(put_MessageClass, (BSTR, value))                                                            \
  M(get_Subject, (BSTR*, value))                                                                \
  M(put_Subject, (BSTR, value))                                                                 \
  M(get_Body, (BSTR*, value))                                                                   \
  M(put_Body, (BSTR, value))                                                                    \
  M(get_HTMLBody, (BSTR*, value))                                                               \
  /* also sets BodyFormat to olFormatHTML */                                                    \
  M(put_HTMLBody, (BSTR, value))                                                                \
  M(get_BodyFormat, (LONG*, value))                                                             \
  M(put_BodyFormat, (LONG, value))                                                              \
  M(get_Categories, (BSTR*, value))                                                             \
  M(put_Categories, (BSTR, value))                                                              \
  M(get_Sensitivity, (LONG*, value))                                                            \
  M(put_Sensitivity, (LONG, value))                                                             \
  M(get_Importance, (LONG*, value))                                                             \
  M(put_Importance, (LONG, value))                                                              \
  M(get_BillingInformation, (BSTR*, value))                                                     \
  M(put_BillingInformation, (BSTR, value))                                                      \
  M(get_Companies, (BSTR*, value))                                                              \
  M(put_Companies, (BSTR, value))                                                               \
  /* Set by the first save, the last save, and (posts and mail) the first save; kOutlookNoDate  \
     before. */                                                                                 \
  M(get_CreationTime, (DATE*, value))                                                           \
  M(get_LastModificationTime, (DATE*, value))                                                   \
  M(get_ReceivedTime, (DATE*, value))                                                           \
  /* no unsaved changes */                                                                      \
  M(get_Saved, (VARIANT_BOOL*, saved))                                                          \
  M(get_UserProperties, (UserProperties**, properties))                                         \
  M(get_Links, (Links**, links))                                                                \
  /* Writes the item (ItemAdd to its folder's watchers the first time, ItemChange after). */    \
  M(Save)                                                                                       \
  /* olSave saves (even an unchanged new item); olDiscard and olPromptForSave drop unsaved      \
     changes. */                                                                                \
  M(Close, (LONG, mode))                                                                        \
  /* A saved copy in the same folder (ItemAdd there), with this item's unsaved changes. */      \
  M(Copy, (IDispatch**, copy))                                                                  \
  /* Saves this item (with its changes) into `destination` and returns the moved item           \
     (ItemRemove in the old folder, ItemAdd in the new). This object then refers to nothing     \
     that can be saved. */                                                                      \
  M(Move, (MAPIFolder*, destination), (IDispatch**, moved))                                     \
  /* ItemRemove in its folder */                                                                \
  M(Delete)                                                                                     \
  /* Opens this item object in an inspector (or shows the one it is open in): NewInspector,     \
     then, for a saved item, Read on this object. `modal` is accepted and ignored. */           \
  M(Display, (VARIANT, modal))                                                                  \
  /* The inspector this item object is open in; else a new one, not shown, for it (NewInspector \
     is raised; Display shows it). */                                                           \
  M(GetInspector, (_Inspector**, inspector))

struct _OutlookItem : IDispatch {
  static constexpr IID kIid = sx::com::guid("{000630FF-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_OUTLOOK_ITEM_MEMBERS)

 protected:
  ~_OutlookItem() = default;
};

#define SX_OUTLOOK_POST_ITEM_MEMBERS(M)
struct _PostItem : _OutlookItem {
  static constexpr IID kIid = sx::com::guid("{00063024-0000-0000-C000-000000000046}");
  using Base = _OutlookItem;
  SX_COM_MEMBERS(SX_OUTLOOK_POST_ITEM_MEMBERS)

 protected:
  ~_PostItem() = default;
};

#define SX_OUTLOOK_MAIL_ITEM_MEMBERS(M)
struct _MailItem : _OutlookItem {
  static constexpr IID kIid = sx::com::guid("{00063034-0000-0000-C000-000000000046}");
  using Base = _OutlookItem;
  SX_COM_MEMBERS(SX_OUTLOOK_MAIL_ITEM_MEMBERS)

 protected:
  ~_MailItem() = default;
};

#define SX_OUTLOOK_CONTACT_ITEM_MEMBERS(M)    \
  M(get_LastName, (BSTR*, value))             \
  M(put_LastName, (BSTR, value))              \
  M(get_FirstName, (BSTR*, value))            \
  M(put_FirstName, (BSTR, value))             \
  M(get_CompanyName, (BSTR*, value))          \
  M(put_CompanyName, (BSTR, value))           \
  /* first and last name joined by a blank */ \
  M(get_FullName, (BSTR*, value))

struct _ContactItem : _OutlookItem {
  static constexpr IID kIid = sx::com::guid("{00063021-0000-0000-C000-000000000046}");
  using Base = _OutlookItem;
  SX_COM_MEMBERS(SX_OUTLOOK_CONTACT_ITEM_MEMBERS)

 protected:
  ~_ContactItem() = default;
};

#define SX_OUTLOOK_USER_PROPERTIES_MEMBERS(M)                                                    \
  M(get_Count, (LONG*, count))                                                                   \
  /* By 1-based index or name (MAPI_E_NOT_FOUND / DISP_E_BADINDEX when absent). */               \
  M(Item, (VARIANT, index), (UserProperty**, property))                                          \
  /* Adds a property of `type` (olText, olNumber, olDateTime, olYesNo; others E_INVALIDARG)      \
     with an empty value ("", 0, kOutlookNoDate, False). An existing name of the same type is    \
     returned as it is; of another type it fails with E_INVALIDARG. The last two arguments are   \
     accepted and kept nowhere (they concern Outlook's views). */                                \
  M(Add, (BSTR, name), (LONG, type), (VARIANT, add_to_folder_fields), (VARIANT, display_format), \
    (UserProperty**, property))                                                                  \
  /* null when absent */                                                                         \
  M(Find, (BSTR, name), (VARIANT, custom), (UserProperty**, property))                           \
  M(Remove, (LONG, index))

struct UserProperties : IDispatch {
  static constexpr IID kIid = sx::com::guid("{0006303D-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_USER_PROPERTIES_MEMBERS)

 protected:
  ~UserProperties() = default;
};

#define SX_OUTLOOK_USER_PROPERTY_MEMBERS(M)                                             \
  M(get_Name, (BSTR*, name))                                                            \
  M(get_Type, (LONG*, type))                                                            \
  /* Text as VT_BSTR, number as VT_R8 (whatever was stored), date as VT_DATE, yes/no as \
     VT_BOOL. */                                                                        \
  M(get_Value, (VARIANT*, value))                                                       \
  /* Converted to the property's type; DISP_E_TYPEMISMATCH when it cannot be. */        \
  M(put_Value, (VARIANT, value))

struct UserProperty : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063042-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_USER_PROPERTY_MEMBERS)

 protected:
  ~UserProperty() = default;
};

#define SX_OUTLOOK_LINKS_MEMBERS(M)                             \
  M(get_Count, (LONG*, count))                                  \
  /* 1-based, or by name */                                     \
  M(Item, (VARIANT, index), (Link**, link))                     \
  /* Links a saved contact (E_INVALIDARG for anything else). */ \
  M(Add, (IDispatch*, item), (Link**, link))                    \
  M(Remove, (VARIANT, index))

struct Links : IDispatch {
  static constexpr IID kIid = sx::com::guid("{0006308A-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_LINKS_MEMBERS)

 protected:
  ~Links() = default;
};

#define SX_OUTLOOK_LINK_MEMBERS(M)                                                 \
  M(get_Name, (BSTR*, name))                                                       \
  /* olContact */                                                                  \
  M(get_Type, (LONG*, type))                                                       \
  /* The linked contact; MAPI_E_NOT_FOUND when it is in no open store any more. */ \
  M(get_Item, (IDispatch**, item))

struct Link : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063089-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_LINK_MEMBERS)

 protected:
  ~Link() = default;
};

// The events of a folder's items. A sink implements this interface and connects through the
// IConnectionPointContainer of any Items collection of the folder (FindConnectionPoint with
// ItemsEvents::kIid, then Advise); it hears about every change of that folder made through this
// process's Outlook, after the change is saved, on its own thread (a sink of a client apartment is
// called through a proxy while Outlook waits; an add-in's sink directly). Failures of a sink are
// ignored.
#define SX_OUTLOOK_ITEMS_EVENTS_MEMBERS(M) \
  M(ItemAdd, (IDispatch*, item))           \
  M(ItemChange, (IDispatch*, item))        \
  M(ItemRemove)

struct ItemsEvents : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063077-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_ITEMS_EVENTS_MEMBERS)

 protected:
  ~ItemsEvents() = default;
};

// The events of one item object (not of other objects of the same item): a sink connects through
// the item's IConnectionPointContainer. Read: the item was opened in an inspector (after that
// inspector's NewInspector). Close: the inspector showing it closes, or its Close is called;
// `cancel` True keeps it open.
#define SX_OUTLOOK_ITEM_EVENTS_MEMBERS(M) \
  M(Read)                                 \
  M(Close, (VARIANT_BOOL*, cancel))

struct ItemEvents : IDispatch {
  static constexpr IID kIid = sx::com::guid("{0006303A-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_ITEM_EVENTS_MEMBERS)

 protected:
  ~ItemEvents() = default;
};

// OlFolderDisplayMode (Explorers.Add).
enum OlFolderDisplayMode : LONG {
  olFolderDisplayNormal = 0,
  olFolderDisplayFolderOnly = 1,
  olFolderDisplayNoNavigation = 2
};

#define SX_OUTLOOK_EXPLORERS_MEMBERS(M)                                         \
  M(get_Count, (LONG*, count))                                                  \
  /* 1-based; DISP_E_BADINDEX outside 1..Count */                               \
  M(Item, (VARIANT, index), (_Explorer**, explorer))                            \
  /* A new explorer on `folder` (a MAPIFolder), not shown until its Display. */ \
  M(Add, (VARIANT, folder), (LONG, display_mode), (_Explorer**, explorer))

struct _Explorers : IDispatch {
  static constexpr IID kIid = sx::com::guid("{0006300A-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_EXPLORERS_MEMBERS)

 protected:
  ~_Explorers() = default;
};

// An explorer window. It answers IConnectionPointContainer for ExplorerEvents. Every member of a
// closed explorer fails with E_FAIL.
#define SX_OUTLOOK_EXPLORER_MEMBERS(M)                                                        \
  /* The folder it shows. A put shows that folder (looking at its items afresh: what another  \
     process saved there since is noticed now, see docs/outlook-user-interface.md). */        \
  M(get_CurrentFolder, (MAPIFolder**, folder))                                                \
  M(put_CurrentFolder, (MAPIFolder*, folder))                                                 \
  /* "<folder name> - Microsoft Outlook" */                                                   \
  M(get_Caption, (BSTR*, caption))                                                            \
  /* Shows it; it becomes the ActiveExplorer. */                                              \
  M(Display)                                                                                  \
  /* Closes it: Close is raised while it still counts in Explorers; then it leaves them. When \
     it was the last explorer, Outlook ends (as with Quit) before this returns. */            \
  M(Close)                                                                                    \
  /* The explorers' command bars (outlook/office.h) */                                        \
  M(get_CommandBars, (_CommandBars**, bars))                                                  \
  /* Its panes: the Outlook Bar ("OutlookBar") */                                             \
  M(get_Panes, (Panes**, panes))

struct _Explorer : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063003-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_EXPLORER_MEMBERS)

 protected:
  ~_Explorer() = default;
};

// An explorer's events, raised on Outlook's thread. Close: the explorer is closing and still
// counts in Application.Explorers.
#define SX_OUTLOOK_EXPLORER_EVENTS_MEMBERS(M) M(Close)

struct ExplorerEvents : IDispatch {
  static constexpr IID kIid = sx::com::guid("{0006304F-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_EXPLORER_EVENTS_MEMBERS)

 protected:
  ~ExplorerEvents() = default;
};

// The open inspectors. It answers IConnectionPointContainer for InspectorsEvents.
#define SX_OUTLOOK_INSPECTORS_MEMBERS(M)               \
  M(get_Count, (LONG*, count))                         \
  /* 1-based; DISP_E_BADINDEX outside 1..Count */      \
  M(Item, (VARIANT, index), (_Inspector**, inspector)) \
  /* An inspector for `item`, as item.GetInspector */  \
  M(Add, (IDispatch*, item), (_Inspector**, inspector))

struct _Inspectors : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063008-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_INSPECTORS_MEMBERS)

 protected:
  ~_Inspectors() = default;
};

// NewInspector: an inspector was opened for an item, before the item's Read.
#define SX_OUTLOOK_INSPECTORS_EVENTS_MEMBERS(M) M(NewInspector, (_Inspector*, inspector))

struct InspectorsEvents : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063079-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_INSPECTORS_EVENTS_MEMBERS)

 protected:
  ~InspectorsEvents() = default;
};

// An inspector: the window of one opening of an item. A saved post or mail opens for reading, a
// new item or a contact for editing. Every member of a closed inspector fails with E_FAIL.
#define SX_OUTLOOK_INSPECTOR_MEMBERS(M)                                                          \
  /* The one item object of this opening (the object Read was raised on) */                      \
  M(get_CurrentItem, (IDispatch**, item))                                                        \
  /* Its own command bars: "Menu Bar" (control 30003 "&Edit" holds 3273 "Edit Ite&m", whose      \
     Execute switches a note from reading to editing) and "Standard". */                         \
  M(get_CommandBars, (_CommandBars**, bars))                                                     \
  M(get_Caption, (BSTR*, caption))                                                               \
  /* Shows it. */                                                                                \
  M(Display, (VARIANT, modal))                                                                   \
  /* The item's Close is raised (a sink may cancel); olSave saves the item, olDiscard and        \
     olPromptForSave drop its unsaved changes; then the inspector leaves Inspectors. */          \
  M(Close, (LONG, mode))                                                                         \
  /* Not Outlook's own: what a person sees and does in the window. Editing: whether the item can \
     be changed in it. TypeText: a person types at the end of the body (E_ACCESSDENIED while     \
     reading). */                                                                                \
  M(get_Editing, (VARIANT_BOOL*, editing))                                                       \
  M(TypeText, (BSTR, text))

struct _Inspector : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063005-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_INSPECTOR_MEMBERS)

 protected:
  ~_Inspector() = default;
};

// An explorer's panes: only the Outlook Bar, by name "OutlookBar" or index 1.
#define SX_OUTLOOK_PANES_MEMBERS(M)                                \
  M(get_Count, (LONG*, count))                                     \
  /* an _OutlookBarPane; E_INVALIDARG for another name or index */ \
  M(Item, (VARIANT, index), (IDispatch**, pane))

struct Panes : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063009-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_PANES_MEMBERS)

 protected:
  ~Panes() = default;
};

#define SX_OUTLOOK_OUTLOOK_BAR_PANE_MEMBERS(M) \
  /* "OutlookBar" */                           \
  M(get_Name, (BSTR*, name))                   \
  M(get_Visible, (VARIANT_BOOL*, visible))     \
  M(put_Visible, (VARIANT_BOOL, visible))      \
  M(get_Contents, (_OutlookBarStorage**, contents))

struct _OutlookBarPane : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063074-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_OUTLOOK_BAR_PANE_MEMBERS)

 protected:
  ~_OutlookBarPane() = default;
};

#define SX_OUTLOOK_OUTLOOK_BAR_STORAGE_MEMBERS(M) M(get_Groups, (_OutlookBarGroups**, groups))

struct _OutlookBarStorage : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063075-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_OUTLOOK_BAR_STORAGE_MEMBERS)

 protected:
  ~_OutlookBarStorage() = default;
};

// The groups of the Outlook Bar of the logged-on profile, in the pane's order. They are the
// profile's: kept in its Outlook Bar file (docs/outlook-user-interface.md); a profile without one
// has "Outlook Shortcuts" (Inbox, Contacts), "My Shortcuts" and "Other Shortcuts".
#define SX_OUTLOOK_OUTLOOK_BAR_GROUPS_MEMBERS(M)                                               \
  M(get_Count, (LONG*, count))                                                                 \
  /* By 1-based index (DISP_E_BADINDEX outside) or by name, compared exactly (MAPI_E_NOT_FOUND \
     when absent). */                                                                          \
  M(Item, (VARIANT, index), (_OutlookBarGroup**, group))                                       \
  /* A new group at the 1-based `index` (omitted: at the end). A name already used or empty:   \
     E_INVALIDARG. */                                                                          \
  M(Add, (BSTR, name), (VARIANT, index), (_OutlookBarGroup**, group))                          \
  M(Remove, (VARIANT, index))

struct _OutlookBarGroups : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063072-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_OUTLOOK_BAR_GROUPS_MEMBERS)

 protected:
  ~_OutlookBarGroups() = default;
};

// A group; members of a removed group fail with E_FAIL.
#define SX_OUTLOOK_OUTLOOK_BAR_GROUP_MEMBERS(M) \
  M(get_Name, (BSTR*, name))                    \
  M(put_Name, (BSTR, name))                     \
  M(get_Shortcuts, (_OutlookBarShortcuts**, shortcuts))

struct _OutlookBarGroup : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063073-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_OUTLOOK_BAR_GROUP_MEMBERS)

 protected:
  ~_OutlookBarGroup() = default;
};

#define SX_OUTLOOK_OUTLOOK_BAR_SHORTCUTS_MEMBERS(M)                                            \
  M(get_Count, (LONG*, count))                                                                 \
  /* By 1-based index (DISP_E_BADINDEX outside) or by name, compared exactly (MAPI_E_NOT_FOUND \
     when absent). */                                                                          \
  M(Item, (VARIANT, index), (_OutlookBarShortcut**, shortcut))                                 \
  /* A new shortcut to `target` (a MAPIFolder of an open store, or a text: a file path or      \
     address) named `name`, at the 1-based `index` (omitted: at the end). */                   \
  M(Add, (VARIANT, target), (BSTR, name), (VARIANT, index), (_OutlookBarShortcut**, shortcut)) \
  M(Remove, (VARIANT, index))

struct _OutlookBarShortcuts : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063070-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_OUTLOOK_BAR_SHORTCUTS_MEMBERS)

 protected:
  ~_OutlookBarShortcuts() = default;
};

#define SX_OUTLOOK_OUTLOOK_BAR_SHORTCUT_MEMBERS(M)                                             \
  M(get_Name, (BSTR*, name))                                                                   \
  /* The folder (VT_DISPATCH, a MAPIFolder; MAPI_E_NOT_FOUND when its store is not open or the \
     folder is gone) or the text (VT_BSTR). */                                                 \
  M(get_Target, (VARIANT*, target))

struct _OutlookBarShortcut : IDispatch {
  static constexpr IID kIid = sx::com::guid("{00063071-0000-0000-C000-000000000046}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_OUTLOOK_OUTLOOK_BAR_SHORTCUT_MEMBERS)

 protected:
  ~_OutlookBarShortcut() = default;
};

// MAPI's error codes that Outlook's automation errors carry.
#define MAPI_E_NOT_FOUND static_cast<HRESULT>(0x8004010Fu)
#define MAPI_E_LOGON_FAILED static_cast<HRESULT>(0x80040111u)
#define MAPI_E_OBJECT_DELETED static_cast<HRESULT>(0x8004010Au)
#define MAPI_E_USER_CANCEL static_cast<HRESULT>(0x80040113u)
#define MAPI_E_CORRUPT_DATA static_cast<HRESULT>(0x8004011Bu)
