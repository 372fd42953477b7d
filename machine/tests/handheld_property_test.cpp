// Random edits through the handheld's notes application (each its own process: new notes, texts,
// categories and privacy changed, notes deleted and archived, categories made, renamed and
// deleted), then a HotSync: Outlook's notes folder holds exactly the handheld's notes, and both
// hold what the edits meant. So the records the application writes are those the conduit reads as
// the handheld's changes. Each case runs on a copy of one installed machine; a failing case
// shrinks to a short script of edits.
//
// The suite runs 3 cases (each HotSync takes 3 seconds of real time: the conduit waits for
// Outlook's profile prompt), the soak run 40; RC_PARAMS (RapidCheck's own variable) chooses others.
#include <rapidcheck.h>

#include <array>
#include <optional>

#include "handheld_fixture.h"
#include "sx/testing/property.h"
#include "sx/testing/soak.h"

namespace sx::registry::testing {
namespace {

namespace fs = std::filesystem;

enum class Kind {
  kNew,
  kText,
  kCategory,
  kPrivate,
  kDelete,
  kArchive,
  kNewCategory,
  kRename,
  kDeleteCategory
};

struct Edit {
  Kind kind = Kind::kNew;
  int pick = 0;   // which note or category (modulo those there are)
  int other = 0;  // which category a note goes to; whether a new note is private
};

std::ostream& operator<<(std::ostream& os, const Edit& e) {
  static const char* const names[] = {"new",     "text",    "category", "private",   "delete",
                                      "archive", "new-cat", "rename",   "delete-cat"};
  return os << names[static_cast<int>(e.kind)] << "#" << e.pick << "/" << e.other;
}

rc::Gen<Edit> edit() {
  return rc::gen::build<Edit>(
      rc::gen::set(&Edit::kind, rc::gen::weightedElement<Kind>({{4, Kind::kNew},
                                                                {3, Kind::kText},
                                                                {3, Kind::kCategory},
                                                                {2, Kind::kPrivate},
                                                                {2, Kind::kDelete},
                                                                {2, Kind::kArchive},
                                                                {1, Kind::kNewCategory},
                                                                {3, Kind::kRename},
                                                                {1, Kind::kDeleteCategory}})),
      rc::gen::set(&Edit::pick, rc::gen::inRange(0, 100)),
      rc::gen::set(&Edit::other, rc::gen::inRange(0, 100)));
}

// What the edits mean: the live notes by record ID, and the handheld's category names.
struct Model {
  struct Note {
    std::string text;
    int category = 0;
    bool is_private = false;
  };
  std::map<std::string, Note> notes;
  std::array<std::string, 16> categories = {"Unfiled", "Business", "Personal"};
  int made = 0;

  std::vector<int> used_categories() const {
    std::vector<int> out;
    for (int i = 0; i < 16; ++i)
      if (!categories[static_cast<std::size_t>(i)].empty()) out.push_back(i);
    return out;
  }
  std::vector<ShownNote> shown() const {
    std::vector<ShownNote> out;
    for (const auto& [id, n] : notes)
      out.push_back({n.text,
                     n.category == 0 ? "" : categories[static_cast<std::size_t>(n.category)],
                     n.is_private});
    std::sort(out.begin(), out.end());
    return out;
  }
};

class HandheldProperty : public HandheldTest {
 public:
  void TestBody() override {}

