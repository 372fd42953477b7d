// Internal: the exception boundary of the exported window functions.
#pragma once

#include <exception>
#include <new>

#include "core.h"

namespace sx::window::detail {

// Runs `body`; an escaping exception becomes `failure` with a last error (ERROR_OUTOFMEMORY for
// bad_alloc, ERROR_INVALID_FUNCTION otherwise) and a line on stderr.
template <class R, class F>
R guarded(const char* function, R failure, F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_OUTOFMEMORY);
  } catch (const std::exception& e) {
    report("%s failed: %s", function, e.what());
    SetLastError(ERROR_INVALID_FUNCTION);
  } catch (...) {
    report("%s failed", function);
    SetLastError(ERROR_INVALID_FUNCTION);
  }
  return failure;
}

}  // namespace sx::window::detail
