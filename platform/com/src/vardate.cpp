// Automation dates <-> calendar times (proleptic Gregorian calendar).
#include <cmath>

#include "com/vardate.h"
#include "vardate_internal.h"

#include "sx/calendar.h"

namespace sx::com::detail {
namespace {

constexpr std::int64_t kDay0 = sx::calendar::days_from_civil(1899, 12, 30);

}  // namespace

bool is_leap_year(int year) { return sx::calendar::is_leap_year(year); }

int days_in_month(int year, int month) {
  return month < 1
             ? 0
             : static_cast<int>(sx::calendar::days_in_month(year, static_cast<unsigned>(month)));
}

std::optional<double> encode_date(const CalendarTime& t) {
  if (t.year < 100 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > days_in_month(t.year, t.month) || t.hour < 0 || t.hour > 23 || t.minute < 0 ||
      t.minute > 59 || t.second < 0 || t.second > 59) {
    return std::nullopt;
  }
  const double days =
      static_cast<double>(sx::calendar::days_from_civil(t.year, static_cast<unsigned>(t.month),
                                                        static_cast<unsigned>(t.day)) -
                          kDay0);
  const double fraction = (t.hour * 3600 + t.minute * 60 + t.second) / 86400.0;
  // Before day 0 the fraction still counts forwards from the day's start.
  return days >= 0 ? days + fraction : days - fraction;
}

std::optional<CalendarTime> decode_date(double date) {
  // The last day before day 0 of the range still has its times: -657434.5 is 1 January 100 12:00.
  if (!(date > kMinDate - 1.0 && date < kMaxDateExclusive)) return std::nullopt;
  const double whole = std::trunc(date);
  const double fraction = std::fabs(date - whole);
  auto seconds = static_cast<std::int64_t>(std::floor(fraction * 86400.0 + 0.5));
  auto days = static_cast<std::int64_t>(whole);
  if (seconds >= 86400) {  // rounded up to the next midnight
    seconds -= 86400;
    ++days;
  }
  CalendarTime t;
  const sx::calendar::Date date_part = sx::calendar::civil_from_days(days + kDay0);
  t.year = static_cast<int>(date_part.year);
  t.month = static_cast<int>(date_part.month);
  t.day = static_cast<int>(date_part.day);
  if (t.year > 9999) return std::nullopt;
  t.hour = static_cast<int>(seconds / 3600);
  t.minute = static_cast<int>(seconds / 60 % 60);
  t.second = static_cast<int>(seconds % 60);
  t.day_of_week = static_cast<int>(((days + kDay0) % 7 + 7 + 4) % 7);  // 1970-01-01 was a Thursday
  return t;
}

}  // namespace sx::com::detail

using sx::com::detail::CalendarTime;

extern "C" {

INT SystemTimeToVariantTime(LPSYSTEMTIME time, DOUBLE* date) {
  if (time == nullptr || date == nullptr) return FALSE;
  const CalendarTime t{time->wYear,   time->wMonth,  time->wDay, time->wHour,
                       time->wMinute, time->wSecond, 0};
  const auto encoded = sx::com::detail::encode_date(t);
  if (!encoded) return FALSE;
  *date = *encoded;
  return TRUE;
}

INT VariantTimeToSystemTime(DOUBLE date, LPSYSTEMTIME time) {
  if (time == nullptr) return FALSE;
  const auto t = sx::com::detail::decode_date(date);
  if (!t) return FALSE;
  time->wYear = static_cast<WORD>(t->year);
  time->wMonth = static_cast<WORD>(t->month);
  time->wDayOfWeek = static_cast<WORD>(t->day_of_week);
  time->wDay = static_cast<WORD>(t->day);
  time->wHour = static_cast<WORD>(t->hour);
  time->wMinute = static_cast<WORD>(t->minute);
  time->wSecond = static_cast<WORD>(t->second);
  time->wMilliseconds = 0;
  return TRUE;
}

}  // extern "C"

namespace sx::com {

std::optional<DATE> date_from_minutes(const DateMinutes& t) {
  return detail::encode_date({t.year, t.month, t.day, t.hour, t.minute, 0, 0});
}

std::optional<DateMinutes> minutes_from_date(DATE date) {
  const auto t = detail::decode_date(date);
  if (!t) return std::nullopt;
  return DateMinutes{t->year, t->month, t->day, t->hour, t->minute};
}

std::optional<std::uint16_t> pack_date_word(int year, int month, int day) {
  if (year < 1905 || year > 1904 + 127 || month < 1 || month > 12 || day < 1 ||
      day > detail::days_in_month(year, month)) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(((year - 1904) << 9) | (month << 5) | day);
}

std::optional<DateMinutes> unpack_date_word(std::uint16_t word, int hour, int minute) {
  const int years = word >> 9;
  const int month = (word >> 5) & 0x0F;
  const int day = word & 0x1F;
  if (years == 0 || month < 1 || month > 12 || day == 0) return std::nullopt;
  return DateMinutes{1904 + years, month, day, hour, minute};
}

}  // namespace sx::com
