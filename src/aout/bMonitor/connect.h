// Connect: the class Outlook creates for the monitor add-in ("ScribbixMonitorAddIn.Connect") and
// talks to through IDTExtensibility2. It holds one ScribbixMonitor1, made at the first connection
// and let go at disconnection. When Outlook has finished starting it looks for the notes folder
// and, when it is there, switches the notes add-in on.
//
// Apartment-threaded: Outlook's thread. No method lets an exception or a failure through.
#pragma once

#include "comdef.h"
#include "monitor.h"
#include "outlook/extensibility.h"

namespace sx::monitor {

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
  ScribbixMonitor1& monitor();

  ComPtr<ScribbixMonitor1> monitor_;
  sx::com::DispatchTable table_;
};

}  // namespace sx::monitor
