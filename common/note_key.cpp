#include "scribbix/note_key.h"

#include <cstdint>
#include <string>

#include "scribbix/notes_folder.h"
#include "scribbix/registry_values.h"

namespace sx::common {
namespace {

constexpr DWORD kGuardWaitMs = 10;
constexpr int kGuardTries = 200;  // about two seconds

std::string guard_path() {
  char dir[MAX_PATH] = {};
  const DWORD length = GetTempPathA(sizeof dir, dir);
  if (length == 0 || length >= sizeof dir) return {};
  return std::string(dir, length) + "NoteKey.lck";
}

// A base from the time of day: its fraction of a day times 2^32, folded below 2^31, keeping the
// bits 0x7FF00000. Never 0 unless the day has just begun.
long base_from_time_of_day() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const double fraction = (now.wHour * 3600.0 + now.wMinute * 60.0 + now.wSecond) / 86400.0;
  double value = fraction * 4294967296.0;
  while (value >= 2147483648.0) value -= 2147483648.0;
  return static_cast<long>(static_cast<std::int32_t>(value) & 0x7FF00000);
}

}  // namespace

NoteKeyGuard::NoteKeyGuard() {
  const std::string path = guard_path();
  if (path.empty()) return;
  for (int attempt = 0; attempt < kGuardTries; ++attempt) {
    file_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) return;
    Sleep(kGuardWaitMs);
  }
}

NoteKeyGuard::~NoteKeyGuard() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

double NextNoteKey() {
  const NoteKeyGuard guard;
  long last = leading_number(GetKeyValue(HKEY_LOCAL_MACHINE, kInstallationKey, kLastValue));
  if (last == 0) {
    last = leading_number(GetKeyValue(HKEY_LOCAL_MACHINE, kInstallationKey, kBaseValue));
    if (last == 0) {
      last = base_from_time_of_day();
      SetKeyValue(HKEY_LOCAL_MACHINE, kInstallationKey, kBaseValue, last, REG_DWORD);
    }
  }
  // In 32 bits, as "Last" holds it: the key after 0x7FFFFFFF is the one "Last" reads back.
  auto key = static_cast<std::int32_t>(static_cast<std::uint32_t>(last) + 1u);
  if (key == 0) key = 1;
  SetKeyValue(HKEY_LOCAL_MACHINE, kInstallationKey, kLastValue, static_cast<long>(key), REG_DWORD);
  return static_cast<double>(key);
}

}  // namespace sx::common
