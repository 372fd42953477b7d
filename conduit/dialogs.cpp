#include "dialogs.h"

#include "note_record.h"
#include "resources.h"
#include "windows.h"

namespace sx::conduit {
namespace {
int g_unanswered = 0;  // sync run thread only
}  // namespace

int unanswered_conflict_dialogs() { return g_unanswered; }

int ConflictDialog::show(HWND parent) {
  choice_ = 3;
  use_for_all_ = false;
  no_response_ = false;
  const INT_PTR r = DialogBoxParamA(module_instance(), MAKEINTRESOURCEA(IDD_CONFLICT), parent,
                                    &ConflictDialog::Proc, reinterpret_cast<LPARAM>(this));
  if (r == -1) choice_ = 3;
  return choice_;
}

void ConflictDialog::finish(HWND dialog, int choice) {
  KillTimer(dialog, kConflictTimerId);
  choice_ = choice;
  use_for_all_ = IsDlgButtonChecked(dialog, IDC_USE_FOR_ALL) == BST_CHECKED;
  EndDialog(dialog, choice);
}

INT_PTR CALLBACK ConflictDialog::Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  try {
    auto* self = reinterpret_cast<ConflictDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
      case WM_INITDIALOG: {
        self = reinterpret_cast<ConflictDialog*>(lparam);
        SetWindowLongPtrA(dialog, DWLP_USER, lparam);
        const std::string text = format_string(
            IDS_CONFLICT, self->handheld_.displayName().c_str(), self->note_.title().c_str(),
            self->desktop_.logText().c_str(), self->handheld_.logText().c_str());
        SetDlgItemTextA(dialog, IDC_CONFLICT_TEXT, text.c_str());
        SetTimer(dialog, kConflictTimerId, kConflictTimeoutMs, nullptr);
        return TRUE;
      }
      case WM_COMMAND:
        if (self == nullptr) return FALSE;
        switch (LOWORD(wparam)) {
          case IDC_USE_DESKTOP:
            self->finish(dialog, 0);
            return TRUE;
          case IDC_USE_HANDHELD:
            self->finish(dialog, 1);
            return TRUE;
          case IDC_SKIP:
          case IDCANCEL:
            self->finish(dialog, 3);
            return TRUE;
          default:
            return FALSE;
        }
      case WM_TIMER:
        if (self == nullptr || wparam != kConflictTimerId) return FALSE;
        self->no_response_ = true;
        if (++g_unanswered >= 3) CheckDlgButton(dialog, IDC_USE_FOR_ALL, BST_CHECKED);
        self->finish(dialog, 3);
        return TRUE;
      default:
        return FALSE;
    }
  } catch (...) {
    return FALSE;
  }
}

namespace {
INT_PTR CALLBACK UnknownUserProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wparam));
    return TRUE;
  }
  return FALSE;
}
}  // namespace

std::string mass_change_text(const MassChangeQuestion& question) {
  return std::string(question.overwrites ? "delete or overwrite " : "delete ") +
         std::to_string(question.affected) + " of the " + std::to_string(question.live) +
         " notes " + (question.handheld ? "on the handheld" : "in Outlook");
}

namespace {

struct MassChangeState {
  const MassChangeQuestion* question;
  MassChangeAnswer answer = MassChangeAnswer::kNoAnswer;
};

INT_PTR CALLBACK MassChangeProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  try {
    auto* state = reinterpret_cast<MassChangeState*>(GetWindowLongPtrA(dialog, DWLP_USER));
    auto finish = [&](MassChangeAnswer answer) {
      KillTimer(dialog, kMassChangeTimerId);
      state->answer = answer;
      EndDialog(dialog, 0);
      return TRUE;
    };
    switch (message) {
      case WM_INITDIALOG: {
        SetWindowLongPtrA(dialog, DWLP_USER, lparam);
        state = reinterpret_cast<MassChangeState*>(lparam);
        const std::string text =
            format_string(state->question->handheld ? IDS_MASS_CHANGE_QUESTION_HANDHELD
                                                    : IDS_MASS_CHANGE_QUESTION_OUTLOOK,
                          mass_change_text(*state->question).c_str());
        SetDlgItemTextA(dialog, IDC_MASS_CHANGE_TEXT, text.c_str());
        SetTimer(dialog, kMassChangeTimerId, kConflictTimeoutMs, nullptr);
        return TRUE;
      }
      case WM_COMMAND:
        if (state == nullptr) return FALSE;
        if (LOWORD(wparam) == IDC_GO_AHEAD) return finish(MassChangeAnswer::kGoAhead);
        if (LOWORD(wparam) == IDC_KEEP || LOWORD(wparam) == IDCANCEL)
          return finish(MassChangeAnswer::kKeep);
        return FALSE;
      case WM_TIMER:
        if (state == nullptr || wparam != kMassChangeTimerId) return FALSE;
        return finish(MassChangeAnswer::kNoAnswer);
      default:
        return FALSE;
    }
  } catch (...) {
    return FALSE;
  }
}

}  // namespace

MassChangeAnswer ask_mass_change(const MassChangeQuestion& question, HWND parent) {
  MassChangeState state{&question};
  const INT_PTR r = DialogBoxParamA(module_instance(), MAKEINTRESOURCEA(IDD_MASS_CHANGE), parent,
                                    &MassChangeProc, reinterpret_cast<LPARAM>(&state));
  return r == -1 ? MassChangeAnswer::kNoAnswer : state.answer;
}

bool ask_unknown_user(HWND parent) {
  return DialogBoxParamA(module_instance(), MAKEINTRESOURCEA(IDD_UNKNOWN_USER), parent,
                         &UnknownUserProc, 0) == IDOK;
}

}  // namespace sx::conduit
