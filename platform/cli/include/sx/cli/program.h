// What every program of ours has on its command line, over CLI11: `--machine DIR`, `--help` at
// every level, one error format and the exit codes.
//
//   sx::cli::Program program("sxmachine", "Makes a simulated machine and ...");
//   CLI::App* create = program.app().add_subcommand("create", "make a fresh machine");
//   program.action(create, [&] { ...; return sx::cli::kExitSuccess; }, sx::cli::Machine::kAny);
//   return program.run(argc, argv);
//
// run() does, in this order:
// 1. `--help`, `-h` or `/?` anywhere on the line (before a bare "--") prints the help of the last
//    command named on the line to stdout and returns 0. Nothing else happens: no option is looked
//    at, no machine is read. `--version` likewise prints the program's version.
// 2. Parses the line. A mistake (unknown option or command, a missing or refused value, a value
//    outside its set) prints "ERROR: <what is wrong>" and where to find the usage to stderr and
//    returns 1.
// 3. Finds the machine root (`--machine DIR`, anywhere on the line, else sx/machine.h's rules) and
//    refuses, unless the command says Machine::kAny, a root that holds no machine, saying how to
//    make one.
// 4. Runs the action of the last command named. A Failure it throws prints "ERROR: <message>" and
//    returns 1; a UsageError also says where to find the usage.
//
// One Program per process, used on the main thread.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace sx::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

// A command that cannot do what it was asked: run() prints "ERROR: <message>" and returns 1.
// Messages are sentences for a person ("There is no HotSync user \"Jo\".").
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A command line that makes no sense to the command (found only once it runs): printed like a
// Failure, followed by where to find the usage.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a command needs of the machine root.
enum class Machine {
  kExisting,  // a root that holds a machine (sx::machine::holds_machine)
  kAny,       // any root, or none yet (the command makes one)
};

class Program {
 public:
  // `name` starts every usage line; `description` heads the program's help.
  Program(std::string name, std::string description);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // The program's command: add options and subcommands with CLI11.
  CLI::App& app() { return app_; }

  // `command` (the program or one of its subcommands) runs `action` when it is the last command
  // named on the line; its result is the exit code. A command without an action that is named last
  // is a mistake ("... needs a command: ...").
  void action(CLI::App* command, std::function<int()> action, Machine machine = Machine::kExisting);

  // `command`'s help is `text` instead of the one CLI11 makes from its options.
  void help_text(CLI::App* command, std::string text);

  // The arguments after `command`'s name go through `rewrite` before parsing (reg's Windows-style
  // switches become options CLI11 knows). `rewrite` may throw UsageError.
  using Rewriter = std::function<std::vector<std::string>(const std::vector<std::string>&)>;
  void rewrite_arguments(CLI::App* command, Rewriter rewrite);

  // See the top of this file. Never throws.
  int run(int argc, const char* const* argv);

  // The help that --help prints for `command`.
  std::string help(const CLI::App* command) const;

  // "sxmachine hotsync add-user": the program's name and the command names down to `command`.
  static std::string path_of(const CLI::App* command);

 private:
  struct Command {
    std::function<int()> action;
    Machine machine = Machine::kExisting;
  };

  int run_checked(const std::vector<std::string>& args);
  const CLI::App* named_last(const std::vector<std::string>& args, bool* help, bool* version) const;
  std::vector<std::string> rewritten(const std::vector<std::string>& args) const;
  CLI::App* selected();
  std::string parse_error_text(const CLI::ParseError& e);
  void check_machine(Machine machine);

  CLI::App app_;
  std::string machine_option_;
  bool version_flag_ = false;  // handled before parsing; declared for the help
  std::map<const CLI::App*, Command> commands_;
  std::map<const CLI::App*, std::string> help_texts_;
  std::map<const CLI::App*, Rewriter> rewriters_;
};

// True for the words that ask for help: --help, -h and /? (the Windows way).
bool is_help(const std::string& arg);

// What `--version` prints for `program`: its name and the project's version, with a line end.
std::string version_line(const std::string& program);

// A rewriter for a command that hands its arguments to a Windows program as they stand (switches
// such as /install or -install): every argument but --machine with its value and the help words
// becomes a positional argument.
std::vector<std::string> as_positional_arguments(const std::vector<std::string>& args);

}  // namespace sx::cli
