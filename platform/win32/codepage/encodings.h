// The character encodings behind the code page functions: Windows-1252 and UTF-8 to and from
// UTF-16. Pure functions, internal to sxwin32; callers convert whole strings and then check output
// sizes.
#pragma once

#include <string>
#include <string_view>

namespace sx::codepage {

// The UTF-16 unit of a Windows-1252 byte (all 256 bytes have one).
char16_t cp1252_to_unicode(unsigned char byte);

// The Windows-1252 byte of a UTF-16 unit, or -1 when 1252 has none.
int unicode_to_cp1252(char16_t unit);

// Appends the UTF-16 form of `in`; every ill-formed sequence becomes one U+FFFD per maximal
// subpart. Returns false when something was replaced.
bool append_utf8_as_utf16(std::string_view in, std::u16string* out);

// Appends the UTF-8 form of `in`; a lone surrogate becomes U+FFFD. Returns false when something was
// replaced.
bool append_utf16_as_utf8(std::u16string_view in, std::string* out);

// UTF-16 to 1252: units without a byte become `default_char`. Returns false when that happened.
bool append_utf16_as_cp1252(std::u16string_view in, char default_char, std::string* out);

// Length of the longest prefix of `units` (at most `limit`) that does not split a surrogate pair.
std::size_t whole_utf16_prefix(std::u16string_view units, std::size_t limit);

// Length of the longest prefix of UTF-8 `bytes` (at most `limit`) that ends between characters.
std::size_t whole_utf8_prefix(std::string_view bytes, std::size_t limit);

}  // namespace sx::codepage
