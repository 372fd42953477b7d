// sxmachine outlook install|addins|prompt|close: Outlook's installation, its COM add-ins, its "ask
// for a profile" setting, and closing the Outlooks that run on the machine.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "commands.h"
#include "sx/cli/companion_files.h"
#include "sx/cli/terminal_text.h"
#include "sx/cli/values.h"
#include "sx/outlook/addins.h"
#include "sx/outlook/install.h"
#include "sx/outlook/outlook_process.h"
#include "sx/outlook/person.h"

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

// A library file's version: "" (the file is left out) or a file version of three or four numbers.
CLI::Validator library_version() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text.empty()) return {};
        std::size_t start = 0;
        int parts = 0;
        while (parts < 4) {
          const std::size_t dot = text.find('.', start);
          const std::size_t end = dot == std::string::npos ? text.size() : dot;
          if (!sx::cli::parse_number(std::string_view(text).substr(start, end - start), 0, 65535))
            break;
          ++parts;
          if (dot == std::string::npos) {
            if (parts >= 3) return {};
            break;
          }
          start = dot + 1;
        }
        return "\"" + text +
               "\" is not a library file's version: three or four numbers from 0 to 65535 with "
               "dots "
               "between, like 9.0.3821, or \"\" to leave the file out";
      },
      "", "file version");
}

// What an add-in's "LoadBehavior" makes Outlook do at its next start.
const char* meaning_of(std::optional<DWORD> value) {
  using namespace sx::outlook::addins;
  if (!value) return "no value: never loaded";
  if (loads_at_startup(value)) return "loads when Outlook starts";
  if ((*value & kLoadOnDemand) != 0) return "held back: loads on demand only";
  if ((*value & kLoadAtStartup) != 0) return "switched off";
  return "not loaded";
}

void add_addins(sx::cli::Program& program, CLI::App* outlook) {
  CLI::App* addins = outlook->add_subcommand(
      "addins", "list the COM add-ins registered with Outlook and their \"LoadBehavior\"");
  addins->footer(
      "Outlook reads each add-in's \"LoadBehavior\" once, when it starts: 3 loads it, 2 is "
      "switched "
      "off, 8 is held back.");
  program.action(addins, [] {
    const auto all = sx::outlook::addins::list();
    if (all.empty()) {
      std::printf("No COM add-ins are registered with Outlook.\n");
      return sx::cli::kExitSuccess;
    }
    for (const auto& addin : all) {
      const std::string value =
          addin.load_behavior ? std::to_string(*addin.load_behavior) : std::string("-");
      std::printf("%s\n    LoadBehavior  %s (%s)\n    FriendlyName  %s\n    Description   %s\n",
                  addin.progid.c_str(), value.c_str(), meaning_of(addin.load_behavior),
                  addin.friendly_name.c_str(), addin.description.c_str());
    }
    return sx::cli::kExitSuccess;
  });
}

void add_prompt(sx::cli::Program& program, CLI::App* outlook) {
  CLI::App* prompt = outlook->add_subcommand(
      "prompt", "make Outlook ask for a profile when it starts (\"Choose Profile\"), or not");
  auto setting = std::make_shared<std::string>();
  prompt->add_option("setting", *setting, "on or off")
      ->required()
      ->transform(sx::cli::one_of({"on", "off"}))
      ->type_name("on|off");
  program.action(prompt, [setting] {
    const bool on = *setting == "on";
    std::string why;
    if (!sx::outlook::set_prompt_for_profile(on, &why))
      throw sx::cli::Failure(sx::cli::sentence(why));
    std::printf(on ? "Outlook asks for a profile when it starts.\n"
                   : "Outlook uses the default profile when it starts.\n");
    return sx::cli::kExitSuccess;
  });
}

void add_process(sx::cli::Program& program, CLI::App* outlook) {
  CLI::App* process = outlook->add_subcommand(
      "process",
      "make OUTLOOK.EXE Outlook's own program, which COM starts for every program of the machine "
      "(on; \"sxmachine system install\" turns it on), or a stand-in file, so that each "
      "program runs an Outlook of its own (off, as \"sxmachine outlook install\" leaves it)");
  auto setting = std::make_shared<std::string>();
  process->add_option("setting", *setting, "on or off")
      ->required()
      ->transform(sx::cli::one_of({"on", "off"}))
      ->type_name("on|off");
  program.action(process, [setting] {
    const bool on = *setting == "on";
    std::string why;
    if (!sx::outlook::set_outlook_process(
            on,
            on ? std::filesystem::path(SX_COMPANION_FILE(SX_OUTLOOK_PROGRAM))
               : std::filesystem::path(),
            &why))
      throw sx::cli::Failure(sx::cli::sentence(why));
    std::printf(on ? "Every program of the machine reaches one Outlook process.\n"
                   : "Each program of the machine runs an Outlook of its own.\n");
    return sx::cli::kExitSuccess;
  });
}

