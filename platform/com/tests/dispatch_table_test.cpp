#include <gtest/gtest.h>

#include <thread>

#include "comdef.h"

namespace {

using sx::com::ComError;
using sx::com::ComPtr;
using sx::com::DispatchArgs;
using sx::com::Variant;

// A post with a Subject property and an Add(a, [b]) method.
class Post : public sx::com::DispatchObject<IDispatch> {
 public:
  Post() {
    table_.add(u"Subject", [this](WORD flags, const DispatchArgs& args, VARIANT* result) {
      if ((flags & DISPATCH_PROPERTYPUT) != 0) {
        Variant text;
        if (args.put_value() == nullptr) return DISP_E_PARAMNOTFOUND;
        if (const HRESULT hr = VariantChangeType(text.put(), args.put_value(), 0, VT_BSTR);
            FAILED(hr)) {
          return hr;
        }
        subject_ = text.to_utf8();
        return S_OK;
      }
      *result = Variant::from_utf8(subject_).detach();
      return S_OK;
    });
    table_.add(u"Add", [](WORD, const DispatchArgs& args, VARIANT* result) {
      Variant a;
      Variant b = Variant::from_i4(100);
      if (const HRESULT hr = args.get(0, VT_I4, &a); FAILED(hr)) return hr;
      if (!args.omitted(1) && FAILED(args.get(1, VT_I4, &b))) return DISP_E_TYPEMISMATCH;
      *result = Variant::from_i4(a.to_i4() - b.to_i4()).detach();
      return S_OK;
    });
    table_.add(u"Fail", [](WORD, const DispatchArgs&, VARIANT*) -> HRESULT {
      sx::com::set_error_info("Post", "cannot");
      sx::com::issue_error(E_ACCESSDENIED);  // carries the error information just set
    });
  }

 protected:
  const sx::com::DispatchTable& dispatch_table() const override { return table_; }

 private:
  sx::com::DispatchTable table_;
  std::string subject_;
};

TEST(DispatchTable, PropertiesAndMethodsByNameIgnoringCase) {
  ComPtr<Post> post = sx::com::make_object<Post>();
  Variant value = Variant::from_utf8("Hello");
  EXPECT_EQ(sx::com::put_property(post.Get(), u"subject", value.get()), S_OK);
  Variant got;
  EXPECT_EQ(sx::com::get_property(post.Get(), u"SUBJECT", got.put()), S_OK);
  EXPECT_EQ(got.to_utf8(), "Hello");

  // Arguments arrive in call order: Add(10, 3) is 10 - 3; the second is optional.
  EXPECT_EQ(sx::com::invoke_by_name(post.Get(), u"Add", DISPATCH_METHOD,
                                    {Variant::from_i4(10), Variant::from_utf8("3")}, got.put()),
            S_OK);
  EXPECT_EQ(got.get().lVal, 7);
  EXPECT_EQ(sx::com::invoke_by_name(post.Get(), u"Add", DISPATCH_METHOD, {Variant::from_i4(10)},
                                    got.put()),
            S_OK);
  EXPECT_EQ(got.get().lVal, -90);
  EXPECT_EQ(sx::com::invoke_by_name(post.Get(), u"Add", DISPATCH_METHOD, {}, got.put()),
            DISP_E_PARAMNOTFOUND);
}

TEST(DispatchTable, UnknownNamesAndMembersFail) {
  ComPtr<Post> post = sx::com::make_object<Post>();
  DISPID id = 0xdead;
  EXPECT_EQ(sx::com::dispid_of(post.Get(), u"CreationTime", &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  Variant got;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(post->Invoke(999, IID_NULL, 0, DISPATCH_METHOD, &none, got.put(), nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
}

TEST(DispatchTable, ThrownComErrorBecomesExceptionWithItsCodeAndText) {
  ComPtr<Post> post = sx::com::make_object<Post>();
  // The runtime's Invoke: DISP_E_EXCEPTION with the details in EXCEPINFO.
  DISPID id = 0;
  ASSERT_EQ(sx::com::dispid_of(post.Get(), u"Fail", &id), S_OK);
  EXCEPINFO info{};
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(post->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &info, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(info.scode, E_ACCESSDENIED);
  EXPECT_EQ(sx::com::bstr_to_utf8(info.bstrSource), "Post");
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  // The client helper: the code itself, with the text as error information.
  EXPECT_EQ(sx::com::invoke_by_name(post.Get(), u"Fail", DISPATCH_METHOD, {}, nullptr),
            E_ACCESSDENIED);
  ComPtr<IErrorInfo> error;
  EXPECT_EQ(GetErrorInfo(0, error.ReleaseAndGetAddressOf()), S_OK);
  sx::com::Bstr description;
  error->GetDescription(description.put());
  EXPECT_EQ(description.ansi(), "cannot");
}

TEST(DispatchTable, CallsFromAnotherThreadFailWithWrongThread) {
  ComPtr<Post> post = sx::com::make_object<Post>();
  HRESULT hr = S_OK;
  std::thread([&] {
    Variant got;
    hr = sx::com::get_property(post.Get(), u"Subject", got.put());
  }).join();
  EXPECT_EQ(hr, RPC_E_WRONG_THREAD);
}

}  // namespace
