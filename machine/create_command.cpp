// sxmachine create [DIR]
#include <cstdio>
#include <filesystem>

#include "commands.h"
#include "sx/machine.h"
#include "sx/registry_file.h"

namespace sx::machine_tool {

const char* const kCreateHelp =
    "Usage: sxmachine create [DIR]\n"
    "\n"
    "Makes the machine root DIR (default: the --machine folder, $SX_MACHINE, or the default\n"
    "machine) with its drive C: and handheld folders and an empty registry. A registry that\n"
    "is there already is kept.\n";

bool is_help(const std::string& arg) { return arg == "--help" || arg == "-h" || arg == "/?"; }

int run_create(const Args& args) {
  if (!args.empty() && is_help(args[0])) {
    std::fputs(kCreateHelp, stdout);
    return 0;
  }
  if (args.size() > 1) {
    std::fputs(kCreateHelp, stderr);
    return 1;
  }
  if (args.size() == 1) sx::machine::set_root(args[0]);
  std::filesystem::path root = sx::machine::root();
  std::string why;
  bool had_registry = std::filesystem::exists(sx::registry::file_path());
  if (!sx::machine::create_machine(root, &why) || !sx::registry::create_empty_file(&why)) {
    std::fprintf(stderr, "ERROR: %s\n", why.c_str());
    return 1;
  }
  std::printf("%s the machine at %s\n", had_registry ? "Kept" : "Created", root.c_str());
  std::printf("Registry: %s\n", sx::registry::file_path().c_str());
  return 0;
}

}  // namespace sx::machine_tool
