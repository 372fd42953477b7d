// Windows, dialogs, messages, timers and message boxes (the user32 part of the Windows stand-in).
//
// Semantics follow Win32 for what the system uses:
// - A window belongs to the thread that created it. SendMessageA from another thread is queued to
// the
//   owner thread and the sender waits for the reply (while it waits it still answers messages sent
//   to its own windows). PostMessageA queues and returns.
// - Each thread has one message queue, created on first use. Waiting for messages goes through the
//   one clock (sx/clock.h), with the next due timer as deadline, so timers run on virtual time.
// - A handle stays valid until its window is destroyed; afterwards every call that takes it fails
//   with ERROR_INVALID_WINDOW_HANDLE (or returns 0 where the Win32 function has no error result).
// - What happens when a dialog or message box is shown depends on the window host (sx/window.h).
// - Dialog templates come from sx::window::register_dialog (sx/window.h), not from resource files.
#pragma once

#include "win32/errors.h"
#include "win32/types.h"
#include "win32/wingdi.h"

struct HICON__;
using HICON = HICON__*;
using HCURSOR = HICON;

struct POINT {
  LONG x;
  LONG y;
};
struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
using LPMSG = MSG*;

using WNDPROC = LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);
using DLGPROC = INT_PTR(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void(CALLBACK*)(HWND, UINT, UINT_PTR, DWORD);

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
};

struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};

#ifndef MAKEINTRESOURCEA
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<UINT_PTR>(static_cast<WORD>(i))))
#endif
#ifndef IS_INTRESOURCE
#define IS_INTRESOURCE(r) ((reinterpret_cast<UINT_PTR>(r) >> 16) == 0)
#endif

// Messages.
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_ENABLE 0x000A
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_ERASEBKGND 0x0014
#define WM_SHOWWINDOW 0x0018
#define WM_ICONERASEBKGND 0x0027
#define WM_NOTIFY 0x004E
#define WM_GETICON 0x007F
#define WM_SETICON 0x0080
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_CTLCOLORMSGBOX 0x0132
#define WM_CTLCOLOREDIT 0x0133
#define WM_CTLCOLORLISTBOX 0x0134
#define WM_CTLCOLORBTN 0x0135
#define WM_CTLCOLORDLG 0x0136
#define WM_CTLCOLORSCROLLBAR 0x0137
#define WM_CTLCOLORSTATIC 0x0138
// Input messages: no host sends them (the hosts act on controls and menus); a window procedure may
// still handle them as on Windows.
#define WM_KEYDOWN 0x0100
#define WM_LBUTTONDOWN 0x0201
#define WM_RBUTTONDOWN 0x0204
#define WM_MBUTTONDOWN 0x0207
#define WM_USER 0x0400
#define WM_APP 0x8000

// Notification codes (HIWORD of WM_COMMAND's wParam).
#define BN_CLICKED 0
#define EN_CHANGE 0x0300
#define LBN_SELCHANGE 1
#define CBN_SELCHANGE 1

// Buttons.
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BM_CLICK 0x00F5
#define BST_UNCHECKED 0x0000
#define BST_CHECKED 0x0001
#define BST_INDETERMINATE 0x0002

// Edits.
#define EM_SETREADONLY 0x00CF
#define EM_LIMITTEXT 0x00C5
#define EM_SETLIMITTEXT EM_LIMITTEXT
#define EM_GETLIMITTEXT 0x00D5

// List boxes.
#define LB_ADDSTRING 0x0180
#define LB_INSERTSTRING 0x0181
#define LB_DELETESTRING 0x0182
#define LB_RESETCONTENT 0x0184
#define LB_SETCURSEL 0x0186
#define LB_GETCURSEL 0x0188
#define LB_GETTEXT 0x0189
#define LB_GETTEXTLEN 0x018A
#define LB_GETCOUNT 0x018B
#define LB_FINDSTRINGEXACT 0x01A2
#define LB_ERR (-1)
#define LB_ERRSPACE (-2)

// Combo boxes.
#define CB_ADDSTRING 0x0143
#define CB_DELETESTRING 0x0144
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_GETLBTEXT 0x0148
#define CB_GETLBTEXTLEN 0x0149
#define CB_INSERTSTRING 0x014A
#define CB_RESETCONTENT 0x014B
#define CB_SETCURSEL 0x014E
#define CB_FINDSTRINGEXACT 0x0158
#define CB_ERR (-1)
#define CB_ERRSPACE (-2)

