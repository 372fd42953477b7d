// Sleep, the tick counts and the time of day, all read from the machine's one clock.
#include <ctime>
#include <thread>

#include "sx/calendar.h"
#include "sync_objects.h"

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
constexpr std::int64_t kTicksPerMs = 10'000;  // FILETIME ticks are 100 ns
constexpr std::int64_t kDaysFrom1601To1970 = 134'774;
constexpr std::int64_t kMsFrom1601To1970 = kDaysFrom1601To1970 * kMsPerDay;

// Milliseconds since 1601-01-01 (never negative) into a SYSTEMTIME.
void to_system_time(std::int64_t ms_since_1601, SYSTEMTIME* st) {
  const std::int64_t days = ms_since_1601 / kMsPerDay;
  std::int64_t in_day = ms_since_1601 % kMsPerDay;
  const sx::calendar::Date date = sx::calendar::civil_from_days(days - kDaysFrom1601To1970);
  st->wYear = static_cast<WORD>(date.year);
  st->wMonth = static_cast<WORD>(date.month);
  st->wDay = static_cast<WORD>(date.day);
  st->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  st->wHour = static_cast<WORD>(in_day / 3'600'000);
  in_day %= 3'600'000;
  st->wMinute = static_cast<WORD>(in_day / 60'000);
  in_day %= 60'000;
  st->wSecond = static_cast<WORD>(in_day / 1000);
  st->wMilliseconds = static_cast<WORD>(in_day % 1000);
}

std::int64_t to_ticks(const FILETIME& ft) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
                                   ft.dwLowDateTime);
}

FILETIME from_ticks(std::int64_t ticks) {
  const auto value = static_cast<std::uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

// The host time zone's offset from UTC, in milliseconds, at a moment given in Unix milliseconds.
std::int64_t local_offset_ms(std::int64_t unix_ms) {
  std::time_t seconds =
      static_cast<std::time_t>(unix_ms >= 0 ? unix_ms / 1000 : (unix_ms - 999) / 1000);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return 0;
  return static_cast<std::int64_t>(local.tm_gmtoff) * 1000;
}

}  // namespace

extern "C" {

void Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  const std::int64_t deadline = sx::sync::deadline_after(dwMilliseconds);
  auto guard = sx::kernel::lock();
  sx::kernel::wait_until(
      guard, [] { return false; }, deadline);
}

DWORD GetTickCount() { return static_cast<DWORD>(sx::clock::now_ms()); }

ULONGLONG GetTickCount64() { return static_cast<ULONGLONG>(sx::clock::now_ms()); }

void GetSystemTime(LPSYSTEMTIME lpSystemTime) {
  if (lpSystemTime == nullptr) return;
  to_system_time(sx::clock::wall_unix_ms() + kMsFrom1601To1970, lpSystemTime);
}

void GetLocalTime(LPSYSTEMTIME lpSystemTime) {
  if (lpSystemTime == nullptr) return;
  const std::int64_t now = sx::clock::wall_unix_ms();
  to_system_time(now + local_offset_ms(now) + kMsFrom1601To1970, lpSystemTime);
}

void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
  if (lpSystemTimeAsFileTime == nullptr) return;
  *lpSystemTimeAsFileTime =
      from_ticks((sx::clock::wall_unix_ms() + kMsFrom1601To1970) * kTicksPerMs);
}

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
  if (lpFileTime == nullptr || lpSystemTime == nullptr ||
      (lpFileTime->dwHighDateTime & 0x80000000u)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  to_system_time(to_ticks(*lpFileTime) / kTicksPerMs, lpSystemTime);
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime) {
  if (lpSystemTime == nullptr || lpFileTime == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const SYSTEMTIME& st = *lpSystemTime;
  if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
      st.wDay > sx::calendar::days_in_month(st.wYear, st.wMonth) || st.wHour > 23 ||
      st.wMinute > 59 || st.wSecond > 59 || st.wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::int64_t days =
      sx::calendar::days_from_civil(st.wYear, st.wMonth, st.wDay) + kDaysFrom1601To1970;
  const std::int64_t ms = days * kMsPerDay + st.wHour * 3'600'000LL + st.wMinute * 60'000LL +
                          st.wSecond * 1000LL + st.wMilliseconds;
  *lpFileTime = from_ticks(ms * kTicksPerMs);
  return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
  if (lpFileTime == nullptr || lpLocalFileTime == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::int64_t offset = local_offset_ms(sx::clock::wall_unix_ms()) * kTicksPerMs;
  *lpLocalFileTime = from_ticks(to_ticks(*lpFileTime) + offset);
  return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, LPFILETIME lpFileTime) {
  if (lpLocalFileTime == nullptr || lpFileTime == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::int64_t offset = local_offset_ms(sx::clock::wall_unix_ms()) * kTicksPerMs;
  *lpFileTime = from_ticks(to_ticks(*lpLocalFileTime) - offset);
  return TRUE;
}

}  // extern "C"
