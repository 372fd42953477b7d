// The classes of the object model. Each holds the Application (which holds the Session). They live
// on Outlook's thread (server/outlook_process.h); clients reach them through proxies.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "objects/events.h"
#include "objects/object_base.h"
#include "objects/session.h"
#include "outlook/extensibility.h"

namespace sx::outlook {

// Private IIDs by which our own classes find each other behind an interface pointer.
inline constexpr IID kFolderImplIid = sx::com::guid("{5A0C1E01-0000-4000-8000-0000000000F1}");
inline constexpr IID kItemImplIid = sx::com::guid("{5A0C1E01-0000-4000-8000-0000000000F2}");

class OutlookProcess;
class Ui;

class ApplicationImpl : public OutlookObject<ApplicationImpl, _Application> {
 public:
  // The Application of `process`, made on its thread.
  explicit ApplicationImpl(OutlookProcess& process);
  ~ApplicationImpl() override;
  static const Members<ApplicationImpl>& members();
  Session& session() { return *session_; }
  OutlookProcess& process() { return process_; }
  // Outlook's windows (ui/ui.h), made when first needed.
  Ui& ui();

  STDMETHODIMP get_Version(BSTR* version) override;
  STDMETHODIMP get_Name(BSTR* name) override;
  STDMETHODIMP GetNamespace(BSTR type, _NameSpace** ns) override;
  STDMETHODIMP CreateItem(LONG item_type, IDispatch** item) override;
  STDMETHODIMP Quit() override;
  STDMETHODIMP get_COMAddIns(COMAddIns** addins) override;
  STDMETHODIMP get_Explorers(_Explorers** explorers) override;
  STDMETHODIMP get_ActiveExplorer(_Explorer** explorer) override;
  STDMETHODIMP get_Inspectors(_Inspectors** inspectors) override;

 private:
  OutlookProcess& process_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<Ui> ui_;
};
using AppPtr = sx::com::ComPtr<ApplicationImpl>;

class NameSpaceImpl : public OutlookObject<NameSpaceImpl, _NameSpace> {
 public:
  explicit NameSpaceImpl(AppPtr app) : OutlookObject("NameSpace"), app_(std::move(app)) {}
  static const Members<NameSpaceImpl>& members();
  STDMETHODIMP get_Type(BSTR* type) override;
  STDMETHODIMP get_CurrentProfileName(BSTR* name) override;
  STDMETHODIMP get_Folders(_Folders** folders) override;
  STDMETHODIMP Logon(VARIANT profile, VARIANT password, VARIANT show_dialog,
                     VARIANT new_session) override;
  STDMETHODIMP Logoff() override;
  STDMETHODIMP GetDefaultFolder(LONG folder_type, MAPIFolder** folder) override;
  STDMETHODIMP AddStore(VARIANT path) override;
  STDMETHODIMP RemoveStore(MAPIFolder* root) override;
  STDMETHODIMP GetItemFromID(BSTR entry_id, VARIANT store_id, IDispatch** item) override;

 private:
  AppPtr app_;
};

class FolderImpl : public OutlookObject<FolderImpl, MAPIFolder> {
 public:
  FolderImpl(AppPtr app, FolderRef ref)
      : OutlookObject("MAPIFolder"), app_(std::move(app)), ref_(std::move(ref)) {}
  static const Members<FolderImpl>& members();
  const FolderRef& ref() const { return ref_; }
  // The FolderImpl behind a MAPIFolder pointer of ours; throws E_INVALIDARG for anything else.
  static FolderImpl* from(MAPIFolder* folder);

  STDMETHODIMP get_Name(BSTR* name) override;
  STDMETHODIMP put_Name(BSTR name) override;
  STDMETHODIMP get_Folders(_Folders** folders) override;
  STDMETHODIMP get_Items(_Items** items) override;
  STDMETHODIMP get_Parent(IDispatch** parent) override;
  STDMETHODIMP get_DefaultItemType(LONG* type) override;
  STDMETHODIMP get_DefaultMessageClass(BSTR* message_class) override;
  STDMETHODIMP get_EntryID(BSTR* id) override;
  STDMETHODIMP get_StoreID(BSTR* id) override;
  STDMETHODIMP CopyTo(MAPIFolder* destination, MAPIFolder** copy) override;
  STDMETHODIMP Delete() override;

 protected:
  void* query_other(REFIID iid) override { return iid == kFolderImplIid ? this : nullptr; }

