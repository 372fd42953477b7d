#include "analysis.h"

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_map>
#include <vector>

#include "dialogs.h"
#include "hotsync/hslog.h"
#include "hotsync/syncmgr.h"
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
// A note that has no ID of its own yet (new on the handheld, or a second note under one ID).
bool needs_new_id(const NoteRecord& note) { return note.needsRewrite() || note.noteId() == 0; }

// Mirror: `target` takes the value of `source` when they differ (excluded fields never).
void copy_if_differs(NoteRecord& note, SyncField& target, const SyncField& source, Side side) {
  if (target.exclude || source.exclude || target.equals(source)) return;
  target.assign(source);
  note.logFieldSet(target, side);
}

// Keeps an iterator ahead of a walk over a map in key order and asks for the memory of the notes
// it passes: their records, and a few steps later (the records having arrived) their texts. The
// walk then finds them in the cache (the notes of 100,000-note databases do not fit in one). A
// walk that only looks at the notes' marks and attributes asks for the start of each record only.
class Lookahead {
 public:
  enum class Reads { kWholeNotes, kMarksOnly };
  explicit Lookahead(NoteDatabase::NoteMap& notes, Reads reads = Reads::kWholeNotes)
      : notes_(notes), ahead_(notes.begin()), whole_(reads == Reads::kWholeNotes) {
    for (int i = 0; i < kDistance; ++i) step();
  }
  // One step of the walk.
  void step() {
    if (ahead_ == notes_.end()) return;
    const NoteRecord* note = ahead_->second.get();
    const auto* bytes = reinterpret_cast<const char*>(note);
    for (std::size_t at = 0; at < (whole_ ? sizeof(NoteRecord) : kMarkBytes); at += 64) {
      __builtin_prefetch(bytes + at);
    }
    if (whole_) {
      const NoteRecord*& earlier = passed_[count_++ % kTextDelay];
      if (earlier != nullptr) {
        __builtin_prefetch(earlier->text(NoteRecord::kText).desktop().data());
      }
      earlier = note;
    }
    ++ahead_;
  }

 private:
  static constexpr int kDistance = 16;
  static constexpr std::size_t kTextDelay = 8;
  // The marks, flags and record information sit at the start of a record.
  static constexpr std::size_t kMarkBytes = 128;
  NoteDatabase::NoteMap& notes_;
  NoteDatabase::NoteMap::iterator ahead_;
  bool whole_;
  std::array<const NoteRecord*, kTextDelay> passed_{};
  std::size_t count_ = 0;
};

// Walks a map in ascending key order alongside another walk in the same order: the note of a key,
// found without a search from the root. `touched`: the caller reads the notes found (their memory
// is asked for ahead), not only whether they are there.
class InOrder {
 public:
  InOrder(NoteDatabase::NoteMap& notes, bool touched) : notes_(notes), at_(notes.begin()) {
    if (touched) ahead_.emplace(notes);
  }
  // The note under `id`, for ids asked in ascending order. Notes inserted meanwhile are seen as
  // long as their key is not below the last id asked.
  NoteRecord* find(std::int32_t id) {
    while (at_ != notes_.end() && at_->first < id) {
      ++at_;
      if (ahead_) ahead_->step();
    }
    return at_ != notes_.end() && at_->first == id ? at_->second.get() : nullptr;
  }

 private:
  NoteDatabase::NoteMap& notes_;
  NoteDatabase::NoteMap::iterator at_;
  std::optional<Lookahead> ahead_;
};

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

