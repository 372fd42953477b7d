// The text forms of numbers and dates used by VariantChangeType (US English, no locale).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "com/variant.h"

namespace sx::com::detail {

std::u16string trim_blanks(std::u16string_view text);
bool equals_ignoring_case(std::u16string_view a, std::u16string_view b);

// A number: blanks, sign, digits with "," group separators, ".", exponent; or "&H" hex / "&O"
// octal. DISP_E_TYPEMISMATCH for anything else, DISP_E_OVERFLOW when it exceeds a double.
HRESULT parse_number(std::u16string_view text, double* out);
// A date as documented at VariantChangeTypeEx; DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW.
HRESULT parse_date(std::u16string_view text, DATE* out);

// Shortest form with at most `digits` significant digits ("%.*G"), "0" for zero.
std::u16string format_real(double value, int digits);
// Currency: the value / 10000 with up to four decimals, trailing zeros dropped.
std::u16string format_currency(std::int64_t scaled);
// "M/D/YYYY h:mm:ss AM|PM", without the time at midnight and without the date on day 0.
// DISP_E_OVERFLOW outside the valid date range.
HRESULT format_date(DATE date, std::u16string* out);

}  // namespace sx::com::detail
