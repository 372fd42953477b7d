// InstallFolder: a fresh notes folder for a Palm user, the previous one kept; and the file helpers
// of both folder procedures.
#include "folder_install.h"

#include <cerrno>
#include <functional>
#include <vector>

#include "file_version.h"
#include "hotsync_files.h"
#include "messages.h"
#include "registry_key.h"
#include "scribbix/notes_folder.h"
#include "set_aside.h"
#include "update_component.h"
#include "wait_dlg.h"
#include "windows.h"

namespace sx::configure {

using sx::com::ComError;
using sx::com::ComPtr;
using sx::com::throw_if_failed;
using sx::com::Variant;

namespace {

constexpr DWORD kBlockSize = 16384;
// How long the installation waits for another program to let go of the old notes file before it
// asks: long enough for an Outlook that is closing, short enough when nobody is there to answer.
constexpr int kHeldWaitMs = 5000;
constexpr char kHeldOpen[] =
    "Outlook is holding the Scribbix file open.\nPlease shut down Outlook to continue the "
    "installation.";
constexpr char kUpdateHeldOpen[] =
    "Outlook is holding the Scribbix Update file open.\nPlease shut down Outlook to continue the "
    "installation.";
constexpr char kKeptIn[] = "Your previous Scribbix notes were kept in the file:\n";

// Whether another program holds the existing file open (an exclusive open fails with a sharing
// violation), after waiting up to `waitMs` (in 100 ms steps) for it to let go.
bool HeldOpen(const std::string& path, int waitMs) {
  for (int waited = 0;; waited += 100) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return false;
    }
    if (GetLastError() != ERROR_SHARING_VIOLATION) return false;
    if (waited >= waitMs) return true;
    Sleep(100);
  }
}

// One installation: its steps in order, each recording how to undo what it changed, so that a
// step that fails leaves the profile and the files as the installation found them.
class Installation {
 public:
  Installation(CComponentChecker& checker, const std::string& palmUser, const std::string& profile,
               const std::string& dir, InstallReport& report, CWaitDlg& wait)
      : checker_(checker),
        palmUser_(palmUser),
        profile_(profile),
        source_(dir + "\\SXUpdate.pst"),
        target_(report.target),
        report_(report),
        wait_(wait) {}

  // True when the fresh notes folder is in the profile.
  bool Run() {
    if (!FileExists(source_)) {
      return Fail("Install Failure, The Scribbix Update file was not found: " + source_ +
                      "\nRun setup and choose to Repair the installation.",
                  "the update store " + source_ + " is missing; run the setup again");
    }
    oldFileThere_ = FileExists(target_);
    if (oldFileThere_ && !OldFileFree()) return false;
    if (!DetachOldFolder() || !SetAsideOldFiles()) return false;
    wait_.SetPos(10);
    wait_.Pump();
    if (!CopyTemplate()) return false;
    wait_.SetPos(20);
    wait_.Pump();
    return AddNotesFile();
  }

 private:
  // Shows `message` (when there is one), records why the installation stopped, and undoes what it
  // changed. Always false.
  bool Fail(const std::string& message, const std::string& problem) {
    if (!message.empty()) ShowMessage(message);
    report_.problem = problem;
    for (auto step = undo_.rbegin(); step != undo_.rend(); ++step) {
      if (!(*step)()) report_.restored = false;
    }
    undo_.clear();
    if (!report_.setAside.empty()) ShowMessage(kKeptIn + report_.setAside);
    return false;
  }

  // Waits for another program (a person's Outlook) to let go of the old notes file, asking the
  // user to close Outlook as long as it holds the file. False when the user gave up (nobody there
  // to answer gives up after one message).
  bool OldFileFree() {
    while (HeldOpen(target_, kHeldWaitMs)) {
      if (!AskToRetry(kHeldOpen)) {
        return Fail({}, "Outlook holds the notes file " + target_ +
                            " open; close Outlook and install again");
      }
    }
    return true;
  }

