// Palm database files: the bytes we write, reading them back, and refusing damaged ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "sx/hotsync_pdb.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using sx::hotsync::PdbDatabase;
using sx::hotsync::PdbRecord;

PdbDatabase two_record_database() {
  PdbDatabase db;
  db.name = "ScribbixDB";
  db.version = 2;
  db.created = 0xB6000000;
  db.modified = 0xB6000010;
  db.type = 0x44415441;
  db.creator = 0x56535871;
  db.seed = 0x300;
  db.app_info = std::vector<std::uint8_t>{0xAA, 0xBB, 0xCC};
  db.records.push_back({0x43, 0x123456, {1, 2, 3, 4}});
  db.records.push_back({0x88, 0x000200, {9}});
  return db;
}

std::uint32_t be32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

TEST(PdbFileTest, WrittenLayoutIsTheStandardOne) {
  const auto bytes = sx::hotsync::serialize_pdb(two_record_database());
  // header 78 + 2 entries of 8 + 2 gap bytes = 96; AppInfo 3 bytes; records 4 + 1 bytes.
  ASSERT_EQ(bytes.size(), 96u + 3 + 4 + 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data())), "ScribbixDB");
  EXPECT_EQ(bytes[0x22], 0);
  EXPECT_EQ(bytes[0x23], 2);                      // version
  EXPECT_EQ(be32(bytes, 0x34), 96u);              // AppInfo right after the two gap bytes
  EXPECT_EQ(be32(bytes, 0x38), 0u);               // no SortInfo
  EXPECT_EQ(be32(bytes, 0x3C), 0x44415441u);      // 'DATA'
  EXPECT_EQ(be32(bytes, 0x40), 0x56535871u);      // 'VSXq'
  EXPECT_EQ(be32(bytes, 0x44), 0x300u);           // seed
  EXPECT_EQ(bytes[0x4C] * 256 + bytes[0x4D], 2);  // record count
  EXPECT_EQ(be32(bytes, 78), 99u);                // first record after AppInfo
  EXPECT_EQ(bytes[78 + 4], 0x43);
  EXPECT_EQ(bytes[78 + 5], 0x12);
  EXPECT_EQ(bytes[78 + 6], 0x34);
  EXPECT_EQ(bytes[78 + 7], 0x56);
  EXPECT_EQ(be32(bytes, 86), 103u);
  EXPECT_EQ(bytes[94], 0);
  EXPECT_EQ(bytes[95], 0);
}

