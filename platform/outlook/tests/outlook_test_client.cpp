// A client of the machine's Outlook process, for the tests of Outlook as a program of its own.
//
//   outlook_test_client MACHINE post SUBJECT   creates "Outlook.Application", saves a post with
//                                               SUBJECT in the Inbox, lets go and ends
//   outlook_test_client MACHINE hold           creates it, holds the Application, the Inbox and its
//                                               items, writes MACHINE/holding-<pid> ("1" when an
//                                               Outlook runs inside this process), waits to be
//                                               killed
// Exit codes: 0 done, 2 and up the step that failed.
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include "outlook/outlook.h"
#include "sx/machine.h"
#include "sx/outlook/outlook_process.h"
#include "win32/sync.h"

namespace {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

struct Reached {
  ComPtr<_Application> app;
  ComPtr<MAPIFolder> inbox;
  ComPtr<_Items> items;
};

int reach(Reached* r) {
  if (FAILED(CoCreateInstance(CLSID_OutlookApplication, nullptr, CLSCTX_LOCAL_SERVER,
                              _Application::kIid, r->app.PutVoid()))) {
    return 2;
  }
  ComPtr<_NameSpace> ns;
  Bstr mapi = Bstr::from_utf8("MAPI");
  if (FAILED(r->app->GetNamespace(mapi.get(), ns.GetAddressOf()))) return 3;
  if (FAILED(ns->GetDefaultFolder(olFolderInbox, r->inbox.GetAddressOf()))) return 4;
  if (FAILED(r->inbox->get_Items(r->items.GetAddressOf()))) return 5;
  return 0;
}

int post(const std::string& subject) {
  Reached r;
  if (const int failed = reach(&r); failed != 0) return failed;
  ComPtr<IDispatch> made;
  Variant kind = Variant::from_utf8("IPM.Post");
  if (FAILED(r.items->Add(kind.get(), made.GetAddressOf()))) return 6;
  ComPtr<_PostItem> item = made.As<_PostItem>();
  if (!item) return 7;
  Bstr text = Bstr::from_utf8(subject);
  if (FAILED(item->put_Subject(text.get())) || FAILED(item->Save())) return 8;
  return 0;
}

int hold(const std::string& machine) {
  Reached r;
  if (const int failed = reach(&r); failed != 0) return failed;
  std::ofstream(machine + "/holding-" + std::to_string(::getpid()))
      << (sx::outlook::outlook_running_here() ? "1" : "0") << "\n";
  for (;;) Sleep(1000);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 1;
  const std::string machine = argv[1];
  sx::machine::set_root(machine);
  CoInitialize(nullptr);
  int result = 1;
  if (std::strcmp(argv[2], "post") == 0 && argc == 4) result = post(argv[3]);
  if (std::strcmp(argv[2], "hold") == 0) result = hold(machine);
  CoUninitialize();
  return result;
}
