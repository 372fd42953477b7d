// ScribbixAddIn: the notes add-in at work inside Outlook. Attached by Connect at connection, it
// puts the New Note command on the explorers' toolbar "Scribbix Bar" or the menu "&Scribbix" (by
// "MenuMode"), watches the notes folder "\Vorlan\Scribbix" so that every item added there becomes
// a proper note (item_stamping.h), switches notes opened for reading to editing (by
// "AutoEditMode"), and lets everything go when the last explorer closes or Outlook disconnects it.
//
// Apartment-threaded: every call and every event comes on Outlook's thread (an add-in gets
// Outlook's objects themselves). Event handlers never let a failure out to Outlook.
#pragma once

#include <memory>
#include <string>

#include "comdef.h"
#include "outlook/office.h"
#include "outlook/outlook.h"
#include "scribbix/event_connection.h"
#include "scribbixaddin/scribbixaddin.h"

namespace sx::addin {

using sx::com::ComPtr;

class ScribbixAddIn : public sx::com::DispatchObject<_ScribbixAddIn> {
 public:
  ScribbixAddIn();
  ~ScribbixAddIn() override;

  STDMETHODIMP GetFolderPath(VARIANT objFolder, BSTR* result) override;
  STDMETHODIMP OpenMAPIFolder(VARIANT strPath, MAPIFolder** result) override;

  // Takes Outlook and sets the add-in up (the notes folder, the command, the watches). Throws
  // sx::com::ComError with Outlook's error (a notes store without the notes folder, a setting that
  // is not a number); whatever it had taken by then is let go again.
  void AttachOutlook(_Application* application, const std::u16string& progid);
  // Lets go of everything, in a fixed order; never fails.
  void DetachOutlook();

 protected:
  const sx::com::DispatchTable& dispatch_table() const override { return table_; }

 private:
  // Event handlers (Outlook's thread; they catch everything).
  void objExpl_Close();
  void objNewSXButton_Click();
  void colScribbixItems_ItemAdd(IDispatch* item);
  void colInsp_NewInspector(_Inspector* inspector);
  void objPostItem_Read();

  // The command bar work (command_ui.cpp).
  void SetUpCommandUi();
  void AddNewNoteButton(CommandBarControls* controls, const char* caption, const char* tag);
  void HideNotesBar();
  void AddNotesMenu();
  bool MenuHasControl(const char* bar_name, const char* caption);
  ComPtr<CommandBarControl> AddMenuPopup(const char* bar_name, const char* caption,
                                         const char* tag);
  ComPtr<_CommandBars> explorer_bars();

  // OpenMAPIFolder as the add-in uses it inside: throws Outlook's error.
  ComPtr<MAPIFolder> open_folder(std::u16string path);

  // Members that are watched: setting one connects its sink, clearing it disconnects.
  void watch_explorer(ComPtr<_Explorer> explorer);
  void watch_inspectors(ComPtr<_Inspectors> inspectors);
  void watch_post(ComPtr<_PostItem> post);
  void watch_items(ComPtr<_Items> items);
  void watch_button(ComPtr<CommandBarButton> button);

  class ExplorerSink;
  class ButtonSink;
  class ItemsSink;
  class InspectorsSink;
  class PostSink;

  ComPtr<_Application> objOutlook;
  ComPtr<_NameSpace> objNS;
  ComPtr<_Explorer> objExpl;
  ComPtr<_Inspectors> colInsp;
  ComPtr<_PostItem> objPostItem;
  ComPtr<_Items> colScribbixItems;
  ComPtr<CommandBarButton> objNewSXButton;
  ComPtr<_Application> application_;
  std::u16string progid_;
  ComPtr<CommandBar> notes_bar_;

  sx::common::EventConnection explorer_events_, inspectors_events_, post_events_, items_events_,
      button_events_;
  std::unique_ptr<ExplorerSink> explorer_sink_;
  std::unique_ptr<ButtonSink> button_sink_;
  std::unique_ptr<ItemsSink> items_sink_;
  std::unique_ptr<InspectorsSink> inspectors_sink_;
  std::unique_ptr<PostSink> post_sink_;

  sx::com::DispatchTable table_;
};

}  // namespace sx::addin
