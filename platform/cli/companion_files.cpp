#include "sx/cli/companion_files.h"

#include <filesystem>

namespace sx::cli {

namespace fs = std::filesystem;

std::string program_folder() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.parent_path().string();
}

std::string companion_file(const char* installed, const char* built) {
  const std::string folder = program_folder();
  if (!folder.empty()) {
    std::error_code ec;
    const fs::path candidate = (fs::path(folder) / installed).lexically_normal();
    if (fs::exists(candidate, ec)) return candidate.string();
  }
  return built;
}

}  // namespace sx::cli
