// What DllCanUnloadNow answers from: the live Connect objects and the LockServer count of the
// server's class factory. Any thread.
#pragma once

namespace sx::addin {

void object_created();
void object_destroyed();
void lock_server(bool lock);
// True when no object lives and no lock is held.
bool can_unload();

}  // namespace sx::addin
