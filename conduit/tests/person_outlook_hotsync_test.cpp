// Outlook for a person running while a HotSync writes the same store: a scripted person makes notes
// with the notes add-in's New Note in the program `outlook` (a process of its own) all the while
// HotSync Manager (another process) carries the handheld's new notes into that store. Afterwards
// the person's Outlook shows the handheld's notes, a clean HotSync brings the person's notes to the
// handheld, and no note of either is lost or made twice.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "real_outlook_fixture.h"
#include "sx/testing/temp_machine.h"

namespace sx::conduit::testing {
namespace {

constexpr char kPalmUser[] = "Palm User";
constexpr char kHandheldDir[] = "PalmUser";

class PersonOutlookDuringHotSync : public ::testing::Test {
 protected:
  // Runs a program of the build on this machine, waiting for it unless `wait` is false; its status,
  // or its process id.
  int start(std::vector<std::string> args, const std::string& output, bool wait,
            int* input = nullptr) {
    int pipe_fds[2] = {-1, -1};
    if (input != nullptr && ::pipe(pipe_fds) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
      if (input != nullptr) {
        ::dup2(pipe_fds[0], 0);
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
      }
      ::setenv("SX_WINDOW_HOST", "none", 1);
      std::FILE* out = std::freopen(output.c_str(), "w", stdout);
      if (out != nullptr) ::dup2(::fileno(out), 2);
      ::alarm(120);
      args.insert(args.begin() + 1, {"--machine", machine_.root().string()});
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    if (input != nullptr) {
      ::close(pipe_fds[0]);
      *input = pipe_fds[1];
    }
    if (!wait) return child;
    int status = -1;
    ::waitpid(child, &status, 0);
    return status;
  }
  std::string file(const std::string& name) const { return (machine_.root() / name).string(); }
  static std::string contents(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The end of a program's output, for a failure's message.
  std::string tail_of(const std::string& name) const {
    const std::string all = contents(file(name));
    constexpr std::size_t kShown = 4000;
    return "--- end of " + name + ":\n" +
           (all.size() > kShown ? all.substr(all.size() - kShown) : all) + "\n";
  }
  // How many saves the person's Outlook has answered so far.
  int saved() const {
    const std::string shown = contents(file("person.txt"));
    int n = 0;
    for (auto at = shown.find("> Saved."); at != std::string::npos;
         at = shown.find("> Saved.", at + 1))
      ++n;
    return n;
  }
  int hotsync(const std::string& output) {
    return start({SX_HOTSYNC_PROGRAM, "--sync", kPalmUser}, file(output), true);
  }

  // The handheld's live notes: note ID -> text.
  std::map<std::int32_t, std::string> handheld_notes() {
    std::map<std::int32_t, std::string> out;
    sx::hotsync::PdbDatabase db;
    std::string why;
    const auto path =
        sx::hotsync::database_file(sx::hotsync::handheld_dir(kHandheldDir), kScribbixDatabase);
    EXPECT_TRUE(sx::hotsync::load_database(path, &db, &why)) << why;
    for (const auto& record : db.records) {
      if ((record.attributes & 0x80) != 0) continue;
      NoteRecord note;
      EXPECT_TRUE(note.unpack(record.data.data(), record.data.size(), nullptr));
      EXPECT_TRUE(out.emplace(note.noteId(), note.text(NoteRecord::kText).desktop()).second)
          << "note ID " << note.noteId() << " twice";
    }
    return out;
  }
  // New notes on the handheld, as its notes application leaves them (dirty, no ID yet).
  void put_handheld_notes(int n) {
    sx::hotsync::PdbDatabase db;
    db.name = kScribbixDatabase;
    db.version = 2;
    db.type = kDataType;
    db.creator = kScribbixCreator;
    db.seed = 0x500;
    for (int i = 0; i < n; ++i) {
      NoteRecord note;
      note.text(NoteRecord::kText).setDesktop("handheld note " + std::to_string(i));
      std::vector<BYTE> bytes(kRecordBufferSize);
      bytes.resize(note.pack(bytes.data(), bytes.size()));
      db.records.push_back({0x40, static_cast<std::uint32_t>(0x300 + i), bytes});
    }
    std::string why;
    ASSERT_TRUE(sx::hotsync::save_database(
        sx::hotsync::database_file(sx::hotsync::handheld_dir(kHandheldDir), kScribbixDatabase), db,
        &why))
        << why;
  }

  sx::testing::TempMachine machine_;
};

TEST_F(PersonOutlookDuringHotSync, BothSeeTheOthersNotesAndNoneIsLostOrMadeTwice) {
  // The machine as setup leaves it: HotSync, Outlook with the profile "Outlook", the conduit, the
  // access component, both add-ins, the user's notes store paired with the Palm user.
  ASSERT_EQ(start({SX_MACHINE_PROGRAM, "system", "install", "--user", kPalmUser},
                  file("install.txt"), true),
            0)
      << contents(file("install.txt"));
  constexpr int kHandheldNotes = 12;
  put_handheld_notes(kHandheldNotes);

  // The person's Outlook: the notes folder (5th in the folder list of this profile) shown, then
  // New Note (the add-in's button, control 16) used again and again while HotSync Manager runs.
  int person_input = -1;
  const pid_t person = start({SX_OUTLOOK_PROGRAM}, file("person.txt"), false, &person_input);
  ASSERT_GT(person, 0);
  auto say = [&](const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(::write(person_input, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  };
  say("folder 5");
  // HotSync Manager starts once the person's Outlook is up with New Note. Started the other way
  // round, the person's Outlook may come up while the conduit holds the add-ins back (their
  // "LoadBehavior" at 8 while it starts its own Outlook), and then it has no New Note until it is
  // started again: Outlook reads "LoadBehavior" only when it starts.
  const auto notes_folder_shown = [&] {  // the whole screen, up to the next prompt
    const std::string shown = contents(file("person.txt"));
    const std::size_t at = shown.find("Items of Scribbix");
    return at != std::string::npos && shown.find("\n> ", at) != std::string::npos;
  };
  for (int waited = 0; !notes_folder_shown() && waited < 2000; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_NE(contents(file("person.txt")).find("c16 New &Note"), std::string::npos)
      << tail_of("person.txt");
  const pid_t manager =
      start({SX_HOTSYNC_PROGRAM, "--sync", kPalmUser}, file("hotsync.txt"), false);
  ASSERT_GT(manager, 0);
  // At most as many as keep every note on the explorer's one screen (it lists 50 items).
  constexpr int kMostPersonNotes = 30;
  int made = 0, status = -1;
  while (::waitpid(manager, &status, WNOHANG) == 0 && made < kMostPersonNotes) {
    const std::string text = "person note " + std::to_string(made++);
    say("click 16");
    say("type " + text);
    say("save");
    say("close");
    // The next note once this one is saved: the person's notes arrive all through the HotSync.
    for (int waited = 0; saved() < made && waited < 2000; ++waited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (made == kMostPersonNotes) ::waitpid(manager, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << contents(file("hotsync.txt"));
  say("folder 5");  // shown again: the person's Outlook reads what the HotSync saved
  say("quit");
  ::close(person_input);
  int person_status = -1;
  ::waitpid(person, &person_status, 0);
  EXPECT_TRUE(WIFEXITED(person_status) && WEXITSTATUS(person_status) == 0);
  const std::string shown = contents(file("person.txt"));
  const std::string last_screen = shown.substr(shown.rfind("== Scribbix"));
  for (int i = 0; i < kHandheldNotes; ++i) {
    EXPECT_NE(last_screen.find("handheld note " + std::to_string(i)), std::string::npos)
        << i << "\n"
        << last_screen;
  }

  // A clean HotSync carries the person's notes to the handheld.
  ASSERT_EQ(hotsync("clean.txt"), 0) << contents(file("clean.txt"));
  const auto handheld = handheld_notes();
  std::map<std::int32_t, std::string> outlook;
  for (const auto& [key, text] : NotesFolder().read_all()) {
    EXPECT_TRUE(outlook.emplace(key, text).second) << "post key " << key << " twice";
  }
  EXPECT_EQ(handheld, outlook);
  std::multiset<std::string> texts;
  for (const auto& [id, text] : handheld) texts.insert(text);
  std::multiset<std::string> expected;
  for (int i = 0; i < kHandheldNotes; ++i) expected.insert("handheld note " + std::to_string(i));
  for (int i = 0; i < made; ++i) expected.insert("person note " + std::to_string(i));
  EXPECT_EQ(texts, expected) << made << " notes made by the person\n"
                             << tail_of("person.txt") << tail_of("hotsync.txt")
                             << tail_of("clean.txt");
  std::fprintf(stderr, "person's Outlook: %d notes made during the HotSync\n", made);
}

}  // namespace
}  // namespace sx::conduit::testing
