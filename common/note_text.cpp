#include "scribbix/note_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "scribbix/notes_folder.h"

namespace sx::common {
namespace {

bool is_line_break(char16_t c) { return c == u'\r' || c == u'\n'; }
bool is_blank(char16_t c) { return c == u' ' || c == u'\t' || c == 0x00A0; }

std::u16string widen(std::string_view ascii) {
  std::u16string out;
  for (const char c : ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::u16string subject_from_body(std::u16string_view body) {
  std::u16string subject;
  bool started = false;
  const std::size_t n = std::min<std::size_t>(body.size(), kSubjectLimit);
  for (std::size_t i = 0; i < n; ++i) {
    char16_t c = body[i];
    if (is_line_break(c)) {
      if (started) break;
      c = u'.';
    } else if (!is_blank(c)) {
      started = true;
    }
    subject.push_back(c);
  }
  return subject;
}

bool is_note_class(std::u16string_view message_class) {
  const std::u16string prefix = widen(kNoteClassPrefix);
  return message_class.substr(0, prefix.size()) == prefix;
}

namespace {

std::u16string_view without_blanks(std::u16string_view text) {
  auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == 0x00A0; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

bool same_contact_text(std::u16string_view a, std::u16string_view b) {
  const std::size_t ca = a.find(u','), cb = b.find(u',');
  auto first = [](std::u16string_view text, std::size_t comma) {
    return comma == std::u16string_view::npos ? std::u16string_view() : text.substr(comma + 1);
  };
  return without_blanks(a.substr(0, ca)) == without_blanks(b.substr(0, cb)) &&
         without_blanks(first(a, ca)) == without_blanks(first(b, cb));
}

bool is_note_key(double key) {
  return std::isfinite(key) && key == std::trunc(key) && key != 0 && key >= -2147483648.0 &&
         key <= 2147483647.0;
}

std::u16string key_text(double key) {
  char text[32];
  if (std::isfinite(key) && key == std::trunc(key) && std::fabs(key) < 1e15) {
    std::snprintf(text, sizeof text, "%.0f", key);
  } else {
    std::snprintf(text, sizeof text, "%.17g", key);
  }
  return widen(text);
}

}  // namespace sx::common
