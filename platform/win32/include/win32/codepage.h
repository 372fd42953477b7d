// Conversions between the machine's ANSI code page (Windows-1252), UTF-8 and UTF-16, as kernel32
// offers them, and C++ helpers for the stand-ins and for terminals (which get UTF-8).
//
// Supported code pages: CP_ACP and CP_THREAD_ACP (the machine's ANSI page), 1252 and CP_UTF8. Every
// function here may be called from any thread.
//
// Windows-1252: every byte has a character (the five bytes 0x81 0x8D 0x8F 0x90 0x9D that 1252
// leaves undefined map to U+0081 etc., as Windows does). Going back, a UTF-16 unit that 1252 lacks
// becomes the default character, one per unit (a surrogate pair gives two); there is no "best fit"
// mapping, as if WC_NO_BEST_FIT_CHARS were always given. UTF-8: each ill-formed sequence (its
// maximal valid prefix) becomes U+FFFD, and a lone surrogate becomes U+FFFD, unless
// MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS ask for failure instead.
#pragma once

#include <string>
#include <string_view>

#include "win32/errors.h"
#include "win32/types.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008

#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_COMPOSITECHECK 0x00000200
#define WC_NO_BEST_FIT_CHARS 0x00000400

extern "C" {

// The machine's ANSI code page.
UINT GetACP();
// TRUE for the code pages listed above (CP_ACP and CP_THREAD_ACP excepted, as on Windows).
BOOL IsValidCodePage(UINT CodePage);

// Converts cbMultiByte bytes (-1: up to and including the terminating NUL, which is then converted
// and counted too) to UTF-16. With cchWideChar 0 only returns the number of WCHARs needed. Returns
// the number written, or 0 with the last error:
//   ERROR_INVALID_PARAMETER   unsupported code page, null input, cbMultiByte 0 or below -1,
//                             cchWideChar negative, or a null output with a non-zero size;
//   ERROR_INVALID_FLAGS       flags other than MB_PRECOMPOSED / MB_ERR_INVALID_CHARS (CP_UTF8: only
//                             MB_ERR_INVALID_CHARS);
//   ERROR_NO_UNICODE_TRANSLATION  invalid UTF-8 with MB_ERR_INVALID_CHARS;
//   ERROR_INSUFFICIENT_BUFFER the output is too small: as many whole characters as fit are written,
//                             nothing past cchWideChar.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);

// Converts cchWideChar UTF-16 units (-1: NUL-terminated, the NUL counted) to the code page. With
// cbMultiByte 0 only returns the number of bytes needed. For 1252, units without a byte become
// lpDefaultChar[0] ('?' when null) and *lpUsedDefaultChar (when not null) tells whether that
// happened. Returns the number of bytes written, or 0 with the last error as above, plus:
//   ERROR_INVALID_PARAMETER   lpDefaultChar or lpUsedDefaultChar given for CP_UTF8;
//   ERROR_INVALID_FLAGS       for 1252 flags other than WC_NO_BEST_FIT_CHARS and the accepted but
//                             ignored WC_COMPOSITECHECK, WC_DEFAULTCHAR, WC_DISCARDNS, WC_SEPCHARS;
//                             for CP_UTF8 anything but WC_ERR_INVALID_CHARS;
//   ERROR_NO_UNICODE_TRANSLATION  a lone surrogate with WC_ERR_INVALID_CHARS (CP_UTF8 only).
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar);

}  // extern "C"

namespace sx::codepage {

// The machine's ANSI code page: the REG_SZ value "ACP" of the key
// HKLM "SYSTEM\CurrentControlSet\Control\Nls\CodePage" when it names 1252 or 65001, else 1252 (an
// unknown page is reported once on stderr). Read once per machine root.
UINT machine_ansi_code_page();

// Whole-string conversions with the replacements described above (never fail; embedded NULs pass).
std::string ansi_to_utf8(std::string_view ansi);
std::string utf8_to_ansi(std::string_view utf8);  // '?' for what the ANSI page lacks
std::u16string ansi_to_wide(std::string_view ansi);
std::string wide_to_ansi(std::u16string_view wide);  // '?' for what the ANSI page lacks
std::u16string utf8_to_wide(std::string_view utf8);
std::string wide_to_utf8(std::u16string_view wide);

}  // namespace sx::codepage
