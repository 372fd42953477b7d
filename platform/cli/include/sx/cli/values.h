// Checked values for command-line options and what programs print: numbers and words with messages
// that name what is accepted, counts with the right plural, columns that stay aligned for names
// that are not ASCII, and Windows error texts for a person. Pure functions; any thread.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "win32/types.h"

namespace sx::cli {

// A whole number from `min` to `max`, in decimal (leading zeros are not octal) or 0x hexadecimal.
// Give it with ->transform() (not ->check()), so that the option's value is rewritten in decimal
// for CLI11's own conversion. Refused: "--id: xyz is not a
// whole number from 0 to 4294967295".
CLI::Validator number(std::int64_t min, std::int64_t max);

// The same check for a text that is not an option's value (a positional read by the command).
// Nothing when `text` is not such a number.
std::optional<std::int64_t> parse_number(std::string_view text, std::int64_t min, std::int64_t max);
// "a whole number from MIN to MAX", for messages.
std::string number_range_text(std::int64_t min, std::int64_t max);

// One of `words`, compared without regard to ASCII case; with ->transform() the value is
// rewritten as the word is listed. Refused: "--sensitivity: x is not one of: normal, personal,
// private, confidential".
CLI::Validator one_of(std::vector<std::string> words);

// "1 record", "2 records", "0 records".
std::string count_of(std::uint64_t n, std::string_view singular, std::string_view plural);

// Number of columns `utf8` takes on a terminal: one per character (malformed bytes count one each).
std::size_t columns(std::string_view utf8);
// `utf8` followed by spaces up to `width` columns (nothing added when it is as wide or wider).
std::string pad_right(std::string_view utf8, std::size_t width);

// A library's reason ("cannot read X") as a sentence: first letter upper case, a full stop at the
// end unless it ends a sentence already.
std::string sentence(std::string text);

// `text` as one word for a POSIX shell: as it is when that is safe, else in single quotes. For
// commands that messages suggest.
std::string shell_word(const std::string& text);

// Throws Failure unless `path` (a file of this computer, from the command line) is a file that can
// be read: "There is no file ...", "... is a folder, not <what>.", "... cannot be read (...)".
// `what` names what the file should be ("the conduit's library").
void check_readable_file(const std::string& path, const std::string& what);

// Windows's text for a Win32 error code, without its line break ("Access is denied."), or
// "Windows error N." when the system has none.
std::string windows_error_text(DWORD code);

}  // namespace sx::cli
