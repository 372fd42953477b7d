// A RapidCheck property run with the suite's and the soak run's numbers of cases: `cases` and
// `size` are (normal, soaked) pairs (soak.h); RC_PARAMS, when set, chooses instead. A failure is a
// test failure with RapidCheck's counterexample, shrunk. Header-only: the test links rapidcheck.
#pragma once

#include <rapidcheck.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "sx/testing/soak.h"

// A failed check inside a property's case: the case's own report(condition, line) writes what it
// saw to the test's output at once (a failure that does not come again when RapidCheck re-runs the
// case still shows what happened), then the case fails.
#define CASE_CHECK(condition)                                        \
  do {                                                               \
    if (!(condition)) {                                              \
      report(#condition, __LINE__);                                  \
      RC_FAIL("line " + std::to_string(__LINE__) + ": " #condition); \
    }                                                                \
  } while (false)

namespace sx::testing {

template <class Property>
void check_property(const std::string& name, std::pair<int, int> cases, std::pair<int, int> size,
                    Property&& property) {
  rc::detail::TestParams params;
  params.maxSuccess = trials(cases.first, cases.second);
  params.maxSize = trials(size.first, size.second);
  if (std::getenv("RC_PARAMS") != nullptr) params = rc::detail::configuration().testParams;
  rc::detail::TestMetadata metadata;
  metadata.id = metadata.description = name;
  const auto result = rc::detail::checkTestable(std::forward<Property>(property), metadata, params);
  std::ostringstream message;
  rc::detail::printResultMessage(result, message);
  EXPECT_TRUE(result.template is<rc::detail::SuccessResult>()) << message.str();
}

}  // namespace sx::testing
