// The preview's worker: runs a HotSync on a copy of the machine and writes what both sides held
// before and after it (sx/preview/preview.h). Started by the preview with --machine COPY.
#include <memory>

#include "sx/cli/program.h"
#include "sx/preview/preview.h"

int main(int argc, char** argv) {
  sx::cli::Program program("sxpreview_worker",
                           "Runs the HotSync of a preview on a copy of the machine (--machine) "
                           "and writes both sides before and after it to OUTPUT.");
  struct Args {
    std::string user, output;
  };
  auto args = std::make_shared<Args>();
  CLI::App& app = program.app();
  app.add_option("USER", args->user, "the HotSync user (as the machine's code page has it)")
      ->required();
  app.add_option("OUTPUT", args->output, "the file the result goes to")->required();
  program.action(&app, [args] {
    try {
      return sx::preview::run_worker(args->user, args->output);
    } catch (const sx::preview::PreviewError& e) {
      throw sx::cli::Failure(e.what());
    }
  });
  return program.run(argc, argv);
}
