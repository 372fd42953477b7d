// outlook: Outlook for a person, the machine's OUTLOOK.EXE. Starts Outlook with an explorer on the
// default folder (the start-up add-ins load and find it), shows it as text and takes a person's
// commands, one a line, from standard input (sx/outlook/person.h), until "quit", the end of the
// input, or the last explorer closing. With "/embedding" it is Outlook's own process, started by
// COM for every program of the machine (sx/outlook/outlook_process.h).
#include <cctype>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "sx/cli/program.h"
#include "sx/outlook/outlook_process.h"
#include "sx/outlook/person.h"
#include "win32/process.h"

int main(int argc, char** argv) {
  sx::cli::Program program(
      "outlook",
      "Outlook for a person on the simulated machine: the folder list, the current folder's "
      "items, the menus and toolbars (with the add-ins' buttons and menus) and an open item, "
      "shown as text. Commands, one a line: folder N, open N, type TEXT, save, close, close!, "
      "click N, look, quit, help. The end of the input ends Outlook too.");
  program.app().footer(
      "/embedding (as COM starts it): Outlook's own process for every program of the machine, "
      "with no explorer and no commands; it ends as Outlook ends, when its last client lets go, "
      "with Quit or when its main window is closed.\n"
      "Exit code: 0 when Outlook ended normally, 1 when it could not start.");
  auto switches = std::make_shared<std::vector<std::string>>();
  program.app().add_option("SWITCHES", *switches, "/embedding: started by COM");
  program.rewrite_arguments(&program.app(), sx::cli::as_positional_arguments);
  program.action(&program.app(), [switches] {
    bool embedding = false;
    for (const std::string& s : *switches) {
      std::string lower = s;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (lower == "/embedding" || lower == "-embedding") {
        embedding = true;
      } else {
        throw sx::cli::UsageError("Unknown switch " + s + ".");
      }
    }
    if (embedding) {
      // Without the program's clean-up: the threads COM still runs never see it.
      ExitProcess(static_cast<UINT>(sx::outlook::serve_for_machine()));
    }
    std::string why;
    if (!sx::outlook::converse(std::cin, std::cout, &why)) throw sx::cli::Failure(why + ".");
    return sx::cli::kExitSuccess;
  });
  return program.run(argc, argv);
}
