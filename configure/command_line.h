// The command-line form of the configuration program: the checks of the status screen printed row
// by row, and the folder install and update for a Palm user and a profile. Main thread, after COM
// was initialised for it.
#pragma once

#include <memory>

#include "sx/cli/program.h"

namespace sx::configure {

// Exit codes besides sx::cli's: some row of the checks failed; a check ended the program (Outlook
// cannot be started or is partly upgraded), which the shell sees as 255.
inline constexpr int kExitRowFailed = 2;
inline constexpr int kExitEnded = -1;

std::unique_ptr<sx::cli::Program> MakeCommandLine();

}  // namespace sx::configure
