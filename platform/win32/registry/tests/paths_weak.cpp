// sx::paths::to_host belongs to the files area of sxwin32; the test helper library refers to it.
// This weak stand-in lets the registry tests link while that area is not in this branch; the tests
// here never map Windows paths.
#include "sx/paths.h"

namespace sx::paths {

__attribute__((weak)) std::filesystem::path to_host(std::string_view windows_path) {
  return std::filesystem::path(std::string(windows_path));
}

}  // namespace sx::paths
