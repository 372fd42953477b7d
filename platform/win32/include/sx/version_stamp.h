// Version blocks of the simulated machine's programs and libraries: the format, and the stamp that
// gives one to a stand-in file that our build did not make (a fake "HotSync.exe" or "OUTLOOK.EXE").
//
// The block is text, so that `objdump -s -j .sxversion FILE` or `tail -c 300 FILE` shows it:
//
//   SXVERSIONINFO 1\n                 magic line, exactly this
//   @Translation=040904B0\n           language (0409) and code page (04B0), 8 hex digits
//   @FileType=DLL\n                   DLL or APP (VS_FIXEDFILEINFO.dwFileType 2 or 1)
//   FileVersion=9.0.0.3821\n          then one line per StringFileInfo value: Name=Value
//   ProductName=...\n
//
// Names are 1 to 64 letters, digits or '_'; values hold no line break (a '\r' before '\n' is
// dropped) and at most 1024 bytes; at most 64 values; the whole text at most 65536 bytes. It ends
// at the first NUL or at the end of its container. The numeric versions of VS_FIXEDFILEINFO are
// read from the FileVersion and ProductVersion texts (up to four numbers separated by '.' or ',';
// missing ones are 0). @Translation defaults to 040904B0 and @FileType to APP.
//
// Containers, looked for in this order:
// 1. A stamp at the end of any file: the text, then its length as a 32-bit little-endian number,
//    then the 8 bytes "SXVTRAIL". An ELF file still runs with it appended; a stamp wins over (2).
// 2. The ELF section ".sxversion" (what sx_version_block() in cmake/SxVersion.cmake puts there).
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace sx::version {

inline constexpr char kMagicLine[] = "SXVERSIONINFO 1";
inline constexpr char kSectionName[] = ".sxversion";
inline constexpr char kTrailerMagic[8] = {'S', 'X', 'V', 'T', 'R', 'A', 'I', 'L'};
inline constexpr std::size_t kMaxTextBytes = 65536;
inline constexpr std::size_t kMaxValues = 64;
inline constexpr std::size_t kMaxNameBytes = 64;
inline constexpr std::size_t kMaxValueBytes = 1024;

struct StampInfo {
  std::string lang_codepage = "040904B0";
  bool is_program = true;                     // APP, else DLL
  std::map<std::string, std::string> values;  // "FileVersion" -> "9.0.0.3821", "ProductName" -> ...
};

// The block's text for `info`; empty when a name or value breaks the rules above.
std::string block_text(const StampInfo& info);

// Appends (or replaces) the stamp at the end of the host file `path`. False with a reason in `why`
// when the info breaks the rules or the file cannot be written. Not thread-safe for one file.
bool stamp_file(const std::filesystem::path& path, const StampInfo& info,
                std::string* why = nullptr);

}  // namespace sx::version
