#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "win32/codepage.h"

namespace {

// What Windows-1252 gives for 0x80-0x9F, the undefined five included.
constexpr char16_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::u16string to_wide(UINT cp, const std::string& in, DWORD flags = 0) {
  const int n = MultiByteToWideChar(cp, flags, in.data(), static_cast<int>(in.size()), nullptr, 0);
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  if (n > 0) {
    EXPECT_EQ(MultiByteToWideChar(cp, flags, in.data(), static_cast<int>(in.size()), out.data(), n),
              n);
  }
  return out;
}

std::string to_bytes(UINT cp, const std::u16string& in, LPCSTR default_char = nullptr,
                     BOOL* used = nullptr) {
  const int n = WideCharToMultiByte(cp, 0, in.data(), static_cast<int>(in.size()), nullptr, 0,
                                    default_char, used);
  std::string out(static_cast<std::size_t>(n), '\0');
  if (n > 0) {
    EXPECT_EQ(WideCharToMultiByte(cp, 0, in.data(), static_cast<int>(in.size()), out.data(), n,
                                  default_char, used),
              n);
  }
  return out;
}

TEST(CodePageTest, AnsiCodePageIsWindows1252) {
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_TRUE(IsValidCodePage(1252));
  EXPECT_TRUE(IsValidCodePage(CP_UTF8));
  EXPECT_FALSE(IsValidCodePage(437));
}

TEST(CodePageTest, EveryByteFrom0x80RoundTripsThrough1252) {
  for (UINT cp : {1252u, static_cast<UINT>(CP_ACP)}) {
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
      SCOPED_TRACE(byte);
      const char in = static_cast<char>(byte);
      WCHAR wide[2] = {0xCCCC, 0xCCCC};
      ASSERT_EQ(MultiByteToWideChar(cp, 0, &in, 1, wide, 2), 1);
      EXPECT_EQ(wide[0], byte < 0xA0 ? kHigh1252[byte - 0x80] : static_cast<char16_t>(byte));
      EXPECT_EQ(wide[1], 0xCCCC);

      char back[2] = {'\xCC', '\xCC'};
      BOOL used = 0x7eadbeef;
      ASSERT_EQ(WideCharToMultiByte(cp, 0, wide, 1, back, 2, nullptr, &used), 1);
      EXPECT_EQ(static_cast<unsigned char>(back[0]), byte);
      EXPECT_EQ(back[1], '\xCC');
      EXPECT_EQ(used, FALSE);
    }
  }
}

TEST(CodePageTest, SizeQueriesCountTheTerminatingNulOnlyForMinusOne) {
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 3, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xE2\x82\xAC\xF0\x9F\x98\x80", -1, nullptr, 0), 4);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u20AC", -1, nullptr, 0, nullptr, nullptr), 4);
  EXPECT_EQ(WideCharToMultiByte(1252, 0, u"\u20AC", -1, nullptr, 0, nullptr, nullptr), 2);

  WCHAR wide[6];
  std::fill(std::begin(wide), std::end(wide), 0xCCCC);
  ASSERT_EQ(MultiByteToWideChar(1252, 0, "ab", -1, wide, 6), 3);
  EXPECT_EQ(std::u16string(wide, 4), std::u16string(u"ab\0\xCCCC", 4));
}

TEST(CodePageTest, ShortBufferFailsAndWritesNothingPastIt) {
  WCHAR wide[8];
  std::fill(std::begin(wide), std::end(wide), 0xCCCC);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abcdef", -1, wide, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  for (int i = 3; i < 8; ++i) EXPECT_EQ(wide[i], 0xCCCC) << i;

  // A surrogate pair is never split.
  std::fill(std::begin(wide), std::end(wide), 0xCCCC);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xF0\x9F\x98\x80", 5, wide, 2), 0);
  EXPECT_EQ(wide[0], u'a');
  EXPECT_EQ(wide[1], 0xCCCC);

  char bytes[8];
  std::memset(bytes, 0xCC, sizeof(bytes));
  SetLastError(0xdeadbeef);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u20AC\u20AC", 2, bytes, 4, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(bytes, 3), "\xE2\x82\xAC");  // whole characters only
  for (int i = 3; i < 8; ++i) EXPECT_EQ(bytes[i], '\xCC') << i;

  std::memset(bytes, 0xCC, sizeof(bytes));
  EXPECT_EQ(WideCharToMultiByte(1252, 0, u"abcdef", -1, bytes, 6, nullptr, nullptr), 0);
  EXPECT_EQ(bytes[6], '\xCC');
}

TEST(CodePageTest, CharactersMissingFrom1252BecomeTheDefaultChar) {
  BOOL used = 0x7eadbeef;
  EXPECT_EQ(to_bytes(1252, u"a\u0100b\u4E2D", nullptr, &used), "a?b?");
  EXPECT_EQ(used, TRUE);
  used = 0x7eadbeef;
  EXPECT_EQ(to_bytes(1252, u"a\u0100b", "*", &used), "a*b");
  EXPECT_EQ(used, TRUE);
  used = 0x7eadbeef;
  EXPECT_EQ(to_bytes(1252, u"\u20AC\u0178\u00FF", nullptr, &used), "\x80\x9F\xFF");
  EXPECT_EQ(used, FALSE);
  // Each half of a surrogate pair is a unit without a byte; U+0080 is not in 1252 either.
  EXPECT_EQ(to_bytes(1252, u"\U0001F600\u0080"), "???");
}

