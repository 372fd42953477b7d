#include "folder_install.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "file_version.h"
#include "messages.h"
#include "registry_key.h"
#include "scribbix/notes_folder.h"
#include "scribbixupdate/scribbixupdate.h"
#include "wait_dlg.h"
#include "win32/crt.h"
#include "windows.h"

namespace sx::configure {

using sx::com::ComError;
using sx::com::ComPtr;
using sx::com::throw_if_failed;
using sx::com::Variant;

namespace {

constexpr DWORD kBlockSize = 16384;
constexpr int kMostSetAside = 100;
constexpr char kHeldOpen[] =
    "Outlook is holding the Scribbix file open.\nPlease shut down Outlook to continue the "
    "installation.";
constexpr char kUpdateHeldOpen[] =
    "Outlook is holding the Scribbix Update file open.\nPlease shut down Outlook to continue the "
    "installation.";

std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "%lx", value & 0xFFFFFFFFul);
  return text;
}

// An object of the folder maintenance component, or null (and *why, when given, the creation's
// failure) when it cannot be made.
ComPtr<_Update1> CreateUpdateComponent(HRESULT* why = nullptr) {
  CLSID clsid{};
  ComPtr<_Update1> update;
  HRESULT hr = CLSIDFromProgID(u"ScribbixUpdate.Update1", &clsid);
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, _Update1::kIid, update.PutVoid());
  if (FAILED(hr) || !update) {
    update = nullptr;
    if (why != nullptr) *why = FAILED(hr) ? hr : E_NOINTERFACE;
  }
  return update;
}

LONG SetNameSpace(_Update1* update, _NameSpace* nameSpace) {
  LONG result = 0;
  throw_if_failed(update->SetNameSpace(&nameSpace, &result));
  return result;
}

LONG Call(_Update1* update, HRESULT (STDMETHODCALLTYPE _Update1::*method)(LONG*)) {
  LONG result = 0;
  throw_if_failed((update->*method)(&result));
  return result;
}

LONG CallWithText(_Update1* update, HRESULT (STDMETHODCALLTYPE _Update1::*method)(VARIANT*, LONG*),
                  const std::string& text) {
  Variant argument = Variant::from_ansi(text);
  LONG result = 0;
  throw_if_failed((update->*method)(&argument.get(), &result));
  return result;
}

// Moves the previous notes file to the first free "<target>.<n>"; while Outlook holds it open the
// user is asked to close Outlook and the series is tried again. False (after a message) when the
// file cannot be moved otherwise: it then stays where it is and must not be overwritten.
bool SetAside(const std::string& target, std::string* setAside) {
  for (;;) {
    int lastError = 0;
    for (int n = 1; n <= kMostSetAside; ++n) {
      const std::string name = target + "." + std::to_string(n);
      if (rename(target.c_str(), name.c_str()) == 0) {
        *setAside = name;
        return true;
      }
      lastError = errno;
    }
    if (lastError == EACCES) {
      ShowMessage(kHeldOpen);
      continue;
    }
    ShowMessage("Rename Failure, Failed to rename: " + target +
                ". Error Number = " + std::to_string(lastError));
    return false;
  }
}

// Takes the old notes folder (and the update store of an unfinished update) out of the profile, so
// that Outlook lets go of the old file.
void DetachOldFolder(CComponentChecker& checker, const std::string& profile) {
  if (checker.LogonProfile(profile) != 0) return;
  {
    ComPtr<_Update1> update = CreateUpdateComponent();
    if (!update) {
      ShowMessage("Remove Failure, Failed to load: ScribbixUpdate.dll, Error 0x" +
                  Hex(GetLastError()));
    } else {
      try {
        SetNameSpace(update.Get(), checker.NameSpace());
        Call(update.Get(), &_Update1::RemoveUpdateFolder);
        Call(update.Get(), &_Update1::RemoveScribbixFolder);
      } catch (const ComError& e) {
        ShowComError(e);
      }
    }
  }
  checker.ReleaseOutlook();
}

// Adds the fresh notes file to the profile, names it into the notes layout and switches on the
// add-ins that are not connected.
void AddNotesFile(CComponentChecker& checker, const std::string& target, CWaitDlg& wait) {
  {
    ComPtr<_Update1> update = CreateUpdateComponent();
    if (!update) {
      ShowMessage("Install Failure, Failed to load: ScribbixUpdate.dll");
    } else {
      try {
        SetNameSpace(update.Get(), checker.NameSpace());
        LONG r = CallWithText(update.Get(), &_Update1::AddPst, target);
        if (r > 0) {
          Sleep(1000);
          Call(update.Get(), &_Update1::RenameUpdate);
          r = CallWithText(update.Get(), &_Update1::FindFolder, sx::common::kStoreRootName);
        }
        for (const char* name : {kNotesAddInName, kMonitorAddInName}) {
          const LONG found = CallWithText(update.Get(), &_Update1::FindAddIn, name);
          if (found < kFindAddInFailure && (found & kAddInConnected) == 0) {
            Variant addIn = Variant::from_ansi(name);
            Variant on = Variant::from_bool(true);
            LONG result = 0;
            throw_if_failed(update->SetAddIn(&addIn.get(), &on.get(), &result));
          }
        }
      } catch (const ComError& e) {
        ShowComError(e);
      }
    }
  }
  wait.SetPos(90);
  checker.ReleaseOutlook();
}

}  // namespace

bool ReadInstallationDirectory(std::string* dir) {
  CRegistryKey key;
  return key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorlan Software\\Scribbix", KEY_READ) &&
         key.ReadText("Path", dir);
}

