// The machine's page server (`sxmachine view`): one machine, one HotSync user, on 127.0.0.1 only.
//
//   GET  /             the page (plain HTML, CSS and JavaScript from page_html.cpp)
//   GET  /api/state    everything the page shows, as JSON (machine_state.h, plus "hotsync")
//   GET  /api/events   server-sent events: the state again whenever it changed (looked at every
//                      50 ms), and a comment every second, so that a closed page is noticed;
//                      while one is open, <root>/view/page names this process (sx/web_windows.h)
//   POST /api/do       a request of the page (page_request.h); answers {"ok", "message", "lines"}
//
// Every request is checked by an AccessGuard first and refused with 403 when it fails. Handlers
// never let an exception out: a fault is a 500 with its reason.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "page_actions.h"

namespace httplib {
class Server;
}

namespace sx::machine_view {

class AccessGuard;

struct ViewOptions {
  std::string user;  // the HotSync user shown, in the machine's code page
  int port = 0;      // 0: any free port
  Programs programs;
  std::vector<std::string> hotsync_environment;
};

class ViewServer {
 public:
  explicit ViewServer(ViewOptions options);
  ~ViewServer();
  ViewServer(const ViewServer&) = delete;
  ViewServer& operator=(const ViewServer&) = delete;

  // Binds 127.0.0.1 on the port. False with a reason when the port cannot be had.
  bool bind(std::string* why);
  int port() const { return port_; }
  // "http://127.0.0.1:PORT/?token=TOKEN", the address to open.
  std::string address() const;
  // Serves until stop() (from another thread or a signal handler's thread).
  void run();
  void stop();

 private:
  void add_routes();
  void page_opened();
  void page_closed();

  ViewOptions options_;
  std::unique_ptr<httplib::Server> server_;
  std::unique_ptr<AccessGuard> guard_;
  std::unique_ptr<PageActions> actions_;
  std::atomic<bool> stopping_{false};
  std::mutex pages_mutex_;
  int open_pages_ = 0;  // event streams open
  int port_ = 0;
};

// The page, served as it is.
const std::string& page_html();

}  // namespace sx::machine_view
