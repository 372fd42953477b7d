// Update1, ScribbixUpdate's one creatable class: adds, names, upgrades, counts and removes the
// notes store and folder of a profile, switches COM add-ins, and puts shortcuts to the notes
// folder on the Outlook Bar (scribbixupdate/scribbixupdate.h gives each method's results).
//
// Apartment-threaded: every call comes from the creating thread (the configuration program's
// user-interface thread); a call from another thread returns RPC_E_WRONG_THREAD. The message
// boxes are modal and block that thread.
#pragma once

#include <string>

#include "comdef.h"
#include "outlook/outlook.h"
#include "scribbixupdate/scribbixupdate.h"
#include "windows.h"

namespace sx::update {

using sx::com::ComPtr;

class Update1 : public sx::com::DispatchObject<_Update1, ISupportErrorInfo> {
 public:
  Update1();
  ~Update1() override;

  // Store and folder methods (update1.cpp).
  STDMETHODIMP AddPst(VARIANT* newPst, LONG* result) override;
  STDMETHODIMP RenameUpdate(LONG* result) override;
  STDMETHODIMP FindFolder(VARIANT* folderName, LONG* result) override;
  STDMETHODIMP RemoveUpdateFolder(LONG* result) override;
  STDMETHODIMP RemoveScribbixFolder(LONG* result) override;
  STDMETHODIMP SetNameSpace(_NameSpace** newNameSpace, LONG* result) override;
  STDMETHODIMP CountScribbix(LONG* result) override;
  STDMETHODIMP RenameX(LONG* result) override;
  // COM add-ins (addins.cpp).
  STDMETHODIMP FindAddIn(VARIANT* anAddin, LONG* result) override;
  STDMETHODIMP SetAddIn(VARIANT* anAddin, VARIANT* flag, LONG* result) override;
  // The upgrade (upgrade.cpp).
  STDMETHODIMP NextUpdate(LONG* result) override;
  STDMETHODIMP BeginUpdate(VARIANT* newPst, VARIANT* newForm, LONG* result) override;
  STDMETHODIMP EndUpdate(LONG* result) override;
  // Outlook Bar shortcuts (shortcuts.cpp).
  STDMETHODIMP GroupExists(VARIANT* sGroup, VARIANT_BOOL* result) override;
  STDMETHODIMP ShortCutExists(VARIANT* sShortcut, VARIANT* sGroup, VARIANT_BOOL* result) override;
  STDMETHODIMP FolderShortcutCreate(VARIANT* sGroup, MAPIFolder** oFolder) override;
  STDMETHODIMP CheckScribbixShortcut(LONG* result) override;
  STDMETHODIMP ShortcutGroups(VARIANT* result) override;
  STDMETHODIMP CreateScribbixShortcut(VARIANT* vGroup, LONG* result) override;

  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;

 protected:
  const sx::com::DispatchTable& dispatch_table() const override { return table_; }

 private:
  void build_dispatch_table();
  // AddPst and RenameUpdate: names the update store "Vorlan" and its folder "Scribbix".
  void name_update_store(ULONG& stage, VARIANT* newPst, bool add_store);
  // The walks of RemoveUpdateFolder and RemoveScribbixFolder.
  void remove_store(ULONG& stage, const char* root_name, bool stage_before_first,
                    bool stage_before_remove);
  // The notes folder "Vorlan"\"Scribbix" (the first "Vorlan" only), or null.
  ComPtr<MAPIFolder> find_notes_folder(LONG* code);

  // The upgrade's steps.
  void carry_item();
  void clean_sx_props(_OutlookItem* item);
  void copy_sx_props(_OutlookItem* source, _OutlookItem* destination);
  // True when every note of the old folder reached the new one.
  bool every_note_carried();

  // The Outlook Bar pane of `application`'s active explorer.
  ComPtr<_OutlookBarPane> outlook_bar(_Application* application);
  bool group_exists(const std::u16string& group);

  // State, in the order the component keeps it.
  ComPtr<_NameSpace> namespace_;
  ComPtr<_OutlookItem> current_item_;
  ComPtr<_Items> source_items_;
  ComPtr<MAPIFolder> destination_folder_;
  ComPtr<MAPIFolder> notes_root_;
  ComPtr<MAPIFolder> update_root_;
  std::u16string new_class_;
  std::u16string old_prefix_;
  LONG old_prefix_length_ = 0;

  // What makes the removal of the old folder safe: how many notes BeginUpdate found, how many
  // NextUpdate carried whole, whether any carry failed, and how many items the new folder held
  // before the first carry.
  bool upgrade_started_ = false;
  LONG notes_to_carry_ = 0;
  LONG notes_carried_ = 0;
  bool carry_failed_ = false;
  LONG destination_start_count_ = 0;

  sx::com::DispatchTable table_;
};

}  // namespace sx::update
