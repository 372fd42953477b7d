// Outlook's COM add-in host: the add-ins found in the registry when Outlook started, their
// connection and disconnection through IDTExtensibility2, and what Connect puts write back to
// "LoadBehavior" (docs/outlook.md). Lives on Outlook's thread; add-ins are created there and get
// Outlook's objects themselves.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "comdef.h"
#include "outlook/extensibility.h"
#include "sx/outlook/addins.h"

namespace sx::outlook {

class ApplicationImpl;
class COMAddInImpl;

struct AddIn {
  addins::Registration registration;  // as read when Outlook started (or by Update)
  bool connected = false;
  bool connected_at_startup = false;
  sx::com::ComPtr<IDTExtensibility2> object;
  sx::com::ComPtr<IDispatch> exposed;   // COMAddIn.Object
  sx::com::ComPtr<COMAddInImpl> entry;  // the COMAddIn object, one per add-in
};

class AddInHost {
 public:
  explicit AddInHost(ApplicationImpl& app) : app_(app) {}
  ~AddInHost();
  AddInHost(const AddInHost&) = delete;
  AddInHost& operator=(const AddInHost&) = delete;

  // Reads the registered add-ins and their "LoadBehavior", once, while Outlook starts.
  void read_registry();
  // Adds add-ins registered since (COMAddIns.Update); known ones keep what was read at start.
  void update();
  // Connects every add-in whose "LoadBehavior" at start says so (ext_cm_Startup), in list order,
  // then tells each of them OnStartupComplete.
  void start_up();
  // A Connect put: connects (ext_cm_AfterStartup) or disconnects (ext_dm_UserClosed) at once and
  // writes "LoadBehavior". The add-in's failure when OnConnection fails.
  HRESULT set_connected(std::size_t index, bool connect);
  // A click routed to the add-in `progid` (a control's OnAction "!<ProgID>"): an add-in that is
  // not connected and whose "LoadBehavior" at start said load on demand (8) is connected now
  // (ext_cm_AfterStartup) and its "LoadBehavior" gets the loaded bit (9). Whether it is connected
  // afterwards.
  bool load_on_demand(const std::string& progid);
  // Outlook ends: OnBeginShutdown to each connected add-in, then OnDisconnection
  // (ext_dm_HostShutdown) to each, in list order; they are released.
  void shut_down();

  std::size_t count() const { return addins_.size(); }
  AddIn& at(std::size_t index) { return addins_.at(index); }
  // 0-based position of the add-in with this ProgID (compared without regard to case).
  std::optional<std::size_t> find(const std::string& progid) const;
  // The COMAddIn object of the add-in at `index`.
  sx::com::ComPtr<COMAddInImpl> entry(std::size_t index);

 private:
  HRESULT connect(std::size_t index, ext_ConnectMode mode);
  void disconnect(std::size_t index, ext_DisconnectMode mode);
  void tell_others(std::size_t changed);  // OnAddInsUpdate to the other connected add-ins

  ApplicationImpl& app_;
  std::vector<AddIn> addins_;
};

}  // namespace sx::outlook