 private:
  AppPtr app_;
  FolderRef ref_;
};

class FoldersImpl : public OutlookObject<FoldersImpl, _Folders> {
 public:
  // The subfolders of `parent`, or (parent empty) the store roots of the session.
  FoldersImpl(AppPtr app, std::optional<FolderRef> parent)
      : OutlookObject("Folders"), app_(std::move(app)), parent_(std::move(parent)) {}
  static const Members<FoldersImpl>& members();
  STDMETHODIMP get_Count(LONG* count) override;
  STDMETHODIMP Item(VARIANT index, MAPIFolder** folder) override;
  STDMETHODIMP Add(BSTR name, VARIANT type, MAPIFolder** folder) override;
  STDMETHODIMP GetFirst(MAPIFolder** folder) override;
  STDMETHODIMP GetNext(MAPIFolder** folder) override;
  STDMETHODIMP GetLast(MAPIFolder** folder) override;
  STDMETHODIMP Remove(LONG index) override;

 private:
  std::vector<FolderRef> current();
  MAPIFolder* make(const FolderRef& ref);
  AppPtr app_;
  std::optional<FolderRef> parent_;
  std::size_t cursor_ = 0;  // 1-based position of the last GetFirst/GetNext result; 0 none
};

class ItemImpl;
using ItemPtr = sx::com::ComPtr<ItemImpl>;

class ItemsImpl : public OutlookObject<ItemsImpl, _Items, IConnectionPointContainer> {
 public:
  // All items of `folder` (live), or the given ones (a Restrict result).
  ItemsImpl(AppPtr app, FolderRef folder,
            std::optional<std::vector<std::uint64_t>> only = std::nullopt)
      : OutlookObject("Items"),
        app_(std::move(app)),
        folder_(std::move(folder)),
        only_(std::move(only)) {}
  static const Members<ItemsImpl>& members();
  STDMETHODIMP get_Count(LONG* count) override;
  STDMETHODIMP Item(VARIANT index, IDispatch** item) override;
  STDMETHODIMP Add(VARIANT type, IDispatch** item) override;
  STDMETHODIMP Find(BSTR filter, IDispatch** item) override;
  STDMETHODIMP FindNext(IDispatch** item) override;
  STDMETHODIMP GetFirst(IDispatch** item) override;
  STDMETHODIMP GetNext(IDispatch** item) override;
  STDMETHODIMP GetLast(IDispatch** item) override;
  STDMETHODIMP Remove(LONG index) override;
  STDMETHODIMP Restrict(BSTR filter, _Items** items) override;
  STDMETHODIMP EnumConnectionPoints(void** enumerator) override;
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

