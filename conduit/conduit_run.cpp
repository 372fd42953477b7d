#include "conduit_run.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "analysis.h"
#include "desktop_note_database.h"
#include "diagnostics.h"
#include "hotsync/hslog.h"
#include "mass_change_guard.h"
#include "progress.h"
#include "resources.h"
#include "scribbix/desktop_files.h"
#include "settings.h"
#include "windows.h"

namespace sx::conduit {
namespace {

DesktopDatabaseFactory g_desktop_factory = &make_desktop_database;

// Why the handheld did not take what was written to it, for the HotSync log.
std::string handheld_failure_reason(long code) {
  switch (code) {
    case SYNCERR_REMOTE_NO_SPACE:
      return "it has no room for more notes";
    case SYNCERR_IO:
      return "its database could not be written";
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "error 0x%lX", static_cast<unsigned long>(code));
      return text;
    }
  }
}

std::string bounded(const char* text, std::size_t size) {
  return std::string(text, strnlen(text, size));
}

// Closes the registry key of the installation when the driver returns.
struct KeyCloser {
  HKEY key = nullptr;
  ~KeyCloser() {
    if (key != nullptr) RegCloseKey(key);
  }
};

// Closes a side of the sync run on whatever path the driver leaves by (an early return, an
// exception), with the side's own close while the side is whole. The normal path closes through
// close() to see the result.
class SideCloser {
 public:
  SideCloser() = default;
  SideCloser(const SideCloser&) = delete;
  SideCloser& operator=(const SideCloser&) = delete;
  ~SideCloser() {
    try {
      (void)close();
    } catch (...) {
    }
  }
  void arm(NoteDatabase* database) { database_ = database; }
  long close() {
    NoteDatabase* database = std::exchange(database_, nullptr);
    return database != nullptr ? database->close() : 0;
  }

 private:
  NoteDatabase* database_ = nullptr;
};

long first_failure(long so_far, long result) { return so_far != 0 ? so_far : result; }

}  // namespace

void set_desktop_database_factory(DesktopDatabaseFactory factory) {
  g_desktop_factory = factory != nullptr ? factory : &make_desktop_database;
}

std::string desktop_file_name(const std::string& user_name) {
  return sx::common::DesktopFileName(user_name);
}

ConduitRun::ConduitRun(PROGRESSFN callback, SyncProperties* properties, HINSTANCE instance)
    : callback_(callback), properties_(properties), instance_(instance) {
  const std::string path = bounded(properties_->m_Registry, sizeof properties_->m_Registry);
  if (RegOpenKeyExA(properties_->m_hKey, path.c_str(), 0, KEY_READ, &settings_key_) !=
      ERROR_SUCCESS) {
    settings_key_ = nullptr;
  }
}

ConduitRun::~ConduitRun() {
  if (registration_ != 0) SyncUnRegisterConduit(registration_);
  if (settings_key_ != nullptr) RegCloseKey(settings_key_);
}

std::string ConduitRun::user_name() const {
  return bounded(properties_->m_UserName, sizeof properties_->m_UserName);
}

long ConduitRun::run() {
  const std::string conduit_name = load_string(IDS_CONDUIT_NAME).value_or("");
  if (properties_->m_SyncType == eDoNothing) return 0;
  if (long r = SyncRegisterConduit(&registration_)) {
    registration_ = 0;
    return r;
  }
  std::vector<std::string> wrong_type;
  settings() = ConduitSettings::read(settings_key_, &wrong_type);
  log_line("", slSyncStarted);
  for (const auto& name : wrong_type)
    log_line(format_string(IDS_BAD_SETTING, name.c_str()), slText);
  long result = 0;
  std::optional<ProgressReporter> reporter;
  // Whatever happens in the run, it ends with its finished or failed line.
  try {
    reporter.emplace(instance_, settings().ShowProgress != 0);
    result = drive();
  } catch (const std::exception& e) {
    log_line(format_string(IDS_UNEXPECTED_ERROR, e.what()), slWarning);
    result = SYNCERR_UNKNOWN;
  } catch (...) {
    log_line(format_string(IDS_UNEXPECTED_ERROR, "unknown"), slWarning);
    result = SYNCERR_UNKNOWN;
  }
  log_line(conduit_name, result != 0 ? slSyncAborted : slSyncFinished);
  reporter.reset();
  return result;
}

