// Random edits on both sides over many HotSyncs in a row, with random sync types and faults
// injected into two-way HotSyncs (at an Outlook call or a sync manager call): no note that nobody
// deleted is ever lost, and a clean HotSync leaves both sides equal. Each case runs on a machine of
// its own, set up as registration and setup leave it (the progress window on); a failing case
// shrinks to a short script of edits and HotSyncs.
//
// The suite runs 15 cases, the soak run 300 larger ones; RC_PARAMS (RapidCheck's own variable)
// chooses others, e.g. RC_PARAMS="max_success=200".
#include <rapidcheck.h>

#include <cstdio>
#include <optional>
#include <set>

#include "real_outlook_fixture.h"
#include "sx/outlook/faults.h"
#include "sx/testing/property.h"
#include "sx/testing/soak.h"

namespace sx::conduit::testing {
namespace {

enum class Action {
  kAddHandheld,
  kAddOutlook,
  kEditHandheld,
  kEditOutlook,
  kDeleteHandheld,
  kDeleteOutlook,
  kHotSync
};

constexpr const char* kSyncManagerCalls[] = {"SyncReadRecordByIndex", "SyncWriteRec",
                                             "SyncDeleteRec",         "SyncPurgeDeletedRecs",
                                             "SyncResetSyncFlags",    "SyncCloseDB"};

struct Step {
  Action action = Action::kHotSync;
  int pick = 0;                // which note an edit or deletion takes (modulo the candidates)
  int sync_type = 0;           // eFast, eSlow, eHHtoPC, ePCtoHH
  int outlook_fault = 0;       // the n-th Outlook call fails (0: none)
  int sync_manager_fault = 0;  // 1 + index into kSyncManagerCalls (0: none)
  int nth = 1;                 // which call of that sync manager operation fails
};

std::ostream& operator<<(std::ostream& os, const Step& s) {
  static const char* const names[] = {"add-hh", "add-ol", "edit-hh", "edit-ol",
                                      "del-hh", "del-ol", "hotsync"};
  os << names[static_cast<int>(s.action)];
  if (s.action != Action::kHotSync) return os << "#" << s.pick;
  os << " type " << s.sync_type;
  if (s.outlook_fault != 0) os << " outlook-fault " << s.outlook_fault;
  if (s.sync_manager_fault != 0)
    os << " fault " << kSyncManagerCalls[s.sync_manager_fault - 1] << " #" << s.nth;
  return os;
}

rc::Gen<Step> step() {
  using rc::gen::inRange;
  using rc::gen::just;
  const auto edit = rc::gen::build<Step>(
      rc::gen::set(
          &Step::action,
          rc::gen::element(Action::kAddHandheld, Action::kAddOutlook, Action::kEditHandheld,
                           Action::kEditOutlook, Action::kDeleteHandheld, Action::kDeleteOutlook)),
      rc::gen::set(&Step::pick, inRange(0, 1000)));
  const auto two_way = rc::gen::element(::eFast, ::eSlow);
  const auto clean = rc::gen::build<Step>(
      rc::gen::set(&Step::sync_type, rc::gen::element(::eFast, ::eSlow, ::eHHtoPC, ::ePCtoHH)));
  const auto outlook_fault = rc::gen::build<Step>(
      rc::gen::set(&Step::sync_type, two_way), rc::gen::set(&Step::outlook_fault, inRange(1, 160)));
  const auto sync_manager_fault = rc::gen::build<Step>(
      rc::gen::set(&Step::sync_type, two_way),
      rc::gen::set(&Step::sync_manager_fault,
                   inRange(1, static_cast<int>(std::size(kSyncManagerCalls)) + 1)),
      rc::gen::set(&Step::nth, inRange(1, 4)));
  return rc::gen::weightedOneOf<Step>(
      {{12, edit}, {4, clean}, {1, outlook_fault}, {1, sync_manager_fault}});
}

// What the model knows of one note (named by the "n<number>" its every text starts with).
struct ModelNote {
  std::optional<std::string> handheld, outlook;  // its text on each side now
  bool edited_handheld = false, edited_outlook = false, deleted = false;  // since the last check
  std::set<std::string> texts;  // every text it had since the last clean two-way HotSync
  // A note new on the handheld that a failed HotSync had already posted, and that was edited on a
  // side before the next HotSync, comes back as two notes (nothing is lost). The model cannot tell
  // the copies apart: from then on it only checks that one is there, with a text the note had.
  bool copied = false;
};

std::string owner(const std::string& text) { return text.substr(0, text.find(' ')); }

// One case: a machine of its own, the model, and the steps.
class Scenario : public RealOutlookRunTest {
 public:
  // A case against one of the Outlooks people run.
  explicit Scenario(const OutlookKind& kind) { kind_ = kind; }
  void TestBody() override {}
  void run(const std::vector<Step>& steps, int handheld_notes, int outlook_notes) {
    const bool failed_before = HasFailure();
    SetUp();
    struct Down {
      Scenario* s;
      ~Down() {
        sx::outlook::clear_faults();
        sx::hotsync::clear_faults();
        s->TearDown();
      }
    } down{this};
    CASE_CHECK(HasFailure() == failed_before);  // the machine was set up
    set_setting("ConflictResolution", 0);       // both sides changed a text: the desktop's wins
    set_setting("ConfirmMassDeletion", 0);  // scripts delete at will; the question is tested apart
    put_notes(0);                           // the handheld application's database, empty
    for (int i = 0; i < handheld_notes; ++i) add(true);
    for (int i = 0; i < outlook_notes; ++i) add(false);
    hotsync_step(Step{});
    for (const Step& s : steps) {
      ++steps_done_;
      switch (s.action) {
        case Action::kAddHandheld:
          add(true);
          break;
        case Action::kAddOutlook:
          add(false);
          break;
        case Action::kEditHandheld:
          edit(true, s.pick);
          break;
        case Action::kEditOutlook:
          edit(false, s.pick);
          break;
        case Action::kDeleteHandheld:
          remove(true, s.pick);
          break;
        case Action::kDeleteOutlook:
          remove(false, s.pick);
          break;
        case Action::kHotSync:
          hotsync_step(s);
          break;
      }
    }
    hotsync_step(Step{});  // a clean one at the end: the sides must converge
  }