// Progress bars.
#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define PBM_DELTAPOS (WM_USER + 3)
#define PBM_SETSTEP (WM_USER + 4)
#define PBM_STEPIT (WM_USER + 5)
#define PBM_SETRANGE32 (WM_USER + 6)
#define PBM_GETRANGE (WM_USER + 7)
#define PBM_GETPOS (WM_USER + 8)
#define PROGRESS_CLASSA "msctls_progress32"

// Dialog box command ids.
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define IDC_STATIC (-1)

// Message box types.
#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ABORTRETRYIGNORE 0x00000002u
#define MB_YESNOCANCEL 0x00000003u
#define MB_YESNO 0x00000004u
#define MB_RETRYCANCEL 0x00000005u
#define MB_ICONHAND 0x00000010u
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONASTERISK 0x00000040u
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_DEFBUTTON1 0x00000000u
#define MB_DEFBUTTON2 0x00000100u
#define MB_DEFBUTTON3 0x00000200u
#define MB_APPLMODAL 0x00000000u
#define MB_SYSTEMMODAL 0x00001000u
#define MB_TASKMODAL 0x00002000u
#define MB_SETFOREGROUND 0x00010000u
#define MB_TOPMOST 0x00040000u
#define MB_TYPEMASK 0x0000000Fu
#define MB_ICONMASK 0x000000F0u
#define MB_DEFMASK 0x00000F00u

// ShowWindow commands.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9

// PeekMessage flags.
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

// Window styles.
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP static_cast<LONG>(0x80000000u)
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_VSCROLL 0x00200000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_OVERLAPPEDWINDOW 0x00CF0000L
#define WS_EX_TOPMOST 0x00000008L
#define CW_USEDEFAULT (static_cast<int>(0x80000000u))

// Dialog styles.
#define DS_3DLOOK 0x0004L
#define DS_SETFONT 0x0040L
#define DS_MODALFRAME 0x0080L
#define DS_SETFOREGROUND 0x0200L
#define DS_CONTROL 0x0400L
#define DS_CENTER 0x0800L

// Control styles.
#define ES_LEFT 0x0000L
#define ES_CENTER 0x0001L
#define ES_MULTILINE 0x0004L
#define ES_AUTOVSCROLL 0x0040L
#define ES_AUTOHSCROLL 0x0080L
#define ES_READONLY 0x0800L
#define ES_WANTRETURN 0x1000L
#define ES_NUMBER 0x2000L
#define BS_PUSHBUTTON 0x0000L
#define BS_DEFPUSHBUTTON 0x0001L
#define BS_CHECKBOX 0x0002L
#define BS_AUTOCHECKBOX 0x0003L
#define BS_RADIOBUTTON 0x0004L
#define BS_GROUPBOX 0x0007L
#define BS_AUTORADIOBUTTON 0x0009L
#define SS_LEFT 0x0000L
#define SS_CENTER 0x0001L
#define LBS_NOTIFY 0x0001L
#define LBS_SORT 0x0002L
#define CBS_DROPDOWN 0x0002L
#define CBS_DROPDOWNLIST 0x0003L
#define CBS_SORT 0x0100L
#define PBS_SMOOTH 0x01

// Window data offsets.
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWL_ID (-12)
#define GWLP_ID (-12)
#define GWLP_USERDATA (-21)
#define DWLP_MSGRESULT 0
#define DWLP_DLGPROC 8
#define DWLP_USER 16

#define USER_TIMER_MINIMUM 0x0000000Au

// Parent of a message-only window (CreateWindowExA): it receives messages but is never shown, is
// not a top-level window and FindWindowA does not see it.
#define HWND_MESSAGE (reinterpret_cast<HWND>(static_cast<INT_PTR>(-3)))
// WM_NOTIFY's parameter: which control tells what.
struct NMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  UINT code;
};
using LPNMHDR = NMHDR*;

// WM_SETICON / WM_GETICON.
#define ICON_SMALL 0
#define ICON_BIG 1

// System commands (WM_SYSCOMMAND's wParam; the low four bits are the system's own).
#define SC_SIZE 0xF000
#define SC_MOVE 0xF010
#define SC_MINIMIZE 0xF020
#define SC_MAXIMIZE 0xF030
#define SC_CLOSE 0xF060
#define SC_RESTORE 0xF120

// Menus.
#define MF_STRING 0x0000u
#define MF_ENABLED 0x0000u
#define MF_UNCHECKED 0x0000u
#define MF_BYCOMMAND 0x0000u
#define MF_GRAYED 0x0001u
#define MF_DISABLED 0x0002u
#define MF_CHECKED 0x0008u
#define MF_POPUP 0x0010u
#define MF_BYPOSITION 0x0400u
#define MF_SEPARATOR 0x0800u

