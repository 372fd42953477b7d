#include "progress.h"

#include "note_database.h"
#include "resources.h"
#include "windows.h"

namespace sx::conduit {
namespace {

SyncProgress g_nothing;
SyncProgress* g_sink = &g_nothing;  // sync run thread only

INT_PTR CALLBACK ProgressProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

}  // namespace

SyncProgress& progress() { return *g_sink; }

UINT step_text_id(int code, bool handheld) {
  if (code < 0 || code > 9) return 0;
  if (code <= 1) return static_cast<UINT>(IDS_STEP_FIRST + 2 * code + (handheld ? 1 : 0));
  if (code == 2) return 57;
  if (code == 3) return handheld ? 59 : 58;
  return static_cast<UINT>(56 + code);  // 4..9 -> 60..65
}

ProgressReporter::ProgressReporter(HINSTANCE module, bool show) : module_(module), show_(show) {
  g_sink = this;
  openWindow();
}

ProgressReporter::~ProgressReporter() {
  closeWindow();
  g_sink = &g_nothing;
}

void ProgressReporter::openWindow() {
  if (!show_ || window_ != nullptr) return;
  window_ = CreateDialogParamA(module_, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, &ProgressProc, 0);
}

void ProgressReporter::closeWindow() {
  if (window_ == nullptr) return;
  DestroyWindow(window_);
  window_ = nullptr;
}

void ProgressReporter::clearTexts() {
  for (int id :
       {IDC_PROGRESS_STEP, IDC_PROGRESS_DATABASE, IDC_PROGRESS_HANDHELD_DB, IDC_PROGRESS_NAME}) {
    SetDlgItemTextA(window_, id, "");
  }
  UpdateWindow(window_);
}

void ProgressReporter::beginDatabase(const std::string&) {
  if (window_ != nullptr) clearTexts();
}
void ProgressReporter::endDatabase(const std::string&) {
  if (window_ != nullptr) clearTexts();
}

void ProgressReporter::setStepText(int code, bool handheld) {
  const UINT id = step_text_id(code, handheld);
  if (id == 0 || id == step_text_id_) return;
  step_text_id_ = id;
  SetDlgItemTextA(window_, IDC_PROGRESS_STEP, load_string(id).value_or("").c_str());
}

void ProgressReporter::step(int code, const NoteDatabase& database) {
  if (window_ == nullptr) return;
  counter_ = 0;
  record_count_ = database.recordCount();
  setStepText(code, database.isHandheld());
  const std::string name = database.displayName();
  if (database.isHandheld()) {
    SetDlgItemTextA(window_, IDC_PROGRESS_HANDHELD_DB, name.size() > 3 ? name.c_str() + 3 : "");
  } else {
    SetDlgItemTextA(window_, IDC_PROGRESS_DATABASE, name.c_str());
  }
  SetDlgItemTextA(window_, IDC_PROGRESS_NAME, "");
  SendDlgItemMessageA(window_, IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, record_count_);
  SendDlgItemMessageA(window_, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
  UpdateWindow(window_);
}

void ProgressReporter::item(int code, const NoteRecord& note) {
  if (window_ == nullptr) return;
  setStepText(code, note.side() == Side::kHandheld);
  SetDlgItemTextA(window_, IDC_PROGRESS_NAME, note.title().c_str());
  UpdateWindow(window_);
  SendDlgItemMessageA(window_, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(counter_ + 1), 0);
  ++counter_;
}

}  // namespace sx::conduit
