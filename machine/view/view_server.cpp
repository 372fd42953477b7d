#include "view_server.h"

#include <httplib.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "access_guard.h"
#include "machine_state.h"
#include "page_request.h"
#include "sx/web_windows.h"

namespace sx::machine_view {
namespace {

using nlohmann::json;

constexpr std::size_t kMaxRequestBytes = 256 * 1024;
constexpr std::size_t kThreads = 24;
constexpr auto kLookEvery = std::chrono::milliseconds(50);
// A HotSync the page started or saw end is told at once: looked at this often.
constexpr auto kHotSyncLookEvery = std::chrono::milliseconds(10);
// A closed page is noticed at the second write after it went: a second or two.
constexpr int kLooksPerKeepAlive = 20;  // 1 s
// After an event, the next is read no sooner than this, nor sooner than kReadShare times what
// reading the last one took.
constexpr auto kLeastBetweenEvents = std::chrono::milliseconds(100);
constexpr int kReadShare = 4;

// One page's event stream: the state as it read it, and what it sent last.
struct EventStream {
  explicit EventStream(const std::string& user) : state(user) {}
  MachineState state;
  std::string last;
  std::chrono::steady_clock::time_point quiet_until;
  unsigned hotsync = 0;  // the HotSync changes it has told
};

// JSON text that never throws on texts that are not UTF-8 (they are replaced).
std::string text_of(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void answer_json(httplib::Response& res, const json& value, int status = 200) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(text_of(value), "application/json; charset=utf-8");
}

std::string token_of(const httplib::Request& req) {
  if (req.has_header("X-Sx-Token")) return req.get_header_value("X-Sx-Token");
  return req.has_param("token") ? req.get_param_value("token") : std::string();
}

// Runs a handler; whatever it throws becomes a 500 with its reason.
template <typename Handler>
auto guarded(Handler handler) {
  return [handler](const httplib::Request& req, httplib::Response& res) {
    try {
      handler(req, res);
    } catch (const std::exception& e) {
      answer_json(res, json{{"ok", false}, {"message", e.what()}}, 500);
    } catch (...) {
      answer_json(res, json{{"ok", false}, {"message", "unknown failure"}}, 500);
    }
  };
}

}  // namespace

ViewServer::ViewServer(ViewOptions options)
    : options_(std::move(options)), server_(std::make_unique<httplib::Server>()) {
  // Each open page holds a thread with its event stream, and a browser keeps a few connections
  // open besides: more threads than cpp-httplib's default, so that a second page still gets in.
  server_->new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
  actions_ = std::make_unique<PageActions>(options_.user, options_.programs,
                                           options_.hotsync_environment);
}

ViewServer::~ViewServer() { stop(); }

bool ViewServer::bind(std::string* why) {
  if (options_.port == 0) {
    port_ = server_->bind_to_any_port("127.0.0.1");
  } else {
    port_ = server_->bind_to_port("127.0.0.1", options_.port) ? options_.port : -1;
  }
  if (port_ <= 0) {
    *why = "Cannot listen on 127.0.0.1 port " + std::to_string(options_.port) +
           " (is it in use?).";
    return false;
  }
  guard_ = std::make_unique<AccessGuard>(new_token(), port_);
  add_routes();
  return true;
}

std::string ViewServer::address() const {
  return guard_->origin() + "/?token=" + guard_->token();
}

void ViewServer::run() { server_->listen_after_bind(); }

void ViewServer::stop() {
  stopping_ = true;
  if (server_) server_->stop();
  std::error_code ec;
  std::filesystem::remove(sx::window::web::page_marker(), ec);
}

// The web window host draws windows in the page while the marker names this process.
void ViewServer::page_opened() {
  std::lock_guard lock(pages_mutex_);
  if (open_pages_++ > 0) return;
  std::error_code ec;
  std::filesystem::create_directories(sx::window::web::view_folder(), ec);
  const auto temporary = sx::window::web::view_folder() / ".page.tmp";
  std::ofstream(temporary) << ::getpid() << "\n";
  std::filesystem::rename(temporary, sx::window::web::page_marker(), ec);
}

void ViewServer::page_closed() {
  std::lock_guard lock(pages_mutex_);
  if (--open_pages_ > 0) return;
  std::error_code ec;
  std::filesystem::remove(sx::window::web::page_marker(), ec);
}

void ViewServer::add_routes() {
  httplib::Server& s = *server_;
  s.set_payload_max_length(kMaxRequestBytes);
  s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    const std::string why = guard_->refusal(token_of(req), req.get_header_value("Host"),
                                            req.get_header_value("Origin"));
    if (why.empty()) return httplib::Server::HandlerResponse::Unhandled;
    res.status = 403;
    res.set_content("Refused: " + why + ".\n", "text/plain; charset=utf-8");
    return httplib::Server::HandlerResponse::Handled;
  });
  s.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    answer_json(res, json{{"ok", false}, {"message", "the server failed"}}, 500);
  });

  s.Get("/", guarded([](const httplib::Request&, httplib::Response& res) {
          // The token is in the address: no other page may frame this one or learn the address.
          res.set_header("Content-Security-Policy",
                         "default-src 'self'; script-src 'unsafe-inline' 'self'; style-src "
                         "'unsafe-inline'; img-src 'self' data:; frame-ancestors 'none'");
          res.set_header("Referrer-Policy", "no-referrer");
          res.set_header("Cache-Control", "no-store");
          res.set_content(page_html(), "text/html; charset=utf-8");
        }));

  auto state_json = [this](const MachineState& state) {
    json value = state.read();
    value["hotsync"] = actions_->hotsync_status();
    return value;
  };

  s.Get("/api/state", guarded([this, state_json](const httplib::Request&, httplib::Response& res) {
          answer_json(res, state_json(MachineState(options_.user)));
        }));

  s.Get("/api/events", guarded([this, state_json](const httplib::Request&,
                                                  httplib::Response& res) {
          res.set_header("Cache-Control", "no-store");
          auto stream = std::make_shared<EventStream>(options_.user);
          page_opened();
          res.set_chunked_content_provider(
              "text/event-stream",
              [this, stream, state_json](std::size_t, httplib::DataSink& sink) {
                try {
                  for (int look = 0; look < kLooksPerKeepAlive && !stopping_; ++look) {
                    const auto now = std::chrono::steady_clock::now();
                    const unsigned hotsync = actions_->hotsync_changes();
                    const std::string print =
                        now < stream->quiet_until && hotsync == stream->hotsync
                            ? stream->last
                            : stream->state.fingerprint() + text_of(actions_->hotsync_status());
                    stream->hotsync = hotsync;
                    if (print != stream->last) {
                      stream->last = print;
                      const std::string event =
                          "data: " + text_of(state_json(stream->state)) + "\n\n";
                      // What reading cost decides when to look again: a change is seen within
                      // 200 ms, and a HotSync that changes the machine all the time keeps most
                      // of the computer to itself.
                      const auto took = std::chrono::steady_clock::now() - now;
                      stream->quiet_until = now + std::max<std::chrono::steady_clock::duration>(
                                                      kLeastBetweenEvents, kReadShare * took);
                      return sink.write(event.data(), event.size());
                    }
                    for (auto slept = std::chrono::milliseconds(0);
                         slept < kLookEvery && actions_->hotsync_changes() == stream->hotsync;
                         slept += kHotSyncLookEvery) {
                      std::this_thread::sleep_for(kHotSyncLookEvery);
                    }
                  }
                  if (stopping_) {
                    sink.done();
                    return true;
                  }
                  static const std::string kKeepAlive = ": still here\n\n";
                  return sink.write(kKeepAlive.data(), kKeepAlive.size());
                } catch (...) {
                  return false;  // ends this connection; the page reconnects
                }
              },
              [this](bool) { page_closed(); });
        }));

  s.Post("/api/do", guarded([this](const httplib::Request& req, httplib::Response& res) {
           PageRequest request;
           try {
             request = parse_page_request(req.body);
           } catch (const BadPageRequest& e) {
             answer_json(res, json{{"ok", false}, {"message", e.what()}}, 400);
             return;
           }
           const ActionResult r = actions_->apply(request);
           answer_json(res, json{{"ok", r.ok}, {"message", r.message}, {"lines", r.lines}});
         }));
}

}  // namespace sx::machine_view
