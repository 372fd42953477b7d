// HotSync's users (users.dat, CUserMgr), the install aide and the action dialog.
#include <cstring>
#include <fstream>

#include "hotsync/actiondlg.h"
#include "hotsync/instaide.h"
#include "hotsync/usermgr.h"
#include "hotsync_fixture.h"
#include "sx/window.h"

namespace hotsync_test {
namespace {

class UsersTest : public HotSyncTest {
 protected:
  std::string users_path() const { return sx::hotsync::hotsync_dir() + "\\users.dat"; }
  BOOL load(CUserMgr* users) {
    CFile file;
    if (!file.Open(users_path().c_str(), CFile::modeRead)) return FALSE;
    CArchive archive(&file, CArchive::load, 4096);
    return users->Serialize(archive);
  }
  void write_users_file(const std::string& content) {
    std::ofstream(sx::paths::to_host(users_path()), std::ios::binary | std::ios::trunc) << content;
  }
};

TEST_F(UsersTest, InstallWritesHotSyncKeysAndAddedUsersKeepTheirOrderIdsAndDirectories) {
  EXPECT_EQ(sx::hotsync::hotsync_dir(), "C:\\Program Files\\Palm");
  std::string why;
  ASSERT_TRUE(sx::hotsync::add_user("Test-User", 7, "", &why)) << why;  // same letters: next dir
  EXPECT_FALSE(sx::hotsync::add_user(kUser, 8, "", &why));
  EXPECT_EQ(why, "there is a HotSync user \"Test User\" already");
  CUserMgr users;
  ASSERT_TRUE(load(&users));
  ASSERT_EQ(users.GetUserCount(), 2);
  CUser* first = users.FindFirst();
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->GetName(), kUser);
  EXPECT_EQ(first->GetUserID(), 4242u);
  EXPECT_STREQ(first->GetDirName(), kUserDir);
  CUser* second = users.FindNext();
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(second->GetDirName(), "TestUser2");
  EXPECT_EQ(users.FindNext(), nullptr);
  EXPECT_TRUE(fs::is_directory(sx::paths::to_host(sx::hotsync::hotsync_dir() + "\\TestUser2")));
  sx::hotsync::DeviceInfo device;
  ASSERT_TRUE(sx::hotsync::read_device(sx::hotsync::handheld_dir("TestUser2"), &device, &why));
  EXPECT_EQ(device.user_name, "Test-User");
  EXPECT_EQ(device.last_sync_pc, 0u);
}

TEST_F(UsersTest, DamagedUsersFileLoadsNoUser) {
  for (const char* content :
       {"", "not a user list\r\n", "HotSync users 1\r\n0000000G\tDir\tName\r\n",
        "HotSync users 1\r\n00000001\t\tName\r\n", "HotSync users 1\r\n00000001\tDir\r\n",
        "HotSync users 1\r\n00000001\tDir\tNa",  // cut short inside the last name
        "HotSync users 1", "HotSync users 1\r\n00000001\t..\tName\r\n",
        "HotSync users 1\r\n00000001\t../../out\tName\r\n",
        "HotSync users 1\r\n00000001\ta\\b\tName\r\n",
        "HotSync users 1\r\n00000001\tCON\tName\r\n"}) {
    write_users_file(content);
    CUserMgr users;
    EXPECT_FALSE(load(&users)) << content;
    EXPECT_EQ(users.GetUserCount(), 0);
    EXPECT_EQ(users.FindFirst(), nullptr);
  }
  // A NUL in a name would cut it short where the name is handed out, and it could not be written
  // back: refused like a tab.
  write_users_file(std::string("HotSync users 1\r\n00000001\tDir\tNa\0me\r\n", 37));
  CUserMgr users;
  EXPECT_FALSE(load(&users));
  std::string why;
  EXPECT_FALSE(sx::hotsync::add_user(std::string("Na\0me", 6), 1, "Dir", &why));
}

TEST_F(UsersTest, DirectoriesArePlainFolderNamesThatDifferInMoreThanLetterCase) {
  std::string why;
  EXPECT_FALSE(sx::hotsync::add_user("Twin", 1, "TESTUSER", &why));
  EXPECT_EQ(why,
            "the directory \"TESTUSER\" is the user \"Test User\"'s already (drive C: does "
            "not tell letter case apart)");
  EXPECT_FALSE(sx::hotsync::add_user("Up", 1, "..", &why));
  EXPECT_EQ(why, "the directory \"..\" is not a folder name");
  ASSERT_TRUE(sx::hotsync::add_user("TESTUSER", 2, "", &why)) << why;
  std::vector<sx::hotsync::UserEntry> users;
  ASSERT_TRUE(sx::hotsync::read_users(&users, &why)) << why;
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(users[1].directory, "TESTUSER2");
  CUserMgr manager;
  ASSERT_TRUE(load(&manager));
  EXPECT_FALSE(manager.AddUser("Third", 3, "testuser"));
  EXPECT_FALSE(manager.AddUser("Third", 3, "a/b"));
  EXPECT_TRUE(manager.AddUser("Third", 3, "Third"));
}

TEST_F(UsersTest, ReinstallKeepsADamagedUserListAsideAndStartsAfresh) {
  write_users_file("HotSync users 1\r\n00000001\tDir\tNa");
  std::string why, note;
  sx::hotsync::InstallOptions options;
  ASSERT_TRUE(sx::hotsync::install_hotsync(options, &why, &note)) << why;
  EXPECT_NE(note.find("is damaged (line 2: the file ends inside this line (it was cut short)); it "
                      "is kept as users.dat.damaged-1 and HotSync starts with no users"),
            std::string::npos)
      << note;
  std::ifstream kept(sx::paths::to_host(users_path() + ".damaged-1"), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}),
            "HotSync users 1\r\n00000001\tDir\tNa");
  std::vector<sx::hotsync::UserEntry> users;
  ASSERT_TRUE(sx::hotsync::read_users(&users, &why)) << why;
  EXPECT_TRUE(users.empty());
  ASSERT_TRUE(sx::hotsync::install_hotsync(options, &why, &note)) << why;
  EXPECT_EQ(note, "");  // a good list stays as it is
}

