// Long runs of the randomised scenario tests. The normal suite runs a few trials of each; the soak
// registration of the same test (label "soak", `ctest --preset soak`) sets SX_SOAK and runs many.
#pragma once

#include <cstdlib>

namespace sx::testing {

// True when the test runs as a soak test.
inline bool soak() {
  const char* value = std::getenv("SX_SOAK");
  return value != nullptr && *value != '\0' && *value != '0';
}

// The number of trials: `normal` in the suite, `soaked` in a soak run.
inline int trials(int normal, int soaked) { return soak() ? soaked : normal; }

}  // namespace sx::testing
