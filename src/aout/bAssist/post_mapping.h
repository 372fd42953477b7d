// The pieces of the note-to-post mapping that do not talk to Outlook: the date texts of the
// "Day", "Month" and "Year" properties, the time of day of "Time", the subject made from a body,
// the HTML form of a note text, the note class test and the text of a key in a filter.
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

#include "comdef.h"
#include "scribbix/date_texts.h"
#include "scribbix/note_text.h"

namespace sx::assist {

// An ASCII text (names, classes, digits) as UTF-16.
std::u16string widen(std::string_view ascii);

// The date texts ("Day", "Month", "Year") and the time of day ("Time") of a note date.
using sx::common::day_text;
using sx::common::month_text;
using sx::common::time_of_day;
using sx::common::year_text;

// The subject made from a body, the note class test and a key's filter text.
using sx::common::is_note_class;
using sx::common::key_text;
using sx::common::subject_from_body;

// The HTML form of a note text: the HTML 4.0 Transitional document type declaration,
// "<HTML><BODY>", the text with "&", "<" and ">" escaped as entities, every line feed written
// "<BR>" and every carriage return dropped, then "</BODY></HTML>". Escaping keeps the rendering
// equal to the note: "x < y" or "<b>" in a note are shown as written, not read as markup.
std::u16string html_body(std::u16string_view text);

}  // namespace sx::assist
