// The machine's page as a person meets it, whole runs of the programs (real clock: the page server
// and HotSync Manager are processes of their own):
// - HotSync of 1,000 new handheld notes started from the page (POST, then the page's state until
//   HotSync Manager's process has ended) against the same HotSync from the command line
//   (`hotsync --sync`). Budget: from the page at most 10% slower.
// - A change on either side shown by the page: from a note written by the handheld's notes
//   application, or a post added by sxfolders (each another process, its start included), until
//   the page's event stream brings it, with 100 notes on each side. Budget: 200 ms.
// Each iteration runs on a fresh machine (made while the timer is paused).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "sx/testing/temp_machine.h"

namespace {

constexpr char kUser[] = "Jo Smith";

int run(const std::vector<std::string>& line) {
  std::string command;
  for (const std::string& a : line) command += "'" + a + "' ";
  return std::system((command + ">/dev/null 2>&1").c_str());
}

// A machine with the system installed and `notes` new notes on the handheld.
void make_machine(const std::string& root, int notes) {
  run({SXMACHINE_PATH, "--machine", root, "system", "install", "--user", kUser});
  const std::string file = root + "/../notes.json";
  {
    nlohmann::json list = nlohmann::json::array();
    for (int i = 0; i < notes; ++i) list.push_back({{"text", "Note " + std::to_string(i)}});
    std::ofstream(file) << list.dump();
  }
  run({SXMACHINE_PATH, "--machine", root, "handheld", kUser, "import", file});
}

// `sxmachine view` on `root`: its pid and address.
struct Server {
  pid_t pid = -1;
  int port = 0;
  std::string token;
  explicit Server(const std::string& root) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::execl(SXMACHINE_PATH, SXMACHINE_PATH, "--machine", root.c_str(), "view", nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(out[0]);
    const auto at = line.find("127.0.0.1:");
    if (at != std::string::npos) port = std::atoi(line.c_str() + at + 10);
    const auto t = line.find("token=");
    if (t != std::string::npos) token = line.substr(t + 6, 32);
  }
  ~Server() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
  httplib::Headers headers() const { return {{"X-Sx-Token", token}}; }
};

using Clock = std::chrono::steady_clock;
std::chrono::duration<double> seconds_since(Clock::time_point start) { return Clock::now() - start; }

// Both HotSyncs are timed by hand from the press to its end, so that making the machine and
// taking it (and the page server) down afterwards count in neither.
void HotSyncFromTheCommandLine(benchmark::State& state) {
  for (auto _ : state) {
    sx::testing::TempMachine machine(sx::testing::TempMachine::Clock::kReal);
    const std::string root = machine.root().string();
    make_machine(root, static_cast<int>(state.range(0)));
    const auto start = Clock::now();
    if (run({HOTSYNC_PATH, "--machine", root, "--sync", kUser}) != 0)
      state.SkipWithError("the HotSync failed");
    state.SetIterationTime(seconds_since(start).count());
  }
}
BENCHMARK(HotSyncFromTheCommandLine)->Arg(1000)->Iterations(5)->Unit(benchmark::kMillisecond)->UseManualTime();

// Follows the page's event stream as the page does: `on_state` gets each state sent and says
// whether to go on.
template <typename OnState>
void follow_events(const Server& server, OnState on_state) {
  httplib::Client client("127.0.0.1", server.port);
  client.set_read_timeout(600, 0);
  std::string received;
  client.Get("/api/events", server.headers(), [&](const char* data, std::size_t size) {
    received.append(data, size);
    for (std::size_t end; (end = received.find("\n\n")) != std::string::npos;) {
      const std::string event = received.substr(0, end);
      received.erase(0, end + 2);
      if (event.rfind("data: ", 0) != 0) continue;  // the stream's keep-alive comments
      if (!on_state(nlohmann::json::parse(event.substr(6), nullptr, false))) return false;
    }
    return true;
  });
}

void HotSyncFromThePage(benchmark::State& state) {
  for (auto _ : state) {
    sx::testing::TempMachine machine(sx::testing::TempMachine::Clock::kReal);
    const std::string root = machine.root().string();
    make_machine(root, static_cast<int>(state.range(0)));
    Server server(root);
    bool pressed = false;
    Clock::time_point start;
    // A page is open while the HotSync runs, as when a person presses the button; its end is
    // when the page learns that HotSync Manager's process has ended.
    follow_events(server, [&](const nlohmann::json& s) {
      if (!s.is_object()) return true;
      if (!pressed) {
        pressed = true;
        start = Clock::now();
        httplib::Client client("127.0.0.1", server.port);
        auto started = client.Post("/api/do", server.headers(),
                                   R"({"side":"hotsync","action":"sync"})", "application/json");
        if (!started || started->status != 200) {
          state.SkipWithError("the page could not start a HotSync");
          return false;
        }
        return true;
      }
      const auto& h = s["hotsync"];
      if (h["running"].get<bool>() || h["last_result"].is_null()) return true;
      if (h["last_result"] != 0) state.SkipWithError("the HotSync failed");
      state.SetIterationTime(seconds_since(start).count());
      return false;
    });
  }
}
BENCHMARK(HotSyncFromThePage)->Arg(1000)->Iterations(5)->Unit(benchmark::kMillisecond)->UseManualTime();

// From a change made by another program (its process started) until the page's event stream
// brings it, on a machine of 100 synchronised notes: `change` is the command line of the n-th
// change on the machine at `root`, which writes `seen` and n.
void shown_after(benchmark::State& state, const std::string& seen,
                 const std::function<std::vector<std::string>(const std::string&, int)>& change) {
  sx::testing::TempMachine machine(sx::testing::TempMachine::Clock::kReal);
  const std::string root = machine.root().string();
  make_machine(root, 100);
  run({HOTSYNC_PATH, "--machine", root, "--sync", kUser});
  Server server(root);
  int n = 0;
  for (auto _ : state) {
    const std::string text = seen + " " + std::to_string(++n);
    bool changed = false;
    std::chrono::steady_clock::time_point written;
    std::chrono::duration<double> shown{};
    follow_events(server, [&](const nlohmann::json& s) {
      if (!changed) {
        changed = true;
        written = std::chrono::steady_clock::now();
        run(change(root, n));
        return true;
      }
      if (s.dump().find(text) == std::string::npos) return true;
      shown = std::chrono::steady_clock::now() - written;
      return false;
    });
    state.SetIterationTime(shown.count());
  }
}

void PageShowsAHandheldChange(benchmark::State& state) {
  shown_after(state, "Seen on the handheld", [](const std::string& root, int n) {
    return std::vector<std::string>{SXMACHINE_PATH, "--machine", root, "handheld", kUser, "new",
                                    "--text", "Seen on the handheld " + std::to_string(n)};
  });
}
BENCHMARK(PageShowsAHandheldChange)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

void PageShowsAnOutlookChange(benchmark::State& state) {
  shown_after(state, "Seen in Outlook", [](const std::string& root, int n) {
    return std::vector<std::string>{SXFOLDERS_PATH, "--machine", root, "add-post",
                                    "Vorlan\\Scribbix", "--body",
                                    "Seen in Outlook " + std::to_string(n)};
  });
}
BENCHMARK(PageShowsAnOutlookChange)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
