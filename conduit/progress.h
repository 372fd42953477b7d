// SyncProgress: the process-wide progress sink, and the sync run's reporter that feeds the
// ProgressWindow (dialog 130) when ShowProgress is on.
//
// Exactly one sink exists at any time: the reporter of the sync run in progress, otherwise a sink
// whose operations do nothing. Used only from the sync run's thread.
#pragma once

#include <string>

#include "win32/types.h"

namespace sx::conduit {

class NoteDatabase;
class NoteRecord;

class SyncProgress {
 public:
  // Virtual operations, in slot order.
  virtual ~SyncProgress() = default;
  virtual void openWindow() {}
  virtual void closeWindow() {}
  virtual void beginDatabase(const std::string& /*name*/) {}
  virtual void endDatabase(const std::string& /*name*/) {}
  virtual void step(int /*code*/, const NoteDatabase& /*database*/) {}
  virtual void item(int /*code*/, const NoteRecord& /*note*/) {}
};

// The current sink (never null).
SyncProgress& progress();

// The sync run's reporter: installs itself as the sink on construction (and, with ShowProgress on,
// opens the window), and puts the do-nothing sink back on destruction.
class ProgressReporter : public SyncProgress {
 public:
  ProgressReporter(HINSTANCE module, bool show);
  ~ProgressReporter() override;
  ProgressReporter(const ProgressReporter&) = delete;
  ProgressReporter& operator=(const ProgressReporter&) = delete;

  void openWindow() override;
  void closeWindow() override;
  void beginDatabase(const std::string& name) override;
  void endDatabase(const std::string& name) override;
  void step(int code, const NoteDatabase& database) override;
  void item(int code, const NoteRecord& note) override;

  HWND window() const { return window_; }

 private:
  void setStepText(int code, bool handheld);
  void clearTexts();

  HINSTANCE module_;
  bool show_;
  HWND window_ = nullptr;
  UINT step_text_id_ = 0;
  int counter_ = 0;
  int record_count_ = 0;
};

// String id of a step text for a side; 0 for an unknown code (the text stays).
UINT step_text_id(int code, bool handheld);

}  // namespace sx::conduit