  // One case: the installed machine, a few notes and a first HotSync, the edits, a HotSync.
  void run_case(const fs::path& installed, int first_notes, const std::vector<Edit>& edits) {
    fs::copy(installed, machine_.root(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    drop_registry_cache();
    Model model;
    for (int i = 0; i < first_notes; ++i) apply({Kind::kNew, i, i}, model);
    RC_ASSERT(hotsync().exit_code == 0);
    for (const Edit& e : edits) apply(e, model);
    const ToolResult sync = hotsync();
    RC_ASSERT(sync.exit_code == 0);
    RC_ASSERT(handheld_notes() == model.shown());
    RC_ASSERT(outlook_notes() == model.shown());
  }

 private:
  // `sxmachine handheld USER ARGS...`, which must succeed: its output.
  std::string must(std::vector<std::string> args) {
    args.insert(args.begin(), {"--machine", sx::machine::root().string(), "handheld", kUser});
    const ToolResult r = run_program(SXMACHINE_PATH, args);
    RC_ASSERT(r.exit_code == 0);
    return r.output;
  }
  std::string pick_note(const Model& model, int pick) {
    auto it = model.notes.begin();
    std::advance(it, pick % static_cast<int>(model.notes.size()));
    return it->first;
  }
  void apply(const Edit& e, Model& model) {
    const std::vector<int> categories = model.used_categories();
    const int category = categories[static_cast<std::size_t>(e.other) % categories.size()];
    const std::string name = model.categories[static_cast<std::size_t>(category)];
    if (e.kind == Kind::kNew) {
      const std::string text = "note " + std::to_string(++model.made);
      std::vector<std::string> args = {"--text", text, "--category", name};
      if (e.pick % 2 == 1) args.push_back("--private");
      args.insert(args.begin(), "new");
      const std::string said = must(args);
      const auto at = said.find("record ID ") + 10;
      model.notes[said.substr(at, said.find('.', at) - at)] = {text, category, e.pick % 2 == 1};
      return;
    }
    if (e.kind == Kind::kNewCategory || e.kind == Kind::kRename ||
        e.kind == Kind::kDeleteCategory) {
      const int slot = categories[static_cast<std::size_t>(e.pick) % categories.size()];
      const std::string fresh = "Cat " + std::to_string(++model.made);
      if (e.kind == Kind::kNewCategory) {
        if (categories.size() == 16) return;
        must({"categories", "--new", fresh});
        for (auto& c : model.categories) {
          if (!c.empty()) continue;
          c = fresh;
          break;
        }
      } else if (slot != 0 && e.kind == Kind::kRename) {
        must({"categories", "--rename", model.categories[static_cast<std::size_t>(slot)], fresh});
        model.categories[static_cast<std::size_t>(slot)] = fresh;
      } else if (slot != 0) {
        must({"categories", "--delete", model.categories[static_cast<std::size_t>(slot)]});
        model.categories[static_cast<std::size_t>(slot)].clear();
        for (auto& [id, n] : model.notes)
          if (n.category == slot) n.category = 0;
      }
      return;
    }
    if (model.notes.empty()) return;
    const std::string id = pick_note(model, e.pick);
    Model::Note& note = model.notes[id];
    switch (e.kind) {
      case Kind::kText:
        note.text = "note " + std::to_string(++model.made);
        must({"edit", id, "--text", note.text});
        break;
      case Kind::kCategory:
        note.category = category;
        must({"edit", id, "--category", name});
        break;
      case Kind::kPrivate:
        note.is_private = !note.is_private;
        must({"edit", id, "--private", note.is_private ? "on" : "off"});
        break;
      default:
        handheld(e.kind == Kind::kArchive ? std::vector<std::string>{"delete", id, "--archive"}
                                          : std::vector<std::string>{"delete", id});
        model.notes.erase(id);
        break;
    }
  }
};

TEST(HandheldProperty, RandomEditsOnTheHandheldReachOutlookAsTheyWereMeant) {
  // One installed machine, copied for each case.
  sx::testing::TempMachine installed;
  ToolResult r = run_tool({"system", "install", "--user", HandheldTest::kUser});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  // A script may delete most notes at once; the question the conduit then asks is tested on its
  // own (mass_change_test), here the deletions must simply be carried.
  r = run_tool({"reg", "add", "HKCU\\Software\\U.S. Robotics\\Pilot Desktop\\ApplicationVorScrib",
                "/v", "ConfirmMassDeletion", "/t", "REG_DWORD", "/d", "0", "/f"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const fs::path source = installed.root();
  sx::testing::check_property("handheld property", {3, 40}, {100, 100}, [&] {
    // Notes in Unfiled, Business and Personal first, for the categories' edits to meet.
    const int first_notes = *rc::gen::inRange(2, 5);
    // Every case, the first too, gets a script of some length.
    const auto edits = *rc::gen::resize(sx::testing::trials(12, 30),
                                        rc::gen::container<std::vector<Edit>>(edit()));
    HandheldProperty test;
    test.run_case(source, first_notes, edits);
  });
  sx::machine::set_root(source);
}

}  // namespace
}  // namespace sx::registry::testing
