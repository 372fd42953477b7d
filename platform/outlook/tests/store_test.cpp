// Store files: records, torn tails, damage, two writers, compaction, and hostile bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "store/record_log.h"
#include "sx/outlook/store.h"
#include "sx/testing/temp_machine.h"

namespace sx::outlook {
namespace {

class StoreTest : public ::testing::Test {
 protected:
  std::filesystem::path file(const char* name = "s.pst") { return machine_.root() / name; }
  std::shared_ptr<Store> open_new(const std::filesystem::path& p) {
    std::string why;
    Store::Options o;
    o.create_if_missing = true;
    auto s = Store::open(p, o, &why);
    EXPECT_TRUE(s) << why;
    return s;
  }
  static std::uint64_t add_post(Store& s, std::uint32_t folder, const std::string& subject,
                                double key) {
    ItemData d;
    d.set("Subject", Value::text_of(subject));
    d.user_props.push_back({"ScribKey", kUserNumber, Value::number_of(key)});
    std::uint64_t id = 0;
    std::string why;
    EXPECT_TRUE(s.put_item(&id, folder, d, &why)) << why;
    return id;
  }
  static std::string bytes_of(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void write_bytes(const std::filesystem::path& p, const std::string& b) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << b;
  }
  sx::testing::TempMachine machine_;
};

TEST_F(StoreTest, ItemsFoldersAndOrderSurviveReopening) {
  auto s = open_new(file());
  FolderRecord f{0,
                 format::kRootFolderId,
                 "Scribbix",
                 kPostItemType,
                 "IPM.Post.ScribbixPost2",
                 FolderRole::kNone};
  std::string why;
  ASSERT_TRUE(s->put_folder(&f, &why)) << why;
  add_post(*s, f.id, "one", 1);
  const auto two = add_post(*s, f.id, "two", 2);
  add_post(*s, f.id, "three", 3);
  ASSERT_TRUE(s->delete_item(two, &why));
  s.reset();

  auto again = Store::open(file(), {}, &why);
  ASSERT_TRUE(again) << why;
  const FolderState* folder = again->model().folder(f.id);
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->record.name, "Scribbix");
  EXPECT_EQ(folder->record.default_message_class, "IPM.Post.ScribbixPost2");
  ASSERT_EQ(folder->order.size(), 2u);
  EXPECT_EQ(again->model().item(folder->order[0].second)->data->text("Subject"), "one");
  EXPECT_EQ(again->model().item(folder->order[1].second)->data->text("Subject"), "three");
  EXPECT_TRUE(again->problems().empty());
}

// An append that did not finish leaves bytes past the length the file records: half a record, or
// whole records whose length was never recorded. Both read as a clean end and are cut off before
// the next append.
TEST_F(StoreTest, WhatAnUnfinishedAppendLeftIsACleanEndAndIsCutBeforeTheNextAppend) {
  auto s = open_new(file());
  add_post(*s, format::kRootFolderId, "kept", 1);
  s.reset();
  ItemPutRecord unrecorded{99, format::kRootFolderId, {}};
  unrecorded.data.set("Subject", Value::text_of("never recorded"));
  const std::string good = bytes_of(file());
  const std::string record = encode_record(unrecorded);
  for (const std::string& tail : {record, record.substr(0, record.size() / 2)}) {
    write_bytes(file(), good + tail);
    std::string why;
    auto again = Store::open(file(), {}, &why);
    ASSERT_TRUE(again) << why;
    EXPECT_TRUE(again->problems().empty()) << describe_problems(again->problems());
    EXPECT_TRUE(again->torn_tail_dropped());
    EXPECT_EQ(again->model().root()->order.size(), 1u);
    EXPECT_EQ(again->model().item(99), nullptr);
    add_post(*again, format::kRootFolderId, "after", 3);
    again.reset();
    auto third = Store::open(file(), {}, &why);
    ASSERT_TRUE(third);
    EXPECT_TRUE(third->problems().empty());
    EXPECT_FALSE(third->torn_tail_dropped());
    ASSERT_EQ(third->model().root()->order.size(), 2u);
    EXPECT_EQ(third->model().item(third->model().root()->order[1].second)->data->text("Subject"),
              "after");
  }
}

TEST_F(StoreTest, DamageInTheMiddleIsReportedAndTheRestKept) {
  auto s = open_new(file());
  add_post(*s, format::kRootFolderId, "first", 1);
  const std::size_t before = bytes_of(file()).size();
  add_post(*s, format::kRootFolderId, "damaged", 2);
  const std::size_t middle_end = bytes_of(file()).size();
  add_post(*s, format::kRootFolderId, "last", 3);
  s.reset();
  std::string b = bytes_of(file());
  b[(before + middle_end) / 2] ^= 0x5A;  // a byte inside the second item's record
  write_bytes(file(), b);

  std::string why;
  auto again = Store::open(file(), {}, &why);
  ASSERT_TRUE(again) << why;
  ASSERT_EQ(again->problems().size(), 1u);
  EXPECT_EQ(again->problems()[0].offset, before);
  EXPECT_EQ(again->problems()[0].length, middle_end - before);
  EXPECT_EQ(again->problems()[0].reason, "checksum mismatch");
  const auto& order = again->model().root()->order;
  ASSERT_EQ(order.size(), 2u);
  EXPECT_EQ(again->model().item(order[0].second)->data->text("Subject"), "first");
  EXPECT_EQ(again->model().item(order[1].second)->data->text("Subject"), "last");
}

TEST_F(StoreTest, CompactingADamagedStoreKeepsTheWholeOldFileAside) {
  auto s = open_new(file());
  add_post(*s, format::kRootFolderId, "first", 1);
  const std::size_t before = bytes_of(file()).size();
  add_post(*s, format::kRootFolderId, "damaged", 2);
  s.reset();
  std::string b = bytes_of(file());
  b[before + 20] ^= 0x5A;
  write_bytes(file(), b);
  std::filesystem::path kept;
  write_bytes(file().string() + ".damaged-1", "an earlier one");

  std::string why;
  auto damaged = Store::open(file(), {}, &why);
  ASSERT_TRUE(damaged) << why;
  ASSERT_EQ(damaged->problems().size(), 1u);
  EXPECT_EQ(describe_problems(damaged->problems()),
            std::to_string(b.size() - before) + " bytes at offset " + std::to_string(before) +
                " cannot be read (checksum mismatch)");
  ASSERT_TRUE(damaged->compact(&why, &kept)) << why;
  EXPECT_EQ(kept, file().string() + ".damaged-2");
  EXPECT_EQ(bytes_of(kept), b);  // every damaged byte is still there
  EXPECT_TRUE(damaged->problems().empty());
  EXPECT_EQ(damaged->model().root()->order.size(), 1u);
  ASSERT_TRUE(damaged->compact(&why, &kept)) << why;  // a sound store: nothing is kept
  EXPECT_TRUE(kept.empty());
  EXPECT_FALSE(std::filesystem::exists(file().string() + ".damaged-3"));
}

TEST_F(StoreTest, FileWithoutHeaderIsNotAStore) {
  write_bytes(file(), "PK\x03\x04 this is something else");
  std::string why;
  EXPECT_FALSE(Store::open(file(), {}, &why));
  EXPECT_NE(why.find("not a store file"), std::string::npos) << why;
  EXPECT_FALSE(Store::open(file("missing.pst"), {}, &why));
}

TEST_F(StoreTest, TwoOpenersSeeEachOthersItemsAndNeverReuseIds) {
  auto a = open_new(file());
  std::string why;
  auto b = Store::open(file(), {}, &why);
  ASSERT_TRUE(b) << why;
  const auto id_a = add_post(*a, format::kRootFolderId, "from a", 1);
  const auto id_b =
      add_post(*b, format::kRootFolderId, "from b", 2);  // b catches up before writing
  EXPECT_NE(id_a, id_b);
  ASSERT_TRUE(a->refresh(&why)) << why;
  ASSERT_EQ(a->model().root()->order.size(), 2u);
  EXPECT_EQ(a->model().item(id_b)->data->text("Subject"), "from b");
}

// Each opener tells its own writes from the other's: what an open item's save relies on to tell a
// change of its own Outlook from another program's.
TEST_F(StoreTest, AnItemsVersionIsMarkedAsWrittenHereOnlyByTheOpenerThatWroteIt) {
  auto a = open_new(file());
  std::string why;
  auto b = Store::open(file(), {}, &why);
  ASSERT_TRUE(b) << why;
  const auto id = add_post(*a, format::kRootFolderId, "first", 1);
  EXPECT_TRUE(a->model().item(id)->written_here);
  ASSERT_TRUE(b->refresh(&why)) << why;
  EXPECT_FALSE(b->model().item(id)->written_here);
  std::uint64_t same = id;
  ItemData d;
  d.set("Subject", Value::text_of("second"));
  ASSERT_TRUE(b->put_item(&same, format::kRootFolderId, d, &why)) << why;
  EXPECT_TRUE(b->model().item(id)->written_here);
  ASSERT_TRUE(a->refresh(&why)) << why;
  EXPECT_FALSE(a->model().item(id)->written_here);
  EXPECT_EQ(a->model().item(id)->data->text("Subject"), "second");
}

TEST_F(StoreTest, CompactionKeepsLiveStateAndOtherOpenersFollowIt) {
  auto a = open_new(file());
  std::string why;
  auto b = Store::open(file(), {}, &why);
  std::uint64_t keep = 0;
  for (int i = 0; i < 50; ++i) {
    ItemData d;
    d.set("Subject", Value::text_of("v" + std::to_string(i)));
    ASSERT_TRUE(a->put_item(&keep, format::kRootFolderId, d, &why));  // the same item, 50 versions
  }
  const auto size_before = std::filesystem::file_size(file());
  ASSERT_TRUE(a->compact(&why)) << why;
  EXPECT_LT(std::filesystem::file_size(file()), size_before / 10);
  EXPECT_FALSE(std::filesystem::exists(file().string() + ".compacting"));
  add_post(*b, format::kRootFolderId, "after compaction", 7);  // b sees the replaced file
  ASSERT_TRUE(a->refresh(&why));
  EXPECT_EQ(a->model().root()->order.size(), 2u);
  EXPECT_EQ(a->model().item(keep)->data->text("Subject"), "v49");
}

TEST_F(StoreTest, FindUsesTheIndexAndFollowsChanges) {
  auto s = open_new(file());
  std::vector<std::uint64_t> ids;
  for (int i = 0; i < 100; ++i) ids.push_back(add_post(*s, format::kRootFolderId, "p", i));
  std::string why;
  auto filter = parse_filter("[ScribKey] = 42", &why);
  ASSERT_TRUE(filter);
  EXPECT_EQ(s->model().find(format::kRootFolderId, *filter), ids[42]);
  // Change the key of item 42: the index follows the new value.
  ItemData d = *s->model().item(ids[42])->data;
  d.find_user("ScribKey")->value = Value::number_of(1000);
  std::uint64_t id = ids[42];
  ASSERT_TRUE(s->put_item(&id, format::kRootFolderId, d, &why));
  EXPECT_EQ(s->model().find(format::kRootFolderId, *filter), std::nullopt);
  EXPECT_EQ(s->model().find(format::kRootFolderId, *parse_filter("[ScribKey] = 1000", &why)),
            ids[42]);
  ASSERT_TRUE(s->delete_item(ids[42], &why));
  EXPECT_EQ(s->model().find(format::kRootFolderId, *parse_filter("[ScribKey] = 1000", &why)),
            std::nullopt);
}

// The function the fuzz target calls, over seeded random, truncated and bit-flipped inputs: it must
// never crash, and a truncated good file must keep every whole record before the cut and say that
// its end is missing.
TEST_F(StoreTest, ParserSurvivesRandomTruncatedAndFlippedInput) {
  auto s = open_new(file());
  for (int i = 0; i < 20; ++i) add_post(*s, format::kRootFolderId, std::string(i * 7, 'x'), i);
  s.reset();
  const std::string good = bytes_of(file());
  std::mt19937 rng(20010305);
  for (int round = 0; round < 400; ++round) {
    std::string input = good.substr(0, rng() % (good.size() + 1));
    if (round % 2 == 1 && !input.empty())
      for (int k = 0; k < 4; ++k) input[rng() % input.size()] = static_cast<char>(rng());
    if (round % 5 == 4) {
      input.resize(rng() % 512);
      for (char& c : input) c = static_cast<char>(rng());
    }
    StoreModel model;
    ParseReport r = parse_store_bytes(reinterpret_cast<const std::uint8_t*>(input.data()),
                                      input.size(), &model);
    if (round % 2 == 0 && round % 5 != 4 && r.is_store && input.size() < good.size()) {
      ASSERT_EQ(r.problems.size(), 1u) << round;
      EXPECT_TRUE(r.problems[0].at_the_end) << round;
      EXPECT_EQ(r.problems[0].offset + r.problems[0].length, good.size()) << round;
    }
  }
  StoreModel model;
  ParseReport whole =
      parse_store_bytes(reinterpret_cast<const std::uint8_t*>(good.data()), good.size(), &model);
  EXPECT_TRUE(whole.is_store);
  EXPECT_EQ(whole.records, 23u);  // header, file length, root, 20 items
  EXPECT_TRUE(whole.problems.empty());
  EXPECT_FALSE(whole.torn_tail);
}

TEST_F(StoreTest, OversizedLengthsAreDamageNotAllocations) {
  ItemPutRecord r;
  r.id = 1;
  r.folder = 1;
  r.data.set("Subject", Value::text_of("abc"));
  std::string rec = encode_record(r);
  // Claim a 4 GiB text inside an otherwise well-framed payload.
  std::string payload = rec.substr(format::kHeaderSize);
  Record out;
  std::string why;
  std::string bad = payload;
  const std::size_t text_len_at =
      8 + 4 + 4 + 4 + 7;  // id, folder, class, count, name "Subject"+len
  bad[text_len_at - 7 - 4] = '\xff';
  EXPECT_FALSE(decode_payload(format::RecordType::kItemPut,
                              reinterpret_cast<const std::uint8_t*>(bad.data()), bad.size(), &out,
                              &why));
  EXPECT_FALSE(why.empty());
  EXPECT_TRUE(decode_payload(format::RecordType::kItemPut,
                             reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size(),
                             &out, &why))
      << why;
  EXPECT_FALSE(decode_payload(format::RecordType::kItemPut,
                              reinterpret_cast<const std::uint8_t*>(payload.data()),
                              payload.size() - 1, &out, &why));
}

}  // namespace
}  // namespace sx::outlook
