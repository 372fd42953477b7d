#include "scribbix/date_texts.h"

#include <cstdio>

#include "comdef.h"

namespace sx::common {
namespace {

bool calendar_of(DATE date, SYSTEMTIME* time) { return VariantTimeToSystemTime(date, time) != 0; }

std::u16string ascii(const char* text) {
  std::u16string out;
  for (; *text != '\0'; ++text) out.push_back(static_cast<char16_t>(*text));
  return out;
}

std::u16string two_digits(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%s%d", value < 10 ? "0" : "", value);
  return ascii(text);
}

}  // namespace

std::u16string year_text(DATE date) {
  SYSTEMTIME t{};
  if (!calendar_of(date, &t)) return {};
  return ascii(std::to_string(t.wYear).c_str());
}

std::u16string month_text(DATE date) {
  SYSTEMTIME t{};
  if (!calendar_of(date, &t)) return {};
  return year_text(date) + u"/" + two_digits(t.wMonth);
}

std::u16string day_text(DATE date) {
  SYSTEMTIME t{};
  if (!calendar_of(date, &t)) return {};
  return month_text(date) + u"/" + two_digits(t.wDay);
}

DATE time_of_day(DATE date) {
  SYSTEMTIME t{};
  if (!calendar_of(date, &t)) return 0;
  return (t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond) / 86400.0;
}

}  // namespace sx::common
