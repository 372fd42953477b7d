#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sx/testing/temp_machine.h"
#include "sx/version_stamp.h"
#include "win32/module.h"

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void write_file(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class VersionInfoTest : public ::testing::Test {
 protected:
  // The whole version information of a file, or empty with the error in `error`.
  static std::vector<char> info_of(const std::string& name, DWORD* error = nullptr) {
    DWORD handle = 0xdeadbeef;
    const DWORD size = GetFileVersionInfoSizeA(name.c_str(), &handle);
    if (error) *error = GetLastError();
    if (size == 0) return {};
    EXPECT_EQ(handle, 0u);
    std::vector<char> block(size);
    EXPECT_TRUE(GetFileVersionInfoA(name.c_str(), 0, size, block.data()));
    return block;
  }

  static std::string text_value(const std::vector<char>& block, const std::string& name) {
    void* value = nullptr;
    UINT length = 0;
    const std::string path = "\\StringFileInfo\\040904b0\\" + name;
    if (!VerQueryValueA(block.data(), path.c_str(), &value, &length)) return "<none>";
    EXPECT_EQ(length, std::strlen(static_cast<char*>(value)) + 1);
    return static_cast<char*>(value);
  }

  static VS_FIXEDFILEINFO fixed_of(const std::vector<char>& block) {
    void* value = nullptr;
    UINT length = 0;
    EXPECT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length));
    EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, value, sizeof(fixed));
    return fixed;
  }

  sx::testing::TempMachine machine_;
};

TEST_F(VersionInfoTest, LibraryBuiltWithTheHelperCarriesItsBlock) {
  const std::vector<char> block = info_of(SX_TEST_MODULE_PATH);
  ASSERT_FALSE(block.empty());
  const VS_FIXEDFILEINFO fixed = fixed_of(block);
  EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed.dwStrucVersion, 0x00010000u);
  EXPECT_EQ(fixed.dwFileVersionMS, 0x00020000u);
  EXPECT_EQ(fixed.dwFileVersionLS, 0x00010011u);
  EXPECT_EQ(fixed.dwProductVersionMS, 0x00020000u);
  EXPECT_EQ(fixed.dwProductVersionLS, 0u);
  EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_DLL));

  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  WORD words[2];
  std::memcpy(words, value, sizeof(words));
  EXPECT_EQ(words[0], 0x0409);
  EXPECT_EQ(words[1], 0x04B0);

  EXPECT_EQ(text_value(block, "FileVersion"), "2.0.1.17");
  EXPECT_EQ(text_value(block, "productversion"), "2.0");
  EXPECT_EQ(text_value(block, "CompanyName"), "Vorlan Software");
  EXPECT_EQ(text_value(block, "FileDescription"), "Module \"loader\" test \\ back");
  EXPECT_EQ(text_value(block, "InternalName"), "sxtestmod");
  EXPECT_EQ(text_value(block, "OriginalFilename"), "sxtestmod.dll");
  EXPECT_EQ(text_value(block, "ProductName"), "Scribbix");
  EXPECT_EQ(text_value(block, "LegalCopyright"), "<none>");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_FALSE(
      VerQueryValueA(block.data(), "\\StringFileInfo\\040704B0\\FileVersion", &value, &length));
}

TEST_F(VersionInfoTest, ProgramBuiltWithTheHelperIsAnApp) {
  char self[4096];
  const DWORD n = GetModuleFileNameA(nullptr, self, sizeof(self));
  ASSERT_GT(n, 0u);
  const std::vector<char> block = info_of(self);
  ASSERT_FALSE(block.empty());
  const VS_FIXEDFILEINFO fixed = fixed_of(block);
  EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed.dwFileVersionMS, 0x00010002u);
  EXPECT_EQ(fixed.dwFileVersionLS, 0u);
  EXPECT_EQ(fixed.dwProductVersionMS, 0x00010002u);
  EXPECT_EQ(text_value(block, "ProductVersion"), "1.2 beta");
  EXPECT_EQ(text_value(block, "CompanyName"), "<none>");
}

