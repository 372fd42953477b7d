// The desktop state file: DES against the published vectors, the record layout byte by byte, round
// trips, and damaged files (cut anywhere, random bytes) that must never crash nor be half read
// silently; the write replaces the old file only when the new one is whole.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "analysis_fixture.h"
#include "des.h"

namespace sx::conduit::testing {
namespace {

TEST(DesTest, MatchesThePublishedVectors) {
  const auto key = des_key_schedule(0x133457799BBCDFF1ull);
  EXPECT_EQ(des_encrypt_block(key, 0x0123456789ABCDEFull), 0x85E813540F0AB405ull);
  EXPECT_EQ(des_decrypt_block(key, 0x85E813540F0AB405ull), 0x0123456789ABCDEFull);

  const auto key2 = des_key_schedule(0x0123456789ABCDEFull);
  std::uint8_t text[25] = "Now is the time for all ";
  des_ecb_encrypt(key2, text, 24);
  const std::uint8_t expected[24] = {0x3F, 0xA4, 0x0E, 0x8A, 0x98, 0x4D, 0x48, 0x15,
                                     0x6A, 0x27, 0x17, 0x87, 0xAB, 0x88, 0x83, 0xF9,
                                     0x89, 0x3D, 0x51, 0xEC, 0x4B, 0x56, 0x3B, 0x53};
  EXPECT_EQ(std::memcmp(text, expected, 24), 0);
  des_ecb_decrypt(key2, text, 24);
  EXPECT_EQ(std::memcmp(text, "Now is the time for all ", 24), 0);
}

TEST(DesTest, ParityBitsOfTheKeyDoNotMatterAndAPartialBlockIsLeftAlone) {
  const auto a = des_key_schedule(0x133457799BBCDFF1ull);
  const auto b = des_key_schedule(0x123456789ABCDEF0ull);  // the same key, parity bits cleared
  EXPECT_EQ(des_encrypt_block(a, 42), des_encrypt_block(b, 42));
  std::uint8_t data[11];
  std::memset(data, 0xCC, sizeof data);
  des_ecb_encrypt(a, data, sizeof data);
  EXPECT_EQ(data[8], 0xCC);
  EXPECT_EQ(data[10], 0xCC);
}

TEST(StateFileTest, PathReplacesTheDesktopFilesExtension) {
  EXPECT_EQ(state_file_path("C:\\Palm\\TestUser\\Scribbix\\",
                            "C:\\Program Files\\Scribbix\\Test User-Scribbix.sxz"),
            "C:\\Palm\\TestUser\\Scribbix\\Test User-Scribbix.VXS");
  EXPECT_EQ(state_file_path("D\\", "a.b.c"), "D\\a.b.VXS");
}

// A record of two 32-bit numbers and a 4-character text: 13 packed bytes.
class SmallRecord : public SyncRecord {
 public:
  SmallRecord() {
    fields_.push_back(std::make_unique<IntField>(IDS_FIELD_ID, 4));
    fields_.push_back(std::make_unique<IntField>(IDS_FIELD_RESV1, 4));
    fields_.push_back(std::make_unique<TextField>(IDS_FIELD_TEXT));
    protect_in_state_file = true;
  }
};

TEST(StateFileTest, ThirteenPackedBytesAreStoredAsSixteenWithReservedWord8000000D) {
  SmallRecord record;
  static_cast<IntField&>(record.field(0)).set(0x0BADF00D);
  static_cast<IntField&>(record.field(1)).set(-5);
  static_cast<TextField&>(record.field(2)).setDesktop("abcd");
  ASSERT_EQ(record.packedSize(), 13u);
  const auto bytes = state_record_bytes(record);
  ASSERT_EQ(bytes.size(), kStateHeaderSize + 16);
  EXPECT_EQ(std::vector<BYTE>(bytes.begin() + 24, bytes.begin() + 32),
            (std::vector<BYTE>{0x0D, 0, 0, 0x80, 16, 0, 0, 0}));
  EXPECT_EQ(DWORD{record.info().m_dwReserved}, 0x8000000Du);

  SmallRecord back;
  std::size_t used = 0;
  std::string why;
  ASSERT_EQ(decode_state_record(bytes.data(), bytes.size(), back, &used, &why), 0) << why;
  EXPECT_EQ(used, bytes.size());
  EXPECT_EQ(DWORD{back.info().m_RecSize}, 13u);
  EXPECT_TRUE(back.field(0).equals(record.field(0)));
  EXPECT_TRUE(back.field(1).equals(record.field(1)));
  EXPECT_EQ(static_cast<TextField&>(back.field(2)).desktop(), "abcd");

  // A reserved word that claims more than L, or a padding of a whole block, is damage.
  auto bad = bytes;
  bad[24] = 17;
  EXPECT_EQ(decode_state_record(bad.data(), bad.size(), back, &used, &why), kStateFileDamaged);
  EXPECT_EQ(why, "enciphered length 16 does not hold 17 bytes");
  bad[24] = 8;
  EXPECT_EQ(decode_state_record(bad.data(), bad.size(), back, &used, &why), kStateFileDamaged);
}

TEST(StateFileTest, NotesRoundTripWithMarksCategoryPrivateAndTheSkippedBits) {
  MemoryDesktop db;
  auto& a = add(db, make_note(7, "first\r\nline two"));
  a.category().set(5);
  a.privateFlag().setBool(true);
  a.date(NoteRecord::kDate).set(45000.5);
  a.setMod(1u << NoteRecord::kText);  // a skipped conflict
  a.protect_in_state_file = true;
  auto& b = add(db, make_note(-3, ""));
  b.protect_in_state_file = false;  // stored in the clear
  add(db, make_note(8, "deleted")).setDeleted(true);
  add(db, make_note(9, "marked")).markForDeletion();
  const auto bytes = state_file_bytes(db);
  MemoryDesktop back;
  std::string why;
  ASSERT_EQ(parse_state_bytes(bytes.data(), bytes.size(), back, &why), 0) << why;
  ASSERT_EQ(back.notes().size(), 2u);
  const NoteRecord& a2 = *back.find(7);
  EXPECT_EQ(a2.text(NoteRecord::kText).desktop(), "first\r\nline two");
  EXPECT_EQ(a2.category().value(), 5);
  EXPECT_TRUE(a2.privateFlag().get());
  EXPECT_TRUE(a2.field(NoteRecord::kDate).equals(a.field(NoteRecord::kDate)));
  EXPECT_TRUE(a2.field(NoteRecord::kText).modified_here);  // the Mod bit came back as a mark
  EXPECT_EQ(a2.modValue(), 0u);
  EXPECT_TRUE(a2.protect_in_state_file);
  EXPECT_EQ(DWORD{a2.info().m_dwReserved}, 0x80000000u + 28 + 15);  // "first\nline two" and its NUL
  EXPECT_EQ(DWORD{back.find(-3)->info().m_dwReserved}, 0u);
}

TEST(StateFileTest, EveryCutOfAFileIsRefusedOrReadsWholeRecordsOnly) {
  MemoryDesktop db;
  for (int i = 0; i < 5; ++i) add(db, make_note(i + 1, "note " + std::to_string(i)));
  const auto bytes = state_file_bytes(db);
  std::vector<std::size_t> boundaries{0};
  for (const auto& [id, note] : db.notes()) {
    boundaries.push_back(boundaries.back() + state_record_bytes(*note).size());
  }
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
    MemoryDesktop back;
    std::string why;
    const long r = parse_state_bytes(bytes.data(), cut, back, &why);
    const auto whole = std::find(boundaries.begin(), boundaries.end(), cut);
    if (whole != boundaries.end()) {
      EXPECT_EQ(r, 0) << cut;
      EXPECT_EQ(back.notes().size(), static_cast<std::size_t>(whole - boundaries.begin()));
    } else {
      EXPECT_EQ(r, kStateFileDamaged) << cut;
      EXPECT_FALSE(why.empty());
      // The notes before the cut are read; the cut one is not inserted.
      const auto before = std::upper_bound(boundaries.begin(), boundaries.end(), cut) - 1;
      EXPECT_EQ(back.notes().size(), static_cast<std::size_t>(before - boundaries.begin()));
    }
  }
}

TEST(StateFileTest, HostileInputNeverCrashes) {
  MemoryDesktop db;
  for (int i = 0; i < 4; ++i)
    add(db, make_note(i + 1, std::string(static_cast<std::size_t>(i * 9), 'x')));
  auto good = state_file_bytes(db);
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::vector<BYTE> bytes = good;
    if (round % 3 == 0) {
      bytes.resize(static_cast<std::size_t>(random() % 200));
      for (auto& b : bytes) b = static_cast<BYTE>(random());
    } else {
      for (int flips = 1 + static_cast<int>(random() % 4); flips > 0; --flips) {
        bytes[random() % bytes.size()] ^= static_cast<BYTE>(1u << (random() % 8));
      }
      if (round % 3 == 2) bytes.resize(random() % (bytes.size() + 1));
    }
    EXPECT_TRUE(check_state_file_bytes(bytes.data(), bytes.size())) << round;
  }
  // Lengths at the edges.
  std::vector<BYTE> huge(32, 0);
  huge[28] = 0xFF, huge[29] = 0xFF, huge[30] = 0xFF, huge[31] = 0xFF;
  MemoryDesktop back;
  std::string why;
  EXPECT_EQ(parse_state_bytes(huge.data(), huge.size(), back, &why), kStateFileDamaged);
  EXPECT_EQ(why, "record 1: length 4294967295 too large");
}

