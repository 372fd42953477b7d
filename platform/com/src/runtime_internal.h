// Links between the runtime's source files.
#pragma once

namespace sx::com {

// Empties the calling thread's error information (when it leaves COM).
void drop_thread_error_info();

}  // namespace sx::com