TEST(PdbFileTest, ReadingWhatWasWrittenGivesTheSameDatabase) {
  const PdbDatabase db = two_record_database();
  PdbDatabase back;
  std::string why;
  ASSERT_TRUE(sx::hotsync::parse_pdb(sx::hotsync::serialize_pdb(db), &back, &why)) << why;
  EXPECT_EQ(back.name, db.name);
  EXPECT_EQ(back.modified, db.modified);
  EXPECT_EQ(back.seed, db.seed);
  EXPECT_EQ(back.app_info, db.app_info);
  EXPECT_FALSE(back.sort_info.has_value());
  ASSERT_EQ(back.records.size(), 2u);
  EXPECT_EQ(back.records[0].data, (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(back.records[1].attributes, 0x88);
  EXPECT_EQ(back.records[1].unique_id, 0x200u);
}

TEST(PdbFileTest, FileWithoutGapBytesAndWithSortInfoIsRead) {
  // As some other tools write it: no two zero bytes, AppInfo then SortInfo then one record.
  std::vector<std::uint8_t> b(78 + 8, 0);
  std::memcpy(b.data(), "Other", 5);
  b[0x4D] = 1;
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
  };
  put32(0x34, 86);
  put32(0x38, 88);
  put32(78, 89);
  b[78 + 4] = 0x05;
  b[78 + 7] = 7;
  b.insert(b.end(), {0xA1, 0xA2, 0x5B, 'x', 'y'});
  PdbDatabase db;
  std::string why;
  ASSERT_TRUE(sx::hotsync::parse_pdb(b, &db, &why)) << why;
  EXPECT_EQ(db.app_info, (std::vector<std::uint8_t>{0xA1, 0xA2}));
  EXPECT_EQ(db.sort_info, (std::vector<std::uint8_t>{0x5B}));
  ASSERT_EQ(db.records.size(), 1u);
  EXPECT_EQ(db.records[0].data, (std::vector<std::uint8_t>{'x', 'y'}));
}

struct Damage {
  const char* what;
  std::size_t at;  // byte to change (or new size when `truncate`)
  std::uint8_t value;
  bool truncate;
  const char* reason_part;
};

class PdbDamageTest : public ::testing::TestWithParam<Damage> {};

TEST_P(PdbDamageTest, DamagedFileIsRefusedWithAReason) {
  auto bytes = sx::hotsync::serialize_pdb(two_record_database());
  const Damage d = GetParam();
  if (d.truncate) {
    bytes.resize(d.at);
  } else {
    bytes[d.at] = d.value;
  }
  PdbDatabase db;
  db.name = "untouched";
  std::string why;
  EXPECT_FALSE(sx::hotsync::parse_pdb(bytes, &db, &why)) << d.what;
  EXPECT_NE(why.find(d.reason_part), std::string::npos) << why;
  EXPECT_EQ(db.name, "untouched");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PdbDamageTest,
    ::testing::Values(
        Damage{"truncated header", 50, 0, true, "shorter than the 78-byte header"},
        Damage{"record list past the end", 0x4C, 0x10, false, "record list"},
        Damage{"record offset past the end", 78, 0x7F, false, "outside the record data"},
        Damage{"record offset inside the list", 81, 10, false, "outside the record data"},
        Damage{"records out of order", 86 + 3, 96, false, "starts before record"},
        Damage{"AppInfo offset past the end", 0x34, 0x7F, false, "AppInfo offset"},
        Damage{"AppInfo offset inside the list", 0x37, 20, false, "AppInfo offset"},
        Damage{"SortInfo after the records", 0x3B, 104, false, "SortInfo offset"},
        Damage{"resource database", 0x21, 0x01, false, "resource databases"}));

TEST(PdbFileTest, NameWithoutAnEndAndTheSameUniqueIdTwiceAreRefused) {
  auto bytes = sx::hotsync::serialize_pdb(two_record_database());
  PdbDatabase db;
  std::string why;
  auto unnamed = bytes;
  std::fill_n(unnamed.begin(), 32, 'x');
  EXPECT_FALSE(sx::hotsync::parse_pdb(unnamed, &db, &why));
  EXPECT_NE(why.find("name is not ended"), std::string::npos) << why;
  std::copy_n(bytes.begin() + 78 + 5, 3, bytes.begin() + 86 + 5);
  EXPECT_FALSE(sx::hotsync::parse_pdb(bytes, &db, &why));
  EXPECT_NE(why.find("used twice"), std::string::npos) << why;
}

TEST(PdbFileTest, TruncatedRecordDataShortensOnlyTheLastRecordOrIsRefused) {
  auto bytes = sx::hotsync::serialize_pdb(two_record_database());
  bytes.resize(bytes.size() - 1);  // the last record loses its only byte: it is empty now
  PdbDatabase db;
  std::string why;
  ASSERT_TRUE(sx::hotsync::parse_pdb(bytes, &db, &why)) << why;
  EXPECT_TRUE(db.records[1].data.empty());
  bytes.resize(100);  // cuts into the first record: the second starts past the end
  EXPECT_FALSE(sx::hotsync::parse_pdb(bytes, &db, &why));
}

TEST(PdbFileTest, LimitsOfTheFormatAreChecked) {
  PdbDatabase db = two_record_database();
  std::string why;
  EXPECT_TRUE(sx::hotsync::check_pdb_limits(db, &why));
  db.name = std::string(32, 'n');
  EXPECT_FALSE(sx::hotsync::check_pdb_limits(db, &why));
  db = two_record_database();
  db.records[1].unique_id = 0x1000000;
  EXPECT_FALSE(sx::hotsync::check_pdb_limits(db, &why));
  db = two_record_database();
  db.records[1].data.resize(0x10000);
  EXPECT_FALSE(sx::hotsync::check_pdb_limits(db, &why));
}

TEST(PdbFileTest, NewUniqueIdsComeFromTheSeedAndSkipZeroAndUsedOnes) {
  PdbDatabase db = two_record_database();
  db.seed = 0x1FF;
  EXPECT_EQ(db.take_unique_id(), 0x1FFu);
  EXPECT_EQ(db.take_unique_id(), 0x201u);  // 0x200 is in use
  db.seed = 0xFFFFFF;
  EXPECT_EQ(db.take_unique_id(), 0xFFFFFFu);
  EXPECT_EQ(db.take_unique_id(), 1u);  // wraps past 0
}

TEST(PdbFileTest, FuzzTargetSurvivesSeededRandomAndTruncatedInputs) {
  std::mt19937 random(20011);
  const auto good = sx::hotsync::serialize_pdb(two_record_database());
  for (std::size_t n = 0; n <= good.size(); ++n) LLVMFuzzerTestOneInput(good.data(), n);
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::uint8_t> input = good;
    const int flips = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < flips; ++i)
      input[random() % input.size()] = static_cast<std::uint8_t>(random());
    input.resize(random() % (input.size() + 16), static_cast<std::uint8_t>(random()));
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  for (int round = 0; round < 500; ++round) {
    std::vector<std::uint8_t> input(random() % 300);
    for (auto& b : input) b = static_cast<std::uint8_t>(random() % 4 == 0 ? random() : 0);
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
}

}  // namespace
