// The ten checks of the status screen.
#include "component_checker.h"

#include "scribbix/damaged_store.h"

#include <cstring>

#include "file_version.h"
#include "hotsync_files.h"
#include "messages.h"
#include "registry_key.h"
#include "scribbix/damaged_store.h"
#include "scribbixupdate/scribbixupdate.h"
#include "sx/ascii.h"
#include "windows.h"

namespace sx::configure {

using sx::com::Bstr;
using sx::com::ComError;
using sx::com::ComPtr;
using sx::com::throw_if_failed;
using sx::com::Variant;

namespace {

constexpr char kProfilesKeyNt[] =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
constexpr char kProfilesKey9x[] = "Software\\Microsoft\\Windows Messaging Subsystem\\Profiles";
constexpr char kConduitKey[] = "Software\\U.S. Robotics\\Pilot Desktop\\ApplicationVorScrib";
constexpr char kPairsKey[] = "Software\\Vorlan Software\\Scribbix\\Profiles";
constexpr int kUserNameSize = 100;

// The in-process or local server file of a registered ProgID, when the registration holds and the
// file exists.
bool RegisteredServerFile(const char* progId, const char* serverKey, std::string* file) {
  CRegistryKey key;
  std::string clsid;
  if (!key.Open(HKEY_CLASSES_ROOT, progId, KEY_READ)) return false;
  if (!key.Reopen(std::string(progId) + "\\CLSID") || !key.ReadText(nullptr, &clsid)) return false;
  if (!key.Reopen("CLSID\\" + clsid + "\\" + serverKey) || !key.ReadText(nullptr, file))
    return false;
  return FileExists(*file);
}

std::u16string Wide(const char* text) {
  std::u16string wide;
  for (const char* p = text; *p != '\0'; ++p) wide += static_cast<char16_t>(*p);
  return wide;
}

}  // namespace

CComponentChecker::CComponentChecker() = default;

CComponentChecker::~CComponentChecker() {
  try {
    if (nameSpace_) nameSpace_->Logoff();
    if (watcher_) {
      watcher_->stop();
      watcher_->wait();
    }
    nameSpace_ = nullptr;
    outlookApp_ = nullptr;
  } catch (...) {
  }
}

void CComponentChecker::EndProgram(int code) { ExitProcess(static_cast<UINT>(code)); }

void CComponentChecker::End(int code) {
  ended_ = true;
  EndProgram(code);
}

int CComponentChecker::OutlookVersion(int index) const {
  if (index < 0 || index >= static_cast<int>(outlookVersion_.size())) return -1;
  return outlookVersion_[static_cast<std::size_t>(index)];
}

StatusRow& CComponentChecker::Start(int row, const char* name, const char* status, RowState state) {
  StatusRow& r = rows_.at(static_cast<std::size_t>(row));
  r.name = name;
  r.info.clear();
  r.status = status;
  r.state = state;
  return r;
}

void CComponentChecker::RefreshStatus(const std::function<void(int row)>& shown) {
  const std::function<void(int)> checks[kRowCount] = {
      [this](int r) { CheckOutlook(r); },
      [this](int r) { CheckProfiles(r); },
      [this](int r) { CheckHotSync(r); },
      [this](int r) { CheckHandhelds(r); },
      [this](int r) { CheckConduit(r); },
      [this](int r) {
        CheckComponent(r, "Scribbix Outlook Update", scribbixupdate::kUpdate1ProgId, kWarning);
      },
      [this](int r) { CheckComponent(r, "Scribbix Outlook Post", "ScribbixOut.Class1", kGood); },
      [this](int r) {
        CheckAddIn(r, "Scribbix Outlook Add-In", kNotesAddInProgId, kNotesAddInName,
                   notesAddInAtStartup_);
      },
      [this](int r) {
        CheckAddIn(r, "Scribbix Outlook Monitor Add-In", kMonitorAddInProgId, kMonitorAddInName,
                   monitorAddInAtStartup_);
      },
      [this](int r) { CheckFolder(r); },
  };
  for (int row = 0; row < kRowCount && !ended_; ++row) {
    try {
      checks[row](row);
    } catch (const ComError& e) {
      ShowComError(e);
    } catch (...) {
      // A check never ends the refresh: the row keeps what it had reached.
    }
    if (ended_) return;
    if (shown) shown(row);
  }
}

void CComponentChecker::CheckOutlook(int row) {
  if (outlookApp_) return;  // checked already; the row keeps its texts
  StatusRow& r = Start(row, "Microsoft Outlook", " Not Found ", kFailed);
  std::string server;
  if (!RegisteredServerFile("Outlook.Application", "LocalServer32", &server)) return;
  r.status = " Found ";
  if (StartOutlook() != 0) {
    End(-1);
    return;
  }
  StartWatcher();
  r.status = " Registered ";
  try {
    Bstr version;
    throw_if_failed(outlookApp_->get_Version(version.put()));
    r.info = "Version " + version.ansi();
    const std::array<int, 4> v = ParseVersion(version.ansi());
    for (std::size_t i = 0; i < v.size(); ++i) outlookVersion_[i] = v[i];
    outlookVersion_[4] = 0;
    if (v[0] == 9) {
      r.name += " 2000";
      if (v[1] == 0 && v[2] == 0 && v[3] == 3821) {
        r.name += " SR-1";
        std::string message;
        if (CheckPartialUpgrade(server, &message) != 0) {
          ShowOutlookProblem(message);
          End(-1);
          return;
        }
      }
      r.status = " Active ";
      r.state = kGood;
    } else if (v[0] >= 10) {
      r.status = " Active ";
      r.state = kGood;
    } else {
      r.status = " Old ";
    }
  } catch (const ComError& e) {
    ShowComError(e);
  }
}

void CComponentChecker::CheckProfiles(int row) {
  StatusRow& r = Start(row, "Outlook Profiles", " Not Found ", kFailed);
  profileCount_ = 0;
  defaultProfileIndex_ = 0;
  OSVERSIONINFOA os{};
  os.dwOSVersionInfoSize = sizeof os;
  const bool nt = GetVersionExA(&os) && os.dwPlatformId == VER_PLATFORM_WIN32_NT;
  CRegistryKey key;
  std::string defaultName;
  bool haveDefault = false;
  if (key.Open(HKEY_CURRENT_USER, nt ? kProfilesKeyNt : kProfilesKey9x, KEY_READ) &&
      key.EnumerateSubkeys(&profiles_)) {
    haveDefault = key.ReadText("DefaultProfile", &defaultName);
  } else {
    profiles_.clear();
  }
  bool matched = false;
  int index = 0;
  for (const std::string& name : profiles_) {
    if (index == 0) {
      r.info = name;
      r.status = " Found ";
      r.state = kGood;
    }
    if (haveDefault && !matched && sx::ascii::equal_ignoring_case(name, defaultName)) {
      r.info = name;
      defaultProfileIndex_ = index;
      matched = true;
    }
    ++index;
  }
  profileCount_ = index;
}

void CComponentChecker::CheckHotSync(int row) {
  StatusRow& r = Start(row, "HotSync", " Not Found ", kFailed);
  CRegistryKey key;
  if (!key.Open(HKEY_CURRENT_USER, kHotSyncCoreKey, KEY_READ)) return;
  std::string program, dir;
  if (key.ReadText("HotSyncPath", &program)) {
    const std::size_t slash = program.rfind('\\');
    dir = slash == std::string::npos ? "" : program.substr(0, slash);
  } else if (key.ReadText("Path", &dir)) {
    program = dir + "\\HotSync.exe";
  } else {
    return;
  }
  if (!FileExists(program)) return;
  r.status = " Found ";
  std::string text;
  if (ReadVersionString(program, "FileVersion", &text)) r.info = "Version " + text;
  if (ReadVersionString(program, "InternalName", &text)) r.name = text;

  palmUsers_.clear();
  palmUserCount_ = 0;
  const std::string aide = dir + "\\instaide.dll";
  if (HMODULE library = LoadLibraryExA(aide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {
    using CountFn = int (*)();
    using UserFn = int (*)(unsigned int, char*, short*);
    auto count_fn = reinterpret_cast<CountFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "PltGetUserCount")));
    auto user_fn =
        reinterpret_cast<UserFn>(reinterpret_cast<void*>(GetProcAddress(library, "PltGetUser")));
    const int count = count_fn != nullptr ? count_fn() : 0;
    for (int i = 0; i < count && user_fn != nullptr; ++i) {
      char buffer[kUserNameSize] = {};
      short size = kUserNameSize;
      if (user_fn(static_cast<unsigned int>(i), buffer, &size) == 0) continue;
      palmUsers_.insert(std::string(buffer, strnlen(buffer, sizeof buffer)));
      ++palmUserCount_;
    }
    FreeLibrary(library);
  }
  if (palmUserCount_ > 0) r.state = kGood;
}

