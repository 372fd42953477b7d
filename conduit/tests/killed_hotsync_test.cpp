// HotSyncs killed at random moments: HotSync Manager (the real program, a process of its own per
// trial) dies by SIGKILL while the conduit reads, while it writes posts, while the state file is
// written or while the handheld database commits. A clean HotSync afterwards must lose no note,
// duplicate none and leave both sides equal. Each trial is a machine of its own, set up as
// registration leaves it (the progress window on), with notes made through the real paths and
// random edits on both sides before the killed HotSync.
//
// Some trials run on a machine with one Outlook process: the HotSyncs reach OUTLOOK.EXE, which
// the first of them starts and which inherits the kill point, so the process that dies may be
// Outlook instead of HotSync Manager; the clean HotSync afterwards must lose nothing either way.
//
// The suite runs 10 trials, the soak run 100; SX_KILL_TRIAL=<n> runs trial n alone.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <sstream>

#include "com/guid.h"
#include "real_outlook_fixture.h"
#include "sx/testing/soak.h"

namespace sx::conduit::testing {
namespace {

// Where a trial's HotSync dies: a kill point of the stand-ins (sx/kill_point.h) and the highest
// passage to choose from.
struct KillPoint {
  const char* point;
  int most;
  const char* moment;
};

constexpr KillPoint kKillPoints[] = {
    {"SyncReadRecordByIndex", 5, "reading the handheld"},
    {"outlook-call", 110, "a call on Outlook: starting it, reading posts, writing them"},
    {"LogAddEntry", 11, "a line of the HotSync log, from the start to the end"},
    {"store-append", 2, "writing posts"},
    {"store-append-torn", 2, "half-way through writing a post"},
    {"store-commit", 2, "a post written, its store's new length not yet recorded"},
    {"WriteFile", 1, "writing the state file"},
    {"WriteFile-torn", 1, "half-way through writing the state file"},
    {"MoveFile", 1, "moving the state file into place"},
    {"SyncWriteRec", 2, "writing handheld records"},
    {"SyncDeleteRec", 1, "deleting handheld records"},
    {"SyncPurgeDeletedRecs", 1, "purging the handheld's deleted records"},
    {"SyncResetSyncFlags", 1, "resetting the handheld's sync flags"},
    {"SyncCloseDB", 1, "committing the handheld database"},
    {"handheld-rename", 2, "moving the committed handheld database into place"},
    {"registry-save", 1, "writing the registry (the key counter)"},
};

// What the test knows of a note: its text now on each side; what a clean HotSync must leave.
struct Note {
  std::optional<std::string> handheld, outlook;
  bool edited_handheld = false, edited_outlook = false, deleted = false;
};

std::string owner(const std::string& text) { return text.substr(0, text.find(' ')); }

class Trial : public RealOutlookRunTest {
 public:
  // A trial against one of the Outlooks people run.
  Trial(unsigned seed, const OutlookKind& kind, bool one_outlook_process)
      : random_(seed), seed_(seed), one_outlook_process_(one_outlook_process) {
    kind_ = kind;
  }
  void TestBody() override {}

  // One trial; false when it failed (the failure is already reported).
  bool run() {
    const int failures_before = failures();
    SetUp();
    if (failures() != failures_before) return false;
    struct Down {
      Trial* t;
      ~Down() { t->TearDown(); }
    } down{this};
    if (one_outlook_process_) {
      std::string why;
      if (!sx::outlook::set_outlook_process(true, SX_OUTLOOK_PROGRAM, &why)) return failed(why);
    }
    set_setting("ConflictResolution", 0);   // both sides changed a text: the desktop's wins
    set_setting("ConfirmMassDeletion", 0);  // scripts delete at will; the question is tested apart
    put_notes(0);
    for (int i = pick(1, 4); i > 0; --i) add(true);
    for (int i = pick(1, 4); i > 0; --i) add(false);
    if (hotsync() != 0) return failed("the first HotSync failed");
    settle();
    edit_both_sides();

    const KillPoint& kill = kKillPoints[pick(0, static_cast<int>(std::size(kKillPoints)) - 1)];
    const int nth = pick(1, kill.most);
    where_ = std::string(kill.point) + ":" + std::to_string(nth) + " (" + kill.moment + ")";
    const int status = killed_hotsync(where_.substr(0, where_.find(' ')));
    killed_ = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    // Outlook's process, which the HotSync started, died at the point instead.
    outlook_killed_ = !killed_ && one_outlook_process_ && outlook_died();
    killed_ = killed_ || outlook_killed_;
    if (std::getenv("SX_KILL_VERBOSE") != nullptr)
      std::fprintf(stderr, "%s\n%s\n", context().c_str(), child_output().c_str());
    if (!killed_ && !WIFEXITED(status)) return failed("HotSync Manager ended otherwise");
    // The HotSync that lost its Outlook ends by itself: the conduit failed with 4101.
    if (outlook_killed_) {
      EXPECT_TRUE(WIFEXITED(status)) << context();
      EXPECT_NE(child_output().find("failed (0x1005"), std::string::npos)
          << context() << "\n" << child_output();
    }

    // Nothing of the dead process holds the machine: no Outlook, no progress window. Outlook's own
    // process ends when it finds its client gone.
    EXPECT_TRUE(no_outlook_left()) << context();
    if (hotsync() != 0) return failed("the clean HotSync after the kill failed");
    check_equal_sides();
    if (hotsync() != 0) return failed("a second clean HotSync failed");
    check_equal_sides();  // and stable
    return failures() == failures_before;
  }
  bool killed() const { return killed_; }

