// Automation dates (DATE): days since 30 December 1899 00:00 as a double, the fraction being the
// time of day. Before day 0 the integer part counts days backwards while the fraction still counts
// forwards: -1.25 is 29 December 1899 06:00, and -0.5 and 0.5 are both noon on 30 December 1899.
// Valid dates run from 1 January 100 (-657434) to 31 December 9999 (2958465.99999...).
//
// All functions are pure and thread-safe.
#pragma once

#include <cstdint>
#include <optional>

#include "com/variant.h"
#include "win32/types.h"

extern "C" {
// TRUE and the date for a valid SYSTEMTIME (year 100-9999, a real day, hour < 24, minute and second
// < 60); milliseconds and the day of the week are ignored. FALSE (*date untouched) otherwise.
INT SystemTimeToVariantTime(LPSYSTEMTIME time, DOUBLE* date);
// TRUE and the calendar time rounded to the nearest second (milliseconds 0, day of the week set).
// FALSE (*time untouched) for a date outside the valid range or not a number.
INT VariantTimeToSystemTime(DOUBLE date, LPSYSTEMTIME time);
}

namespace sx::com {

inline constexpr double kMinDate = -657434.0;           // 1 January 100
inline constexpr double kMaxDateExclusive = 2958466.0;  // 1 January 10000

// A calendar time at minute resolution, as the handheld keeps it.
struct DateMinutes {
  int year = 0;
  int month = 0;   // 1-12
  int day = 0;     // 1-31
  int hour = 0;    // 0-23
  int minute = 0;  // 0-59
  friend bool operator==(const DateMinutes&, const DateMinutes&) = default;
};

// The date of a calendar time with seconds 0; nothing for an invalid time.
std::optional<DATE> date_from_minutes(const DateMinutes& t);
// The calendar time of a date, rounded to the nearest second and then cut to the minute (seconds
// are dropped, as when the hour and minute fields of a SYSTEMTIME are taken). Nothing outside the
// valid range.
std::optional<DateMinutes> minutes_from_date(DATE date);

// The handheld's 16-bit date word: bits 15-9 years since 1904, bits 8-5 month, bits 4-0 day.
// Nothing for years outside 1905-2031 (a word with year bits 0 means "no date") or a bad day.
std::optional<std::uint16_t> pack_date_word(int year, int month, int day);
// Year, month and day of a date word; nothing for year bits 0, month outside 1-12 or day 0.
std::optional<DateMinutes> unpack_date_word(std::uint16_t word, int hour = 0, int minute = 0);

}  // namespace sx::com
