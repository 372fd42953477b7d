// The wire form of parameters on its own: values that go there and back, and bytes that do not
// decode.
#include <gtest/gtest.h>

#include <vector>

#include "com/wire.h"
#include "remote_objects.h"

namespace {

using sx::com::Variant;
using sx::com::wire::Failure;
using sx::com::wire::Reader;
using sx::com::wire::Writer;

std::vector<std::uint8_t> encode(const VARIANT& v) {
  Writer w(nullptr);
  w.variant(v);
  return w.data();
}

Variant decode(const std::vector<std::uint8_t>& bytes) {
  Reader r(nullptr, bytes.data(), bytes.size());
  Variant out;
  r.variant(out.put());
  EXPECT_TRUE(r.at_end());
  return out;
}

HRESULT failure_of(auto action) {
  try {
    action();
  } catch (const Failure& failure) {
    return failure.hr;
  }
  return S_OK;
}

TEST(Wire, VariantsGoThereAndBackAndEveryTruncationIsRefused) {
  CY cy{};
  cy.int64 = -123456789;
  VARIANT currency;
  VariantInit(&currency);
  currency.vt = VT_CY;
  currency.cyVal = cy;
  std::u16string with_nul(u"a\0b", 3);
  const Variant values[] = {Variant::from_i4(-5), Variant::from_r8(2.5),
                            Variant::from_bstr(with_nul), Variant::from_bool(false),
                            Variant(currency), Variant::null(), Variant()};
  for (const Variant& value : values) {
    const auto bytes = encode(value.get());
    const Variant back = decode(bytes);
    ASSERT_EQ(back.vt(), value.vt());
    if (value.vt() == VT_BSTR) {
      ASSERT_EQ(SysStringLen(back.get().bstrVal), 3u);  // a NUL inside is kept
      EXPECT_EQ(std::u16string(back.get().bstrVal, 3), with_nul);
    } else if (value.vt() != VT_EMPTY && value.vt() != VT_NULL) {
      EXPECT_EQ(back.get().llVal, value.get().llVal);
    }
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
      const std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + cut);
      EXPECT_EQ(failure_of([&] { decode(part); }), RPC_X_BAD_STUB_DATA) << cut;
    }
  }
}

TEST(Wire, ValuesThatCannotCrossAreRefusedWhenWritten) {
  VARIANT array;
  VariantInit(&array);
  array.vt = VT_ARRAY | VT_I4;
  EXPECT_EQ(failure_of([&] { encode(array); }), DISP_E_BADVARTYPE);
  VARIANT record;
  VariantInit(&record);
  record.vt = VT_RECORD;
  EXPECT_EQ(failure_of([&] { encode(record); }), DISP_E_BADVARTYPE);
  // An object needs a connection to go to.
  auto probe = sx::com::make_object<remote_test::Probe>();
  EXPECT_EQ(failure_of([&] { encode(Variant::from_unknown(probe->identity()).get()); }),
            CO_E_NOT_SUPPORTED);
}

TEST(Wire, TextsKeepNullApartFromEmptyAndLengthsBeyondTheMessageAreRefused) {
  Writer w(nullptr);
  w.text(nullptr);
  w.text(u"");
  Reader r(nullptr, w.data().data(), w.data().size());
  EXPECT_EQ(r.text(), nullptr);
  BSTR empty = r.text();
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  SysFreeString(empty);

  const std::vector<std::uint8_t> huge = {1, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 0};
  Reader bad(nullptr, huge.data(), huge.size());
  EXPECT_EQ(failure_of([&] { SysFreeString(bad.text()); }), RPC_X_BAD_STUB_DATA);
  const std::vector<std::uint8_t> unknown_variant = {0x34, 0x12};
  EXPECT_EQ(failure_of([&] { decode(unknown_variant); }), RPC_X_BAD_STUB_DATA);
}

TEST(Wire, StubsReadTheirArgumentsExactlyAndSendTheResults) {
  auto probe = sx::com::make_object<remote_test::Probe>();
  IUnknown* target = static_cast<IProbe*>(probe.Get());
  using AddStub = sx::com::detail::Stub<IProbe, &IProbe::Add>;
  Writer args(nullptr);
  args.value(LONG{5});
  args.u8(0);  // the total's slot is there
  Writer results(nullptr);
  Reader in(nullptr, args.data().data(), args.data().size());
  ASSERT_EQ(AddStub::run(target, in, results), S_OK);
  Reader out(nullptr, results.data().data(), results.data().size());
  EXPECT_EQ(out.value<LONG>(), 5);
  EXPECT_TRUE(out.at_end());

  // One byte short, or one too many.
  for (std::size_t size : {args.data().size() - 1, args.data().size() + 1}) {
    std::vector<std::uint8_t> bytes = args.data();
    bytes.resize(size);
    Reader wrong(nullptr, bytes.data(), bytes.size());
    Writer ignored(nullptr);
    EXPECT_EQ(failure_of([&] { AddStub::run(target, wrong, ignored); }), RPC_X_BAD_STUB_DATA);
  }
}

}  // namespace
