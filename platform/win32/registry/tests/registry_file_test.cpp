// The registry file: its text, hand edits, damaged files.
#include <gtest/gtest.h>

#include "reg_text.h"
#include "registry_test_util.h"
#include "sx/registry_file.h"
#include "sx/testing/temp_machine.h"

namespace sx::registry::testing {
namespace {

class RegistryFileTest : public ::testing::Test {
 protected:
  std::filesystem::path file() const { return machine_.root() / "registry.reg"; }
  sx::testing::TempMachine machine_;
};

TEST_F(RegistryFileTest, FileIsARegedit4ExportAPersonCanRead) {
  HKEY key = create_key(HKEY_LOCAL_MACHINE, "Software\\Vorlan Software\\Scribbix");
  ASSERT_EQ(set_sz(key, "Path", "C:\\Program Files\\Scribbix"), ERROR_SUCCESS);
  ASSERT_EQ(set_dword(key, "Last", 42), ERROR_SUCCESS);
  ASSERT_EQ(set_sz(key, "", "x"), ERROR_SUCCESS);
  RegCloseKey(key);
  RegCloseKey(create_key(HKEY_CURRENT_USER, "Empty"));

  EXPECT_EQ(read_file(file()),
            "REGEDIT4\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vorlan Software]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vorlan Software\\Scribbix]\n"
            "\"Path\"=\"C:\\\\Program Files\\\\Scribbix\"\n"
            "\"Last\"=dword:0000002a\n"
            "@=\"x\"\n"
            "\n"
            "[HKEY_CURRENT_USER\\Empty]\n"
            "\n");
}

TEST_F(RegistryFileTest, QuotesBackslashesAndHighBytesRoundTrip) {
  const std::string tricky = "say \"hi\" \\\\server\\ \xE9\xFC\x80\xFF end\\";
  const std::string lines = "two\r\nlines";
  HKEY key = create_key(HKEY_LOCAL_MACHINE, "Esc\\K\xE9y \"q\"");
  ASSERT_EQ(set_sz(key, "N\"a\\me", tricky), ERROR_SUCCESS);
  ASSERT_EQ(set_sz(key, "Lines", lines), ERROR_SUCCESS);
  RegCloseKey(key);

  std::string text = read_file(file());
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Esc\\K\xE9y \"q\"]\n"), std::string::npos) << text;
  EXPECT_NE(
      text.find(
          "\"N\\\"a\\\\me\"=\"say \\\"hi\\\" \\\\\\\\server\\\\ \xE9\xFC\x80\xFF end\\\\\"\n"),
      std::string::npos)
      << text;
  // A line break cannot stand in a quoted string: the text goes as hex(1).
  EXPECT_NE(text.find("\"Lines\"=hex(1):74,77,6f,0d,0a,6c,69,6e,65,73,00\n"), std::string::npos)
      << text;

  drop_registry_cache();
  EXPECT_EQ(query_path(HKEY_LOCAL_MACHINE, "ESC\\K\xC9Y \"Q\"", "n\"A\\ME"), tricky + '\0');
  EXPECT_EQ(query_path(HKEY_LOCAL_MACHINE, "Esc\\K\xE9y \"q\"", "Lines"), lines + '\0');
}

TEST_F(RegistryFileTest, LongBinaryValueIsWrappedAndReadsBack) {
  std::string blob;
  for (int i = 0; i < 300; ++i) blob.push_back(static_cast<char>(i * 7));
  HKEY key = create_key(HKEY_LOCAL_MACHINE, "Blob");
  ASSERT_EQ(
      RegSetValueExA(key, "Data", 0, REG_BINARY, reinterpret_cast<const BYTE*>(blob.data()), 300),
      ERROR_SUCCESS);
  RegCloseKey(key);
  std::string text = read_file(file());
  std::size_t start = 0, longest = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    longest = std::max(longest, end - start);
  }
  EXPECT_LE(longest, 80u);
  drop_registry_cache();
  EXPECT_EQ(query_path(HKEY_LOCAL_MACHINE, "Blob", "Data"), blob);
}

TEST_F(RegistryFileTest, HandEditIsSeenAtTheNextCall) {
  HKEY key = create_key(HKEY_LOCAL_MACHINE, "Edited");
  ASSERT_EQ(set_dword(key, "Base", 1), ERROR_SUCCESS);
  write_file(file(),
             "REGEDIT4\r\n\r\n; edited by hand\r\n[HKEY_LOCAL_MACHINE\\Edited]\r\n"
             "\"Base\" = dword:7\r\n\"Extra\"=hex(2):25,41,25,00\r\n");
  EXPECT_EQ(query(key, "Base"), std::string("\x07\0\0\0", 4));  // the open handle follows
  DWORD type = 0;
  EXPECT_EQ(query(key, "Extra", &type), std::string("%A%\0", 4));
  EXPECT_EQ(type, REG_EXPAND_SZ);
  RegCloseKey(key);
}

