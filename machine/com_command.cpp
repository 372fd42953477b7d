// sxmachine com register|unregister PATH: what regsvr32 does.
#include <cstdint>
#include <cstdio>
#include <memory>

#include "comdef.h"
#include "commands.h"
#include "sx/cli/values.h"

namespace sx::machine_tool {
namespace {

// Loads the server and calls its (un)registration entry point, as regsvr32 does.
int call_registration(const std::string& path, bool unregister) {
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  CoInitialize(nullptr);
  const HRESULT hr = sx::com::register_server_module(path, unregister);
  CoUninitialize();
  if (FAILED(hr)) {
    char code[24];
    std::snprintf(code, sizeof code, "0x%08lX",
                  static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
    throw sx::cli::Failure(std::string(entry) + " of " + path + " failed: " + code + " " +
                           sx::com::error_message(hr));
  }
  std::printf("%s in %s succeeded.\n", entry, path.c_str());
  return sx::cli::kExitSuccess;
}

}  // namespace

void add_com_command(sx::cli::Program& program) {
  CLI::App* com =
      program.app().add_subcommand("com", "register or unregister a COM server, as regsvr32 does");
  for (const bool unregister : {false, true}) {
    CLI::App* command = com->add_subcommand(
        unregister ? "unregister" : "register",
        unregister ? "call the in-process server's DllUnregisterServer"
                   : "call the in-process server's DllRegisterServer (it writes its classes and, "
                     "for an Outlook add-in, its add-in entry)");
    auto path = std::make_shared<std::string>();
    command
        ->add_option("path", *path,
                     "the server: a Windows path of the machine (C:\\...\\X.dll) or a host path")
        ->required()
        ->type_name("PATH");
    program.action(command, [path, unregister] { return call_registration(*path, unregister); });
  }
}

}  // namespace sx::machine_tool
