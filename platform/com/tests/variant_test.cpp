#include <gtest/gtest.h>

#include <cstring>

#include "comdef.h"
#include "test_objects.h"

namespace {

using sx::com::ComError;
using sx::com::ComPtr;
using sx::com::Variant;
using sx::com::testing::ref_count;
using sx::com::testing::ValueObject;

// Converts `src` to `vt`; returns the result code and leaves the value in *out.
HRESULT change(const Variant& src, VARTYPE vt, Variant* out, USHORT flags = 0) {
  return VariantChangeType(out->put(), &src.get(), flags, vt);
}

std::string text_of(const Variant& src, USHORT flags = 0) {
  Variant out;
  EXPECT_EQ(change(src, VT_BSTR, &out, flags), S_OK);
  return out.vt() == VT_BSTR ? sx::com::bstr_to_utf8(out.get().bstrVal) : "<not text>";
}

TEST(VariantLayout, MatchesWindows) {
  VARIANT v;
  std::memset(&v, 0xCC, sizeof v);
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(v.wReserved1, 0xCCCC);  // VariantInit touches only vt
  EXPECT_EQ(reinterpret_cast<char*>(&v.dblVal) - reinterpret_cast<char*>(&v), 8);
}

TEST(VariantClearAndCopy, ClearFreesTextAndReleasesObjects) {
  bool destroyed = false;
  ComPtr<ValueObject> object = sx::com::make_object<ValueObject>(1, &destroyed);
  VARIANT v;
  v.vt = VT_DISPATCH;
  v.pdispVal = object.Get();
  object->AddRef();
  EXPECT_EQ(ref_count(object.Get()), 2u);
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(ref_count(object.Get()), 1u);
  object = nullptr;
  EXPECT_TRUE(destroyed);

  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"freed by VariantClear");  // ASan reports it if not
  EXPECT_EQ(VariantClear(&v), S_OK);

  v.vt = VT_ARRAY | VT_I4;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(v.vt, VT_ARRAY | VT_I4);
}

TEST(VariantClearAndCopy, CopyDuplicatesTextWithNulsAndAddRefsObjects) {
  const char16_t raw[] = {u'a', 0, u'b'};
  VARIANT raw_text;
  raw_text.vt = VT_BSTR;
  raw_text.bstrVal = SysAllocStringLen(raw, 3);
  Variant text = Variant::attach(&raw_text);
  Variant copy(text.get());
  ASSERT_EQ(copy.vt(), VT_BSTR);
  EXPECT_NE(copy.get().bstrVal, text.get().bstrVal);
  EXPECT_EQ(sx::com::bstr_to_u16(copy.get().bstrVal), std::u16string(raw, 3));

  ComPtr<ValueObject> object = sx::com::make_object<ValueObject>(1);
  {
    Variant a = Variant::from_dispatch(object.Get());
    Variant b = a;
    EXPECT_EQ(ref_count(object.Get()), 3u);
  }
  EXPECT_EQ(ref_count(object.Get()), 1u);
}

TEST(VariantClearAndCopy, CopyIndDereferencesOneLevel) {
  LONG number = 42;
  VARIANT by_ref;
  by_ref.vt = VT_BYREF | VT_I4;
  by_ref.plVal = &number;
  Variant out;
  EXPECT_EQ(VariantCopyInd(out.put(), &by_ref), S_OK);
  EXPECT_EQ(out.vt(), VT_I4);
  EXPECT_EQ(out.get().lVal, 42);

  Variant inner = Variant::from_utf8("inner");
  VARIANT to_variant;
  to_variant.vt = VT_BYREF | VT_VARIANT;
  to_variant.pvarVal = &inner.get();
  EXPECT_EQ(VariantCopyInd(out.put(), &to_variant), S_OK);
  EXPECT_EQ(out.to_utf8(), "inner");
  EXPECT_NE(out.get().bstrVal, inner.get().bstrVal);

  // In place: the reference becomes the value.
  EXPECT_EQ(VariantCopyInd(&by_ref, &by_ref), S_OK);
  EXPECT_EQ(by_ref.vt, VT_I4);
  EXPECT_EQ(by_ref.lVal, 42);

  VARIANT chain;
  chain.vt = VT_BYREF | VT_VARIANT;
  chain.pvarVal = &to_variant;
  EXPECT_EQ(VariantCopyInd(out.put(), &chain), E_INVALIDARG);
}

