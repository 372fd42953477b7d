// The installation wizard: which Palm user, which Outlook profile, and whether the notes folder is
// updated or replaced; on Finish the pair is stored and the folder built through the folder
// procedures. The pages for the Palm user and the profile appear only when there is a choice to
// make. User-interface thread only.
#pragma once

#include <string>

#include "component_checker.h"
#include "windows.h"

namespace sx::configure {

enum FolderAction { kUpdateFolder = 0, kReplaceFolder = 1 };
// How the folder work after Finish ended: done (or nothing to do without a profile), failed (the
// user has seen why), or an update cancelled (the old folder stays as it was).
enum FolderOutcome { kFolderDone, kFolderFailed, kFolderCancelled };

// The choices of one run of the wizard.
struct CWizardSettings {
  explicit CWizardSettings(CComponentChecker& c) : checker(c) {}
  std::string palmUser;
  std::string profile;
  FolderAction folderAction = kUpdateFolder;
  FolderOutcome outcome = kFolderDone;  // set when the settings are applied
  CComponentChecker& checker;  // source of the users, profiles and counts of the last refresh
};

// Runs the wizard modally over `owner`. True when the user pressed Finish and the settings have
// been applied; false when the wizard was cancelled (nothing changed).
bool RunWizard(CWizardSettings& settings, HWND owner = nullptr);

// Stores the pair and builds the notes folder: an update, or a fresh install when Replace was
// chosen or there was nothing to update (no update store, no notes folder yet). Sets and returns
// settings.outcome.
FolderOutcome ApplySettings(CWizardSettings& settings);

}  // namespace sx::configure