long ConduitRun::drive() {
  // 1. The installation's "Path".
  KeyCloser install;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorlan Software\\Scribbix", 0, 0x20019,
                    &install.key) != ERROR_SUCCESS) {
    install.key = nullptr;
    return kNoInstallation;
  }
  char path[1024] = {};
  DWORD size = sizeof path - 1, type = 0;
  if (RegQueryValueExA(install.key, "Path", nullptr, &type, reinterpret_cast<BYTE*>(path), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return kNoInstallation;
  }
  path[sizeof path - 1] = '\0';
  // 2. The desktop file.
  const std::string desktop_file = std::string(path) + "\\" + desktop_file_name(user_name());
  // 3-5.
  progress().beginDatabase(kScribbixDatabase);
  log_line(format_string(IDS_SYNC_DATABASE, kScribbixDatabase), slText);
  HandheldNoteDatabase handheld(properties_);
  std::unique_ptr<NoteDatabase> desktop = g_desktop_factory(properties_);
  // Declared after both sides: whatever path the driver leaves by, both are closed first.
  SideCloser handheld_closer;
  SideCloser desktop_closer;
  // 6.
  diagnostic_checkpoint("Before loading", nullptr, nullptr);
  // 7-9. The handheld database: there, readable, ours, our version.
  handheld_closer.arm(&handheld);
  if (long r = handheld.open(kScribbixDatabase, false)) {
    log_line(r == SYNCERR_DAMAGED_DATABASE ? format_string(IDS_DAMAGED_DATABASE, kScribbixDatabase)
                                           : load_string(IDS_NO_DATABASE).value_or(""),
             slWarning);
    return r;
  }
  if (long r = handheld.loadInfo()) {
    // The handheld's database list could not be read: its code, not a foreign database.
    log_line(load_string(IDS_HANDHELD_READ_FAILED).value_or(""), slWarning);
    return r;
  }
  const DatabaseInfoBlock& info = handheld.infoBlock();
  if (info.m_Creator != kScribbixCreator) {
    log_line(format_string(IDS_WRONG_CREATOR, kScribbixDatabase), slText);
    return kForeignDatabase;
  }
  if (info.m_Version != kScribbixVersion) {
    log_line(format_string(IDS_WRONG_VERSION, kScribbixDatabase, static_cast<int>(info.m_Version),
                           static_cast<int>(kScribbixVersion)),
             slText);
    return kForeignDatabase;
  }
  // 10. The desktop side (closed on every path once its open was tried).
  desktop_closer.arm(desktop.get());
  const long opened = desktop != nullptr ? desktop->open(desktop_file, true) : kDesktopFailure;
  if (opened != 0) {
    log_line(load_string(IDS_DESKTOP_OPEN_FAILED).value_or(""), slWarning);
    return opened;
  }
  // 11. Nothing changed since the last sync (fast sync only).
  const bool handheld_changed = handheld.hasChanged();
  const bool desktop_changed = desktop->hasChanged();
  if (!handheld_changed && !desktop_changed && properties_->m_SyncType == eFast) {
    log_line(load_string(IDS_NOT_CHANGED).value_or(""), slText);
    return 0;
  }
  // 12-14. Both sides into memory.
  if (long r = handheld.readAll()) {
    log_line(load_string(IDS_HANDHELD_READ_FAILED).value_or(""), slWarning);
    return r;
  }
  desktop->setCategoriesFrom(handheld.categoryBlock());
  if (long r = desktop->readAll()) {
    log_line(load_string(IDS_DESKTOP_READ_FAILED).value_or(""), slWarning);
    return r;
  }
  diagnostic_checkpoint("After loading", &handheld, desktop.get());
  const bool guarded = settings().ConfirmMassDeletion != 0;
  if (guarded) {
    mark_live_notes(handheld);
    mark_live_notes(*desktop);
  }
  // 15. The analysis chosen by the sync type (a merge that could not finish writes nothing), then
  // the writes.
  const int sync_type = properties_->m_SyncType;
  const bool mirror = sync_type == eHHtoPC || sync_type == ePCtoHH;
  long result;
  if (sync_type == eHHtoPC) {
    result = desktop->mirrorFrom(handheld);
  } else if (sync_type == ePCtoHH) {
    result = handheld.mirrorFrom(*desktop);
  } else {
    result = handheld.synchronizeWith(*desktop);
  }
  // Notes that could not be made on the other side were logged one by one and stay as they were:
  // everything else is written, and the run reports the failure at its end.
  const bool notes_left_out = result == kNoteNotCreated;
  if (result != 0 && !notes_left_out) {
    log_line(load_string(IDS_MERGE_FAILED).value_or(""), slWarning);
    return result;
  }
  diagnostic_checkpoint("After Synchronization Analysis", desktop.get(), &handheld);
  // A side that would lose more than a third of its notes is asked about first (an addition to the
  // design: an emptied folder or a store of another profile must not empty the other side).
  bool held_back = false;
  if (guarded) {
    if (sync_type != eHHtoPC) held_back |= guard_side(handheld, sync_type == ePCtoHH);
    if (sync_type != ePCtoHH) held_back |= guard_side(*desktop, sync_type == eHHtoPC);
  }
  result = desktop->transferCategoriesTo(handheld);
  // Both sides are written even when one fails; the first failure is the result, so that a failed
  // write is never reported as success.
  const long first = mirror ? handheld.writeAll() : desktop->writeAll();
  if (!mirror) keep_changes_the_desktop_refused(handheld, *desktop);
  const long second = mirror ? desktop->writeAll() : handheld.writeAll();
  result = first_failure(result, first_failure(first, second));
  // The posts carry the handheld's renamed categories now; a desktop write that failed leaves the
  // marks for the next HotSync.
  if ((mirror ? second : first) == 0) handheld.forgetCategoryRenames();
  carry_handheld_records(handheld, *desktop);
  // 16. The handheld's close commits what was written to it. Only when everything reached both
  // sides does the desktop keep its state; otherwise the previous state stays, and the next sync
  // sees every change of this run again (as a change, never as a conflict to undo).
  const long committed = handheld_closer.close();
  const long handheld_failure = first_failure(mirror ? first : second, committed);
  if (handheld_failure != 0) {
    log_line(
        format_string(IDS_HANDHELD_WRITE_FAILED, handheld_failure_reason(handheld_failure).c_str()),
        slWarning);
  }
  result = first_failure(result, committed);
  // Held-back changes stay changes: the previous state makes the next sync meet them again.
  if (result == 0 && !held_back) result = desktop->saveState();
  if (result == 0 && notes_left_out) result = kNoteNotCreated;
  progress().endDatabase(kScribbixDatabase);
  return first_failure(result, desktop_closer.close());
}

}  // namespace sx::conduit
