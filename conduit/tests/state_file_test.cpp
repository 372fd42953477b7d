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

TEST(DesTest, BlocksCipheredTogetherEqualBlocksCipheredOneByOne) {
  const auto key = des_key_schedule(kStateFileKey);
  std::vector<std::uint8_t> data(8 * 11);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 5);
  const auto plain = data;
  des_ecb_encrypt(key, data.data(), data.size());
  for (std::size_t block = 0; block < 11; ++block) {
    std::uint64_t in = 0, out = 0;
    for (int i = 0; i < 8; ++i) {
      in = (in << 8) | plain[block * 8 + static_cast<std::size_t>(i)];
      out = (out << 8) | data[block * 8 + static_cast<std::size_t>(i)];
    }
    EXPECT_EQ(des_encrypt_block(key, in), out) << block;
  }
  des_ecb_decrypt(key, data.data(), data.size());
  EXPECT_EQ(data, plain);
}

// A state file of three notes as the conduit wrote it before its cipher was rewritten.
const BYTE kEarlierStateFile[] = {
    0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x31, 0x00,
    0x00, 0x00, 0x00, 0x84, 0x00, 0x00, 0x00, 0x00, 0x31, 0x00, 0x00, 0x80, 0x38, 0x00, 0x00, 0x00,
    0x10, 0xB8, 0x02, 0x53, 0x69, 0xCF, 0x4F, 0xB9, 0x53, 0x12, 0xE9, 0x82, 0xFA, 0xF4, 0x2F, 0x7A,
    0x53, 0x12, 0xE9, 0x82, 0xFA, 0xF4, 0x2F, 0x7A, 0xBC, 0x60, 0xA6, 0x3C, 0x7D, 0x66, 0x08, 0x32,
    0xF7, 0x6E, 0x34, 0x38, 0xB1, 0xD9, 0x27, 0x50, 0x7E, 0x9D, 0x12, 0xE9, 0x1B, 0x23, 0xD4, 0x6E,
    0x53, 0x12, 0xE9, 0x82, 0xFA, 0xF4, 0x2F, 0x7A, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x84, 0x00, 0x00, 0x00, 0x00,
    0x1D, 0x00, 0x00, 0x80, 0x20, 0x00, 0x00, 0x00, 0xF2, 0x0D, 0x21, 0x22, 0x43, 0x95, 0xCE, 0x29,
    0x53, 0x12, 0xE9, 0x82, 0xFA, 0xF4, 0x2F, 0x7A, 0x53, 0x12, 0xE9, 0x82, 0xFA, 0xF4, 0x2F, 0x7A,
    0x53, 0x12, 0xE9, 0x82, 0xFA, 0xF4, 0x2F, 0x7A, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x63, 0x00, 0x00, 0x00, 0x00, 0x84, 0x00, 0x00, 0x00, 0x00,
    0x63, 0x00, 0x00, 0x80, 0x68, 0x00, 0x00, 0x00, 0xEC, 0x34, 0xAA, 0xC4, 0xD0, 0x8C, 0x2A, 0xFF,
    0x53, 0x12, 0xE9, 0x82, 0xFA, 0xF4, 0x2F, 0x7A, 0x53, 0x12, 0xE9, 0x82, 0xFA, 0xF4, 0x2F, 0x7A,
    0xCF, 0x52, 0x8D, 0xFE, 0x90, 0x98, 0x1D, 0x7D, 0x77, 0xB5, 0x15, 0x6C, 0x0D, 0x19, 0x51, 0x91,
    0xFE, 0xBD, 0xAF, 0xE8, 0x34, 0x30, 0x62, 0x1B, 0x67, 0xF4, 0x5D, 0x1C, 0x6C, 0xB1, 0x48, 0x52,
    0x47, 0xC1, 0x4E, 0x42, 0x85, 0x35, 0xC8, 0xDE, 0xB0, 0xA4, 0x6B, 0xFA, 0x84, 0xE0, 0x24, 0x39,
    0xE0, 0x2C, 0x3A, 0xF3, 0xB1, 0x8F, 0xB0, 0x8B, 0xF8, 0xDB, 0x92, 0x81, 0xC1, 0x45, 0xC4, 0x36,
    0x4F, 0x6B, 0x44, 0xD8, 0xF9, 0x46, 0xEF, 0x3B, 0x79, 0x47, 0xDF, 0x33, 0x37, 0x4A, 0x09, 0xCC,
};

