// Whole HotSyncs of the product through HotSync Manager: the real conduit, its assistant thread,
// ScribbixOut and the Outlook stand-in, on a machine installed as setup leaves it (virtual clock:
// the profile watcher's three seconds and the 100 ms wait slices cost no real time; everything
// else is measured).
// - First (slow) HotSync of N handheld notes against N posts, half of them the same notes, for N =
//   1,000, 10,000 and 40,000 (budget: 10,000 under 2 s; 100,000 under 20 s; cost per note growing
//   at most 1.5x from 1,000 to 100,000). A handheld database holds at most 65,535 records and the
//   first HotSync leaves 1.5 N notes on it, so 40,000 (60,000 notes after the HotSync) stands in
//   for 100,000; a machine that cannot be made or a HotSync that fails is reported, not timed.
// - Fast HotSync of 10,000 notes with 1% changed on each side, on a machine whose sides agree
//   (budget: under 300 ms): the same 10,000 notes on both sides, synchronised twice first.
// - One command round trip through the assistant (budget: median under 30 us).
// - The floor: reading and writing the same bytes of the handheld file, the store and the state
//   file, without any synchronisation.
// The whole HotSyncs run against Outlook 2000 (body format mode 1, the second argument 1) and
// against Outlook 10 with its RTF editor (mode 3): updates and new posts write the body of the
// mode. The last argument 1 runs them on a machine with one Outlook process: the HotSync reaches
// OUTLOOK.EXE, which it starts, through calls between processes (budget: at most twice the time
// of the same HotSync with an Outlook inside HotSync Manager's process, measured in the same run).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "comdef.h"
#include "commands.h"
#include "note_database.h"
#include "notes_setup.h"
#include "notes_store.h"
#include "outlook_assistant.h"
#include "sx/hotsync.h"
#include "sx/hotsync_pdb.h"
#include "sx/machine.h"
#include "sx/paths.h"
#include "sx/testing/temp_machine.h"

