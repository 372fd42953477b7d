// The program's small utilities: version texts, the partial-upgrade test, registry keys and the
// text of a COM error.
#include <gtest/gtest.h>

#include <fstream>

#include "file_version.h"
#include "messages.h"
#include "registry_key.h"
#include "sx/registry_file.h"
#include "sx/testing/temp_machine.h"
#include "sx/version_stamp.h"

namespace sx::configure {
namespace {

using Parts = std::array<int, 4>;

TEST(ParseVersionTest, PartsAreReadUpToFourAndMissingOnesStayMinusOne) {
  EXPECT_EQ(ParseVersion("9.0.0.3821"), (Parts{9, 0, 0, 3821}));
  EXPECT_EQ(ParseVersion(""), (Parts{-1, -1, -1, -1}));
  EXPECT_EQ(ParseVersion("10"), (Parts{10, -1, -1, -1}));
  EXPECT_EQ(ParseVersion("9..2"), (Parts{9, -1, 2, -1}));
  EXPECT_EQ(ParseVersion(".5"), (Parts{0, 5, -1, -1}));  // the first part is always read
  EXPECT_EQ(ParseVersion("9.0b.x.4.7"), (Parts{9, 0, 0, 4}));
  EXPECT_EQ(ParseVersion("99999999999.1"), (Parts{0x7FFFFFFF, 1, -1, -1}));
}

class FileVersionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(sx::registry::create_empty_file(&why)) << why;
    std::filesystem::create_directories(machine_.c("Office\\1033"));
  }
  // A stand-in file stamped with `version` (none when empty).
  void Stamp(const std::string& relative, const std::string& version) {
    const std::filesystem::path file = machine_.c(relative);
    std::ofstream(file) << "module";
    if (version.empty()) return;
    sx::version::StampInfo stamp;
    stamp.is_program = false;
    stamp.values["FileVersion"] = version;
    std::string why;
    ASSERT_TRUE(sx::version::stamp_file(file, stamp, &why)) << why;
  }
  sx::testing::TempMachine machine_;
};

TEST_F(FileVersionTest, ReadFileVersionTellsMissingFromUnreadable) {
  std::string version = "sentinel";
  EXPECT_EQ(ReadFileVersion("C:\\Office\\none.dll", &version), kVersionFileMissing);
  Stamp("Office\\plain.dll", "");
  EXPECT_EQ(ReadFileVersion("C:\\Office\\plain.dll", &version), kVersionUnreadable);
  Stamp("Office\\outlrpc.dll", "9.0.3821");
  EXPECT_EQ(ReadFileVersion("C:\\Office\\outlrpc.dll", &version), 0);
  EXPECT_EQ(version, "9.0.3821");
}

TEST_F(FileVersionTest, PartialUpgradeIsFlaggedForOldBuildsAndMissingFiles) {
  const std::string server = "C:\\Office\\OUTLOOK.EXE";
  std::string message;
  Stamp("Office\\outlrpc.dll", "9.0.3821");
  Stamp("Office\\1033\\outllibr.dll", "9.0.3821");
  EXPECT_EQ(CheckPartialUpgrade(server, &message), 0);
  EXPECT_EQ(message, "");
  Stamp("Office\\1033\\outllibr.dll", "9.0.2999");
  EXPECT_EQ(CheckPartialUpgrade(server, &message), 1);
  EXPECT_EQ(message, "The following file is out of date: C:\\Office\\1033\\outllibr.dll\n");
  Stamp("Office\\1033\\outllibr.dll", "10.0.1");  // another version is not this upgrade's
  EXPECT_EQ(CheckPartialUpgrade(server, &message), 0);
  std::filesystem::remove(machine_.c("Office\\outlrpc.dll"));
  EXPECT_EQ(CheckPartialUpgrade(server, &message), kVersionFileMissing);
  EXPECT_EQ(message, "");
}

TEST_F(FileVersionTest, RegistryKeyReadsDefaultsAndEnumeratesInOrder) {
  CRegistryKey key;
  EXPECT_FALSE(key.Open(HKEY_CURRENT_USER, "Software\\Test", KEY_READ));
  std::string text = "sentinel";
  EXPECT_FALSE(key.ReadText("x", &text, "fallback"));
  EXPECT_EQ(text, "fallback");
  key.Open(HKEY_CURRENT_USER, "Software", 0);
  ASSERT_TRUE(key.Create("Software\\Test"));
  EXPECT_TRUE(key.WriteText("Zed", "last"));
  EXPECT_TRUE(key.WriteText("Amy", "first"));
  EXPECT_TRUE(key.WriteDword("Count", 7));
  DWORD count = 0;
  EXPECT_TRUE(key.ReadDword("Count", &count));
  EXPECT_EQ(count, 7u);
  EXPECT_FALSE(key.ReadDword("Zed", &count, 5));  // a text is not a number
  EXPECT_EQ(count, 5u);
  std::vector<std::string> names, data;
  EXPECT_TRUE(key.EnumerateValues(&names, &data));
  EXPECT_EQ(names, (std::vector<std::string>{"Zed", "Amy", "Count"}));
  EXPECT_EQ(data[0], "last");
  EXPECT_TRUE(key.Create("Software\\Test\\b"));
  EXPECT_TRUE(key.Create("Software\\Test\\A"));
  EXPECT_TRUE(key.Reopen("Software\\Test"));
  std::set<std::string> subkeys = {"stale"};
  EXPECT_TRUE(key.EnumerateSubkeys(&subkeys));
  EXPECT_EQ(subkeys, (std::set<std::string>{"A", "b"}));
}

TEST(MessagesTest, ComErrorTextCarriesCodeMeaningSourceAndDescription) {
  sx::com::set_error_info("Microsoft Outlook", "The profile is missing.");
  sx::com::ComPtr<IErrorInfo> error;
  ASSERT_EQ(GetErrorInfo(0, error.ReleaseAndGetAddressOf()), S_OK);
  const sx::com::ComError withInfo(static_cast<HRESULT>(0x80040201), error.Get());
  EXPECT_EQ(ComErrorText(withInfo),
            "Com Error!\n\tCode = 80040201\n\tCode meaning = IDispatch error #1\n\tSource = "
            "Microsoft Outlook\n\tDescription = The profile is missing.\n");
  const sx::com::ComError bare(E_OUTOFMEMORY);
  const std::string text = ComErrorText(bare);
  EXPECT_NE(text.find("\tCode = 8007000e\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\tSource = (null)\n\tDescription = (null)\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace sx::configure
