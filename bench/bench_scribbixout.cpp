// Budgets of the Outlook access component ScribbixOut, called as the conduit calls it (created by
// its ProgID on the calling thread, Outlook reached through proxies):
// - BeginItem, then NextItem and ReadItem over 10,000 posts: < 300 ms;
// - NewItem of 10,000 posts: < 1 s;
// - UpdateItem of 1,000 posts in a folder of 100,000: < 200 ms;
// - DeleteItem of 1,000 posts in a folder of 100,000: < 2 s.
// Each benchmark makes its own machine (not timed): Outlook, ScribbixOut installed and registered,
// and a store "Vorlan" whose folder "Scribbix" holds the posts.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <optional>

#include "notes_store.h"
#include "outlook/outlook.h"
#include "scribbixout/scribbixout.h"
#include "sx/outlook/install.h"
#include "sx/registry_file.h"
#include "sx/testing/temp_machine.h"

namespace {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

constexpr char kServer[] = "C:\\Program Files\\Vorlan\\Scribbix\\ScribbixOut.dll";

// A machine whose notes folder holds `posts` posts, and the component with its walk begun.
class Bench {
 public:
  explicit Bench(int posts) {
    std::string why;
    sx::registry::create_empty_file(&why);
    sx::outlook::install({}, &why);
    std::filesystem::create_directories(machine_.c("Program Files\\Vorlan\\Scribbix"));
    std::filesystem::copy_file(SX_SCRIBBIXOUT_LIBRARY, machine_.c(kServer + 3));
    sx::bench::make_notes_store(machine_.c("Notes.pst"), "Vorlan", posts);
    CoInitialize(nullptr);
    sx::com::register_server_module(kServer);
    CLSID clsid{};
    CLSIDFromProgID(u"ScribbixOut.Class1", &clsid);
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, _Class1::kIid, component_.PutVoid());
    if (!component_) return;
    // The store joins the profile as the configuration program's folder installation would.
    CoCreateInstance(CLSID_OutlookApplication, nullptr, CLSCTX_LOCAL_SERVER, _Application::kIid,
                     app_.PutVoid());
    app_->GetNamespace(Bstr(u"MAPI").get(), ns_.ReleaseAndGetAddressOf());
    Variant profile = Variant::from_utf8("Outlook"), missing;
    ns_->Logon(profile.get(), missing.get(), missing.get(), missing.get());
    ns_->AddStore(Variant::from_utf8("C:\\Notes.pst").get());
    LONG r = 0;
    component_->LoadOutlook(&r);
    component_->LogonOutlook(&profile.get(), &r);
    component_->GetScribbixFolder(&r);
    ok_ = r == 0 && begin() == posts;
  }
  ~Bench() {
    component_ = nullptr;
    ns_ = nullptr;
    app_ = nullptr;
    CoUninitialize();
  }
  bool ok() const { return ok_; }
  _Class1* component() { return component_.Get(); }
  LONG begin() {
    LONG count = -1;
    component_->BeginItem(&count);
    return count;
  }

 private:
  sx::testing::TempMachine machine_{sx::testing::TempMachine::Clock::kReal};
  ComPtr<_Class1> component_;
  ComPtr<_Application> app_;
  ComPtr<_NameSpace> ns_;
  bool ok_ = false;
};

std::array<Variant, 9> note_args(double key, const char* text) {
  return {Variant::from_r8(key),    Variant::from_date(36955.5), Variant::from_utf8(text),
          Variant::from_utf8(text), Variant::from_utf8("Ideas"), Variant::from_utf8(""),
          Variant::from_i4(0),      Variant::from_i4(0),         Variant::from_i4(1)};
}

void BM_ReadWalkOf10kPosts(benchmark::State& state) {
  Bench bench(10000);
  if (!bench.ok()) return state.SkipWithError("no machine");
  for (auto _ : state) {
    int read = 0;
    if (bench.begin() != 10000) state.SkipWithError("begin failed");
    LONG index = 0;
    while (bench.component()->NextItem(&index) == S_OK && index > 0) {
      std::array<Variant, 9> a;
      LONG r = -1;
      bench.component()->ReadItem(&a[0].get(), &a[1].get(), &a[2].get(), &a[3].get(), &a[4].get(),
                                  &a[5].get(), &a[6].get(), &a[7].get(), &a[8].get(), &r);
      if (r != 0) state.SkipWithError("read failed");
      ++read;
    }
    if (read != 10000) state.SkipWithError("walk incomplete");
  }
}
BENCHMARK(BM_ReadWalkOf10kPosts)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_NewItemOf10kPosts(benchmark::State& state) {
  Bench bench(0);
  if (!bench.ok()) return state.SkipWithError("no machine");
  double key = 1;
  for (auto _ : state) {
    for (int i = 0; i < 10000; ++i) {
      auto a = note_args(key++, "A note of moderate length\r\nand a second line");
      LONG mask = -1;
      bench.component()->NewItem(&a[0].get(), &a[1].get(), &a[2].get(), &a[3].get(), &a[4].get(),
                                 &a[5].get(), &a[6].get(), &a[7].get(), &a[8].get(), &mask);
      if (mask <= 0) state.SkipWithError("add failed");
    }
  }
}
BENCHMARK(BM_NewItemOf10kPosts)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_UpdateItemOf1kPostsIn100k(benchmark::State& state) {
  Bench bench(100000);
  if (!bench.ok()) return state.SkipWithError("no machine");
  int round = 0;
  for (auto _ : state) {
    const std::string text = "Changed in round " + std::to_string(++round);
    for (int i = 0; i < 1000; ++i) {
      auto a = note_args(1 + (i * 97 + round) % 100000, text.c_str());
      LONG code = -1;
      bench.component()->UpdateItem(&a[0].get(), &a[1].get(), &a[2].get(), &a[3].get(), &a[4].get(),
                                    &a[5].get(), &a[6].get(), &a[7].get(), &a[8].get(), &code);
      if (code != 0) state.SkipWithError("update failed");
    }
  }
}
BENCHMARK(BM_UpdateItemOf1kPostsIn100k)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_DeleteItemOf1kPostsIn100k(benchmark::State& state) {
  Bench bench(100000);
  if (!bench.ok()) return state.SkipWithError("no machine");
  int round = 0;
  for (auto _ : state) {
    // Keys spread over the folder, each deleted once across the rounds.
    for (int i = 0; i < 1000; ++i) {
      Variant key = Variant::from_r8(1 + i * 97 + round);
      LONG position = -1;
      bench.component()->DeleteItem(&key.get(), &position);
      if (position <= 0) state.SkipWithError("delete failed");
    }
    ++round;
  }
}
BENCHMARK(BM_DeleteItemOf1kPostsIn100k)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
