// The preview as a person reads it.
#include "sx/hotsync.h"
#include "sx/preview/preview.h"

namespace sx::preview {
namespace {

constexpr std::size_t kValueLimit = 60;

std::string quoted(const std::string& text) {
  std::string shown = escape(text);
  if (shown.size() > kValueLimit) shown = shown.substr(0, kValueLimit - 3) + "...";
  return "\"" + shown + "\"";
}

std::string names(const std::vector<std::string>& list) {
  if (list.empty()) return "none";
  std::string text;
  for (const auto& n : list) text += (text.empty() ? "" : ", ") + quoted(n);
  return text;
}

std::string capitalised(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 32);
  return text;
}

std::string plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void side_lines(const Preview& p, Side side, std::vector<std::string>* out) {
  const SideView& before = p.before.side(side);
  const std::string name = capitalised(side_name(side));
  if (!before.read || !p.after.side(side).read) {
    const std::string& why = before.read ? p.after.side(side).why : before.why;
    out->push_back(name + ": cannot be read (" + why + ").");
    return;
  }
  std::size_t counts[4] = {};
  for (const Change& c : p.changes)
    if (c.side == side) ++counts[static_cast<int>(c.kind)];
  const std::string header = name + " (" + plural(before.live_count(), "note", "notes") + "): ";
  if (counts[0] + counts[1] + counts[2] + counts[3] == 0) {
    out->push_back(header + "no changes");
    return;
  }
  out->push_back(header + std::to_string(counts[0]) + " added, " + std::to_string(counts[1]) +
                 " changed, " + std::to_string(counts[2]) + " archived, " +
                 std::to_string(counts[3]) + " deleted");
  for (const Change& c : p.changes) {
    if (c.side != side) continue;
    std::string kind = kind_name(c.kind);
    kind.resize(9, ' ');
    const std::string id = c.new_id ? "(new ID)" : std::to_string(c.id);
    out->push_back("  " + kind + "note " + id + " " + quoted(c.title));
    for (const FieldChange& f : c.fields)
      out->push_back("           " + f.field + ": " + quoted(f.before) + " -> " + quoted(f.after));
  }
}

}  // namespace

std::vector<std::string> preview_lines(const Preview& p) {
  std::vector<std::string> out;
  out.push_back("Preview of the next HotSync of \"" + p.user +
                "\" (run on a copy of the machine; nothing here was changed).");
  if (p.sync_type < 0) {
    out.push_back("The notes conduit would not run" +
                  (p.skipped.empty() ? std::string(".") : ": " + p.skipped + "."));
  } else if (p.conduit_result == 0) {
    out.push_back(std::string("The notes conduit would run a ") +
                  sx::hotsync::sync_type_name(p.sync_type) + ".");
  } else {
    out.push_back(std::string("The notes conduit would run a ") +
                  sx::hotsync::sync_type_name(p.sync_type) + " and fail (" +
                  sx::hotsync::result_text(p.conduit_result) + ").");
  }
  side_lines(p, Side::kHandheld, &out);
  side_lines(p, Side::kOutlook, &out);
  out.push_back("Categories that would reach the handheld: " + names(p.categories_to_handheld));
  out.push_back("Categories that would reach Outlook: " + names(p.categories_to_outlook));
  if (p.conflicts.empty())
    out.push_back("Conflicts: none");
  else
    out.push_back("Conflicts: " + std::to_string(p.conflicts.size()));
  for (const Conflict& c : p.conflicts) {
    out.push_back("  note \"" + c.note + "\", " + c.field + ": Outlook " + c.desktop_value +
                  ", handheld " + c.handheld_value);
    out.push_back("    " + c.resolution);
  }
  for (const std::string& q : p.questions) {
    out.push_back("QUESTION: this HotSync would ask before it went on: \"This HotSync would " + q +
                  ".  Go ahead?\" The changes above are those of \"Go Ahead\"; with \"Keep "
                  "Them\", or no answer within 60 seconds, those notes stay as they are and the "
                  "next HotSync asks again.");
  }
  for (const Warning& w : p.warnings) {
    out.push_back("WARNING: this HotSync would delete or overwrite " + std::to_string(w.affected) +
                  " of the " + plural(w.total, "note", "notes") + " on the " +
                  (w.side == Side::kHandheld ? "handheld" : "Outlook side") +
                  " (more than a third).");
  }
  if (p.result != 0) {
    out.push_back("The HotSync would fail. What HotSync Manager would report:");
    for (const auto& line : p.report) out.push_back("  " + line);
  }
  return out;
}

}  // namespace sx::preview
