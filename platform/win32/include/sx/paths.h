// The one place where Windows paths of the simulated machine map to files under the machine root.
//
// "C:\Program Files\Vorlan\x.dll" maps to "<root>/drive_c/Program Files/Vorlan/x.dll"; any other
// drive letter X: maps to "<root>/drive_x" (that folder may not exist: then nothing is found
// there).
//
// Rules, applied to the text of the path before the disk is looked at:
// - Both '\' and '/' separate components; repeated separators count as one.
// - A path without a drive letter ("x\y", "\x\y") and a drive-relative path ("C:x") are taken from
//   the root of drive C: (or of the drive named): the simulated machine has no current directory.
// - "." is dropped. ".." removes the previous component and never climbs above the drive folder, so
//   no input can name a file outside the machine root. Trailing dots and spaces of a component are
//   dropped, as Windows does ("a.txt." is "a.txt"); a component of dots only counts as ".".
// - A component holding a character illegal in Windows file names (< > : " | ? * or a control
//   character) makes the path invalid (ERROR_INVALID_NAME); the drive colon is the only colon
//   allowed.
// - "\\?\C:\..." is taken as "C:\...". UNC and device paths ("\\server\share", "\\?\UNC\...",
//   "\\.\...") are refused with ERROR_BAD_NETPATH: the simulated machine has no network.
// Then each component that exists on disk is found case-insensitively (ASCII letters): an exact
// match wins, otherwise the first name, in byte order, that equals it ignoring case; "c:\PROGRAM
// FILES" reaches "Program Files". Components that do not exist keep the case they were given. Names
// are passed as the bytes given (the ANSI code page's bytes); symbolic links inside the root are
// followed as the host does.
//
// Thread-safe. Reads the machine root on every call (see sx/machine.h).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "win32/types.h"

namespace sx::paths {

// A mapped path: `host` when `error` is ERROR_SUCCESS, else empty with the Windows error code
// (ERROR_INVALID_NAME, ERROR_BAD_NETPATH, ERROR_PATH_NOT_FOUND for an empty path).
struct Mapped {
  std::filesystem::path host;
  DWORD error = 0;
};
Mapped map(std::string_view windows_path);

// Host path for a Windows path on the current machine; empty when the path is refused (see above).
std::filesystem::path to_host(std::string_view windows_path);

// Windows path ("C:\...") for a host path under the machine root; empty when it is outside every
// drive folder. The drive folder itself gives "C:\".
std::string to_windows(const std::filesystem::path& host_path);

// The host folder of a drive letter ('C' or 'c' gives "<root>/drive_c").
std::filesystem::path drive_folder(char letter);

// True for the characters Windows forbids in a file name component (< > : " | ? * and controls).
bool is_illegal_name_char(char c);

}  // namespace sx::paths
