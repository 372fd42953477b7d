// What a machine holds, file by file, to tell that a failed command left it as it was.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "registry_test_util.h"

namespace sx::registry::testing {

// Every file under the root with its bytes (the registry file included).
inline std::map<std::string, std::string> files_of(const std::filesystem::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_regular_file())
      files[entry.path().lexically_relative(root).string()] = read_file(entry.path());
  }
  return files;
}

}  // namespace sx::registry::testing