TEST_F(RegistryFileTest, DamagedLinesAreReportedWithTheirLineAndSkipped) {
  write_file(file(),
             std::string("\"Orphan\"=\"before any key\"\n"  // 1: no header, no key
                         "[HKEY_LOCAL_MACHINE\\Good]\n"     // 2
                         "\"A\"=\"kept\"\n"                 // 3
                         "\"B\"=\"unterminated\n"           // 4
                         "\"C\"=dword:123456789\n"          // 5
                         "junk \x01\x02") +
                 '\0' + "\xff\n" +  // 6 (with a NUL)
                 "\"D\"=\"" + std::string(kMaxLineLength + 10, 'x') +
                 "\"\n"                          // 7
                 "[HKEY_NOWHERE\\X]\n"           // 8
                 "\"E\"=\"under a bad key\"\n"   // 9
                 "[HKEY_LOCAL_MACHINE\\Good]\n"  // 10
                 "\"F\"=\"bad \\escape\"\n"      // 11
                 "\"G\"=dword:00000010\n");      // 12
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(query_path(HKEY_LOCAL_MACHINE, "Good", "A"), std::string("kept\0", 5));
  EXPECT_EQ(query_path(HKEY_LOCAL_MACHINE, "Good", "G"), std::string("\x10\0\0\0", 4));
  EXPECT_EQ(query_path(HKEY_LOCAL_MACHINE, "Good", "B"), "<error 2>");
  std::string err = ::testing::internal::GetCapturedStderr();
  const std::string where = file().string() + ":";
  for (int line : {1, 4, 5, 6, 7, 8, 9, 11}) {
    EXPECT_NE(err.find(where + std::to_string(line) + ":"), std::string::npos) << line << "\n"
                                                                               << err;
  }
  for (int line : {2, 3, 10, 12}) {
    EXPECT_EQ(err.find(where + std::to_string(line) + ":"), std::string::npos) << line << "\n"
                                                                               << err;
  }
  EXPECT_NE(err.find("REGEDIT4"), std::string::npos);
  EXPECT_LT(err.size(), 4000u);  // the overlong line is not echoed
}

TEST_F(RegistryFileTest, DamagedFileIsKeptAsideBeforeTheNextWrite) {
  const std::string damaged = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:1\nrubbish\n";
  write_file(file(), damaged);
  HKEY key = nullptr;
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "K", &key), ERROR_SUCCESS);
  EXPECT_EQ(read_file(file()), damaged);  // reading never rewrites
  ASSERT_EQ(set_dword(key, "B", 2), ERROR_SUCCESS);
  std::string err = ::testing::internal::GetCapturedStderr();
  const auto copy = machine_.root() / "registry.reg.damaged-1";
  EXPECT_EQ(read_file(copy), damaged);
  EXPECT_NE(err.find("kept it as " + copy.string()), std::string::npos) << err;
  EXPECT_EQ(read_file(file()),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:00000001\n"
            "\"B\"=dword:00000002\n\n");

  // The clean file is written over without a copy; the next damage gets the next number.
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(set_dword(key, "B", 3), ERROR_SUCCESS);
  write_file(file(), "not a registry\n");
  ASSERT_EQ(set_dword(key, "C", 4), ERROR_KEY_DELETED);  // the damaged file lost key K
  RegCloseKey(key);
  RegCloseKey(create_key(HKEY_LOCAL_MACHINE, "K"));
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(read_file(machine_.root() / "registry.reg.damaged-2"), "not a registry\n");
  EXPECT_FALSE(std::filesystem::exists(machine_.root() / "registry.reg.damaged-3"));
  EXPECT_EQ(read_file(copy), damaged);
}

TEST_F(RegistryFileTest, EmptyFileFromCreateIsAnEmptyRegistry) {
  std::filesystem::remove(file());
  std::string why;
  ASSERT_TRUE(sx::registry::create_empty_file(&why)) << why;
  EXPECT_EQ(read_file(file()), "REGEDIT4\n\n");
  RegCloseKey(create_key(HKEY_USERS, "X"));
  ASSERT_TRUE(sx::registry::create_empty_file(&why)) << why;  // keeps what is there
  EXPECT_EQ(read_file(file()), "REGEDIT4\n\n[HKEY_USERS\\X]\n\n");
}

TEST(RegistryTextTest, HexFormsAndContinuationLinesParse) {
  int problems = 0;
  ParseResult parsed = parse_registry_text(
      "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\T]\n"
      "\"Multi\"=hex(7):61,00,62,\\\n"
      "  00,00\n"
      "\"Empty\"=hex:\n"
      "\"Short\"=hex(4):01,02\n"
      "\"Up\"=DWORD:FF\n",
      [&](int, const std::string&) { ++problems; });
  EXPECT_EQ(problems, 0);
  Key& key = *parsed.tree.root(RootId::kClassesRoot).child("T");
  ASSERT_EQ(key.values().size(), 4u);
  EXPECT_EQ(key.values()[0].type, 7u);
  EXPECT_EQ(key.values()[0].data, std::string("a\0b\0\0", 5));
  EXPECT_EQ(key.values()[1].data, "");
  EXPECT_EQ(key.values()[1].type, 3u);
  EXPECT_EQ(key.values()[2].data, "\x01\x02");
  EXPECT_EQ(key.values()[3].data, std::string("\xff\0\0\0", 4));
  // What was read is written back so that it reads the same.
  ParseResult again = parse_registry_text(format_registry_text(parsed.tree),
                                          [&](int, const std::string&) { ++problems; });
  EXPECT_EQ(problems, 0);
  EXPECT_EQ(format_registry_text(again.tree), format_registry_text(parsed.tree));
}

}  // namespace
}  // namespace sx::registry::testing
