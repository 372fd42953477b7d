// FILETIME (100 ns intervals since 1601-01-01 UTC) to and from host times.
#pragma once

#include <time.h>

#include <cstdint>

#include "win32/types.h"

namespace sx::files {

inline constexpr std::int64_t kFiletimeOfUnixEpoch = 116444736000000000;  // 1970-01-01 in FILETIME

inline FILETIME filetime_from_unix_ns(std::int64_t seconds, std::int64_t nanoseconds) {
  std::int64_t ticks = seconds * 10000000 + nanoseconds / 100 + kFiletimeOfUnixEpoch;
  if (ticks < 0) ticks = 0;  // before 1601: not representable
  const auto u = static_cast<std::uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(u & 0xFFFFFFFFu), static_cast<DWORD>(u >> 32)};
}

inline timespec timespec_from_filetime(const FILETIME& ft) {
  const std::int64_t ticks = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  const std::int64_t since_epoch = ticks - kFiletimeOfUnixEpoch;
  std::int64_t seconds = since_epoch / 10000000;
  std::int64_t rest = since_epoch % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>(rest * 100);
  return ts;
}

}  // namespace sx::files
