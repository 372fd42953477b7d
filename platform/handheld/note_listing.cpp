#include "sx/handheld/note_listing.h"

#include <cstdio>

#include "sx/ascii.h"

namespace sx::handheld {
namespace {

constexpr std::size_t kTitleLength = 32;

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string date_text(const PackedDate& d) {
  if (d.empty()) return "none";
  const auto t = d.minutes();
  if (!t) {
    char raw[32];
    std::snprintf(raw, sizeof raw, "(not a date: 0x%04X)", d.word);
    return raw;
  }
  return minutes_text(*t);
}

std::string category_of(const Note& note, const Categories& categories) {
  if (!note.live()) return "-";
  return categories.names[static_cast<std::size_t>(note.category())];
}

}  // namespace

std::string note_title(const Note& note) {
  if (!note.fields) return "";
  const std::string& text = note.fields->text;
  std::string title = text.substr(0, text.find('\n'));
  if (title.size() > kTitleLength) title.resize(kTitleLength);
  return title;
}

bool note_holds(const Note& note, std::string_view part) {
  if (!note.live() || !note.fields) return false;
  const std::string& text = note.fields->text;
  for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
    if (sx::ascii::equal_ignoring_case(std::string_view(text).substr(at, part.size()), part))
      return true;
  }
  return false;
}

std::string note_flags(const Note& note) {
  std::string flags;
  auto add = [&](bool on, const char* word) {
    if (on) flags += (flags.empty() ? "" : " ") + std::string(word);
  };
  add(!note.damage.empty(), "damaged");
  add(note.fields && note.fields->id == 0, "new");
  add(note.dirty(), "changed");
  add(note.is_private(), "private");
  add(note.archived(), "archived");
  add(note.deleted(), "deleted");
  return flags;
}

std::vector<std::string> note_table(const std::vector<Note>& notes, const Categories& categories) {
  std::vector<std::string> lines = {
      "record  note ID      category         flags                 date              title"};
  for (const Note& n : notes) {
    char head[32];
    std::snprintf(head, sizeof head, "%6lu  ", static_cast<unsigned long>(n.record_id));
    const std::string id = n.fields && n.fields->id != 0 ? std::to_string(n.fields->id) : "-";
    lines.push_back(head + padded(id, 11) + "  " + padded(category_of(n, categories), 15) + "  " +
                    padded(note_flags(n), 20) + "  " +
                    padded(n.fields ? date_text(n.fields->date) : "", 16) + "  " + note_title(n));
  }
  return lines;
}

std::vector<std::string> note_details(const Note& n, const Categories& categories) {
  char mod[16], attributes[8];
  std::snprintf(attributes, sizeof attributes, "0x%02X", n.attributes);
  std::vector<std::string> lines = {"Record ID:   " + std::to_string(n.record_id),
                                    "Attributes:  " + std::string(attributes) +
                                        (n.attributes != 0 ? " (" : "") + note_flags(n) +
                                        (n.attributes != 0 ? ")" : ""),
                                    "Category:    " + category_of(n, categories),
                                    "Private:     " + std::string(n.is_private() ? "yes" : "no")};
  if (!n.damage.empty()) lines.push_back("Damaged:     " + n.damage);
  if (!n.fields) return lines;
  const NoteFields& f = *n.fields;
  std::snprintf(mod, sizeof mod, "0x%08lX", static_cast<unsigned long>(f.mod));
  const std::vector<std::string> more = {
      "Note ID:     " + (f.id != 0 ? std::to_string(f.id) : std::string("none yet (a new note)")),
      "Mod:         " + std::string(mod),
      "Date:        " + date_text(f.date),
      "Created:     " + date_text(f.created),
      "Modified:    " + date_text(f.modified),
      "Resv1:       " + std::to_string(f.resv1),
      "Resv2:       " + std::to_string(f.resv2),
      "First text:  " + f.text1,
      "Contact:     " + f.contact,
      "Text:"};
  lines.insert(lines.end(), more.begin(), more.end());
  std::size_t at = 0;
  while (at <= f.text.size()) {
    const std::size_t end = std::min(f.text.find('\n', at), f.text.size());
    lines.push_back("  " + f.text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

std::vector<std::string> category_lines(const NotesDatabase& database) {
  const Categories& c = database.categories();
  std::vector<int> counts(kCategoryCount, 0);
  for (const Note& n : database.notes()) {
    if (n.live()) ++counts[static_cast<std::size_t>(n.category())];
  }
  std::vector<std::string> lines = {"index  name             unique ID  notes"};
  for (int i = 0; i < kCategoryCount; ++i) {
    const auto slot = static_cast<std::size_t>(i);
    if (c.names[slot].empty()) continue;
    char line[96];
    std::snprintf(line, sizeof line, "%5d  %s  %9u  %5d%s", i, padded(c.names[slot], 15).c_str(),
                  c.unique_ids[slot], counts[slot],
                  (c.renamed >> i & 1) != 0 ? "  (changed since the last HotSync)" : "");
    lines.push_back(line);
  }
  return lines;
}

}  // namespace sx::handheld
