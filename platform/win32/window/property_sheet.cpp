// Property sheets in wizard mode: PropertySheetA, its pages and their notifications (see
// win32/prsht.h).
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <set>

#include "boundary.h"
#include "core.h"
#include "win32/commctrl.h"

// The page behind an HPROPSHEETPAGE: the caller's PROPSHEETPAGEA, copied.
struct _PSP {
  std::vector<unsigned char> bytes;
  PROPSHEETPAGEA* page() { return reinterpret_cast<PROPSHEETPAGEA*>(bytes.data()); }
};

namespace sx::window::detail {
namespace {

constexpr std::size_t kMinPageSize = offsetof(PROPSHEETPAGEA, pszHeaderTitle);
constexpr std::size_t kMaxPageSize = 4096;
constexpr std::size_t kMinHeaderSize = offsetof(PROPSHEETHEADERA, hbmWatermark);
constexpr int kButtonRow = 26;  // dialog units below the pages

// Live page handles, so that a stray handle is refused instead of followed.
struct PageHandles {
  std::mutex mutex;
  std::set<_PSP*> live;
};
PageHandles& page_handles() {
  static auto* h = new PageHandles();
  return *h;
}

bool is_live(_PSP* page) {
  std::lock_guard lock(page_handles().mutex);
  return page_handles().live.count(page) != 0;
}

_PSP* copy_page(const PROPSHEETPAGEA* source) {
  if (source == nullptr || source->dwSize < kMinPageSize || source->dwSize > kMaxPageSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* page = new _PSP;
  page->bytes.assign(std::max<std::size_t>(source->dwSize, sizeof(PROPSHEETPAGEA)), 0);
  std::memcpy(page->bytes.data(), source, source->dwSize);
  {
    std::lock_guard lock(page_handles().mutex);
    page_handles().live.insert(page);
  }
  PROPSHEETPAGEA* p = page->page();
  if ((p->dwFlags & PSP_USECALLBACK) && p->pfnCallback != nullptr) {
    p->pfnCallback(nullptr, PSPCB_ADDREF, p);
  }
  return page;
}

void release_page(_PSP* page) {
  {
    std::lock_guard lock(page_handles().mutex);
    if (page_handles().live.erase(page) == 0) return;
  }
  PROPSHEETPAGEA* p = page->page();
  if ((p->dwFlags & PSP_USECALLBACK) && p->pfnCallback != nullptr) {
    p->pfnCallback(nullptr, PSPCB_RELEASE, p);
  }
  delete page;
}

struct Page {
  _PSP* source = nullptr;
  DialogTemplate dialog;
  int resource_id = 0;
  std::string title;
  HWND hwnd = nullptr;
};

struct Sheet {
  HWND hwnd = nullptr;
  std::vector<Page> pages;
  int start = 0;
  int current = -1;
  DWORD buttons = 0;
  bool always_finish = false;  // PSH_WIZARDHASFINISH
  bool finished = false;
  PFNPROPSHEETCALLBACK callback = nullptr;
};

bool describe_page(_PSP* source, Page* page) {
  PROPSHEETPAGEA* p = source->page();
  if (p->dwFlags & PSP_DLGINDIRECT) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  auto dialog = find_dialog(p->hInstance, p->pszTemplate);
  if (!dialog) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return false;
  }
  page->source = source;
  page->resource_id = IS_INTRESOURCE(p->pszTemplate)
                          ? static_cast<int>(reinterpret_cast<std::uintptr_t>(p->pszTemplate))
                          : 0;
  page->title = dialog->title;
  if ((p->dwFlags & PSP_USETITLE) && p->pszTitle != nullptr) {
    if (IS_INTRESOURCE(p->pszTitle)) {
      char text[256];
      const UINT id = static_cast<UINT>(reinterpret_cast<std::uintptr_t>(p->pszTitle));
      if (LoadStringA(p->hInstance, id, text, sizeof text) > 0) page->title = text;
    } else {
      page->title = p->pszTitle;
    }
  }
  // A page is a child dialog at the top left of the sheet, shown when it becomes current.
  page->dialog = *dialog;
  page->dialog.style =
      (dialog->style & ~static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                                           WS_VISIBLE | DS_CENTER)) |
      WS_CHILD | DS_CONTROL;
  page->dialog.x = page->dialog.y = 0;
  page->dialog.menu = 0;
  page->dialog.title = page->title;
  return true;
}

LRESULT notify(const Sheet& sheet, HWND page, UINT code) {
  PSHNOTIFY n{};
  n.hdr.hwndFrom = sheet.hwnd;
  n.hdr.idFrom = 0;
  n.hdr.code = code;
  return SendMessageA(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&n));
}

