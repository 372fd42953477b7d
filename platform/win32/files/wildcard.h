// Windows file name patterns: '*' matches any run of characters, '?' exactly one, letters match
// ignoring ASCII case. As on Windows, a pattern ending in ".*" also matches names without that
// extension ("*.*" matches everything) and a pattern ending in "." matches only names without a
// dot.
#pragma once

#include <string_view>

namespace sx::files {

bool wildcard_match(std::string_view pattern, std::string_view name);

}  // namespace sx::files
