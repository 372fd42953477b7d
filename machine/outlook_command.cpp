// sxmachine outlook install [--version V] [--profile NAME] [--store PATH]
#include <cstdio>

#include "commands.h"
#include "sx/outlook/install.h"

namespace sx::machine_tool {

const char* const kOutlookHelp =
    "Usage: sxmachine outlook install [--version V] [--profile NAME] [--store PATH]\n"
    "\n"
    "Installs Outlook on the machine as its setup would: the class \"Outlook.Application\"\n"
    "(LocalServer32 C:\\Program Files\\Microsoft Office\\Office\\OUTLOOK.EXE, a stand-in file "
    "whose\n"
    "file version is V, default 9.0.0.3821), and the profile NAME (default \"Outlook\", made the\n"
    "default profile) with its default store PATH (a Windows path; created when missing) holding\n"
    "the folders Contacts and Inbox. Installing again changes the version and keeps the stores.\n";

int run_outlook(const Args& args) {
  if (args.empty() || is_help(args[0])) {
    std::fputs(kOutlookHelp, args.empty() ? stderr : stdout);
    return args.empty() ? 1 : 0;
  }
  if (args[0] != "install") {
    std::fprintf(stderr, "sxmachine outlook: unknown command \"%s\"\n\n%s", args[0].c_str(),
                 kOutlookHelp);
    return 1;
  }
  sx::outlook::InstallOptions options;
  for (std::size_t i = 1; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) {
      std::fprintf(stderr, "sxmachine outlook: %s needs a value\n", args[i].c_str());
      return 1;
    }
    if (args[i] == "--version")
      options.version = args[i + 1];
    else if (args[i] == "--profile")
      options.profile = args[i + 1];
    else if (args[i] == "--store")
      options.store_path = args[i + 1];
    else {
      std::fprintf(stderr, "sxmachine outlook: unknown option %s\n\n%s", args[i].c_str(),
                   kOutlookHelp);
      return 1;
    }
  }
  std::string why;
  if (!sx::outlook::install(options, &why)) {
    std::fprintf(stderr, "ERROR: %s\n", why.c_str());
    return 1;
  }
  std::printf("Installed Outlook %s with the profile \"%s\" (store %s)\n", options.version.c_str(),
              options.profile.c_str(), options.store_path.c_str());
  return 0;
}

}  // namespace sx::machine_tool
