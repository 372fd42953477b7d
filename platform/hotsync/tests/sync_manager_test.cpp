// The sync manager as a conduit calls it, inside a HotSync session on a temporary machine.
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>
#include <thread>

#include "hotsync/hslog.h"
#include "hotsync/syncmgr.h"
#include "hotsync_fixture.h"

namespace hotsync_test {
namespace {

class SyncManagerTest : public HotSyncTest {
 protected:
  BYTE open(const char* name = "TestDB", BYTE mode = eDbRead | eDbWrite) {
    BYTE handle = 0;
    EXPECT_EQ(SyncOpenDB(name, 0, &handle, mode), SYNCERR_NONE);
    return handle;
  }
  RecordInfoBlock read(BYTE db, WORD index, std::vector<BYTE>* data) {
    data->assign(0x8400, 0xCC);
    RecordInfoBlock rec{};
    rec.m_FileHandle = db;
    rec.m_RecIndex = index;
    rec.m_pBytes = data->data();
    rec.m_TotalBytes = 0x8400;
    EXPECT_EQ(SyncReadRecordByIndex(&rec), SYNCERR_NONE);
    data->resize(rec.m_RecSize);
    return rec;
  }
  std::string log_text() {
    std::ifstream in(machine_.root() / "log.txt");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(SyncManagerTest, EveryCallOutsideAHotSyncReportsNotRegistered) {
  CONDHANDLE handle = 0xdeadbeef;
  EXPECT_EQ(SyncRegisterConduit(&handle), SYNCERR_NOT_REGISTERED);
  EXPECT_EQ(handle, 0xdeadbeefu);
  BYTE db = 0xCC;
  EXPECT_EQ(SyncOpenDB("TestDB", 0, &db, 0xE0), SYNCERR_NOT_REGISTERED);
  EXPECT_EQ(db, 0xCC);
  EXPECT_EQ(LogAddEntry("dropped", slText, FALSE), SYNCERR_NOT_REGISTERED);
  EXPECT_EQ(SyncYieldCycles(1), SYNCERR_NONE);
}

TEST_F(SyncManagerTest, RegistrationHandlesAreNonZeroAndUnregisteringTwiceFails) {
  begin();
  CONDHANDLE a = 0, b = 0;
  ASSERT_EQ(SyncRegisterConduit(&a), SYNCERR_NONE);
  ASSERT_EQ(SyncRegisterConduit(&b), SYNCERR_NONE);
  EXPECT_NE(a, 0u);
  EXPECT_NE(a, b);
  EXPECT_EQ(SyncUnRegisterConduit(a), SYNCERR_NONE);
  EXPECT_EQ(SyncUnRegisterConduit(a), SYNCERR_BAD_ARGUMENT);
}

TEST_F(SyncManagerTest, DatabaseListComesInBatchesByNameUntilNoneIsLeft) {
  put_database(make_database(3, "Beta"));
  put_database(make_database(5, "Alpha"));
  put_database(make_database(0, "Gamma"));
  begin();
  DatabaseListEntry list[2];
  std::memset(list, 0xCC, sizeof list);
  WORD count = 2;
  ASSERT_EQ(SyncReadDBList(0, 0, 1, list, &count), SYNCERR_NONE);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(list[0].m_Info.m_Name, "Alpha");
  EXPECT_EQ(+list[0].m_Info.m_NumRecords, 5);
  EXPECT_EQ(+list[0].m_RecordCount, 5);
  EXPECT_EQ(+list[0].m_Info.m_Creator, kTestCreator);
  EXPECT_EQ(+list[0].m_Info.m_Version, 2);
  EXPECT_EQ(+list[0].m_Info.m_ModDate, 3000000100u);
  EXPECT_EQ(+list[0].m_Info.m_BackupDate, 0u);
  EXPECT_STREQ(list[1].m_Info.m_Name, "Beta");
  count = 2;
  ASSERT_EQ(SyncReadDBList(0, 2, 1, list, &count), SYNCERR_NONE);
  EXPECT_EQ(count, 1);
  EXPECT_STREQ(list[0].m_Info.m_Name, "Gamma");
  EXPECT_EQ(+list[0].m_Info.m_Index, 2);
  count = 2;
  EXPECT_EQ(SyncReadDBList(0, 3, 1, list, &count), SYNCERR_NOT_FOUND);
  EXPECT_EQ(count, 2);
}

TEST_F(SyncManagerTest, OpeningAMissingDatabaseReportsNotFound) {
  begin();
  BYTE db = 0xCC;
  EXPECT_EQ(SyncOpenDB("NoSuchDB", 0, &db, 0xE0), SYNCERR_NOT_FOUND);
  EXPECT_EQ(db, 0xCC);
}

TEST_F(SyncManagerTest, RecordsReadWithIdCategoryAttributesAndArchiveMapping) {
  auto db = make_database(4);
  db.records[1].attributes = 0x40 | 0x10 | 7;     // dirty, private, category 7
  db.records[2].attributes = 0x80 | 0x08 | 0x40;  // deleted, archived, dirty: data kept
  db.records[3].attributes = 0x80;                // deleted, no data
  db.records[3].data = text_bytes("left over");
  put_database(db);
  begin();
  const BYTE h = open();
  WORD count = 0;
  ASSERT_EQ(SyncGetDBRecordCount(h, &count), SYNCERR_NONE);
  EXPECT_EQ(count, 4);
  std::vector<BYTE> data;
  RecordInfoBlock r = read(h, 1, &data);
  EXPECT_EQ(+r.m_RecId, 0x101u);
  EXPECT_EQ(+r.m_Attribs, 0x50);
  EXPECT_EQ(+r.m_CatId, 7);
  EXPECT_EQ(std::string(data.begin(), data.end()), "record 1");
  r = read(h, 2, &data);
  EXPECT_EQ(+r.m_Attribs, eRecAttrArchived | eRecAttrDirty);  // archived, not deleted
  EXPECT_EQ(+r.m_CatId, 0);
  EXPECT_EQ(std::string(data.begin(), data.end()), "record 2");
  r = read(h, 3, &data);
  EXPECT_EQ(+r.m_Attribs, eRecAttrDeleted);
  EXPECT_EQ(+r.m_RecSize, 0u);
  RecordInfoBlock past{};
  past.m_FileHandle = h;
  past.m_RecIndex = 4;
  EXPECT_EQ(SyncReadRecordByIndex(&past), SYNCERR_NOT_FOUND);
}

TEST_F(SyncManagerTest, RecordLargerThanTheBufferIsNotCopiedAtAll) {
  put_database(make_database(1));
  begin();
  const BYTE h = open();
  BYTE buffer[4] = {0xCC, 0xCC, 0xCC, 0xCC};
  RecordInfoBlock rec{};
  rec.m_FileHandle = h;
  rec.m_pBytes = buffer;
  rec.m_TotalBytes = 4;
  rec.m_RecId = 0xdeadbeef;
  EXPECT_EQ(SyncReadRecordByIndex(&rec), SYNCERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(buffer[0], 0xCC);
  EXPECT_EQ(buffer[3], 0xCC);
  EXPECT_EQ(+rec.m_RecId, 0xdeadbeefu);
}

TEST_F(SyncManagerTest, WritesMapArchiveAndDeleteBackToTheFileAndNewIdsComeFromTheSeed) {
  put_database(make_database(3));
  begin();
  const BYTE h = open();
  std::vector<BYTE> text = text_bytes("new");
  RecordInfoBlock rec{};
  rec.m_FileHandle = h;
  rec.m_CatId = 3;
  rec.m_Attribs = eRecAttrSecret | eRecAttrBusy;
  rec.m_pBytes = text.data();
  rec.m_RecSize = 3;
  ASSERT_EQ(SyncWriteRec(&rec), SYNCERR_NONE);
  EXPECT_EQ(+rec.m_RecId, 0x1000u);  // the seed
  rec.m_RecId = 0x100;
  rec.m_Attribs = eRecAttrArchived;
  ASSERT_EQ(SyncWriteRec(&rec), SYNCERR_NONE);
  rec.m_RecId = 0x101;
  rec.m_Attribs = eRecAttrDeleted;
  ASSERT_EQ(SyncWriteRec(&rec), SYNCERR_NONE);
  rec.m_RecId = 0;
  rec.m_Attribs = 0;
  rec.m_CatId = 16;
  EXPECT_EQ(SyncWriteRec(&rec), SYNCERR_BAD_ARGUMENT);
  ASSERT_EQ(SyncCloseDB(h), SYNCERR_NONE);

  const auto back = read_back();
  ASSERT_EQ(back.records.size(), 4u);
  EXPECT_EQ(back.records[0].attributes, 0x80 | 0x08);
  EXPECT_EQ(std::string(back.records[0].data.begin(), back.records[0].data.end()), "new");
  EXPECT_EQ(back.records[1].attributes, 0x80);
  EXPECT_TRUE(back.records[1].data.empty());
  EXPECT_EQ(back.records[3].unique_id, 0x1000u);
  EXPECT_EQ(back.records[3].attributes, 0x10 | 3);  // busy never written
  EXPECT_EQ(back.seed, 0x1001u);
}

TEST_F(SyncManagerTest, DeletePurgeAndResetFlags) {
  auto db = make_database(4);
  db.records[0].attributes = 0x40 | 1;
  db.records[2].attributes = 0x80 | 0x08;
  db.records[3].attributes = 0x80;
  put_database(db);
  begin();
  const BYTE h = open();
  EXPECT_EQ(SyncDeleteRec(h, 0x101), SYNCERR_NONE);
  EXPECT_EQ(SyncDeleteRec(h, 0x101), SYNCERR_NOT_FOUND);
  EXPECT_EQ(SyncPurgeDeletedRecs(h), SYNCERR_NONE);
  EXPECT_EQ(SyncResetSyncFlags(h), SYNCERR_NONE);
  DWORD now = 0;
  ASSERT_EQ(SyncReadSysDateTime(&now), SYNCERR_NONE);
  ASSERT_EQ(SyncCloseDB(h), SYNCERR_NONE);
  const auto back = read_back();
  ASSERT_EQ(back.records.size(), 1u);
  EXPECT_EQ(back.records[0].unique_id, 0x100u);
  EXPECT_EQ(back.records[0].attributes, 1);  // dirty cleared
  EXPECT_EQ(back.backed_up, now);
  EXPECT_EQ(back.modified, now);
  EXPECT_EQ(back.mod_number, 1u);
}

TEST_F(SyncManagerTest, ChangesReachTheFileOnlyWhenTheDatabaseIsClosed) {
  put_database(make_database(2));
  const auto before = sx::hotsync::serialize_pdb(read_back());
  begin();
  const BYTE h = open();
  EXPECT_EQ(SyncDeleteRec(h, 0x100), SYNCERR_NONE);
  EXPECT_EQ(sx::hotsync::serialize_pdb(read_back()), before);
  ASSERT_EQ(SyncCloseDB(h), SYNCERR_NONE);
  EXPECT_EQ(read_back().records.size(), 1u);
  EXPECT_EQ(SyncCloseDB(h), SYNCERR_FILE_NOT_OPEN);
}

TEST_F(SyncManagerTest, ReadOnlyDatabaseRefusesWrites) {
  put_database(make_database(1));
  begin();
  const BYTE h = open("TestDB", eDbRead);
  EXPECT_EQ(SyncDeleteRec(h, 0x100), SYNCERR_READ_ONLY);
  BYTE second = 0;
  EXPECT_EQ(SyncOpenDB("TestDB", 0, &second, eDbRead), SYNCERR_ALREADY_OPEN);
}

TEST_F(SyncManagerTest, CategoryBlockIsNotFoundUntilWrittenAndThenReadBack) {
  put_database(make_database(1));
  begin();
  BYTE h = open();
  std::vector<BYTE> buffer(0xD800, 0xCC);
  DWORD size = static_cast<DWORD>(buffer.size());
  EXPECT_EQ(SyncReadDBAppInfoBlock(h, buffer.data(), &size), SYNCERR_NOT_FOUND);
  std::vector<BYTE> block(296, 0);
  std::strcpy(reinterpret_cast<char*>(&block[2]), "Unfiled");
  ASSERT_EQ(SyncWriteDBAppInfoBlock(h, block.data(), 296), SYNCERR_NONE);
  ASSERT_EQ(SyncCloseDB(h), SYNCERR_NONE);
  h = open();
  DWORD small = 100;
  EXPECT_EQ(SyncReadDBAppInfoBlock(h, buffer.data(), &small), SYNCERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(buffer[0], 0xCC);
  ASSERT_EQ(SyncReadDBAppInfoBlock(h, buffer.data(), &size), SYNCERR_NONE);
  EXPECT_EQ(size, 296u);
  EXPECT_STREQ(reinterpret_cast<char*>(&buffer[2]), "Unfiled");
  EXPECT_EQ(buffer[296], 0xCC);
}

TEST_F(SyncManagerTest, CreatedDatabaseIsWrittenAtCloseWithItsCreatorTypeAndVersion) {
  begin();
  BYTE h = 0;
  ASSERT_EQ(SyncCreateDB(kTestCreator, kData, 0, 0, 2, "Fresh", &h), SYNCERR_NONE);
  BYTE again = 0;
  EXPECT_EQ(SyncCreateDB(kTestCreator, kData, 0, 0, 2, "Fresh", &again), SYNCERR_FILE_EXISTS);
  ASSERT_EQ(SyncCloseDB(h), SYNCERR_NONE);
  const auto back = read_back("Fresh");
  EXPECT_EQ(back.creator, kTestCreator);
  EXPECT_EQ(back.type, kData);
  EXPECT_EQ(back.version, 2);
  EXPECT_TRUE(back.records.empty());
}

TEST_F(SyncManagerTest, UserInformationAndHandheldClockComeFromTheDeviceFile) {
  sx::hotsync::DeviceInfo device;
  std::string why;
  ASSERT_TRUE(sx::hotsync::read_device(handheld(), &device, &why)) << why;
  device.last_sync_pc = 0x1234;
  device.last_sync_time = 3100000000u;
  device.clock_offset = 500;
  ASSERT_TRUE(sx::hotsync::write_device(handheld(), device, &why)) << why;
  begin();
  BYTE raw[sizeof(UserInfoBlock)];
  std::memset(raw, 0xCC, sizeof raw);
  ASSERT_EQ(SyncReadUserID(reinterpret_cast<UserInfoBlock*>(raw)), SYNCERR_NONE);
  DWORD last_sync = 0;
  std::memcpy(&last_sync, raw + 136, 4);
  EXPECT_EQ(last_sync, 3100000000u);
  const auto* info = reinterpret_cast<UserInfoBlock*>(raw);
  EXPECT_STREQ(info->m_UserName, kUser);
  EXPECT_EQ(+info->m_UserId, 4242u);
  EXPECT_EQ(+info->m_LastSyncPC, 0x1234u);
  DWORD now = 0;
  ASSERT_EQ(SyncReadSysDateTime(&now), SYNCERR_NONE);
  EXPECT_EQ(now, sx::hotsync::desktop_palm_now() + 500);
  // 2001-01-01 00:00 UTC (the virtual clock's start) is 3061152000 in Palm seconds, plus the zone.
  EXPECT_EQ(sx::hotsync::palm_time_from_unix_ms(978307200000) -
                sx::hotsync::palm_time_from_unix_ms(978307200000 - 86400000),
            86400u);
}

TEST_F(SyncManagerTest, DeviceFileRefusesADamagedLineAndNamesIt) {
  const fs::path file = handheld() / "device.txt";
  const auto read_text = [&](const std::string& text, sx::hotsync::DeviceInfo* device,
                             std::string* why) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    return sx::hotsync::read_device(handheld(), device, why);
  };
  sx::hotsync::DeviceInfo device;
  std::string why;
  // Windows line ends, comments, hexadecimal numbers and keys of newer versions are all read.
  ASSERT_TRUE(
      read_text("# handheld\r\nuser_id=0x10\r\nfuture=1\r\nclock_offset=-5\r\n"
                "user_name=Ana = Lopez\r\n",
                &device, &why))
      << why;
  EXPECT_EQ(device.user_id, 16u);
  EXPECT_EQ(device.clock_offset, -5);
  EXPECT_EQ(device.user_name, "Ana = Lopez");
  // A number cut short by a NUL used to read as the digits before it, and a name with a CR in it
  // was read but could not be written back.
  for (const std::string& bad :
       {std::string("user_id=1\nlast_sync_pc=12\0junk\n", 31), std::string("user_id=1\nno line\n"),
        std::string("user_id=1\nlast_sync_time=4294967296\n"), std::string("user_id=1\nuser_id=\n"),
        std::string("user_id=1\nuser_name=Ana\rLopez\n")}) {
    why.clear();
    EXPECT_FALSE(read_text(bad, &device, &why));
    EXPECT_NE(why.find("device.txt:2: bad line"), std::string::npos) << why;
  }
}

TEST_F(SyncManagerTest, AppPreferenceIsReadFromTheHandheldsPreferences) {
  fs::create_directories(handheld() / "prefs");
  std::ofstream(handheld() / "prefs" / "56535871-0-u.bin", std::ios::binary) << "pref!";
  begin();
  BYTE buffer[1000];
  std::memset(buffer, 0xCC, sizeof buffer);
  DWORD size = sizeof buffer;
  ASSERT_EQ(SyncReadAppPreference(0x56535871, 0, FALSE, buffer, &size), SYNCERR_NONE);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::memcmp(buffer, "pref!", 5), 0);
  EXPECT_EQ(buffer[5], 0xCC);
  size = sizeof buffer;
  EXPECT_EQ(SyncReadAppPreference(0x56535871, 0, TRUE, buffer, &size), SYNCERR_NOT_FOUND);
}

TEST_F(SyncManagerTest, DamagedDatabaseGivesAnErrorCodeAndOneLogLine) {
  put_database(make_database(2));
  {
    std::fstream f(db_file(), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0x34);
    const char far[4] = {0x7F, 0, 0, 0};  // AppInfo offset past the end
    f.write(far, 4);
  }
  begin();
  BYTE h = 0xCC;
  EXPECT_EQ(SyncOpenDB("TestDB", 0, &h, 0xE0), SYNCERR_DAMAGED_DATABASE);
  EXPECT_EQ(h, 0xCC);
  DatabaseListEntry list[4];
  WORD count = 4;
  EXPECT_EQ(SyncReadDBList(0, 0, 1, list, &count), SYNCERR_NOT_FOUND);  // not listed
  const auto log = sx::hotsync::end_session(true);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("[error] Sync manager: TestDB.pdb is damaged: AppInfo offset"),
            std::string::npos)
      << log[0];
}

TEST_F(SyncManagerTest, InjectedFaultFailsTheNthCallOfTheNamedOperationOnce) {
  put_database(make_database(3));
  begin();
  const BYTE h = open();
  sx::hotsync::inject_fault("SyncReadRecordByIndex", 0x4321, 2);
  std::vector<BYTE> data(100);
  RecordInfoBlock rec{};
  rec.m_FileHandle = h;
  rec.m_pBytes = data.data();
  rec.m_TotalBytes = 100;
  EXPECT_EQ(SyncReadRecordByIndex(&rec), SYNCERR_NONE);
  EXPECT_EQ(SyncReadRecordByIndex(&rec), 0x4321);
  EXPECT_EQ(SyncReadRecordByIndex(&rec), SYNCERR_NONE);
  WORD count = 0;
  EXPECT_EQ(SyncGetDBRecordCount(h, &count), SYNCERR_NONE);
}

TEST_F(SyncManagerTest, LogEntriesShowTheirActivityAndEndTheHotSync) {
  begin();
  EXPECT_EQ(LogAddEntry("", slSyncStarted, FALSE), SYNCERR_NONE);
  EXPECT_EQ(LogAddEntry("two\r\nlines", slText, FALSE), SYNCERR_NONE);
  EXPECT_EQ(LogAddEntry("Failed to read", slWarning, FALSE), SYNCERR_NONE);
  EXPECT_EQ(LogAddEntry("Test", slSyncAborted, FALSE), SYNCERR_NONE);
  EXPECT_EQ(LogAddEntry("Test", slSyncFinished, TRUE), SYNCERR_NONE);
  // The virtual clock starts at 2001-01-01 00:00 UTC; the log shows local time.
  const std::time_t start = 978307200;
  std::tm local{};
  localtime_r(&start, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
  EXPECT_EQ(log_text(), "[start] \r\ntwo  lines\r\n[error] Failed to read\r\n[failed] Test\r\n" +
                            std::string(stamp) + "[finished] Test\r\n");
  EXPECT_EQ(sx::hotsync::end_session(false).size(), 5u);
  EXPECT_FALSE(sx::hotsync::session_active());
}

TEST_F(SyncManagerTest, ConcurrentWritesFromTwoThreadsAreAllKept) {
  put_database(make_database(0));
  begin();
  const BYTE h = open();
  auto writer = [h](char tag) {
    for (int i = 0; i < 200; ++i) {
      BYTE data[2] = {static_cast<BYTE>(tag), static_cast<BYTE>(i)};
      RecordInfoBlock rec{};
      rec.m_FileHandle = h;
      rec.m_pBytes = data;
      rec.m_RecSize = 2;
      if (SyncWriteRec(&rec) != SYNCERR_NONE) return;
      SyncYieldCycles(1);
    }
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  a.join();
  b.join();
  WORD count = 0;
  ASSERT_EQ(SyncGetDBRecordCount(h, &count), SYNCERR_NONE);
  EXPECT_EQ(count, 400);
  ASSERT_EQ(SyncCloseDB(h), SYNCERR_NONE);
  const auto back = read_back();
  std::set<std::uint32_t> ids;
  for (const auto& r : back.records) ids.insert(r.unique_id);
  EXPECT_EQ(ids.size(), 400u);
}

}  // namespace
}  // namespace hotsync_test
