// The built-in controls of dialogs: static, edit, buttons, group box, list box, combo box,
// progress.
#include <strings.h>
#include <algorithm>

#include "core.h"
#include "sx/clock.h"

namespace sx::window::detail {
namespace {

bool is_list(ControlKind k) { return k == ControlKind::kListBox || k == ControlKind::kComboBox; }

bool sorted(const Window& w) {
  return w.control == ControlKind::kListBox ? (w.style & LBS_SORT) != 0 : (w.style & CBS_SORT) != 0;
}

// Inserts an item; index -1 appends (or finds the sorted place). Returns the index or *_ERR.
LRESULT insert_item_locked(Window& w, LPARAM text_param, int index) {
  const char* text = reinterpret_cast<const char*>(text_param);
  std::string item = text != nullptr ? text : "";
  if (index < -1 || index > static_cast<int>(w.items.size())) return LB_ERR;
  if (index == -1 && sorted(w)) {
    auto pos = std::upper_bound(w.items.begin(), w.items.end(), item,
                                [](const std::string& a, const std::string& b) {
                                  return ::strcasecmp(a.c_str(), b.c_str()) < 0;
                                });
    index = static_cast<int>(pos - w.items.begin());
  } else if (index == -1) {
    index = static_cast<int>(w.items.size());
  }
  w.items.insert(w.items.begin() + index, std::move(item));
  if (w.selection >= index) ++w.selection;
  return index;
}

LRESULT find_exact_locked(const Window& w, WPARAM start, LPARAM text_param) {
  const char* text = reinterpret_cast<const char*>(text_param);
  if (text == nullptr || w.items.empty()) return LB_ERR;
  const int n = static_cast<int>(w.items.size());
  const int first = static_cast<int>(static_cast<INT_PTR>(start)) + 1;  // -1 searches from 0
  for (int k = 0; k < n; ++k) {
    const int i = ((first < 0 ? 0 : first) + k) % n;
    if (::strcasecmp(w.items[i].c_str(), text) == 0) return i;
  }
  return LB_ERR;
}

// List box and combo box messages share one implementation; only the message numbers differ.
struct ListMessages {
  UINT add, insert, remove, reset, setsel, getsel, gettext, gettextlen, count, findexact;
};
constexpr ListMessages kListBox{LB_ADDSTRING, LB_INSERTSTRING,   LB_DELETESTRING, LB_RESETCONTENT,
                                LB_SETCURSEL, LB_GETCURSEL,      LB_GETTEXT,      LB_GETTEXTLEN,
                                LB_GETCOUNT,  LB_FINDSTRINGEXACT};
constexpr ListMessages kComboBox{CB_ADDSTRING, CB_INSERTSTRING,   CB_DELETESTRING, CB_RESETCONTENT,
                                 CB_SETCURSEL, CB_GETCURSEL,      CB_GETLBTEXT,    CB_GETLBTEXTLEN,
                                 CB_GETCOUNT,  CB_FINDSTRINGEXACT};

bool list_message_locked(Window& w, UINT msg, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  const ListMessages& m = w.control == ControlKind::kListBox ? kListBox : kComboBox;
  const int count = static_cast<int>(w.items.size());
  const int index = static_cast<int>(static_cast<INT_PTR>(wparam));
  auto sync_combo_text = [&] {
    if (w.control == ControlKind::kComboBox) {
      w.text = w.selection >= 0 ? w.items[w.selection] : std::string();
    }
  };
  if (msg == m.add) {
    *result = insert_item_locked(w, lparam, -1);
  } else if (msg == m.insert) {
    *result = insert_item_locked(w, lparam, index);
  } else if (msg == m.remove) {
    if (index < 0 || index >= count) {
      *result = LB_ERR;
    } else {
      w.items.erase(w.items.begin() + index);
      if (w.selection == index) {
        w.selection = -1;
      } else if (w.selection > index) {
        --w.selection;
      }
      sync_combo_text();
      *result = count - 1;
    }
  } else if (msg == m.reset) {
    w.items.clear();
    w.selection = -1;
    sync_combo_text();
    *result = 0;
  } else if (msg == m.setsel) {
    if (index == -1 || (w.control == ControlKind::kComboBox && (index < -1 || index >= count))) {
      // -1 clears the selection and reports *_ERR; a combo box clears it for a bad index too.
      w.selection = -1;
      *result = LB_ERR;
    } else if (index < -1 || index >= count) {
      *result = LB_ERR;  // a list box keeps its selection
    } else {
      w.selection = index;
      *result = w.control == ControlKind::kComboBox ? index : 0;
    }
    sync_combo_text();
  } else if (msg == m.getsel) {
    *result = w.selection;
    return true;
  } else if (msg == m.gettext) {
    // As on Windows the buffer has no size: the caller sizes it with *_GETTEXTLEN + 1.
    char* buffer = reinterpret_cast<char*>(lparam);
    if (index < 0 || index >= count || buffer == nullptr) {
      *result = LB_ERR;
    } else {
      const std::string& item = w.items[index];
      std::copy(item.begin(), item.end(), buffer);
      buffer[item.size()] = '\0';
      *result = static_cast<LRESULT>(item.size());
    }
    return true;
  } else if (msg == m.gettextlen) {
    *result = index < 0 || index >= count ? LB_ERR : static_cast<LRESULT>(w.items[index].size());
    return true;
  } else if (msg == m.count) {
    *result = count;
    return true;
  } else if (msg == m.findexact) {
    *result = find_exact_locked(w, wparam, lparam);
    return true;
  } else {
    return false;
  }
  invalidate_locked(w, nullptr, true);
  return true;
}

bool progress_message_locked(Window& w, UINT msg, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  auto clamp = [&] { w.pos = std::clamp(w.pos, w.range_min, std::max(w.range_min, w.range_max)); };
  const bool moves = msg == PBM_SETPOS || msg == PBM_DELTAPOS || msg == PBM_STEPIT;
  const int before = w.pos;
  switch (msg) {
    case PBM_SETRANGE:
      *result = MAKELONG(w.range_min, w.range_max);
      w.range_min = LOWORD(lparam);
      w.range_max = HIWORD(lparam);
      clamp();
      break;
    case PBM_SETRANGE32:
      *result = MAKELONG(w.range_min, w.range_max);
      w.range_min = static_cast<int>(wparam);
      w.range_max = static_cast<int>(lparam);
      clamp();
      break;
    case PBM_GETRANGE:
      *result = wparam ? w.range_min : w.range_max;
      break;
    case PBM_SETPOS:
      *result = w.pos;
      w.pos = static_cast<int>(wparam);
      clamp();
      break;
    case PBM_DELTAPOS:
      *result = w.pos;
      w.pos += static_cast<int>(wparam);
      clamp();
      break;
    case PBM_SETSTEP:
      *result = w.step;
      w.step = static_cast<int>(wparam);
      break;
    case PBM_STEPIT:
      // Stepping past the end wraps to the start, as the common control does.
      *result = w.pos;
      w.pos += w.step;
      if (w.pos > w.range_max) w.pos = w.range_min + (w.pos - w.range_max);
      clamp();
      break;
    case PBM_GETPOS:
      *result = w.pos;
      return true;
    default:
      return false;
  }
  if (msg == PBM_GETRANGE) return true;
  // The history keeps each position the bar was set to (a range that moved it counts too).
  if ((moves || w.pos != before) &&
      (w.progress_history.empty() || w.progress_history.back() != w.pos)) {
    w.progress_history.push_back(w.pos);
  }
  invalidate_locked(w, nullptr, true);
  return true;
}

// A click: the automatic check box toggles, the automatic radio button checks itself and clears the
// other radio buttons of its group; then the parent hears BN_CLICKED.
void click(const std::shared_ptr<Window>& w) {
  HWND parent = nullptr;
  int id = 0;
  {
    Guard guard = sx::kernel::lock();
    if (!w->enabled || !w->visible || w->destroyed) return;  // nobody can press it
    parent = w->parent;
    id = w->id;
    if (w->control == ControlKind::kCheckBox) {
      w->check = w->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
      invalidate_locked(*w, nullptr, true);
    } else if (w->control == ControlKind::kRadioButton) {
      if (auto p = find_locked(parent)) {
        auto siblings = children_locked(*p);
        auto me = std::find(siblings.begin(), siblings.end(), w) - siblings.begin();
        // The group: consecutive radio buttons around this one, split where WS_GROUP starts one.
        auto first = me;
        while (first > 0 && siblings[first - 1]->control == ControlKind::kRadioButton &&
               (siblings[first]->style & WS_GROUP) == 0) {
          --first;
        }
        for (auto k = first; k < static_cast<long>(siblings.size()); ++k) {
          auto& s = siblings[k];
          if (s->control != ControlKind::kRadioButton || (k > first && (s->style & WS_GROUP)))
            break;
          s->check = s == w ? BST_CHECKED : BST_UNCHECKED;
          invalidate_locked(*s, nullptr, true);
        }
      }
    }
  }
  SendMessageA(parent, WM_COMMAND, MAKELONG(id, BN_CLICKED), reinterpret_cast<LPARAM>(w->hwnd));
}

}  // namespace

LRESULT control_proc(const std::shared_ptr<Window>& w, UINT msg, WPARAM wparam, LPARAM lparam) {
  const ControlKind kind = w->control;
  if (msg == WM_PAINT) {
    paint_control(w);
    return 0;
  }
  if (msg == BM_CLICK) {
    if (kind == ControlKind::kButton || kind == ControlKind::kDefaultButton ||
        kind == ControlKind::kCheckBox || kind == ControlKind::kRadioButton) {
      click(w);
    }
    return 0;
  }
  Guard guard = sx::kernel::lock();
  LRESULT result = 0;
  if (is_list(kind) && list_message_locked(*w, msg, wparam, lparam, &result)) return result;
  if (kind == ControlKind::kProgressBar &&
      progress_message_locked(*w, msg, wparam, lparam, &result)) {
    return result;
  }
  switch (msg) {
    case BM_GETCHECK:
      return kind == ControlKind::kCheckBox || kind == ControlKind::kRadioButton ? w->check : 0;
    case BM_SETCHECK:
      if (kind == ControlKind::kCheckBox || kind == ControlKind::kRadioButton) {
        w->check = static_cast<UINT>(wparam) <= BST_INDETERMINATE ? static_cast<UINT>(wparam)
                                                                  : BST_UNCHECKED;
        invalidate_locked(*w, nullptr, true);
      }
      return 0;
    case EM_LIMITTEXT:
      if (kind == ControlKind::kEdit) w->limit = wparam == 0 ? 0x7FFFFFFE : wparam;
      return 0;
    case EM_GETLIMITTEXT:
      return kind == ControlKind::kEdit ? static_cast<LRESULT>(w->limit) : 0;
    case EM_SETREADONLY:
      if (kind != ControlKind::kEdit) return FALSE;
      if (wparam) {
        w->style |= ES_READONLY;
      } else {
        w->style &= ~static_cast<DWORD>(ES_READONLY);
      }
      invalidate_locked(*w, nullptr, true);  // read-only edits are coloured as statics
      return TRUE;
  }
  guard.unlock();
  return default_proc(w, msg, wparam, lparam);
}

}  // namespace sx::window::detail
