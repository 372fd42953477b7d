// sxmachine view [--port N] [--user NAME]: the machine in a browser (the server is view/).
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <thread>

#include "commands.h"
#include "sx/cli/companion_files.h"
#include "sx/cli/terminal_text.h"
#include "sx/cli/values.h"
#include "sx/hotsync.h"
#include "view/view_server.h"

namespace sx::machine_tool {
namespace {

using sx::cli::Failure;

struct ViewArgs {
  int port = 0;
  std::string user;
};

// The user named on the line, else HotSync's first user.
std::string user_to_show(const ViewArgs& a) {
  std::vector<sx::hotsync::UserEntry> users;
  std::string why;
  if (!sx::hotsync::read_users(&users, &why))
    throw Failure(sx::cli::sentence(sx::cli::ansi_to_terminal(why)));
  if (a.user.empty()) {
    if (users.empty())
      throw Failure("HotSync has no user yet (sxmachine hotsync add-user, or system install).");
    return users.front().name;
  }
  const std::string name = sx::cli::machine_text(a.user, "user name");
  for (const auto& u : users) {
    if (u.name == name) return name;
  }
  throw Failure("There is no HotSync user \"" + a.user + "\".");
}

int serve(const ViewArgs& a) {
  sx::machine_view::ViewOptions options;
  options.user = user_to_show(a);
  options.port = a.port;
  options.programs = {SX_COMPANION_FILE(SX_SXFOLDERS_PROGRAM),
                      SX_COMPANION_FILE(SX_HOTSYNC_PROGRAM)};
  // The HotSync's dialogs and progress window are drawn in the page.
  options.hotsync_environment = {"SX_WINDOW_HOST=web"};
  // A page that went away is a failed write, not the end of the server.
  ::signal(SIGPIPE, SIG_IGN);
  // Ctrl+C and SIGTERM stop the server on a thread of their own; no other thread takes them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  sx::machine_view::ViewServer server(options);
  std::string why;
  if (!server.bind(&why)) throw Failure(why);
  std::printf("Open %s in a browser on this computer. Ctrl+C stops the server.\n",
              server.address().c_str());
  std::fflush(stdout);
  std::thread stopper([&] {
    int signal = 0;
    sigwait(&stop_signals, &signal);
    server.stop();
  });
  server.run();
  ::kill(::getpid(), SIGTERM);  // wakes the stopper when the server ended by itself
  stopper.join();
  std::printf("The server stopped.\n");
  return 0;
}

}  // namespace

void add_view_command(sx::cli::Program& program) {
  auto a = std::make_shared<ViewArgs>();
  CLI::App* view = program.app().add_subcommand(
      "view", "the machine in a browser: a page server on 127.0.0.1 for one HotSync user");
  view->add_option("--port", a->port, "the port to listen on (default: any free port)")
      ->transform(sx::cli::number(0, 65535))
      ->type_name("N");
  view->add_option("--user", a->user, "the HotSync user to show (default: the first)")
      ->type_name("NAME");
  view->footer(
      "The address printed carries a random token: only a browser given that address can use the "
      "page, and no other web page can drive the machine. The server listens on 127.0.0.1 alone.");
  program.action(view, [a] { return serve(*a); });
}

}  // namespace sx::machine_tool