// Painting.
struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;  // the background still needs erasing (WM_ERASEBKGND returned 0)
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};
using LPPAINTSTRUCT = PAINTSTRUCT*;

// Stock icons and cursors (LoadIconA / LoadCursorA with a null module).
#define IDI_APPLICATION MAKEINTRESOURCEA(32512)
#define IDI_HAND MAKEINTRESOURCEA(32513)
#define IDI_QUESTION MAKEINTRESOURCEA(32514)
#define IDI_EXCLAMATION MAKEINTRESOURCEA(32515)
#define IDI_ASTERISK MAKEINTRESOURCEA(32516)
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDC_IBEAM MAKEINTRESOURCEA(32513)
#define IDC_WAIT MAKEINTRESOURCEA(32514)
#define IDC_CROSS MAKEINTRESOURCEA(32515)
#define IDC_HAND MAKEINTRESOURCEA(32649)
#define IDC_APPSTARTING MAKEINTRESOURCEA(32650)

// LoadImageA.
#define IMAGE_BITMAP 0u
#define IMAGE_ICON 1u
#define IMAGE_CURSOR 2u
#define LR_DEFAULTCOLOR 0x00000000u
#define LR_LOADFROMFILE 0x00000010u
#define LR_DEFAULTSIZE 0x00000040u
#define LR_SHARED 0x00008000u
#define LR_CREATEDIBSECTION 0x00002000u

// GetSystemMetrics (the simulated screen: 1024 x 768, the classic Windows XP frame sizes).
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CYCAPTION 4
#define SM_CXBORDER 5
#define SM_CYBORDER 6
#define SM_CXDLGFRAME 7
#define SM_CYDLGFRAME 8
#define SM_CXFIXEDFRAME SM_CXDLGFRAME
#define SM_CYFIXEDFRAME SM_CYDLGFRAME
#define SM_CXICON 11
#define SM_CYICON 12
#define SM_CXCURSOR 13
#define SM_CYCURSOR 14
#define SM_CYMENU 15
#define SM_CXFRAME 32
#define SM_CYFRAME 33
#define SM_CXSMICON 49
#define SM_CYSMICON 50

// SetWindowPos.
#define SWP_NOSIZE 0x0001u
#define SWP_NOMOVE 0x0002u
#define SWP_NOZORDER 0x0004u
#define SWP_NOREDRAW 0x0008u
#define SWP_NOACTIVATE 0x0010u
#define SWP_FRAMECHANGED 0x0020u
#define SWP_SHOWWINDOW 0x0040u
#define SWP_HIDEWINDOW 0x0080u
#define HWND_TOP (reinterpret_cast<HWND>(0))
#define HWND_BOTTOM (reinterpret_cast<HWND>(1))
#define HWND_TOPMOST (reinterpret_cast<HWND>(-1))
#define HWND_NOTOPMOST (reinterpret_cast<HWND>(-2))

// System colours (GetSysColor): the colours of Windows XP's default theme.
#define COLOR_SCROLLBAR 0
#define COLOR_BACKGROUND 1
#define COLOR_ACTIVECAPTION 2
#define COLOR_INACTIVECAPTION 3
#define COLOR_MENU 4
#define COLOR_WINDOW 5
#define COLOR_WINDOWFRAME 6
#define COLOR_MENUTEXT 7
#define COLOR_WINDOWTEXT 8
#define COLOR_CAPTIONTEXT 9
#define COLOR_ACTIVEBORDER 10
#define COLOR_INACTIVEBORDER 11
#define COLOR_APPWORKSPACE 12
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14
#define COLOR_BTNFACE 15
#define COLOR_BTNSHADOW 16
#define COLOR_GRAYTEXT 17
#define COLOR_BTNTEXT 18
#define COLOR_INACTIVECAPTIONTEXT 19
#define COLOR_BTNHIGHLIGHT 20
#define COLOR_3DDKSHADOW 21
#define COLOR_3DLIGHT 22
#define COLOR_INFOTEXT 23
#define COLOR_INFOBK 24
#define COLOR_3DFACE COLOR_BTNFACE

