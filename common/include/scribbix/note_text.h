// The texts of a note post that more than one deliverable derives alike (the access component and
// the notes add-in): the subject made from a note's body, the note class test and a key as the
// filter "[ScribKey] = " compares it. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace sx::common {

// The subject made from a body: its first min(length, 60) characters, where a carriage return or
// line feed before any non-blank character becomes ".", the first one after a non-blank character
// ends the subject, and every other character is kept. Blanks: space, tab and U+00A0 (ANSI 160).
std::u16string subject_from_body(std::u16string_view body);

// True when the first 21 characters of `message_class` are exactly "IPM.Post.ScribbixPost".
bool is_note_class(std::u16string_view message_class);

// Whether two contact texts ("Last,First", ",First" or one name) name the same contact: the same
// last and first names, blanks (space, tab, U+00A0) around each part aside ("Doe, Jane" and
// "Doe,Jane"). The conduit compares what the handheld holds with what Outlook links by it.
bool same_contact_text(std::u16string_view a, std::u16string_view b);

// True for a key that names a note: a whole number other than 0 that a note ID (signed 32 bits)
// holds. A fraction or a number beyond 32 bits would be read as another note than the one that a
// search for the post's key finds.
bool is_note_key(double key);

// A key as the filter "[ScribKey] = " compares it: a whole number without a fraction ("42",
// "-7"), else the shortest decimal form that reads back as the same double.
std::u16string key_text(double key);

}  // namespace sx::common