void match_deleted_records(NoteDatabase& handheld, const NoteDatabase& desktop) {
  auto& notes = handheld.notes();
  std::vector<NoteDatabase::NoteMap::iterator> orphans;
  for (auto it = notes.begin(); it != notes.end(); ++it) {
    const NoteRecord& note = *it->second;
    if (deleted_not_archived(note) && note.needsRewrite() && note.info().m_RecId != 0) {
      orphans.push_back(it);
    }
  }
  if (orphans.empty()) return;
  std::unordered_map<DWORD, std::int32_t> by_record;
  for (const auto& [id, note] : desktop.notes()) {
    const DWORD record = note->info().m_RecId;  // a packed member: read by value
    if (record != 0) by_record.emplace(record, note->noteId());
  }
  for (auto it : orphans) {
    const DWORD record = it->second->info().m_RecId;
    auto found = by_record.find(record);
    if (found == by_record.end() || notes.count(found->second) != 0) continue;
    auto node = notes.extract(it);
    node.mapped()->setNoteId(found->second);
    node.mapped()->needs_rewrite = false;
    node.key() = found->second;
    notes.insert(std::move(node));
  }
}

namespace {

// The fields a post holds; the others (Resv1, Resv2, the first text) a new post leaves empty.
constexpr std::array<int, 5> kPostedFields = {NoteRecord::kCreated, NoteRecord::kModified,
                                              NoteRecord::kDate, NoteRecord::kText2,
                                              NoteRecord::kText};
constexpr std::array<int, 3> kUnpostedFields = {NoteRecord::kResv1, NoteRecord::kResv2,
                                                NoteRecord::kText1};

bool same_or_excluded(const SyncField& a, const SyncField& b) {
  return a.exclude || b.exclude || a.equals(b);
}

bool has_date(const NoteRecord& note) {
  return static_cast<const DateField&>(note.field(NoteRecord::kDate)).value() != 0;
}

// The desktop note is the post a sync made of the handheld note: every field a post holds has the
// handheld's value.
bool posted_from(const NoteRecord& handheld, const NoteRecord& desktop) {
  for (int i : kPostedFields) {
    const auto index = static_cast<std::size_t>(i);
    // A post always has a date: its first reading stamps one on a note that had none.
    if (i == NoteRecord::kDate && !has_date(handheld)) continue;
    if (!same_or_excluded(handheld.field(index), desktop.field(index))) return false;
  }
  return same_or_excluded(handheld.category(), desktop.category()) &&
         same_or_excluded(handheld.privateFlag(), desktop.privateFlag());
}

}  // namespace

void match_posted_new_notes(NoteDatabase& handheld, NoteDatabase& desktop) {
  auto& notes = handheld.notes();
  std::vector<NoteDatabase::NoteMap::iterator> fresh;
  for (auto it = notes.begin(); it != notes.end(); ++it) {
    const NoteRecord& note = *it->second;
    if (note.needsRewrite() && !note.isDeletedOrArchived() && !note.isMarkedForDeletion()) {
      fresh.push_back(it);
    }
  }
  if (fresh.empty()) return;
  // Desktop notes no handheld record ever held (the state file gave them none), under IDs the
  // handheld does not hold.
  std::vector<NoteRecord*> unmatched;
  for (auto& [id, note] : desktop.notes()) {
    const DWORD record = note->info().m_RecId;  // a packed member: read by value
    if (record == 0 && !note->isDeletedOrArchived() && !note->isMarkedForDeletion() &&
        !note->needsRewrite() && notes.count(id) == 0) {
      unmatched.push_back(note.get());
    }
  }
  for (auto it : fresh) {
    NoteRecord& h = *it->second;
    auto found = std::find_if(unmatched.begin(), unmatched.end(), [&](const NoteRecord* d) {
      return d != nullptr && posted_from(h, *d);
    });
    if (found == unmatched.end()) continue;
    NoteRecord& d = **found;
    *found = nullptr;
    // What a post does not hold (and a date it stamped) is the handheld's: the desktop note takes
    // it as it stands, as the note the post was made of had it.
    for (int i : kUnpostedFields) {
      const auto index = static_cast<std::size_t>(i);
      if (!d.field(index).equals(h.field(index))) d.field(index).assign(h.field(index));
    }
    SyncField& date = d.field(NoteRecord::kDate);
    if (!date.equals(h.field(NoteRecord::kDate))) {
      date.assign(h.field(NoteRecord::kDate));
      date.modified_here = false;
    }
    const std::int32_t id = d.noteId();
    auto node = notes.extract(it);
    node.mapped()->setNoteId(id);  // written back to the handheld with its ID
    node.mapped()->needs_rewrite = false;
    node.key() = id;
    notes.insert(std::move(node));
  }
}

