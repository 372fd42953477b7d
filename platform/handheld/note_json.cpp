#include "sx/handheld/note_json.h"

#include <limits>
#include <nlohmann/json.hpp>

#include "sx/cli/terminal_text.h"

namespace sx::handheld {
namespace {

using Json = nlohmann::ordered_json;

Json date_json(const PackedDate& d) {
  const auto t = d.minutes();
  return t ? Json(minutes_text(*t)) : Json(nullptr);
}

std::string utf8(const std::string& handheld) { return sx::cli::ansi_to_terminal(handheld); }

Json note_json(const Note& n, const Categories& categories) {
  Json j;
  j["record_id"] = n.record_id;
  if (n.fields) j["note_id"] = n.fields->id;
  j["category"] = n.live() ? Json(utf8(categories.names[static_cast<std::size_t>(n.category())]))
                           : Json(nullptr);
  j["private"] = n.is_private();
  j["changed"] = n.dirty();
  j["archived"] = n.archived();
  j["deleted"] = n.deleted();
  if (!n.damage.empty()) j["damaged"] = n.damage;
  if (!n.fields) return j;
  const NoteFields& f = *n.fields;
  j["mod"] = f.mod;
  j["created"] = date_json(f.created);
  j["modified"] = date_json(f.modified);
  j["date"] = date_json(f.date);
  j["resv1"] = f.resv1;
  j["resv2"] = f.resv2;
  j["text1"] = utf8(f.text1);
  j["contact"] = utf8(f.contact);
  j["text"] = utf8(f.text);
  return j;
}

[[noreturn]] void refuse(std::size_t n, const std::string& what) {
  throw NotesError("note " + std::to_string(n) + ": " + what);
}

std::string text_member(const Json& note, std::size_t n, const char* name) {
  const Json& v = note.at(name);
  if (!v.is_string()) refuse(n, std::string("\"") + name + "\" is not a text");
  return v.get<std::string>();
}

std::optional<PackedDate> date_member(const Json& note, std::size_t n, const char* name) {
  if (!note.contains(name)) return std::nullopt;
  const Json& v = note.at(name);
  if (v.is_null()) return PackedDate{};
  const std::string bad = std::string("\"") + name +
                          "\" is not a date from 1905 to 2031 (\"YYYY-MM-DD\" or \"YYYY-MM-DD "
                          "HH:MM\") or null";
  if (!v.is_string()) refuse(n, bad);
  const auto t = parse_minutes(v.get<std::string>());
  const auto packed = t ? PackedDate::of(*t) : std::nullopt;
  if (!packed) refuse(n, bad);
  return packed;
}

template <typename T>
std::optional<T> number_member(const Json& note, std::size_t n, const char* name) {
  if (!note.contains(name)) return std::nullopt;
  const Json& v = note.at(name);
  if (!v.is_number_integer() || v.get<std::int64_t>() < 0 ||
      v.get<std::uint64_t>() > std::numeric_limits<T>::max())
    refuse(n, std::string("\"") + name + "\" is not a whole number from 0 to " +
                  std::to_string(std::numeric_limits<T>::max()));
  return static_cast<T>(v.get<std::uint64_t>());
}

bool flag_member(const Json& note, std::size_t n, const char* name) {
  if (!note.contains(name) || note.at(name).is_null()) return false;
  if (!note.at(name).is_boolean()) refuse(n, std::string("\"") + name + "\" is not true or false");
  return note.at(name).get<bool>();
}

std::string handheld_text(const std::string& utf8_text, std::size_t n, const char* what) {
  auto ansi = sx::cli::terminal_to_ansi(utf8_text);
  if (!ansi) {
    refuse(n, std::string("the ") + what +
                  " has characters that the handheld's code page (Windows-1252) cannot hold");
  }
  return *ansi;
}

}  // namespace

std::string export_json(const NotesDatabase& database) {
  const Categories& categories = database.categories();
  Json out;
  out["database"] = kDatabaseName;
  Json list = Json::array();
  for (int i = 0; i < kCategoryCount; ++i) {
    const auto slot = static_cast<std::size_t>(i);
    if (categories.names[slot].empty()) continue;
    list.push_back({{"index", i},
                    {"name", utf8(categories.names[slot])},
                    {"unique_id", categories.unique_ids[slot]},
                    {"renamed", (categories.renamed >> i & 1) != 0}});
  }
  out["categories"] = std::move(list);
  Json notes = Json::array();
  for (const Note& n : database.notes()) notes.push_back(note_json(n, categories));
  out["notes"] = std::move(notes);
  return out.dump(2) + "\n";
}

ImportFile parse_import(std::string_view text) {
  Json root;
  try {
    root = Json::parse(text.begin(), text.end());
  } catch (const Json::exception& e) {
    const auto* parse = dynamic_cast<const Json::parse_error*>(&e);
    throw NotesError(parse != nullptr ? "the file is not JSON: it stops being JSON at byte " +
                                            std::to_string(parse->byte)
                                      : std::string("the file is not JSON"));
  }
  const Json* notes = &root;
  if (root.is_object()) {
    if (!root.contains("notes")) throw NotesError("the file has no \"notes\"");
    notes = &root.at("notes");
  }
  if (!notes->is_array()) throw NotesError("\"notes\" is not a list of notes");
  ImportFile file;
  std::size_t n = 0;
  for (const Json& note : *notes) {
    ++n;
    if (!note.is_object()) refuse(n, "it is not an object with a \"text\"");
    if (flag_member(note, n, "deleted") || flag_member(note, n, "archived")) {
      ++file.left_out;
      continue;
    }
    if (!note.contains("text")) refuse(n, "it has no \"text\"");
    ImportedNote in;
    in.text = text_member(note, n, "text");
    if (note.contains("category") && !note.at("category").is_null()) {
      in.category = text_member(note, n, "category");
      in.has_category = true;
    }
    if (note.contains("text1")) {
      in.text1 = text_member(note, n, "text1");
      in.has_text1 = true;
    }
    if (note.contains("contact")) {
      in.contact = text_member(note, n, "contact");
      in.has_contact = true;
    }
    if (note.contains("private")) in.is_private = flag_member(note, n, "private");
    in.date = date_member(note, n, "date");
    in.created = date_member(note, n, "created");
    in.resv1 = number_member<std::uint32_t>(note, n, "resv1");
    in.resv2 = number_member<std::uint16_t>(note, n, "resv2");
    file.notes.push_back(std::move(in));
  }
  return file;
}

std::vector<std::string> import_notes(NotesDatabase& database, const ImportFile& file) {
  std::vector<std::string> made;
  std::size_t n = 0;
  for (const ImportedNote& in : file.notes) {
    ++n;
    NoteChange change;
    change.text = handheld_text(in.text, n, "text");
    if (in.has_text1) change.text1 = handheld_text(in.text1, n, "first text");
    if (in.has_contact) change.contact = handheld_text(in.contact, n, "contact");
    if (in.has_category && !in.category.empty()) {
      const std::string name = handheld_text(in.category, n, "category");
      if (auto index = database.categories().find(name)) {
        change.category = *index;
      } else {
        try {
          change.category = database.add_category(name);
        } catch (const NotesError& e) {
          refuse(n, "its category \"" + name + "\" cannot be made: " + e.what());
        }
        made.push_back(name);
      }
    }
    change.is_private = in.is_private;
    change.date = in.date;
    change.created = in.created;
    change.resv1 = in.resv1;
    change.resv2 = in.resv2;
    try {
      database.add_note(change);
    } catch (const NotesError& e) {
      refuse(n, e.what());
    }
  }
  return made;
}

}  // namespace sx::handheld
