// What a HotSync did to each side, from the side before and after it: notes added, changed (field
// by field), archived and deleted, and the category names the side gained; the conflicts the
// conduit logged and how its ConflictResolution setting settles them; and the warning when a side
// would lose or have overwritten more than a third of its notes.
#pragma once

#include <string>
#include <vector>

#include "sx/preview/snapshot.h"

namespace sx::preview {

enum class ChangeKind { kAdded, kChanged, kArchived, kDeleted };

struct FieldChange {
  std::string field, before, after;
  friend bool operator==(const FieldChange&, const FieldChange&) = default;
};

struct Change {
  Side side = Side::kHandheld;
  ChangeKind kind = ChangeKind::kAdded;
  std::int32_t id = 0;  // the note ID (post key) after the HotSync; before it when deleted
  // An added note whose ID the HotSync drew (no note of either side had it): the value of `id`
  // depends on when the HotSync ran.
  bool new_id = false;
  std::string title;
  std::vector<FieldChange> fields;  // kChanged only
  friend bool operator==(const Change&, const Change&) = default;
};

// The changes of one side, in the order of its notes (those gone last). Notes are matched by
// identity; a note archived or deleted before the HotSync takes no part.
std::vector<Change> diff_side(Side side, const SideView& before, const SideView& after);
// The changes of both sides (the handheld's first), added notes with a drawn ID marked.
std::vector<Change> hotsync_changes(const Snapshot& before, const Snapshot& after);
// Category names the side knows after and did not before.
std::vector<std::string> new_categories(const SideView& before, const SideView& after);

struct Conflict {
  std::string note, field, desktop_value, handheld_value;
  std::string resolution;  // how the HotSync settles it, for a person
  friend bool operator==(const Conflict&, const Conflict&) = default;
};
// The conflicts in a HotSync's log (the conduit logs each one when LogConflicts is on), settled by
// `conflict_resolution` (0 desktop, 1 handheld, 2 ask, 3 skip): under "ask" a dialog the conduit
// logs as unanswered would have appeared.
std::vector<Conflict> logged_conflicts(const std::vector<std::string>& log,
                                       long conflict_resolution);

// What the conduit asked before it deleted or overwrote many of a side's notes, as its log tells
// once the question was answered "Go Ahead": "delete 6 of the 15 notes on the handheld".
std::vector<std::string> logged_mass_changes(const std::vector<std::string>& log);
// The title of that question (the preview's copy answers it "Go Ahead").
inline constexpr char kMassChangeTitle[] = "Scribbix - Many Notes Would Change";

struct Warning {
  Side side = Side::kHandheld;
  std::size_t affected = 0;  // live notes deleted, archived or changed
  std::size_t total = 0;     // live notes before the HotSync
  friend bool operator==(const Warning&, const Warning&) = default;
};
// A warning for each side that would lose or have overwritten more than a third of its notes.
std::vector<Warning> warnings(const std::vector<Change>& changes, const Snapshot& before);

const char* side_name(Side side);        // "handheld", "Outlook"
const char* kind_name(ChangeKind kind);  // "added", "changed", "archived", "deleted"

}  // namespace sx::preview
