// LoadLibraryExA with the search for what a module needs starting in the module's own folder, and
// the reading of a library's needed names.
#include <dlfcn.h>
#include <link.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../elf_section.h"
#include "sx/testing/temp_machine.h"
#include "win32/module.h"

namespace {

namespace fs = std::filesystem;

TEST(LoadLibraryEx, WhatAModuleNeedsIsFoundInItsOwnFolder) {
  sx::testing::TempMachine machine;
  fs::create_directories(machine.c("Palm"));
  fs::copy_file(SX_TEST_NEEDS_PATH, machine.c("Palm\\sxtestneeds.dll"));
  fs::copy_file(SX_TEST_HELPER_PATH, machine.c("Palm\\SXTESTHELPER.DLL"));  // any letter case

  EXPECT_EQ(LoadLibraryA("C:\\Palm\\sxtestneeds.dll"), nullptr);  // the host finds no helper
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  HMODULE module =
      LoadLibraryExA("C:\\Palm\\sxtestneeds.dll", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(module, nullptr) << sx::modules::last_load_error();
  auto answer = reinterpret_cast<int (*)()>(
      reinterpret_cast<void*>(GetProcAddress(module, "sx_test_needs_answer")));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_TRUE(FreeLibrary(module));

  EXPECT_EQ(LoadLibraryExA("C:\\Palm\\sxtestneeds.dll", nullptr, 0x2 /* as a data file */),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

std::string dynamic_table(const std::vector<std::pair<long, unsigned long>>& entries) {
  std::string bytes;
  for (const auto& [tag, value] : entries) {
    ElfW(Dyn) entry{};
    entry.d_tag = tag;
    entry.d_un.d_val = value;
    bytes.append(reinterpret_cast<const char*>(&entry), sizeof entry);
  }
  return bytes;
}

TEST(NeededLibraries, NamesWithinTheStringTableUpToTheEndOfTheTable) {
  const std::string strings("\0libc.so.6\0sxhelper.dll\0unterminated", 36);
  const std::string table = dynamic_table({{DT_NEEDED, 1},
                                           {DT_SONAME, 11},
                                           {DT_NEEDED, 11},
                                           {DT_NEEDED, 500},  // outside the strings
                                           {DT_NEEDED, 25},   // runs off the end
                                           {DT_NEEDED, 0},    // empty
                                           {DT_NULL, 0},
                                           {DT_NEEDED, 1}});  // after the end
  EXPECT_EQ(sx::modules::needed_libraries(table, strings),
            (std::vector<std::string>{"libc.so.6", "sxhelper.dll"}));
  EXPECT_TRUE(sx::modules::needed_libraries(table.substr(0, table.size() - 3), strings).empty());
  EXPECT_TRUE(sx::modules::needed_libraries({}, strings).empty());
}

}  // namespace