int find_page_by_id(const Sheet& sheet, LRESULT id) {
  for (std::size_t i = 0; i < sheet.pages.size(); ++i) {
    if (sheet.pages[i].resource_id == id) return static_cast<int>(i);
  }
  return -1;
}

bool ensure_created(Sheet& sheet, int index) {
  Page& page = sheet.pages[static_cast<std::size_t>(index)];
  if (page.hwnd != nullptr) return true;
  PROPSHEETPAGEA* p = page.source->page();
  if ((p->dwFlags & PSP_USECALLBACK) && p->pfnCallback != nullptr &&
      p->pfnCallback(nullptr, PSPCB_CREATE, p) == 0) {
    return false;  // the page refused to be made
  }
  page.hwnd = create_dialog(page.dialog, sheet.hwnd, p->pfnDlgProc, reinterpret_cast<LPARAM>(p),
                            false, page.resource_id, p->hInstance);
  return page.hwnd != nullptr;
}

// What the user saw on the current page, for the scripted host's record.
std::optional<ShownWindow> snapshot_page(const Sheet& sheet) {
  if (host() != Host::kScripted || sheet.current < 0) return std::nullopt;
  const Page& page = sheet.pages[static_cast<std::size_t>(sheet.current)];
  Guard guard = sx::kernel::lock();
  auto w = find_locked(page.hwnd);
  if (!w) return std::nullopt;
  ShownWindow shown = snapshot_locked(*w);
  shown.kind = ShownWindow::Kind::kPropertyPage;
  shown.title = page.title;
  shown.wizard_buttons = sheet.buttons;
  return shown;
}

void record_if(std::optional<ShownWindow> shown) {
  if (shown) record(std::move(*shown));
}

// Makes page `index` current, skipping pages that refuse in `direction` (PSN_SETACTIVE -1).
bool set_current(Sheet& sheet, int index, int direction) {
  const int count = static_cast<int>(sheet.pages.size());
  for (int tries = 0; tries <= 2 * count && index >= 0 && index < count; ++tries) {
    if (!ensure_created(sheet, index)) return false;
    const LRESULT answer =
        notify(sheet, sheet.pages[static_cast<std::size_t>(index)].hwnd, PSN_SETACTIVE);
    if (answer == 0) {
      if (sheet.current >= 0 && sheet.current != index) {
        ShowWindow(sheet.pages[static_cast<std::size_t>(sheet.current)].hwnd, SW_HIDE);
      }
      sheet.current = index;
      ShowWindow(sheet.pages[static_cast<std::size_t>(index)].hwnd, SW_SHOW);
      return true;
    }
    index = answer == -1 ? index + direction : find_page_by_id(sheet, answer);
  }
  return false;
}

// Next (+1) or Back (-1).
void move(Sheet& sheet, int direction) {
  if (sheet.current < 0) return;
  HWND page = sheet.pages[static_cast<std::size_t>(sheet.current)].hwnd;
  auto shown = snapshot_page(sheet);
  const LRESULT answer = notify(sheet, page, direction > 0 ? PSN_WIZNEXT : PSN_WIZBACK);
  if (answer == -1) return;
  const int target = answer == 0 ? sheet.current + direction : find_page_by_id(sheet, answer);
  if (target < 0 || target >= static_cast<int>(sheet.pages.size())) return;
  if (notify(sheet, page, PSN_KILLACTIVE) != 0) return;
  const int before = sheet.current;
  if (set_current(sheet, target, direction) && sheet.current != before) record_if(std::move(shown));
}

void finish(Sheet& sheet) {
  if (sheet.current < 0) return;
  auto shown = snapshot_page(sheet);
  if (notify(sheet, sheet.pages[static_cast<std::size_t>(sheet.current)].hwnd, PSN_WIZFINISH) !=
      0) {
    return;
  }
  record_if(std::move(shown));
  sheet.finished = true;
  EndDialog(sheet.hwnd, 1);
}

void cancel(Sheet& sheet) {
  if (sheet.current >= 0 && notify(sheet, sheet.pages[static_cast<std::size_t>(sheet.current)].hwnd,
                                   PSN_QUERYCANCEL) != 0) {
    return;
  }
  record_if(snapshot_page(sheet));
  for (const Page& page : sheet.pages) {
    if (page.hwnd != nullptr) notify(sheet, page.hwnd, PSN_RESET);
  }
  EndDialog(sheet.hwnd, 0);
}