namespace {

namespace fs = std::filesystem;
using namespace sx::conduit;
constexpr char kUser[] = "Bench";

std::vector<BYTE> note_bytes(std::int32_t id, const std::string& text) {
  NoteRecord note;
  note.setNoteId(id);
  note.text(NoteRecord::kText).setDesktop(text);
  std::vector<BYTE> bytes(kRecordBufferSize);
  bytes.resize(note.pack(bytes.data(), bytes.size()));
  return bytes;
}

std::string body(int key) {
  return "Note number " + std::to_string(key) + "\r\nwith a second line of text";
}

// Which notes each side holds before the first HotSync: keys 1 .. shared on both sides, then
// `handheld_only` keys only on the handheld and `outlook_only` keys only in Outlook.
struct Layout {
  int shared = 0;
  int handheld_only = 0;
  int outlook_only = 0;
  // Handheld records plus posts.
  int entries() const { return 2 * shared + handheld_only + outlook_only; }
};

// N handheld notes against N posts, half of them the same notes.
Layout half_the_same(int notes) { return {notes / 2, notes - notes / 2, notes - notes / 2}; }

class SyncMachine {
 public:
  // `format_mode` 1: Outlook 2000; 3: Outlook 10 whose mail editor is its RTF one.
  explicit SyncMachine(Layout layout, int format_mode = 1, bool one_outlook_process = false)
      : entries_(layout.entries()) {
    const std::string root = machine_.root().string();
    const char* argv[] = {"sxmachine", "--machine", root.c_str(), "system",
                          "install",   "--user",    kUser};
    std::fflush(stdout);
    (void)sx::machine_tool::make_program()->run(7, argv);
    if (format_mode == 3) {
      const char* outlook10[] = {"sxmachine", "--machine", root.c_str(),  "outlook",
                                 "install",   "--version", "10.0.2627.1", "--editor-preferences",
                                 "0x20003"};
      (void)sx::machine_tool::make_program()->run(9, outlook10);
    }
    if (one_outlook_process) {
      const char* on[] = {"sxmachine", "--machine", root.c_str(), "outlook", "process", "on"};
      if (sx::machine_tool::make_program()->run(6, on) != 0) {
        failure_ = "the machine cannot run one Outlook process";
        return;
      }
    }
    handheld_ = sx::hotsync::database_file(sx::hotsync::handheld_dir(kUser), kScribbixDatabase);
    store_ = sx::paths::to_host(sx::machine_tool::notes_store_path(kUser));
    // The handheld: the shared keys, then its own.
    sx::hotsync::PdbDatabase db;
    db.name = kScribbixDatabase;
    db.version = 2;
    db.type = kDataType;
    db.creator = kScribbixCreator;
    db.app_info = std::vector<std::uint8_t>(kCategoryBlockSize, 0);
    std::memcpy(db.app_info->data() + 2 + 16, "Business", 8);
    std::uint32_t uid = 0x100;
    const int handheld_last = layout.shared + layout.handheld_only;
    for (int k = 1; k <= handheld_last; ++k)
      db.records.push_back({1, uid++, note_bytes(k, body(k))});
    std::string why;
    if (!sx::hotsync::save_database(handheld_, db, &why)) {
      failure_ = "the handheld database cannot be made: " + why;
      return;
    }
    // Outlook: the shared keys, then its own.
    {
      sx::outlook::Store::Options o;
      auto store = sx::outlook::Store::open(store_, o, &why);
      std::uint32_t folder = 0;
      for (std::uint32_t child : store->model().root()->children)
        folder = store->model().folder(child)->record.name == "Scribbix" ? child : folder;
      (void)store->change(
          [&](const sx::outlook::StoreModel& m, std::vector<sx::outlook::Record>* out,
              std::string*) {
            std::uint64_t id = m.next_item_id();
            auto put = [&](int k) {
              out->push_back(sx::outlook::ItemPutRecord{id++, folder, sx::bench::post(k)});
            };
            for (int k = 1; k <= layout.shared; ++k) put(k);
            for (int k = 1; k <= layout.outlook_only; ++k) put(handheld_last + k);
            return true;
          },
          &why);
    }
    snapshot_ = machine_.root().parent_path() / (machine_.root().filename().string() + "-first");
    copy_tree(machine_.root(), snapshot_);
  }
  ~SyncMachine() {
    std::error_code ec;
    fs::remove_all(snapshot_, ec);
  }
  // Empty when the machine was made; otherwise why not.
  const std::string& failure() const { return failure_; }
  // Back to the machine as it was before the first HotSync.
  void restore() { copy_tree(snapshot_, machine_.root()); }
  void keep(const fs::path& to) { copy_tree(machine_.root(), to); }
  void restore(const fs::path& from) { copy_tree(from, machine_.root()); }
  long hotsync() {
    sx::hotsync::HotSyncReport report;
    const long result = sx::hotsync::run_hotsync(kUser, &report);
    if (result != 0) {
      for (const std::string& line : report.log) std::fprintf(stderr, "  %s\n", line.c_str());
    }
    return result;
  }
  // 1% of the notes changed on each side (as the handheld application and Outlook would).
  void change_one_percent(int round) {
    std::string why;
    sx::hotsync::PdbDatabase db;
    (void)sx::hotsync::load_database(handheld_, &db, &why);
    for (std::size_t i = 0; i < db.records.size(); i += 100) {
      NoteRecord note;
      (void)note.unpack(db.records[i].data.data(), db.records[i].data.size(), nullptr);
      NoteRecord changed;
      changed.setNoteId(note.noteId());
      changed.setMod(1u << NoteRecord::kText);
      changed.text(NoteRecord::kText)
          .setDesktop("changed on the handheld " + std::to_string(round));
      std::vector<BYTE> bytes(kRecordBufferSize);
      bytes.resize(changed.pack(bytes.data(), bytes.size()));
      db.records[i].data = bytes;
      db.records[i].attributes |= 0x40;
    }
    db.modified = sx::hotsync::desktop_palm_now();
    (void)sx::hotsync::save_database(handheld_, db, &why);
    sx::outlook::Store::Options o;
    auto store = sx::outlook::Store::open(store_, o, &why);
    std::vector<std::pair<std::uint64_t, sx::outlook::StoredItem>> picked;
    int n = 0;
    for (std::uint32_t child : store->model().root()->children) {
      const auto* f = store->model().folder(child);
      if (f->record.name != "Scribbix") continue;
      for (const auto& [seq, id] : f->order) {
        if (n++ % 100 != 50) continue;
        const auto* item = store->model().item(id);
        sx::outlook::ItemData d = *item->data;
        d.set("Body", sx::outlook::Value::text_of("changed in Outlook " + std::to_string(round)));
        std::uint64_t item_id = id;
        (void)store->put_item(&item_id, child, d, &why);
      }
    }
  }
  // Handheld records plus posts before the first HotSync.
  int entries() const { return entries_; }
  const fs::path& handheld() const { return handheld_; }
  const fs::path& store() const { return store_; }
  fs::path root() const { return machine_.root(); }

