// ScribbixMonitor1: the monitor add-in at work. Attached at connection, it keeps Outlook and the
// active explorer (watching its Close); when Outlook has finished starting, Connect asks it to find
// the notes folder and, when the folder is there, to switch the notes add-in on through Outlook's
// COM add-in list. Without the folder it hides the notes toolbar.
//
// Apartment-threaded: Outlook's thread. No method lets a failure out.
#pragma once

#include <memory>

#include "comdef.h"
#include "outlook/office.h"
#include "outlook/outlook.h"
#include "scribbix/event_connection.h"
#include "scribbixmonitor/scribbixmonitor.h"

namespace sx::monitor {

using sx::com::ComPtr;

class ScribbixMonitor1 : public sx::com::DispatchObject<_ScribbixMonitor1> {
 public:
  ScribbixMonitor1();
  ~ScribbixMonitor1() override;

  STDMETHODIMP SetAddIn(_Application** olApp, BSTR* anAddin, VARIANT_BOOL* flag,
                        LONG* result) override;
  STDMETHODIMP FindFolder(_Application** olApp, LONG* result) override;

  // Keeps `application` (also as the module's Outlook, basOutlook) and its active explorer (none
  // when Outlook shows no explorer).
  void AttachOutlook(_Application* application);
  // Lets go of the explorer, Outlook and the module's Outlook.
  void DetachOutlook();

 protected:
  const sx::com::DispatchTable& dispatch_table() const override { return table_; }

 private:
  void objExpl_Close();
  void HideNotesBar();

  class ExplorerSink;

  ComPtr<_Application> objOutlook;
  ComPtr<_Explorer> objExpl;
  sx::common::EventConnection explorer_events_;
  std::unique_ptr<ExplorerSink> explorer_sink_;
  sx::com::DispatchTable table_;
};

// basOutlook: the module's one Outlook Application, set at connection and cleared at
// disconnection. Outlook's thread.
ComPtr<_Application>& module_outlook();

}  // namespace sx::monitor
