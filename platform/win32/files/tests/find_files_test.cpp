#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "files_test_util.h"
#include "sx/testing/temp_machine.h"
#include "win32/files.h"

namespace {

using sx::files::testing::write_host_file;

class FindFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    write_host_file(machine_.c("Users\\Bob\\b.VXS"), "12345");
    write_host_file(machine_.c("Users\\Bob\\a.vxs"), "1");
    write_host_file(machine_.c("Users\\Bob\\notes.txt"), "");
    write_host_file(machine_.c("Users\\Bob\\README"), "");
    write_host_file(machine_.c("Users\\Bob\\Sub\\x.vxs"), "");
  }

  // Every name the search lists, in order; "!" + code when the search fails.
  std::vector<std::string> list(const char* pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern, &data);
    if (h == INVALID_HANDLE_VALUE) return {"!" + std::to_string(GetLastError())};
    do {
      names.emplace_back(data.cFileName);
    } while (FindNextFileA(h, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(h));
    return names;
  }

  sx::testing::TempMachine machine_;
};

using Names = std::vector<std::string>;

TEST_F(FindFilesTest, WildcardsMatchIgnoringCaseInNameOrder) {
  EXPECT_EQ(list("C:\\users\\bob\\*.VXS"), (Names{"a.vxs", "b.VXS"}));
  EXPECT_EQ(list("C:\\Users\\Bob\\?.vxs"), (Names{"a.vxs", "b.VXS"}));
  EXPECT_EQ(list("C:\\Users\\Bob\\n*s.t?t"), (Names{"notes.txt"}));
  EXPECT_EQ(list("C:\\Users\\Bob\\*"),
            (Names{".", "..", "a.vxs", "b.VXS", "notes.txt", "README", "Sub"}));
  EXPECT_EQ(list("C:\\Users\\Bob\\*.*"),
            (Names{".", "..", "a.vxs", "b.VXS", "notes.txt", "README", "Sub"}));
  EXPECT_EQ(list("C:\\Users\\Bob\\*."), (Names{"README", "Sub"}));
  EXPECT_EQ(list("C:\\Users\\Bob\\readme"), (Names{"README"}));
}

TEST_F(FindFilesTest, DriveRootListsNoDotEntries) {
  EXPECT_EQ(list("C:\\*"), (Names{"Users"}));
  EXPECT_EQ(list("*"), (Names{"Users"}));
}

TEST_F(FindFilesTest, EntriesCarrySizeAndAttributes) {
  WIN32_FIND_DATAA data;
  std::memset(&data, 0xCC, sizeof(data));
  HANDLE h = FindFirstFileA("C:\\Users\\Bob\\b.vxs", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "b.VXS");
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(data.cAlternateFileName[0], '\0');
  FindClose(h);
  h = FindFirstFileA("C:\\Users\\Bob\\sub", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  FindClose(h);
}

TEST_F(FindFilesTest, MissesGiveWindowsCodes) {
  EXPECT_EQ(list("C:\\Users\\Bob\\*.pdb"), (Names{"!2"}));     // ERROR_FILE_NOT_FOUND
  EXPECT_EQ(list("C:\\Users\\Nobody\\*.vxs"), (Names{"!3"}));  // ERROR_PATH_NOT_FOUND
  EXPECT_EQ(list("C:\\Users\\Bob\\a<b"), (Names{"!123"}));     // ERROR_INVALID_NAME
  EXPECT_EQ(list("C:\\Users\\B*b\\a.vxs"), (Names{"!123"}));   // wildcards only in the last part
  EXPECT_EQ(list("C:\\Users\\Bob\\"), (Names{"!2"}));
  EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
