// sxmachine outlook install|addins|prompt|close
#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "sx/outlook/addins.h"
#include "sx/outlook/install.h"
#include "sx/outlook/outlook_process.h"

namespace sx::machine_tool {

const char* const kOutlookHelp =
    "Usage: sxmachine outlook install [--version V] [--outlrpc-version V] [--outllibr-version V]\n"
    "                                 [--editor-preferences N] [--profile NAME] [--store PATH]\n"
    "       sxmachine outlook addins\n"
    "       sxmachine outlook prompt on|off\n"
    "       sxmachine outlook close\n"
    "\n"
    "install  Installs Outlook on the machine as its setup would: the class\n"
    "         \"Outlook.Application\" (LocalServer32 C:\\Program Files\\Microsoft "
    "Office\\Office\\OUTLOOK.EXE,\n"
    "         a stand-in file whose file version is V, default 9.0.0.3821) with \"outlrpc.dll\" "
    "and\n"
    "         \"1033\\outllibr.dll\" beside it (default 9.0.3821 each; \"\" leaves one out), "
    "Outlook 10's\n"
    "         \"EditorPreferences\" when N is given, and the profile NAME (default \"Outlook\", "
    "made\n"
    "         the default profile) with its default store PATH (a Windows path; created when\n"
    "         missing) holding the folders Contacts and Inbox. Installing again changes the\n"
    "         versions and keeps the stores.\n"
    "addins   Lists the COM add-ins registered with Outlook and their \"LoadBehavior\".\n"
    "prompt   Makes Outlook ask for a profile when it starts (\"Choose Profile\"), or not.\n"
    "close    Asks every running Outlook of the machine to close (WM_CLOSE to its main window).\n";

namespace {

int fail(const char* text) {
  std::fprintf(stderr, "sxmachine outlook: %s\n\n%s", text, kOutlookHelp);
  return 1;
}

int run_install(const Args& args) {
  sx::outlook::InstallOptions options;
  for (std::size_t i = 1; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) {
      std::fprintf(stderr, "sxmachine outlook: %s needs a value\n", args[i].c_str());
      return 1;
    }
    const std::string& value = args[i + 1];
    if (args[i] == "--version") {
      options.version = value;
    } else if (args[i] == "--outlrpc-version") {
      options.outlrpc_version = value;
    } else if (args[i] == "--outllibr-version") {
      options.outllibr_version = value;
    } else if (args[i] == "--editor-preferences") {
      char* end = nullptr;
      const unsigned long n = std::strtoul(value.c_str(), &end, 0);
      if (value.empty() || *end != '\0' || n > 0xFFFFFFFFul)
        return fail(("--editor-preferences takes a 32-bit number, not \"" + value + "\"").c_str());
      options.editor_preferences = static_cast<DWORD>(n);
    } else if (args[i] == "--profile") {
      options.profile = value;
    } else if (args[i] == "--store") {
      options.store_path = value;
    } else {
      return fail(("unknown option " + args[i]).c_str());
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

const char* meaning_of(std::optional<DWORD> value) {
  if (!value) return "never loaded (no value)";
  if (sx::outlook::addins::loads_at_startup(value)) return "loads when Outlook starts";
  if ((*value & sx::outlook::addins::kLoadOnDemand) != 0) return "held back (on demand)";
  if ((*value & sx::outlook::addins::kLoadAtStartup) != 0) return "switched off";
  return "not loaded";
}

int run_addins(const Args& args) {
  if (args.size() > 1) return fail("addins takes no arguments");
  const auto all = sx::outlook::addins::list();
  if (all.empty()) {
    std::printf("No COM add-ins are registered with Outlook.\n");
    return 0;
  }
  for (const auto& addin : all) {
    char value[16] = "-";
    if (addin.load_behavior)
      std::snprintf(value, sizeof value, "%lu", static_cast<unsigned long>(*addin.load_behavior));
    std::printf("%s\n    LoadBehavior  %s (%s)\n    FriendlyName  %s\n    Description   %s\n",
                addin.progid.c_str(), value, meaning_of(addin.load_behavior),
                addin.friendly_name.c_str(), addin.description.c_str());
  }
  return 0;
}

int run_prompt(const Args& args) {
  if (args.size() != 2 || (args[1] != "on" && args[1] != "off"))
    return fail("prompt takes \"on\" or \"off\"");
  std::string why;
  if (!sx::outlook::set_prompt_for_profile(args[1] == "on", &why)) {
    std::fprintf(stderr, "ERROR: %s\n", why.c_str());
    return 1;
  }
  std::printf(args[1] == "on" ? "Outlook asks for a profile when it starts.\n"
                              : "Outlook uses the default profile when it starts.\n");
  return 0;
}

int run_close(const Args& args) {
  if (args.size() > 1) return fail("close takes no arguments");
  const int asked = sx::outlook::close_running_outlooks();
  if (asked == 0) {
    std::printf("No Outlook is running.\n");
  } else {
    std::printf("Asked %d Outlook%s to close.\n", asked, asked == 1 ? "" : "s");
  }
  return 0;
}

}  // namespace

int run_outlook(const Args& args) {
  if (args.empty() || is_help(args[0])) {
    std::fputs(kOutlookHelp, args.empty() ? stderr : stdout);
    return args.empty() ? 1 : 0;
  }
  if (args[0] == "install") return run_install(args);
  if (args[0] == "addins") return run_addins(args);
  if (args[0] == "prompt") return run_prompt(args);
  if (args[0] == "close") return run_close(args);
  return fail(("unknown command \"" + args[0] + "\"").c_str());
}

}  // namespace sx::machine_tool
