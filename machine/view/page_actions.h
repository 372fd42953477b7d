// What the page's buttons do, through the programs a person would use: the handheld's notes
// application (its library, in this process), sxfolders for the notes folder in Outlook (a process
// per change, so that Outlook's own code saves the post), HotSync Manager for a HotSync (a process
// of its own, as `hotsync --sync USER` runs it) and the preview of the next HotSync; and what the
// person does to a window of the web host (passed on to the window's process, sx/web_windows.h).
// Thread-safe: the server calls it from its request threads.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "page_request.h"

namespace sx::machine_view {

struct Programs {
  std::string sxfolders;  // host paths
  std::string hotsync;
};

struct ActionResult {
  bool ok = false;
  std::string message;  // a sentence for the person (UTF-8)
  nlohmann::json lines = nlohmann::json::array();  // the preview's lines
};

class PageActions {
 public:
  // `user` in the machine's code page; `environment` is added to the HotSync's environment
  // ("NAME=value" each).
  PageActions(std::string user, Programs programs, std::vector<std::string> hotsync_environment);
  ~PageActions();  // waits for a HotSync it started
  PageActions(const PageActions&) = delete;
  PageActions& operator=(const PageActions&) = delete;

  // Never throws: a failure is a result with ok false.
  ActionResult apply(const PageRequest& request);

  // {"running": bool, "last_result": int|null, "output": text of the last run}.
  nlohmann::json hotsync_status() const;
  // Grows whenever a HotSync starts or ends: cheap to look at often.
  unsigned hotsync_changes() const { return hotsync_changes_; }

 private:
  ActionResult handheld(const PageRequest& request);
  ActionResult outlook(const PageRequest& request);
  ActionResult start_hotsync();
  ActionResult preview();
  ActionResult window(const PageRequest& request);

  std::string user_;
  Programs programs_;
  std::vector<std::string> hotsync_environment_;
  mutable std::mutex mutex_;  // the HotSync's state below
  std::mutex input_mutex_;    // one line at a time into a window's input file
  pid_t hotsync_pid_ = -1;
  std::thread reaper_;
  int last_result_ = -1;
  bool has_result_ = false;
  std::string output_file_;
  std::atomic<unsigned> hotsync_changes_{0};
};

}  // namespace sx::machine_view
