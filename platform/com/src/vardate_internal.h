// Calendar arithmetic shared by the date functions and the date <-> text conversions.
#pragma once

#include <optional>

namespace sx::com::detail {

struct CalendarTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int day_of_week = 0;  // 0 Sunday; set by decode_date, ignored by encode_date
};

bool is_leap_year(int year);
// 0 for a month outside 1-12.
int days_in_month(int year, int month);
// The automation date of a valid calendar time (year 100-9999); nothing otherwise.
std::optional<double> encode_date(const CalendarTime& t);
// The calendar time of a date, rounded to the nearest second; nothing outside the valid range.
std::optional<CalendarTime> decode_date(double date);

}  // namespace sx::com::detail
