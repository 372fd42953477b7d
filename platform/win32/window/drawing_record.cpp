// The record of what was drawn, for tests under the scripted host.
#include "drawing_record.h"

#include <deque>
#include <mutex>

#include "core.h"
#include "sx/clock.h"

namespace sx::window::detail {
namespace {

constexpr std::size_t kMaxDrawings = 100000;  // a long run keeps its newest drawings

struct Record {
  std::mutex mutex;
  std::deque<Drawing> drawings;
};

Record& drawing_store() {
  static auto* r = new Record();
  return *r;
}

}  // namespace

void record_drawing(Drawing drawing) {
  if (host() != Host::kScripted) return;
  {
    Guard guard = sx::kernel::lock();
    auto w = find_locked(drawing.window);
    if (w && w->child) drawing.control_id = w->id;
    while (w && w->child) w = find_locked(w->parent);
    if (w) drawing.window_title = w->text;
  }
  Record& r = drawing_store();
  std::lock_guard lock(r.mutex);
  r.drawings.push_back(std::move(drawing));
  if (r.drawings.size() > kMaxDrawings) r.drawings.pop_front();
}

void clear_drawings() {
  Record& r = drawing_store();
  std::lock_guard lock(r.mutex);
  r.drawings.clear();
}

}  // namespace sx::window::detail

namespace sx::window {

std::vector<Drawing> drawn() {
  detail::Record& r = detail::drawing_store();
  std::lock_guard lock(r.mutex);
  return {r.drawings.begin(), r.drawings.end()};
}

}  // namespace sx::window