TEST(StateFileTest, TheSameNoteIdTwiceIsDamage) {
  MemoryDesktop db;
  add(db, make_note(4, "x"));
  auto bytes = state_file_bytes(db);
  bytes.insert(bytes.end(), bytes.begin(), bytes.end());
  MemoryDesktop back;
  std::string why;
  EXPECT_EQ(parse_state_bytes(bytes.data(), bytes.size(), back, &why), kStateFileDamaged);
  EXPECT_EQ(why, "record 2: note ID 4 twice");
  EXPECT_EQ(back.notes().size(), 1u);
}

class StateFileIoTest : public AnalysisTest {
 protected:
  std::string path_ = "C:\\Palm\\state.VXS";
  void SetUp() override {
    AnalysisTest::SetUp();
    CreateDirectoryA("C:\\Palm", nullptr);
  }
};

TEST_F(StateFileIoTest, WriteThenReadGivesTheNotesAndTheFilesTime) {
  for (int i = 0; i < 3; ++i) add(desktop_, make_note(i + 1, "n" + std::to_string(i)));
  const auto yields = sx::hotsync::yield_count();
  ASSERT_EQ(write_state_file(path_, desktop_), 0);
  EXPECT_EQ(sx::hotsync::yield_count() - yields, 3u);
  EXPECT_EQ(GetFileAttributesA((path_ + ".tmp").c_str()), INVALID_FILE_ATTRIBUTES);
  MemoryDesktop back;
  ASSERT_EQ(read_state_file(path_, back), 0);
  EXPECT_EQ(back.notes().size(), 3u);
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const auto ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  const auto seconds = static_cast<DWORD>(ticks / 10000000ull - 11644473600ull);
  EXPECT_LE(seconds - back.modification_time, 1u);
  EXPECT_TRUE(log().empty());
}

