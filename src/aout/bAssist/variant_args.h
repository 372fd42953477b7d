// The by-reference VARIANT arguments of _Class1's methods: what a caller's VARIANT means as an
// input, and how a result is put into one. A VARIANT that itself refers to a VARIANT (VT_BYREF |
// VT_VARIANT, as late-bound callers pass them) is followed once. One thread.
#pragma once

#include <string>

#include "comdef.h"

namespace sx::assist {

// The VARIANT `arg` stands for (followed through VT_BYREF | VT_VARIANT), or null.
VARIANT* target_of(VARIANT* arg);
// False for a null argument and for Empty or Null: "leave the property alone".
bool given(VARIANT* arg);
// The argument as text, number or date; throws ComError (DISP_E_TYPEMISMATCH...) when it cannot
// be converted. Call only for a given argument.
std::u16string text_of(VARIANT* arg);
double number_of(VARIANT* arg);
LONG long_of(VARIANT* arg);
DATE date_of(VARIANT* arg);
// Replaces the argument's value with `value` (the old value is cleared). Nothing for a null one.
void put(VARIANT* arg, sx::com::Variant value);

}  // namespace sx::assist
