// How Update1's methods meet their callers: no exception crosses the interface. An Outlook
// failure (sx::com::ComError) becomes the method's code and, for the methods that trap their
// errors, the message box; memory and the unforeseen become the call's HRESULT.
#pragma once

#include <new>

#include "comdef.h"
#include "outlook_calls.h"

namespace sx::update {

// A stage-coded method: `body(stage)` sets stage := n << 16 before each step. The result is the
// stage in force at the end; after an error it is (error number AND 0xFF00FFFF) + stage, and the
// message `prefix` + description is shown (no message when `prefix` is null).
template <class Body>
HRESULT run_staged(LONG* result, const char* prefix, Body body) {
  if (result == nullptr) return E_POINTER;
  ULONG stage = 0;
  try {
    body(stage);
    *result = static_cast<LONG>(stage);
    return S_OK;
  } catch (const sx::com::ComError& e) {
    *result = static_cast<LONG>((static_cast<ULONG>(e.Error()) & 0xFF00FFFFu) + stage);
    if (prefix != nullptr) {
      report(e, prefix);
    } else {
      sx::com::set_error_info(e.Source() != nullptr ? e.Source() : "ScribbixUpdate",
                              description_of(e));
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// A method that traps its errors with a result of its own: `body(result)` fills *result as it
// goes; `on_error(e)` (may be empty) adjusts it after an error, then the message is shown.
template <class Result, class Body, class OnError>
HRESULT run_trapped(Result* result, const char* prefix, Body body, OnError on_error) {
  if (result == nullptr) return E_POINTER;
  try {
    try {
      body(*result);
    } catch (const sx::com::ComError& e) {
      on_error(e);
      report(e, prefix);
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// A method that lets its errors out: an Outlook failure is the call's HRESULT, with its error
// information kept for the caller.
template <class Body>
HRESULT run_untrapped(Body body) {
  try {
    body();
    return S_OK;
  } catch (const sx::com::ComError& e) {
    sx::com::set_error_info(e.Source() != nullptr ? e.Source() : "ScribbixUpdate",
                            description_of(e));
    return e.Error();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// The argument `arg` as text (following VT_BYREF | VT_VARIANT once): Empty gives "", a value that
// cannot be text throws ComError (type mismatch), as Visual Basic's CStr does.
std::u16string text_of(VARIANT* arg);
// The argument as a boolean (CBool): Empty gives False.
bool bool_of(VARIANT* arg);

}  // namespace sx::update
