// Internal: the record of what was drawn (sx::window::drawn()), kept under the scripted host.
#pragma once

#include "sx/window.h"

namespace sx::window::detail {

// Records `drawing` when the scripted host is in effect, after filling in its control id and the
// title of the top-level window it belongs to. Call with no lock held.
void record_drawing(Drawing drawing);
void clear_drawings();

}  // namespace sx::window::detail
