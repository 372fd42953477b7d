// The pieces of the note-to-post mapping that do not talk to Outlook: the date texts of the
// "Day", "Month" and "Year" properties, the time of day of "Time", the subject made from a body,
// the HTML form of a note text, the note class test and the text of a key in a filter.
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

#include "comdef.h"
#include "scribbix/date_texts.h"

namespace sx::assist {

// An ASCII text (names, classes, digits) as UTF-16.
std::u16string widen(std::string_view ascii);

// The date texts ("Day", "Month", "Year") and the time of day ("Time") of a note date.
using sx::common::day_text;
using sx::common::month_text;
using sx::common::time_of_day;
using sx::common::year_text;

// The subject made from a body: its first min(length, 60) characters, where a carriage return or
// line feed before any non-blank character becomes ".", the first one after a non-blank character
// ends the subject, and every other character is kept. Blanks: space, tab and U+00A0 (ANSI 160).
std::u16string subject_from_body(std::u16string_view body);

// The HTML form of a note text: the HTML 4.0 Transitional document type declaration,
// "<HTML><BODY>", the text with "&", "<" and ">" escaped as entities, every line feed written
// "<BR>" and every carriage return dropped, then "</BODY></HTML>". Escaping keeps the rendering
// equal to the note: "x < y" or "<b>" in a note are shown as written, not read as markup.
std::u16string html_body(std::u16string_view text);

// True when the first 21 characters of `message_class` are exactly "IPM.Post.ScribbixPost".
bool is_note_class(std::u16string_view message_class);

// A key as the filter "[ScribKey] = " compares it: a whole number without a fraction ("42",
// "-7"), else the shortest decimal form that reads back as the same double.
std::u16string key_text(double key);

}  // namespace sx::assist