  // Logs on to the profile and hands the component, the namespace set, to `work`; then lets both
  // go. False (after the installation was stopped with its message) when the profile cannot be
  // logged on to or the component cannot be loaded; *failed is set when `work` met a COM error
  // (shown).
  bool InProfile(const std::function<void(_Update1*)>& work, bool* failed) {
    if (checker_.LogonProfile(profile_) != 0) {
      checker_.ReleaseOutlook();
      return Fail("Install Failure, The Outlook profile \"" + profile_ + "\" could not be opened.",
                  "the Outlook profile \"" + profile_ + "\" could not be logged on to");
    }
    bool loaded = false;
    {
      ComPtr<_Update1> update = CreateUpdateComponent();
      loaded = static_cast<bool>(update);
      try {
        if (update) {
          SetNameSpace(update.Get(), checker_.NameSpace());
          work(update.Get());
        }
      } catch (const ComError& e) {
        ShowComError(e);
        *failed = true;
      }
    }
    checker_.ReleaseOutlook();
    if (!loaded) {
      return Fail("Install Failure, Failed to load: ScribbixUpdate.dll",
                  "ScribbixUpdate.dll could not be loaded");
    }
    return true;
  }

  // Takes the old notes folder (and the update store of an unfinished update) out of the profile,
  // so that Outlook lets go of the old file. A profile that cannot be logged on to, or a component
  // that cannot be loaded, stops the installation before anything changed.
  bool DetachOldFolder() {
    bool failed = false;
    if (!InProfile(
            [this](_Update1* update) {
              if (!oldFileThere_) return;
              Call(update, &_Update1::RemoveUpdateFolder);
              if (Call(update, &_Update1::RemoveScribbixFolder) == 0)
                undo_.push_back([this] { return PutOldStoreBack(); });
            },
            &failed)) {
      return false;
    }
    if (failed) return Fail({}, "the old notes folder could not be taken out of the profile");
    return true;
  }

  // Sets the old notes file aside, and the user's desktop state file with it: the state file
  // remembers the notes of the old folder, and a HotSync that found them gone from the new one
  // would delete them on the handheld. Without it the next HotSync is the user's first, which
  // brings the handheld's notes into the new folder.
  bool SetAsideOldFiles() {
    if (oldFileThere_) {
      int error = SetAsideFile(target_, &report_.setAside);
      if (error == EACCES) {  // taken up again since it was found free
        if (!OldFileFree()) return false;
        error = SetAsideFile(target_, &report_.setAside);
      }
      if (error != 0) {
        return Fail("Rename Failure, Failed to rename: " + target_ +
                        ". Error Number = " + std::to_string(error),
                    "the notes file " + target_ + " could not be set aside (error " +
                        std::to_string(error) + ")");
      }
      undo_.push_back([this] { return Restore(&report_.setAside, target_); });
    }
    const std::string state = UserStateFile(palmUser_);
    if (state.empty() || !FileExists(state)) return true;
    const int error =
        SetAsideFile(state, &report_.stateSetAside, SetAsideNumber(target_, report_.setAside));
    if (error != 0) {
      return Fail("Install Failure, Failed to set aside the HotSync state file: " + state +
                      ". Error Number = " + std::to_string(error),
                  "the HotSync state file " + state + " could not be set aside (error " +
                      std::to_string(error) + ")");
    }
    undo_.push_back([this, state] { return Restore(&report_.stateSetAside, state); });
    return true;
  }

  bool CopyTemplate() {
    if (!WaitForExclusiveAccess(source_)) ShowMessage(kUpdateHeldOpen);
    // The target is free here (set aside or never there): what is copied to it is the template's.
    undo_.push_back([this] { return DeleteFileA(target_.c_str()) || !FileExists(target_); });
    if (CopyFileBlocks(source_, target_) != 0) {
      return Fail("Install Failure, Failed to copy: " + target_,
                  "the update store could not be copied to " + target_);
    }
    WaitForExclusiveAccess(target_);
    return true;
  }

