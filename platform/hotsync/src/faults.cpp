// Fault injection for tests: a named sync manager operation fails on its n-th call from now.
#include <deque>
#include <map>
#include <mutex>

#include "session.h"
#include "sx/hotsync.h"

namespace sx::hotsync {
namespace {

struct Fault {
  int calls_left;
  long code;
};
std::mutex g_mutex;
std::map<std::string, std::deque<Fault>>& faults() {
  static auto* f = new std::map<std::string, std::deque<Fault>>();  // outlives static destructors
  return *f;
}

}  // namespace

void inject_fault(const std::string& operation, long code, int nth) {
  std::lock_guard<std::mutex> lock(g_mutex);
  faults()[operation].push_back({nth < 1 ? 1 : nth, code});
}

void clear_faults() {
  std::lock_guard<std::mutex> lock(g_mutex);
  faults().clear();
}

long detail::take_fault(const char* operation) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = faults().find(operation);
  if (it == faults().end()) return 0;
  long code = 0;
  for (auto f = it->second.begin(); f != it->second.end();) {
    if (--f->calls_left <= 0) {
      if (code == 0) {
        code = f->code;
        f = it->second.erase(f);
        continue;
      }
      f->calls_left = 1;  // two faults due on one call: the later one fails the next call
    }
    ++f;
  }
  if (it->second.empty()) faults().erase(it);
  return code;
}

}  // namespace sx::hotsync
