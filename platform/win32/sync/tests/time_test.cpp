#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "sx/clock.h"
#include "sx/testing/temp_machine.h"
#include "win32/sync.h"

namespace {

// 2001-01-01 00:00 UTC, where TempMachine starts the virtual time of day.
constexpr std::uint64_t kFileTime2001 = 126227808000000000ull;

std::uint64_t ticks(const FILETIME& ft) {
  return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
FILETIME filetime(std::uint64_t value) {
  return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

void expect_time(const SYSTEMTIME& st, int y, int mo, int dow, int d, int h, int mi, int s,
                 int ms) {
  EXPECT_EQ(st.wYear, y);
  EXPECT_EQ(st.wMonth, mo);
  EXPECT_EQ(st.wDayOfWeek, dow);
  EXPECT_EQ(st.wDay, d);
  EXPECT_EQ(st.wHour, h);
  EXPECT_EQ(st.wMinute, mi);
  EXPECT_EQ(st.wSecond, s);
  EXPECT_EQ(st.wMilliseconds, ms);
}

// Sets TZ for one test and puts the old value back.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (old_)
      setenv("TZ", old_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> old_;
};

class TimeTest : public ::testing::Test {
 protected:
  sx::testing::TempMachine machine_;
};

TEST_F(TimeTest, SleepMovesTheVirtualClockByExactlyItsLength) {
  const DWORD start = GetTickCount();
  const ULONGLONG start64 = GetTickCount64();
  Sleep(1234);
  EXPECT_EQ(GetTickCount() - start, 1234u);
  EXPECT_EQ(GetTickCount64() - start64, 1234u);
  Sleep(0);
  EXPECT_EQ(GetTickCount() - start, 1234u);
}

TEST_F(TimeTest, TickCountWrapsAfter49DaysAndDifferencesStillHold) {
  const ULONGLONG now = GetTickCount64();
  sx::clock::advance(static_cast<std::int64_t>(0x100000000ull - (now & 0xFFFFFFFFull)) - 100);
  const DWORD before = GetTickCount();
  EXPECT_EQ(before, 0xFFFFFF9Cu);
  Sleep(250);
  EXPECT_EQ(GetTickCount(), 150u);
  EXPECT_EQ(GetTickCount() - before, 250u);
  EXPECT_GT(GetTickCount64(), 0xFFFFFFFFull);
}

TEST_F(TimeTest, TimeOfDayFollowsTheVirtualClock) {
  SYSTEMTIME st{};
  GetSystemTime(&st);
  expect_time(st, 2001, 1, 1, 1, 0, 0, 0, 0);  // a Monday
  FILETIME ft{};
  GetSystemTimeAsFileTime(&ft);
  EXPECT_EQ(ticks(ft), kFileTime2001);

  Sleep(((25 * 60 + 1) * 60 + 1) * 1000 + 7);  // one day, one hour, one minute, one second, 7 ms
  GetSystemTime(&st);
  expect_time(st, 2001, 1, 2, 2, 1, 1, 1, 7);
}

TEST_F(TimeTest, LocalTimeAppliesTheHostTimeZoneIncludingSummerTime) {
  ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
  SYSTEMTIME st{};
  GetLocalTime(&st);
  expect_time(st, 2001, 1, 1, 1, 1, 0, 0, 0);
  FILETIME utc = filetime(kFileTime2001), local{};
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_EQ(ticks(local), kFileTime2001 + 3600ull * 10000000ull);
  FILETIME back{};
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
  EXPECT_EQ(ticks(back), kFileTime2001);

  sx::clock::use_virtual(994032000000);  // 2001-07-02 00:00 UTC
  GetLocalTime(&st);
  expect_time(st, 2001, 7, 1, 2, 2, 0, 0, 0);
}

TEST(FileTimeTest, ConvertsBothWaysAcrossTheWholeRange) {
  struct Case {
    std::uint64_t ticks;
    SYSTEMTIME st;
  };
  const Case cases[] = {
      {0, {1601, 1, 1, 1, 0, 0, 0, 0}},
      {kFileTime2001, {2001, 1, 1, 1, 0, 0, 0, 0}},
      {125962560000000000ull, {2000, 2, 2, 29, 0, 0, 0, 0}},  // leap day
      {116444736000000000ull + 10000ull * 999, {1970, 1, 4, 1, 0, 0, 0, 999}},
      {0x7FFFFFFFFFFFFFFFull / 10000 * 10000, {30828, 9, 4, 14, 2, 48, 5, 477}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ticks);
    const FILETIME ft = filetime(c.ticks);
    SYSTEMTIME st{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    expect_time(st, c.st.wYear, c.st.wMonth, c.st.wDayOfWeek, c.st.wDay, c.st.wHour, c.st.wMinute,
                c.st.wSecond, c.st.wMilliseconds);
    if (c.st.wYear > 30827) continue;  // beyond what a SYSTEMTIME may be converted from
    FILETIME back{0xCCCCCCCC, 0xCCCCCCCC};
    ASSERT_TRUE(SystemTimeToFileTime(&c.st, &back));
    EXPECT_EQ(ticks(back), c.ticks);
  }
}

TEST(FileTimeTest, RejectsOutOfRangeValuesAndLeavesOutputAlone) {
  const FILETIME negative = filetime(0x8000000000000000ull);
  SYSTEMTIME st{0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC, 0xCCCC};
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(FileTimeToSystemTime(&negative, &st));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(st.wYear, 0xCCCC);

  const SYSTEMTIME bad[] = {
      {2001, 2, 0, 29, 0, 0, 0, 0},   // no 29 February in 2001
      {1600, 12, 0, 31, 0, 0, 0, 0},  // before 1601
      {2001, 13, 0, 1, 0, 0, 0, 0},  {2001, 1, 0, 0, 0, 0, 0, 0},  {2001, 1, 0, 1, 24, 0, 0, 0},
      {2001, 1, 0, 1, 0, 60, 0, 0},  {2001, 1, 0, 1, 0, 0, 60, 0}, {2001, 1, 0, 1, 0, 0, 0, 1000},
  };
  for (const SYSTEMTIME& s : bad) {
    FILETIME ft{0xdeadbeef, 0xdeadbeef};
    EXPECT_FALSE(SystemTimeToFileTime(&s, &ft));
    EXPECT_EQ(ft.dwLowDateTime, 0xdeadbeefu);
  }
}

}  // namespace