 private:
  // The live notes of each side: (note ID or post key, text); duplicates kept.
  using Side = std::vector<std::pair<std::int32_t, std::string>>;

  void report(const char* condition, int line) {
    std::fprintf(stderr, "sync property: line %d: %s failed after step %d\n", line, condition,
                 steps_done_);
    for (const std::string& l : last_log_) std::fprintf(stderr, "  log: %s\n", l.c_str());
  }

  Side handheld_side() {
    Side out;
    for (const auto& record : read_back(kScribbixDatabase).records) {
      if ((record.attributes & 0x80) != 0) continue;
      NoteRecord note;
      CASE_CHECK(note.unpack(record.data.data(), record.data.size(), nullptr));
      out.emplace_back(note.noteId(), note.text(NoteRecord::kText).desktop());
    }
    return out;
  }
  Side outlook_side() { return NotesFolder().read_all(); }
  static std::multiset<std::string> texts_of(const Side& side) {
    std::multiset<std::string> out;
    for (const auto& [id, text] : side) out.insert(text);
    return out;
  }

  void add(bool on_handheld) {
    const std::string name = "n" + std::to_string(++made_);
    const std::string text = name + (on_handheld ? " h0" : " o0");
    ModelNote& note = notes_[name];
    make_note(on_handheld, made_, text);
    if (on_handheld) {
      note.handheld = text;
      note.edited_handheld = true;
    } else {
      note.outlook = text;
      note.edited_outlook = true;
    }
    note.texts.insert(text);
  }

