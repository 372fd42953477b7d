// Property sheets in wizard mode (the comctl32 part of the Windows stand-in).
//
// PropertySheetA runs a modal wizard (PSH_WIZARD) on the calling thread: a dialog titled by
// pszCaption with the buttons Back (ID_WIZBACK), Next (ID_WIZNEXT), Finish (ID_WIZFINISH, shown in
// Next's place once a page asks for it) and Cancel (IDCANCEL), over the current page. Pages are
// child dialogs made from their templates (sx::window::register_dialog) when first shown; a page's
// WM_INITDIALOG gets the address of the sheet's copy of its PROPSHEETPAGEA. Pages hear WM_NOTIFY
// (a PSHNOTIFY from the sheet) and answer through DWLP_MSGRESULT, as on Windows:
// - PSN_SETACTIVE before a page is shown: 0 shows it, -1 skips to the next page in the direction of
//   travel, a page's template id goes there;
// - PSN_WIZNEXT / PSN_WIZBACK when Next / Back is pressed: 0 moves one page, -1 stays, a template
// id
//   goes there; then PSN_KILLACTIVE, where TRUE keeps the page;
// - PSN_WIZFINISH when Finish is pressed: 0 ends the wizard, anything else keeps it open;
// - PSN_QUERYCANCEL when Cancel (or closing) is pressed: TRUE keeps the wizard open; otherwise
// every
//   page made so far hears PSN_RESET and the wizard ends.
// PropertySheetA returns 1 when the wizard ended with Finish, 0 when it was cancelled, -1 when it
// could not run (no pages, a missing template; sheets that are not wizards and modeless sheets are
// not supported: ERROR_NOT_SUPPORTED). Under the scripted host the sheet is scripted by its caption
// (press ID_WIZBACK, ID_WIZNEXT, ID_WIZFINISH, IDCANCEL; act on the current page's controls by
// their ids) and each page is recorded when it is left; under the none host the wizard is
// cancelled; the console host shows the current page with the buttons.
#pragma once

#include "win32/winuser.h"

struct _PSP;
using HPROPSHEETPAGE = _PSP*;

struct PROPSHEETPAGEA;
using LPFNPSPCALLBACKA = UINT(CALLBACK*)(HWND hwnd, UINT msg, PROPSHEETPAGEA* page);

struct PROPSHEETPAGEA {
  DWORD dwSize;  // sizeof(PROPSHEETPAGEA), or more: the sheet copies dwSize bytes
  DWORD dwFlags;
  HINSTANCE hInstance;
  union {
    LPCSTR pszTemplate;
    const void* pResource;  // PSP_DLGINDIRECT: not supported
  };
  union {
    HICON hIcon;
    LPCSTR pszIcon;
  };
  LPCSTR pszTitle;  // PSP_USETITLE: a text or MAKEINTRESOURCEA of a string of hInstance
  DLGPROC pfnDlgProc;
  LPARAM lParam;
  LPFNPSPCALLBACKA pfnCallback;  // PSP_USECALLBACK: PSPCB_ADDREF, PSPCB_CREATE, PSPCB_RELEASE
  UINT* pcRefParent;
  LPCSTR pszHeaderTitle;
  LPCSTR pszHeaderSubTitle;
};
using LPPROPSHEETPAGEA = PROPSHEETPAGEA*;
using LPCPROPSHEETPAGEA = const PROPSHEETPAGEA*;

using PFNPROPSHEETCALLBACK = int(CALLBACK*)(HWND hwnd, UINT msg, LPARAM lparam);

struct PROPSHEETHEADERA {
  DWORD dwSize;
  DWORD dwFlags;
  HWND hwndParent;
  HINSTANCE hInstance;
  union {
    HICON hIcon;
    LPCSTR pszIcon;
  };
  LPCSTR pszCaption;
  UINT nPages;
  union {
    UINT nStartPage;
    LPCSTR pStartPage;  // PSH_USEPSTARTPAGE: a page's title
  };
  union {
    LPCPROPSHEETPAGEA ppsp;  // PSH_PROPSHEETPAGE: nPages structures, each dwSize long
    HPROPSHEETPAGE* phpage;  // otherwise: pages from CreatePropertySheetPageA (the sheet owns them)
  };
  PFNPROPSHEETCALLBACK pfnCallback;  // PSH_USECALLBACK: PSCB_INITIALIZED
  union {
    HBITMAP hbmWatermark;
    LPCSTR pszbmWatermark;
  };
  HPALETTE hplWatermark;
  union {
    HBITMAP hbmHeader;
    LPCSTR pszbmHeader;
  };
};
using LPCPROPSHEETHEADERA = const PROPSHEETHEADERA*;

