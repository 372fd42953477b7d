// Helpers shared by the VARIANT functions.
#pragma once

#include "com/variant.h"

namespace sx::com::detail {

// A type VariantClear / VariantCopy accept (VT_BYREF forms included).
bool is_valid_type(VARTYPE vt);
bool is_supported_base_type(VARTYPE base);
// The value of `src` without VT_BYREF, borrowing (not owning) any BSTR or interface it holds.
// E_INVALIDARG for a null reference or a VARIANT reference to another VARIANT reference.
HRESULT dereference(const VARIANT& src, VARIANT* value);

}  // namespace sx::com::detail
