#include "option_dialogs.h"

#include <vector>

#include "folder_install.h"
#include "messages.h"
#include "registry_key.h"
#include "resources.h"
#include "windows.h"

namespace sx::configure {
namespace {

constexpr DWORD kNotRead = static_cast<DWORD>(-11);

// The text of item `index` of a combo box (`combo`) or list box.
std::string ItemText(HWND dialog, int id, int index, bool combo) {
  if (index < 0) return {};
  const LRESULT length = SendDlgItemMessageA(dialog, id, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN,
                                             static_cast<WPARAM>(index), 0);
  if (length < 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  SendDlgItemMessageA(dialog, id, combo ? CB_GETLBTEXT : LB_GETTEXT, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

int Selection(HWND dialog, int id, bool combo) {
  return static_cast<int>(
      SendDlgItemMessageA(dialog, id, combo ? CB_GETCURSEL : LB_GETCURSEL, 0, 0));
}

void AddItem(HWND dialog, int id, const std::string& text, bool combo) {
  SendDlgItemMessageA(dialog, id, combo ? CB_ADDSTRING : LB_ADDSTRING, 0,
                      reinterpret_cast<LPARAM>(text.c_str()));
}

void Select(HWND dialog, int id, int index, bool combo) {
  SendDlgItemMessageA(dialog, id, combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(index),
                      0);
}

// Selects the item whose text equals `text` exactly (the list's own search ignores case).
void SelectExact(HWND dialog, int id, const std::string& text, bool combo) {
  const int count =
      static_cast<int>(SendDlgItemMessageA(dialog, id, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    if (ItemText(dialog, id, i, combo) == text) {
      Select(dialog, id, i, combo);
      return;
    }
  }
}

// Stores `self` at WM_INITDIALOG and hands it back afterwards.
template <class T>
T* Self(HWND dialog, UINT message, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
  return reinterpret_cast<T*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

bool IsChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// --- Configure Profiles

struct ProfilesDlg {
  const CComponentChecker& checker;
  std::vector<std::string> users;  // the dialog's pairs, edited while it is open
  std::vector<std::string> profiles;

  void Init(HWND dialog) {
    for (const std::string& user : checker.PalmUsers()) AddItem(dialog, IDC_PALM_USERS, user, true);
    Select(dialog, IDC_PALM_USERS, 0, true);
    for (const std::string& profile : checker.Profiles()) {
      AddItem(dialog, IDC_PROFILES, profile, true);
    }
    users = checker.PairUsers();
    profiles = checker.PairProfiles();
    ShowPairOf(dialog, ItemText(dialog, IDC_PALM_USERS, 0, true));
  }
  void ShowPairOf(HWND dialog, const std::string& user) {
    for (std::size_t i = 0; i < users.size() && i < profiles.size(); ++i) {
      if (users[i] == user) {
        SelectExact(dialog, IDC_PROFILES, profiles[i], true);
        return;
      }
    }
  }
  void UserChanged(HWND dialog) {
    Select(dialog, IDC_PROFILES, -1, true);
    // With a single profile nothing is selected for the user: choosing it is what pairs them.
    if (SendDlgItemMessageA(dialog, IDC_PROFILES, CB_GETCOUNT, 0, 0) > 1) {
      ShowPairOf(dialog,
                 ItemText(dialog, IDC_PALM_USERS, Selection(dialog, IDC_PALM_USERS, true), true));
    }
  }
  void ProfileChanged(HWND dialog) {
    const int userIndex = Selection(dialog, IDC_PALM_USERS, true);
    // Without a Palm user there is nobody to pair (the pair would land in the key's unnamed value).
    if (userIndex < 0) return;
    const std::string user = ItemText(dialog, IDC_PALM_USERS, userIndex, true);
    const std::string profile =
        ItemText(dialog, IDC_PROFILES, Selection(dialog, IDC_PROFILES, true), true);
    for (std::size_t i = 0; i < users.size(); ++i) {
      if (users[i] == user) {
        users.erase(users.begin() + static_cast<std::ptrdiff_t>(i));
        profiles.erase(profiles.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
    users.push_back(user);
    profiles.push_back(profile);
  }
  void Save() const {
    for (std::size_t i = 0; i < users.size() && i < profiles.size(); ++i) {
      SaveProfileAssociation(users[i], profiles[i]);
    }
  }

  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
      auto* self = Self<ProfilesDlg>(dialog, message, lParam);
      if (self == nullptr) return FALSE;
      if (message == WM_INITDIALOG) {
        self->Init(dialog);
        return TRUE;
      }
      if (message != WM_COMMAND) return FALSE;
      const int id = LOWORD(wParam);
      if (HIWORD(wParam) == CBN_SELCHANGE && id == IDC_PALM_USERS) {
        self->UserChanged(dialog);
      } else if (HIWORD(wParam) == CBN_SELCHANGE && id == IDC_PROFILES) {
        self->ProfileChanged(dialog);
      } else if (id == IDOK) {
        self->Save();
        EndDialog(dialog, IDOK);
      } else if (id == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
      } else {
        return FALSE;
      }
      return TRUE;
    } catch (...) {
      return FALSE;
    }
  }
};

// --- Configure Progress Notification

// Tells the user that a setting was not stored because its key could not be opened or written
// (a key that is missing, or that an ordinary user may not change); the dialog then ends as
// cancelled. IDCANCEL.
INT_PTR NotSaved(const char* root, const char* path) {
  ShowMessage(std::string("The setting was not saved: the registry key ") + root + "\\" + path +
              " could not be opened for writing.");
  return IDCANCEL;
}

INT_PTR CALLBACK ProgressOptionProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  try {
    if (message == WM_INITDIALOG) {
      CRegistryKey key;
      DWORD value = kNotRead;
      const bool read = key.Open(HKEY_CURRENT_USER, kConduitKey, KEY_READ) &&
                        key.ReadDword("ShowProgress", &value, kNotRead);
      CheckDlgButton(dialog, IDC_SHOW_PROGRESS, read && value != 0 ? BST_CHECKED : BST_UNCHECKED);
      return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    if (LOWORD(wParam) == IDOK) {
      // The conduit's key is made by its registration; it is not created here.
      CRegistryKey key;
      const bool saved =
          key.Open(HKEY_CURRENT_USER, kConduitKey, 0) &&
          key.WriteDword("ShowProgress", IsChecked(dialog, IDC_SHOW_PROGRESS) ? 1 : 0);
      EndDialog(dialog, saved ? IDOK : NotSaved("HKEY_CURRENT_USER", kConduitKey));
      return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    }
  } catch (...) {
  }
  return FALSE;
}

// --- Outlook Options

INT_PTR CALLBACK OkCancelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

struct OutlookOptionsDlg {
  const CComponentChecker& checker;

  static void Init(HWND dialog) {
    CRegistryKey key;
    DWORD mode = kNotRead, autoEdit = kNotRead;
    bool modeRead = false, autoEditRead = false;
    if (key.Open(HKEY_LOCAL_MACHINE, kScribbixKey, KEY_READ)) {
      modeRead = key.ReadDword("MenuMode", &mode, kNotRead);
      autoEditRead = key.ReadDword("AutoEditMode", &autoEdit, kNotRead);
    }
    const int shown = MenuModeFromRegistry(modeRead, mode);
    CheckRadioButton(dialog, IDC_MODE_TOOLBAR, IDC_MODE_NONE,
                     shown == 2   ? IDC_MODE_MENU
                     : shown == 1 ? IDC_MODE_NONE
                                  : IDC_MODE_TOOLBAR);
    CheckDlgButton(dialog, IDC_AUTOEDIT,
                   autoEditRead && autoEdit != 0 ? BST_CHECKED : BST_UNCHECKED);
  }

  // False when the user turned back at the caution or the warning.
  bool Confirmed(HWND dialog, int mode, bool autoEdit) const {
    if (checker.OutlookVersion(0) != 9 || checker.OutlookVersion(1) != 0 ||
        checker.OutlookVersion(2) != 0) {
      return true;
    }
    const int revision = checker.OutlookVersion(3);
    int warning = 0;
    if (mode == 2 && revision < 3000) {
      warning = IDD_OPTION_CAUTION;
    } else if (mode == 0 && autoEdit && revision > 3000 && revision < 4000) {
      warning = IDD_OPTION_WARNING;
    }
    return warning == 0 ||
           DialogBoxParamA(nullptr, MAKEINTRESOURCEA(warning), dialog, &OkCancelProc, 0) == IDOK;
  }

  void Ok(HWND dialog) const {
    const int mode = IsChecked(dialog, IDC_MODE_MENU)   ? 2
                     : IsChecked(dialog, IDC_MODE_NONE) ? 1
                                                        : 0;
    const bool autoEdit = IsChecked(dialog, IDC_AUTOEDIT);
    if (!Confirmed(dialog, mode, autoEdit)) return;
    CRegistryKey key;
    const bool saved = key.Open(HKEY_LOCAL_MACHINE, kScribbixKey, 0) &&
                       key.WriteDword("MenuMode", static_cast<DWORD>(mode)) &&
                       key.WriteDword("AutoEditMode", autoEdit ? 1 : 0);
    EndDialog(dialog, saved ? IDOK : NotSaved("HKEY_LOCAL_MACHINE", kScribbixKey));
  }

  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
      auto* self = Self<OutlookOptionsDlg>(dialog, message, lParam);
      if (self == nullptr) return FALSE;
      if (message == WM_INITDIALOG) {
        Init(dialog);
        return TRUE;
      }
      if (message != WM_COMMAND) return FALSE;
      if (LOWORD(wParam) == IDOK) {
        self->Ok(dialog);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
    } catch (...) {
    }
    return FALSE;
  }
};

// --- Update the Scribbix Folder

struct UpdateFolderDlg {
  CComponentChecker& checker;

  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
      auto* self = Self<UpdateFolderDlg>(dialog, message, lParam);
      if (self == nullptr) return FALSE;
      if (message == WM_INITDIALOG) {
        for (const std::string& profile : self->checker.Profiles()) {
          AddItem(dialog, IDC_UPDATE_PROFILES, profile, false);
        }
        if (self->checker.ProfileCount() > 0) Select(dialog, IDC_UPDATE_PROFILES, 0, false);
        return TRUE;
      }
      if (message != WM_COMMAND) return FALSE;
      if (LOWORD(wParam) == IDOK) {
        if (self->checker.ProfileCount() > 0) {
          const int index = Selection(dialog, IDC_UPDATE_PROFILES, false);
          // Whatever the update found, no fresh install follows from here.
          if (index >= 0)
            UpdateFolder(self->checker, ItemText(dialog, IDC_UPDATE_PROFILES, index, false));
        }
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
    } catch (...) {
    }
    return FALSE;
  }
};

INT_PTR Run(int id, HWND owner, DLGPROC proc, void* self) {
  RegisterResources();
  const INT_PTR r =
      DialogBoxParamA(nullptr, MAKEINTRESOURCEA(id), owner, proc, reinterpret_cast<LPARAM>(self));
  return r == IDOK ? IDOK : IDCANCEL;
}

}  // namespace

int MenuModeFromRegistry(bool read, DWORD value) {
  if (!read) return 0;
  return value > 2 ? 2 : static_cast<int>(value);
}

void SaveProfileAssociation(const std::string& palmUser, const std::string& profile) {
  // Without a Palm user (HotSync has none yet) there is nobody to pair: a pair under an empty name
  // would be the key's unnamed value, which the checks would count as a configured handheld.
  if (palmUser.empty()) return;
  CRegistryKey key;
  if (!key.Open(HKEY_CURRENT_USER, kPairsKey, 0) && !key.Create(kPairsKey)) return;
  if (profile.empty()) {
    key.DeleteValue(palmUser.c_str());
  } else {
    key.WriteText(palmUser.c_str(), profile);
  }
}

INT_PTR RunProfilesDlg(const CComponentChecker& checker, HWND owner) {
  ProfilesDlg self{checker, {}, {}};
  return Run(IDD_PROFILES, owner, &ProfilesDlg::Proc, &self);
}

INT_PTR RunProgressOptionDlg(HWND owner) {
  return Run(IDD_PROGRESS_OPTION, owner, &ProgressOptionProc, nullptr);
}

INT_PTR RunOutlookOptionsDlg(const CComponentChecker& checker, HWND owner) {
  OutlookOptionsDlg self{checker};
  return Run(IDD_OUTLOOK_OPTIONS, owner, &OutlookOptionsDlg::Proc, &self);
}

INT_PTR RunUpdateFolderDlg(CComponentChecker& checker, HWND owner) {
  UpdateFolderDlg self{checker};
  return Run(IDD_UPDATE_FOLDER, owner, &UpdateFolderDlg::Proc, &self);
}

}  // namespace sx::configure
