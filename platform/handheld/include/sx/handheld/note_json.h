// The notes of the handheld as JSON (UTF-8), for a person who brings notes in bulk and for a
// reader that does not know the handheld's files.
//
// Export: {"database": "ScribbixDB", "categories": [{"index", "name", "unique_id", "renamed"}],
// "notes": [...]}, one object per record with every field: "record_id", "note_id", "category"
// (null for a note that is not live), "private", "changed" (the dirty bit), "archived",
// "deleted", "mod", "created", "modified" and "date" ("YYYY-MM-DD HH:MM" or null), "resv1",
// "resv2", "text1", "contact", "text"; a deleted note has no data, a damaged record says why in
// "damaged".
//
// Import reads such a file (or a bare array of notes) as new notes: "text" is required; "category"
// (a name, made when the handheld has none of it), "private", "date", "created", "text1",
// "contact", "resv1" and "resv2" are taken when given; deleted and archived notes are left out;
// every other member is the handheld's own and ignored. The text is untrusted: parse_import throws
// NotesError ("note 3: ...") for anything that breaks these rules, never more.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sx/handheld/notes_database.h"

namespace sx::handheld {

std::string export_json(const NotesDatabase& database);

// A note of an import file, its texts still in UTF-8.
struct ImportedNote {
  std::string text, text1, contact, category;
  bool has_category = false, has_text1 = false, has_contact = false;
  std::optional<bool> is_private;
  std::optional<PackedDate> date, created;
  std::optional<std::uint32_t> resv1;
  std::optional<std::uint16_t> resv2;
};

struct ImportFile {
  std::vector<ImportedNote> notes;
  std::size_t left_out = 0;  // deleted and archived notes of the file
};

ImportFile parse_import(std::string_view json);

// Adds the notes (and the categories they name that the handheld lacks) to `database`: all of them,
// or, when one cannot be taken (a text the handheld's code page cannot hold, no free category
// slot, a note too long), none, with NotesError naming it. Returns the names of the categories it
// made (handheld code page).
std::vector<std::string> import_notes(NotesDatabase& database, const ImportFile& file);

}  // namespace sx::handheld
