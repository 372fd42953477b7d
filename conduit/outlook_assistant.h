// OutlookAssistant: the worker thread that alone owns the Outlook access component and runs the
// numbered commands the sync run posts to it, one at a time.
//
// The worker is a single-threaded apartment of its own: it creates "ScribbixOut.Class1" before it
// reads its first command and releases it when it ends. The run thread posts a command (its code
// and up to nine VARIANT pointers the caller owns, which must live until the reply), signals the
// request event and waits for the reply event in 100 ms slices, yielding to the sync manager before
// every slice and reading a small application preference every 100 slices of the process, so that a
// long Outlook operation never lets the HotSync connection time out.
//
// Every operation is called from the run thread only (one command in flight). No operation throws,
// except NewItem and UpdateItem when the format VARIANT they add cannot be cleared (a COM error).
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "scribbixout/scribbixout.h"
#include "win32/sync.h"

namespace sx::conduit {

class OutlookAssistant {
 public:
  enum Command : int {
    kIsOutlookLoaded = 1,
    kLoadOutlook = 2,
    kUnloadOutlook = 3,
    kLogonOutlook = 4,
    kGetScribbixFolder = 5,
    kBeginItem = 6,
    kNextItem = 7,
    kEndItem = 8,
    kReadItem = 9,
    kNewItem = 10,
    kUpdateItem = 11,
    kDeleteItem = 12,
    kQuit = 13,
  };
  static constexpr int kSlots = 9;

  OutlookAssistant();
  // Unloads Outlook when the component is held, ends the worker and waits for it.
  ~OutlookAssistant();
  OutlookAssistant(const OutlookAssistant&) = delete;
  OutlookAssistant& operator=(const OutlookAssistant&) = delete;

  // One operation per command; each posts it, waits for the reply and returns the result (-1 when
  // the command failed with a COM error or the component could not be created: see
  // GetLastErrorText).
  long IsOutlookLoaded();
  long LoadOutlook();  // on 0 the worker also chooses the body format mode (format probe)
  long UnloadOutlook();
  long LogonOutlook(VARIANT* profile);
  long GetScribbixFolder();
  long BeginItem();
  long NextItem();
  long EndItem();
  long ReadItem(VARIANT* key, VARIANT* date, VARIANT* create, VARIANT* modify, VARIANT* body,
                VARIANT* category, VARIANT* contact, VARIANT* sense, VARIANT* flag);
  // The ninth argument, the body format mode, is added here.
  long NewItem(VARIANT* key, VARIANT* date, VARIANT* subject, VARIANT* body, VARIANT* category,
               VARIANT* contact, VARIANT* sense, VARIANT* flag);
  // An update in place, whatever the body format mode (the component writes the body as a new post
  // of that mode gets it, so the post keeps its links, attachments and entry ID).
  long UpdateItem(VARIANT* key, VARIANT* date, VARIANT* subject, VARIANT* body, VARIANT* category,
                  VARIANT* contact, VARIANT* sense, VARIANT* flag);
  long DeleteItem(VARIANT* key);
  // Asks the worker to end (no wait); only while it runs.
  void Stop();
  // The last command's error: its COM failure, or the error information the component kept for a
  // failure it reported in its result; "" when the last command did not fail.
  std::string GetLastErrorText() const;

  // The body format mode handed to the component as aFormat: 1 plain text; 2, 3 plain text and
  // HTML; -1 HTML first.
  int formatMode() const { return format_mode_.load(); }
  // Commands posted since construction (tests count the commands of an update).
  int commandsPosted() const { return commands_posted_; }

 private:
  static DWORD WINAPI worker_main(LPVOID self);
  void worker();
  bool create_component();
  void execute(int command);
  void format_probe();
  void set_error(const char* context, HRESULT hr, const char* source, const char* description);
  bool failed_result(int command, long result) const;
  void take_component_error();
  long post_and_wait(int command, VARIANT* const* args = nullptr, int count = 0);
  void post(int command, VARIANT* const* args, int count);
  void start_worker();
  long wait_reply();
  void join_worker();

  HANDLE request_ = nullptr;  // auto-reset
  HANDLE reply_ = nullptr;    // manual-reset
  CRITICAL_SECTION start_lock_{};
  std::atomic<int> running_{0};
  HANDLE thread_ = nullptr;
  // Written and used by the worker only; the run thread asks whether it is held after a reply.
  _Class1* component_ = nullptr;
  std::atomic<bool> component_held_{false};
  int command_ = 0;
  bool quit_posted_ = false;  // run thread only
  long result_ = 0;
  VARIANT* slots_[kSlots] = {};
  mutable std::mutex error_lock_;
  std::string last_error_;
  std::atomic<int> format_mode_{1};
  int commands_posted_ = 0;
};

// The keep-alive reads of the process so far, and the counter of wait slices before the next one
// set back to its start (tests).
std::uint64_t keep_alive_reads();
void reset_keep_alive_counter();

}  // namespace sx::conduit
