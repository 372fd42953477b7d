// sxmachine create [DIR] [--replace]
#include <cstdio>
#include <filesystem>
#include <memory>

#include "commands.h"
#include "sx/cli/values.h"
#include "sx/machine.h"
#include "sx/registry_file.h"

namespace fs = std::filesystem;

namespace sx::machine_tool {
namespace {

// What a machine consists of in its folder: the registry file and its lock, temporaries and kept
// copies, the drives, the handhelds and the windows of its processes. Other files stay.
bool is_part_of_a_machine(const std::string& name) {
  return name == "registry.reg" || name.rfind("registry.reg.", 0) == 0 ||
         name.rfind("drive_", 0) == 0 || name == "handhelds" || name == "windows";
}

void remove_machine(const fs::path& root) {
  std::error_code ec;
  std::vector<fs::path> parts;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    if (is_part_of_a_machine(it->path().filename().string())) parts.push_back(it->path());
  }
  if (ec) throw sx::cli::Failure("Cannot read " + root.string() + ": " + ec.message() + ".");
  for (const fs::path& part : parts) {
    fs::remove_all(part, ec);
    if (ec) throw sx::cli::Failure("Cannot remove " + part.string() + ": " + ec.message() + ".");
  }
}

}  // namespace

void add_create_command(sx::cli::Program& program) {
  struct Options {
    std::string dir;
    bool replace = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* create = program.app().add_subcommand(
      "create", "make a fresh machine: drive C:, the handhelds' folder and an empty registry");
  create->add_option("DIR", options->dir,
                     "the machine's folder (default: the --machine folder, $SX_MACHINE, or the "
                     "default machine)");
  create->add_flag("--replace", options->replace,
                   "when the folder holds a machine, replace it with a fresh one (its registry, "
                   "drives, handhelds and windows go; other files in the folder stay)");
  create->footer(
      "A folder that holds a machine already is kept as it is, unless --replace is given.");
  program.action(
      create,
      [options, create] {
        if (create->count("DIR") > 0) {
          if (options->dir.empty()) throw sx::cli::UsageError("DIR is empty.");
          sx::machine::set_root(options->dir);
        }
        const fs::path root = sx::machine::root();
        const bool existed = sx::machine::holds_machine(root);
        if (existed && !options->replace) {
          throw sx::cli::Failure("There is a machine at " + root.string() +
                                 " already. Go on using it, or start over with: sxmachine "
                                 "--machine " +
                                 sx::cli::shell_word(root.string()) + " create --replace");
        }
        if (existed) remove_machine(root);
        std::string why;
        if (!sx::machine::create_machine(root, &why) || !sx::registry::create_empty_file(&why))
          throw sx::cli::Failure("Cannot make the machine: " + why + ".");
        std::printf("%s at %s.\nRegistry: %s\n",
                    existed ? "Replaced the machine with a fresh one" : "Made a fresh machine",
                    root.c_str(), sx::registry::file_path().c_str());
        return sx::cli::kExitSuccess;
      },
      sx::cli::Machine::kAny);
}

}  // namespace sx::machine_tool
