#include "wizard.h"

#include <vector>

#include "folder_install.h"
#include "option_dialogs.h"
#include "prsht.h"
#include "resources.h"

namespace sx::configure {
namespace {

std::string SelectedText(HWND page, int id) {
  const LRESULT index = SendDlgItemMessageA(page, id, LB_GETCURSEL, 0, 0);
  if (index < 0) return {};
  const LRESULT length =
      SendDlgItemMessageA(page, id, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length < 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  SendDlgItemMessageA(page, id, LB_GETTEXT, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

void AddItem(HWND page, int id, const std::string& text) {
  SendDlgItemMessageA(page, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void StoreFolderAction(HWND page, CWizardSettings& settings) {
  settings.folderAction =
      IsDlgButtonChecked(page, IDC_REPLACE) == BST_CHECKED ? kReplaceFolder : kUpdateFolder;
}

void InitPage(HWND page, int id, CWizardSettings& settings) {
  switch (id) {
    case IDD_PAGE_FIRST:
      for (const std::string& user : settings.checker.PalmUsers()) {
        AddItem(page, IDC_WIZARD_USERS, user);
      }
      if (SendDlgItemMessageA(page, IDC_WIZARD_USERS, LB_GETCOUNT, 0, 0) > 0) {
        SendDlgItemMessageA(page, IDC_WIZARD_USERS, LB_SETCURSEL, 0, 0);
      }
      break;
    case IDD_PAGE_OUTLOOK:
      for (const std::string& profile : settings.checker.Profiles()) {
        AddItem(page, IDC_WIZARD_PROFILES, profile);
      }
      if (!settings.checker.Profiles().empty()) {
        SendDlgItemMessageA(page, IDC_WIZARD_PROFILES, LB_SETCURSEL,
                            static_cast<WPARAM>(settings.checker.DefaultProfileIndex()), 0);
      }
      break;
    case IDD_PAGE_UPDATE:
      CheckRadioButton(page, IDC_UPDATE, IDC_REPLACE,
                       settings.folderAction == kReplaceFolder ? IDC_REPLACE : IDC_UPDATE);
      break;
    default:
      break;
  }
}

// Answers a page's notification; the page stays where the sheet takes it (result 0).
void Notify(HWND page, int id, UINT code, CWizardSettings& settings) {
  HWND sheet = GetParent(page);
  if (code == PSN_SETACTIVE) {
    switch (id) {
      case IDD_PAGE_FIRST:
        PropSheet_SetWizButtons(sheet, PSWIZB_NEXT);
        break;
      case IDD_PAGE_FINAL:
        PropSheet_SetWizButtons(sheet, PSWIZB_BACK | PSWIZB_FINISH);
        SetDlgItemTextA(page, IDC_FINAL_USER, settings.palmUser.c_str());
        SetDlgItemTextA(page, IDC_FINAL_PROFILE, settings.profile.c_str());
        SetDlgItemTextA(page, IDC_FINAL_FOLDER,
                        settings.folderAction == kReplaceFolder ? "Replace" : "Update");
        break;
      default:
        PropSheet_SetWizButtons(sheet, PSWIZB_BACK | PSWIZB_NEXT);
        break;
    }
  } else if (code == PSN_WIZNEXT) {
    if (id == IDD_PAGE_FIRST) settings.palmUser = SelectedText(page, IDC_WIZARD_USERS);
    if (id == IDD_PAGE_OUTLOOK) settings.profile = SelectedText(page, IDC_WIZARD_PROFILES);
    if (id == IDD_PAGE_UPDATE) StoreFolderAction(page, settings);
  } else if (code == PSN_WIZBACK) {
    if (id == IDD_PAGE_UPDATE) StoreFolderAction(page, settings);
  }
}

struct PageData {
  int id;
  CWizardSettings* settings;
};

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM, LPARAM lParam) {
  try {
    if (message == WM_INITDIALOG) {
      const auto* sheetPage = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
      auto* data = reinterpret_cast<PageData*>(sheetPage->lParam);
      SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(data));
      InitPage(page, data->id, *data->settings);
      return TRUE;
    }
    auto* data = reinterpret_cast<PageData*>(GetWindowLongPtrA(page, DWLP_USER));
    if (message == WM_NOTIFY && data != nullptr) {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      Notify(page, data->id, header->code, *data->settings);
      SetWindowLongPtrA(page, DWLP_MSGRESULT, 0);
      return TRUE;
    }
  } catch (...) {
  }
  return FALSE;
}

}  // namespace

bool RunWizard(CWizardSettings& settings, HWND owner) {
  RegisterResources();
  const CComponentChecker& checker = settings.checker;
  std::vector<int> pages;
  if (checker.PalmUserCount() == 1 && !checker.PalmUsers().empty()) {
    settings.palmUser = *checker.PalmUsers().begin();
  } else {
    pages.push_back(IDD_PAGE_FIRST);
  }
  if (checker.ProfileCount() > 1) {
    pages.push_back(IDD_PAGE_OUTLOOK);
  } else if (checker.ProfileCount() == 1 && !checker.Profiles().empty()) {
    settings.profile = *checker.Profiles().begin();
  }
  pages.push_back(IDD_PAGE_UPDATE);
  pages.push_back(IDD_PAGE_FINAL);

  std::vector<PageData> data;
  data.reserve(pages.size());
  std::vector<PROPSHEETPAGEA> sheetPages;
  for (int id : pages) {
    data.push_back({id, &settings});
    PROPSHEETPAGEA page{};
    page.dwSize = sizeof page;
    page.hInstance = nullptr;
    page.pszTemplate = MAKEINTRESOURCEA(id);
    page.pfnDlgProc = &PageProc;
    page.lParam = reinterpret_cast<LPARAM>(&data.back());
    sheetPages.push_back(page);
  }
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_PROPSHEETPAGE | PSH_WIZARD;
  header.hwndParent = owner;
  header.pszCaption = "Installation Wizard";
  header.nPages = static_cast<UINT>(sheetPages.size());
  header.ppsp = sheetPages.data();
  if (PropertySheetA(&header) != 1) return false;
  ApplySettings(settings);
  return true;
}

FolderOutcome ApplySettings(CWizardSettings& settings) {
  SaveProfileAssociation(settings.palmUser, settings.profile);
  settings.outcome = kFolderDone;
  if (settings.checker.ProfileCount() == 0) return settings.outcome;
  if (settings.folderAction == kUpdateFolder) {
    const long r = UpdateFolder(settings.checker, settings.profile);
    // The update did the work, or has reported why it could not.
    if (r != kNoNotesFolder && r != NO_UPDATE_FILE) {
      settings.outcome = r == kUpdateCancelled ? kFolderCancelled
                         : r < 0               ? kFolderFailed
                                               : kFolderDone;
      return settings.outcome;
    }
  }
  if (InstallFolder(settings.checker, settings.palmUser, settings.profile) != 1)
    settings.outcome = kFolderFailed;
  return settings.outcome;
}

}  // namespace sx::configure
