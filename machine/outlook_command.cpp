// sxmachine outlook install [--version V] [--profile NAME] [--store PATH]
#include <cstdio>
#include <memory>

#include "commands.h"
#include "sx/cli/values.h"
#include "sx/outlook/install.h"

namespace sx::machine_tool {
namespace {

// A file version: four numbers from 0 to 65535 with dots between.
CLI::Validator file_version() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        std::size_t start = 0;
        for (int part = 0; part < 4; ++part) {
          const std::size_t dot = part < 3 ? text.find('.', start) : text.size();
          if (dot == std::string::npos ||
              !sx::cli::parse_number(std::string_view(text).substr(start, dot - start), 0, 65535)) {
            return "\"" + text +
                   "\" is not a file version: four numbers from 0 to 65535 with dots between, "
                   "like 9.0.0.3821";
          }
          start = dot + 1;
        }
        return {};
      },
      "", "file version");
}

}  // namespace

void add_outlook_command(sx::cli::Program& program) {
  CLI::App* outlook =
      program.app().add_subcommand("outlook", "install Outlook: its class, a profile and a store");
  auto options = std::make_shared<sx::outlook::InstallOptions>();
  CLI::App* install = outlook->add_subcommand(
      "install",
      "install Outlook as its setup would: the class \"Outlook.Application\" (LocalServer32 "
      "C:\\Program Files\\Microsoft Office\\Office\\OUTLOOK.EXE, a stand-in file whose file "
      "version is the version), and a profile, made the default, with its default store holding "
      "the folders Contacts and Inbox");
  install
      ->add_option("--version", options->version,
                   "OUTLOOK.EXE's file version, four numbers with dots between (default " +
                       options->version + ")")
      ->check(file_version())
      ->type_name("V");
  install
      ->add_option("--profile", options->profile,
                   "the profile's name (default \"" + options->profile + "\")")
      ->type_name("NAME");
  install
      ->add_option("--store", options->store_path,
                   "the default store, a Windows path; created when missing (default " +
                       options->store_path + ")")
      ->type_name("PATH");
  install->footer("Installing again changes the version and keeps the stores.");
  program.action(install, [options] {
    std::string why;
    if (!sx::outlook::install(*options, &why)) throw sx::cli::Failure(sx::cli::sentence(why));
    std::printf("Installed Outlook %s with the profile \"%s\" (store %s).\n",
                options->version.c_str(), options->profile.c_str(), options->store_path.c_str());
    return sx::cli::kExitSuccess;
  });
}

}  // namespace sx::machine_tool
