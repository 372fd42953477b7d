// Installing and updating a profile's notes folder through the folder maintenance component
// ("ScribbixUpdate.Update1"), with the progress window up meanwhile. Each procedure opens its own
// Outlook connection on the checker and releases it at the end, so that Outlook lets go of the
// store files between steps. User-interface thread only; failures are shown to the user.
#pragma once

#include <string>

#include "component_checker.h"

namespace sx::configure {

// UpdateFolder's result when no update can start for want of the update store.
inline constexpr long NO_UPDATE_FILE = static_cast<long>(static_cast<LONG>(0x80990000u));
// The folder maintenance component's result when the profile holds no notes folder to carry over.
inline constexpr long kNoNotesFolder = static_cast<long>(static_cast<LONG>(0x80770000u));

// UpdateFolder's result when the profile could not be logged on to (MAPI_E_LOGON_FAILED).
inline constexpr long kLogonFailed = static_cast<long>(static_cast<LONG>(0x80040111u));

// Rebuilds the profile's notes folder from the update store "SXUpdate.pst" of the installation
// directory, carrying every note over: 0 or the component's own result, NO_UPDATE_FILE, or
// kNoNotesFolder (then nothing is shown: the caller installs afresh).
long UpdateFolder(CComponentChecker& checker, const std::string& profile);

// What InstallFolder did with the user's previous notes file.
struct InstallReport {
  std::string target;    // the user's notes file (a Windows path), empty without installation path
  std::string setAside;  // where the previous file went ("<target>.<n>"), empty when none existed
  bool copied = false;   // a fresh notes file was put in place
};

// Puts a fresh copy of the update store in place as the Palm user's notes file "<user>
// Vorlan.pst" (the previous one is set aside as "<file>.1" ... "<file>.100" and never deleted),
// adds it to the profile and switches the add-ins on. Always 1; *report (may be null) tells what
// happened to the files.
long InstallFolder(CComponentChecker& checker, const std::string& palmUser,
                   const std::string& profile, InstallReport* report = nullptr);

// Copies `source` to `target` in blocks of 16384 bytes (both opened sharing read and write, so a
// file Outlook holds can be copied): 0, or the system error code.
DWORD CopyFileBlocks(const std::string& source, const std::string& target);

// Whether the existing file can be opened for reading and writing with no sharing, trying up to
// 100 times 100 ms apart (about 10 seconds).
bool WaitForExclusiveAccess(const std::string& path);

// The installation directory ("Path" of HKEY_LOCAL_MACHINE\SOFTWARE\Vorlan Software\Scribbix).
bool ReadInstallationDirectory(std::string* dir);

}  // namespace sx::configure
