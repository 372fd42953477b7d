// Connect: the class Outlook creates for the notes add-in ("VorScribOutlookAddIn.Connect") and
// talks to through IDTExtensibility2. It holds one ScribbixAddIn, made at the first connection and
// let go at disconnection.
//
// Apartment-threaded: Outlook's thread. No method lets an exception through; OnConnection fails
// with Outlook's error (and its error information) when the add-in cannot attach.
#pragma once

#include "comdef.h"
#include "outlook/extensibility.h"
#include "scribbix_addin.h"

namespace sx::addin {

class Connect : public sx::com::DispatchObject<IDTExtensibility2> {
 public:
  Connect();
  ~Connect() override;

  STDMETHODIMP OnConnection(IDispatch* Application, ext_ConnectMode ConnectMode,
                            IDispatch* AddInInst, SAFEARRAY** custom) override;
  STDMETHODIMP OnDisconnection(ext_DisconnectMode RemoveMode, SAFEARRAY** custom) override;
  STDMETHODIMP OnAddInsUpdate(SAFEARRAY** custom) override;
  STDMETHODIMP OnStartupComplete(SAFEARRAY** custom) override;
  STDMETHODIMP OnBeginShutdown(SAFEARRAY** custom) override;

 protected:
  const sx::com::DispatchTable& dispatch_table() const override { return table_; }

 private:
  ComPtr<ScribbixAddIn> addin_;
  sx::com::DispatchTable table_;
};

}  // namespace sx::addin