void CComponentChecker::CheckHandhelds(int row) {
  StatusRow& r = Start(row, "Scribbix Configured Handheld", " Not Found ", kWarning);
  handheldCount_ = 0;
  CRegistryKey key;
  if (!key.Open(HKEY_CURRENT_USER, kPairsKey, KEY_READ) ||
      !key.EnumerateValues(&pairUsers_, &pairProfiles_)) {
    if (!key.IsOpen()) {
      pairUsers_.clear();
      pairProfiles_.clear();
    }
    return;
  }
  for (const std::string& user : pairUsers_) {
    if (handheldCount_ == 0) {
      r.info = user;
      r.state = kGood;
    } else {
      r.info += ".";
    }
    ++handheldCount_;
  }
  r.status = " " + std::to_string(handheldCount_) + " Configured ";
}

void CComponentChecker::CheckConduit(int row) {
  StatusRow& r = Start(row, "Scribbix Outlook Conduit", " Not Found ", kFailed);
  std::string dir;
  if (!ReadHotSyncDirectory(&dir)) return;
  const std::string file = dir + "\\SXOut.dll";
  if (!FileExists(file)) return;
  r.status = " Found ";
  std::string text;
  if (ReadVersionString(file, "FileVersion", &text)) r.info = "Version " + text;
  if (ReadVersionString(file, "InternalName", &text)) r.name = text;
  CRegistryKey key;
  std::string conduit;
  if (key.Open(HKEY_CURRENT_USER, kConduitKey, KEY_READ) && key.ReadText("Conduit", &conduit)) {
    r.status = " Installed ";
    if (r.name.find("Outlook") != std::string::npos) r.state = kGood;
  }
}

