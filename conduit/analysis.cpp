// The seam of the merge: the bodies of synchronizeWith, mirrorFrom, addMissingFrom and
// resolveConflict come with the merge itself. Until then nothing in memory changes and the sync
// run writes nothing, so no handheld change mark or note can be lost.
#include "analysis.h"

#include "note_database.h"

namespace sx::conduit {

long NoteDatabase::synchronizeWith(NoteDatabase&) { return kAnalysisNotBuilt; }
long NoteDatabase::mirrorFrom(NoteDatabase&) { return kAnalysisNotBuilt; }
long NoteDatabase::addMissingFrom(NoteDatabase&, std::map<std::int32_t, std::int32_t>&) {
  return kAnalysisNotBuilt;
}
int NoteRecord::resolveConflict(SyncField&, SyncField&, DWORD) { return 3; }

}  // namespace sx::conduit
