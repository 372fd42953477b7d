#include <gtest/gtest.h>

#include <cstring>

#include "comdef.h"

namespace {

TEST(Bstr, LengthPrefixCountsBytesAndNulTerminates) {
  BSTR s = SysAllocString(u"Scribbix");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 8u);
  EXPECT_EQ(SysStringByteLen(s), 16u);
  std::uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const char*>(s) - 4, 4);
  EXPECT_EQ(prefix, 16u);
  EXPECT_EQ(s[8], 0);
  SysFreeString(s);
}

TEST(Bstr, EmbeddedNulsCountAndSurviveConversions) {
  const char16_t text[] = {u'a', 0, u'b', 0, 0};
  BSTR s = SysAllocStringLen(text, 4);
  EXPECT_EQ(SysStringLen(s), 4u);
  EXPECT_EQ(sx::com::bstr_to_utf8(s), std::string("a\0b\0", 4));
  EXPECT_EQ(sx::com::bstr_to_ansi(s), std::string("a\0b\0", 4));
  SysFreeString(s);
}

TEST(Bstr, NullCountsAsEmpty) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  EXPECT_EQ(sx::com::bstr_to_utf8(nullptr), "");
  SysFreeString(nullptr);
  BSTR zeroed = SysAllocStringLen(nullptr, 3);
  EXPECT_EQ(SysStringLen(zeroed), 3u);
  EXPECT_EQ(zeroed[0] | zeroed[1] | zeroed[2] | zeroed[3], 0);
  SysFreeString(zeroed);
}

TEST(Bstr, OddByteLengthKeepsBytesAndTerminates) {
  BSTR s = SysAllocStringByteLen("abc", 3);
  EXPECT_EQ(SysStringByteLen(s), 3u);
  EXPECT_EQ(SysStringLen(s), 1u);
  EXPECT_EQ(std::memcmp(s, "abc\0\0", 5), 0);
  SysFreeString(s);
}

TEST(Bstr, ReAllocReplacesFromItsOwnTextAndNullGivesEmpty) {
  BSTR s = SysAllocString(u"Hello world");
  EXPECT_TRUE(SysReAllocString(&s, s + 6));  // from inside the old string
  EXPECT_EQ(sx::com::bstr_to_u16(s), u"world");
  EXPECT_TRUE(SysReAllocString(&s, nullptr));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 0u);
  EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
  SysFreeString(s);
}

TEST(Bstr, AnsiIsWindows1252AndUtf8IsExact) {
  // 0x80 is the euro sign, 0xE9 e-acute; U+4E2D has no Windows-1252 form.
  sx::com::Bstr s = sx::com::Bstr::from_ansi("\x80 caf\xE9");
  EXPECT_EQ(s.u16(), u"\u20AC caf\u00E9");
  EXPECT_EQ(s.utf8(), "\xE2\x82\xAC caf\xC3\xA9");
  sx::com::Bstr cjk(u"\u4E2D\u00E9");
  EXPECT_EQ(cjk.ansi(), "?\xE9");
  EXPECT_EQ(cjk.utf8(), "\xE4\xB8\xAD\xC3\xA9");
}

TEST(Bstr, Utf8HandlesSurrogatesAndReplacesMalformedInput) {
  sx::com::Bstr clef = sx::com::Bstr::from_utf8("\xF0\x9D\x84\x9E");  // U+1D11E
  EXPECT_EQ(clef.u16(), u"\U0001D11E");
  EXPECT_EQ(clef.length(), 2u);
  EXPECT_EQ(clef.utf8(), "\xF0\x9D\x84\x9E");
  EXPECT_EQ(sx::com::utf8_to_u16("a\xC3(b\xFF\xC0\xAF"), u"a\uFFFD(b\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(sx::com::u16_to_utf8(u"x\xD800y"), "x\xEF\xBF\xBDy");
}

}  // namespace
