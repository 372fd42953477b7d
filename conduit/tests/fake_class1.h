// A small stand-in of the Outlook access component for the conduit's tests: "ScribbixOut.Class1"
// served in the test process (a class whose factory already runs), keeping the notes folder in
// memory, with the calling order, results and walk of the real component, and faults a test asks
// for. Its objects are apartment-threaded: they belong to the assistant's worker.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "scribbixout/scribbixout.h"

namespace sx::conduit::testing {

struct FakePost {
  double key = 0;
  DATE date = 0, create = 0, modify = 0;
  std::u16string subject, body, category, contact;
  int sense = 0;
  int archived = 0;
};

// A fault: the n-th call (1-based, counted from when it was set) of `method` returns `result`, or
// fails with `hr` when it is a failure code; `sleep_ms` makes that call take so long (virtual
// time) instead.
struct FakeFault {
  std::string method;
  int nth = 1;
  long result = -1;
  HRESULT hr = S_OK;
  DWORD sleep_ms = 0;
};

// The folder and what the component was asked. Guarded by `lock` (tests read it while no HotSync
// runs; the worker writes it).
struct FakeOutlook {
  std::mutex lock;
  bool folder = true;  // the notes folder exists
  bool load_fails = false;
  std::string version = "9.0.0.3821";
  std::vector<std::string> known_profiles = {"Outlook"};
  bool session_preexisting = false;  // IsOutlookLoaded answers 1
  std::vector<FakePost> posts;
  std::vector<std::string> calls;  // method names in order
  std::vector<FakeFault> faults;
  std::map<std::string, int> counts;
  std::string logged_on_profile;
  int objects = 0;
  int next_key = 50000;
  std::function<void()> on_load;  // runs inside LoadOutlook (on the worker)
  std::function<void()> on_read;  // runs inside each ReadItem (on the worker)
};

FakeOutlook& fake_outlook();
// Registers the class on the machine and serves it in this process; resets the folder.
void install_fake_class1();
// Live posts (not archived): key -> body as UTF-8.
std::map<std::int32_t, std::string> fake_bodies();

}  // namespace sx::conduit::testing