extern "C" {

// Dialogs. The template is looked up by (hInstance, name): `name` is MAKEINTRESOURCEA(id) or a
// string. A missing template gives -1 (DialogBox) or null (CreateDialog) with
// ERROR_RESOURCE_DATA_NOT_FOUND. DialogBoxParamA runs a modal loop on the calling thread until
// EndDialog and returns its value; the owner is disabled meanwhile.
INT_PTR DialogBoxParamA(HINSTANCE hInstance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param);
INT_PTR DialogBoxA(HINSTANCE hInstance, LPCSTR name, HWND owner, DLGPROC proc);
HWND CreateDialogParamA(HINSTANCE hInstance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param);
HWND CreateDialogA(HINSTANCE hInstance, LPCSTR name, HWND owner, DLGPROC proc);
// Ends a modal dialog with `result` (its loop returns after the current message); on a modeless
// dialog it only hides the window. Any thread may call it.
BOOL EndDialog(HWND dialog, INT_PTR result);

// Windows of registered classes (for windows that are not dialogs, e.g. a splash window).
ATOM RegisterClassA(const WNDCLASSA* wc);
BOOL UnregisterClassA(LPCSTR class_name, HINSTANCE hInstance);
HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE hInstance,
                     LPVOID param);
LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Window state. DestroyWindow must be called on the owner thread (else ERROR_ACCESS_DENIED); it
// sends WM_DESTROY to the window, then destroys its children and the windows it owns.
BOOL DestroyWindow(HWND hwnd);
BOOL ShowWindow(HWND hwnd, int command);  // previous visibility
BOOL IsWindow(HWND hwnd);
BOOL IsWindowVisible(HWND hwnd);
BOOL IsWindowEnabled(HWND hwnd);
BOOL EnableWindow(HWND hwnd, BOOL enable);  // nonzero when the window was disabled before
// Sends WM_PAINT at once when the shown window's update region is not empty.
BOOL UpdateWindow(HWND hwnd);
HWND GetParent(HWND hwnd);
BOOL SetForegroundWindow(HWND hwnd);
HWND GetForegroundWindow();
BOOL SetWindowTextA(HWND hwnd, LPCSTR text);
// Copies at most max_count - 1 characters and a terminating NUL; returns the characters copied.
// max_count 0 writes nothing. On an invalid handle returns 0 and, when max_count > 0, stores "".
int GetWindowTextA(HWND hwnd, LPSTR buffer, int max_count);
int GetWindowTextLengthA(HWND hwnd);
LONG_PTR GetWindowLongPtrA(HWND hwnd, int index);
LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value);

// Dialog items.
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND control);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int max_count);  // as GetWindowTextA
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL is_signed);
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL is_signed);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
BOOL CheckRadioButton(HWND dialog, int first_id, int last_id, int check_id);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam);

// Messages and timers.
LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);  // null hwnd: thread message
// Returns FALSE for WM_QUIT, -1 when `hwnd` is not a window, else TRUE.
BOOL GetMessageA(LPMSG msg, HWND hwnd, UINT filter_min, UINT filter_max);
BOOL PeekMessageA(LPMSG msg, HWND hwnd, UINT filter_min, UINT filter_max, UINT remove);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
BOOL IsDialogMessageA(HWND dialog, LPMSG msg);
void PostQuitMessage(int exit_code);
// Timers belong to the thread that owns `hwnd` (or the calling thread for a null hwnd) and must be
// set from that thread. WM_TIMER arrives when the queue has nothing else to deliver.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// Top-level windows by class ("#32770" for dialogs) and title, either of them null for "any"; both
// compared without regard to case. Sees the windows of every stand-in process of the machine.
HWND FindWindowA(LPCSTR class_name, LPCSTR title);

// A modal message box on the calling thread, answered by the window host. Returns IDOK, IDCANCEL,
// IDYES, IDNO, ...; 0 on a bad type.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// --- Resources of a module (declared in code: sx/resources.h) ---
// Copies string `id` of `hInstance` (null: the program) into `buffer`: at most max_count - 1
// characters and a NUL. Returns the characters copied; 0 when the string does not exist (buffer
// set to "" when it has room). max_count 0 returns nothing.
int LoadStringA(HINSTANCE hInstance, UINT id, LPSTR buffer, int max_count);
// Icons: a module's icon resource, or with a null module a stock icon (IDI_*). Shared: never
// destroyed. Null with ERROR_RESOURCE_NAME_NOT_FOUND (1814) when missing.
HICON LoadIconA(HINSTANCE hInstance, LPCSTR name);
// Stock cursors only (IDC_* with a null module).
HCURSOR LoadCursorA(HINSTANCE hInstance, LPCSTR name);
// IMAGE_BITMAP from a module's bitmap resources: a DIB section with LR_CREATEDIBSECTION, else a
// device-dependent bitmap; cx/cy 0 keep the bitmap's own size, others stretch it. IMAGE_ICON as
// LoadIconA at the size asked. LR_LOADFROMFILE is not supported (ERROR_NOT_SUPPORTED). Delete a
// bitmap with DeleteObject.
HANDLE LoadImageA(HINSTANCE hInstance, LPCSTR name, UINT type, int cx, int cy, UINT flags);
BOOL DestroyIcon(HICON icon);  // shared icons stay; TRUE

