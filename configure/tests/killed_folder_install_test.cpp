// The folder install and update killed half-way: the configuration program (a process of its own
// per trial) dies by SIGKILL at a random moment of `sxconfigure install` or `sxconfigure update`.
// The user's notes are then all in the old folder or all in the new one, never in neither and
// never twice; a clean run of the same command afterwards completes and keeps them.
//
// The suite runs 10 trials, the soak run 100; SX_KILL_TRIAL=<n> runs trial n alone.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "configure_fixture.h"
#include "folder_install.h"
#include "sx/outlook/store.h"
#include "sx/paths.h"
#include "sx/testing/soak.h"

namespace sx::configure::testing {
namespace {

constexpr char kUserFile[] = "C:\\Program Files\\Vorlan\\Scribbix\\Palm User Vorlan.pst";

struct KillPoint {
  const char* point;
  int most;
};
// The passages each point has in one run of either command, about.
constexpr KillPoint kKillPoints[] = {
    {"outlook-call", 70},  // any call on Outlook: logon, the folder steps, each note carried
    {"store-append", 8},   // a folder or a note saved
    {"store-append-torn", 8}, {"store-commit", 8}, {"WriteFile", 1},  // the template copied
    {"MoveFile", 3},                                                  // the old file set aside
    {"registry-save", 12},  // the profile's stores, the add-ins
};

using Subjects = std::vector<std::string>;

Subjects sorted(Subjects s) {
  std::sort(s.begin(), s.end());
  return s;
}

class FolderInstallKill : public ConfigureTest {
 protected:
  std::filesystem::path Host(const std::string& windowsPath) {
    return sx::paths::to_host(windowsPath);
  }

  // The subjects of the posts in the folder "Scribbix" under the root of the store file, read as
  // it lies on disk; nullopt when the file is not a store or has no such folder.
  std::optional<Subjects> FileNotes(const std::filesystem::path& file) {
    sx::outlook::Store::Options options;
    std::string why;
    auto store = sx::outlook::Store::open(file, options, &why);
    if (!store) return std::nullopt;
    const auto& model = store->model();
    for (std::uint32_t child : model.root()->children) {
      const sx::outlook::FolderState* folder = model.folder(child);
      if (folder == nullptr || folder->record.name != "Scribbix") continue;
      Subjects out;
      for (const auto& [seq, id] : folder->order)
        out.push_back(model.item(id)->data->text("Subject"));
      return sorted(out);
    }
    return std::nullopt;
  }
  // The files the user's notes file was set aside as ("<file>.1" ...).
  std::vector<std::filesystem::path> SetAside() {
    std::vector<std::filesystem::path> out;
    for (int n = 1; n <= 100; ++n) {
      const auto file = Host(std::string(kUserFile) + "." + std::to_string(n));
      if (std::filesystem::exists(file)) out.push_back(file);
    }
    return out;
  }

