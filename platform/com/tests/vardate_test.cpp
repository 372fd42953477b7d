#include <gtest/gtest.h>

#include <cmath>

#include "objbase.h"

namespace {

constexpr double kSecond = 1.0 / 86400.0;
constexpr double kMarch5th2001At1430 = 36955.0 + 14.5 / 24.0;

SYSTEMTIME make_time(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  SYSTEMTIME t{};
  t.wYear = static_cast<WORD>(y);
  t.wMonth = static_cast<WORD>(mo);
  t.wDay = static_cast<WORD>(d);
  t.wHour = static_cast<WORD>(h);
  t.wMinute = static_cast<WORD>(mi);
  t.wSecond = static_cast<WORD>(s);
  return t;
}

double to_date(SYSTEMTIME t) {
  double date = 0xdeadbeef;
  EXPECT_TRUE(SystemTimeToVariantTime(&t, &date));
  return date;
}

SYSTEMTIME from_date(double date) {
  SYSTEMTIME t{};
  EXPECT_TRUE(VariantTimeToSystemTime(date, &t)) << date;
  return t;
}

#define EXPECT_TIME(t, y, mo, d, h, mi, s) \
  do {                                     \
    EXPECT_EQ((t).wYear, y);               \
    EXPECT_EQ((t).wMonth, mo);             \
    EXPECT_EQ((t).wDay, d);                \
    EXPECT_EQ((t).wHour, h);               \
    EXPECT_EQ((t).wMinute, mi);            \
    EXPECT_EQ((t).wSecond, s);             \
  } while (0)

TEST(AutomationDate, KnownDaysEncode) {
  EXPECT_EQ(to_date(make_time(1899, 12, 30)), 0.0);
  EXPECT_EQ(to_date(make_time(1899, 12, 31)), 1.0);
  EXPECT_EQ(to_date(make_time(1900, 4, 9)), 100.0);
  EXPECT_DOUBLE_EQ(to_date(make_time(2001, 3, 5, 14, 30)), kMarch5th2001At1430);
  EXPECT_NEAR(kMarch5th2001At1430, 36955.604166666, 1e-9);
  EXPECT_EQ(to_date(make_time(1899, 12, 29, 6)), -1.25);
  EXPECT_EQ(to_date(make_time(100, 1, 1)), -657434.0);
  EXPECT_EQ(to_date(make_time(9999, 12, 31)), 2958465.0);
}

TEST(AutomationDate, KnownDaysDecodeWithTheForwardFractionBeforeDayZero) {
  EXPECT_TIME(from_date(kMarch5th2001At1430), 2001, 3, 5, 14, 30, 0);
  EXPECT_EQ(from_date(kMarch5th2001At1430).wDayOfWeek, 1);  // a Monday
  EXPECT_TIME(from_date(100.0), 1900, 4, 9, 0, 0, 0);
  EXPECT_TIME(from_date(-1.25), 1899, 12, 29, 6, 0, 0);
  EXPECT_TIME(from_date(-0.5), 1899, 12, 30, 12, 0, 0);
  EXPECT_TIME(from_date(0.5), 1899, 12, 30, 12, 0, 0);
  EXPECT_TIME(from_date(-657434.5), 100, 1, 1, 12, 0, 0);
}

TEST(AutomationDate, DecodeRoundsToTheNearestSecond) {
  EXPECT_TIME(from_date(kMarch5th2001At1430 + 0.4 * kSecond), 2001, 3, 5, 14, 30, 0);
  EXPECT_TIME(from_date(kMarch5th2001At1430 + 0.6 * kSecond), 2001, 3, 5, 14, 30, 1);
  EXPECT_TIME(from_date(kMarch5th2001At1430 - 0.4 * kSecond), 2001, 3, 5, 14, 30, 0);
  // 23:59:59.6 rounds into the next day, before and after day 0.
  EXPECT_TIME(from_date(36955.0 + 1.0 - 0.4 * kSecond), 2001, 3, 6, 0, 0, 0);
  EXPECT_TIME(from_date(-2.0 - (1.0 - 0.4 * kSecond)), 1899, 12, 29, 0, 0, 0);
}

TEST(AutomationDate, InvalidTimesAndDatesOutsideTheRangeLeaveTheOutputUntouched) {
  double date = 0xdeadbeef;
  for (SYSTEMTIME t : {make_time(99, 12, 31), make_time(10000, 1, 1), make_time(1900, 2, 29),
                       make_time(2001, 13, 1), make_time(2001, 4, 31), make_time(2001, 3, 5, 24),
                       make_time(2001, 3, 5, 1, 60)}) {
    EXPECT_FALSE(SystemTimeToVariantTime(&t, &date)) << t.wYear << "-" << t.wMonth;
  }
  EXPECT_EQ(date, 0xdeadbeef);
  SYSTEMTIME sentinel = make_time(0xCCCC, 0xCCCC, 0xCCCC);
  EXPECT_FALSE(VariantTimeToSystemTime(2958466.0, &sentinel));
  EXPECT_FALSE(VariantTimeToSystemTime(-657435.0, &sentinel));
  EXPECT_FALSE(VariantTimeToSystemTime(std::nan(""), &sentinel));
  EXPECT_EQ(sentinel.wYear, 0xCCCC);
  // A leap day that exists.
  EXPECT_TIME(from_date(to_date(make_time(2000, 2, 29, 23, 59, 59))), 2000, 2, 29, 23, 59, 59);
}

TEST(AutomationDate, MinuteHelpersDropSecondsAfterRounding) {
  using sx::com::DateMinutes;
  EXPECT_EQ(sx::com::date_from_minutes({2001, 3, 5, 14, 30}), kMarch5th2001At1430);
  EXPECT_FALSE(sx::com::date_from_minutes({2001, 2, 29, 0, 0}).has_value());
  EXPECT_EQ(sx::com::minutes_from_date(kMarch5th2001At1430 + 59.4 * kSecond),
            (DateMinutes{2001, 3, 5, 14, 30}));
  EXPECT_EQ(sx::com::minutes_from_date(kMarch5th2001At1430 + 59.6 * kSecond),
            (DateMinutes{2001, 3, 5, 14, 31}));
  EXPECT_FALSE(sx::com::minutes_from_date(3e6).has_value());
}

TEST(AutomationDate, DateWordPacksYearsSince1904) {
  EXPECT_EQ(sx::com::pack_date_word(2001, 3, 5), 0xC265);
  EXPECT_EQ(sx::com::unpack_date_word(0xC265, 14, 30), (sx::com::DateMinutes{2001, 3, 5, 14, 30}));
  EXPECT_FALSE(sx::com::pack_date_word(1904, 1, 1).has_value());  // year bits 0 mean no date
  EXPECT_FALSE(sx::com::pack_date_word(2032, 1, 1).has_value());
  EXPECT_EQ(sx::com::pack_date_word(2031, 12, 31), 0xFF9F);
  EXPECT_FALSE(sx::com::unpack_date_word(0x0065).has_value());
  EXPECT_FALSE(sx::com::unpack_date_word(0xC200 | (13 << 5) | 1).has_value());
}

}  // namespace