TEST_F(UsersTest, InstallAideReportsUsersWithTheHundredByteConvention) {
  std::string why;
  ASSERT_TRUE(sx::hotsync::add_user("Second", 9, "Sec", &why)) << why;
  HMODULE aide = LoadLibraryA((sx::hotsync::hotsync_dir() + "\\instaide.dll").c_str());
  ASSERT_NE(aide, nullptr);
  auto count =
      reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(aide, "PltGetUserCount")));
  auto get = reinterpret_cast<int (*)(unsigned, char*, short*)>(
      reinterpret_cast<void*>(GetProcAddress(aide, "PltGetUser")));
  ASSERT_NE(count, nullptr);
  ASSERT_NE(get, nullptr);
  EXPECT_EQ(count(), 2);
  char buffer[100];
  std::memset(buffer, 0xCC, sizeof buffer);
  short size = 100;
  EXPECT_EQ(get(1, buffer, &size), 6);
  EXPECT_STREQ(buffer, "Second");
  EXPECT_EQ(size, 6);
  EXPECT_EQ(static_cast<unsigned char>(buffer[7]), 0xCC);
  size = 4;
  std::memset(buffer, 0xCC, sizeof buffer);
  EXPECT_EQ(get(0, buffer, &size), 0);  // "Test User" does not fit in 4 bytes
  EXPECT_EQ(size, 10);
  EXPECT_EQ(static_cast<unsigned char>(buffer[0]), 0xCC);
  size = 100;
  EXPECT_EQ(get(2, buffer, &size), 0);

  auto directory = reinterpret_cast<int (*)(const char*, char*, short*)>(
      reinterpret_cast<void*>(GetProcAddress(aide, "PltGetUserDirectory")));
  ASSERT_NE(directory, nullptr);
  size = 100;
  EXPECT_EQ(directory("Second", buffer, &size), 3);
  EXPECT_STREQ(buffer, "Sec");
  size = 3;
  EXPECT_EQ(directory("Second", buffer, &size), 0);  // no room for the NUL
  EXPECT_EQ(size, 4);
  size = 100;
  EXPECT_EQ(directory("second", buffer, &size), 0);  // names compare exactly
  FreeLibrary(aide);
}

TEST_F(UsersTest, ActionDialogReturnsTheChosenActionAndMakeDefault) {
  sx::window::set_host(sx::window::Host::kScripted);
  sx::window::clear_script();
  InitPdcmn5DLL();
  sx::window::expect_dialog(
      sx::window::DialogMatch::by_id(CHotSyncActionDlg::kDialogId),
      {sx::window::click(CHotSyncActionDlg::kHHOverwritesPC),
       sx::window::check(CHotSyncActionDlg::kMakeDefault), sx::window::click(IDOK)});
  CHotSyncActionDlg dialog;
  dialog.m_csCaption = "Scribbix";
  dialog.m_nActionIndex = CHotSyncActionDlg::ePCOverwritesHH;
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(+dialog.m_nActionIndex, CHotSyncActionDlg::eHHOverwritesPC);
  EXPECT_TRUE(dialog.m_bMakeDefault);
  const auto shown = sx::window::shown();
  ASSERT_EQ(shown.size(), 1u);
  ASSERT_NE(shown[0].control(CHotSyncActionDlg::kDoNothing), nullptr);

  sx::window::expect_dialog(
      sx::window::DialogMatch::by_id(CHotSyncActionDlg::kDialogId),
      {sx::window::click(CHotSyncActionDlg::kDoNothing), sx::window::click(IDCANCEL)});
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(+dialog.m_nActionIndex, CHotSyncActionDlg::eHHOverwritesPC);  // unchanged
  sx::window::clear_script();
}

}  // namespace
}  // namespace hotsync_test
