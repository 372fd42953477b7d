// Errors inside the object model: thrown by helpers, turned into HRESULT + error information at
// the COM boundary (OutlookObject::call).
#pragma once

#include <string>
#include <string_view>

#include "comdef.h"

namespace sx::outlook {

inline constexpr char kOutlookSource[] = "Microsoft Outlook";

struct OutlookError {
  OutlookError(HRESULT h, std::string d, std::string s = kOutlookSource)
      : hr(h), description(std::move(d)), source(std::move(s)) {}
  HRESULT hr;
  std::string description;
  std::string source;
};

[[noreturn]] inline void raise(HRESULT hr, std::string description) {
  throw OutlookError(hr, std::move(description));
}

namespace detail {
// Throws the OutlookError of an injected fault that matches this call (sx/outlook/faults.h).
void check_fault(std::string_view kind, std::string_view operation, const void* identity);
}  // namespace detail

}  // namespace sx::outlook
