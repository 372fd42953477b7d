// The string table and dialog templates of SXOut, and the module's initialisation.
#include "resources.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "hotsync/actiondlg.h"
#include "sx/window.h"
#include "windows.h"

namespace sx::conduit {
namespace {

const std::map<UINT, const char*>& string_table() {
  static const std::map<UINT, const char*> table = {
      {1, "ScribbixOutlook"},
      {5, "Mod;Modified Flags"},
      {6, "ID;Unique Id"},
      {7, "Created;Created on"},
      {8, "Modified;Last Modified Date"},
      {9, "Date;Date"},
      {10, "Resv1;Resv1"},
      {11, "Resv2;Resv2"},
      {12, ""},
      {13, ""},
      {14, "Text;Note Text"},
      {21, "Scribbix database on the Pilot"},
      {22, "Scribbix Database on the PC"},
      {23, "Synchronizing database \"%s\"."},
      {24,
       "The \"%s\" field of the note \"%s\" has been modified on both platforms.  The value on "
       "the desktop is %s.  The value on the handheld is %s."},
      {25, "The \"%s\" field of the note \"%s\" has been set to %s on the handheld."},
      {26, "The \"%s\" field of the note \"%s\" has been set to %s on the desktop."},
      {27, "The note \"%s\" has been deleted from the handheld"},
      {28, "The note \"%s\" has been deleted from the desktop"},
      {29, "The note \"%s\" has been added to the handheld"},
      {30, "The note \"%s\" has been added to the desktop"},
      {33, "The \"%s\" database on the handheld does not belong to Scribbix."},
      {37,
       "The Scribbix database does not exist on your Palm device.  Run Scribbix on your Palm "
       "device before performing your first synchronization."},
      {38, "Failed to read database from handheld."},
      {39, "Failed to open database on the desktop."},
      {40, "Failed to read database on the desktop."},
      {44,
       "The \"%s\" database on the handheld is version %d.  The conduit can only handle "
       "version %d.  Check the Vorlan web site for the latest version."},
      {53, "Opening database on the desktop."},
      {54, "Opening database on handheld."},
      {55, "Reading notes from database."},
      {56, "Reading notes from handheld database."},
      {57, "Reading project information"},
      {58, "Writing changes to the Scribbix database."},
      {59, "Writing updates to handheld database."},
      {60, "Writing project information."},
      {61, "Writing temporary file."},
      {62, "Comparing notes from handheld and project file."},
      {63, "Adding notes to database."},
      {64, "Deleting note from database."},
      {65, "Making backup copy of notes."},
      {66,
       "Since there was no response to the Resolve Field Level Conflicts dialog, the conflict "
       "in the note %s was automatically skipped."},
      {74, "Desktop and handheld databases have not changed since the last synchronization."},
      {86,
       "The Scribbix folder was not found in the configured Outlook profile '%s'. Run the "
       "Configuration program to install the folder or change to another profile."},
      {87, "Logon to Outlook profile '%s' failed."},
      {88, "Outlook logon candelled by user."},
      {90, "The note at index %u on the handheld is damaged (%s)."},
      {91, "The note \"%s\" is too long for the handheld (%lu bytes) and was not written to it."},
      {92, "The category block of \"%s\" on the handheld is only %lu bytes long."},
      {93, "The setting \"%s\" is not a 32-bit value; its default is used."},
      {94,
       "The desktop state file \"%s\" is damaged (%s).  Nothing was synchronized; remove or "
       "rename the file to synchronize again."},
      {95, "The desktop state file \"%s\" could not be written (%s); the previous one was kept."},
      {96,
       "The desktop state file \"%s\" holds the note ID %ld more than once (record %lu); the "
       "first one was kept."},
      {97,
       "The note \"%s\" on the handheld has the same ID (%ld) as another note; both are kept and "
       "this one is given a new ID."},
      {98,
       "The note \"%s\" on the desktop has the same ID (%ld) as another note; both are kept and "
       "this one is given a new ID."},
      {99,
       "The \"%s\" database on the handheld is damaged and cannot be read.  Nothing was "
       "synchronized."},
      {100, "The synchronization stopped because of an unexpected error (%s)."},
      {101, "The notes could not be merged; nothing was written to the handheld or the desktop."},
      {102,
       "The handheld did not take every change (%s); what it lacks is synchronized again at "
       "the next HotSync."},
      {103,
       "The note \"%s\" could not be added to the desktop; it is tried again at the next "
       "HotSync."},
      {104,
       "The note \"%s\" could not be added to the handheld; it is tried again at the next "
       "HotSync."},
      {105,
       "The note \"%s\" in Outlook is %lu characters long; the handheld holds its first %lu, "
       "and Outlook keeps the whole text."},
      {106,
       "The note \"%s\" in Outlook has characters the handheld cannot show; they read as "
       "\"?\" there, and Outlook keeps them."},
      {107,
       "The note \"%s\" was changed on the handheld, where it is not whole; the change is "
       "kept as a new note, and the note in Outlook stays as it was."},
      {108,
       "The category \"%s\" of a note in Outlook does not fit on the handheld, which has 15 "
       "categories already; the notes of that category keep the category they had."},
      {109,
       "The Outlook file \"%s\" is damaged, so the Scribbix folder cannot be read.  Nothing was "
       "synchronized.  Quit Outlook and repair the file with \"%s\" (Outlook's Inbox Repair "
       "Tool); installing the folder again would make every note look deleted."},
      {110,
       "Outlook's file was found damaged at an earlier HotSync: %lu notes whose posts are "
       "missing were lost with the damage, not deleted, and are written to Outlook again from "
       "the handheld."},
      {111,
       "This HotSync would %s.  Go ahead?  If you keep them, or give no answer within 60 "
       "seconds, the handheld keeps them as they are, and the next HotSync asks again."},
      {112,
       "This HotSync would %s.  Go ahead?  If you keep them, or give no answer within 60 "
       "seconds, Outlook keeps them as they are, and the next HotSync asks again."},
      {113, "This HotSync would %s; asked, the answer was to go ahead."},
      {114,
       "The HotSync would %s; asked, the answer was to keep them.  Nothing was deleted or "
       "overwritten there, and the next HotSync asks again."},
      {115,
       "The HotSync would %s; nobody answered the question within 60 seconds.  Nothing was "
       "deleted or overwritten there, and the next HotSync asks again."},
  };
  return table;
}

using sx::window::ControlKind;
using sx::window::ControlTemplate;
using sx::window::DialogTemplate;

void register_dialogs(HINSTANCE module) {
  DialogTemplate conflict;
  conflict.id = IDD_CONFLICT;
  conflict.title = "Scribbix - Resolve Field Level Conflicts";
  conflict.cx = 271;
  conflict.cy = 147;
  conflict.style = DS_MODALFRAME | WS_CAPTION;
  conflict.controls = {
      {IDC_STATIC, ControlKind::kStatic,
       "The following change was made on both the desktop and the handheld.  How should this "
       "conflict be resolved? ",
       7, 7, 257, 20, 0},
      {IDC_CONFLICT_TEXT, ControlKind::kEdit, "", 7, 30, 257, 60, ES_MULTILINE | ES_READONLY},
      {IDC_USE_DESKTOP, ControlKind::kButton, "Use &Desktop Value", 7, 96, 80, 14, 0},
      {IDC_USE_HANDHELD, ControlKind::kButton, "Use &Handheld Value", 95, 96, 80, 14, 0},
      {IDC_SKIP, ControlKind::kButton, "&Skip This Field", 183, 96, 80, 14, 0},
      {IDC_USE_FOR_ALL, ControlKind::kCheckBox, "&Use my response for ALL future conflicts.", 7,
       120, 257, 12, 0},
  };
  sx::window::register_dialog(module, conflict);

  DialogTemplate progress;
  progress.id = IDD_PROGRESS;
  progress.title = "Vorlan Scribbix Synchronization";
  progress.cx = 222;
  progress.cy = 131;
  progress.style = DS_CENTER | WS_CAPTION | WS_VISIBLE;  // modeless: shown as it is created
  progress.controls = {
      {IDC_STATIC, ControlKind::kStatic, "Sync Step:", 7, 7, 50, 10, 0},
      {IDC_PROGRESS_STEP, ControlKind::kEdit, "", 60, 7, 155, 12, ES_READONLY},
      {IDC_STATIC, ControlKind::kStatic, "Database:", 7, 24, 50, 10, 0},
      {IDC_PROGRESS_DATABASE, ControlKind::kEdit, "", 60, 24, 155, 12, ES_READONLY},
      {IDC_STATIC, ControlKind::kStatic, "Handheld DB:", 7, 41, 50, 10, 0},
      {IDC_PROGRESS_HANDHELD_DB, ControlKind::kEdit, "", 60, 41, 155, 12, ES_READONLY},
      {IDC_STATIC, ControlKind::kGroupBox, "Notes", 7, 58, 208, 40, 0},
      {IDC_STATIC, ControlKind::kStatic, "Name:", 14, 72, 40, 10, 0},
      {IDC_PROGRESS_NAME, ControlKind::kEdit, "", 60, 72, 148, 12, ES_READONLY},
      {IDC_PROGRESS_BAR, ControlKind::kProgressBar, "", 7, 106, 208, 14, 0},
  };
  sx::window::register_dialog(module, progress);

  DialogTemplate unknown;
  unknown.id = IDD_UNKNOWN_USER;
  unknown.title = "Scribbix Unknown Palm";
  unknown.cx = 186;
  unknown.cy = 106;
  unknown.style = DS_MODALFRAME | WS_CAPTION;
  const char* lines[] = {
      "The current Palm user is not configured. Continuing will",
      "use the current Outlook session or start a new session", "if one does not already exist.",
      "Use the Scribbix Configuration program to assign this ", "Palm user to an Outlook profile."};
  int y = 7;
  for (const char* line : lines) {
    unknown.controls.push_back({IDC_STATIC, ControlKind::kStatic, line, 7, y, 172, 10, 0});
    y += 12;
  }
  unknown.controls.push_back({IDOK, ControlKind::kDefaultButton, "Continue", 40, 84, 50, 14, 0});
  unknown.controls.push_back({IDCANCEL, ControlKind::kButton, "Cancel", 96, 84, 50, 14, 0});
  sx::window::register_dialog(module, unknown);

  DialogTemplate mass;
  mass.id = IDD_MASS_CHANGE;
  mass.title = kMassChangeTitle;
  mass.cx = 240;
  mass.cy = 92;
  mass.style = DS_MODALFRAME | WS_CAPTION;
  mass.controls = {
      {IDC_MASS_CHANGE_TEXT, ControlKind::kStatic, "", 7, 7, 226, 50, 0},
      {IDC_GO_AHEAD, ControlKind::kButton, "&Go Ahead", 60, 66, 56, 14, 0},
      {IDC_KEEP, ControlKind::kDefaultButton, "&Keep Them", 124, 66, 56, 14, 0},
  };
  sx::window::register_dialog(module, mass);
}

std::once_flag g_init_once;
std::string g_help_path;  // written once under g_init_once

}  // namespace

HINSTANCE module_instance() {
  static HINSTANCE instance = [] {
    Dl_info info{};
    HINSTANCE found = nullptr;
    if (dladdr(reinterpret_cast<void*>(&module_instance), &info) != 0 && info.dli_fname) {
      found = GetModuleHandleA(info.dli_fname);
    }
    register_dialogs(found);
    return found;
  }();
  return instance;
}

void initialise_module() {
  std::call_once(g_init_once, [] {
    InitPdcmn5DLL();
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorlan Software\\Scribbix", 0, 0x20019,
                      &key) != ERROR_SUCCESS) {
      return;
    }
    char path[1024] = {};
    DWORD size = sizeof path - 1, type = 0;
    if (RegQueryValueExA(key, "Path", nullptr, &type, reinterpret_cast<BYTE*>(path), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
      path[sizeof path - 1] = '\0';
      g_help_path = std::string(path) + "\\Scribbix.pdf";
    }
    RegCloseKey(key);
  });
}

std::string help_file_path() {
  initialise_module();
  return g_help_path;
}

std::optional<std::string> load_string(UINT id) {
  const auto& table = string_table();
  auto it = table.find(id);
  if (it == table.end()) return std::nullopt;
  return std::string(it->second);
}

int load_string(HINSTANCE module, UINT id, char* buffer, int size) {
  if (buffer == nullptr || size <= 0 || module != module_instance()) return 0;
  auto text = load_string(id);
  if (!text) return 0;
  const int n = std::min<int>(static_cast<int>(text->size()), size - 1);
  std::memcpy(buffer, text->data(), static_cast<std::size_t>(n));
  buffer[n] = '\0';
  return n;
}

std::string vformat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string format_string(UINT id, ...) {
  auto text = load_string(id);
  if (!text) return {};
  va_list args;
  va_start(args, id);
  std::string out = vformat(text->c_str(), args);
  va_end(args);
  return out;
}

}  // namespace sx::conduit
