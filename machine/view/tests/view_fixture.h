// A machine with the system installed for "Jo Smith" and `sxmachine view` serving it, started as
// a person starts it; requests go to it over HTTP as a browser's would.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "registry_test_util.h"
#include "sx/testing/temp_machine.h"

namespace sx::machine_view::testing {

using sx::registry::testing::run_program;
using sx::registry::testing::ToolResult;

inline constexpr char kUser[] = "Jo Smith";

// The running server: its pid and what it printed first.
class ViewProcess {
 public:
  // Starts `sxmachine --machine ROOT view ARGS...` and reads its first line.
  explicit ViewProcess(std::vector<std::string> args = {}) {
    int out[2];
    if (::pipe(out) != 0) return;
    std::vector<std::string> line = {SXMACHINE_PATH, "--machine", sx::machine::root().string(),
                                     "view"};
    line.insert(line.end(), args.begin(), args.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::dup2(out[1], 2);
      ::close(out[0]);
      ::close(out[1]);
      const int null = ::open("/dev/null", O_RDONLY);
      ::dup2(null, 0);
      std::vector<char*> argv;
      for (auto& a : line) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
    char c;
    while (::read(out_, &c, 1) == 1 && c != '\n') first_line_ += c;
  }
  ~ViewProcess() { stop(); }

  // SIGTERM and the exit code (-1 when it was killed by a signal).
  int stop() {
    if (pid_ <= 0) return exit_code_;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    ::close(out_);
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exit_code_;
  }
  const std::string& first_line() const { return first_line_; }
  // From "Open http://127.0.0.1:PORT/?token=TOKEN in ...".
  int port() const {
    const auto at = first_line_.find("127.0.0.1:");
    return at == std::string::npos ? 0 : std::atoi(first_line_.c_str() + at + 10);
  }
  std::string token() const {
    const auto at = first_line_.find("token=");
    if (at == std::string::npos) return {};
    return first_line_.substr(at + 6, first_line_.find(' ', at) - at - 6);
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int exit_code_ = -1;
  std::string first_line_;
};

class ViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ToolResult r = run_program(SXMACHINE_PATH, {"--machine", sx::machine::root().string(), "system",
                                                "install", "--user", kUser});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    view_ = std::make_unique<ViewProcess>();
    ASSERT_GT(view_->port(), 0) << view_->first_line();
    ASSERT_EQ(view_->token().size(), 32u) << view_->first_line();
  }

  httplib::Client client() {
    httplib::Client c("127.0.0.1", view_->port());
    c.set_read_timeout(120, 0);
    return c;
  }
  httplib::Headers with_token() { return {{"X-Sx-Token", view_->token()}}; }

  // POST /api/do with the token; the answer's JSON (null when it was not JSON).
  nlohmann::json ask(const nlohmann::json& request, int expected_status = 200) {
    auto c = client();
    auto res = c.Post("/api/do", with_token(), request.dump(), "application/json");
    EXPECT_TRUE(res);
    if (!res) return nullptr;
    EXPECT_EQ(res->status, expected_status) << res->body;
    return nlohmann::json::parse(res->body, nullptr, false);
  }
  nlohmann::json state() {
    auto c = client();
    auto res = c.Get("/api/state", with_token());
    EXPECT_TRUE(res && res->status == 200);
    return res ? nlohmann::json::parse(res->body, nullptr, false) : nlohmann::json();
  }

  // The texts of the live handheld notes and of the posts, as the page has them.
  static std::vector<std::string> handheld_texts(const nlohmann::json& s) {
    std::vector<std::string> texts;
    for (const auto& n : s["handheld"]["notes"])
      if (!n["deleted"].get<bool>() && !n["archived"].get<bool>()) texts.push_back(n["text"]);
    return texts;
  }
  static std::vector<std::string> post_bodies(const nlohmann::json& s) {
    std::vector<std::string> bodies;
    for (const auto& p : s["outlook"]["posts"]) bodies.push_back(p["body"]);
    return bodies;
  }

  sx::testing::TempMachine machine_;
  std::unique_ptr<ViewProcess> view_;
};

}  // namespace sx::machine_view::testing
