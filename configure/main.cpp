// sxconfigure: the configuration program's command-line form.
#include "command_line.h"
#include "objbase.h"
#include "sx/outlook/install.h"

int main(int argc, char** argv) {
  sx::outlook::register_server();
  if (FAILED(CoInitialize(nullptr))) return sx::cli::kExitFailure;
  int code = sx::cli::kExitFailure;
  {
    auto program = sx::configure::MakeCommandLine();
    code = program->run(argc, argv);
  }
  CoUninitialize();
  return code;
}
