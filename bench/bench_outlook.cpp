// Budgets of the Outlook stand-in: opening a store of 100,000 posts (< 1 s), Find("[ScribKey] = n")
// in a folder of 100,000 posts (< 20 us). Outlook runs on a thread of its own and a client calls it
// through proxies: one forwarded call there and back (median < 20 us), and a HotSync-sized walk of
// 10,000 posts reading five properties of each (< 500 ms). Adding and saving 10,000 posts one by
// one and walking 100,000 posts are measured through proxies too, for comparison (no budget: every
// call crosses to Outlook's thread and back). Outlook started as a person starts it, with an
// explorer and two start-up add-ins, until the explorer is shown (< 50 ms). A bare handoff between
// two threads is measured as the floor of a forwarded call and a reading of the machine's state.
#include <benchmark/benchmark.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "notes_store.h"
#include "outlook/outlook.h"
#include "sx/outlook/install.h"
#include "sx/outlook/outlook_process.h"
#include "sx/outlook/store.h"
#include "sx/registry_file.h"
#include "sx/testing/temp_machine.h"

namespace {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;
using namespace sx::outlook;
using sx::bench::make_notes_store;

constexpr int kPosts = 100000;

// Outlook started with an explorer on the default folder and two add-ins that load at start-up
// (the sample add-ins of the tests), until start_with_explorer returns: the explorer is shown and
// the add-ins have connected and heard OnStartupComplete. Ending Outlook is not measured.
#ifdef SX_TEST_ADDINS_PATH
void BM_StartWithExplorerAndTwoAddIns(benchmark::State& state) {
  sx::testing::TempMachine machine{sx::testing::TempMachine::Clock::kReal};
  std::string why;
  sx::registry::create_empty_file(&why);
  install({}, &why);
  const std::filesystem::path dll = machine.c("Program Files\\SxTest\\AddIns.dll");
  std::filesystem::create_directories(dll.parent_path());
  std::filesystem::copy_file(SX_TEST_ADDINS_PATH, dll);
  if (FAILED(sx::com::register_server_module("C:\\Program Files\\SxTest\\AddIns.dll"))) {
    state.SkipWithError("the sample add-ins cannot be registered");
    return;
  }
  CoInitialize(nullptr);
  for (auto _ : state) {
    ComPtr<_Application> app;
    if (FAILED(start_with_explorer(app.GetAddressOf()))) {
      state.SkipWithError("Outlook did not start");
      break;
    }
    state.PauseTiming();
    app->Quit();
    app = nullptr;
    state.ResumeTiming();
  }
  CoUninitialize();
}
BENCHMARK(BM_StartWithExplorerAndTwoAddIns)->Unit(benchmark::kMillisecond);
#endif

// One machine with Outlook and a store "C:\Big.pst" whose folder "Vorlan\Scribbix" holds 100,000
// posts, made once for all benchmarks.
struct BigMachine {
  sx::testing::TempMachine machine{sx::testing::TempMachine::Clock::kReal};
  std::filesystem::path store_path = machine.c("Big.pst");
  BigMachine() {
    std::string why;
    sx::registry::create_empty_file(&why);
    install({}, &why);
    make_notes_store(store_path, "Vorlan", kPosts);
  }
};

BigMachine& big() {
  static BigMachine* m = new BigMachine();
  return *m;
}

struct Session {
  ComPtr<_Application> app;
  ComPtr<_NameSpace> ns;
  explicit Session(const char* store) {
    CoInitialize(nullptr);
    CoCreateInstance(CLSID_OutlookApplication, nullptr, CLSCTX_LOCAL_SERVER,
                     IID_PPV_ARGS(app.ReleaseAndGetAddressOf()));
    Bstr mapi(u"MAPI");
    app->GetNamespace(mapi.get(), ns.ReleaseAndGetAddressOf());
    Variant path = Variant::from_utf8(store);
    ns->AddStore(path.get());
  }
  ComPtr<_Items> items(const char* store_root, const char* folder) {
    ComPtr<_Folders> roots, subs;
    ComPtr<MAPIFolder> r, f;
    ns->get_Folders(roots.ReleaseAndGetAddressOf());
    Variant rn = Variant::from_utf8(store_root), fn = Variant::from_utf8(folder);
    roots->Item(rn.get(), r.ReleaseAndGetAddressOf());
    r->get_Folders(subs.ReleaseAndGetAddressOf());
    subs->Item(fn.get(), f.ReleaseAndGetAddressOf());
    ComPtr<_Items> items;
    f->get_Items(items.ReleaseAndGetAddressOf());
    return items;
  }
};

void BM_OpenStoreOf100kPosts(benchmark::State& state) {
  auto& m = big();
  for (auto _ : state) {
    std::string why;
    auto store = Store::open(m.store_path, {}, &why);
    if (!store || store->model().item_count() != kPosts) state.SkipWithError("store not read");
    benchmark::DoNotOptimize(store);
  }
}
BENCHMARK(BM_OpenStoreOf100kPosts)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_AddAndSave10kPostsOneByOne(benchmark::State& state) {
  auto& m = big();
  Session s("C:\\Big.pst");
  static int round = 0;  // across repetitions: every run gets a folder of its own
  for (auto _ : state) {
    state.PauseTiming();
    const std::string name = "Run" + std::to_string(round++);
    ComPtr<_Folders> roots, subs;
    ComPtr<MAPIFolder> r, f;
    s.ns->get_Folders(roots.ReleaseAndGetAddressOf());
    Variant rn = Variant::from_utf8("Personal Folders");
    roots->Item(rn.get(), r.ReleaseAndGetAddressOf());
    r->get_Folders(subs.ReleaseAndGetAddressOf());
    Bstr bn = Bstr::from_utf8(name);
    Variant type = Variant::from_i4(olPostItem);
    subs->Add(bn.get(), type.get(), f.ReleaseAndGetAddressOf());
    ComPtr<_Items> items;
    f->get_Items(items.ReleaseAndGetAddressOf());
    state.ResumeTiming();
    for (int i = 0; i < 10000; ++i) {
      ComPtr<IDispatch> d;
      Variant cls = Variant::from_utf8("IPM.Post.ScribbixPost2");
      items->Add(cls.get(), d.ReleaseAndGetAddressOf());
      auto item = d.As<_PostItem>();
      Bstr subject(u"A note of moderate length"),
          body(u"A note of moderate length\r\nand a second line");
      item->put_Subject(subject.get());
      item->put_Body(body.get());
      ComPtr<UserProperties> props;
      ComPtr<UserProperty> p;
      item->get_UserProperties(props.ReleaseAndGetAddressOf());
      Bstr key(u"ScribKey");
      Variant missing, value = Variant::from_r8(i);
      props->Add(key.get(), olNumber, missing.get(), missing.get(), p.ReleaseAndGetAddressOf());
      p->put_Value(value.get());
      if (FAILED(item->Close(olSave))) state.SkipWithError("save failed");
    }
  }
  (void)m;
}
BENCHMARK(BM_AddAndSave10kPostsOneByOne)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_FindByKeyIn100kPosts(benchmark::State& state) {
  big();
  Session s("C:\\Big.pst");
  auto items = s.items("Vorlan", "Scribbix");
  int n = 1;
  for (auto _ : state) {
    const std::u16string filter = u"[ScribKey] = " + sx::com::utf8_to_u16(std::to_string(n));
    Bstr f(filter);
    ComPtr<IDispatch> d;
    if (FAILED(items->Find(f.get(), d.ReleaseAndGetAddressOf())) || !d)
      state.SkipWithError("not found");
    n = n % kPosts + 7919;
    if (n > kPosts) n -= kPosts;
  }
}
BENCHMARK(BM_FindByKeyIn100kPosts)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_Walk100kPostsWithGetFirstGetNext(benchmark::State& state) {
  big();
  Session s("C:\\Big.pst");
  auto items = s.items("Vorlan", "Scribbix");
  for (auto _ : state) {
    ComPtr<IDispatch> d;
    int n = 0;
    for (items->GetFirst(d.ReleaseAndGetAddressOf()); d; items->GetNext(d.ReleaseAndGetAddressOf()))
      ++n;
    if (n != kPosts) state.SkipWithError("walk incomplete");
  }
}
BENCHMARK(BM_Walk100kPostsWithGetFirstGetNext)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The floor under every forwarded call: two threads handing a counter to each other and back,
// watching for it without any lock. Reported beside the calls' figures because it tells the state
// of the machine they were taken on (a host that keeps the two processors far apart makes it
// several times slower, and every call with it).
void BM_BareHandoffBetweenTwoThreads(benchmark::State& state) {
  std::atomic<std::int64_t> turn{0};
  std::atomic<bool> stop{false};
  std::thread other([&] {
    for (std::int64_t seen = 1;; seen += 2) {
      while (turn.load(std::memory_order_acquire) != seen) {
        if (stop.load(std::memory_order_relaxed)) return;
      }
      turn.store(seen + 1, std::memory_order_release);
    }
  });
  std::int64_t next = 1;
  for (auto _ : state) {
    turn.store(next, std::memory_order_release);
    while (turn.load(std::memory_order_acquire) != next + 1) {
    }
    next += 2;
  }
  stop.store(true);
  other.join();
}
BENCHMARK(BM_BareHandoffBetweenTwoThreads)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

// One forwarded call: the client's thread queues it to Outlook's thread and waits for the answer.
void BM_ForwardedCall(benchmark::State& state) {
  big();
  Session s("C:\\Big.pst");
  for (auto _ : state) {
    Bstr name;
    if (FAILED(s.app->get_Name(name.put()))) state.SkipWithError("call failed");
  }
}
BENCHMARK(BM_ForwardedCall)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

// One forwarded call that hands back an object: packed on Outlook's thread, a proxy made for it on
// the client's, and released again (the release goes home with the next call).
void BM_ForwardedCallReturningAnObject(benchmark::State& state) {
  static const bool made = (make_notes_store(big().machine.c("Walk.pst"), "Walk", 10000), true);
  (void)made;
  Session s("C:\\Walk.pst");
  ComPtr<IDispatch> first;
  s.items("Walk", "Scribbix")->GetFirst(first.ReleaseAndGetAddressOf());
  const auto post = first.As<_PostItem>();
  for (auto _ : state) {
    ComPtr<UserProperties> properties;
    if (FAILED(post->get_UserProperties(properties.ReleaseAndGetAddressOf())) || !properties)
      state.SkipWithError("call failed");
  }
}
BENCHMARK(BM_ForwardedCallReturningAnObject)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

// What a HotSync does with the notes folder: walk 10,000 posts and read five properties of each,
// every call through proxies (an item's proxy is made and released per post).
void BM_Walk10kPostsReadingFivePropertiesThroughProxies(benchmark::State& state) {
  static const bool made = (make_notes_store(big().machine.c("Walk.pst"), "Walk", 10000), true);
  (void)made;
  Session s("C:\\Walk.pst");
  auto items = s.items("Walk", "Scribbix");
  for (auto _ : state) {
    int n = 0;
    ComPtr<IDispatch> d;
    for (items->GetFirst(d.ReleaseAndGetAddressOf()); d;
         items->GetNext(d.ReleaseAndGetAddressOf())) {
      auto post = d.As<_PostItem>();
      Bstr subject, body, categories;
      LONG sensitivity = 0;
      DATE created = 0;
      if (FAILED(post->get_Subject(subject.put())) || FAILED(post->get_Body(body.put())) ||
          FAILED(post->get_Categories(categories.put())) ||
          FAILED(post->get_Sensitivity(&sensitivity)) || FAILED(post->get_CreationTime(&created)))
        state.SkipWithError("read failed");
      ++n;
    }
    if (n != 10000) state.SkipWithError("walk incomplete");
  }
}
BENCHMARK(BM_Walk10kPostsReadingFivePropertiesThroughProxies)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
