// Random edits on both sides with what people keep in notes (texts near and over what the handheld
// holds, in CR LF form longer than it, with characters outside the handheld's code page) over
// several HotSyncs: no text is ever shortened or replaced by a copy on the side that wrote it, no
// edit is lost, and where both sides can hold a note whole a HotSync leaves them equal. A failing
// case shrinks to a short script.
//
// The suite runs 6 cases, the soak run 120; RC_PARAMS chooses others.
#include <rapidcheck.h>

#include <cstdio>
#include <map>
#include <optional>
#include <set>

#include "desktop_note_database.h"
#include "real_outlook_fixture.h"
#include "sx/testing/property.h"
#include "sx/testing/soak.h"

namespace sx::conduit::testing {
namespace {

enum class Shape { kShort, kManyLines, kOverTheLimit, kForeign };
enum class Action { kAddHandheld, kAddOutlook, kEditHandheld, kEditOutlook, kHotSync };

struct Step {
  Action action = Action::kHotSync;
  Shape shape = Shape::kShort;
  int pick = 0;
  int size = 0;  // how long a long text is (scaled per shape)
};

std::ostream& operator<<(std::ostream& os, const Step& s) {
  static const char* const actions[] = {"add-hh", "add-ol", "edit-hh", "edit-ol", "hotsync"};
  static const char* const shapes[] = {"short", "lines", "over", "foreign"};
  os << actions[static_cast<int>(s.action)];
  if (s.action == Action::kHotSync) return os;
  return os << " " << shapes[static_cast<int>(s.shape)] << " #" << s.pick << " size " << s.size;
}

rc::Gen<Step> step() {
  return rc::gen::weightedOneOf<Step>(
      {{6, rc::gen::build<Step>(
               rc::gen::set(&Step::action,
                            rc::gen::element(Action::kAddHandheld, Action::kAddOutlook,
                                             Action::kEditHandheld, Action::kEditOutlook)),
               rc::gen::set(&Step::shape, rc::gen::element(Shape::kShort, Shape::kManyLines,
                                                           Shape::kOverTheLimit, Shape::kForeign)),
               rc::gen::set(&Step::pick, rc::gen::inRange(0, 100)),
               rc::gen::set(&Step::size, rc::gen::inRange(0, 100)))},
       {2, rc::gen::just(Step{})}});
}

// A text of a shape: it starts with its unique token ("t12 ") so that its title names it. On the
// handheld only what the handheld can hold is written (texts over its limit and foreign
// characters come from Outlook).
std::u16string text_of(Shape shape, int token, int size, bool handheld) {
  const std::u16string start = u"t" + com::utf8_to_u16(std::to_string(token)) + u" ";
  if (handheld && (shape == Shape::kOverTheLimit || shape == Shape::kForeign))
    shape = Shape::kManyLines;
  switch (shape) {
    case Shape::kShort:
      return start + u"short";
    case Shape::kManyLines: {
      // 10,600 to 10,899 lines of two characters: within the handheld's limit without CRs, beyond
      // it with them.
      std::u16string text = start;
      for (int i = 0; i < 10600 + size * 3; ++i) text += u"..\r\n";
      return text;
    }
    case Shape::kOverTheLimit:
      return start + std::u16string(static_cast<std::size_t>(33000 + size * 70), u'x');
    case Shape::kForeign:
      return start + u"\u03B1 \u2260 \u03A9 \u2192 \u65E5\u672C";
  }
  return start;
}

// What the model expects of a note (by its key): the text its author wrote last, and the side.
struct ModelNote {
  std::u16string text;
  bool by_handheld = false;
};

class TextsScenario : public RealOutlookRunTest {
 public:
  explicit TextsScenario(const OutlookKind& kind) { kind_ = kind; }
  void TestBody() override {}
  void run(const std::vector<Step>& steps) {
    SetUp();
    struct Down {
      TextsScenario* s;
      ~Down() { s->TearDown(); }
    } down{this};
    put_notes(0);
    for (const Step& s : steps) {
      ++steps_done_;
      switch (s.action) {
        case Action::kAddHandheld:
        case Action::kAddOutlook:
          add(s);
          break;
        case Action::kEditHandheld:
        case Action::kEditOutlook:
          edit(s);
          break;
        case Action::kHotSync:
          hotsync_and_check();
          break;
      }
    }
    hotsync_and_check();
  }

 private:
  void report(const char* condition, int line) {
    std::fprintf(stderr, "texts property: line %d: %s failed after step %d\n", line, condition,
                 steps_done_);
    for (const std::string& l : last_log_) std::fprintf(stderr, "  log: %.200s\n", l.c_str());
  }

