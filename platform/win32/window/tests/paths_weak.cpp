// sx::paths::to_host is implemented by the files area of sxwin32. Until that is in this branch,
// this weak definition lets the test program link (TempMachine::c refers to it; these tests never
// call it). The real definition, once present, takes precedence.
#include "sx/paths.h"

namespace sx::paths {
__attribute__((weak)) std::filesystem::path to_host(std::string_view windows_path) {
  return std::filesystem::path(std::string(windows_path));
}
}  // namespace sx::paths
