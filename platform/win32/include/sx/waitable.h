// Kernel objects that WaitForSingleObject and WaitForMultipleObjects can wait for.
//
// Events and threads are Waitables; another area can make its own object waitable (a message queue,
// a process) by deriving from Waitable, changing its state under sx::kernel::lock() and calling
// sx::kernel::notify_all() when it may have become signalled.
#pragma once

#include "sx/handles.h"

namespace sx::sync {

class Waitable : public sx::handles::Object {
 public:
  // Whether a wait for this object would be satisfied now. Called with sx::kernel::lock() held.
  virtual bool signalled_locked() const = 0;
  // A wait was satisfied by this object (an auto-reset event resets here). Called with the lock
  // held, right after signalled_locked() returned true under the same hold.
  virtual void consume_locked() {}
};

}  // namespace sx::sync
