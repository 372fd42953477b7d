// A store file cut short: at any record boundary or inside a record, its lost end is told, no
// append covers it up, and compaction keeps every whole record before the cut. Files of the first
// format, which record no length, are still read and written.
#include <gtest/gtest.h>

#include <filesystem>

#include "store/record_log.h"
#include "sx/outlook/store.h"
#include "sx/testing/file_bytes.h"
#include "sx/testing/property.h"
#include "sx/testing/temp_machine.h"

namespace sx::outlook {
namespace {

namespace fs = std::filesystem;

using sx::testing::file_bytes;
using sx::testing::write_file_bytes;

std::shared_ptr<Store> create(const fs::path& p) {
  std::string why;
  Store::Options o;
  o.create_if_missing = true;
  auto s = Store::open(p, o, &why);
  EXPECT_TRUE(s) << why;
  return s;
}

ItemData post(const std::string& subject) {
  ItemData d;
  d.set("Subject", Value::text_of(subject));
  return d;
}

// The state a model holds, as bytes: equal for equal folders and items in equal order.
std::string state_of(const StoreModel& model) { return encode_file(model.snapshot()); }

bool end_told(const Store& s) {
  for (const StoreProblem& p : s.problems())
    if (p.at_the_end) return true;
  return false;
}

// One change of an edit script: a new post, a changed post, a deleted post or a new folder.
struct Edit {
  int kind = 0;   // 0 new post, 1 change, 2 delete, 3 new folder
  int which = 0;  // which post or folder it concerns (modulo those there are)
  int size = 0;   // length of the subject
};

// Cuts the file at `cut` and checks what a reader, a writer and a repair make of it; `state` is the
// model's state after the last whole change before the cut (empty when the cut is inside the
// records the file starts with).
void check_cut(const fs::path& file, const std::string& whole, std::size_t cut,
               const std::string& state) {
  const fs::path copy = file.parent_path() / "cut.pst";
  fs::remove(copy);
  for (int n = 1; n <= 3; ++n) fs::remove(copy.string() + ".damaged-" + std::to_string(n));
  write_file_bytes(copy, whole.substr(0, cut));
  std::string why;
  auto s = Store::open(copy, {}, &why);
  if (cut < format::kFileHeaderRecordSize) {
    RC_ASSERT(s == nullptr);  // not even a header is left: not a store
    return;
  }
  RC_ASSERT(s != nullptr);
  RC_ASSERT(end_told(*s));
  if (!state.empty()) RC_ASSERT(state_of(s->model()) == state);
  // No append covers the lost end up.
  std::uint64_t id = 0;
  RC_ASSERT(!s->put_item(&id, format::kRootFolderId, post("over the cut"), &why));
  RC_ASSERT(file_bytes(copy) == whole.substr(0, cut));
  if (state.empty()) return;  // not even the root is whole: nothing to repair into
  // Repair keeps what can be read, and the cut file beside it.
  fs::path kept;
  RC_ASSERT(s->compact(&why, &kept));
  RC_ASSERT(s->problems().empty());
  RC_ASSERT(file_bytes(kept) == whole.substr(0, cut));
  s.reset();
  auto repaired = Store::open(copy, {}, &why);
  RC_ASSERT(repaired != nullptr);
  RC_ASSERT(repaired->problems().empty());
  RC_ASSERT(state_of(repaired->model()) == state);
}

void cut_everywhere() {
  const auto edits = *rc::gen::container<std::vector<Edit>>(
      rc::gen::build<Edit>(rc::gen::set(&Edit::kind, rc::gen::inRange(0, 4)),
                           rc::gen::set(&Edit::which, rc::gen::inRange(0, 50)),
                           rc::gen::set(&Edit::size, rc::gen::inRange(0, 300))));
  sx::testing::TempMachine machine;
  const fs::path file = machine.root() / "notes.pst";
  auto s = create(file);
  RC_ASSERT(s != nullptr);
  // The file's length and the state after each change: a change is one record.
  std::vector<std::pair<std::size_t, std::string>> boundaries = {
      {fs::file_size(file), state_of(s->model())}};
  std::vector<std::uint64_t> posts;
  std::vector<std::uint32_t> folders = {format::kRootFolderId};
  std::string why;
  for (const Edit& e : edits) {
    const std::string subject(static_cast<std::size_t>(e.size), 'a' + e.which % 26);
    const std::uint32_t folder = folders[static_cast<std::size_t>(e.which) % folders.size()];
    if (e.kind == 3) {
      FolderRecord f{
          0,          folder,           "f" + std::to_string(folders.size()), kPostItemType,
          "IPM.Post", FolderRole::kNone};
      RC_ASSERT(s->put_folder(&f, &why));
      folders.push_back(f.id);
    } else if (e.kind == 0 || posts.empty()) {
      std::uint64_t id = 0;
      RC_ASSERT(s->put_item(&id, folder, post(subject), &why));
      posts.push_back(id);
    } else {
      const std::size_t at = static_cast<std::size_t>(e.which) % posts.size();
      std::uint64_t id = posts[at];
      if (e.kind == 1) {
        RC_ASSERT(s->put_item(&id, folder, post(subject), &why));
      } else {
        RC_ASSERT(s->delete_item(id, &why));
        posts.erase(posts.begin() + static_cast<std::ptrdiff_t>(at));
      }
    }
    boundaries.emplace_back(fs::file_size(file), state_of(s->model()));
  }
  s.reset();
  const std::string whole = file_bytes(file);
  // The records every file starts with: inside the header, inside the length, inside the root.
  for (std::size_t cut :
       {std::size_t{0}, std::size_t{20}, format::kFileHeaderRecordSize, format::kFileLengthEnd - 1,
        format::kFileLengthEnd, boundaries.front().first - 1})
    check_cut(file, whole, cut, "");
  // Every change's boundary, and a point inside the record that follows it.
  for (std::size_t k = 0; k + 1 < boundaries.size(); ++k) {
    const auto [at, state] = boundaries[k];
    const std::size_t next = boundaries[k + 1].first;
    check_cut(file, whole, at, state);
    check_cut(file, whole, *rc::gen::inRange(at + 1, next), state);
  }
  // The whole file is sound.
  auto again = Store::open(file, {}, &why);
  RC_ASSERT(again != nullptr);
  RC_ASSERT(again->problems().empty());
  RC_ASSERT(state_of(again->model()) == boundaries.back().second);
}

// The suite runs 20 edit scripts of up to 30 changes, the soak run 300 of up to 100; RC_PARAMS
// chooses others.
TEST(StoreEndProperty, AStoreCutAnywhereIsToldAsDamagedAndRepairKeepsEveryWholeChange) {
  sx::testing::check_property("store end property", {20, 300}, {30, 100}, &cut_everywhere);
}

class StoreEndTest : public ::testing::Test {
 protected:
  fs::path file() { return machine_.root() / "notes.pst"; }
  sx::testing::TempMachine machine_;
};

// Another process's store cut under it: the next read tells the lost end, and nothing is appended.
TEST_F(StoreEndTest, AStoreCutWhileOpenIsToldAtTheNextRead) {
  auto s = create(file());
  std::uint64_t id = 0;
  std::string why;
  ASSERT_TRUE(s->put_item(&id, format::kRootFolderId, post("one"), &why));
  const auto one = fs::file_size(file());
  id = 0;
  ASSERT_TRUE(s->put_item(&id, format::kRootFolderId, post("two"), &why));
  const auto two = fs::file_size(file());
  fs::resize_file(file(), one);
  ASSERT_TRUE(s->refresh(&why)) << why;
  ASSERT_TRUE(end_told(*s));
  EXPECT_EQ(describe_problems(s->problems()),
            std::to_string(two - one) + " bytes at offset " + std::to_string(one) +
                " cannot be read (the file ends there, before the end it recorded)");
  id = 0;
  EXPECT_FALSE(s->put_item(&id, format::kRootFolderId, post("three"), &why));
  EXPECT_NE(why.find("repair the file first"), std::string::npos) << why;
  EXPECT_EQ(fs::file_size(file()), one);
}

TEST_F(StoreEndTest, ADamagedLengthRecordIsDamageAndNoAppendIsMade) {
  create(file()).reset();
  std::string bytes = file_bytes(file());
  bytes[format::kFileLengthOffset + format::kHeaderSize] ^= 0x01;  // the length, not its checksum
  write_file_bytes(file(), bytes);
  std::string why;
  auto s = Store::open(file(), {}, &why);
  ASSERT_TRUE(s) << why;
  ASSERT_FALSE(s->problems().empty());
  EXPECT_EQ(s->problems()[0].offset, format::kFileLengthOffset);
  std::uint64_t id = 0;
  EXPECT_FALSE(s->put_item(&id, format::kRootFolderId, post("one"), &why));
  EXPECT_EQ(file_bytes(file()), bytes);
}

// A file written before stores recorded their length: read as before (its end cannot be checked),
// appended to as before, and given a length record when it is compacted.
TEST_F(StoreEndTest, AFileOfTheFirstFormatIsReadWrittenAndCompactedIntoTheCurrentOne) {
  FolderRecord root{format::kRootFolderId, format::kNoFolder, "Personal Folders",
                    kMailItemType,         "IPM.Note",        FolderRole::kNone};
  const StoreId id_bytes = new_store_id();
  const std::string old = encode_record(FileHeaderRecord{format::kFirstFormatVersion, id_bytes}) +
                          encode_record(root) +
                          encode_record(ItemPutRecord{1, format::kRootFolderId, post("old")});
  write_file_bytes(file(), old);
  std::string why;
  auto s = Store::open(file(), {}, &why);
  ASSERT_TRUE(s) << why;
  EXPECT_TRUE(s->problems().empty());
  EXPECT_EQ(s->model().version(), format::kFirstFormatVersion);
  std::uint64_t id = 0;
  ASSERT_TRUE(s->put_item(&id, format::kRootFolderId, post("new"), &why)) << why;
  EXPECT_EQ(file_bytes(file()).substr(0, old.size()), old);  // appended, nothing rewritten
  ASSERT_TRUE(s->compact(&why)) << why;
  EXPECT_EQ(s->model().version(), format::kFormatVersion);
  EXPECT_EQ(s->model().store_id(), id_bytes);
  s.reset();
  const std::string now = file_bytes(file());
  EXPECT_EQ(recorded_file_length(
                reinterpret_cast<const std::uint8_t*>(now.data()) + format::kFileLengthOffset,
                now.size() - format::kFileLengthOffset),
            now.size());
  auto again = Store::open(file(), {}, &why);
  ASSERT_TRUE(again) << why;
  EXPECT_EQ(again->model().root()->order.size(), 2u);
}

}  // namespace
}  // namespace sx::outlook
