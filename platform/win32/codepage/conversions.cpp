// MultiByteToWideChar, WideCharToMultiByte, GetACP and the C++ helpers. Each conversion is done
// whole into a string first; only then are sizes checked and the caller's buffer filled, so no size
// a caller passes can make us write past its buffer.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "encodings.h"
#include "sx/machine.h"
#include "win32/codepage.h"
#include "win32/registry.h"

namespace sx::codepage {
namespace {

enum class Page { kWindows1252, kUtf8 };

std::optional<Page> resolve(UINT code_page) {
  if (code_page == CP_ACP || code_page == CP_THREAD_ACP) code_page = machine_ansi_code_page();
  if (code_page == 1252) return Page::kWindows1252;
  if (code_page == CP_UTF8) return Page::kUtf8;
  return std::nullopt;
}

std::u16string page_to_wide(Page page, std::string_view in, bool* exact) {
  std::u16string out;
  if (page == Page::kUtf8) {
    *exact = append_utf8_as_utf16(in, &out);
  } else {
    *exact = true;
    out.reserve(in.size());
    for (char c : in) out.push_back(cp1252_to_unicode(static_cast<unsigned char>(c)));
  }
  return out;
}

std::string wide_to_page(Page page, std::u16string_view in, char default_char, bool* exact) {
  std::string out;
  *exact = page == Page::kUtf8 ? append_utf16_as_utf8(in, &out)
                               : append_utf16_as_cp1252(in, default_char, &out);
  return out;
}

constexpr UINT kDefaultAnsiCodePage = 1252;

// The "ACP" value of the machine's registry, when it names a code page we have; else 1252.
UINT read_machine_code_page() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", 0,
                    KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return kDefaultAnsiCodePage;
  }
  char text[16] = {};
  DWORD type = 0;
  DWORD size = sizeof text - 1;
  const LONG status =
      RegQueryValueExA(key, "ACP", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) return kDefaultAnsiCodePage;
  const UINT code_page = static_cast<UINT>(std::strtoul(text, nullptr, 10));
  if (code_page == 1252 || code_page == CP_UTF8) return code_page;
  std::fprintf(stderr, "code pages: the machine's ANSI code page %s is not available; using 1252\n",
               text);
  return kDefaultAnsiCodePage;
}

int fail(DWORD error) {
  SetLastError(error);
  return 0;
}

}  // namespace

UINT machine_ansi_code_page() {
  // Read once per machine (a code page change needs a restart on Windows too).
  static std::mutex mutex;
  static unsigned cached_generation = UINT_MAX;
  static UINT cached = kDefaultAnsiCodePage;
  std::lock_guard lock(mutex);
  const unsigned generation = sx::machine::root_generation();
  if (generation != cached_generation) {
    cached_generation = generation;
    cached = read_machine_code_page();
  }
  return cached;
}

std::string ansi_to_utf8(std::string_view ansi) { return wide_to_utf8(ansi_to_wide(ansi)); }

std::string utf8_to_ansi(std::string_view utf8) { return wide_to_ansi(utf8_to_wide(utf8)); }

std::u16string ansi_to_wide(std::string_view ansi) {
  bool exact;
  return page_to_wide(*resolve(CP_ACP), ansi, &exact);
}

std::string wide_to_ansi(std::u16string_view wide) {
  bool exact;
  return wide_to_page(*resolve(CP_ACP), wide, '?', &exact);
}

std::u16string utf8_to_wide(std::string_view utf8) {
  std::u16string out;
  append_utf8_as_utf16(utf8, &out);
  return out;
}

std::string wide_to_utf8(std::u16string_view wide) {
  std::string out;
  append_utf16_as_utf8(wide, &out);
  return out;
}

}  // namespace sx::codepage

using sx::codepage::Page;

extern "C" {

UINT GetACP() { return sx::codepage::machine_ansi_code_page(); }

BOOL IsValidCodePage(UINT CodePage) {
  return CodePage == 1252 || CodePage == CP_UTF8 ? TRUE : FALSE;
}

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) try {
  using namespace sx::codepage;
  const std::optional<Page> page = resolve(CodePage);
  if (!page || lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 ||
      cchWideChar < 0 || (lpWideCharStr == nullptr && cchWideChar != 0)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  const DWORD allowed =
      *page == Page::kUtf8 ? MB_ERR_INVALID_CHARS : (MB_PRECOMPOSED | MB_ERR_INVALID_CHARS);
  if ((dwFlags & ~allowed) != 0) return fail(ERROR_INVALID_FLAGS);

  const std::size_t length =
      cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
  bool exact = true;
  const std::u16string wide = page_to_wide(*page, std::string_view(lpMultiByteStr, length), &exact);
  if (!exact && (dwFlags & MB_ERR_INVALID_CHARS) != 0) return fail(ERROR_NO_UNICODE_TRANSLATION);
  if (wide.size() > static_cast<std::size_t>(INT_MAX)) return fail(ERROR_INSUFFICIENT_BUFFER);
  if (cchWideChar == 0) return static_cast<int>(wide.size());

  const auto room = static_cast<std::size_t>(cchWideChar);
  const std::size_t count = whole_utf16_prefix(wide, room);
  std::memcpy(lpWideCharStr, wide.data(), count * sizeof(WCHAR));
  if (count < wide.size()) return fail(ERROR_INSUFFICIENT_BUFFER);
  return static_cast<int>(count);
} catch (...) {
  return sx::codepage::fail(ERROR_NOT_ENOUGH_MEMORY);
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) try {
  using namespace sx::codepage;
  const std::optional<Page> page = resolve(CodePage);
  if (!page || lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 ||
      cbMultiByte < 0 || (lpMultiByteStr == nullptr && cbMultiByte != 0)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (*page == Page::kUtf8) {
    if (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr) {
      return fail(ERROR_INVALID_PARAMETER);
    }
    if ((dwFlags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0) {
      return fail(ERROR_INVALID_FLAGS);
    }
  } else {
    const DWORD allowed =
        WC_NO_BEST_FIT_CHARS | WC_COMPOSITECHECK | WC_DEFAULTCHAR | WC_DISCARDNS | WC_SEPCHARS;
    if ((dwFlags & ~allowed) != 0) return fail(ERROR_INVALID_FLAGS);
  }

  std::size_t length = 0;
  if (cchWideChar == -1) {
    while (lpWideCharStr[length] != 0) ++length;
    ++length;
  } else {
    length = static_cast<std::size_t>(cchWideChar);
  }
  const char default_char = lpDefaultChar != nullptr ? lpDefaultChar[0] : '?';
  bool exact = true;
  const std::string bytes =
      wide_to_page(*page, std::u16string_view(lpWideCharStr, length), default_char, &exact);
  if (*page == Page::kUtf8 && !exact && (dwFlags & WC_ERR_INVALID_CHARS) != 0) {
    return fail(ERROR_NO_UNICODE_TRANSLATION);
  }
  if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = exact ? FALSE : TRUE;
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return fail(ERROR_INSUFFICIENT_BUFFER);
  if (cbMultiByte == 0) return static_cast<int>(bytes.size());

  const auto room = static_cast<std::size_t>(cbMultiByte);
  const std::size_t count =
      *page == Page::kUtf8 ? whole_utf8_prefix(bytes, room) : std::min(room, bytes.size());
  std::memcpy(lpMultiByteStr, bytes.data(), count);
  if (count < bytes.size()) return fail(ERROR_INSUFFICIENT_BUFFER);
  return static_cast<int>(count);
} catch (...) {
  return sx::codepage::fail(ERROR_NOT_ENOUGH_MEMORY);
}

}  // extern "C"