TEST_F(VersionInfoTest, TooSmallABufferIsRefusedAndLeftUntouched) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(SX_TEST_MODULE_PATH, &handle);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size, static_cast<char>(0xCC));
  EXPECT_FALSE(GetFileVersionInfoA(SX_TEST_MODULE_PATH, 0, size - 1, block.data()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(static_cast<unsigned char>(block[0]), 0xCC);
  void* value = nullptr;
  UINT length = 0;
  EXPECT_FALSE(VerQueryValueA(block.data(), "\\", &value, &length));  // not a block
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(VersionInfoTest, FilesWithoutABlockReportNoResource) {
  DWORD error = 0;
  write_file(machine_.c("readme.txt"), "just text, long enough to be more than a header\n");
  EXPECT_TRUE(info_of("C:\\readme.txt", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  write_file(machine_.c("tiny"), "x");
  EXPECT_TRUE(info_of("C:\\tiny", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  EXPECT_TRUE(info_of("C:\\missing.dll", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(info_of("C:\\nodir\\missing.dll", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  // An ELF file whose section table has no ".sxversion" (the name renamed in place).
  std::string bytes = read_file(SX_TEST_MODULE_PATH);
  const std::size_t at = bytes.find(std::string(".sxversion") + '\0');
  ASSERT_NE(at, std::string::npos);
  bytes[at + 1] = 'n';
  write_file(machine_.c("plain.dll"), bytes);
  EXPECT_TRUE(info_of("C:\\plain.dll", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

TEST_F(VersionInfoTest, TruncatedLibrariesGiveACleanError) {
  const std::string bytes = read_file(SX_TEST_MODULE_PATH);
  for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 97) {
    write_file(machine_.c("cut.dll"), bytes.substr(0, cut));
    DWORD error = 0;
    EXPECT_TRUE(info_of("C:\\cut.dll", &error).empty()) << cut;
    EXPECT_TRUE(error == ERROR_BAD_EXE_FORMAT || error == ERROR_RESOURCE_TYPE_NOT_FOUND) << cut;
  }
}

TEST_F(VersionInfoTest, CorruptedHeadersNeverCrashTheReader) {
  const std::string original = read_file(SX_TEST_MODULE_PATH);
  ASSERT_GT(original.size(), 64u);
  // Damage chosen fields: section header offset, entry size, count, string table index.
  struct Patch {
    std::size_t at;
    std::string bytes;
  };
  const Patch patches[] = {
      {0x28, std::string("\xff\xff\xff\xff\xff\xff\xff\x7f", 8)},
      {0x28, std::string("\xf0\xff\xff\xff\x00\x00\x00\x00", 8)},
      {0x3A, std::string("\x01\x00", 2)},
      {0x3C, std::string("\xff\xff", 2)},
      {0x3C, std::string("\x00\x00", 2)},
      {0x3E, std::string("\xfe\xff", 2)},
      {0x3E, std::string("\xff\xff", 2)},
      {0x04, std::string("\x07", 1)},
  };
  for (const Patch& patch : patches) {
    std::string bytes = original;
    bytes.replace(patch.at, patch.bytes.size(), patch.bytes);
    write_file(machine_.c("bad.dll"), bytes);
    DWORD error = 0;
    EXPECT_TRUE(info_of("C:\\bad.dll", &error).empty()) << patch.at;
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_BAD_EXE_FORMAT)) << patch.at;
  }
  // Random damage over the headers and the section table: any answer, but a clean one.
  std::uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  std::uint64_t shoff = 0;
  std::memcpy(&shoff, original.data() + 0x28, sizeof(shoff));
  for (int round = 0; round < 300; ++round) {
    std::string bytes = original;
    for (int flips = 0; flips < 4; ++flips) {
      const bool in_table = (next() & 1) && shoff < bytes.size();
      const std::size_t base = in_table ? static_cast<std::size_t>(shoff) : 0;
      const std::size_t span = in_table ? bytes.size() - base : 64;
      bytes[base + (next() >> 8) % span] = static_cast<char>(next() >> 16);
    }
    write_file(machine_.c("fuzz.dll"), bytes);
    DWORD error = 0;
    const std::vector<char> block = info_of("C:\\fuzz.dll", &error);
    if (!block.empty()) {
      EXPECT_EQ(fixed_of(block).dwSignature, 0xFEEF04BDu);
    } else {
      EXPECT_TRUE(error == ERROR_BAD_EXE_FORMAT || error == ERROR_RESOURCE_TYPE_NOT_FOUND ||
                  error == ERROR_INVALID_DATA)
          << error;
    }
  }
}

TEST_F(VersionInfoTest, StandInFilesCarryAStampedVersion) {
  const fs::path outlook = machine_.c("Program Files\\Microsoft Office\\Office\\OUTLOOK.EXE");
  write_file(outlook, "stand-in program");
  sx::version::StampInfo info;
  info.values["FileVersion"] = "9.0.0.3821";
  info.values["ProductName"] = "Microsoft Outlook";
  ASSERT_TRUE(sx::version::stamp_file(outlook, info));
  const std::string name = "C:\\Program Files\\Microsoft Office\\Office\\outlook.exe";
  std::vector<char> block = info_of(name);
  ASSERT_FALSE(block.empty());
  EXPECT_EQ(fixed_of(block).dwFileVersionMS, 0x00090000u);
  EXPECT_EQ(fixed_of(block).dwFileVersionLS, 0x00000EEDu);
  EXPECT_EQ(fixed_of(block).dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(text_value(block, "FileVersion"), "9.0.0.3821");

  const auto stamped_size = fs::file_size(outlook);
  info.values["FileVersion"] = "10.0.2627";  // a stamp replaces the one before
  ASSERT_TRUE(sx::version::stamp_file(outlook, info));
  EXPECT_EQ(fs::file_size(outlook), stamped_size - 1);
  EXPECT_EQ(read_file(outlook).substr(0, 16), "stand-in program");
  block = info_of(name);
  ASSERT_FALSE(block.empty());
  EXPECT_EQ(fixed_of(block).dwFileVersionMS, 0x000A0000u);
  EXPECT_EQ(fixed_of(block).dwFileVersionLS, 0x0A430000u);

  info.values["Comments"] = "two\nlines";
  std::string why;
  EXPECT_FALSE(sx::version::stamp_file(outlook, info, &why));
  EXPECT_FALSE(why.empty());
}

TEST_F(VersionInfoTest, DamagedStampsAreInvalidData) {
  DWORD error = 0;
  write_file(machine_.c("a.exe"), std::string("abc\xff\xff\x00\x00SXVTRAIL", 15));
  EXPECT_TRUE(info_of("C:\\a.exe", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_DATA));
  const std::string text = "NOT THE MAGIC\nFileVersion=1\n";
  std::string bytes = text;
  bytes += static_cast<char>(text.size());
  bytes += std::string(3, '\0') + "SXVTRAIL";
  write_file(machine_.c("b.exe"), bytes);
  EXPECT_TRUE(info_of("C:\\b.exe", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_DATA));
}

}  // namespace
