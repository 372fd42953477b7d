// The files our programs start or copy onto a machine (HotSync Manager, the install aide, the
// conduit, the components, the add-ins, the update store template, the configuration program, the
// preview's worker). In an installed copy they lie at fixed places relative to the programs' folder
// (cmake/SxInstall.cmake); in the build tree, where the build put them. Any thread.
#pragma once

#include <string>

namespace sx::cli {

// `installed` relative to the folder of the running program when a file is there (an installed
// copy), else `built` (an absolute path in the build tree).
std::string companion_file(const char* installed, const char* built);

// The folder of the running program (from /proc/self/exe); empty when it cannot be read.
std::string program_folder();

}  // namespace sx::cli

// companion_file(NAME_INSTALLED, NAME) for a file whose two places the build defines as NAME and
// NAME_INSTALLED (machine/CMakeLists.txt, preview/CMakeLists.txt).
#define SX_COMPANION_FILE(name) ::sx::cli::companion_file(name##_INSTALLED, name)
