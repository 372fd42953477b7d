// Proleptic Gregorian calendar arithmetic shared by the time functions and automation dates.
// Days are counted from 1970-01-01 (day 0); negative days are before it. Pure functions.
#pragma once

#include <cstdint>

namespace sx::calendar {

struct Date {
  std::int64_t year;
  unsigned month;  // 1-12
  unsigned day;    // 1-31
};

// Days since 1970-01-01 of y-m-d (H. Hinnant's days_from_civil). Valid for any month 1-12.
constexpr std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The inverse of days_from_civil.
constexpr Date civil_from_days(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return Date{static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

constexpr bool is_leap_year(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days in a month; 0 for a month outside 1-12.
constexpr unsigned days_in_month(std::int64_t y, unsigned m) {
  constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12) return 0;
  return m == 2 && is_leap_year(y) ? 29 : kDays[m - 1];
}

static_assert(days_from_civil(1970, 1, 1) == 0);
static_assert(days_from_civil(1899, 12, 30) == -25569);
static_assert(civil_from_days(-25569).year == 1899 && civil_from_days(-25569).day == 30);

}  // namespace sx::calendar
