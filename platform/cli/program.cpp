#include "sx/cli/program.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "sx/cli/values.h"
#include "sx/machine.h"

namespace sx::cli {
namespace {

constexpr const char* kMachineOption = "--machine";

std::string join(const std::vector<std::string>& words, const char* between) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : between) + w;
  return out;
}

std::vector<std::string> command_names(const CLI::App* app) {
  std::vector<std::string> names;
  for (const CLI::App* sub : app->get_subcommands([](const CLI::App*) { return true; }))
    names.push_back(sub->get_name());
  return names;
}

void print_error(const std::string& message, const std::string& usage_path) {
  std::string text = "ERROR: " + message + "\n";
  if (!usage_path.empty()) text += "Type \"" + usage_path + " --help\" for usage.\n";
  std::fputs(text.c_str(), stderr);
}

// "--id: 1 required ... missing" or "Expected exactly 2 arguments to --action, got 1": the option.
std::string option_of(const std::string& message) {
  if (auto to = message.find(" to "); message.rfind("Expected", 0) == 0 && to != std::string::npos)
    return message.substr(to + 4, message.find(',', to) - to - 4);
  return message.substr(0, message.find(':'));
}

}  // namespace

bool is_help(const std::string& arg) { return arg == "--help" || arg == "-h" || arg == "/?"; }

std::string version_line(const std::string& program) {
  return program + " " + SX_PROJECT_VERSION + " (Scribbix on a simulated machine)\n";
}

std::vector<std::string> as_positional_arguments(const std::vector<std::string>& args) {
  std::vector<std::string> out, rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == kMachineOption && i + 1 < args.size()) {
      out.push_back(args[i]);
      out.push_back(args[++i]);
    } else if (is_help(args[i])) {
      out.push_back(args[i]);
    } else {
      rest.push_back(args[i]);
    }
  }
  if (!rest.empty()) out.push_back("--");
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

Program::Program(std::string name, std::string description) : app_(std::move(description), name) {
  app_.set_help_flag("-h,--help", "print this help and do nothing else");
  app_.add_flag("--version", version_flag_, "print the program's version and do nothing else");
  app_.add_option(kMachineOption, machine_option_,
                  "the simulated machine's folder (default: $SX_MACHINE, else "
                  "$XDG_DATA_HOME/scribbix/machine, that is ~/.local/share/scribbix/machine)")
      ->type_name("DIR");
  // Options of the program (--machine) may come after a command's name too.
  app_.fallthrough();
  app_.get_formatter()->column_width(32);
}

void Program::action(CLI::App* command, std::function<int()> action, Machine machine) {
  commands_[command] = Command{std::move(action), machine};
}

void Program::help_text(CLI::App* command, std::string text) {
  help_texts_[command] = std::move(text);
}

void Program::rewrite_arguments(CLI::App* command, Rewriter rewrite) {
  rewriters_[command] = std::move(rewrite);
}

std::string Program::path_of(const CLI::App* command) {
  std::string path;
  for (const CLI::App* app = command; app != nullptr; app = app->get_parent())
    path = app->get_name() + (path.empty() ? "" : " " + path);
  return path;
}

std::string Program::help(const CLI::App* command) const {
  if (auto it = help_texts_.find(command); it != help_texts_.end()) return it->second;
  const CLI::App* parent = command->get_parent();
  return command->help(parent != nullptr ? path_of(parent) : "");
}

const CLI::App* Program::named_last(const std::vector<std::string>& args, bool* help,
                                    bool* version) const {
  const CLI::App* current = &app_;
  *help = false;
  *version = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") break;
    if (arg == kMachineOption) {
      ++i;  // its value is not a command
    } else if (is_help(arg)) {
      *help = true;
    } else if (arg == "--version") {
      *version = true;
    } else {
      for (const CLI::App* sub : current->get_subcommands([](const CLI::App*) { return true; })) {
        if (sub->check_name(arg)) {
          current = sub;
          break;
        }
      }
    }
  }
  return current;
}

std::vector<std::string> Program::rewritten(const std::vector<std::string>& args) const {
  if (rewriters_.empty()) return args;
  const CLI::App* current = &app_;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == kMachineOption) {
      ++i;
      continue;
    }
    const CLI::App* next = nullptr;
    for (const CLI::App* sub : current->get_subcommands([](const CLI::App*) { return true; })) {
      if (sub->check_name(args[i])) next = sub;
    }
    if (next == nullptr) continue;
    current = next;
    if (auto it = rewriters_.find(current); it != rewriters_.end()) {
      std::vector<std::string> out(args.begin(), args.begin() + static_cast<long>(i) + 1);
      std::vector<std::string> rest =
          it->second(std::vector<std::string>(args.begin() + static_cast<long>(i) + 1, args.end()));
      out.insert(out.end(), rest.begin(), rest.end());
      return out;
    }
  }
  return args;
}