  // Adds the fresh notes file to the profile, names it into the notes layout and switches on the
  // add-ins that are not connected.
  bool AddNotesFile() {
    bool added = false;
    bool failed = false;
    if (!InProfile(
            [this, &added](_Update1* update) {
              LONG r = CallWithText(update, &_Update1::AddPst, target_);
              if (r > 0) {
                Sleep(1000);
                Call(update, &_Update1::RenameUpdate);
                r = CallWithText(update, &_Update1::FindFolder, sx::common::kStoreRootName);
              }
              added = r == 0;
              // A fresh file that kept the update store's names leaves the profile again.
              if (!added) Call(update, &_Update1::RemoveUpdateFolder);
              if (added) SwitchAddInsOn(update);
              wait_.SetPos(90);
            },
            &failed)) {
      return false;
    }
    if (!added) {
      return Fail("Install Failure, Failed to add the Scribbix folder to the profile: " + target_,
                  "the new notes file could not be added to the profile \"" + profile_ + "\"");
    }
    report_.installed = true;
    undo_.clear();
    return true;
  }

  void SwitchAddInsOn(_Update1* update) {
    report_.addInsOn = true;
    for (const char* name : {kNotesAddInName, kMonitorAddInName}) {
      bool on = false;
      try {
        const LONG found = CallWithText(update, &_Update1::FindAddIn, name);
        const bool listed = found > 0 && found < kFindAddInFailure;
        on = listed && (found & kAddInConnected) != 0;
        if (listed && !on) {
          const LONG r = SetAddIn(update, name, true);
          on = r > 0 && r < kFindAddInFailure;
        }
      } catch (const ComError& e) {
        ShowComError(e);
      }
      report_.addInsOn = report_.addInsOn && on;
    }
    if (!report_.addInsOn) report_.problem = "the add-ins could not be switched on";
  }

  // Puts a set-aside file back in its place; true when it is back (*setAsideAs is then cleared).
  static bool Restore(std::string* setAsideAs, const std::string& file) {
    if (!PutBack(*setAsideAs, file)) return false;
    setAsideAs->clear();
    return true;
  }

  // Adds the old notes file back to the profile, once it is back in its place.
  bool PutOldStoreBack() {
    if (!FileExists(target_) || checker_.LogonProfile(profile_) != 0) {
      checker_.ReleaseOutlook();
      return false;
    }
    bool back = false;
    try {
      Variant path = Variant::from_ansi(target_);
      throw_if_failed(checker_.NameSpace()->AddStore(path.get()));
      back = true;
    } catch (const ComError& e) {
      ShowComError(e);
    }
    checker_.ReleaseOutlook();
    return back;
  }

  CComponentChecker& checker_;
  const std::string palmUser_;
  const std::string profile_;
  const std::string source_;
  const std::string target_;
  InstallReport& report_;
  CWaitDlg& wait_;
  bool oldFileThere_ = false;
  // How to undo each change made so far, in the order made; each says whether it was undone.
  std::vector<std::function<bool()>> undo_;
};

}  // namespace

bool ReadInstallationDirectory(std::string* dir) {
  CRegistryKey key;
  return key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorlan Software\\Scribbix", KEY_READ) &&
         key.ReadText("Path", dir);
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
  bool installed = false;
  std::string dir;
  if (!ReadInstallationDirectory(&dir)) {
    wait.SetPos(10);
    wait.Pump();
    ShowMessage(
        "Install Failure, The installation path was not found.\nRun setup and choose to Repair "
        "the installation.");
    done.problem = "Scribbix is not installed on this machine (its installation path is missing)";
    wait.SetPos(20);
    wait.Pump();
  } else {
    done.target = dir + "\\" + sx::common::NotesFileName(palmUser);
    Installation installation(checker, palmUser, profile, dir, done, wait);
    installed = installation.Run();
  }
  wait.SetPos(100);
  wait.Close();
  if (installed && !done.setAside.empty()) ShowMessage(kKeptIn + done.setAside);
  return installed ? 1 : 0;
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