void set_buttons(Sheet& sheet, DWORD flags) {
  HWND hwnd = sheet.hwnd;
  const bool finish_asked = (flags & (PSWIZB_FINISH | PSWIZB_DISABLEDFINISH)) != 0;
  EnableWindow(GetDlgItem(hwnd, ID_WIZBACK), (flags & PSWIZB_BACK) ? TRUE : FALSE);
  EnableWindow(GetDlgItem(hwnd, ID_WIZNEXT), (flags & PSWIZB_NEXT) ? TRUE : FALSE);
  EnableWindow(GetDlgItem(hwnd, ID_WIZFINISH), (flags & PSWIZB_FINISH) ? TRUE : FALSE);
  // Finish takes Next's place when a page asks for it (unless the sheet always shows it).
  ShowWindow(GetDlgItem(hwnd, ID_WIZNEXT),
             finish_asked && !sheet.always_finish ? SW_HIDE : SW_SHOW);
  ShowWindow(GetDlgItem(hwnd, ID_WIZFINISH),
             finish_asked || sheet.always_finish ? SW_SHOW : SW_HIDE);
  sheet.buttons = flags;
}

void press(Sheet& sheet, WPARAM button) {
  auto usable = [&](int id) {
    HWND b = GetDlgItem(sheet.hwnd, id);
    return IsWindowEnabled(b) && IsWindowVisible(b);
  };
  switch (button) {
    case PSBTN_BACK:
      if (usable(ID_WIZBACK)) move(sheet, -1);
      break;
    case PSBTN_NEXT:
      if (usable(ID_WIZNEXT)) move(sheet, +1);
      break;
    case PSBTN_FINISH:
      if (usable(ID_WIZFINISH)) finish(sheet);
      break;
    case PSBTN_CANCEL:
      cancel(sheet);
      break;
  }
}

INT_PTR CALLBACK sheet_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_INITDIALOG) {
    auto* sheet = reinterpret_cast<Sheet*>(lparam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    sheet->hwnd = hwnd;
    set_buttons(*sheet, PSWIZB_BACK | PSWIZB_NEXT);  // until the first page says otherwise
    if (sheet->callback != nullptr) sheet->callback(hwnd, PSCB_INITIALIZED, 0);
    if (!set_current(*sheet, sheet->start, +1)) EndDialog(hwnd, -1);
    return TRUE;
  }
  auto* sheet = reinterpret_cast<Sheet*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (sheet == nullptr) return FALSE;
  LONG_PTR answer = 0;
  switch (msg) {
    case WM_COMMAND:
      if (HIWORD(wparam) != BN_CLICKED) return FALSE;
      switch (LOWORD(wparam)) {
        case ID_WIZBACK:
          move(*sheet, -1);
          return TRUE;
        case ID_WIZNEXT:
          move(*sheet, +1);
          return TRUE;
        case ID_WIZFINISH:
          finish(*sheet);
          return TRUE;
        case IDCANCEL:
          cancel(*sheet);
          return TRUE;
      }
      return FALSE;
    case PSM_SETWIZBUTTONS:
      set_buttons(*sheet, static_cast<DWORD>(lparam));
      break;
    case PSM_PRESSBUTTON:
      press(*sheet, wparam);
      break;
    case PSM_GETCURRENTPAGEHWND:
      answer = sheet->current >= 0
                   ? reinterpret_cast<LONG_PTR>(
                         sheet->pages[static_cast<std::size_t>(sheet->current)].hwnd)
                   : 0;
      break;
    case PSM_SETCURSEL: {
      int index = static_cast<int>(wparam);
      for (std::size_t i = 0; lparam != 0 && i < sheet->pages.size(); ++i) {
        if (sheet->pages[i].source == reinterpret_cast<_PSP*>(lparam)) index = static_cast<int>(i);
      }
      const int direction = index >= sheet->current ? +1 : -1;
      answer = index >= 0 && index < static_cast<int>(sheet->pages.size()) &&
                       set_current(*sheet, index, direction)
                   ? TRUE
                   : FALSE;
      break;
    }
    case PSM_SETCURSELID: {
      const int index = find_page_by_id(*sheet, lparam);
      answer = index >= 0 && set_current(*sheet, index, index >= sheet->current ? +1 : -1);
      break;
    }
    case PSM_SETTITLEA:
      SetWindowTextA(hwnd, reinterpret_cast<LPCSTR>(lparam));
      break;
    case PSM_SETFINISHTEXTA:
      SetDlgItemTextA(hwnd, ID_WIZFINISH, reinterpret_cast<LPCSTR>(lparam));
      set_buttons(*sheet, sheet->buttons | PSWIZB_FINISH);
      break;
    case PSM_CHANGED:
    case PSM_UNCHANGED:
    case PSM_CANCELTOCLOSE:
      break;
    default:
      return FALSE;
  }
  SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, answer);
  return TRUE;
}