TEST(CodePageTest, Utf8RoundTripsIncludingCharactersBeyondTheBmp) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF0\x90\x8D\x88\xF4\x8F\xBF\xBF";
  const std::u16string wide = u"a\u00E9\u20AC\U0001F600\U00010348\U0010FFFF";
  ASSERT_EQ(wide.size(), 9u);
  EXPECT_EQ(to_wide(CP_UTF8, utf8), wide);
  EXPECT_EQ(to_bytes(CP_UTF8, wide), utf8);
}

TEST(CodePageTest, InvalidUtf8BecomesOneReplacementPerMaximalSubpart) {
  const struct {
    const char* in;
    std::u16string out;
  } cases[] = {
      {"\x80", u"\uFFFD"},
      {"\xFF"
       "A",
       u"\uFFFDA"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},  // overlong '/'
      {"\xE2\x82"
       "A",
       u"\uFFFDA"},                                       // truncated euro sign
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xF0\x9F\x98", u"\uFFFD"},                        // truncated at the end
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(to_wide(CP_UTF8, c.in), c.out);
    WCHAR sentinel = 0xCCCC;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.in, -1, &sentinel, 1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(sentinel, 0xCCCC);
  }
}

TEST(CodePageTest, LoneSurrogateBecomesReplacementInUtf8UnlessAskedToFail) {
  const char16_t lone[] = {u'a', 0xD83D, u'b', 0xDE00};
  EXPECT_EQ(to_bytes(CP_UTF8, std::u16string(lone, 4)),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
  SetLastError(0xdeadbeef);
  EXPECT_EQ(
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, 4, nullptr, 0, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(CodePageTest, BadArgumentsFailWithTheirErrorCodes) {
  WCHAR wide[4];
  char bytes[4];
  BOOL used = FALSE;
  const struct {
    const char* what;
    std::function<int()> call;
    DWORD error;
  } cases[] = {
      {"OEM page", [&] { return MultiByteToWideChar(437, 0, "a", 1, wide, 4); },
       ERROR_INVALID_PARAMETER},
      {"CP_OEMCP", [&] { return MultiByteToWideChar(CP_OEMCP, 0, "a", 1, wide, 4); },
       ERROR_INVALID_PARAMETER},
      {"empty input", [&] { return MultiByteToWideChar(1252, 0, "a", 0, wide, 4); },
       ERROR_INVALID_PARAMETER},
      {"length -2", [&] { return MultiByteToWideChar(1252, 0, "a", -2, wide, 4); },
       ERROR_INVALID_PARAMETER},
      {"null input", [&] { return MultiByteToWideChar(1252, 0, nullptr, 1, wide, 4); },
       ERROR_INVALID_PARAMETER},
      {"null output", [&] { return MultiByteToWideChar(1252, 0, "a", 1, nullptr, 4); },
       ERROR_INVALID_PARAMETER},
      {"negative size", [&] { return MultiByteToWideChar(1252, 0, "a", 1, wide, -1); },
       ERROR_INVALID_PARAMETER},
      {"UTF-8 flags", [&] { return MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", 1, wide, 4); },
       ERROR_INVALID_FLAGS},
      {"UTF-8 used flag",
       [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 4, nullptr, &used); },
       ERROR_INVALID_PARAMETER},
      {"UTF-8 default char",
       [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 4, "?", nullptr); },
       ERROR_INVALID_PARAMETER},
      {"1252 strict flag",
       [&] {
         return WideCharToMultiByte(1252, WC_ERR_INVALID_CHARS, u"a", 1, bytes, 4, nullptr,
                                    nullptr);
       },
       ERROR_INVALID_FLAGS},
      {"empty wide input",
       [&] { return WideCharToMultiByte(1252, 0, u"a", 0, bytes, 4, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"null byte output",
       [&] { return WideCharToMultiByte(1252, 0, u"a", 1, nullptr, 4, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(c.call(), 0);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST(CodePageTest, HelpersConvertWholeStrings) {
  using namespace sx::codepage;
  EXPECT_EQ(ansi_to_utf8("caf\xE9 \x80\x81"), "caf\xC3\xA9 \xE2\x82\xAC\xC2\x81");
  EXPECT_EQ(utf8_to_ansi("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xFF"), "caf\xE9 \x80 ?? ?");
  EXPECT_EQ(ansi_to_wide(std::string("a\0\x9C", 3)), std::u16string(u"a\0\u0153", 3));
  EXPECT_EQ(wide_to_ansi(u"\u2122\u4E2D"), "\x99?");
  EXPECT_EQ(utf8_to_wide("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(wide_to_utf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(ansi_to_utf8(""), "");
}

}  // namespace
