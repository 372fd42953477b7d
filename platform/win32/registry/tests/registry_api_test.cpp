// Behaviour of the Reg* functions within one process.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "registry_test_util.h"
#include "sx/testing/temp_machine.h"

namespace sx::registry::testing {
namespace {

class RegistryApiTest : public ::testing::Test {
 protected:
  sx::testing::TempMachine machine_;
};

std::string enum_key(HKEY key, DWORD index) {
  char name[64];
  DWORD size = sizeof name;
  LONG rc = RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
  return rc == ERROR_SUCCESS ? std::string(name, size) : "<error " + std::to_string(rc) + ">";
}

std::string enum_value(HKEY key, DWORD index) {
  char name[64];
  DWORD size = sizeof name;
  LONG rc = RegEnumValueA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
  return rc == ERROR_SUCCESS ? std::string(name, size) : "<error " + std::to_string(rc) + ">";
}

TEST_F(RegistryApiTest, ValuesOfEveryTypeReadBackFromTheFile) {
  HKEY key = create_key(HKEY_LOCAL_MACHINE, "Software\\Vorlan Software\\Scribbix");
  ASSERT_EQ(set_sz(key, "Path", "C:\\Program Files\\Scribbix"), ERROR_SUCCESS);
  ASSERT_EQ(set_dword(key, "Last", 0x8000002a), ERROR_SUCCESS);
  const BYTE blob[] = {0x00, 0xff, 0x10};
  ASSERT_EQ(RegSetValueExA(key, "Blob", 0, REG_BINARY, blob, 3), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "Expand", 0, REG_EXPAND_SZ,
                           reinterpret_cast<const BYTE*>("%TEMP%\\x"), 9),
            ERROR_SUCCESS);
  ASSERT_EQ(set_sz(key, nullptr, "default"), ERROR_SUCCESS);
  RegCloseKey(key);

  drop_registry_cache();
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Vorlan Software\\Scribbix", 0, KEY_READ, &key),
      ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(query(key, "Path", &type), std::string("C:\\Program Files\\Scribbix\0", 26));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(query(key, "Last", &type), std::string("\x2a\0\0\x80", 4));
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(query(key, "Blob", &type), std::string("\0\xff\x10", 3));
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(query(key, "Expand", &type), std::string("%TEMP%\\x\0", 9));
  EXPECT_EQ(type, REG_EXPAND_SZ);
  EXPECT_EQ(query(key, ""), std::string("default\0", 8));
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, NamesAreCaseInsensitiveAndKeepTheirFirstSpelling) {
  HKEY key = create_key(HKEY_CURRENT_USER, "Software\\M\xFCller Data");  // u umlaut
  ASSERT_EQ(set_sz(key, "ShowProgress", "a"), ERROR_SUCCESS);
  ASSERT_EQ(set_sz(key, "SHOWPROGRESS", "b"), ERROR_SUCCESS);
  RegCloseKey(key);

  HKEY again = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\M\xDCLLER DATA", 0, KEY_READ, &again),
            ERROR_SUCCESS);  // upper-case U umlaut
  EXPECT_EQ(query(again, "showprogress"), std::string("b\0", 2));
  EXPECT_EQ(enum_value(again, 0), "ShowProgress");
  EXPECT_EQ(enum_value(again, 1), "<error 259>");
  RegCloseKey(again);
  HKEY software = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "software", &software), ERROR_SUCCESS);
  EXPECT_EQ(enum_key(software, 0), "M\xFCller Data");
  RegCloseKey(software);
}

