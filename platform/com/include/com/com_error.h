// sx::com::ComError: a failing HRESULT with its error information, thrown inside components (like
// _com_error) and turned back into a result at the boundary.
//
// Not thread-safe for one object; copies are independent.
#pragma once

#include <exception>
#include <optional>
#include <string>

#include "com/errorinfo.h"
#include "com/hresult.h"
#include "com/ptr.h"

namespace sx::com {

class ComError : public std::exception {
 public:
  // `info` (may be null) is AddRef'd. Source and description are read from it once, here.
  explicit ComError(HRESULT hr, IErrorInfo* info = nullptr);

  HRESULT Error() const { return hr_; }
  // The system's message text for the code with its trailing line break removed; when the system
  // has none: "IDispatch error #%d" (code - 0x80040200) for codes above 0x80040200 up to
  // 0x8004FFFF, else "Unknown error 0x%0lX".
  const char* ErrorMessage() const;
  // Source and description from the error information (system code page text), or null when the
  // error carries none, so that "%s" shows the C runtime's text for an absent string.
  const char* Source() const { return source_ ? source_->c_str() : nullptr; }
  const char* Description() const { return description_ ? description_->c_str() : nullptr; }
  const ComPtr<IErrorInfo>& ErrorInfo() const { return info_; }

  const char* what() const noexcept override;

 private:
  HRESULT hr_;
  ComPtr<IErrorInfo> info_;
  std::optional<std::string> source_;
  std::optional<std::string> description_;
  mutable std::optional<std::string> message_;
};

// The message text ComError::ErrorMessage gives for `hr`.
std::string error_message(HRESULT hr);

// Throws ComError for a failing `hr`, with this thread's error information (taken) when there is
// some; returns `hr` otherwise.
HRESULT throw_if_failed(HRESULT hr);
// Always throws ComError for `hr` (like _com_issue_error), taking this thread's error information.
[[noreturn]] void issue_error(HRESULT hr);

}  // namespace sx::com