void carry_handheld_records(const NoteDatabase& handheld, NoteDatabase& desktop) {
  InOrder desktop_notes(desktop.notes(), true);
  for (const auto& [id, h] : handheld.notes()) {
    if (h->isMarkedForDeletion() || h->isDeletedOrArchived()) continue;
    NoteRecord* d = h->noteId() == id ? desktop_notes.find(id) : desktop.find(h->noteId());
    if (d == nullptr) continue;
    if (h->info().m_RecId != 0) d->info().m_RecId = h->info().m_RecId;
    // The handheld kept its old values: the desktop's stay marked as changes for the next sync.
    if (h->write_refused) d->setMod(d->modValue() | h->changedBits());
  }
}

void keep_changes_the_desktop_refused(NoteDatabase& handheld, const NoteDatabase& desktop) {
  for (const auto& [id, d] : desktop.notes()) {
    if (!d->write_refused) continue;
    const DWORD bits = d->changedBits();
    NoteRecord* h = handheld.find(d->noteId());
    if (bits == 0 || h == nullptr || h->isMarkedForDeletion() || h->isDeletedOrArchived()) continue;
    h->setMod(h->modValue() | bits);
  }
}

namespace {

// A note of the other side that could not be made on `target` (no new ID could be drawn, or an ID
// came twice): said once, and the note is written back to its side as it was read (not with a
// provisional ID), so that the next sync meets it as it meets it now and makes it then.
void left_out(const NoteDatabase& target, NoteRecord& note) {
  log_line(format_string(target.isHandheld() ? IDS_NOT_ADDED_HANDHELD : IDS_NOT_ADDED_DESKTOP,
                         note.title().c_str()),
           slWarning);
  note.clearChangedMarks();
}

}  // namespace

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
  pairWith(other);
  progress().step(6, *this);
  if (isHandheld()) {
    match_deleted_records(*this, other);
    match_posted_new_notes(*this, other);
  }
  const Side other_side = side_of(other);
  long result = 0;
  InOrder other_notes(other.notes_, true);
  Lookahead ahead(notes_);
  for (auto& [id, h] : notes_) {
    ahead.step();
    progress().item(6, *h);
    SyncYieldCycles(1);
    if (NoteRecord* d = other_notes.find(id)) {
      if (!d->text_incomplete) {
        merge_notes(*h, *d);
        continue;
      }
      // The other side holds more of this note's text than this one (cut, or with characters this
      // side lacks): a text from here never goes over it. A changed text of this side becomes a
      // note of its own there, and the note stays there as it was (and comes back here whole as
      // far as this side can hold it).
      NoteRecord before;
      before.copyFrom(*d);
      merge_notes(*h, *d);
      if (!d->text(NoteRecord::kText).changed_in_memory) continue;
      d->copyFrom(before);
      d->clearChangedMarks();
      h->needs_rewrite = true;  // a new ID there
      log_line(format_string(IDS_EDIT_KEPT_AS_NEW_NOTE, h->title().c_str()), slText);
    }
    if (h->isDeletedOrArchived() && !archived(*h)) continue;
    auto created = other.createRecord(h.get());
    NoteRecord* added = created.get();
    // No new ID could be drawn there, or the side gave one it already holds.
    if (created == nullptr || !other.insert(std::move(created))) {
      left_out(other, *h);
      result = kNoteNotCreated;
      continue;
    }
    const std::int32_t new_id = added->noteId();
    if (new_id != h->noteId()) {
      remap_[h->noteId()] = new_id;
      h->setNoteId(new_id);  // written back to this side
    }
    if (!added->write_refused) added->logAdded(other_side);  // refused: it logged why
  }
  rekey(*this);
  const long added = addMissingFrom(other, other.remap());
  return result != 0 ? result : added;
}