 private:
  // Folders and files only: the sockets of a machine's COM servers cannot be copied (and belong to
  // processes that are gone in the copy).
  static void copy_tree(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::remove_all(to, ec);
    fs::create_directories(to, ec);
    for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
      const fs::path target = to / fs::relative(it->path(), from);
      if (it->is_directory(ec)) {
        fs::create_directories(target, ec);
      } else if (it->is_regular_file(ec)) {
        fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, ec);
      }
    }
  }
  sx::testing::TempMachine machine_;
  int entries_;
  fs::path handheld_, store_, snapshot_;
  std::string failure_;
};

void BM_FirstHotSync(benchmark::State& state) {
  CoInitialize(nullptr);
  SyncMachine m(half_the_same(static_cast<int>(state.range(0))), static_cast<int>(state.range(1)),
                state.range(2) != 0);
  if (!m.failure().empty()) {
    state.SkipWithError(m.failure().c_str());
    CoUninitialize();
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    m.restore();
    state.ResumeTiming();
    if (m.hotsync() != 0) {
      state.SkipWithError("the HotSync failed");
      break;
    }
  }
  state.counters["us_per_note"] = benchmark::Counter(
      static_cast<double>(m.entries()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  CoUninitialize();
}
BENCHMARK(BM_FirstHotSync)
    ->Args({1000, 1, 0})
    ->Args({10000, 1, 0})
    ->Args({10000, 1, 1})
    ->Args({40000, 1, 0})
    ->Args({10000, 3, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

void BM_FastHotSyncOf10000With1PercentChangedOnEachSide(benchmark::State& state) {
  CoInitialize(nullptr);
  SyncMachine m(Layout{10000, 0, 0}, static_cast<int>(state.range(0)), state.range(1) != 0);
  // The first HotSync posts the handheld's undated notes; the next one stamps their posts with a
  // date (once, on their first reading) and carries it back. Measured from there: nothing else
  // changed since the last HotSync.
  if (m.hotsync() != 0 || m.hotsync() != 0) state.SkipWithError("the first HotSyncs failed");
  const fs::path synced = m.root().parent_path() / (m.root().filename().string() + "-synced");
  m.keep(synced);
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    m.restore(synced);
    m.change_one_percent(++round);
    state.ResumeTiming();
    if (m.hotsync() != 0) state.SkipWithError("the HotSync failed");
  }
  std::error_code ec;
  fs::remove_all(synced, ec);
  CoUninitialize();
}
BENCHMARK(BM_FastHotSyncOf10000With1PercentChangedOnEachSide)
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({3, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();

void BM_AssistantRoundTrip(benchmark::State& state) {
  CoInitialize(nullptr);
  SyncMachine m(Layout{});
  {
    OutlookAssistant assistant;
    (void)assistant.IsOutlookLoaded();  // the worker and the component are made
    for (auto _ : state) benchmark::DoNotOptimize(assistant.IsOutlookLoaded());
  }
  CoUninitialize();
}
BENCHMARK(BM_AssistantRoundTrip)->Repetitions(5)->ReportAggregatesOnly(true)->UseRealTime();

// The floor: the bytes of a synchronised machine's handheld file, notes store and state file read
// and written back once, nothing else.
void BM_FloorReadAndWriteTheSameBytes(benchmark::State& state) {
  CoInitialize(nullptr);
  SyncMachine m(half_the_same(static_cast<int>(state.range(0))));
  (void)m.hotsync();
  std::vector<fs::path> files = {m.handheld(), m.store()};
  for (const auto& entry : fs::recursive_directory_iterator(m.root())) {
    if (entry.path().extension() == ".VXS") files.push_back(entry.path());
  }
  for (auto _ : state) {
    for (const fs::path& file : files) {
      std::ifstream in(file, std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), {});
      std::ofstream out(file.string() + ".copy", std::ios::binary);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
  }
  CoUninitialize();
}
BENCHMARK(BM_FloorReadAndWriteTheSameBytes)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(40000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace
