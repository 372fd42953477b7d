#include "actions_file.h"

#include <sstream>

namespace sx::hotsync::detail {

SyncActions parse_actions_text(std::string_view text) {
  SyncActions actions;
  std::istringstream in{std::string(text)};
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key, kind, type;
    if (!(words >> key >> kind >> type) || (kind != "default" && kind != "once")) continue;
    if (type.size() > 9 || type.find_first_not_of("0123456789") != std::string::npos) continue;
    actions[key] = {kind, std::stoi(type)};
  }
  return actions;
}

std::string format_actions_text(const SyncActions& actions) {
  std::string text;
  for (const auto& [key, value] : actions) {
    text += key + ' ' + value.first + ' ' + std::to_string(value.second) + '\n';
  }
  return text;
}

}  // namespace sx::hotsync::detail