 private:
  IDispatch* make(std::uint64_t id);
  std::optional<std::uint64_t> at(const StoreModel& model, std::size_t index);  // 0-based
  AppPtr app_;
  FolderRef folder_;
  std::optional<std::vector<std::uint64_t>> only_;
  std::uint64_t cursor_seq_ = 0;  // live walk: sequence of the last item handed out
  std::size_t cursor_index_ = 0;  // restricted walk: 1-based index of the last item
  std::optional<Filter> find_filter_;
  std::uint64_t find_seq_ = 0;
};

class ItemImpl : public OutlookObject<ItemImpl, _ContactItem, _PostItem, _MailItem,
                                      IConnectionPointContainer> {
 public:
  // A saved item (`id` != 0), or a new one of `data` in `folder` (store may be null for an item of
  // CreateItem, which finds its folder when saved).
  ItemImpl(AppPtr app, FolderRef folder, std::uint64_t id, std::shared_ptr<const ItemData> data);
  static const Members<ItemImpl>& members();
  static const char* kind_of(std::int32_t object_class);
  static ItemImpl* from(IDispatch* item);  // null when not one of ours

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override;

  const ItemData& data() const { return work_ ? *work_ : *base_; }
  ItemData& edit();
  const FolderRef& folder() const { return folder_; }
  std::uint64_t id() const { return id_; }
  Session& session() { return app_->session(); }
  const AppPtr& app() const { return app_; }
  void check_usable() const;

  STDMETHODIMP get_Class(LONG* value) override;
  STDMETHODIMP get_EntryID(BSTR* id) override;
  STDMETHODIMP get_Parent(IDispatch** folder) override;
  STDMETHODIMP get_MessageClass(BSTR* value) override;
  STDMETHODIMP put_MessageClass(BSTR value) override;
  STDMETHODIMP get_Subject(BSTR* value) override;
  STDMETHODIMP put_Subject(BSTR value) override;
  STDMETHODIMP get_Body(BSTR* value) override;
  STDMETHODIMP put_Body(BSTR value) override;
  STDMETHODIMP get_HTMLBody(BSTR* value) override;
  STDMETHODIMP put_HTMLBody(BSTR value) override;
  STDMETHODIMP get_BodyFormat(LONG* value) override;
  STDMETHODIMP put_BodyFormat(LONG value) override;
  STDMETHODIMP get_Categories(BSTR* value) override;
  STDMETHODIMP put_Categories(BSTR value) override;
  STDMETHODIMP get_Sensitivity(LONG* value) override;
  STDMETHODIMP put_Sensitivity(LONG value) override;
  STDMETHODIMP get_Importance(LONG* value) override;
  STDMETHODIMP put_Importance(LONG value) override;
  STDMETHODIMP get_BillingInformation(BSTR* value) override;
  STDMETHODIMP put_BillingInformation(BSTR value) override;
  STDMETHODIMP get_Companies(BSTR* value) override;
  STDMETHODIMP put_Companies(BSTR value) override;
  STDMETHODIMP get_CreationTime(DATE* value) override;
  STDMETHODIMP get_LastModificationTime(DATE* value) override;
  STDMETHODIMP get_ReceivedTime(DATE* value) override;
  STDMETHODIMP get_Saved(VARIANT_BOOL* saved) override;
  STDMETHODIMP get_UserProperties(UserProperties** properties) override;
  STDMETHODIMP get_Links(Links** links) override;
  STDMETHODIMP Save() override;
  STDMETHODIMP Close(LONG mode) override;
  STDMETHODIMP Copy(IDispatch** copy) override;
  STDMETHODIMP Move(MAPIFolder* destination, IDispatch** moved) override;
  STDMETHODIMP Delete() override;
  STDMETHODIMP get_LastName(BSTR* value) override;
  STDMETHODIMP put_LastName(BSTR value) override;
  STDMETHODIMP get_FirstName(BSTR* value) override;
  STDMETHODIMP put_FirstName(BSTR value) override;
  STDMETHODIMP get_CompanyName(BSTR* value) override;
  STDMETHODIMP put_CompanyName(BSTR value) override;
  STDMETHODIMP get_FullName(BSTR* value) override;
  STDMETHODIMP Display(VARIANT modal) override;
  STDMETHODIMP GetInspector(_Inspector** inspector) override;
  STDMETHODIMP EnumConnectionPoints(void** enumerator) override;
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

  // The sinks of this object's events (Read, Close).
  Sinks<ItemEvents>& events() { return events_; }
  // Close without the event: olSave saves, the other modes drop unsaved changes. Throws.
  void close_now(LONG mode);
  // A saved item without unsaved changes takes the version stored now (another process may have
  // saved it since this object read it), as a window opening on it shows. Throws.
  void reread();

 private:
  HRESULT get_text(const char* op, const char* name, BSTR* value);
  HRESULT put_text(const char* op, const char* name, BSTR value);
  HRESULT get_long(const char* op, const char* name, LONG fallback, LONG* value);
  // Sets a numbered choice; E_INVALIDARG with `invalid` as description outside [low, high].
  HRESULT put_choice(const char* op, const char* name, LONG value, LONG low, LONG high,
                     const char* invalid);
  HRESULT put_long(const char* op, const char* name, LONG value);
  HRESULT get_date(const char* op, const char* name, DATE* value);
  void save_now();
  HRESULT contact_only(const char* op) const;

  AppPtr app_;
  FolderRef folder_;
  std::uint64_t id_;
  std::shared_ptr<const ItemData> base_;
  std::optional<ItemData> work_;
  bool gone_ = false;  // moved or deleted: nothing more can be saved through this object
  Sinks<ItemEvents> events_;
};

class UserPropertiesImpl : public OutlookObject<UserPropertiesImpl, UserProperties> {
 public:
  explicit UserPropertiesImpl(ItemPtr item)
      : OutlookObject("UserProperties"), item_(std::move(item)) {}
  static const Members<UserPropertiesImpl>& members();
  STDMETHODIMP get_Count(LONG* count) override;
  STDMETHODIMP Item(VARIANT index, UserProperty** property) override;
  STDMETHODIMP Add(BSTR name, LONG type, VARIANT add_to_folder_fields, VARIANT display_format,
                   UserProperty** property) override;
  STDMETHODIMP Find(BSTR name, VARIANT custom, UserProperty** property) override;
  STDMETHODIMP Remove(LONG index) override;