 private:
  using Side = std::vector<std::pair<std::int32_t, std::string>>;

  static int failures() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
  }
  int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  std::string context() const {
    std::ostringstream out;
    out << "trial seed " << seed_ << " (" << kind_.name
        << (one_outlook_process_ ? ", one Outlook process" : "") << "), killed at " << where_
        << (outlook_killed_ ? " in Outlook's process"
            : killed_       ? ""
                            : " (not reached)");
    return out.str();
  }
  bool failed(const std::string& what) {
    std::ostringstream out;
    for (const std::string& l : last_log_) out << "\n  log: " << l;
    ADD_FAILURE() << what << "; " << context() << out.str() << "\nHotSync Manager printed:\n"
                  << child_output();
    return false;
  }

  // The pid of the Outlook process registered for the machine; 0 when none is.
  long registered_outlook() const {
    std::ifstream in(machine_.root() / "com" / "classes" /
                     sx::com::format_guid(CLSID_OutlookApplication));
    long pid = 0;
    return in >> pid ? pid : 0;
  }
  // Outlook's process was killed: its registration outlived it.
  bool outlook_died() const {
    const long pid = registered_outlook();
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
  }
  // No Outlook main window on the machine, within 20 s of real time for an Outlook process to find
  // its client gone.
  bool no_outlook_left() const {
    for (int i = 0; i < 2000; ++i) {
      if (FindWindowA("OutlookMainWindow", nullptr) == nullptr) return true;
      if (!one_outlook_process_) return false;
      ::usleep(10000);
    }
    return false;
  }

