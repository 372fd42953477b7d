// Fuzz target for the answers window host's list (SX_WINDOW_ANSWERS and its file): any text is
// read without crashing; every answer read has a title and steps, and a left-out entry is said.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sx/window.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (std::string_view separators : {std::string_view(";\n"), std::string_view("\n")}) {
    std::vector<std::string> problems;
    for (const auto& answer : sx::window::parse_window_answers(text, separators, &problems)) {
      if (answer.title.empty() || answer.steps.empty()) std::abort();
      for (const auto& step : answer.steps)
        if (step.empty()) std::abort();
    }
    for (const auto& problem : problems)
      if (problem.empty()) std::abort();
  }
  return 0;
}
