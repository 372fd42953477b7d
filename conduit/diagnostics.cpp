#include "diagnostics.h"

#include <cstdio>
#include <ctime>

#include "note_database.h"
#include "resources.h"
#include "settings.h"
#include "sx/calendar.h"
#include "windows.h"

namespace sx::conduit {
namespace {

std::string g_path;  // run thread only; set at the first write of the process

// 100 ns ticks from 1601 to 1970 and to 1904.
constexpr std::uint64_t kTicksPerSecond = 10000000ull;
constexpr std::uint64_t kSeconds1601To1970 = 11644473600ull;
constexpr std::uint64_t kSeconds1601To1904 =
    kSeconds1601To1970 -
    static_cast<std::uint64_t>(-sx::calendar::days_from_civil(1904, 1, 1)) * 86400ull;

FILETIME file_time(std::uint64_t seconds_since_1601) {
  const std::uint64_t ticks = seconds_since_1601 * kTicksPerSecond;
  FILETIME t{};
  t.dwLowDateTime = static_cast<DWORD>(ticks);
  t.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return t;
}

std::string format_c(const SYSTEMTIME& time) {
  std::tm tm{};
  tm.tm_year = time.wYear - 1900;
  tm.tm_mon = time.wMonth - 1;
  tm.tm_mday = time.wDay;
  tm.tm_hour = time.wHour;
  tm.tm_min = time.wMinute;
  tm.tm_sec = time.wSecond;
  tm.tm_wday = time.wDayOfWeek;
  char text[64];
  return std::strftime(text, sizeof text, "%c", &tm) != 0 ? text : "";
}

// A database time as "%c": handheld times count seconds since 1904 in the handheld's local time,
// desktop times seconds since 1970 (shown in local time).
std::string format_database_time(DWORD seconds, bool handheld) {
  FILETIME t = file_time((handheld ? kSeconds1601To1904 : kSeconds1601To1970) + seconds);
  if (!handheld) {
    FILETIME local{};
    if (FileTimeToLocalFileTime(&t, &local)) t = local;
  }
  SYSTEMTIME s{};
  if (!FileTimeToSystemTime(&t, &s)) return "";
  return format_c(s);
}

std::string stamp_path() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  const std::uint64_t seconds = ticks / kTicksPerSecond - kSeconds1601To1970;
  char name[32];
  std::snprintf(name, sizeof name, "\\VorScrib%08x.txt", static_cast<unsigned>(seconds));
  return name;
}

void append(const std::string& text) {
  if (g_path.empty()) g_path = stamp_path();
  HANDLE file = CreateFileA(g_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;  // best effort: this dump is lost
  SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

std::string diagnostic_file_path() { return g_path; }

std::string diagnostic_header(const char* label) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return "\n========== " + std::string(label) + " at " + format_c(now) + " ==========\n";
}

std::string diagnostic_note(const NoteRecord& note) {
  const RecordInfoBlock& info = note.info();
  const BYTE a = info.m_Attribs;
  std::string out = "[";
  out.append(std::to_string(info.m_RecId)).append(", ").append(std::to_string(info.m_RecIndex));
  out.append(", (");
  out.push_back((a & kAttrDirty) != 0 ? 'u' : '-');
  out.push_back(note.isDeletedOrArchived() ? 'd' : '-');
  out.push_back((a & kAttrArchived) != 0 ? 'a' : '-');
  out.append("), ").append(std::to_string(info.m_RecSize)).append("] (");
  out.append(note.isNew() ? "ad" : "--").append(",");
  out.append(note.isMarkedForDeletion() ? "dd" : "--").append(") ");
  out.append(note.title()).append("\n");
  for (const auto& f : note.fields()) {
    out += "  (";
    out += f->modified_here ? "b" : "-";
    out += ",";
    out += f->changed_in_memory ? "d" : "-";
    out += ",";
    out += f->exclude ? "w" : "-";
    out += ") " + f->displayName() + ": ";
    f->print(&out);
    out += "\n";
  }
  return out;
}

std::string diagnostic_dump(const NoteDatabase& database) {
  std::string out =
      database.displayName() + ": " + load_string(database.descriptionId()).value_or("") + "\n";
  out += "Modified: " + format_database_time(database.modification_time, database.isHandheld()) +
         "  Last Sync: " + format_database_time(database.last_sync_time, database.isHandheld()) +
         "\n";
  for (const auto& [id, note] : database.notes()) out += diagnostic_note(*note) + "\n";
  return out;
}

void diagnostic_checkpoint(const char* label, const NoteDatabase* first,
                           const NoteDatabase* second) {
  try {
    if (settings().DiagnosticMode == 0) return;
    std::string text;
    for (const NoteDatabase* database : {first, second}) {
      if (database != nullptr) text += diagnostic_header(label) + diagnostic_dump(*database);
    }
    if (text.empty()) text = diagnostic_header(label);  // "Before loading": the header alone
    append(text);
  } catch (...) {
    // best effort
  }
}

}  // namespace sx::conduit