  // What the killed HotSync Manager printed.
  std::string child_output() const {
    std::ifstream in(machine_.root() / "killed-hotsync.txt");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  Side handheld_side() {
    Side out;
    for (const auto& record : read_back(kScribbixDatabase).records) {
      if ((record.attributes & 0x80) != 0) continue;
      NoteRecord note;
      EXPECT_TRUE(note.unpack(record.data.data(), record.data.size(), nullptr)) << context();
      out.emplace_back(note.noteId(), note.text(NoteRecord::kText).desktop());
    }
    return out;
  }

  void add(bool on_handheld) {
    const std::string name = "n" + std::to_string(++made_);
    const std::string text = name + (on_handheld ? " made on the handheld" : " made in Outlook");
    Note& note = notes_[name];
    make_note(on_handheld, made_, text);
    if (on_handheld) {
      note.handheld = text;
      note.edited_handheld = true;
    } else {
      note.outlook = text;
      note.edited_outlook = true;
    }
  }

  // After a clean HotSync: the notes as both sides hold them, nothing pending.
  void settle() {
    for (auto& [name, note] : notes_) {
      note = Note{};
    }
    for (const auto& [id, text] : handheld_side()) notes_[owner(text)].handheld = text;
    for (const auto& [id, text] : NotesFolder().read_all()) notes_[owner(text)].outlook = text;
    std::erase_if(notes_, [](const auto& entry) { return !entry.second.handheld; });
  }

  // Random additions, edits and deletions on both sides (a note may be edited on both, or edited
  // on one side and deleted on the other).
  void edit_both_sides() {
    std::vector<std::pair<std::int32_t, std::string>> synced = handheld_side();
    for (int i = pick(0, 2); i > 0; --i) add(true);
    for (int i = pick(0, 2); i > 0; --i) add(false);
    for (const auto& [id, text] : synced) {
      Note& note = notes_[owner(text)];
      const std::string name = owner(text);
      switch (pick(0, 7)) {
        case 0:
          edit_handheld(id, name + " edited on the handheld");
          note.edited_handheld = true;
          break;
        case 1: {
          NotesFolder().change(id, name + " edited in Outlook");
          note.edited_outlook = true;
          break;
        }
        case 2:
          edit_handheld(id, name + " edited on the handheld");
          NotesFolder().change(id, name + " edited in Outlook");
          note.edited_handheld = note.edited_outlook = true;
          break;
        case 3:
          delete_handheld(id);
          note.deleted = true;
          break;
        case 4:
          NotesFolder().remove(id);
          note.deleted = true;
          break;
        case 5:
          edit_handheld(id, name + " edited on the handheld");
          NotesFolder().remove(id);
          note.deleted = true;
          break;
        default:
          break;
      }
      if (note.edited_handheld) note.handheld = name + " edited on the handheld";
      if (note.edited_outlook) note.outlook = name + " edited in Outlook";
    }
  }

  // Presses HotSync in HotSync Manager, a process of its own that dies at `point`; its status.
  int killed_hotsync(const std::string& point) {
    const std::string output = (machine_.root() / "killed-hotsync.txt").string();
    const pid_t child = ::fork();
    if (child == 0) {
      ::setenv("SX_KILL_POINT", point.c_str(), 1);
      ::unsetenv("SX_WINDOW_HOST");  // nobody at the machine
      std::FILE* out = std::freopen(output.c_str(), "w", stdout);
      if (out != nullptr) ::dup2(::fileno(out), 2);
      ::alarm(120);  // a hung HotSync fails the trial instead of the whole run
      std::string program = SX_HOTSYNC_PROGRAM, machine = "--machine", root = machine_.root(),
                  sync = "--sync", user = kUser;
      char* argv[] = {program.data(), machine.data(), root.data(),
                      sync.data(),    user.data(),    nullptr};
      ::execv(program.c_str(), argv);
      ::_exit(127);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return status;
  }

  // Both sides hold the same notes under the same IDs, each note once, each with the text the
  // edits call for: the handheld's edit unless Outlook's edited it too; none of the deleted ones.
  void check_equal_sides() {
    const Side handheld = handheld_side();
    const Side outlook = NotesFolder().read_all();
    std::map<std::int32_t, std::string> by_id, by_key;
    for (const auto& [id, text] : handheld) {
      EXPECT_NE(id, 0) << context();
      EXPECT_TRUE(by_id.emplace(id, text).second) << "note ID " << id << " twice; " << context();
    }
    for (const auto& [key, text] : outlook) {
      EXPECT_TRUE(by_key.emplace(key, text).second)
          << "post key " << key << " twice; " << context();
    }
    EXPECT_EQ(by_id, by_key) << context();
    std::map<std::string, std::vector<std::string>> found;
    for (const auto& [id, text] : handheld) found[owner(text)].push_back(text);
    for (const auto& [name, texts] : found) {
      EXPECT_EQ(notes_.count(name), 1u) << name << " was never made; " << context();
    }
    for (const auto& [name, note] : notes_) {
      const std::vector<std::string>& texts = found[name];
      if (note.deleted) {
        EXPECT_TRUE(texts.empty()) << name << " came back; " << context();
        continue;
      }
      const std::string expected =
          note.edited_outlook || !note.handheld ? *note.outlook : *note.handheld;
      EXPECT_EQ(texts, std::vector<std::string>{expected}) << name << "; " << context();
    }
  }

  std::mt19937 random_;
  unsigned seed_;
  std::map<std::string, Note> notes_;
  int made_ = 0;
  std::string where_ = "nowhere";
  bool one_outlook_process_ = false;
  bool killed_ = false;
  bool outlook_killed_ = false;
};

TEST(KilledHotSync, AKilledHotSyncLosesAndDuplicatesNothingAndACleanOneMakesBothSidesEqual) {
  int first = 1, last = sx::testing::trials(10, 100);
  if (const char* one = std::getenv("SX_KILL_TRIAL")) first = last = std::atoi(one);
  int killed = 0, trials = 0;
  for (int n = first; n <= last; ++n) {
    // The trials take each Outlook in turn, runs of four on a machine with one Outlook process
    // and runs of four with an Outlook in each process.
    Trial trial(static_cast<unsigned>(n) * 7919u,
                kOutlookKinds[static_cast<std::size_t>(n) % std::size(kOutlookKinds)],
                (n / 4) % 2 == 0);
    if (!trial.run()) std::fprintf(stderr, "killed HotSync: trial %d failed\n", n);
    ++trials;
    if (trial.killed()) ++killed;
  }
  // The passages are chosen so that most trials die where they were meant to.
  EXPECT_GE(killed * 2, trials) << killed << " of " << trials << " HotSyncs were killed";
  std::fprintf(stderr, "killed HotSync: %d of %d trials killed\n", killed, trials);
}

}  // namespace
}  // namespace sx::conduit::testing
