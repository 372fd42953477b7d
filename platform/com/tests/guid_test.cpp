#include <gtest/gtest.h>

#include "objbase.h"

namespace {

constexpr CLSID kClass1 = sx::com::guid("{6BEB7231-FE61-4182-8FCA-ECF40038A83C}");

TEST(Guid, CompileTimeLiteralHasTheWindowsLayout) {
  EXPECT_EQ(kClass1.Data1, 0x6BEB7231u);
  EXPECT_EQ(kClass1.Data2, 0xFE61);
  EXPECT_EQ(kClass1.Data3, 0x4182);
  const std::uint8_t data4[8] = {0x8F, 0xCA, 0xEC, 0xF4, 0x00, 0x38, 0xA8, 0x3C};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(kClass1.Data4[i], data4[i]) << i;
}

TEST(Guid, FormatsUpperCaseWithBracesAndRoundTrips) {
  EXPECT_EQ(sx::com::format_guid(kClass1), "{6BEB7231-FE61-4182-8FCA-ECF40038A83C}");
  const auto lower = sx::com::parse_guid("{6beb7231-fe61-4182-8fca-ecf40038a83c}");
  ASSERT_TRUE(lower.has_value());
  EXPECT_TRUE(IsEqualGUID(*lower, kClass1));
  EXPECT_EQ(IUnknown::kIid, sx::com::guid("{00000000-0000-0000-C000-000000000046}"));
  EXPECT_FALSE(IID_IDispatch == IID_IUnknown);
}

TEST(Guid, MalformedTextsAreRefusedWithClassString) {
  const char16_t* bad[] = {
      u"",
      u"6BEB7231-FE61-4182-8FCA-ECF40038A83C",     // no braces
      u"{6BEB7231-FE61-4182-8FCA-ECF40038A83C",    // no closing brace
      u"{6BEB7231-FE61-4182-8FCA-ECF40038A83C}x",  // trailing text
      u"{6BEB7231-FE61-4182-8FCA-ECF40038A83G}",   // not hex
      u"{6BEB7231+FE61-4182-8FCA-ECF40038A83C}",   // wrong separator
      u"{6BEB723-1FE61-4182-8FCA-ECF40038A83C}",   // dash moved
      u"{ScribbixOut.Class1}",
  };
  for (const char16_t* text : bad) {
    CLSID clsid = kClass1;
    EXPECT_EQ(CLSIDFromString(text, &clsid), CO_E_CLASSSTRING) << sx::com::u16_to_utf8(text);
    EXPECT_EQ(clsid, GUID_NULL);
  }
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromString(u"{6BEB7231-FE61-4182-8FCA-ECF40038A83C}", &clsid), S_OK);
  EXPECT_EQ(clsid, kClass1);
  EXPECT_EQ(CLSIDFromString(nullptr, &clsid), E_INVALIDARG);
}

TEST(Guid, StringFromGuid2WritesThirtyNineCharactersOrNothing) {
  OLECHAR buffer[45];
  std::fill(std::begin(buffer), std::end(buffer), u'\xCCCC');
  EXPECT_EQ(StringFromGUID2(kClass1, buffer, 38), 0);
  EXPECT_EQ(buffer[0], u'\xCCCC');
  EXPECT_EQ(StringFromGUID2(kClass1, buffer, 45), 39);
  EXPECT_EQ(std::u16string(buffer), u"{6BEB7231-FE61-4182-8FCA-ECF40038A83C}");
  EXPECT_EQ(buffer[39], u'\xCCCC');
}

}  // namespace