TEST(VariantChangeType, BooleansFollowTheWindowsRules) {
  Variant out;
  EXPECT_EQ(change(Variant::from_utf8("True"), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.get().boolVal, VARIANT_TRUE);
  EXPECT_EQ(change(Variant::from_utf8(" fALSE "), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.get().boolVal, VARIANT_FALSE);
  EXPECT_EQ(change(Variant::from_utf8("12"), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.get().boolVal, VARIANT_TRUE);
  EXPECT_EQ(change(Variant::from_utf8("yes"), VT_BOOL, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(change(Variant::from_r8(0.0), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.get().boolVal, VARIANT_FALSE);
  EXPECT_EQ(change(Variant::from_r8(0.25), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.get().boolVal, VARIANT_TRUE);

  EXPECT_EQ(text_of(Variant::from_bool(true)), "-1");
  EXPECT_EQ(text_of(Variant::from_bool(false)), "0");
  EXPECT_EQ(text_of(Variant::from_bool(true), VARIANT_ALPHABOOL), "True");
  EXPECT_EQ(text_of(Variant::from_bool(false), VARIANT_ALPHABOOL), "False");
  EXPECT_EQ(change(Variant::from_bool(true), VT_I4, &out), S_OK);
  EXPECT_EQ(out.get().lVal, -1);
}

TEST(VariantChangeType, TextToNumbers) {
  Variant out;
  EXPECT_EQ(change(Variant::from_utf8(" 42 "), VT_I4, &out), S_OK);
  EXPECT_EQ(out.get().lVal, 42);
  EXPECT_EQ(change(Variant::from_utf8("-1,234.5"), VT_R8, &out), S_OK);
  EXPECT_EQ(out.get().dblVal, -1234.5);
  EXPECT_EQ(change(Variant::from_utf8("1.5e3"), VT_I2, &out), S_OK);
  EXPECT_EQ(out.get().iVal, 1500);
  EXPECT_EQ(change(Variant::from_utf8("&H1F"), VT_I4, &out), S_OK);
  EXPECT_EQ(out.get().lVal, 31);
  for (const char* bad : {"", "abc", "12abc", "1e", "True", "--1", "."}) {
    EXPECT_EQ(change(Variant::from_utf8(bad), VT_I4, &out), DISP_E_TYPEMISMATCH) << bad;
  }
  EXPECT_EQ(change(Variant::from_utf8("1e400"), VT_R8, &out), DISP_E_OVERFLOW);
}

TEST(VariantChangeType, NumbersRoundHalfToEvenAndOverflow) {
  Variant out;
  const std::pair<double, LONG> rounding[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {2.4999, 2}};
  for (auto [from, to] : rounding) {
    EXPECT_EQ(change(Variant::from_r8(from), VT_I4, &out), S_OK) << from;
    EXPECT_EQ(out.get().lVal, to) << from;
  }
  EXPECT_EQ(change(Variant::from_i4(70000), VT_I2, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(change(Variant::from_r8(32767.5), VT_I2, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(change(Variant::from_i4(-1), VT_UI1, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(change(Variant::from_r8(1e300), VT_R4, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(change(Variant::from_r8(4294967295.0), VT_UI4, &out), S_OK);
  EXPECT_EQ(out.get().ulVal, 4294967295u);
  EXPECT_EQ(change(Variant::from_r8(1.23456), VT_CY, &out), S_OK);
  EXPECT_EQ(out.get().cyVal.int64, 12346);
  EXPECT_EQ(text_of(out), "1.2346");
}

TEST(VariantChangeType, NumbersToText) {
  EXPECT_EQ(text_of(Variant::from_i4(-17)), "-17");
  EXPECT_EQ(text_of(Variant::from_r8(0.1)), "0.1");
  EXPECT_EQ(text_of(Variant::from_r8(1e20)), "1E+20");
  EXPECT_EQ(text_of(Variant::from_r8(-0.0)), "0");
  EXPECT_EQ(text_of(Variant::from_r8(36955.0 + 14.5 / 24.0)), "36955.6041666667");
  EXPECT_EQ(text_of(Variant()), "");
}

TEST(VariantChangeType, DatesToAndFromTextInTheUsForm) {
  const double at1430 = 36955.0 + 14.5 / 24.0;
  EXPECT_EQ(text_of(Variant::from_date(at1430)), "3/5/2001 2:30:00 PM");
  EXPECT_EQ(text_of(Variant::from_date(36955.0)), "3/5/2001");
  EXPECT_EQ(text_of(Variant::from_date(0.5)), "12:00:00 PM");
  EXPECT_EQ(text_of(Variant::from_date(0.0)), "12:00:00 AM");
  EXPECT_EQ(text_of(Variant::from_date(36955.0 + 0.25 / 24)), "3/5/2001 12:15:00 AM");

  Variant out;
  for (const char* text : {"3/5/2001 2:30:00 PM", "3/5/2001 2:30 pm", "3/5/01 14:30",
                           "2001-03-05 14:30:00", "2001-03-05T14:30"}) {
    ASSERT_EQ(change(Variant::from_utf8(text), VT_DATE, &out), S_OK) << text;
    EXPECT_DOUBLE_EQ(out.get().date, at1430) << text;
  }
  EXPECT_EQ(change(Variant::from_utf8("3/5/1999"), VT_DATE, &out), S_OK);
  EXPECT_EQ(out.get().date, 36224.0);
  EXPECT_EQ(change(Variant::from_utf8("12/31/1899"), VT_DATE, &out), S_OK);
  EXPECT_EQ(out.get().date, 1.0);
  EXPECT_EQ(change(Variant::from_utf8("6:00 AM"), VT_DATE, &out), S_OK);
  EXPECT_EQ(out.get().date, 0.25);
  for (const char* bad : {"2/30/2001", "13/1/2001", "3/5/2001 25:00", "3/5/2001 13:00 PM",
                          "tomorrow", "3/5", "1/1/10000"}) {
    EXPECT_EQ(change(Variant::from_utf8(bad), VT_DATE, &out), DISP_E_TYPEMISMATCH) << bad;
  }
  EXPECT_EQ(change(Variant::from_utf8("1/1/099"), VT_DATE, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(change(Variant::from_r8(3e6), VT_DATE, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(change(Variant::from_date(at1430), VT_R8, &out), S_OK);
  EXPECT_EQ(out.get().dblVal, at1430);
}

TEST(VariantChangeType, EmptyNullAndErrors) {
  Variant out;
  EXPECT_EQ(change(Variant(), VT_I4, &out), S_OK);
  EXPECT_EQ(out.get().lVal, 0);
  EXPECT_EQ(change(Variant::null(), VT_I4, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(change(Variant::null(), VT_BSTR, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(change(Variant::null(), VT_EMPTY, &out), S_OK);
  EXPECT_EQ(change(Variant::from_error(E_FAIL), VT_I4, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(change(Variant::from_i4(1), VT_ARRAY | VT_I4, &out), DISP_E_BADVARTYPE);
}

TEST(VariantChangeType, FailureLeavesTheDestinationAsItWas) {
  VARIANT dest;
  dest.vt = VT_I4;
  dest.lVal = static_cast<LONG>(0xdeadbeef);
  Variant src = Variant::from_utf8("not a number");
  EXPECT_EQ(VariantChangeType(&dest, &src.get(), 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(dest.vt, VT_I4);
  EXPECT_EQ(dest.lVal, static_cast<LONG>(0xdeadbeef));
}

TEST(VariantChangeType, InPlaceAndByReferenceSources) {
  Variant v = Variant::from_utf8("12");
  EXPECT_EQ(VariantChangeType(&v.get(), &v.get(), 0, VT_I4), S_OK);  // the text is freed
  EXPECT_EQ(v.vt(), VT_I4);
  EXPECT_EQ(v.get().lVal, 12);

  BSTR text = SysAllocString(u"7");
  VARIANT by_ref;
  by_ref.vt = VT_BYREF | VT_BSTR;
  by_ref.pbstrVal = &text;
  Variant out;
  EXPECT_EQ(VariantChangeType(out.put(), &by_ref, 0, VT_I2), S_OK);
  EXPECT_EQ(out.get().iVal, 7);
  EXPECT_EQ(sx::com::bstr_to_utf8(text), "7");  // the referenced text is not consumed
  SysFreeString(text);
}

TEST(VariantChangeType, ObjectsConvertThroughTheirValueProperty) {
  ComPtr<ValueObject> object = sx::com::make_object<ValueObject>(7);
  Variant v = Variant::from_dispatch(object.Get());
  EXPECT_EQ(text_of(v), "7");
  EXPECT_EQ(object->calls, 1);
  Variant out;
  EXPECT_EQ(change(v, VT_I4, &out, VARIANT_NOVALUEPROP), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(change(v, VT_UNKNOWN, &out), S_OK);
  EXPECT_EQ(out.get().punkVal, object->identity());
  EXPECT_EQ(change(Variant::from_dispatch(nullptr), VT_I4, &out), DISP_E_TYPEMISMATCH);
}

TEST(VariantWrapper, ConversionsThrowComErrorWithTheCode) {
  EXPECT_EQ(Variant::from_bool(true).to_utf8(), "True");
  EXPECT_EQ(Variant::from_utf8("3.5").to_i4(), 4);
  try {
    (void)Variant::from_utf8("x").to_i4();
    FAIL() << "no exception";
  } catch (const ComError& e) {
    EXPECT_EQ(e.Error(), DISP_E_TYPEMISMATCH);
  }
}

}  // namespace