long UpdateFolder(CComponentChecker& checker, const std::string& profile) {
  long result = NO_UPDATE_FILE;
  int cancel = 1;
  CWaitDlg wait(&cancel, "Updating Scribbix Outlook Folder", "Please Wait");
  wait.SetPos(0);
  wait.Pump();
  std::string dir;
  if (!ReadInstallationDirectory(&dir)) return result;
  const std::string store = dir + "\\SXUpdate.pst";
  if (!FileExists(store)) return result;
  if (_access(store.c_str(), 6) != 0) {
    _chmod(store.c_str(), _S_IREAD | _S_IWRITE);
  } else {
    result = 0;
  }
  // A profile that cannot be logged on to is no update done: the caller must not take it for one.
  if (checker.LogonProfile(profile) != 0) return result == 0 ? kLogonFailed : result;
  bool unfinished = false;
  {
    HRESULT why = S_OK;
    ComPtr<_Update1> update = CreateUpdateComponent(&why);
    if (!update) {
      ShowMessage("Upgrade Failure, Failed to load: ScribbixUpdate.dll");
      result = why;  // nothing was updated
    } else {
      try {
        SetNameSpace(update.Get(), checker.NameSpace());
        Call(update.Get(), &_Update1::RemoveUpdateFolder);
        Variant path = Variant::from_ansi(store);
        Variant form = Variant::from_ansi(sx::common::kNoteClass);
        LONG n = 0;
        throw_if_failed(update->BeginUpdate(&path.get(), &form.get(), &n));
        if (n < 0) {
          result = n;
          Call(update.Get(), &_Update1::RemoveUpdateFolder);
          if (n != kNoNotesFolder)
            ShowMessage("Begin Upgrade Failure: 0x" + Hex(static_cast<unsigned long>(n)));
        } else {
          result = 0;
          unfinished = true;
          for (LONG i = 0; cancel == 1; ++i) {
            if (i == n) {
              unfinished = false;
              Call(update.Get(), &_Update1::EndUpdate);
              break;
            }
            result = Call(update.Get(), &_Update1::NextUpdate);
            if (result != 0) break;
            wait.SetPos(static_cast<int>((n / 2 + i * 100) / n));
            wait.Pump();
          }
          Sleep(500);
          // A note that could not be carried stays the result: the update is not done.
          const LONG removed = Call(update.Get(), &_Update1::RemoveUpdateFolder);
          if (result == 0) result = removed;
          Sleep(500);
          wait.Close();
        }
      } catch (const ComError& e) {
        ShowComError(e);
        // An update that failed on its way (EndUpdate keeping the old folder, above all) is not
        // reported as done.
        result = e.Error();
      }
    }
  }
  // A cancelled or failed update leaves the old notes folder as it was, and beside it the new one
  // with copies of the notes carried so far: the copies go, so no note is there twice.
  if (unfinished) checker.RemoveUnfinishedUpdateFolder();
  checker.ReleaseOutlook();
  wait.Close();
  return result;
}

long InstallFolder(CComponentChecker& checker, const std::string& palmUser,
                   const std::string& profile, InstallReport* report) {
  InstallReport local;
  InstallReport& done = report != nullptr ? *report : local;
  done = InstallReport{};
  int cancel = 1;  // Cancel only closes the window; the installation goes on
  CWaitDlg wait(&cancel, "Installing Scribbix Outlook Folder", "Please Wait");
  wait.SetPos(0);
  wait.Pump();
  std::string dir;
  const bool haveDir = ReadInstallationDirectory(&dir);
  bool mayCopy = haveDir;
  if (haveDir) {
    done.target = dir + "\\" + sx::common::NotesFileName(palmUser);
    if (FileExists(done.target)) {
      DetachOldFolder(checker, profile);
      mayCopy = SetAside(done.target, &done.setAside);
    }
  }
  wait.SetPos(10);
  wait.Pump();
  if (!haveDir) {
    ShowMessage(
        "Install Failure, The installation path was not found.\nRun setup and choose to Repair "
        "the installation.");
  } else if (mayCopy) {
    const std::string source = dir + "\\SXUpdate.pst";
    if (!WaitForExclusiveAccess(source)) ShowMessage(kUpdateHeldOpen);
    if (CopyFileBlocks(source, done.target) != 0) {
      ShowMessage("Install Failure, Failed to copy: " + done.target);
    } else {
      done.copied = true;
      WaitForExclusiveAccess(done.target);
    }
  }
  wait.SetPos(20);
  wait.Pump();
  if (done.copied && checker.LogonProfile(profile) == 0) AddNotesFile(checker, done.target, wait);
  wait.SetPos(100);
  wait.Close();
  if (!done.setAside.empty()) {
    ShowMessage("Your previous Scribbix notes were kept in the file:\n" + done.setAside);
  }
  return 1;
}

DWORD CopyFileBlocks(const std::string& source, const std::string& target) {
  HANDLE in = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD code = 0;
  HANDLE out = CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    code = GetLastError();
  } else {
    std::vector<char> block(kBlockSize);
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(in, block.data(), kBlockSize, &got, nullptr)) {
        code = GetLastError();
        break;
      }
      if (got > 0) {
        DWORD wrote = 0;
        if (!WriteFile(out, block.data(), got, &wrote, nullptr) || wrote != got) {
          code = GetLastError() != 0 ? GetLastError() : static_cast<DWORD>(ERROR_DISK_FULL);
          break;
        }
      }
      if (got < kBlockSize) break;
    }
    SetEndOfFile(out);
    CloseHandle(out);
  }
  CloseHandle(in);
  return code;
}

bool WaitForExclusiveAccess(const std::string& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return true;
    }
    Sleep(100);
  }
  return false;
}

}  // namespace sx::configure