struct PSHNOTIFY {
  NMHDR hdr;
  LPARAM lParam;
};

#define PSP_DEFAULT 0x00000000u
#define PSP_DLGINDIRECT 0x00000001u
#define PSP_USEHICON 0x00000002u
#define PSP_USEICONID 0x00000004u
#define PSP_USETITLE 0x00000008u
#define PSP_HASHELP 0x00000020u
#define PSP_USEREFPARENT 0x00000040u
#define PSP_USECALLBACK 0x00000080u
#define PSP_HIDEHEADER 0x00000800u
#define PSP_USEHEADERTITLE 0x00001000u
#define PSP_USEHEADERSUBTITLE 0x00002000u

#define PSPCB_ADDREF 0u
#define PSPCB_RELEASE 1u
#define PSPCB_CREATE 2u

#define PSH_DEFAULT 0x00000000u
#define PSH_PROPTITLE 0x00000001u
#define PSH_USEHICON 0x00000002u
#define PSH_USEICONID 0x00000004u
#define PSH_PROPSHEETPAGE 0x00000008u
#define PSH_WIZARDHASFINISH 0x00000010u
#define PSH_WIZARD 0x00000020u
#define PSH_USEPSTARTPAGE 0x00000040u
#define PSH_NOAPPLYNOW 0x00000080u
#define PSH_USECALLBACK 0x00000100u
#define PSH_HASHELP 0x00000200u
#define PSH_MODELESS 0x00000400u

#define PSCB_INITIALIZED 1u
#define PSCB_PRECREATE 2u

// Notifications (NMHDR::code of WM_NOTIFY to a page).
#define PSN_FIRST (0u - 200u)
#define PSN_SETACTIVE (PSN_FIRST - 0u)
#define PSN_KILLACTIVE (PSN_FIRST - 1u)
#define PSN_APPLY (PSN_FIRST - 2u)
#define PSN_RESET (PSN_FIRST - 3u)
#define PSN_HELP (PSN_FIRST - 5u)
#define PSN_WIZBACK (PSN_FIRST - 6u)
#define PSN_WIZNEXT (PSN_FIRST - 7u)
#define PSN_WIZFINISH (PSN_FIRST - 8u)
#define PSN_QUERYCANCEL (PSN_FIRST - 9u)

// Messages to the sheet.
#define PSM_SETCURSEL (WM_USER + 101)
#define PSM_CHANGED (WM_USER + 104)
#define PSM_CANCELTOCLOSE (WM_USER + 107)
#define PSM_UNCHANGED (WM_USER + 109)
#define PSM_SETTITLEA (WM_USER + 111)
#define PSM_SETWIZBUTTONS (WM_USER + 112)
#define PSM_PRESSBUTTON (WM_USER + 113)
#define PSM_SETCURSELID (WM_USER + 114)
#define PSM_SETFINISHTEXTA (WM_USER + 115)
#define PSM_GETCURRENTPAGEHWND (WM_USER + 118)

#define PSWIZB_BACK 0x00000001u
#define PSWIZB_NEXT 0x00000002u
#define PSWIZB_FINISH 0x00000004u
#define PSWIZB_DISABLEDFINISH 0x00000008u

#define PSBTN_BACK 0
#define PSBTN_NEXT 1
#define PSBTN_FINISH 2
#define PSBTN_OK 3
#define PSBTN_APPLYNOW 4
#define PSBTN_CANCEL 5
#define PSBTN_HELP 6

// The wizard's buttons (as MFC's afxres.h names them).
#define ID_WIZBACK 0x3023
#define ID_WIZNEXT 0x3024
#define ID_WIZFINISH 0x3025

#define PropSheet_SetWizButtons(sheet, flags) \
  PostMessageA((sheet), PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(flags))
#define PropSheet_PressButton(sheet, button) \
  PostMessageA((sheet), PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0)
#define PropSheet_SetCurSel(sheet, page, index) \
  SendMessageA((sheet), PSM_SETCURSEL, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(page))
#define PropSheet_GetCurrentPageHwnd(sheet) \
  reinterpret_cast<HWND>(SendMessageA((sheet), PSM_GETCURRENTPAGEHWND, 0, 0))

extern "C" {

INT_PTR PropertySheetA(LPCPROPSHEETHEADERA header);
// A page that a sheet can take (phpage); a sheet that took it destroys it.
HPROPSHEETPAGE CreatePropertySheetPageA(LPCPROPSHEETPAGEA page);
BOOL DestroyPropertySheetPage(HPROPSHEETPAGE page);

}  // extern "C"
