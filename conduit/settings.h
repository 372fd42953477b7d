// ConduitSettings: the seven behaviour settings, read once per sync run from the conduit's settings
// key (the key HotSync names in SyncProperties) into process-wide values; and the mapping between
// sync types and the choices of HotSync's action dialog.
//
// The process-wide values are touched only from the sync run's thread.
#pragma once

#include <string>
#include <vector>

#include "win32/types.h"

namespace sx::conduit {

struct ConduitSettings {
  DWORD DiagnosticMode = 0;
  DWORD ShowProgress = 0;
  DWORD LogConflicts = 1;
  DWORD LogChanges = 0;
  DWORD ConflictResolution = 2;
  DWORD BackupFileBeforeSync = 0;
  // The mass change guard (mass_change_guard.h): 0 turns it off.
  DWORD ConfirmMassDeletion = 1;

  // Reads the values in the order DiagnosticMode, ShowProgress, LogConflicts, LogChanges,
  // ConflictResolution, BackupFileBeforeSync, ConfirmMassDeletion; a missing value takes its
  // default, and so does one that is not a 32-bit number (its name is added to *wrong_type). A null
  // key gives the defaults.
  static ConduitSettings read(HKEY key, std::vector<std::string>* wrong_type);
};

// The settings of the sync run in progress (defaults between runs).
ConduitSettings& settings();

// Action dialog index (0 synchronise, 1 desktop overwrites handheld, 2 handheld overwrites desktop,
// 3 do nothing) shown for a sync type, and the sync type written for an index.
int action_index_for_sync_type(int sync_type);
int sync_type_for_action_index(int index);

// Adds one line to the HotSync log (activity -1 text, 19 start, 20 finished, 21 failed, 22 error).
void log_line(const std::string& text, int activity);

}  // namespace sx::conduit