CLI::App* Program::selected() {
  CLI::App* current = &app_;
  while (!current->get_subcommands().empty()) current = current->get_subcommands().back();
  return current;
}

std::string Program::parse_error_text(const CLI::ParseError& e) {
  CLI::App* command = selected();
  const std::string what = e.what();
  const std::string path = path_of(command);
  if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
    // With fallthrough, what a command did not know may sit with any command above it.
    std::vector<std::string> extra;
    for (const CLI::App* app = command; app != nullptr && extra.empty(); app = app->get_parent())
      extra = app->remaining();
    const std::string first = extra.empty() ? what : extra.front();
    if (first.size() > 1 && first[0] == '-')
      return "\"" + first + "\" is not an option of " + path + ".";
    std::vector<std::string> names = command_names(command);
    if (!names.empty()) {
      return "\"" + first + "\" is not a command of " + path + "; its commands are " +
             join(names, ", ") + ".";
    }
    return "\"" + first + "\" is one argument too many for " + path + ".";
  }
  if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr) {
    const auto cut = what.find(" is required");
    if (cut != std::string::npos) return path + " needs " + what.substr(0, cut) + ".";
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
    const std::string name = option_of(what);
    const CLI::Option* option = command->get_option_no_throw(name);
    if (option == nullptr) option = app_.get_option_no_throw(name);
    const int wanted = option != nullptr ? option->get_expected_min() : 1;
    std::string values = wanted > 1 ? std::to_string(wanted) + " values" : std::string("a value");
    if (wanted > 1 && option != nullptr && !option->get_option_text().empty())
      values += " (" + option->get_option_text() + ")";
    // "--action: At Most 2 required but received 3": more than it takes.
    const auto got = what.rfind(" received ");
    const long given = got == std::string::npos ? -1 : std::atol(what.c_str() + got + 10);
    if (given > wanted) {
      return name + " takes " + values + ", and " + std::to_string(given) +
             " were given. A value that holds spaces needs quotes.";
    }
    std::string text = name + " needs " + values;
    if (option != nullptr && !option->get_description().empty())
      text += ": " + option->get_description();
    return text + ".";
  }
  if (dynamic_cast<const CLI::ExcludesError*>(&e) != nullptr) {
    const auto cut = what.find(" excludes ");
    if (cut != std::string::npos)
      return what.substr(0, cut) + " and " + what.substr(cut + 10) + " cannot be given together.";
  }
  return what + (what.empty() || what.back() == '.' ? "" : ".");
}

void Program::check_machine(Machine machine) {
  std::string why;
  auto root = sx::machine::resolve_root(&why);
  if (!root) throw Failure("There is no machine folder: " + why + ".");
  if (machine == Machine::kExisting && !sx::machine::holds_machine(*root)) {
    throw Failure("There is no machine at " + root->string() + ". Make one with: sxmachine " +
                  kMachineOption + " " + shell_word(root->string()) + " create");
  }
}

int Program::run_checked(const std::vector<std::string>& args) {
  bool help = false, version = false;
  const CLI::App* last = named_last(args, &help, &version);
  if (help) {
    std::fputs(this->help(last).c_str(), stdout);
    return kExitSuccess;
  }
  if (version) {
    std::fputs(version_line(app_.get_name()).c_str(), stdout);
    return kExitSuccess;
  }
  std::vector<std::string> line;
  try {
    line = rewritten(args);
  } catch (const UsageError& e) {
    print_error(e.what(), path_of(last));
    return kExitFailure;
  }
  std::vector<std::string> reversed(line.rbegin(), line.rend());
  try {
    app_.parse(reversed);
  } catch (const CLI::ParseError& e) {
    print_error(parse_error_text(e), path_of(selected()));
    return kExitFailure;
  }
  CLI::App* command = selected();
  const std::string usage_path = path_of(command);
  try {
    auto it = commands_.find(command);
    if (it == commands_.end()) {
      throw UsageError(usage_path + " needs a command: " + join(command_names(command), ", ") +
                       ".");
    }
    if (app_.count(kMachineOption) > 0) {
      if (machine_option_.empty()) throw UsageError("--machine needs a folder.");
      sx::machine::set_root(machine_option_);
    }
    check_machine(it->second.machine);
    return it->second.action();
  } catch (const UsageError& e) {
    print_error(e.what(), usage_path);
  } catch (const Failure& e) {
    print_error(e.what(), "");
  }
  return kExitFailure;
}

int Program::run(int argc, const char* const* argv) {
  try {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    const int code = run_checked(args);
    std::fflush(stdout);
    return code;
  } catch (const std::bad_alloc&) {
    print_error("There is not enough memory.", "");
  } catch (const std::exception& e) {
    print_error(std::string("Unexpected failure: ") + e.what(), "");
  } catch (...) {
    print_error("Unexpected failure.", "");
  }
  return kExitFailure;
}

}  // namespace sx::cli
