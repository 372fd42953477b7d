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
