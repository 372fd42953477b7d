#include "analysis.h"

#include "dialogs.h"
#include "hotsync/hslog.h"
#include "note_database.h"
#include "progress.h"
#include "resources.h"
#include "settings.h"

namespace sx::conduit {
namespace {

constexpr DWORD kCategoryBit = 0x80000000u;
constexpr DWORD kPrivateBit = 0x40000000u;
constexpr int kSkip = 3;

Side side_of(const NoteDatabase& database) {
  return database.isHandheld() ? Side::kHandheld : Side::kDesktop;
}

bool archived(const NoteRecord& note) { return (note.attributes() & kAttrArchived) != 0; }
void set_archived(NoteRecord& note) {
  note.setAttributes(static_cast<BYTE>(note.attributes() | kAttrArchived));
}
// Deleted for good: the record carries no note (an archived note still does).
bool deleted_not_archived(const NoteRecord& note) {
  return note.isDeletedOrArchived() && !archived(note);
}

// Mirror: `target` takes the value of `source` when they differ (excluded fields never).
void copy_if_differs(NoteRecord& note, SyncField& target, const SyncField& source, Side side) {
  if (target.exclude || target.equals(source)) return;
  target.assign(source);
  note.logFieldSet(target, side);
}

}  // namespace

void rekey(NoteDatabase& database) {
  auto& notes = database.notes();
  for (const auto& [old_id, new_id] : database.remap()) {
    auto it = notes.find(old_id);
    if (it == notes.end()) continue;
    const std::int32_t current = it->second->noteId();
    if (current == old_id || notes.count(current) != 0) continue;
    auto node = notes.extract(it);
    node.key() = current;
    notes.insert(std::move(node));
  }
}

void merge_field(NoteRecord& h, NoteRecord& d, SyncField& hf, SyncField& df, DWORD bit) {
  if (hf.exclude || hf.equals(df)) return;
  if (hf.modified_here == df.modified_here) {
    h.logFieldConflict(hf, df);
    if (h.resolveConflict(hf, df, bit) == kSkip) {
      // Both sides keep their value; the Mod bit raises the conflict again next run.
      h.setMod(h.modValue() | bit);
      d.setMod(d.modValue() | bit);
      hf.exclude = true;
      df.exclude = true;
    }
  } else if (df.modified_here) {
    hf.assign(df);
    h.logFieldSet(hf, Side::kHandheld);
  } else {
    df.assign(hf);
    h.logFieldSet(df, Side::kDesktop);
  }
}

void merge_notes(NoteRecord& h, NoteRecord& d) {
  if (archived(h)) {
    set_archived(d);
  } else if (archived(d)) {
    set_archived(h);
  }
  if (deleted_not_archived(h)) {
    // A handheld record deleted for good has no text: the line names the desktop note.
    d.logDeleted(Side::kDesktop);
    d.markForDeletion();
    return;
  }
  if (deleted_not_archived(d)) {
    h.logDeleted(Side::kHandheld);
    h.markForDeletion();
    return;
  }
  for (int i = 0; i < NoteRecord::kFieldCount; ++i) {
    const auto index = static_cast<std::size_t>(i);
    merge_field(h, d, h.field(index), d.field(index), 1u << i);
  }
  if (h.hasCategory()) merge_field(h, d, h.category(), d.category(), kCategoryBit);
  if (h.hasPrivate()) merge_field(h, d, h.privateFlag(), d.privateFlag(), kPrivateBit);
}

int NoteRecord::resolveConflict(SyncField& hf, SyncField& df, DWORD /*bit*/) {
  DWORD resolution = settings().ConflictResolution;
  if (resolution == 2) {
    if (!hf.modified_here && !df.modified_here) {
      // Neither side says it changed the field: the handheld value, without asking. Only this
      // field: a later real conflict of the run is still asked about.
      df.assign(hf);
      logFieldSet(df, Side::kDesktop);
      return 1;
    }
    ConflictDialog dialog(*this, hf, df);
    const int choice = dialog.show();
    if (dialog.noResponse()) log_line(format_string(IDS_NO_RESPONSE, title().c_str()), slWarning);
    if (dialog.useForAll()) settings().ConflictResolution = static_cast<DWORD>(choice);
    resolution = static_cast<DWORD>(choice);
  }
  switch (resolution) {
    case 0:
      hf.assign(df);
      logFieldSet(hf, Side::kHandheld);
      return 0;
    case 1:
      df.assign(hf);
      logFieldSet(df, Side::kDesktop);
      return 1;
    case kSkip:
      return kSkip;
    default:
      return static_cast<int>(resolution);  // both kept, counted as resolved
  }
}

long NoteDatabase::synchronizeWith(NoteDatabase& other) {
  progress().step(6, *this);
  const Side other_side = side_of(other);
  for (auto& [id, h] : notes_) {
    progress().item(6, *h);
    if (NoteRecord* d = other.find(id)) {
      merge_notes(*h, *d);
      continue;
    }
    if (h->isDeletedOrArchived() && !archived(*h)) continue;
    auto created = other.createRecord(h.get());
    NoteRecord& added = *created;
    const std::int32_t new_id = added.noteId();
    if (!other.insert(std::move(created))) continue;
    if (new_id != h->noteId()) {
      remap_[h->noteId()] = new_id;
      h->setNoteId(new_id);  // written back to this side
    }
    added.logAdded(other_side);
  }
  rekey(*this);
  return addMissingFrom(other, other.remap());
}

long NoteDatabase::addMissingFrom(NoteDatabase& other,
                                  std::map<std::int32_t, std::int32_t>& remap) {
  const Side side = side_of(*this);
  for (auto& [id, source] : other.notes()) {
    if (source->isMarkedForDeletion() || source->isDeletedOrArchived()) continue;
    if (find(source->noteId()) != nullptr) continue;
    auto created = createRecord(source.get());
    NoteRecord& added = *created;
    const std::int32_t new_id = added.noteId();
    if (!insert(std::move(created))) continue;
    if (new_id != source->noteId()) {
      remap[source->noteId()] = new_id;
      source->setNoteId(new_id);
    }
    added.logAdded(side);
  }
  rekey(other);
  return 0;
}

long NoteDatabase::mirrorFrom(NoteDatabase& source) {
  progress().step(6, *this);
  const Side side = side_of(*this);
  for (auto& [id, t] : notes_) {
    progress().item(6, *t);
    const NoteRecord* s = source.find(id);
    // A source record deleted for good carries no note: nothing to copy (the target note is
    // deleted below), rather than blanking the target's fields.
    if (s == nullptr || deleted_not_archived(*s)) continue;
    for (std::size_t i = 0; i < static_cast<std::size_t>(NoteRecord::kFieldCount); ++i) {
      copy_if_differs(*t, t->field(i), s->field(i), side);
    }
    if (t->hasCategory()) copy_if_differs(*t, t->category(), s->category(), side);
    if (t->hasPrivate()) copy_if_differs(*t, t->privateFlag(), s->privateFlag(), side);
    if (archived(*s)) set_archived(*t);
  }
  std::erase_if(notes_, [](const auto& entry) { return entry.second->isDeletedOrArchived(); });
  const long result = addMissingFrom(source, source.remap());
  for (auto& [id, t] : notes_) {
    const NoteRecord* s = source.find(id);
    if (s == nullptr || deleted_not_archived(*s)) {
      t->markForDeletion();
      t->logDeleted(side);
    }
  }
  return result;
}

}  // namespace sx::conduit
