// The conduit's modal dialogs: ConflictDialog (129), UnknownUserDialog (132) and the mass change
// question (133). Shown on the sync
// run's thread; they never throw.
#pragma once

#include <string>

#include "win32/types.h"

namespace sx::conduit {

class NoteRecord;
class SyncField;

inline constexpr UINT_PTR kConflictTimerId = 0x9872;
inline constexpr UINT kConflictTimeoutMs = 60000;

// A field changed on both sides: asks which value wins. With no answer within 60 s the field is
// skipped and the process-wide count of unanswered dialogs grows; from the third on, the dialog
// also ticks "use for all" when it closes.
class ConflictDialog {
 public:
  ConflictDialog(const NoteRecord& note, const SyncField& handheld_field,
                 const SyncField& desktop_field)
      : note_(note), handheld_(handheld_field), desktop_(desktop_field) {}
  // Shows the dialog modally (owner `parent`, may be null). Returns the choice (0 desktop value,
  // 1 handheld value, 3 skip); a dialog that could not be shown skips.
  int show(HWND parent = nullptr);

  int choice() const { return choice_; }
  bool useForAll() const { return use_for_all_; }
  bool noResponse() const { return no_response_; }

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  void finish(HWND dialog, int choice);

  const NoteRecord& note_;
  const SyncField& handheld_;
  const SyncField& desktop_;
  int choice_ = 3;
  bool use_for_all_ = false;
  bool no_response_ = false;
};

// The process-wide number of conflict dialogs nobody answered.
int unanswered_conflict_dialogs();

inline constexpr UINT_PTR kMassChangeTimerId = 0x9873;

// What the mass change guard asks about: `affected` of the `live` notes of one side would be
// deleted (or overwritten, in an overwrite mode).
struct MassChangeQuestion {
  bool handheld = true;
  bool overwrites = false;
  unsigned long affected = 0;
  unsigned long live = 0;
};
enum class MassChangeAnswer { kGoAhead, kKeep, kNoAnswer };

// "delete 12 of the 15 notes on the handheld" (or "delete or overwrite ... in Outlook").
std::string mass_change_text(const MassChangeQuestion& question);

// Asks whether to go ahead, in a dialog of its own (133) with the conflict dialog's 60-second
// timeout; a dialog that could not be shown, closed or left unanswered keeps the notes.
MassChangeAnswer ask_mass_change(const MassChangeQuestion& question, HWND parent = nullptr);

// Asks whether to go on with the current Outlook session for a Palm user without a profile.
// True only for "Continue".
bool ask_unknown_user(HWND parent = nullptr);

}  // namespace sx::conduit
