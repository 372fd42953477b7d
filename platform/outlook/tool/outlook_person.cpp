// outlook: Outlook for a person, the machine's OUTLOOK.EXE. Starts Outlook with an explorer on the
// default folder (the start-up add-ins load and find it), shows it as text and takes a person's
// commands, one a line, from standard input (sx/outlook/person.h), until "quit", the end of the
// input, or the last explorer closing.
#include <iostream>
#include <string>

#include "sx/cli/program.h"
#include "sx/outlook/person.h"

int main(int argc, char** argv) {
  sx::cli::Program program(
      "outlook",
      "Outlook for a person on the simulated machine: the folder list, the current folder's "
      "items, the menus and toolbars (with the add-ins' buttons and menus) and an open item, "
      "shown as text. Commands, one a line: folder N, open N, type TEXT, save, close, close!, "
      "click N, look, quit, help. The end of the input ends Outlook too.");
  program.app().footer("Exit code: 0 when Outlook ended normally, 1 when it could not start.");
  program.action(&program.app(), [] {
    std::string why;
    if (!sx::outlook::converse(std::cin, std::cout, &why)) throw sx::cli::Failure(why + ".");
    return sx::cli::kExitSuccess;
  });
  return program.run(argc, argv);
}
