#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "comdef.h"

namespace {

using sx::com::ComError;
using sx::com::ComPtr;

// An error information object carrying `source` and `description`.
ComPtr<IErrorInfo> make_info(const char* source, const char* description) {
  sx::com::set_error_info(source, description);
  ComPtr<IErrorInfo> info;
  EXPECT_EQ(GetErrorInfo(0, info.ReleaseAndGetAddressOf()), S_OK);
  return info;
}

TEST(ComErrorMessage, CodesWithoutSystemTextNameTheirNumber) {
  // Codes just above 0x80040200 up to 0x8004FFFF are "IDispatch error #n".
  EXPECT_STREQ(ComError(static_cast<HRESULT>(0x80040201u)).ErrorMessage(), "IDispatch error #1");
  EXPECT_STREQ(ComError(static_cast<HRESULT>(0x8004FFFFu)).ErrorMessage(),
               "IDispatch error #65023");
  EXPECT_STREQ(ComError(static_cast<HRESULT>(0x80040200u)).ErrorMessage(),
               "Unknown error 0x80040200");
  EXPECT_STREQ(ComError(static_cast<HRESULT>(0x80770000u)).ErrorMessage(),
               "Unknown error 0x80770000");
  EXPECT_STREQ(ComError(static_cast<HRESULT>(0x80880000u)).ErrorMessage(),
               "Unknown error 0x80880000");
}

TEST(ComErrorMessage, SystemTextLosesItsTrailingLineBreak) {
  EXPECT_STREQ(ComError(E_NOINTERFACE).ErrorMessage(), "No such interface supported");
  EXPECT_STREQ(ComError(RPC_E_WRONG_THREAD).ErrorMessage(),
               "The application called an interface that was marshalled for a different thread.");
  EXPECT_EQ(sx::com::error_message(HRESULT_FROM_WIN32(2)),
            "The system cannot find the file specified.");
}

TEST(ComErrorInfo, SourceAndDescriptionComeFromTheErrorInformation) {
  ComPtr<IErrorInfo> info = make_info("Outlook", "The operation failed.");
  const ComError error(E_FAIL, info.Get());
  EXPECT_EQ(error.Error(), E_FAIL);
  EXPECT_STREQ(error.Source(), "Outlook");
  EXPECT_STREQ(error.Description(), "The operation failed.");
  EXPECT_EQ(error.ErrorInfo().Get(), info.Get());

  const ComError bare(E_FAIL);
  EXPECT_EQ(bare.Source(), nullptr);
  EXPECT_EQ(bare.Description(), nullptr);
}

TEST(ComErrorInfo, ThrowIfFailedTakesTheThreadsErrorInformation) {
  EXPECT_EQ(sx::com::throw_if_failed(S_FALSE), S_FALSE);
  try {
    sx::com::throw_if_failed(sx::com::report_error(DISP_E_EXCEPTION, "ScribbixOut", "no folder"));
    FAIL() << "no exception";
  } catch (const ComError& e) {
    EXPECT_EQ(e.Error(), DISP_E_EXCEPTION);
    EXPECT_STREQ(e.Description(), "no folder");
  }
  ComPtr<IErrorInfo> left;
  EXPECT_EQ(GetErrorInfo(0, left.ReleaseAndGetAddressOf()), S_FALSE);
  EXPECT_EQ(left.Get(), nullptr);
}

TEST(ErrorInfo, IsPerThreadAndTakenOnce) {
  ComPtr<IErrorInfo> mine = make_info("main", "first");
  SetErrorInfo(0, mine.Get());
  HRESULT other_thread_result = E_UNEXPECTED;
  std::thread([&] {
    ComPtr<IErrorInfo> seen;
    other_thread_result = GetErrorInfo(0, seen.ReleaseAndGetAddressOf());
    sx::com::set_error_info("worker", "not seen by main");
  }).join();
  EXPECT_EQ(other_thread_result, S_FALSE);

  ComPtr<IErrorInfo> taken;
  EXPECT_EQ(GetErrorInfo(0, taken.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(taken.Get(), mine.Get());
  EXPECT_EQ(GetErrorInfo(0, taken.ReleaseAndGetAddressOf()), S_FALSE);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
}

TEST(ErrorInfo, CreatedObjectReportsWhatWasSet) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.ReleaseAndGetAddressOf()), S_OK);
  const IID iid = sx::com::guid("{1617160A-4398-40EC-9FFC-EDF458F120EA}");
  create->SetGUID(iid);
  create->SetSource(const_cast<LPOLESTR>(u"Src"));
  create->SetHelpContext(7);
  ComPtr<IErrorInfo> info = create.As<IErrorInfo>();
  ASSERT_TRUE(info);
  GUID guid{};
  info->GetGUID(&guid);
  EXPECT_EQ(guid, iid);
  sx::com::Bstr source;
  sx::com::Bstr description;
  info->GetSource(source.put());
  info->GetDescription(description.put());
  EXPECT_EQ(source.u16(), u"Src");
  EXPECT_EQ(description.get(), nullptr);  // never set
  DWORD context = 0;
  info->GetHelpContext(&context);
  EXPECT_EQ(context, 7u);
}

TEST(ErrorInfo, LeavingComDropsTheThreadsErrorInformation) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  sx::com::set_error_info("x", "y");
  CoUninitialize();
  ComPtr<IErrorInfo> left;
  EXPECT_EQ(GetErrorInfo(0, left.ReleaseAndGetAddressOf()), S_FALSE);
}

}  // namespace
