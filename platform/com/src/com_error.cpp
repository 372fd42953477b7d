#include "com/com_error.h"

#include <cstdio>
#include <cstring>

#include "win32/module.h"

namespace sx::com {
namespace {

std::optional<std::string> read_text(IErrorInfo* info,
                                     HRESULT (STDMETHODCALLTYPE IErrorInfo::*get)(BSTR*)) {
  if (info == nullptr) return std::nullopt;
  Bstr text;
  if (FAILED((info->*get)(text.put())) || text.get() == nullptr) return std::nullopt;
  return text.ansi();
}

}  // namespace

ComError::ComError(HRESULT hr, IErrorInfo* info) : hr_(hr), info_(info) {
  source_ = read_text(info, &IErrorInfo::GetSource);
  description_ = read_text(info, &IErrorInfo::GetDescription);
}

const char* ComError::ErrorMessage() const {
  if (!message_) message_ = error_message(hr_);
  return message_->c_str();
}

const char* ComError::what() const noexcept {
  try {
    return ErrorMessage();
  } catch (...) {
    return "COM error";
  }
}

std::string error_message(HRESULT hr) {
  char text[1024];
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(hr), 0, text, sizeof text, nullptr);
  if (length > 0 && length < sizeof text) {
    std::string message(text, length);
    if (!message.empty() && message.back() == '\n') message.pop_back();
    if (!message.empty() && message.back() == '\r') message.pop_back();
    return message;
  }
  const auto code = static_cast<std::uint32_t>(hr);
  if (code > 0x80040200u && code <= 0x8004FFFFu) {
    std::snprintf(text, sizeof text, "IDispatch error #%d", static_cast<int>(code - 0x80040200u));
  } else {
    std::snprintf(text, sizeof text, "Unknown error 0x%0lX", static_cast<unsigned long>(code));
  }
  return text;
}

HRESULT throw_if_failed(HRESULT hr) {
  if (FAILED(hr)) issue_error(hr);
  return hr;
}

void issue_error(HRESULT hr) {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.ReleaseAndGetAddressOf()) != S_OK) info = nullptr;
  throw ComError(hr, info.Get());
}

}  // namespace sx::com
