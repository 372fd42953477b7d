// The registry helpers the access component and the notes add-in share (module basRegistry):
// ANSI registry calls that never throw and report through their results.
//
// Any thread; each call opens and closes what it needs.
#pragma once

#include <string>
#include <variant>

#include "windows.h"

namespace sx::common {

// A value as the helpers carry it: a text (REG_SZ) or a 32-bit number (REG_DWORD, read as signed).
using RegValue = std::variant<std::string, long>;

// Writes `value` under `name` of the open `key`: type 1 (REG_SZ) writes the text without its
// terminating NUL (a number is written as its decimal text); type 4 (REG_DWORD) writes 4 bytes (a
// text is written as the number it begins with, 0 when none); any other type writes nothing and
// gives ERROR_SUCCESS. The registry call's status.
LONG WriteRegValue(HKEY key, const std::string& name, DWORD type, const RegValue& value);

// Reads `name` of the open `key`: a text (REG_SZ, REG_EXPAND_SZ, taken with the NUL it was written
// with, if any) or a DWORD. 0 on success; the registry status when the value cannot be read; -1
// for a value of another type. `value` is left alone on failure.
LONG ReadRegValue(HKEY key, const std::string& name, RegValue* value);

// The value `name` of root\path as text: a text without one trailing NUL, a DWORD as its signed
// decimal text. "" when the key or the value is missing or cannot be read.
std::string GetKeyValue(HKEY root, const std::string& path, const std::string& name);

// Creates or opens root\path (one leading "\" removed) and writes `value` with WriteRegValue.
// False, writing nothing, for an empty path or when the key cannot be made; true otherwise (the
// write's own failure is not reported, as before).
bool SetKeyValue(HKEY root, std::string path, const std::string& name, const RegValue& value,
                 DWORD type);

// The leading number of a text as the helpers' callers read a value ("12abc" 12, "-3" -3, "" or
// "x" 0); values beyond 32 signed bits are cut to the nearest limit.
long leading_number(const std::string& text);

}  // namespace sx::common
