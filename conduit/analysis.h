// The merge of the two note databases: NoteDatabase::synchronizeWith, mirrorFrom and
// addMissingFrom and NoteRecord::resolveConflict are built in analysis.cpp, with the helpers
// below. They change memory only (field values and marks, Mod values, exclude flags, deletion
// marks, archive bits, IDs, map keys); the writes come afterwards. The HotSync log gets the change
// lines the settings ask for.
//
// Run thread only (settings, progress sink, conflict dialog).
#pragma once

#include "win32/types.h"

namespace sx::conduit {

class NoteDatabase;
class NoteRecord;
class SyncField;

// Merges a handheld note with the desktop note of the same ID: archive bit to both, a deletion on
// one side deletes the other, otherwise field by field.
void merge_notes(NoteRecord& handheld, NoteRecord& desktop);
// One field pair; `bit` is the field's Mod bit.
void merge_field(NoteRecord& handheld, NoteRecord& desktop, SyncField& handheld_field,
                 SyncField& desktop_field, DWORD bit);
// Moves every note whose old ID is in the database's remap map to the key of its current ID. A
// note whose new key is taken stays under its old key (never dropped).
void rekey(NoteDatabase& database);

// A handheld record deleted for good keeps no note data, so it reads with a provisional ID; its
// handheld record id still names the note it was, and the desktop's notes remember the record ids
// of theirs (the state file keeps them). Each such record takes the ID of the desktop note with
// its record id, so that the deletion reaches the desktop. Run before the merge.
void match_deleted_records(NoteDatabase& handheld, const NoteDatabase& desktop);

// A note new on the handheld that a sync which did not finish had already posted reads again as
// new on both sides: the handheld record never took its ID, and the state file never learnt of the
// post. Each handheld note without an ID of its own takes the ID of such a desktop note (no
// handheld record id, an ID the handheld does not hold) whose post holds exactly its values, so
// that the note is not made twice. Run before the merge.
void match_posted_new_notes(NoteDatabase& handheld, NoteDatabase& desktop);

// After both sides are written, before the desktop keeps its state: each desktop note learns the
// handheld record id of its note, and one whose handheld record could not take it (too long)
// keeps, in its Mod value, the bits of what the handheld still lacks, so that the next sync sees
// them as desktop changes instead of taking the handheld's old values back.
void carry_handheld_records(const NoteDatabase& handheld, NoteDatabase& desktop);
// After the desktop was written and before the handheld is: a note whose changes the desktop did
// not take (its write refused) keeps them marked on its handheld record, which is written with
// those Mod bits, so that the next sync, meeting the desktop as it was, carries them again instead
// of taking the difference as a conflict (which "desktop wins" would settle by undoing the
// handheld's edit).
void keep_changes_the_desktop_refused(NoteDatabase& handheld, const NoteDatabase& desktop);

}  // namespace sx::conduit
