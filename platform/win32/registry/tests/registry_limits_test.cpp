// The registry's limits (Windows's name lengths and depth, the file's size), deleting whole trees,
// and temporaries left by killed writers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/wait.h>

#include <string>

#include "reg_store.h"
#include "registry_test_util.h"
#include "sx/testing/temp_machine.h"

namespace sx::registry::testing {
namespace {

class RegistryLimitsTest : public ::testing::Test {
 protected:
  std::filesystem::path file() const { return machine_.root() / "registry.reg"; }
  sx::testing::TempMachine machine_;
};

std::string chain(int levels) {
  std::string path;
  for (int i = 0; i < levels; ++i) path += (i == 0 ? "" : "\\") + std::string("k");
  return path;
}

TEST_F(RegistryLimitsTest, KeysGoAtMost512LevelsDeepCountedFromTheRoot) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, chain(513).c_str(), &key), ERROR_BAD_PATHNAME);
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, chain(500).c_str(), &key), ERROR_SUCCESS);
  HKEY deeper = nullptr;
  EXPECT_EQ(RegCreateKeyA(key, chain(13).c_str(), &deeper), ERROR_BAD_PATHNAME);  // 513 in all
  ASSERT_EQ(RegCreateKeyA(key, chain(12).c_str(), &deeper), ERROR_SUCCESS);
  RegCloseKey(deeper);
  RegCloseKey(key);
  EXPECT_EQ(query_path(HKEY_CURRENT_USER, chain(513).c_str(), "x"), "<error 161>");

  // A hand-made file with a deeper key: the line is reported and skipped, the rest is kept.
  write_file(file(), "REGEDIT4\n\n[HKEY_CURRENT_USER\\" + chain(513) +
                         "]\n\"x\"=\"deep\"\n\n[HKEY_CURRENT_USER\\Near]\n\"x\"=\"near\"\n");
  drop_registry_cache();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(query_path(HKEY_CURRENT_USER, "Near", "x"), std::string("near\0", 5));
  const std::string report = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find(":3: the key path has an empty or overlong name in it, or is deeper than "
                        "512 levels (ignored)"),
            std::string::npos)
      << report;
}

TEST_F(RegistryLimitsTest, NamesAndValuesLongerThanAllowedAreRefused) {
  HKEY key = create_key(HKEY_CURRENT_USER, "Software\\T");
  EXPECT_EQ(set_sz(key, std::string(16384, 'v').c_str(), "x"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(set_sz(key, std::string(16383, 'v').c_str(), "x"), ERROR_SUCCESS);
  const std::string big(kMaxValueDataSize + 1, 'd');
  EXPECT_EQ(RegSetValueExA(key, "big", 0, REG_BINARY, reinterpret_cast<const BYTE*>(big.data()),
                           static_cast<DWORD>(big.size())),
            ERROR_INVALID_PARAMETER);
  HKEY sub = nullptr;
  EXPECT_EQ(RegCreateKeyA(key, std::string(256, 'k').c_str(), &sub), ERROR_BAD_PATHNAME);
  RegCloseKey(key);
}

TEST_F(RegistryLimitsTest, AChangeThatWouldOutgrowWhatReadersAcceptIsRefused) {
  // A file 100 KiB under the 64 MiB that every reader reads whole, as the registry writes it.
  std::string text =
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Keep]\n\"Name\"=\"kept\"\n\n"
      "[HKEY_LOCAL_MACHINE\\Big]\n";
  const std::size_t target = kMaxFileSize - 100 * 1024;
  for (int i = 0; text.size() < target - 1; ++i) {
    const std::string start = "\"V" + std::to_string(i) + "\"=\"";
    const std::size_t room = target - 1 - text.size() - start.size() - 2;
    text += start + std::string(std::min<std::size_t>(200 * 1024, room), 'f') + "\"\n";
  }
  text += "\n";
  ASSERT_EQ(text.size(), target);
  write_file(file(), text);
  drop_registry_cache();
  HKEY key = create_key(HKEY_LOCAL_MACHINE, "Big");
  EXPECT_EQ(set_sz(key, "big", std::string(150 * 1024, 'b')), ERROR_NO_SYSTEM_RESOURCES);
  EXPECT_TRUE(read_file(file()) == text);  // untouched: nothing was cut off
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "V0", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 200u * 1024 + 1);
  EXPECT_EQ(query(key, "big"), "<error 2>");  // the refused change is forgotten
  RegCloseKey(key);
  EXPECT_EQ(query_path(HKEY_CURRENT_USER, "Software\\Keep", "Name"), std::string("kept\0", 5));
}

TEST_F(RegistryLimitsTest, DeleteTreeTakesAWholeTreeInOneChange) {
  HKEY leaf = create_key(HKEY_CURRENT_USER, ("Tree\\" + chain(400)).c_str());
  ASSERT_EQ(set_dword(leaf, "v", 1), ERROR_SUCCESS);
  HKEY top = create_key(HKEY_CURRENT_USER, "Tree");
  ASSERT_EQ(set_dword(top, "w", 2), ERROR_SUCCESS);
  RegCloseKey(create_key(HKEY_CURRENT_USER, "Tree\\Other\\Branch"));
  RegCloseKey(create_key(HKEY_CURRENT_USER, "Treetop"));  // a neighbour whose name starts alike

  const auto written = std::filesystem::last_write_time(file());
  ASSERT_EQ(RegDeleteTreeA(top, nullptr), ERROR_SUCCESS);  // empties the key, keeps it
  EXPECT_EQ(query(top, "w"), "<error 2>");
  EXPECT_EQ(query(leaf, "v"), "<error 1018>");  // every handle in the tree sees the deletion
  EXPECT_EQ(query_path(HKEY_CURRENT_USER, "Tree\\Other", "x"), "<error 2>");
  EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Tree"), ERROR_SUCCESS);
  EXPECT_EQ(query(top, "w"), "<error 1018>");
  EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Tree"), ERROR_FILE_NOT_FOUND);
  EXPECT_NE(std::filesystem::last_write_time(file()), written);
  EXPECT_EQ(read_file(file()), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Treetop]\n\n");
  RegCloseKey(leaf);
  RegCloseKey(top);
}

// The pid of a process that has ended.
pid_t ended_process() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

TEST_F(RegistryLimitsTest, TheNextWriterRemovesTemporariesOfWritersThatDied) {
  const std::string dead = file().string() + ".tmp-" + std::to_string(ended_process());
  const std::string alive = file().string() + ".tmp-" + std::to_string(::getppid());
  const std::string other = file().string() + ".tmp-notapid";
  for (const std::string& temp : {dead, alive, other}) write_file(temp, std::string(1000, 'x'));
  HKEY key = create_key(HKEY_CURRENT_USER, "Software");
  ASSERT_EQ(set_dword(key, "v", 1), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_FALSE(std::filesystem::exists(dead));
  EXPECT_TRUE(std::filesystem::exists(alive));  // its writer may still rename it
  EXPECT_TRUE(std::filesystem::exists(other));
}

}  // namespace
}  // namespace sx::registry::testing