 private:
  ItemPtr item_;
};

class UserPropertyImpl : public OutlookObject<UserPropertyImpl, UserProperty> {
 public:
  UserPropertyImpl(ItemPtr item, std::string name)
      : OutlookObject("UserProperty"), item_(std::move(item)), name_(std::move(name)) {}
  static const Members<UserPropertyImpl>& members();
  STDMETHODIMP get_Name(BSTR* name) override;
  STDMETHODIMP get_Type(LONG* type) override;
  STDMETHODIMP get_Value(VARIANT* value) override;
  STDMETHODIMP put_Value(VARIANT value) override;

 private:
  const UserProp& prop() const;
  ItemPtr item_;
  std::string name_;
};

class LinksImpl : public OutlookObject<LinksImpl, Links> {
 public:
  explicit LinksImpl(ItemPtr item) : OutlookObject("Links"), item_(std::move(item)) {}
  static const Members<LinksImpl>& members();
  STDMETHODIMP get_Count(LONG* count) override;
  STDMETHODIMP Item(VARIANT index, Link** link) override;
  STDMETHODIMP Add(IDispatch* item, Link** link) override;
  STDMETHODIMP Remove(VARIANT index) override;

 private:
  std::size_t index_of(const VARIANT& index) const;  // 0-based; throws when absent
  ItemPtr item_;
};

class LinkImpl : public OutlookObject<LinkImpl, Link> {
 public:
  LinkImpl(AppPtr app, LinkData data)
      : OutlookObject("Link"), app_(std::move(app)), data_(std::move(data)) {}
  static const Members<LinkImpl>& members();
  STDMETHODIMP get_Name(BSTR* name) override;
  STDMETHODIMP get_Type(LONG* type) override;
  STDMETHODIMP get_Item(IDispatch** item) override;

 private:
  AppPtr app_;
  LinkData data_;
};

// Application.COMAddIns: the add-ins Outlook found when it started (server/addin_host.h).
class COMAddInsImpl : public OutlookObject<COMAddInsImpl, COMAddIns> {
 public:
  explicit COMAddInsImpl(AppPtr app) : OutlookObject("COMAddIns"), app_(std::move(app)) {}
  static const Members<COMAddInsImpl>& members();
  STDMETHODIMP get_Count(LONG* count) override;
  STDMETHODIMP Item(VARIANT index, COMAddIn** addin) override;
  STDMETHODIMP Update() override;

 private:
  AppPtr app_;
};

// One add-in of the list, by its position there (positions never change while Outlook runs).
class COMAddInImpl : public OutlookObject<COMAddInImpl, COMAddIn> {
 public:
  COMAddInImpl(AppPtr app, std::size_t index)
      : OutlookObject("COMAddIn"), app_(std::move(app)), index_(index) {}
  static const Members<COMAddInImpl>& members();
  STDMETHODIMP get_Description(BSTR* description) override;
  STDMETHODIMP put_Description(BSTR description) override;
  STDMETHODIMP get_ProgId(BSTR* progid) override;
  STDMETHODIMP get_Guid(BSTR* guid) override;
  STDMETHODIMP get_Connect(VARIANT_BOOL* connected) override;
  STDMETHODIMP put_Connect(VARIANT_BOOL connect) override;
  STDMETHODIMP get_Object(IDispatch** object) override;
  STDMETHODIMP put_Object(IDispatch* object) override;

 private:
  AppPtr app_;
  std::size_t index_;
};

// An item handed out as IDispatch (its interface of its kind).
inline void hand_out(const ItemPtr& item, IDispatch** out) {
  *out = nullptr;
  if (item) item->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out));
}

// An item object for a saved item (its kind from its class).
ItemPtr make_item(const AppPtr& app, const FolderRef& folder, std::uint64_t id,
                  std::shared_ptr<const ItemData> data);
// A new unsaved item of a message class.
ItemPtr make_new_item(const AppPtr& app, const FolderRef& folder, const std::string& message_class);
std::int32_t class_of_message_class(std::string_view message_class);

}  // namespace sx::outlook
