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
// UpdateFolder's result when Cancel stopped the update (E_ABORT): the old folder stays as it was.
inline constexpr long kUpdateCancelled = static_cast<long>(static_cast<LONG>(0x80004004u));

// Rebuilds the profile's notes folder from the update store "SXUpdate.pst" of the installation
// directory, carrying every note over: 0 or the component's own result when every note arrived;
// NO_UPDATE_FILE, kNoNotesFolder (then nothing is shown: the caller installs afresh),
// kUpdateCancelled, -1 (a note could not be carried) or another negative code when the old folder
// was kept as it was. A notes add-in connected in the Outlook it works in is switched off for the
// upgrade and on again afterwards, so that it never gives a carried note a new key.
long UpdateFolder(CComponentChecker& checker, const std::string& profile);

// What InstallFolder did.
struct InstallReport {
  std::string target;    // the user's notes file (a Windows path), empty without installation path
  std::string setAside;  // where the previous notes file went ("<target>.<n>"), empty when none
  std::string stateSetAside;  // where the user's desktop state file went, empty when none
  bool installed = false;     // the fresh notes folder is in the profile
  bool addInsOn = false;      // and both add-ins are switched on
  // Why the installation did not complete, a sentence for a person; empty when it did.
  std::string problem;
  // After a failure: whether what the installation had changed is back as it was.
  bool restored = true;
};

// Puts a fresh copy of the update store in place as the Palm user's notes file "<user>
// Vorlan.pst", adds it to the profile and switches the add-ins on. The previous notes file is set
// aside as "<file>.1" ... "<file>.100" and never deleted; the user's desktop state file is set
// aside with it, so that the next HotSync brings the handheld's notes into the new folder instead
// of deleting them. Everything the installation needs (the installation directory, the update
// store, a logon to the profile, the component, a notes file no other program holds open) is
// checked before anything is touched; a step that fails later puts back what the steps before it
// changed. 1 when the installation completed, 0 otherwise; *report (may be null) tells what
// happened.
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
