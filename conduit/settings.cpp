#include "settings.h"

#include "hotsync/hslog.h"
#include "windows.h"

namespace sx::conduit {

ConduitSettings ConduitSettings::read(HKEY key, std::vector<std::string>* wrong_type) {
  ConduitSettings s;
  const struct {
    const char* name;
    DWORD* value;
  } order[] = {{"DiagnosticMode", &s.DiagnosticMode},
               {"ShowProgress", &s.ShowProgress},
               {"LogConflicts", &s.LogConflicts},
               {"LogChanges", &s.LogChanges},
               {"ConflictResolution", &s.ConflictResolution},
               {"BackupFileBeforeSync", &s.BackupFileBeforeSync},
               {"ConfirmMassDeletion", &s.ConfirmMassDeletion}};
  if (key == nullptr) return s;
  for (const auto& entry : order) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, entry.name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      continue;  // missing: default
    }
    DWORD value = 0;
    size = sizeof value;
    if (type != REG_DWORD ||
        RegQueryValueExA(key, entry.name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        size != sizeof value) {
      if (wrong_type != nullptr) wrong_type->push_back(entry.name);
      continue;
    }
    *entry.value = value;
  }
  return s;
}

ConduitSettings& settings() {
  static ConduitSettings current;
  return current;
}

int action_index_for_sync_type(int sync_type) {
  switch (sync_type) {
    case 0:
    case 1:
      return 0;
    case 3:
      return 1;
    case 2:
      return 2;
    default:
      return 3;  // above 3 (and anything else): do nothing
  }
}

int sync_type_for_action_index(int index) {
  static const int kTypes[] = {0, 3, 2, 6};
  return index >= 0 && index < 4 ? kTypes[index] : 6;
}

void log_line(const std::string& text, int activity) { LogAddEntry(text.c_str(), activity, FALSE); }

}  // namespace sx::conduit
