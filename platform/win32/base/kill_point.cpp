// Kill points of the stand-ins (sx/kill_point.h).
#include "sx/kill_point.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

namespace sx::kill_points {
namespace {

struct Chosen {
  std::string point;  // empty: no kill point in this process
  long nth = 0;
  std::atomic<long> passed{0};
};

// Read once from the environment; never freed (points may be passed during static destruction).
Chosen& chosen() {
  static Chosen* c = [] {
    auto* made = new Chosen();
    const char* value = std::getenv("SX_KILL_POINT");
    if (value == nullptr) return made;
    const char* colon = std::strrchr(value, ':');
    if (colon == nullptr) return made;
    char* end = nullptr;
    const long nth = std::strtol(colon + 1, &end, 10);
    if (end == colon + 1 || *end != '\0' || nth < 1) return made;
    made->point.assign(value, colon);
    made->nth = nth;
    return made;
  }();
  return *c;
}

}  // namespace

bool due(const char* point) {
  Chosen& c = chosen();
  if (c.point.empty() || c.point != point) return false;
  return c.passed.fetch_add(1) + 1 == c.nth;
}

void kill_now() {
  ::kill(::getpid(), SIGKILL);
  ::_exit(137);  // not reached
}

}  // namespace sx::kill_points
