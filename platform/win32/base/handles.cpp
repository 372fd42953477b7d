#include "sx/handles.h"

#include <mutex>
#include <unordered_map>

#include "win32/errors.h"

namespace sx::handles {
namespace {

struct Table {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, std::shared_ptr<Object>> objects;
  std::unordered_map<const Object*, int> open_handles;  // per object, to find its last close
  std::uintptr_t next = 0x100;
};

Table& table() {
  static Table* t = new Table();  // never destroyed: handles may be closed during exit
  return *t;
}

}  // namespace

Object::~Object() = default;

HANDLE insert(std::shared_ptr<Object> object) {
  if (!object) return nullptr;
  Table& t = table();
  std::lock_guard lock(t.mutex);
  const std::uintptr_t value = t.next;
  t.next += 4;  // like Windows, handles are multiples of four
  ++t.open_handles[object.get()];
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> lookup(HANDLE handle) {
  Table& t = table();
  std::lock_guard lock(t.mutex);
  auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == t.objects.end() ? nullptr : it->second;
}

bool close(HANDLE handle) {
  std::shared_ptr<Object> object;
  bool last = false;
  {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == t.objects.end()) return false;
    object = std::move(it->second);
    t.objects.erase(it);
    auto count = t.open_handles.find(object.get());
    if (--count->second == 0) {
      t.open_handles.erase(count);
      last = true;
    }
  }
  if (last) object->on_last_handle_closed();
  return true;
}

HANDLE duplicate(HANDLE handle) {
  std::shared_ptr<Object> object = lookup(handle);
  return object ? insert(std::move(object)) : nullptr;
}

}  // namespace sx::handles

extern "C" BOOL CloseHandle(HANDLE handle) {
  if (!sx::handles::close(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