void CComponentChecker::CheckComponent(int row, const char* name, const char* progId,
                                       RowState versionState) {
  StatusRow& r = Start(row, name, " Not Found ", kFailed);
  std::string server;
  if (!RegisteredServerFile(progId, "InprocServer32", &server)) return;
  r.status = " Found ";
  std::string version;
  if (ReadFileVersion(server, &version) != 0) return;
  r.info = "Version " + version;
  r.state = versionState;
  // The component counts only when an object of it can be made; it is let go at once.
  try {
    CLSID clsid{};
    throw_if_failed(CLSIDFromProgID(Wide(progId).c_str(), &clsid));
    ComPtr<IUnknown> object;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, object.PutVoid());
    if (hr != E_NOINTERFACE) throw_if_failed(hr);
    if (object) r.state = kGood;
  } catch (const ComError& e) {
    ShowComError(e);
  }
}

void CComponentChecker::CheckAddIn(int row, const char* name, const char* progId,
                                   const char* addInName, bool atStartup) {
  StatusRow& r = Start(row, name, " Not Found ", kFailed);
  CRegistryKey key;
  std::string server;
  if (!key.Open(HKEY_CURRENT_USER, std::string(kAddinsKey) + progId, KEY_READ) ||
      !RegisteredServerFile(progId, "InprocServer32", &server))
    return;
  r.status = " Found ";
  r.state = kWarning;
  if (!outlookApp_) return;
  try {
    CLSID clsid{};
    throw_if_failed(CLSIDFromProgID(Wide(scribbixupdate::kUpdate1ProgId).c_str(), &clsid));
    ComPtr<_Update1> update;
    throw_if_failed(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, _Update1::kIid, update.PutVoid()));
    Variant addIn = Variant::from_ansi(addInName);
    LONG found = 0;
    throw_if_failed(update->FindAddIn(&addIn.get(), &found));
    if (found < kFindAddInFailure) {
      if (found <= 0) {
        r.info = " Not Registered ";
      } else {
        r.info = " Registered ";
        r.status = " Disabled ";
        if ((found & kAddInConnected) != 0 || atStartup) {
          r.status = " Enabled ";
          r.state = kGood;
        }
      }
    }
  } catch (const ComError& e) {
    ShowComError(e);
  }
}

void CComponentChecker::CheckFolder(int row) {
  StatusRow& r = Start(row, "Scribbix Folder", " Not Found ", kFailed);
  damagedFile_.clear();
  if (handheldCount_ == 0 || pairProfiles_.empty()) return;
  const std::string& profile = pairProfiles_.front();
  r.name += ": " + profile;
  const bool loggedOn = LogonProfile(profile) == 0;
  const long n = loggedOn ? CountFolderEntries() : -1;
  if (!damagedFile_.empty()) {
    // The folder may be whole in a file Outlook cannot read: installing it again would make every
    // note look deleted. The row names the repair instead.
    r.status = " Damaged ";
    r.info = std::string("Repair: ") + sx::common::kRepairCommand;
    folderError_ = true;
  } else if (n >= 0) {
    r.info = std::to_string(n) + " Entries";
    r.status = " Found ";
    r.state = kGood;
    folderError_ = false;
  } else if (n == PROBE_FAILED) {
    r.info = " ERROR ";
    ShowOutlookProblem();
    folderError_ = true;
  }
  if (loggedOn) ReleaseOutlook();
}

}  // namespace sx::configure
