// The note key counter: every new note key of the system (the conduit's note IDs, the keys the
// access component gives posts without one, the keys the notes add-in stamps) is the next value of
// one sequence kept in HKEY_LOCAL_MACHINE\Software\Vorlan Software\Scribbix as the DWORDs "Last"
// (the last key given) and "Base" (where the sequence started).
//
// Draws are guarded across the threads and processes of the machine by NoteKeyGuard, so two
// programs drawing at once (Outlook's notes add-in and the conduit in HotSync) never get the same
// key. The stored values and their meaning are unchanged by the guard.
#pragma once

#include "windows.h"

namespace sx::common {

// Holds the machine-wide lock of the key counter while it lives: an exclusive open of
// "NoteKey.lck" in the machine's temporary folder (C:\Windows\Temp), which other processes and
// threads cannot share and which the system drops when a process dies. Waits up to about two
// seconds (in 10 ms sleeps) for another holder; if the lock cannot be had by then (a folder that
// cannot be written, a holder that hangs), the draw goes ahead unguarded, as it always did, rather
// than failing to make a note.
class NoteKeyGuard {
 public:
  NoteKeyGuard();
  ~NoteKeyGuard();
  NoteKeyGuard(const NoteKeyGuard&) = delete;
  NoteKeyGuard& operator=(const NoteKeyGuard&) = delete;
  bool held() const { return file_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

// The next note key, as the access component and the notes add-in draw it (NextNoteKey of
// basRegistry), under NoteKeyGuard:
// 1. Last := "Last" as a signed number (missing or unreadable: 0).
// 2. If Last is 0: Last := "Base"; if that is 0 too, a new Base from the time of day (its fraction
//    of a day times 2^32, folded below 2^31, AND 0x7FF00000: a multiple of 1048576) is written.
// 3. key := Last + 1 in 32 bits (0x7FFFFFFF is followed by -2147483648, -1 by 1: never 0).
// 4. "Last" := key as a DWORD. A failed write is ignored.
// The key is returned as a double holding the same signed 32-bit value that "Last" now holds.
double NextNoteKey();

}  // namespace sx::common
