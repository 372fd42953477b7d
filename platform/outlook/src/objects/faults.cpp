#include "sx/outlook/faults.h"

#include <map>
#include <mutex>

#include "objects/errors.h"
#include "sx/kill_point.h"

namespace sx::outlook {

namespace {

struct Entry {
  Fault fault;
  int calls = 0;
  std::string failed;  // "Kind.operation" of the last call it failed
};

std::mutex& mutex() {
  static std::mutex m;
  return m;
}
std::map<int, Entry>& faults() {
  static std::map<int, Entry> f;
  return f;
}
int next_id = 1;

bool operation_matches(const std::string& wanted, std::string_view op) {
  if (wanted == op || wanted == "*") return true;
  if (op.size() > 4 && (op.substr(0, 4) == "get_" || op.substr(0, 4) == "put_"))
    return wanted == op.substr(4);
  return false;
}

bool kind_matches(const std::string& wanted, std::string_view kind) {
  if (wanted.empty() || wanted == kind) return true;
  return wanted == "Item" && kind.size() > 4 && kind.substr(kind.size() - 4) == "Item";
}

}  // namespace

int inject_fault(const Fault& fault) {
  Fault f = fault;
  // A client holds proxies: the fault is for the object behind one.
  f.object = sx::com::object_identity(f.object);
  std::lock_guard g(mutex());
  faults()[next_id] = Entry{f, 0, {}};
  return next_id++;
}

void remove_fault(int id) {
  std::lock_guard g(mutex());
  faults().erase(id);
}

void clear_faults() {
  std::lock_guard g(mutex());
  faults().clear();
}

std::string fault_failed_call(int id) {
  std::lock_guard g(mutex());
  auto it = faults().find(id);
  return it == faults().end() ? std::string() : it->second.failed;
}

int fault_calls(int id) {
  std::lock_guard g(mutex());
  auto it = faults().find(id);
  return it == faults().end() ? 0 : it->second.calls;
}

namespace detail {

void check_fault(std::string_view kind, std::string_view operation, const void* identity) {
  sx::kill_points::pass("outlook-call");
  std::lock_guard g(mutex());
  if (faults().empty()) return;
  for (auto& [id, e] : faults()) {
    const Fault& f = e.fault;
    if (!kind_matches(f.kind, kind) || !operation_matches(f.operation, operation)) continue;
    if (f.object != nullptr && static_cast<const void*>(f.object) != identity) continue;
    const int n = ++e.calls;
    if (n >= f.nth && (f.times == 0 || n < f.nth + f.times)) {
      e.failed = std::string(kind) + "." + std::string(operation);
      throw OutlookError(f.hr, f.description, f.source);
    }
  }
}

}  // namespace detail

}  // namespace sx::outlook
