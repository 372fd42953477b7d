// Shared helpers of the HotSync stand-in's tests: a fresh machine with HotSync installed, one user
// with a handheld, the test conduit registered, and handheld databases built in memory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "hotsync/synctypes.h"
#include "sx/hotsync.h"
#include "sx/paths.h"
#include "sx/testing/temp_machine.h"
#include "windows.h"

namespace hotsync_test {

namespace fs = std::filesystem;

inline constexpr DWORD kTestCreator = 0x54737443;  // 'TstC'
inline constexpr DWORD kData = 0x44415441;         // 'DATA'
inline constexpr const char* kUser = "Test User";
inline constexpr const char* kUserDir = "TestUser";
inline constexpr const char* kConduitKey =
    "Software\\U.S. Robotics\\Pilot Desktop\\ApplicationTest";

inline std::vector<std::uint8_t> text_bytes(const std::string& s) {
  return std::vector<std::uint8_t>(s.begin(), s.end());
}

// A database of `n` records "record <i>", category i % 16, unique IDs 0x100 + i.
inline sx::hotsync::PdbDatabase make_database(int n, const std::string& name = "TestDB") {
  sx::hotsync::PdbDatabase db;
  db.name = name;
  db.version = 2;
  db.type = kData;
  db.creator = kTestCreator;
  db.created = 3000000000u;
  db.modified = 3000000100u;
  db.seed = 0x1000;
  for (int i = 0; i < n; ++i) {
    db.records.push_back({static_cast<std::uint8_t>(i % 16), static_cast<std::uint32_t>(0x100 + i),
                          text_bytes("record " + std::to_string(i))});
  }
  return db;
}

class HotSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sx::hotsync::InstallOptions options;
#ifdef SX_HOTSYNC_PROGRAM
    options.program = SX_HOTSYNC_PROGRAM;
#endif
#ifdef SX_INSTAIDE_LIBRARY
    options.instaide = SX_INSTAIDE_LIBRARY;
#endif
    std::string why;
    ASSERT_TRUE(sx::hotsync::install_hotsync(options, &why)) << why;
    ASSERT_TRUE(sx::hotsync::add_user(kUser, 4242, "", &why)) << why;
    sx::hotsync::clear_faults();
  }
  void TearDown() override {
    sx::hotsync::clear_faults();
    (void)sx::hotsync::end_session(false);
  }

  fs::path handheld() const { return sx::hotsync::handheld_dir(kUserDir); }
  fs::path db_file(const std::string& name = "TestDB") const {
    return sx::hotsync::database_file(handheld(), name);
  }
  void put_database(const sx::hotsync::PdbDatabase& db) {
    std::string why;
    ASSERT_TRUE(sx::hotsync::save_database(db_file(db.name), db, &why)) << why;
  }
  sx::hotsync::PdbDatabase read_back(const std::string& name = "TestDB") {
    sx::hotsync::PdbDatabase db;
    std::string why;
    EXPECT_TRUE(sx::hotsync::load_database(db_file(name), &db, &why)) << why;
    return db;
  }
  // Starts a HotSync session for the test user (what HotSync Manager does before conduits run).
  void begin(DWORD pc_id = 77) {
    std::string why;
    ASSERT_TRUE(sx::hotsync::begin_session(handheld(), machine_.root() / "log.txt", pc_id, &why))
        << why;
  }

#ifdef SX_TEST_CONDUIT
  // Copies the test conduit into HotSync's directory and registers it with `mode`.
  void register_test_conduit(const std::string& mode) {
    std::error_code ec;
    fs::copy_file(SX_TEST_CONDUIT,
                  sx::paths::to_host(sx::hotsync::hotsync_dir() + "\\TestCond.dll"),
                  fs::copy_options::overwrite_existing, ec);
    ASSERT_FALSE(ec) << ec.message();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kConduitKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD creator = kTestCreator;
    RegSetValueExA(key, "Creator", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&creator), 4);
    auto put = [&](const char* name, const std::string& value) {
      RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
    };
    put("Conduit", "TestCond.dll");
    put("Directory", "TestCond");
    put("Mode", mode);
    RegCloseKey(key);
  }
#endif

  DWORD conduit_dword(const char* name) {
    HKEY key = nullptr;
    DWORD value = 0xdeadbeef, size = sizeof value;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kConduitKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
      RegCloseKey(key);
    }
    return value;
  }

  sx::testing::TempMachine machine_;
};

}  // namespace hotsync_test
