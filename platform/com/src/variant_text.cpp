#include "variant_text.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "com/vardate.h"
#include "vardate_internal.h"

namespace sx::com::detail {
namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }
bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }
char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

std::u16string ascii(const char* text) { return std::u16string(text, text + std::strlen(text)); }

// Reads an unsigned decimal number of 1 to `max_digits` digits at text[*pos].
std::optional<int> read_int(std::u16string_view text, std::size_t* pos, int max_digits,
                            int* digits = nullptr) {
  int value = 0;
  int n = 0;
  while (*pos < text.size() && is_digit(text[*pos]) && n < max_digits) {
    value = value * 10 + (text[*pos] - u'0');
    ++*pos;
    ++n;
  }
  if (n == 0 || (*pos < text.size() && is_digit(text[*pos]))) return std::nullopt;
  if (digits != nullptr) *digits = n;
  return value;
}

void skip_blanks(std::u16string_view text, std::size_t* pos) {
  while (*pos < text.size() && is_blank(text[*pos])) ++*pos;
}

// Two-digit years: 00-29 are 2000-2029, 30-99 are 1930-1999.
int expand_year(int year, int digits) {
  if (digits > 2) return year;
  return year < 30 ? 2000 + year : 1900 + year;
}

}  // namespace

std::u16string trim_blanks(std::u16string_view text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && is_blank(text[b])) ++b;
  while (e > b && is_blank(text[e - 1])) --e;
  return std::u16string(text.substr(b, e - b));
}

bool equals_ignoring_case(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

HRESULT parse_number(std::u16string_view input, double* out) {
  const std::u16string text = trim_blanks(input);
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (i + 1 < text.size() && text[i] == u'&') {
    const char16_t base_char = lower(text[i + 1]);
    const int base = base_char == u'h' ? 16 : base_char == u'o' ? 8 : 0;
    if (base == 0) return DISP_E_TYPEMISMATCH;
    i += 2;
    if (i == text.size()) return DISP_E_TYPEMISMATCH;
    double value = 0;
    for (; i < text.size(); ++i) {
      const char16_t c = lower(text[i]);
      int d = -1;
      if (is_digit(c)) d = c - u'0';
      if (c >= u'a' && c <= u'f') d = c - u'a' + 10;
      if (d < 0 || d >= base) return DISP_E_TYPEMISMATCH;
      value = value * base + d;
    }
    *out = negative ? -value : value;
    return S_OK;
  }
  // Build a plain C-locale number and let strtod read it.
  std::string plain = negative ? "-" : "";
  int digits = 0;
  bool seen_point = false;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (is_digit(c)) {
      plain.push_back(static_cast<char>(c));
      ++digits;
    } else if (c == u',' && !seen_point && digits > 0) {
      // group separator: dropped
    } else if (c == u'.' && !seen_point) {
      seen_point = true;
      plain.push_back('.');
    } else {
      break;
    }
  }
  if (digits == 0) return DISP_E_TYPEMISMATCH;
  if (i < text.size() && lower(text[i]) == u'e') {
    plain.push_back('e');
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
      plain.push_back(static_cast<char>(text[i++]));
    }
    int exponent_digits = 0;
    for (; i < text.size() && is_digit(text[i]); ++i, ++exponent_digits) {
      plain.push_back(static_cast<char>(text[i]));
    }
    if (exponent_digits == 0) return DISP_E_TYPEMISMATCH;
  }
  if (i != text.size()) return DISP_E_TYPEMISMATCH;
  errno = 0;
  const double value = std::strtod(plain.c_str(), nullptr);
  if (errno == ERANGE && std::isinf(value)) return DISP_E_OVERFLOW;
  *out = value;
  return S_OK;
}

