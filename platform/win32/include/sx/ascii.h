// ASCII-only case folding, for names that Windows compares without regard to case (paths, module
// names, window classes). Characters outside A-Z are compared as they are.
#pragma once

#include <string_view>

namespace sx::ascii {

constexpr char to_lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (to_lower(a[i]) != to_lower(b[i])) return false;
  }
  return true;
}

}  // namespace sx::ascii
