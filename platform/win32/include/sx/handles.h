// The process's table of kernel object handles (events, threads, files, find searches, modules...).
//
// Every kind of kernel object derives from sx::handles::Object; CloseHandle closes any of them. A
// handle stays valid until it is closed; the object lives while a handle or a caller's shared_ptr
// holds it. Thread-safe.
#pragma once

#include <memory>

#include "win32/types.h"

namespace sx::handles {

class Object {
 public:
  virtual ~Object();
  // Called with no lock held when the last handle to the object is closed.
  virtual void on_last_handle_closed() {}
};

// Adds an object to the table and returns its new handle (never null or INVALID_HANDLE_VALUE).
HANDLE insert(std::shared_ptr<Object> object);

// The object behind a handle, or null when the handle is not open.
std::shared_ptr<Object> lookup(HANDLE handle);

// The object behind a handle when it is of kind T, else null.
template <class T>
std::shared_ptr<T> get(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(lookup(handle));
}

// Removes a handle. Returns false when it was not open.
bool close(HANDLE handle);

// A second handle to the same object.
HANDLE duplicate(HANDLE handle);

}  // namespace sx::handles

extern "C" {
// Closes a handle of any kernel object kind. FALSE with ERROR_INVALID_HANDLE when it is not open.
BOOL CloseHandle(HANDLE handle);
}
