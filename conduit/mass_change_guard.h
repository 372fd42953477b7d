// The mass change guard: a HotSync that would delete, or in an overwrite mode overwrite, more than
// a third of one side's notes (and at least five) asks first. Unanswered within 60 seconds, or
// declined, nothing is deleted or overwritten on that side: its notes are held back from the
// writes, the other side keeps its records of the deletions, the state file is not saved (so the
// next HotSync meets the same changes and asks again), and the log says what was held back and why.
// The setting "ConfirmMassDeletion" (default 1) turns it off with 0.
//
// Used by the sync run's thread only; nothing here throws.
#pragma once

#include "note_database.h"

namespace sx::conduit {

// How many of a side's notes the analysis would take away.
struct SideChanges {
  unsigned long live = 0;      // live notes on the side when the analysis began
  unsigned long affected = 0;  // of those: to be deleted (or, when overwrites count, overwritten)
};

// Before the analysis: marks every live note of `database` (live_at_start).
void mark_live_notes(NoteDatabase& database);

// After the analysis: the side's live notes, and those the writes would delete (and overwrite,
// when `overwrites_count`: the side is the target of an overwrite mode).
SideChanges count_changes(const NoteDatabase& database, bool overwrites_count);

// More than a third of the side's notes, and at least five.
bool too_many(const SideChanges& changes);

// Asks about one side, logs the answer, and holds the side's changes back unless the answer was to
// go ahead. Returns true when they were held back.
bool guard_side(NoteDatabase& database, bool overwrites_count);

}  // namespace sx::conduit
