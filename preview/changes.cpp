#include "sx/preview/changes.h"

#include <algorithm>
#include <set>
#include <string_view>

namespace sx::preview {
namespace {

const NoteView* find(const SideView& side, const std::string& identity) {
  for (const auto& n : side.notes)
    if (n.identity == identity) return &n;
  return nullptr;
}

// The HotSync log puts a time stamp and an activity tag before the conduit's text.
std::string message_of(const std::string& line, const std::string& start) {
  const std::size_t at = line.find(start);
  return at == std::string::npos ? "" : line.substr(at);
}

constexpr const char* kConflictStart = "The \"";
constexpr const char* kConflictField = "\" field of the note \"";
constexpr const char* kConflictMiddle =
    "\" has been modified on both platforms.  The value on the desktop is ";
constexpr const char* kConflictHandheld = ".  The value on the handheld is ";
constexpr const char* kUnanswered =
    "Since there was no response to the Resolve Field Level Conflicts dialog, the conflict in the "
    "note ";

bool parse_conflict(const std::string& line, Conflict* out) {
  const std::string text = message_of(line, kConflictStart);
  const std::size_t field_end = text.find(kConflictField);
  if (text.empty() || field_end == std::string::npos) return false;
  const std::size_t note_start = field_end + std::string(kConflictField).size();
  const std::size_t note_end = text.find(kConflictMiddle, note_start);
  if (note_end == std::string::npos) return false;
  const std::size_t desktop_start = note_end + std::string(kConflictMiddle).size();
  const std::size_t handheld_at = text.rfind(kConflictHandheld);
  if (handheld_at == std::string::npos || handheld_at < desktop_start || text.back() != '.')
    return false;
  const std::size_t handheld_start = handheld_at + std::string(kConflictHandheld).size();
  out->field = text.substr(std::string(kConflictStart).size(),
                           field_end - std::string(kConflictStart).size());
  out->note = text.substr(note_start, note_end - note_start);
  out->desktop_value = text.substr(desktop_start, handheld_at - desktop_start);
  out->handheld_value = text.substr(handheld_start, text.size() - 1 - handheld_start);
  return true;
}

}  // namespace

const char* side_name(Side side) { return side == Side::kHandheld ? "handheld" : "Outlook"; }

const char* kind_name(ChangeKind kind) {
  switch (kind) {
    case ChangeKind::kAdded:
      return "added";
    case ChangeKind::kChanged:
      return "changed";
    case ChangeKind::kArchived:
      return "archived";
    case ChangeKind::kDeleted:
      return "deleted";
  }
  return "";
}

std::vector<Change> diff_side(Side side, const SideView& before, const SideView& after) {
  std::vector<Change> changes;
  if (!before.read || !after.read) return changes;
  for (const NoteView& now : after.notes) {
    const NoteView* was = find(before, now.identity);
    const bool was_live = was != nullptr && !was->archived;
    if (!was_live) {
      if (!now.archived)
        changes.push_back({side, ChangeKind::kAdded, now.id, false, now.title(), {}});
      continue;
    }
    if (now.archived) {
      changes.push_back({side, ChangeKind::kArchived, now.id, false, now.title(), {}});
      continue;
    }
    Change c{side, ChangeKind::kChanged, now.id, false, now.title(), {}};
    for (const auto& [name, value] : now.fields) {
      const std::string& old = was->field(name);
      if (old != value) c.fields.push_back({name, old, value});
    }
    if (!c.fields.empty()) changes.push_back(std::move(c));
  }
  for (const NoteView& was : before.notes) {
    if (!was.archived && find(after, was.identity) == nullptr)
      changes.push_back({side, ChangeKind::kDeleted, was.id, false, was.title(), {}});
  }
  return changes;
}

std::vector<Change> hotsync_changes(const Snapshot& before, const Snapshot& after) {
  std::vector<Change> changes = diff_side(Side::kHandheld, before.handheld, after.handheld);
  const auto outlook = diff_side(Side::kOutlook, before.outlook, after.outlook);
  changes.insert(changes.end(), outlook.begin(), outlook.end());
  std::set<std::int32_t> known;
  for (const SideView* side : {&before.handheld, &before.outlook})
    for (const NoteView& n : side->notes) known.insert(n.id);
  for (Change& c : changes) c.new_id = c.kind == ChangeKind::kAdded && known.count(c.id) == 0;
  return changes;
}

std::vector<std::string> new_categories(const SideView& before, const SideView& after) {
  std::vector<std::string> added;
  if (!before.read || !after.read) return added;
  for (const auto& name : after.categories) {
    if (std::find(before.categories.begin(), before.categories.end(), name) ==
            before.categories.end() &&
        std::find(added.begin(), added.end(), name) == added.end())
      added.push_back(name);
  }
  return added;
}

std::vector<Conflict> logged_conflicts(const std::vector<std::string>& log,
                                       long conflict_resolution) {
  std::vector<Conflict> conflicts;
  int unanswered = 0;
  for (std::size_t i = 0; i < log.size(); ++i) {
    Conflict c;
    if (!parse_conflict(log[i], &c)) continue;
    switch (conflict_resolution) {
      case 0:
        c.resolution = "the Outlook value is kept";
        break;
      case 1:
        c.resolution = "the handheld value is kept";
        break;
      case 2:
        if (i + 1 < log.size() && !message_of(log[i + 1], kUnanswered).empty()) {
          ++unanswered;
          c.resolution =
              "a dialog asks which value to keep; unanswered, it skips the field after 60 "
              "seconds (both sides keep their values and the conflict comes back)";
        } else if (unanswered >= 3) {
          c.resolution =
              "skipped without a dialog (\"use for all\" was ticked by the third unanswered "
              "dialog): both sides keep their values";
        } else {
          c.resolution = "the handheld value is kept (no dialog: neither side marked it changed)";
        }
        break;
      case 3:
        c.resolution = "skipped: both sides keep their values and the conflict comes back";
        break;
      default:
        c.resolution = "left as it is (the ConflictResolution setting is not 0-3)";
    }
    conflicts.push_back(std::move(c));
  }
  return conflicts;
}

std::vector<std::string> logged_mass_changes(const std::vector<std::string>& log) {
  constexpr std::string_view kStart = "This HotSync would ";
  constexpr std::string_view kEnd = "; asked, the answer was to go ahead.";
  std::vector<std::string> asked;
  for (const std::string& line : log) {
    const std::size_t start = line.find(kStart);
    if (start == std::string::npos || !line.ends_with(kEnd)) continue;
    const std::size_t from = start + kStart.size();
    if (line.size() < from + kEnd.size()) continue;
    asked.push_back(line.substr(from, line.size() - kEnd.size() - from));
  }
  return asked;
}

std::vector<Warning> warnings(const std::vector<Change>& changes, const Snapshot& before) {
  std::vector<Warning> out;
  for (const Side side : {Side::kHandheld, Side::kOutlook}) {
    Warning w{side, 0, before.side(side).live_count()};
    for (const Change& c : changes)
      if (c.side == side && c.kind != ChangeKind::kAdded) ++w.affected;
    if (w.affected * 3 > w.total) out.push_back(w);
  }
  return out;
}

}  // namespace sx::preview
