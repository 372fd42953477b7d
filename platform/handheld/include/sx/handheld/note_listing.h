// What a person reads of the handheld's notes: the list (one line a note), one note with every
// field, the categories. Lines are in the handheld's code page, one character a byte, so that
// columns line up; a program turns them into the terminal's text. Pure functions; any thread.
#pragma once

#include <string>
#include <vector>

#include "sx/handheld/notes_database.h"

namespace sx::handheld {

// The note's title: its first line, at most 32 characters.
std::string note_title(const Note& note);
// Whether the live note's text holds `part` (ASCII letters in any case), as Find looks for it.
bool note_holds(const Note& note, std::string_view part);
// "new changed private", "archived", "deleted", "damaged": what the note's record says.
std::string note_flags(const Note& note);

// A header line, then one line per note: record ID, note ID ("-" before its first HotSync),
// category, flags, date, title.
std::vector<std::string> note_table(const std::vector<Note>& notes, const Categories& categories);
// Every field of one note, a line each, then its text.
std::vector<std::string> note_details(const Note& note, const Categories& categories);
// One line per category: index, name, unique ID, "renamed" since the last HotSync, its notes.
std::vector<std::string> category_lines(const NotesDatabase& database);

}  // namespace sx::handheld
