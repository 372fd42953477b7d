#include "mass_change_guard.h"

#include "dialogs.h"
#include "hotsync/hslog.h"
#include "resources.h"
#include "settings.h"

namespace sx::conduit {
namespace {

bool live(const NoteRecord& note) {
  return !note.isDeletedOrArchived() && !note.isMarkedForDeletion();
}

// A note live at the start that the writes would take away or change.
bool affected(const NoteRecord& note, bool overwrites_count) {
  if (!note.live_at_start) return false;
  if (note.isMarkedForDeletion()) return true;
  return overwrites_count && note.anyChangedInMemory();
}

}  // namespace

void mark_live_notes(NoteDatabase& database) {
  for (auto& [id, note] : database.notes()) note->live_at_start = live(*note);
}

SideChanges count_changes(const NoteDatabase& database, bool overwrites_count) {
  SideChanges changes;
  for (const auto& [id, note] : database.notes()) {
    if (note->live_at_start) ++changes.live;
    if (affected(*note, overwrites_count)) ++changes.affected;
  }
  return changes;
}

bool too_many(const SideChanges& changes) {
  return changes.affected >= 5 && changes.affected * 3 > changes.live;
}

bool guard_side(NoteDatabase& database, bool overwrites_count) {
  const SideChanges changes = count_changes(database, overwrites_count);
  if (!too_many(changes)) return false;
  const MassChangeQuestion question{database.isHandheld(), overwrites_count, changes.affected,
                                    changes.live};
  const MassChangeAnswer answer = ask_mass_change(question);
  const std::string what = mass_change_text(question);
  if (answer == MassChangeAnswer::kGoAhead) {
    log_line(format_string(IDS_MASS_CHANGE_CONFIRMED, what.c_str()), slText);
    return false;
  }
  for (auto& [id, note] : database.notes()) {
    if (affected(*note, overwrites_count)) note->held_back = true;
  }
  database.holdDeletionsBack();
  log_line(format_string(answer == MassChangeAnswer::kKeep ? IDS_MASS_CHANGE_DECLINED
                                                           : IDS_MASS_CHANGE_UNANSWERED,
                         what.c_str()),
           slWarning);
  return true;
}

}  // namespace sx::conduit
