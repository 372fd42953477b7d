// The HotSync log: what a HotSync did, per user, shown by HotSync Manager afterwards.
// Thread-safe; never throws.
#pragma once

#include "win32/types.h"

inline constexpr int slText = -1;          // a plain line
inline constexpr int slSyncStarted = 19;   // a conduit's run begins
inline constexpr int slSyncFinished = 20;  // ... and ended without error
inline constexpr int slSyncAborted = 21;   // ... and ended with an error
inline constexpr int slWarning = 22;       // an error text

extern "C" {
// Adds one entry to the log of the HotSync in progress (the user's "HotSync Log.txt" in HotSync's
// directory). `timestamp` non-zero prefixes the time. Returns 0, or SYNCERR_NOT_REGISTERED when no
// HotSync is in progress (the entry is dropped). A null text counts as "".
long LogAddEntry(const char* text, int activity, BOOL timestamp);
}
