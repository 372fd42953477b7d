#include "scribbix/damaged_store.h"

namespace sx::common {

std::string damaged_outlook_file(std::string_view error_text) {
  constexpr std::string_view kStart = "Errors have been detected in the file ";
  constexpr std::string_view kEnd = ". Quit all mail-enabled applications";
  const std::size_t start = error_text.find(kStart);
  if (start == std::string_view::npos) return {};
  const std::size_t from = start + kStart.size();
  const std::size_t end = error_text.find(kEnd, from);
  if (end == std::string_view::npos || end == from) return {};
  return std::string(error_text.substr(from, end - from));
}

}  // namespace sx::common
