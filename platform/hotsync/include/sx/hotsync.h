// The HotSync stand-in's own controls: the emulated handhelds, HotSync's installation on the
// machine, a whole HotSync as HotSync Manager runs it, and fault injection for tests.
//
// Everything here works on the current machine root (sx/machine.h) and is thread-safe.
// Functions return false (or an error code) with a reason instead of throwing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "hotsync/synctypes.h"
#include "sx/hotsync_pdb.h"

namespace sx::hotsync {

// --- Registry and file names of HotSync on the machine -------------------------------------------
inline constexpr const char* kPilotDesktopKey = "Software\\U.S. Robotics\\Pilot Desktop";
inline constexpr const char* kCoreKey = "Software\\U.S. Robotics\\Pilot Desktop\\Core";
inline constexpr const char* kDefaultHotSyncDir = "C:\\Program Files\\Palm";
inline constexpr const char* kUsersFile = "users.dat";
inline constexpr const char* kLogFileName = "HotSync Log.txt";
inline constexpr const char* kWindowClass = "KittyHawk";
inline constexpr unsigned kRestartMessage = 0xBEC5;  // wParam 1: close so that you can be restarted

// Handheld time (seconds since 1904, local) for a Unix time in milliseconds, and back.
DWORD palm_time_from_unix_ms(std::int64_t unix_ms);
std::int64_t unix_seconds_from_palm_time(DWORD palm_time);
// The desktop clock as handheld time.
DWORD desktop_palm_now();

// --- Emulated handhelds
// -----------------------------------------------------------------------------

// What the sync manager reports about a handheld: "<handheld folder>/device.txt", one "key=value"
// per line (user_name, user_id, last_sync_pc, last_sync_time, successful_sync_time, clock_offset).
struct DeviceInfo {
  std::string user_name;
  DWORD user_id = 0;
  DWORD last_sync_pc = 0;    // 0: never synchronised
  DWORD last_sync_time = 0;  // handheld time
  DWORD successful_sync_time = 0;
  std::int64_t clock_offset = 0;  // seconds the handheld clock is ahead of the desktop's
};

// "<root>/handhelds/<folder>".
std::filesystem::path handheld_dir(const std::string& folder);
[[nodiscard]] bool read_device(const std::filesystem::path& handheld, DeviceInfo* out,
                               std::string* why);
[[nodiscard]] bool write_device(const std::filesystem::path& handheld, const DeviceInfo& info,
                                std::string* why);

// The database files of a handheld, one per database: "<handheld>/<name>.pdb" (characters other
// than letters, digits, ' ', '_', '-' and '.' written as %XX). Files named otherwise are found by
// the name inside them.
std::filesystem::path database_file(const std::filesystem::path& handheld, const std::string& name);
// Every database file of the handheld, by file name order (damaged ones included).
std::vector<std::filesystem::path> database_files(const std::filesystem::path& handheld);
// Reads one database file (untrusted). False with a reason when it is missing or damaged.
[[nodiscard]] bool load_database(const std::filesystem::path& file, PdbDatabase* out,
                                 std::string* why);
// Writes a database file atomically (temporary file, then rename).
[[nodiscard]] bool save_database(const std::filesystem::path& file, const PdbDatabase& db,
                                 std::string* why);

// --- HotSync on the machine ---------------------------------------------------------------------

struct InstallOptions {
  std::string hotsync_dir = kDefaultHotSyncDir;  // Windows path
  std::filesystem::path program;   // host file that "HotSync.exe" starts (empty: no program file)
  std::filesystem::path instaide;  // host file copied as "instaide.dll" (empty: none)
};
// Writes HotSync's "Core" key ("Path", "HotSyncPath", "PCID"), makes its directory and an empty
// users.dat (kept when there is one), "HotSync.exe" (a starter of `program`, with a version block)
// and "instaide.dll". A damaged users.dat is moved aside as "users.dat.damaged-<N>" and replaced by
// an empty list; *note (may be null) then says so, and is empty otherwise.
[[nodiscard]] bool install_hotsync(const InstallOptions& options, std::string* why,
                                   std::string* note = nullptr);

// HotSync's directory as a Windows path ("Core" "HotSyncPath" up to its last '\', else "Path");
// empty when HotSync is not installed.
std::string hotsync_dir();
// The HotSync log of the user whose directory is `folder`, on the host: "<HotSync's
// directory>\<folder>\HotSync Log.txt".
std::filesystem::path log_file(const std::string& folder);

// Adds a HotSync user to users.dat, makes the user's directory and an empty handheld for the user
// (folder = the user's directory name). `directory` empty: made from the name's letters and digits
// (with a number added when another user's directory differs only in letter case). A given
// directory must be one plain folder name that no other user has, letter case aside (drive C: does
// not tell case apart). users.dat is read, changed and replaced under an exclusive lock on
// "users.dat.lock", so users added at once by several processes all stay. A damaged users.dat is
// refused as a whole (see read_users) and left as it is.
[[nodiscard]] bool add_user(const std::string& name, DWORD user_id, std::string directory,
                            std::string* why);

struct UserEntry {
  std::string name;
  DWORD user_id = 0;
  std::string directory;
};
// The users of users.dat in order. False with the reason when HotSync is not installed or users.dat
// cannot be read or is damaged: a file that breaks any rule of its format (docs/hotsync.md; one cut
// short inside its last line included) is refused as a whole.
[[nodiscard]] bool read_users(std::vector<UserEntry>* out, std::string* why);

// --- One HotSync, as HotSync Manager runs it
// --------------------------------------------------------

struct ConduitEntry {
  std::string key_name;  // "ApplicationVorScrib"
  DWORD creator = 0;
  std::string conduit;    // "Conduit" value
  std::string directory;  // "Directory" value
};
// The conduits registered under "Pilot Desktop" ("Application*" keys with "Creator" and "Conduit").
std::vector<ConduitEntry> registered_conduits();

// What a person chose in the action dialog for one conduit and user: kept in the user's directory
// ("SyncActions.txt": "<key name> <default|once> <sync type>").
struct ConduitAction {
  int sync_type = -1;  // -1: none chosen
  bool permanent = false;
};
ConduitAction read_action(const std::string& user_dir, const std::string& key_name);
bool write_action(const std::string& user_dir, const std::string& key_name,
                  const ConduitAction& action);

struct ConduitResult {
  std::string key_name;
  int sync_type = 0;
  long result = 0;
  bool ran = false;     // loaded and OpenConduit called
  std::string skipped;  // why it was not run
};
struct HotSyncReport {
  long result = 0;  // 0, or the first failure
  std::vector<ConduitResult> conduits;
  std::vector<std::string> log;  // the log lines of this HotSync
  // Why the HotSync did not start at all (no such user, HotSync not installed or its user list
  // unreadable, the handheld busy or unreadable); empty when it started.
  std::string not_started;
};
// Runs a HotSync of `user` (name in users.dat): connects to the user's handheld, runs each
// registered conduit whose creator has a database there, and ends the HotSync (last-sync time and
// PC ID). `progress` (may be null) gets HotSync's status texts and the conduits' progress. The
// result is 0 only when every conduit succeeded, every file of the HotSync was written and no
// database on the handheld was damaged without a word: a damaged database file that no conduit
// reported is logged and fails the HotSync (SYNCERR_DAMAGED_DATABASE), a file that could not be
// written fails it (SYNCERR_IO). The log's last line is "HotSync operation completed" or "HotSync
// operation failed".
[[nodiscard]] long run_hotsync(const std::string& user, HotSyncReport* report,
                               void (*progress)(const char*) = nullptr);

// What a person reads of a HotSync: one line per conduit ("ApplicationVorScrib: slow sync, failed
// (0x4015: a damaged database file)"), then "HotSync log:" and the log lines, indented.
std::vector<std::string> report_lines(const HotSyncReport& report);
// "fast sync", "handheld overwrites desktop", ... for a sync type.
const char* sync_type_name(int sync_type);
// A result code in words: "0x4003: not found"; codes the sync manager does not give:
// "0x400B: see the HotSync log".
std::string result_text(long code);

// The registered conduits with what they say about themselves (GetConduitInfo kind eConduitName,
// else GetConduitName; GetConduitVersion).
struct ConduitListing {
  ConduitEntry entry;
  std::string name;
  DWORD version = 0;
  long name_result = 0;
};
std::vector<ConduitListing> list_conduits();

// The user changes the action of the conduit of `key_name`: its CfgConduit (else ConfigureConduit)
// shows the action dialog with the current sync type; a confirmed choice is kept for the user (for
// every HotSync when made the default, else for the next one). Returns 0 when confirmed, the
// conduit's result (-1 = cancelled) otherwise, SYNCERR_NOT_FOUND for an unknown user or conduit.
long change_action(const std::string& user, const std::string& key_name, ConduitAction* chosen);

// The actions of the action dialog by the names a script gives them: "synchronize" (eFast; a
// HotSync with another PC makes it slow), "desktop-overwrites-handheld" (ePCtoHH),
// "handheld-overwrites-desktop" (eHHtoPC), "do-nothing" (eDoNothing).
const std::vector<std::string>& action_names();
// The sync type of an action name; -1 for a name that is none of them.
int sync_type_of_action(const std::string& name);
// The action name of a sync type ("synchronize" for eFast and eSlow); "" for other types.
std::string action_name(int sync_type);
// Keeps `action` for the user and the conduit of `key_name` (any letter case) where the action
// dialog keeps a confirmed choice, without showing it. 0, SYNCERR_NOT_FOUND for an unknown user or
// conduit, SYNCERR_IO when it cannot be written.
long set_action(const std::string& user, const std::string& key_name, const ConduitAction& action);

// --- The HotSync in progress (what HotSync Manager does around the conduits)
// -------------------------

// The file in a handheld's folder whose lock a HotSync of that handheld holds.
inline constexpr const char* kLockFileName = "hotsync.lock";

// Connects the sync manager to a handheld for one HotSync; the log goes to `log_file` (host path).
// False when a HotSync is already in progress in this process or, on the whole machine, with this
// handheld (the exclusive lock on "<handheld>/hotsync.lock" is held until end_session), or when the
// handheld cannot be read.
[[nodiscard]] bool begin_session(const std::filesystem::path& handheld,
                                 const std::filesystem::path& log_file, DWORD pc_id,
                                 std::string* why);
// Commits and closes what is still open; when `completed` and every database was written, records
// the last-sync PC ID and time on the handheld. False with the reason when a file of this HotSync
// (a database, the device file, the HotSync log) could not be written: the HotSync lost writes and
// has failed. Once per session; later calls only report again.
[[nodiscard]] bool finish_session(bool completed, std::string* why);
// Finishes the session (as finish_session, when that was not called) and ends it, releasing the
// handheld. Returns the log lines of the session.
std::vector<std::string> end_session(bool completed);
bool session_active();

// --- Fault injection (tests)
// ----------------------------------------------------------------------

// The `nth` call (1 = the next) from now of the sync manager function named `operation`
// ("SyncWriteRec", "SyncOpenDB", ...) returns `code` without doing anything. Several may be queued.
void inject_fault(const std::string& operation, long code, int nth = 1);
void clear_faults();
// Number of SyncYieldCycles calls since the process started.
std::uint64_t yield_count();

}  // namespace sx::hotsync
