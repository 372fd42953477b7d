// SXOut's resources: the string table (texts by id, loaded like LoadString from the module), the
// dialog templates, and the module's own instance handle and help file path.
//
// Thread-safe: the table is constant; the module handle and help path are set once.
#pragma once

#include <cstdarg>
#include <optional>
#include <string>

#include "win32/types.h"

namespace sx::conduit {

// String ids the conduit uses.
enum StringId : UINT {
  IDS_CONDUIT_NAME = 1,
  IDS_FIELD_MOD = 5,
  IDS_FIELD_ID = 6,
  IDS_FIELD_CREATED = 7,
  IDS_FIELD_MODIFIED = 8,
  IDS_FIELD_DATE = 9,
  IDS_FIELD_RESV1 = 10,
  IDS_FIELD_RESV2 = 11,
  IDS_FIELD_TEXT1 = 12,
  IDS_FIELD_TEXT2 = 13,
  IDS_FIELD_TEXT = 14,
  IDS_HANDHELD_DB = 21,
  IDS_DESKTOP_DB = 22,
  IDS_SYNC_DATABASE = 23,
  IDS_CONFLICT = 24,
  IDS_SET_HANDHELD = 25,
  IDS_SET_DESKTOP = 26,
  IDS_DELETED_HANDHELD = 27,
  IDS_DELETED_DESKTOP = 28,
  IDS_ADDED_HANDHELD = 29,
  IDS_ADDED_DESKTOP = 30,
  IDS_WRONG_CREATOR = 33,
  IDS_NO_DATABASE = 37,
  IDS_HANDHELD_READ_FAILED = 38,
  IDS_DESKTOP_OPEN_FAILED = 39,
  IDS_DESKTOP_READ_FAILED = 40,
  IDS_WRONG_VERSION = 44,
  IDS_STEP_FIRST = 53,  // 53..65: progress step texts
  IDS_NO_RESPONSE = 66,
  IDS_NOT_CHANGED = 74,
  IDS_FOLDER_NOT_FOUND = 86,
  IDS_LOGON_FAILED = 87,
  IDS_LOGON_CANCELLED = 88,
  IDS_DAMAGED_NOTE = 90,
  IDS_NOTE_TOO_LONG = 91,
  IDS_SHORT_CATEGORIES = 92,
  IDS_BAD_SETTING = 93,
  IDS_STATE_DAMAGED = 94,
  IDS_STATE_NOT_WRITTEN = 95,
  IDS_STATE_DUPLICATE = 96,
  IDS_DUPLICATE_HANDHELD = 97,
  IDS_DUPLICATE_DESKTOP = 98,
  IDS_DAMAGED_DATABASE = 99,
  IDS_UNEXPECTED_ERROR = 100,
  IDS_MERGE_FAILED = 101,
  IDS_HANDHELD_WRITE_FAILED = 102,
  IDS_NOT_ADDED_DESKTOP = 103,
  IDS_NOT_ADDED_HANDHELD = 104,
  IDS_TEXT_CUT_FOR_HANDHELD = 105,
  IDS_TEXT_LOSSY_FOR_HANDHELD = 106,
  IDS_EDIT_KEPT_AS_NEW_NOTE = 107,
  IDS_NO_ROOM_FOR_CATEGORY = 108,
  IDS_OUTLOOK_FILE_DAMAGED = 109,
  IDS_POSTS_LOST_WITH_DAMAGE = 110,
  IDS_MASS_CHANGE_QUESTION_HANDHELD = 111,
  IDS_MASS_CHANGE_QUESTION_OUTLOOK = 112,
  IDS_MASS_CHANGE_CONFIRMED = 113,
  IDS_MASS_CHANGE_DECLINED = 114,
  IDS_MASS_CHANGE_UNANSWERED = 115,
};

// Dialog resource ids and their controls.
inline constexpr int IDD_CONFLICT = 129;
inline constexpr int IDD_PROGRESS = 130;
inline constexpr int IDD_UNKNOWN_USER = 132;
inline constexpr int IDD_MASS_CHANGE = 133;
// The mass change question's title (scripts answer dialogs by their titles).
inline constexpr char kMassChangeTitle[] = "Scribbix - Many Notes Would Change";
inline constexpr int IDC_USE_DESKTOP = 1000;
inline constexpr int IDC_USE_HANDHELD = 1001;
inline constexpr int IDC_SKIP = 1002;
inline constexpr int IDC_USE_FOR_ALL = 1003;
inline constexpr int IDC_CONFLICT_TEXT = 1004;
inline constexpr int IDC_PROGRESS_DATABASE = 1005;
inline constexpr int IDC_PROGRESS_STEP = 1006;
inline constexpr int IDC_PROGRESS_NAME = 1007;
inline constexpr int IDC_PROGRESS_BAR = 1008;
inline constexpr int IDC_PROGRESS_HANDHELD_DB = 1009;
inline constexpr int IDC_MASS_CHANGE_TEXT = 1010;
inline constexpr int IDC_GO_AHEAD = 1011;
inline constexpr int IDC_KEEP = 1012;

// The module's instance handle (the SXOut library as the module loader knows it); registers the
// dialog templates on first use. Null only when the loader cannot find the library itself.
HINSTANCE module_instance();

// Module initialisation: HotSync's common library, then the help file path from the installation
// "Path". Runs once per process, on the first call of any export.
void initialise_module();
// "<Path>\Scribbix.pdf", or empty when "Path" could not be read.
std::string help_file_path();

// The text of string `id`; nothing for an unknown id.
std::optional<std::string> load_string(UINT id);
// String `id` with printf placeholders filled (empty for an unknown id). Numbers for "%ld" and
// "0x%08lX" are passed as long.
std::string format_string(UINT id, ...);
std::string vformat(const char* format, va_list args);

// Like LoadStringA on the conduit's module: copies string `id` into `buffer` (at most size-1
// characters and a NUL). Returns the characters copied; 0 (buffer untouched) for an unknown id, a
// module other than the conduit's, or a bad argument.
int load_string(HINSTANCE module, UINT id, char* buffer, int size);

}  // namespace sx::conduit