// --- Menus (sx/resources.h declares menu resources) ---
// A menu made from `hInstance`'s menu resource; destroy it with DestroyMenu unless a window owns it
// (a window destroys its menu bar with itself).
HMENU LoadMenuA(HINSTANCE hInstance, LPCSTR name);
HMENU CreateMenu();
HMENU CreatePopupMenu();
BOOL DestroyMenu(HMENU menu);  // and its submenus
BOOL IsMenu(HMENU menu);
// MF_STRING (text), MF_SEPARATOR, MF_POPUP (id is the submenu's HMENU), with MF_GRAYED/MF_DISABLED
// and MF_CHECKED.
BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR text);
BOOL DeleteMenu(HMENU menu, UINT item, UINT flags);  // MF_BYCOMMAND (searches submenus) / POSITION
int GetMenuItemCount(HMENU menu);                    // -1 for a bad menu
UINT GetMenuItemID(HMENU menu, int position);        // 0xFFFFFFFF for a popup or a bad position
HMENU GetSubMenu(HMENU menu, int position);
int GetMenuStringA(HMENU menu, UINT item, LPSTR buffer, int max_count, UINT flags);
// Previous state (MF_ENABLED/MF_GRAYED/MF_DISABLED), 0xFFFFFFFF when the item does not exist.
UINT EnableMenuItem(HMENU menu, UINT item, UINT flags);
DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags);  // previous MF_CHECKED state, or -1
UINT GetMenuState(HMENU menu, UINT item, UINT flags);    // MF_* flags, 0xFFFFFFFF when missing
// The menu bar of a top-level window; the previous bar is not destroyed.
BOOL SetMenu(HWND hwnd, HMENU menu);
HMENU GetMenu(HWND hwnd);
BOOL DrawMenuBar(HWND hwnd);
// The window menu of a top-level window: a copy of the standard one, made on first use, that the
// program may change; revert TRUE drops the copy and returns null. Choosing one of its items sends
// WM_SYSCOMMAND with the item's id.
HMENU GetSystemMenu(HWND hwnd, BOOL revert);

// --- Painting ---
// A visible window whose update region is not empty gets WM_PAINT when its thread's queue has no
// sent or posted message left (before timers). Showing a window, sizing it and InvalidateRect make
// it (and its children) need painting; BeginPaint empties the region. A window procedure that
// leaves WM_PAINT without BeginPaint/EndPaint (or DefWindowProc) has its region emptied for it,
// with a line on stderr, where Windows would send WM_PAINT forever.
HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT paint);  // sends WM_ERASEBKGND when the erase flag is set
BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint);
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);  // null rect: the whole client area
BOOL ValidateRect(HWND hwnd, const RECT* rect);                // null rect: the whole update region
BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL erase);
HDC GetDC(HWND hwnd);  // null: the screen
int ReleaseDC(HWND hwnd, HDC dc);
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);  // recorded
BOOL DrawIcon(HDC dc, int x, int y, HICON icon);       // recorded
BOOL IsIconic(HWND hwnd);

// --- Cursors ---
// The current cursor, process-wide; every change is recorded. Returns the previous cursor.
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();

// --- Colours ---
DWORD GetSysColor(int index);        // 0 for an unknown index
HBRUSH GetSysColorBrush(int index);  // a stock brush of that colour; null for an unknown index

// --- Geometry ---
// Window rectangles are in screen coordinates; a child's position is relative to its parent's
// client area. Dialog units become pixels with base units 6 x 13 (MS Sans Serif 8 at 96 dpi). A
// window's frame: 3 pixels for a dialog frame or a caption, 4 for a sizing frame, 1 for a plain
// border; a caption is 19 pixels high and a menu bar 19. Moving or sizing sends no WM_MOVE/WM_SIZE.
int GetSystemMetrics(int index);  // 0 for an unknown index
BOOL GetWindowRect(HWND hwnd, RECT* rect);
BOOL GetClientRect(HWND hwnd, RECT* rect);  // (0, 0, width, height); an icon's size when iconic
BOOL SetWindowPos(HWND hwnd, HWND insert_after, int x, int y, int cx, int cy, UINT flags);
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
BOOL MapDialogRect(HWND dialog, RECT* rect);

}  // extern "C"