  int Run(const std::string& command, const std::string& point) {
    const std::string output = (machine_.root() / "killed-configure.txt").string();
    const pid_t child = ::fork();
    if (child == 0) {
      if (!point.empty()) ::setenv("SX_KILL_POINT", point.c_str(), 1);
      ::setenv("SX_WINDOW_HOST", "none", 1);  // nobody at the machine
      std::FILE* out = std::freopen(output.c_str(), "w", stdout);
      if (out != nullptr) ::dup2(::fileno(out), 2);
      ::alarm(120);
      std::vector<std::string> args = {SXCONFIGURE_PATH, "--machine", machine_.root().string(),
                                       command,          "--profile", "Outlook"};
      if (command == "install") {
        args.push_back("--user");
        args.push_back("Palm User");
      }
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return status;
  }
  std::string Printed() {
    std::ifstream in(machine_.root() / "killed-configure.txt");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // The subjects in "Vorlan\SXUpdate", the new folder of an update before it is named.
  static std::optional<Subjects> NewFolderNotes() {
    std::optional<Subjects> out;
    WithOutlook("Outlook", [&](_NameSpace* ns) {
      ComPtr<MAPIFolder> folder = Folder(ns, "Vorlan", "SXUpdate");
      if (!folder) return;
      out.emplace();
      ComPtr<_Items> items;
      folder->get_Items(items.ReleaseAndGetAddressOf());
      ComPtr<IDispatch> item;
      for (items->GetFirst(item.ReleaseAndGetAddressOf()); item;
           items->GetNext(item.ReleaseAndGetAddressOf())) {
        ComPtr<_PostItem> post;
        item->QueryInterface(_PostItem::kIid, post.PutVoid());
        Bstr subject;
        if (post) post->get_Subject(subject.put());
        out->push_back(subject.utf8());
      }
    });
    if (out) out = sorted(*out);
    return out;
  }

  // Where the notes are after a run: the profile's notes folder, or one set-aside file.
  void ExpectKeptWhole(const Subjects& notes, bool install, const std::string& context) {
    const std::optional<Subjects> inProfile = Notes();
    bool inFolder = inProfile && sorted(*inProfile) == notes;
    int keptAside = 0;
    for (const auto& file : SetAside()) {
      if (FileNotes(file) == notes) ++keptAside;
    }
    if (!install) {
      // Updating: the old folder until it is removed, then the new one. Killed between the removal
      // and the naming, the new folder holds every note under the name it was copied with, and
      // the next update names it.
      // Killed inside a carry, the old folder also holds the copy of the note carried then (the
      // next update removes it): one note twice at most.
      const bool inNewFolder = !inProfile && NewFolderNotes() == notes;
      if (inProfile && !inFolder) {
        Subjects once = sorted(*inProfile);
        once.erase(std::unique(once.begin(), once.end()), once.end());
        inFolder = once == notes && inProfile->size() <= notes.size() + 1;
      }
      EXPECT_TRUE(inFolder || inNewFolder)
          << "the notes folder holds " << ::testing::PrintToString(inProfile) << "; " << context;
      EXPECT_EQ(keptAside, 0) << context;
      return;
    }
    // Installing: the old file stays in the profile until it is set aside whole. Killed after it
    // left the profile and before it was set aside, it lies where it was with every note (the
    // next install sets it aside).
    const bool inOldFile = !inFolder && keptAside == 0 && FileNotes(Host(kUserFile)) == notes;
    EXPECT_TRUE(inFolder || keptAside == 1 || inOldFile)
        << "the notes folder holds " << ::testing::PrintToString(inProfile) << ", " << keptAside
        << " set-aside files hold every note; " << context;
    if (inFolder) {
      EXPECT_EQ(keptAside, 0) << context;
    }
  }

  // One trial on a machine of its own; whether its command died where it was meant to.
  bool Trial(int n) {
    std::mt19937 random(static_cast<unsigned>(n) * 104729u);
    auto pick = [&](int low, int high) {
      return std::uniform_int_distribution<int>(low, high)(random);
    };
    InstallSystem();
    {
      TestChecker checker;
      EXPECT_EQ(InstallFolder(checker, "Palm User", "Outlook"), 1);
    }
    Subjects notes;
    for (int i = pick(1, 6); i > 0; --i) notes.push_back("note " + std::to_string(i));
    AddNotes(notes, "Outlook", 1);  // as a HotSync leaves them: each with its note key
    notes = sorted(notes);

    const bool install = pick(0, 1) == 1;
    const KillPoint& kill = kKillPoints[pick(0, static_cast<int>(std::size(kKillPoints)) - 1)];
    const std::string point = std::string(kill.point) + ":" + std::to_string(pick(1, kill.most));
    const std::string context = "trial " + std::to_string(n) + ": " +
                                (install ? "install" : "update") + " killed at " + point;
    const int status = Run(install ? "install" : "update", point);
    const bool died = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    if (!died) {
      EXPECT_TRUE(WIFEXITED(status)) << context << "\n" << Printed();
    }
    ExpectKeptWhole(notes, install, context + (died ? "" : " (not reached)") + "\n" + Printed());

    // A clean run completes and keeps every note.
    const int clean = Run(install ? "install" : "update", "");
    EXPECT_TRUE(WIFEXITED(clean) && WEXITSTATUS(clean) == 0) << context << "\n" << Printed();
    if (install) {
      int keptAside = 0;
      for (const auto& file : SetAside()) keptAside += FileNotes(file) == notes ? 1 : 0;
      EXPECT_GE(keptAside, 1) << context;
      EXPECT_EQ(Notes(), std::optional<Subjects>(Subjects{})) << context;
    } else {
      const std::optional<Subjects> after = Notes();
      EXPECT_EQ(after ? sorted(*after) : Subjects{}, notes) << context << "\n" << Printed();
    }
    return died;
  }
};

// A trial as a test of its own, with its own machine.
class OneTrial : public FolderInstallKill {
 public:
  void TestBody() override {}
  bool Go(int n) {
    SetUp();
    const bool died = Trial(n);
    TearDown();
    return died;
  }
};

TEST(KilledFolderInstall, KilledInstallOrUpdateLeavesEveryNoteInTheOldFolderOrTheNew) {
  int first = 1, last = sx::testing::trials(10, 100);
  if (const char* one = std::getenv("SX_KILL_TRIAL")) first = last = std::atoi(one);
  int killed = 0, trials = 0;
  for (int n = first; n <= last && !::testing::Test::HasFailure(); ++n) {
    killed += OneTrial().Go(n) ? 1 : 0;
    ++trials;
  }
  EXPECT_GE(killed * 2, trials) << killed << " of " << trials << " runs were killed";
  std::fprintf(stderr, "killed folder install: %d of %d trials killed\n", killed, trials);
}

}  // namespace
}  // namespace sx::configure::testing