long NoteDatabase::addMissingFrom(NoteDatabase& other,
                                  std::map<std::int32_t, std::int32_t>& remap) {
  const Side side = side_of(*this);
  long result = 0;
  InOrder here(notes_, false);
  // Most notes are there already: the walk reads their marks and keys only.
  Lookahead ahead(other.notes(), Lookahead::Reads::kMarksOnly);
  for (auto& [id, source] : other.notes()) {
    ahead.step();
    SyncYieldCycles(1);
    if (source->isMarkedForDeletion() || source->isDeletedOrArchived()) continue;
    if (here.find(id) != nullptr) continue;
    const std::int32_t source_id = source->noteId();  // its key, unless re-keying left it behind
    if (source_id != id && find(source_id) != nullptr) continue;
    auto created = createRecord(source.get());
    if (created != nullptr && needs_new_id(*source) && created->noteId() == source_id) {
      // This side gives no IDs (the handheld): the note's own side draws one.
      const std::int32_t fresh = other.newNoteId();
      if (fresh == 0) {
        created.reset();
      } else {
        created->setNoteId(fresh);
        created->needs_rewrite = false;
      }
    }
    NoteRecord* added = created.get();
    if (created == nullptr || !insert(std::move(created))) {
      left_out(*this, *source);
      result = kNoteNotCreated;
      continue;
    }
    const std::int32_t new_id = added->noteId();
    if (new_id != source_id) {
      remap[source_id] = new_id;
      source->setNoteId(new_id);
    }
    if (!added->write_refused) added->logAdded(side);
  }
  rekey(other);
  return result;
}

long NoteDatabase::mirrorFrom(NoteDatabase& source) {
  pairWith(source);
  progress().step(6, *this);
  const Side side = side_of(*this);
  // 1. A note that stays takes the source's values. A note deleted or archived here leaves the map
  // (2.) and is added again from the source (3.), so it gets no "set" lines; one the source
  // archived stays, archived, so that its side learns it.
  std::vector<std::int32_t> leaving;
  {
    InOrder source_notes(source.notes_, true);
    Lookahead ahead(notes_);
    for (auto& [id, t] : notes_) {
      ahead.step();
      progress().item(6, *t);
      SyncYieldCycles(1);
      NoteRecord* s = source_notes.find(id);
      const bool archived_on_both = archived(*t) && s != nullptr && archived(*s);
      if (t->isDeletedOrArchived() && !archived_on_both) {
        leaving.push_back(id);
        continue;
      }
      // A source record deleted for good carries no note: nothing to copy (the target note is
      // deleted below), rather than blanking the target's fields.
      if (s == nullptr || deleted_not_archived(*s)) continue;
      for (std::size_t i = 0; i < static_cast<std::size_t>(NoteRecord::kFieldCount); ++i) {
        copy_if_differs(*t, t->field(i), s->field(i), side);
      }
      // A target that holds more of the text than the source keeps it (its side's write leaves
      // the text as it is); the source's text stays marked as changed, so that the next sync
      // carries it again (as a note of its own there).
      if (t->text_incomplete && t->text(NoteRecord::kText).changed_in_memory)
        s->setMod(s->modValue() | (1u << NoteRecord::kText));
      if (t->hasCategory()) copy_if_differs(*t, t->category(), s->category(), side);
      if (t->hasPrivate()) copy_if_differs(*t, t->privateFlag(), s->privateFlag(), side);
      if (archived(*s)) set_archived(*t);
    }
  }
  // 2.
  for (std::int32_t id : leaving) notes_.erase(id);
  // 3.
  const long result = addMissingFrom(source, source.remap());
  // 4. What the source does not hold goes.
  InOrder source_notes(source.notes_, true);
  for (auto& [id, t] : notes_) {
    SyncYieldCycles(1);
    const NoteRecord* s = source_notes.find(id);
    if (s == nullptr || deleted_not_archived(*s)) {
      t->markForDeletion();
      t->logDeleted(side);
    }
  }
  return result;
}

}  // namespace sx::conduit
