#include "registration.h"

#include <string>

#include "com/hresult.h"
#include "hotsync/archive.h"
#include "hotsync/usermgr.h"
#include "note_database.h"
#include "windows.h"

namespace sx::conduit {
namespace {

constexpr const char* kPilotDesktop = "Software\\U.S. Robotics\\Pilot Desktop";
constexpr const char* kCore = "Software\\U.S. Robotics\\Pilot Desktop\\Core";
constexpr LONG kMissing = -11;

std::string read_string(HKEY root, const char* path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  char text[1024] = {};
  DWORD size = sizeof text - 1, type = 0;
  const LONG r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_SZ) return {};
  text[sizeof text - 1] = '\0';
  return text;
}

bool read_dword(HKEY key, const char* name, DWORD* value) {
  DWORD type = 0, size = sizeof(DWORD), v = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(DWORD)) {
    return false;
  }
  *value = v;
  return true;
}

void put_string(HKEY key, const char* name, const std::string& value) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
}
void put_dword(HKEY key, const char* name, DWORD value) {
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// Loads HotSync's users.dat; false when it cannot be read.
bool load_users(CUserMgr* users) {
  const std::string path = read_string(HKEY_CURRENT_USER, kCore, "Path");
  if (path.empty()) return false;
  CFile file;
  if (!file.Open((path + "\\users.dat").c_str(), CFile::modeRead)) return false;
  CArchive archive(&file, CArchive::load, 4096);
  const BOOL loaded = users->Serialize(archive);
  archive.Close();
  file.Close();
  return loaded != FALSE;
}

// The name of the first "Pilot Desktop" subkey whose "Creator" is 'VSXq'; empty when none.
std::string find_conduit_key() {
  HKEY desktop = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kPilotDesktop, 0, KEY_READ, &desktop) != ERROR_SUCCESS) {
    return {};
  }
  std::string found;
  for (DWORD i = 0;; ++i) {
    char name[260] = {};
    DWORD size = sizeof name;
    if (RegEnumKeyExA(desktop, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    HKEY sub = nullptr;
    if (RegOpenKeyExA(desktop, name, 0, KEY_READ, &sub) != ERROR_SUCCESS) continue;
    DWORD creator = 0;
    const bool ours = read_dword(sub, "Creator", &creator) && creator == kScribbixCreator;
    RegCloseKey(sub);
    if (ours) {
      found = std::string(kPilotDesktop) + "\\" + name;
      break;
    }
  }
  RegCloseKey(desktop);
  return found;
}

// A folder name that stays inside its parent: not empty, not "." or "..", no separator or drive.
bool plain_folder_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("\\/:") == std::string::npos;
}

// Starts HotSync Manager from "HotSyncPath" and waits (at most 10 s) until it is up. Best effort:
// registration has succeeded whether or not HotSync comes back.
void start_hotsync_again() {
  std::string program = read_string(HKEY_CURRENT_USER, kCore, "HotSyncPath");
  if (program.empty()) return;
  std::string command_line = "\"" + program + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                      nullptr, nullptr, &startup, &started)) {
    return;
  }
  WaitForInputIdle(started.hProcess, 10000);
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
}

}  // namespace

long register_conduit() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kApplicationKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return E_FAIL;
  }
  put_dword(key, "Creator", kScribbixCreator);
  put_string(key, "Conduit", "SXOut.dll");
  put_string(key, "Module", "Scribbix");
  put_string(key, "Directory", "VorlanScrib");
  put_dword(key, "Integrate", 0);
  DWORD show = static_cast<DWORD>(kMissing);
  if (!read_dword(key, "ShowProgress", &show)) show = static_cast<DWORD>(kMissing);
  if (show == static_cast<DWORD>(kMissing)) put_dword(key, "ShowProgress", 0xFFFFFFFFu);

  CUserMgr users;
  CUser* first = load_users(&users) ? users.FindFirst() : nullptr;
  if (first == nullptr) {
    RegCloseKey(key);
    return E_FAIL;
  }
  put_string(key, "UserName", first->GetName());
  RegCloseKey(key);

  // Ask a running HotSync Manager to close so that it sees the conduit when it starts again.
  HWND hotsync = FindWindowA("KittyHawk", nullptr);
  if (hotsync == nullptr) return 0;
  if (SendMessageA(hotsync, 0xBEC5, 1, 0) == 0) return 0;
  Sleep(2000);
  start_hotsync_again();
  return 0;
}

long unregister_conduit() {
  const std::string key_path = find_conduit_key();
  if (!key_path.empty()) {
    std::string program = read_string(HKEY_CURRENT_USER, kCore, "HotSyncPath");
    const auto slash = program.rfind('\\');
    const std::string program_dir = slash == std::string::npos ? "" : program.substr(0, slash);
    const std::string user = read_string(HKEY_CURRENT_USER, key_path.c_str(), "UserName");
    std::string directory;
    CUserMgr users;
    if (load_users(&users)) {
      for (CUser* u = users.FindFirst(); u != nullptr; u = users.FindNext()) {
        if (user == u->GetName()) {
          directory = u->GetDirName();
          break;
        }
      }
    }
    if (!program_dir.empty() && plain_folder_name(directory)) {
      const std::string folder = program_dir + "\\" + directory + "\\VorlanScrib";
      WIN32_FIND_DATAA found{};
      HANDLE search = FindFirstFileA((folder + "\\*.VXS").c_str(), &found);
      if (search != INVALID_HANDLE_VALUE) {
        do {
          DeleteFileA((folder + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
      }
      RemoveDirectoryA(folder.c_str());
    }
  }
  const std::string again = find_conduit_key();
  if (!again.empty()) RegDeleteKeyA(HKEY_CURRENT_USER, again.c_str());
  return 0;
}

}  // namespace sx::conduit