void add_close(sx::cli::Program& program, CLI::App* outlook) {
  CLI::App* close = outlook->add_subcommand(
      "close", "ask every Outlook running on the machine to close (WM_CLOSE to its main window)");
  program.action(close, [] {
    const int asked = sx::outlook::close_running_outlooks();
    if (asked == 0) {
      std::printf("No Outlook is running.\n");
    } else {
      std::printf("Asked %s to close.\n", sx::cli::count_of(asked, "Outlook", "Outlooks").c_str());
    }
    return sx::cli::kExitSuccess;
  });
}

void add_run(sx::cli::Program& program, CLI::App* outlook) {
  CLI::App* run = outlook->add_subcommand(
      "run",
      "start Outlook as a person does (an explorer on the default folder, the start-up add-ins "
      "loaded), show it as text and take commands from standard input: folder N, open N, type "
      "TEXT, save, close, close!, click N, look, quit, help");
  program.action(run, [] {
    std::string why;
    if (!sx::outlook::converse(std::cin, std::cout, &why))
      throw sx::cli::Failure(sx::cli::sentence(why));
    return sx::cli::kExitSuccess;
  });
}

}  // namespace

void add_outlook_command(sx::cli::Program& program) {
  CLI::App* outlook = program.app().add_subcommand("outlook",
                                                   "install Outlook, list its add-ins, make it ask "
                                                   "for a profile, run it for a person, close it");
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
      ->add_option(
          "--outlrpc-version", options->outlrpc_version,
          "file version of \"outlrpc.dll\" beside OUTLOOK.EXE; \"\" leaves it out (default " +
              options->outlrpc_version + ")")
      ->check(library_version())
      ->type_name("V");
  install
      ->add_option("--outllibr-version", options->outllibr_version,
                   "file version of \"1033\\outllibr.dll\"; \"\" leaves it out (default " +
                       options->outllibr_version + ")")
      ->check(library_version())
      ->type_name("V");
  auto editor = std::make_shared<std::int64_t>(-1);
  install
      ->add_option(
          "--editor-preferences", *editor,
          "Outlook 10's \"EditorPreferences\" (HKU\\.Default\\...\\Options\\Mail), a 32-bit "
          "number; written only when given")
      ->transform(sx::cli::number(0, 0xFFFFFFFFll))
      ->type_name("N");
  install
      ->add_option("--profile", options->profile,
                   "the profile's name (default \"" + options->profile + "\")")
      ->type_name("NAME");
  install
      ->add_option("--store", options->store_path,
                   "the default store, a Windows path; created when missing (default " +
                       options->store_path + ")")
      ->type_name("PATH");
  install->footer(
      "\"outlrpc.dll\" and \"1033\\outllibr.dll\" are stamped beside OUTLOOK.EXE with their own "
      "versions; 9.0.2416 makes a partly upgraded Outlook 2000 SR-1. Installing again changes the "
      "versions and keeps the stores.");
  program.action(install, [options, editor] {
    if (*editor >= 0) options->editor_preferences = static_cast<DWORD>(*editor);
    sx::outlook::InstallOptions ansi = *options;
    ansi.profile = sx::cli::machine_text(options->profile, "profile name");
    ansi.store_path = sx::cli::machine_text(options->store_path, "store path");
    std::string why;
    if (!sx::outlook::install(ansi, &why))
      throw sx::cli::Failure(sx::cli::sentence(sx::cli::ansi_to_terminal(why)));
    std::printf("Installed Outlook %s with the profile \"%s\" (store %s).\n",
                options->version.c_str(), options->profile.c_str(), options->store_path.c_str());
    return sx::cli::kExitSuccess;
  });
  add_addins(program, outlook);
  add_prompt(program, outlook);
  add_process(program, outlook);
  add_close(program, outlook);
  add_run(program, outlook);
}

}  // namespace sx::machine_tool