TEST_F(StateFileIoTest, AMissingFileIsNoErrorAndLeavesTheTimes) {
  MemoryDesktop back;
  back.modification_time = 0xdeadbeef;
  EXPECT_EQ(read_state_file("C:\\Palm\\none.VXS", back), 0);
  EXPECT_EQ(back.modification_time, 0xdeadbeefu);
  EXPECT_TRUE(back.notes().empty());
}

TEST_F(StateFileIoTest, AFileThatIsThereButCannotBeOpenedStopsTheRun) {
  add(desktop_, make_note(1, "one"));
  ASSERT_EQ(write_state_file(path_, desktop_), 0);
  HANDLE held = CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  MemoryDesktop back;
  EXPECT_EQ(read_state_file(path_, back), kStateFileDamaged);
  CloseHandle(held);
  EXPECT_TRUE(back.notes().empty());
  EXPECT_EQ(log(),
            std::vector<std::string>{
                "[error] The desktop state file \"C:\\Palm\\state.VXS\" is damaged (it cannot "
                "be opened, error 32).  Nothing was synchronized; remove or rename the file "
                "to synchronize again."});
}

TEST_F(StateFileIoTest, ACutFileIsRefusedWithALineNamingItAndTheRecord) {
  add(desktop_, make_note(1, "one"));
  add(desktop_, make_note(2, "two"));
  ASSERT_EQ(write_state_file(path_, desktop_), 0);
  const auto host = sx::paths::to_host(path_);
  std::filesystem::resize_file(host, std::filesystem::file_size(host) - 5);
  MemoryDesktop back;
  EXPECT_EQ(read_state_file(path_, back), kStateFileDamaged);
  EXPECT_EQ(back.notes().size(), 1u);
  EXPECT_EQ(log(), std::vector<std::string>{
                       "[error] The desktop state file \"C:\\Palm\\state.VXS\" is damaged "
                       "(record 2: the file ends inside its note).  Nothing was synchronized; "
                       "remove or rename the file to synchronize again."});
}

TEST_F(StateFileIoTest, AFailedWriteKeepsTheOldFileWholeAndIsReported) {
  add(desktop_, make_note(1, "one"));
  ASSERT_EQ(write_state_file(path_, desktop_), 0);
  const auto before = state_file_bytes(desktop_);
  ASSERT_TRUE(SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_READONLY));
  add(desktop_, make_note(2, "two"));
  EXPECT_EQ(write_state_file(path_, desktop_), kStateFileNotWritten);
  const auto lines = log();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("[error] The desktop state file \"C:\\Palm\\state.VXS\" could not be "
                           "written (cannot replace, error 5); the previous one was kept.",
                           0),
            0u)
      << lines[0];
  EXPECT_EQ(GetFileAttributesA((path_ + ".tmp").c_str()), INVALID_FILE_ATTRIBUTES);
  SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
  MemoryDesktop back;
  ASSERT_EQ(read_state_file(path_, back), 0);
  EXPECT_EQ(back.notes().size(), 1u);
}

}  // namespace
}  // namespace sx::conduit::testing