  // The note an edit or deletion on that side takes: one the side shows under a note ID of its
  // own (a handheld note not synchronised yet has none). Empty when there is none.
  std::optional<std::pair<std::int32_t, std::string>> pick(bool on_handheld, int pick) {
    Side side = on_handheld ? handheld_side() : outlook_side();
    Side candidates;
    std::set<std::int32_t> seen;
    for (const auto& entry : side) {
      if (entry.first != 0 && seen.insert(entry.first).second) candidates.push_back(entry);
    }
    for (const auto& entry : side) {  // an ID twice on one side: leave both alone
      if (std::count_if(side.begin(), side.end(),
                        [&](const auto& e) { return e.first == entry.first; }) > 1) {
        std::erase_if(candidates, [&](const auto& e) { return e.first == entry.first; });
      }
    }
    if (candidates.empty()) return std::nullopt;
    return candidates[static_cast<std::size_t>(pick) % candidates.size()];
  }

  void edit(bool on_handheld, int which) {
    const auto chosen = pick(on_handheld, which);
    if (!chosen) return;
    const std::string name = owner(chosen->second);
    const std::string text = name + (on_handheld ? " h" : " o") + std::to_string(++edits_);
    ModelNote& note = notes_[name];
    if (on_handheld) {
      edit_handheld(chosen->first, text);
      note.handheld = text;
      note.edited_handheld = true;
    } else {
      NotesFolder().change(chosen->first, text);
      note.outlook = text;
      note.edited_outlook = true;
    }
    note.texts.insert(text);
  }

  void remove(bool on_handheld, int which) {
    const auto chosen = pick(on_handheld, which);
    if (!chosen) return;
    ModelNote& note = notes_[owner(chosen->second)];
    if (on_handheld) {
      delete_handheld(chosen->first);
      note.handheld.reset();
    } else {
      NotesFolder().remove(chosen->first);
      note.outlook.reset();
    }
    note.deleted = true;
  }

  void hotsync_step(const Step& s) {
    const std::multiset<std::string> handheld_before = texts_of(handheld_side());
    const std::multiset<std::string> outlook_before = texts_of(outlook_side());
    put_sync_type(s.sync_type);
    int fault = -1;
    if (s.outlook_fault != 0) {
      fault = sx::outlook::inject_fault({.kind = "",
                                         .operation = "*",
                                         .nth = s.outlook_fault,
                                         .hr = E_FAIL,
                                         .description = "injected"});
    }
    if (s.sync_manager_fault != 0) {
      sx::hotsync::inject_fault(kSyncManagerCalls[s.sync_manager_fault - 1], SYNCERR_IO, s.nth);
    }
    const long result = hotsync();
    const bool faulted =
        s.sync_manager_fault != 0 || (fault >= 0 && !sx::outlook::fault_failed_call(fault).empty());
    sx::outlook::clear_faults();
    sx::hotsync::clear_faults();

    const Side handheld = handheld_side(), outlook = outlook_side();
    if (faulted) {
      dirty_ = true;
    } else {
      CASE_CHECK(result == 0L);
      if (s.sync_type == ::eHHtoPC || s.sync_type == ::ePCtoHH) dirty_ = false;  // one side wins
      if (s.sync_type == ::eHHtoPC) {
        CASE_CHECK(texts_of(handheld) == handheld_before);
        CASE_CHECK(texts_of(outlook) == handheld_before);
      } else if (s.sync_type == ::ePCtoHH) {
        CASE_CHECK(texts_of(outlook) == outlook_before);
        CASE_CHECK(texts_of(handheld) == outlook_before);
      } else {
        check_two_way(handheld, outlook);
      }
    }
    rebase(handheld, outlook, faulted);
  }