TEST(StateFileTest, FilesWrittenEarlierReadBackAndWriteTheSameBytes) {
  static_assert(sizeof kEarlierStateFile == 288);
  MemoryDesktop back;
  std::string why;
  ASSERT_EQ(parse_state_bytes(kEarlierStateFile, sizeof kEarlierStateFile, back, &why), 0) << why;
  ASSERT_EQ(back.notes().size(), 3u);
  NoteRecord& first = *back.find(7);
  EXPECT_EQ(first.text(NoteRecord::kText).desktop(), "Shopping\r\nmilk, bread");
  EXPECT_EQ(DWORD{first.info().m_RecId}, 0x100u);
  EXPECT_EQ(back.find(300)->category().value(), 5);
  EXPECT_TRUE(back.find(300)->field(NoteRecord::kText).modified_here);  // its Mod bit
  EXPECT_EQ(back.find(0x12345678)->text(NoteRecord::kText).desktop(),
            "A note of some length to span several blocks of the cipher: 0123456789");
  EXPECT_EQ(back.find(0x12345678)->category().value(), 10);
  const auto again = state_record_bytes(first);
  ASSERT_LE(again.size(), sizeof kEarlierStateFile);
  EXPECT_TRUE(std::equal(again.begin(), again.end(), kEarlierStateFile));
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
    addField(std::make_unique<IntField>(IDS_FIELD_ID, 4));
    addField(std::make_unique<IntField>(IDS_FIELD_RESV1, 4));
    addField(std::make_unique<TextField>(IDS_FIELD_TEXT));
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

TEST(StateFileTest, TheSameNoteIdTwiceKeepsTheFirstRecordAndReadsOn) {
  MemoryDesktop first, second;
  add(first, make_note(4, "first"));
  add(second, make_note(4, "second"));
  add(second, make_note(5, "after"));
  auto bytes = state_file_bytes(first);
  const auto more = state_file_bytes(second);
  bytes.insert(bytes.end(), more.begin(), more.end());
  MemoryDesktop back;
  std::string why;
  std::vector<std::pair<std::int32_t, std::size_t>> duplicates;
  EXPECT_EQ(parse_state_bytes(
                bytes.data(), bytes.size(), back, &why, make_state_note, {},
                [&](std::int32_t id, std::size_t record) { duplicates.emplace_back(id, record); }),
            0)
      << why;
  ASSERT_EQ(back.notes().size(), 2u);
  EXPECT_EQ(back.find(4)->text(NoteRecord::kText).desktop(), "first");
  EXPECT_EQ(back.find(5)->text(NoteRecord::kText).desktop(), "after");
  EXPECT_EQ(duplicates, (std::vector<std::pair<std::int32_t, std::size_t>>{{4, 2}}));
  EXPECT_TRUE(check_state_file_bytes(bytes.data(), bytes.size()));
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
  const std::string own = path_ + ".tmp" + std::to_string(GetCurrentProcessId());
  EXPECT_EQ(GetFileAttributesA(own.c_str()), INVALID_FILE_ATTRIBUTES);
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

TEST_F(StateFileIoTest, TemporariesOfKilledWritersAreRemovedByTheNextWriter) {
  // A writer killed between writing its temporary and renaming it leaves the file closed (the
  // system closes a dead process's handles); a writer at work holds its own open.
  auto make = [](const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    return file;
  };
  CloseHandle(make(path_ + ".tmp"));       // left by an earlier version of the conduit
  CloseHandle(make(path_ + ".tmp48213"));  // left by a killed writer
  HANDLE working = make(path_ + ".tmp777");
  CloseHandle(make("C:\\Palm\\other.VXS.tmp1"));  // another state file's: not ours to judge
  add(desktop_, make_note(1, "one"));
  ASSERT_EQ(write_state_file(path_, desktop_), 0);
  EXPECT_EQ(GetFileAttributesA((path_ + ".tmp").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA((path_ + ".tmp48213").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA((path_ + ".tmp777").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA("C:\\Palm\\other.VXS.tmp1"), INVALID_FILE_ATTRIBUTES);
  const std::string own = path_ + ".tmp" + std::to_string(GetCurrentProcessId());
  EXPECT_EQ(GetFileAttributesA(own.c_str()), INVALID_FILE_ATTRIBUTES);  // renamed into place
  CloseHandle(working);
  MemoryDesktop back;
  ASSERT_EQ(read_state_file(path_, back), 0);
  EXPECT_EQ(back.notes().size(), 1u);
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
  const std::string own = path_ + ".tmp" + std::to_string(GetCurrentProcessId());
  EXPECT_EQ(GetFileAttributesA(own.c_str()), INVALID_FILE_ATTRIBUTES);
  SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
  MemoryDesktop back;
  ASSERT_EQ(read_state_file(path_, back), 0);
  EXPECT_EQ(back.notes().size(), 1u);
}

}  // namespace
}  // namespace sx::conduit::testing
