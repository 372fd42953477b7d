// What DllCanUnloadNow answers from: the live Update1 objects and the LockServer count of the
// server's class factory. Any thread.
#pragma once

namespace sx::update {

void object_created();
// The last object's going also lets go of the shared Outlook Application.
void object_destroyed();
void lock_server(bool lock);
// True when no object lives and no lock is held.
bool can_unload();

}  // namespace sx::update
