#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "win32/module.h"

namespace {

std::string system_text(DWORD code) {
  char buffer[512];
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, buffer, sizeof(buffer), nullptr);
  return n == 0 ? "<" + std::to_string(GetLastError()) + ">" : std::string(buffer, n);
}

TEST(FormatMessageTest, SystemTextsEndInCrLfAsOnWindows) {
  EXPECT_EQ(system_text(0), "The operation completed successfully.\r\n");
  EXPECT_EQ(system_text(2), "The system cannot find the file specified.\r\n");
  EXPECT_EQ(system_text(5), "Access is denied.\r\n");
  EXPECT_EQ(system_text(1018),
            "Illegal operation attempted on a registry key that has been marked for deletion.\r\n");
  EXPECT_EQ(system_text(193), "%1 is not a valid Win32 application.\r\n");
  EXPECT_EQ(system_text(0x80004005u), "Unspecified error\r\n");
  EXPECT_EQ(system_text(0x8001010Eu),
            "The application called an interface that was marshalled for a different thread.\r\n");
  EXPECT_EQ(system_text(0x80040154u), "Class not registered\r\n");
  EXPECT_EQ(system_text(0x800401F0u), "CoInitialize has not been called.\r\n");
  EXPECT_EQ(system_text(0x80040110u),
            "Class does not support aggregation (or class object is remote)\r\n");
}

TEST(FormatMessageTest, Win32HresultsGiveTheWin32Text) {
  EXPECT_EQ(system_text(0x80070057u), "The parameter is incorrect.\r\n");
  EXPECT_EQ(system_text(0x8007000Eu),
            "Not enough storage is available to complete this operation.\r\n");
  EXPECT_EQ(system_text(0x80070005u), system_text(5));
}

TEST(FormatMessageTest, UnknownCodesAndOtherSourcesFail) {
  EXPECT_EQ(system_text(0x12345u), "<317>");
  EXPECT_EQ(system_text(0x80074242u), "<317>");
  EXPECT_EQ(system_text(0x80049999u), "<317>");
  char buffer[64];
  EXPECT_EQ(
      FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "text", 0, 0, buffer, sizeof(buffer), nullptr),
      0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(FormatMessageTest, TooSmallABufferIsLeftUntouched) {
  const std::string text = "Access is denied.\r\n";  // 19 characters
  char buffer[32];
  std::memset(buffer, 0xCC, sizeof(buffer));
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buffer, 19, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(static_cast<unsigned char>(buffer[0]), 0xCC);
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buffer, 20, nullptr), 19u);
  EXPECT_EQ(std::string(buffer), text);
  EXPECT_EQ(static_cast<unsigned char>(buffer[20]), 0xCC);
}

TEST(FormatMessageTest, AllocatedTextsAreFreedWithLocalFree) {
  LPSTR text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, 0x80020009u, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  ASSERT_EQ(n, 21u);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "Exception occurred.\r\n");
  EXPECT_EQ(LocalFree(reinterpret_cast<HLOCAL>(text)), nullptr);
}

TEST(GetVersionExTest, ReportsWindowsXpAfterCheckingTheSize) {
  OSVERSIONINFOA info;
  std::memset(&info, 0xCC, sizeof(info));
  info.dwOSVersionInfoSize = sizeof(info) - 1;
  EXPECT_FALSE(GetVersionExA(&info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(info.dwMajorVersion, 0xCCCCCCCCu);

  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwMajorVersion, 5u);
  EXPECT_EQ(info.dwMinorVersion, 1u);
  EXPECT_EQ(info.dwBuildNumber, 2600u);
  EXPECT_EQ(info.dwPlatformId, 2u);
  EXPECT_STREQ(info.szCSDVersion, "");

  OSVERSIONINFOEXA ex;
  std::memset(&ex, 0xCC, sizeof(ex));
  ex.dwOSVersionInfoSize = sizeof(ex);
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&ex)));
  EXPECT_EQ(ex.dwMajorVersion, 5u);
  EXPECT_EQ(ex.wProductType, 1);
}

}  // namespace
