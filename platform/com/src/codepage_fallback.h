// TEMPORARY: the system code page conversions (CP_ACP <-> UTF-16) that BSTR text helpers need,
// done here as Windows-1252 until sxwin32's MultiByteToWideChar / WideCharToMultiByte land. Replace
// the two calls in text.cpp with those functions (CP_ACP) at merge and delete this file and its
// .cpp.
#pragma once

#include <string>
#include <string_view>

namespace sx::com::detail {

std::u16string cp1252_to_u16(std::string_view text);
// Characters without a Windows-1252 form become '?', as WideCharToMultiByte's default character.
std::string u16_to_cp1252(std::u16string_view text);

}  // namespace sx::com::detail
