// UpdateFolder: the profile's notes folder rebuilt from the update store, every note carried over.
#include "file_version.h"
#include "folder_install.h"
#include "messages.h"
#include "scribbix/notes_folder.h"
#include "update_component.h"
#include "wait_dlg.h"
#include "win32/crt.h"
#include "windows.h"

namespace sx::configure {
namespace {

using sx::com::ComError;
using sx::com::ComPtr;
using sx::com::throw_if_failed;
using sx::com::Variant;

// Whether a SetAddIn result says the add-in was connected before the call.
bool WasConnected(LONG setAddIn) {
  return setAddIn > 0 && setAddIn < kFindAddInFailure && (setAddIn & kAddInConnected) != 0;
}

// Carries every note into the new folder: BeginUpdate, NextUpdate per note with the bar moving,
// EndUpdate once all are carried. The result, and *unfinished when the update stopped before its
// end (cancelled, or a note not carried).
long CarryNotes(_Update1* update, const std::string& store, int& cancel, CWaitDlg& wait,
                bool* unfinished) {
  Variant path = Variant::from_ansi(store);
  Variant form = Variant::from_ansi(sx::common::kNoteClass);
  LONG n = 0;
  throw_if_failed(update->BeginUpdate(&path.get(), &form.get(), &n));
  if (n < 0) {
    Call(update, &_Update1::RemoveUpdateFolder);
    if (n != kNoNotesFolder) ShowMessage("Begin Upgrade Failure: 0x" + Hex(static_cast<ULONG>(n)));
    return n;
  }
  long result = 0;
  *unfinished = true;
  for (LONG i = 0; cancel == 1; ++i) {
    if (i == n) {
      *unfinished = false;
      Call(update, &_Update1::EndUpdate);
      break;
    }
    result = Call(update, &_Update1::NextUpdate);
    if (result != 0) break;
    wait.SetPos(static_cast<int>((n / 2 + i * 100) / n));
    wait.Pump();
  }
  // A cancelled update is no update done, whatever the steps after it return.
  if (*unfinished && result == 0) result = kUpdateCancelled;
  Sleep(500);
  // A note that could not be carried stays the result: the update is not done.
  const LONG removed = Call(update, &_Update1::RemoveUpdateFolder);
  if (result == 0) result = removed;
  Sleep(500);
  wait.Close();
  return result;
}

}  // namespace

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
  if (checker.LogonProfile(profile) != 0) {
    checker.ReleaseOutlook();
    // A profile that cannot be logged on to is no update done: the caller must not take it for
    // one.
    return result == 0 ? kLogonFailed : result;
  }
  bool unfinished = false;
  {
    HRESULT why = S_OK;
    ComPtr<_Update1> update = CreateUpdateComponent(&why);
    if (!update) {
      ShowMessage("Upgrade Failure, Failed to load: ScribbixUpdate.dll");
      result = why;  // nothing was updated
    } else {
      LONG notesAddIn = 0;
      try {
        SetNameSpace(update.Get(), checker.NameSpace());
        Call(update.Get(), &_Update1::RemoveUpdateFolder);
        // A notes add-in connected in this Outlook (a person's Outlook the program attached to)
        // would stamp each carry's copy as a second post of its note's key and give it a new key,
        // so that every carried note would reach the new folder under a key the conduit does not
        // know. It is switched off for the upgrade, and on again afterwards: it then watches the
        // new folder.
        notesAddIn = SetAddIn(update.Get(), kNotesAddInName, false);
        result = CarryNotes(update.Get(), store, cancel, wait, &unfinished);
      } catch (const ComError& e) {
        ShowComError(e);
        // An update that failed on its way (EndUpdate keeping the old folder, above all) is not
        // reported as done.
        result = e.Error();
      }
      try {
        if (WasConnected(notesAddIn)) SetAddIn(update.Get(), kNotesAddInName, true);
      } catch (const ComError& e) {
        ShowComError(e);
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

}  // namespace sx::configure