DialogTemplate sheet_template(const Sheet& sheet, const char* caption) {
  int cx = 0, cy = 0;
  for (const Page& page : sheet.pages) {
    cx = std::max(cx, page.dialog.cx);
    cy = std::max(cy, page.dialog.cy);
  }
  cx = std::max(cx, 4 * 55);
  DialogTemplate t;
  t.title = caption != nullptr ? caption : "";
  t.cx = cx;
  t.cy = cy + kButtonRow;
  t.style = DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
  const int y = cy + 6;
  t.controls = {
      {ID_WIZBACK, ControlKind::kButton, "< &Back", cx - 4 * 55, y, 50, 14, 0},
      {ID_WIZNEXT, ControlKind::kDefaultButton, "&Next >", cx - 3 * 55, y, 50, 14, 0},
      {ID_WIZFINISH, ControlKind::kDefaultButton, "Finish", cx - 3 * 55, y, 50, 14, 0},
      {IDCANCEL, ControlKind::kButton, "Cancel", cx - 2 * 55 + 5, y, 50, 14, 0},
  };
  return t;
}

INT_PTR run_sheet(LPCPROPSHEETHEADERA header) {
  if (header == nullptr || header->dwSize < kMinHeaderSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (!(header->dwFlags & PSH_WIZARD) || (header->dwFlags & PSH_MODELESS)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return -1;
  }
  Sheet sheet;
  sheet.always_finish = (header->dwFlags & PSH_WIZARDHASFINISH) != 0;
  if (header->dwFlags & PSH_USECALLBACK) sheet.callback = header->pfnCallback;
  // The sheet owns its pages from here on: pages given as handles are all released at its end,
  // whether or not it could run; pages given as structures are copied one after the other.
  std::vector<_PSP*> sources;
  bool ok = header->nPages > 0;
  if (!(header->dwFlags & PSH_PROPSHEETPAGE)) {
    for (UINT i = 0; header->phpage != nullptr && i < header->nPages; ++i) {
      if (is_live(header->phpage[i])) {
        sources.push_back(header->phpage[i]);
      } else {
        ok = false;
      }
    }
  } else {
    const auto* next = reinterpret_cast<const unsigned char*>(header->ppsp);
    for (UINT i = 0; ok && i < header->nPages; ++i) {
      const auto* page = reinterpret_cast<const PROPSHEETPAGEA*>(next);
      _PSP* source = copy_page(page);
      ok = source != nullptr;
      if (!ok) break;
      sources.push_back(source);
      next += page->dwSize;  // each page is as long as it says
    }
  }
  ok = ok && sources.size() == header->nPages;
  for (std::size_t i = 0; ok && i < sources.size(); ++i) {
    Page page;
    ok = describe_page(sources[i], &page);
    if (ok) sheet.pages.push_back(std::move(page));
  }
  if (ok) {
    if (header->dwFlags & PSH_USEPSTARTPAGE) {
      for (std::size_t i = 0; header->pStartPage != nullptr && i < sheet.pages.size(); ++i) {
        if (sheet.pages[i].title == header->pStartPage) sheet.start = static_cast<int>(i);
      }
    } else if (header->nStartPage < sheet.pages.size()) {
      sheet.start = static_cast<int>(header->nStartPage);
    }
  }
  INT_PTR result = -1;
  if (ok) {
    HWND hwnd = create_dialog(sheet_template(sheet, header->pszCaption), header->hwndParent,
                              sheet_proc, reinterpret_cast<LPARAM>(&sheet), true, 0);
    if (hwnd != nullptr && run_dialog_box(hwnd) >= 0) result = sheet.finished ? 1 : 0;
  } else if (header->nPages == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
  }
  for (_PSP* source : sources) release_page(source);
  return result;
}

}  // namespace
}  // namespace sx::window::detail

using namespace sx::window::detail;

extern "C" {

void InitCommonControls() {}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
  return init != nullptr && init->dwSize == sizeof(INITCOMMONCONTROLSEX) ? TRUE : FALSE;
}

INT_PTR PropertySheetA(LPCPROPSHEETHEADERA header) {
  return guarded<INT_PTR>("PropertySheetA", -1, [&] { return run_sheet(header); });
}

HPROPSHEETPAGE CreatePropertySheetPageA(LPCPROPSHEETPAGEA page) {
  return guarded<HPROPSHEETPAGE>("CreatePropertySheetPageA", nullptr,
                                 [&] { return copy_page(page); });
}

BOOL DestroyPropertySheetPage(HPROPSHEETPAGE page) {
  return guarded<BOOL>("DestroyPropertySheetPage", FALSE, [&]() -> BOOL {
    if (!is_live(page)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    release_page(page);
    return TRUE;
  });
}

}  // extern "C"