  void add(const Step& s) {
    const bool handheld = s.action == Action::kAddHandheld;
    const std::u16string text = text_of(s.shape, ++tokens_, s.size, handheld);
    if (handheld) {
      add_handheld(com::u16_to_ansi(text), 0x4000 + static_cast<std::uint32_t>(tokens_));
      unkeyed_.insert(text);
    } else {
      const std::int32_t key = 60000 + tokens_;
      NotesFolder().add(key, "placeholder");
      PersonsFolder().edit(key, text);
      model_[key] = {text, false};
    }
  }

  // Edits a note that is on both sides and that the other side did not edit since the last
  // HotSync (a text changed on both sides is a conflict, which the settings resolve).
  void edit(const Step& s) {
    const bool handheld = s.action == Action::kEditHandheld;
    std::vector<std::int32_t> keys;
    for (const auto& [key, note] : model_) {
      if (on_both_.count(key) && (!edited_.count(key) || edited_.at(key) == handheld))
        keys.push_back(key);
    }
    if (keys.empty()) return;
    const std::int32_t key = keys[static_cast<std::size_t>(s.pick) % keys.size()];
    const std::u16string text = text_of(s.shape, ++tokens_, s.size, handheld);
    edited_[key] = handheld;
    if (handheld) {
      edit_text(key, com::u16_to_ansi(text));
      // A note the handheld holds whole takes the edit in Outlook; one it holds cut or with "?"
      // keeps Outlook's text, and the edit becomes a note of its own.
      if (whole_on_handheld(model_[key].text)) {
        model_[key] = {text, true};
      } else {
        split_[key] = text;  // a second edit before the HotSync replaces the first
      }
    } else {
      PersonsFolder().edit(key, text);
      model_[key] = {text, false};
    }
  }

  static bool whole_on_handheld(const std::u16string& text) {
    const std::string ansi = com::u16_to_ansi(text);
    return com::ansi_to_u16(ansi) == text && cut_for_handheld(ansi) == ansi;
  }
  // What the handheld holds of an Outlook text.
  static std::string held(const std::u16string& text) {
    return cut_for_handheld(com::u16_to_ansi(text));
  }

  void hotsync_and_check() {
    put_sync_type(eSlow);
    CASE_CHECK(hotsync() == 0);
    edited_.clear();
    const Folder handheld = handheld_notes();
    std::map<std::int32_t, std::u16string> outlook;
    {
      PersonsFolder person;
      for (double key : person.keys()) {
        const auto k = static_cast<std::int32_t>(key);
        CASE_CHECK(outlook.count(k) == 0);  // no key held by two posts
        outlook[k] = person.body(key);
      }
    }
    // Notes made or split off on the handheld find their keys by their texts.
    for (const auto& [key, text] : split_) unkeyed_.insert(text);
    split_.clear();
    for (auto it = unkeyed_.begin(); it != unkeyed_.end();) {
      std::optional<std::int32_t> found;
      for (const auto& [key, text] : outlook) {
        if (text == *it && !model_.count(key)) found = key;
      }
      CASE_CHECK(found.has_value());  // no edit of the handheld is lost
      model_[*found] = {*it, true};
      it = unkeyed_.erase(it);
    }
    for (const auto& [key, note] : model_) {
      // Outlook holds what its author wrote last, whole: never a cut or a "?" copy of it.
      CASE_CHECK(outlook.count(key) == 1);
      CASE_CHECK(outlook.at(key) == note.text);
      // The handheld holds the note, whole where it can.
      CASE_CHECK(handheld.count(key) == 1);
      CASE_CHECK(handheld.at(key) == held(note.text));
    }
    CASE_CHECK(outlook.size() == model_.size());
    CASE_CHECK(handheld.size() == model_.size());
    on_both_.clear();
    for (const auto& [key, note] : model_) on_both_.insert(key);
  }

  std::map<std::int32_t, ModelNote> model_;
  std::set<std::u16string> unkeyed_;              // handheld texts whose key the next HotSync gives
  std::map<std::int32_t, std::u16string> split_;  // edits of notes the handheld holds in part
  std::map<std::int32_t, bool> edited_;           // key -> edited on the handheld (since the last)
  std::set<std::int32_t> on_both_;                // keys on both sides after the last HotSync
  int tokens_ = 0;
  int steps_done_ = 0;
};

TEST(TextsProperty, LongAndForeignTextsAreNeverCutOrLostAndCleanHotSyncsConverge) {
  sx::testing::check_property("texts property", {6, 120}, {12, 30}, [] {
    const auto steps = *rc::gen::container<std::vector<Step>>(step());
    const std::vector<OutlookKind> kinds(std::begin(kOutlookKinds), std::end(kOutlookKinds));
    TextsScenario(*rc::gen::elementOf(kinds)).run(steps);
  });
}

}  // namespace
}  // namespace sx::conduit::testing