HRESULT parse_date(std::u16string_view input, DATE* out) {
  const std::u16string text = trim_blanks(input);
  std::size_t pos = 0;
  CalendarTime t{1899, 12, 30, 0, 0, 0, 0};
  bool have_date = false;
  bool have_time = false;

  // Date part: "M/D/Y" or "YYYY-MM-DD". A first number followed by ':' starts a time instead.
  std::size_t probe = pos;
  int first_digits = 0;
  const auto first = read_int(text, &probe, 4, &first_digits);
  if (first && probe < text.size() && (text[probe] == u'/' || text[probe] == u'-')) {
    const char16_t separator = text[probe];
    pos = probe + 1;
    const auto second = read_int(text, &pos, 2);
    if (!second || pos >= text.size() || text[pos] != separator) return DISP_E_TYPEMISMATCH;
    ++pos;
    int third_digits = 0;
    const auto third = read_int(text, &pos, 4, &third_digits);
    if (!third) return DISP_E_TYPEMISMATCH;
    if (separator == u'-') {
      if (first_digits != 4) return DISP_E_TYPEMISMATCH;
      t.year = *first, t.month = *second, t.day = *third;
    } else {
      if (first_digits > 2) return DISP_E_TYPEMISMATCH;
      t.month = *first, t.day = *second, t.year = expand_year(*third, third_digits);
    }
    have_date = true;
    if (pos < text.size()) {
      if (!is_blank(text[pos]) && !(separator == u'-' && text[pos] == u'T')) {
        return DISP_E_TYPEMISMATCH;
      }
      ++pos;
      skip_blanks(text, &pos);
    }
  }

  // Time part: "h:mm[:ss] [AM|PM]".
  if (pos < text.size()) {
    const auto hour = read_int(text, &pos, 2);
    if (!hour || pos >= text.size() || text[pos] != u':') return DISP_E_TYPEMISMATCH;
    ++pos;
    int minute_digits = 0;
    const auto minute = read_int(text, &pos, 2, &minute_digits);
    if (!minute || minute_digits != 2) return DISP_E_TYPEMISMATCH;
    int second = 0;
    if (pos < text.size() && text[pos] == u':') {
      ++pos;
      int second_digits = 0;
      const auto s = read_int(text, &pos, 2, &second_digits);
      if (!s || second_digits != 2) return DISP_E_TYPEMISMATCH;
      second = *s;
    }
    skip_blanks(text, &pos);
    int h = *hour;
    if (pos < text.size()) {
      const std::u16string_view rest = std::u16string_view(text).substr(pos);
      const bool am = equals_ignoring_case(rest, u"AM");
      const bool pm = equals_ignoring_case(rest, u"PM");
      if ((!am && !pm) || h < 1 || h > 12) return DISP_E_TYPEMISMATCH;
      h = (h % 12) + (pm ? 12 : 0);
      pos = text.size();
    }
    t.hour = h, t.minute = *minute, t.second = second;
    have_time = true;
  }
  if (!have_date && !have_time) return DISP_E_TYPEMISMATCH;
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
      t.second > 59) {
    return DISP_E_TYPEMISMATCH;
  }
  if (t.year < 100 || t.year > 9999) return DISP_E_OVERFLOW;
  const auto date = encode_date(t);
  if (!date) return DISP_E_TYPEMISMATCH;  // a day the month does not have
  *out = *date;
  return S_OK;
}

std::u16string format_real(double value, int digits) {
  if (value == 0) return u"0";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*G", digits, value);
  return ascii(buffer);
}

std::u16string format_currency(std::int64_t scaled) {
  const bool negative = scaled < 0;
  const unsigned long long magnitude = negative ? 0ull - static_cast<unsigned long long>(scaled)
                                                : static_cast<unsigned long long>(scaled);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%s%llu.%04llu", negative ? "-" : "", magnitude / 10000,
                magnitude % 10000);
  std::string text = buffer;
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return std::u16string(text.begin(), text.end());
}

HRESULT format_date(DATE date, std::u16string* out) {
  const auto t = decode_date(date);
  if (!t) return DISP_E_OVERFLOW;
  const bool day_zero = t->year == 1899 && t->month == 12 && t->day == 30;
  const bool midnight = t->hour == 0 && t->minute == 0 && t->second == 0;
  char buffer[64];
  std::string text;
  if (!day_zero) {
    std::snprintf(buffer, sizeof buffer, "%d/%d/%04d", t->month, t->day, t->year);
    text = buffer;
  }
  if (day_zero || !midnight) {
    const int hour12 = t->hour % 12 == 0 ? 12 : t->hour % 12;
    std::snprintf(buffer, sizeof buffer, "%d:%02d:%02d %s", hour12, t->minute, t->second,
                  t->hour < 12 ? "AM" : "PM");
    if (!text.empty()) text += ' ';
    text += buffer;
  }
  *out = std::u16string(text.begin(), text.end());
  return S_OK;
}

}  // namespace sx::com::detail