TEST_F(RegistryApiTest, SubkeysEnumerateByNameAndValuesInFirstWriteOrder) {
  HKEY key = create_key(HKEY_LOCAL_MACHINE, "Order");
  for (const char* name : {"b", "_x", "C", "a"}) RegCloseKey(create_key(key, name));
  for (const char* name : {"z", "a", "M"}) ASSERT_EQ(set_dword(key, name, 1), ERROR_SUCCESS);
  ASSERT_EQ(set_dword(key, "A", 2), ERROR_SUCCESS);  // rewriting keeps the place

  // Case-insensitive order compares upper case: "_" (0x5F) sorts after the letters.
  EXPECT_EQ(enum_key(key, 0), "a");
  EXPECT_EQ(enum_key(key, 1), "b");
  EXPECT_EQ(enum_key(key, 2), "C");
  EXPECT_EQ(enum_key(key, 3), "_x");
  EXPECT_EQ(enum_key(key, 4), "<error 259>");
  EXPECT_EQ(enum_value(key, 0), "z");
  EXPECT_EQ(enum_value(key, 1), "a");
  EXPECT_EQ(enum_value(key, 2), "M");
  EXPECT_EQ(enum_value(key, 3), "<error 259>");

  drop_registry_cache();  // and the same after the file was read back
  EXPECT_EQ(enum_key(key, 3), "_x");
  EXPECT_EQ(enum_value(key, 0), "z");
  EXPECT_EQ(enum_value(key, 1), "a");
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, QueryReportsTypeAndSizeAndLeavesAShortBufferUntouched) {
  HKEY key = create_key(HKEY_LOCAL_MACHINE, "Sizes");
  ASSERT_EQ(set_sz(key, "Text", "hello"), ERROR_SUCCESS);

  DWORD type = 0xdeadbeef, size = 0xdeadbeef;
  ASSERT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 6u);  // the NUL counts

  BYTE buf[8];
  std::memset(buf, 0xCC, sizeof buf);
  size = 5;
  ASSERT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, buf, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  for (BYTE b : buf) EXPECT_EQ(b, 0xCC);

  size = 6;
  ASSERT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::memcmp(buf, "hello\0", 6), 0);
  EXPECT_EQ(buf[6], 0xCC);

  // A text written without its NUL gets one.
  ASSERT_EQ(RegSetValueExA(key, "NoNul", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3),
            ERROR_SUCCESS);
  EXPECT_EQ(query(key, "NoNul"), std::string("abc\0", 4));

  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, buf, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, EnumValueReportsMoreDataForAShortNameOrDataBuffer) {
  HKEY key = create_key(HKEY_LOCAL_MACHINE, "Enum");
  ASSERT_EQ(set_sz(key, "Test", "value"), ERROR_SUCCESS);
  char name[16];
  BYTE data[16];
  std::memset(name, 0xCC, sizeof name);
  std::memset(data, 0xCC, sizeof data);
  DWORD name_size = 4, data_size = 16, type = 0xdeadbeef;  // "Test" needs 5 with its NUL
  EXPECT_EQ(RegEnumValueA(key, 0, name, &name_size, nullptr, &type, data, &data_size),
            ERROR_MORE_DATA);
  EXPECT_EQ(name_size, 4u);
  EXPECT_EQ(data_size, 6u);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(static_cast<BYTE>(name[0]), 0xCC);
  EXPECT_EQ(data[0], 0xCC);

  name_size = 16;
  data_size = 3;
  EXPECT_EQ(RegEnumValueA(key, 0, name, &name_size, nullptr, &type, data, &data_size),
            ERROR_MORE_DATA);
  EXPECT_EQ(data_size, 6u);
  EXPECT_EQ(static_cast<BYTE>(name[0]), 0xCC);
  EXPECT_EQ(data[0], 0xCC);

  data_size = 16;
  ASSERT_EQ(RegEnumValueA(key, 0, name, &name_size, nullptr, &type, data, &data_size),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "Test");
  EXPECT_EQ(name_size, 4u);
  EXPECT_EQ(data_size, 6u);

  char key_name[4];
  DWORD key_size = sizeof key_name;
  RegCloseKey(create_key(key, "Long"));
  EXPECT_EQ(RegEnumKeyExA(key, 0, key_name, &key_size, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(RegEnumKeyExA(key, 1, key_name, &key_size, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, HandleRightsAreEnforced) {
  RegCloseKey(create_key(HKEY_LOCAL_MACHINE, "Rights\\Existing"));
  HKEY read = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Rights", 0, KEY_READ, &read), ERROR_SUCCESS);
  EXPECT_EQ(set_dword(read, "x", 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(read, "x"), ERROR_ACCESS_DENIED);
  HKEY sub = nullptr;
  EXPECT_EQ(RegCreateKeyExA(read, "New", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(sub, nullptr);
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(read, "Existing", 0, nullptr, 0, KEY_READ, nullptr, &sub, &disposition),
            ERROR_SUCCESS);  // opening what exists needs no right to create
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(sub);
  RegCloseKey(read);

  HKEY write = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Rights", 0, KEY_WRITE, &write), ERROR_SUCCESS);
  EXPECT_EQ(set_dword(write, "x", 1), ERROR_SUCCESS);
  EXPECT_EQ(query(write, "x"), "<error 5>");
  char name[16];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(write, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_ACCESS_DENIED);
  ASSERT_EQ(
      RegCreateKeyExA(write, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, &disposition),
      ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  RegCloseKey(sub);
  RegCloseKey(write);
}

TEST_F(RegistryApiTest, KeyWithSubkeysCannotBeDeleted) {
  RegCloseKey(create_key(HKEY_CURRENT_USER, "Parent\\Child"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Parent"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Parent\\Child"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Parent\\Child"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "PARENT"), ERROR_SUCCESS);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Parent", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);  // a root stays
}

TEST_F(RegistryApiTest, HandleOfADeletedKeyReportsKeyDeleted) {
  HKEY held = create_key(HKEY_CURRENT_USER, "Doomed");
  ASSERT_EQ(set_dword(held, "v", 1), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Doomed"), ERROR_SUCCESS);
  EXPECT_EQ(query(held, "v"), "<error 1018>");
  EXPECT_EQ(set_dword(held, "v", 2), ERROR_KEY_DELETED);
  HKEY sub = nullptr;
  EXPECT_EQ(RegCreateKeyA(held, "Sub", &sub), ERROR_KEY_DELETED);
  // A new key of the same name is another key: the old handle stays dead.
  RegCloseKey(create_key(HKEY_CURRENT_USER, "Doomed"));
  EXPECT_EQ(query(held, "v"), "<error 1018>");
  EXPECT_EQ(RegCloseKey(held), ERROR_SUCCESS);
}

TEST_F(RegistryApiTest, JunkAndClosedHandlesAreInvalid) {
  HKEY key = create_key(HKEY_LOCAL_MACHINE, "Handles");
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  HKEY junk = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x1234567));
  for (HKEY bad : {key, junk, static_cast<HKEY>(nullptr)}) {
    EXPECT_EQ(query(bad, "x"), "<error 6>");
    EXPECT_EQ(set_dword(bad, "x", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(bad), ERROR_INVALID_HANDLE);
    HKEY out = nullptr;
    EXPECT_EQ(RegOpenKeyExA(bad, "x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
  }
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);  // roots close as a no-op
}

TEST_F(RegistryApiTest, PathsAreCheckedAndEmptySubkeysOpenTheKeyItself) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "\\Leading", &key), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "a\\\\b", &key), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, std::string(256, 'k').c_str(), &key),
            ERROR_BAD_PATHNAME);
  key = create_key(HKEY_LOCAL_MACHINE, "Trailing\\");
  HKEY same = nullptr;
  ASSERT_EQ(RegOpenKeyA(key, "", &same), ERROR_SUCCESS);
  EXPECT_EQ(same, key);  // the legacy call hands back the same handle
  ASSERT_EQ(RegOpenKeyExA(key, "", 0, KEY_READ, &same), ERROR_SUCCESS);
  EXPECT_NE(same, key);
  EXPECT_EQ(set_dword(same, "x", 1), ERROR_ACCESS_DENIED);  // the new handle has its own rights
  RegCloseKey(same);
  RegCloseKey(key);
  EXPECT_EQ(query_path(HKEY_LOCAL_MACHINE, "trailing", "x"), "<error 2>");
}

TEST_F(RegistryApiTest, QueryInfoKeyGivesCountsAndLongestLengths) {
  HKEY key = create_key(HKEY_LOCAL_MACHINE, "Info");
  RegCloseKey(create_key(key, "ab"));
  RegCloseKey(create_key(key, "abcd"));
  ASSERT_EQ(set_sz(key, "name", "0123456789"), ERROR_SUCCESS);
  ASSERT_EQ(set_dword(key, "longer name", 1), ERROR_SUCCESS);
  DWORD sub_keys = 0, max_key = 0, values = 0, max_name = 0, max_data = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &sub_keys, &max_key, nullptr, &values,
                             &max_name, &max_data, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(sub_keys, 2u);
  EXPECT_EQ(max_key, 4u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(max_name, 11u);
  EXPECT_EQ(max_data, 11u);
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, DefaultValueIsTheEmptyName) {
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "ScribbixOut.Class1\\CLSID", REG_SZ, "{1234}", 0),
            ERROR_SUCCESS);
  EXPECT_EQ(query_path(HKEY_CLASSES_ROOT, "ScribbixOut.Class1\\CLSID", ""),
            std::string("{1234}\0", 7));
  char buf[16];
  LONG size = sizeof buf;
  ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "ScribbixOut.Class1\\CLSID", buf, &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(buf, "{1234}");
  EXPECT_EQ(size, 7);
  size = sizeof buf;
  ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "ScribbixOut.Class1", buf, &size), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "");  // no default value reads as an empty text
  EXPECT_EQ(size, 1);
  EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Missing", buf, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApiTest, ThreadsUpdatingTheirOwnValuesLoseNothing) {
  constexpr int kThreads = 4, kRounds = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      std::string name = "Counter" + std::to_string(t);
      for (int i = 0; i < kRounds; ++i) {
        HKEY key = nullptr;
        if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "Threads", &key) != ERROR_SUCCESS) return;
        DWORD value = 0, size = 4;
        RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                         &size);
        set_dword(key, name.c_str(), value + 1);
        RegCloseKey(key);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  drop_registry_cache();
  for (int t = 0; t < kThreads; ++t) {
    std::string name = "Counter" + std::to_string(t);
    EXPECT_EQ(query_path(HKEY_LOCAL_MACHINE, "Threads", name.c_str()),
              std::string("\x19\0\0\0", 4));
  }
}

}  // namespace
}  // namespace sx::registry::testing