  // After a clean two-way HotSync: equal sides, and every note where the model expects it.
  void check_two_way(const Side& handheld, const Side& outlook) {
    std::map<std::int32_t, std::string> by_id(handheld.begin(), handheld.end());
    CASE_CHECK(by_id.size() == handheld.size());  // no note ID twice
    const std::map<std::int32_t, std::string> by_key(outlook.begin(), outlook.end());
    CASE_CHECK(by_key == by_id);
    CASE_CHECK(texts_of(outlook) == texts_of(handheld));
    std::map<std::string, std::vector<std::string>> present;
    for (const auto& [id, text] : handheld) {
      CASE_CHECK(id != 0);
      CASE_CHECK(notes_.count(owner(text)) == 1u);  // nothing the model never wrote
      present[owner(text)].push_back(text);
    }
    for (auto& [name, note] : notes_) {
      const std::vector<std::string>& found = present[name];
      if (dirty_ || note.copied) {
        // After a failed HotSync a note may come back twice, or come back after its deletion;
        // it may not be lost, and only its own texts count.
        if (!note.deleted) CASE_CHECK(!found.empty());
        for (const std::string& text : found) CASE_CHECK(note.texts.count(text) == 1u);
        // Made twice only when its text changed on a side after the failure had posted it.
        if (found.size() > 1) CASE_CHECK(note.edited_handheld || note.edited_outlook);
        if (found.size() > 1) note.copied = true;
        continue;
      }
      if (note.deleted) {  // deletion beats a change on the other side
        CASE_CHECK(found.empty());
        continue;
      }
      CASE_CHECK(found.size() == 1u);
      CASE_CHECK(note.outlook || note.handheld);
      const std::string expected =
          note.edited_outlook || !note.handheld ? *note.outlook : *note.handheld;
      CASE_CHECK(found.front() == expected);
    }
    dirty_ = false;
  }

  // The model takes what the sides now hold.
  void rebase(const Side& handheld, const Side& outlook, bool faulted) {
    for (auto& [name, note] : notes_) {
      note.handheld.reset();
      note.outlook.reset();
    }
    std::map<std::string, int> copies;
    for (const auto& [id, text] : handheld) {
      notes_[owner(text)].handheld = text;
      if (++copies[owner(text)] > 1) notes_[owner(text)].copied = true;
    }
    copies.clear();
    for (const auto& [id, text] : outlook) {
      notes_[owner(text)].outlook = text;
      if (++copies[owner(text)] > 1) notes_[owner(text)].copied = true;
    }
    for (auto it = notes_.begin(); it != notes_.end();) {
      ModelNote& note = it->second;
      if (note.handheld) note.texts.insert(*note.handheld);
      if (note.outlook) note.texts.insert(*note.outlook);
      if (faulted || dirty_) {  // the flags and texts count until a clean two-way HotSync
        ++it;
        continue;
      }
      if (!note.handheld && !note.outlook) {
        it = notes_.erase(it);
        continue;
      }
      note.edited_handheld = note.edited_outlook = note.deleted = false;
      if (!note.copied) note.texts.clear();
      if (note.handheld) note.texts.insert(*note.handheld);
      if (note.outlook) note.texts.insert(*note.outlook);
      ++it;
    }
  }

  std::map<std::string, ModelNote> notes_;
  int made_ = 0;
  int edits_ = 0;
  bool dirty_ = false;  // a HotSync failed since the last clean two-way one
  int steps_done_ = 0;
};

TEST(SyncProperty, RandomEditsSyncTypesAndFaultsNeverLoseANoteAndCleanHotSyncsConverge) {
  sx::testing::check_property("sync property", {15, 300}, {30, 60}, [] {
    const auto steps = *rc::gen::container<std::vector<Step>>(step());
    const int handheld = *rc::gen::inRange(0, 4);
    const int outlook = *rc::gen::inRange(0, 4);
    const std::vector<OutlookKind> kinds(std::begin(kOutlookKinds), std::end(kOutlookKinds));
    const auto kind = *rc::gen::elementOf(kinds);
    Scenario(kind).run(steps, handheld, outlook);
  });
}

}  // namespace
}  // namespace sx::conduit::testing
