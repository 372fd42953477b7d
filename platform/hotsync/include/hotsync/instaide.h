// HotSync's install aide ("instaide.dll" in HotSync's directory), loaded at run time by programs
// that need HotSync's users and their folders. Both functions read "users.dat" afresh on every
// call; never throw.
#pragma once

#include "win32/types.h"

extern "C" {
// Number of HotSync users (0 when HotSync is not installed or users.dat cannot be read).
int PltGetUserCount();
// Copies the name of user `index` (0-based, users.dat order) into `buffer`, NUL-terminated.
// *size: in, the room in `buffer` (callers pass 100); out, the name's length without the NUL.
// Returns the length (non-zero) on success; 0 when there is no such user, an argument is null, or
// the name does not fit (then *size is the room needed and the buffer is untouched).
int PltGetUser(unsigned int index, char* buffer, short* size);
// Copies the folder name of the user called `user` (exact) in HotSync's directory into `buffer`,
// NUL-terminated, with PltGetUser's rule for *size and the result; 0 when there is no such user.
int PltGetUserDirectory(const char* user, char* buffer, short* size);
}
