// sxmachine com register|unregister PATH: what regsvr32 does.
#include <cstdio>

#include "comdef.h"
#include "commands.h"

namespace sx::machine_tool {

const char* const kComHelp =
    "Usage: sxmachine com register PATH\n"
    "       sxmachine com unregister PATH\n"
    "\n"
    "Registers (or unregisters) the in-process COM server PATH on the machine, as regsvr32 does:\n"
    "loads it and calls its DllRegisterServer (DllUnregisterServer). PATH is a Windows path of "
    "the\n"
    "machine (\"C:\\Program Files\\...\\X.dll\") or a host path.\n";

int run_com_command(const Args& args) {
  if (args.empty() || is_help(args[0])) {
    std::fputs(kComHelp, args.empty() ? stderr : stdout);
    return args.empty() ? 1 : 0;
  }
  if ((args[0] != "register" && args[0] != "unregister") || args.size() != 2) {
    std::fprintf(stderr, "sxmachine com: expected \"register PATH\" or \"unregister PATH\"\n\n%s",
                 kComHelp);
    return 1;
  }
  const bool unregister = args[0] == "unregister";
  CoInitialize(nullptr);
  const HRESULT hr = sx::com::register_server_module(args[1], unregister);
  CoUninitialize();
  if (FAILED(hr)) {
    std::fprintf(stderr, "ERROR: %s of %s failed: 0x%08lX %s\n",
                 unregister ? "DllUnregisterServer" : "DllRegisterServer", args[1].c_str(),
                 static_cast<unsigned long>(hr), sx::com::error_message(hr).c_str());
    return 1;
  }
  std::printf("%s in %s succeeded.\n", unregister ? "DllUnregisterServer" : "DllRegisterServer",
              args[1].c_str());
  return 0;
}

}  // namespace sx::machine_tool
