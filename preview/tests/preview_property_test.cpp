// On random machines (notes on both sides, edits, deletions, archives, categories, conflicts,
// settings and sync types), the preview lists exactly the changes the real HotSync then makes, and
// the machine is not touched by the preview. The suite runs 10 machines, the soak run 200.
#include <random>

#include "preview_fixture.h"
#include "sx/machine.h"
#include "sx/testing/soak.h"

namespace sx::preview {
void PrintTo(const Change& c, std::ostream* os);
}

namespace sx::preview::testing {
namespace {

std::ostream& print(std::ostream& os, const Change& c) {
  os << side_name(c.side) << " " << kind_name(c.kind) << " " << c.id << " \"" << c.title << "\"";
  for (const auto& f : c.fields)
    os << " [" << f.field << ": " << f.before << " -> " << f.after << "]";
  return os;
}

class PreviewProperty : public PreviewTest {
 protected:
  void TestBody() override {}

 public:
  void run(unsigned seed) {
    SetUp();
    if (!HasFatalFailure()) trial(seed);
    TearDown();
  }

 private:
  void trial(unsigned seed) {
    std::mt19937 rng(seed);
    auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
    const char* const categories[] = {"Work", "Home", "Ideas"};
    int made = 0;
    for (int i = 0, n = static_cast<int>(rng() % 6); i < n; ++i) {
      ++made;
      add_handheld("h" + std::to_string(made), 0x5000 + static_cast<std::uint32_t>(made));
    }
    for (int i = 0, n = static_cast<int>(rng() % 6); i < n; ++i) {
      ++made;
      NotesFolder().add(40000 + made, "o" + std::to_string(made),
                        chance(30) ? categories[rng() % 3] : "");
    }
    ASSERT_EQ(hotsync(), 0);  // both sides hold every note now

    const auto ids = handheld_notes();
    for (const auto& [id, text] : ids) {
      const int what = static_cast<int>(rng() % 10);
      if (what == 0) edit_handheld(id, text + " hh" + std::to_string(seed));
      if (what == 1) NotesFolder().change(id, text + " ol" + std::to_string(seed));
      if (what == 2) {  // a conflict
        edit_handheld(id, text + " both-h");
        NotesFolder().change(id, text + " both-o");
      }
      if (what == 3) delete_handheld(id);
      if (what == 4) NotesFolder().remove(id);
      if (what == 5) archive_handheld(id);
      if (what == 6)
        categorise_handheld(id, 1 + static_cast<int>(rng() % 3), categories[rng() % 3]);
    }
    for (int i = 0, n = static_cast<int>(rng() % 3); i < n; ++i) {
      ++made;
      add_handheld("new h" + std::to_string(made), 0x6000 + static_cast<std::uint32_t>(made));
    }
    for (int i = 0, n = static_cast<int>(rng() % 3); i < n; ++i) {
      ++made;
      NotesFolder().add(50000 + made, "new o" + std::to_string(made),
                        chance(50) ? categories[rng() % 3] : "");
    }
    set_setting("ConflictResolution", rng() % 4);
    // Random changes may take most of a side; the question that asks about them is compared on its
    // own (preview_program_test): here the preview's copy and the real HotSync both carry them.
    set_setting("ConfirmMassDeletion", 0);
    const int types[] = {::eFast, ::eSlow, ::eHHtoPC, ::ePCtoHH};
    put_sync_type(chance(60) ? ::eFast : types[rng() % 4]);

    const auto files_before = files_of(root());
    const Preview preview = preview_hotsync(conduit::testing::kUser);
    ASSERT_TRUE(files_of(root()) == files_before) << "the preview changed the machine";

    Snapshot before, after;
    const std::vector<Change> real = real_changes(&before, &after);
    EXPECT_EQ(preview.before, before);
    ASSERT_EQ(preview.changes.size(), real.size());
    for (std::size_t i = 0; i < real.size(); ++i) {
      Change expected = real[i];
      if (expected.new_id && preview.changes[i].new_id) expected.id = preview.changes[i].id;
      EXPECT_EQ(preview.changes[i], expected) << i;
    }
    EXPECT_EQ(preview.categories_to_handheld, new_categories(before.handheld, after.handheld));
    EXPECT_EQ(preview.categories_to_outlook, new_categories(before.outlook, after.outlook));
  }
  std::filesystem::path root() const { return sx::machine::root(); }
};

TEST(PreviewPropertyTest, ThePreviewListsTheChangesTheRealHotSyncMakes) {
  const int machines = sx::testing::trials(10, 200);
  for (int i = 0; i < machines; ++i) {
    SCOPED_TRACE("machine " + std::to_string(i));
    PreviewProperty p;
    p.run(static_cast<unsigned>(1000 + i));
    if (::testing::Test::HasFatalFailure()) break;
  }
}

}  // namespace
}  // namespace sx::preview::testing

void sx::preview::PrintTo(const Change& c, std::ostream* os) { testing::print(*os, c); }
