// Budget of the folder maintenance component ScribbixUpdate, called as the configuration program
// calls it (created by its ProgID on the calling thread, Outlook reached through proxies):
// - an upgrade of 10,000 notes (BeginUpdate, 10,000 NextUpdate, EndUpdate): < 3 s.
// Each run makes its own machine (not timed): Outlook, ScribbixUpdate and SXUpdate.pst installed,
// and a notes store "Vorlan" whose folder "Scribbix" holds the notes. Two cases: notes of the
// older class (each carried with its properties rewritten: the slower road) and of the current
// class (copied and moved as they are).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "notes_store.h"
#include "outlook/outlook.h"
#include "scribbixupdate/scribbixupdate.h"
#include "sx/outlook/install.h"
#include "sx/registry_file.h"
#include "sx/testing/temp_machine.h"

namespace {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

constexpr char kServer[] = "C:\\Program Files\\Vorlan\\Scribbix\\ScribbixUpdate.dll";
constexpr char kUpdateStore[] = "C:\\Program Files\\Vorlan\\Scribbix\\SXUpdate.pst";

class Machine {
 public:
  Machine(int notes, const char* message_class) {
    std::string why;
    sx::registry::create_empty_file(&why);
    sx::outlook::install({}, &why);
    std::filesystem::create_directories(machine_.c("Program Files\\Vorlan\\Scribbix"));
    std::filesystem::copy_file(SX_SCRIBBIXUPDATE_LIBRARY, machine_.c(kServer + 3));
    std::filesystem::copy_file(SX_UPDATE_STORE_TEMPLATE, machine_.c(kUpdateStore + 3));
    sx::bench::make_notes_store(machine_.c("Notes.pst"), "Vorlan", notes, message_class);
    CoInitialize(nullptr);
    sx::com::register_server_module(kServer);
    CLSID clsid{};
    CLSIDFromProgID(u"ScribbixUpdate.Update1", &clsid);
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, _Update1::kIid, component_.PutVoid());
    CoCreateInstance(CLSID_OutlookApplication, nullptr, CLSCTX_LOCAL_SERVER, _Application::kIid,
                     app_.PutVoid());
    if (!component_ || !app_) return;
    app_->GetNamespace(Bstr(u"MAPI").get(), ns_.ReleaseAndGetAddressOf());
    Variant profile = Variant::from_utf8("Outlook"), missing;
    ns_->Logon(profile.get(), missing.get(), missing.get(), missing.get());
    ns_->AddStore(Variant::from_utf8("C:\\Notes.pst").get());
    _NameSpace* given = ns_.Get();
    LONG kept = 0;
    component_->SetNameSpace(&given, &kept);
    ok_ = kept == 1;
  }
  ~Machine() {
    component_ = nullptr;
    ns_ = nullptr;
    if (app_) app_->Quit();
    app_ = nullptr;
    CoUninitialize();
  }
  bool ok() const { return ok_; }

  // The whole upgrade; false when a step did not do its work.
  bool upgrade(int notes) {
    Variant path = Variant::from_utf8(kUpdateStore),
            form = Variant::from_utf8("IPM.Post.ScribbixPost2");
    LONG n = -1;
    component_->BeginUpdate(&path.get(), &form.get(), &n);
    if (n != notes) return false;
    for (LONG i = 0; i < n; ++i) {
      LONG r = -1;
      component_->NextUpdate(&r);
      if (r != 0) return false;
    }
    LONG r = -1;
    return SUCCEEDED(component_->EndUpdate(&r)) && r == 0;
  }

 private:
  sx::testing::TempMachine machine_{sx::testing::TempMachine::Clock::kReal};
  ComPtr<_Update1> component_;
  ComPtr<_Application> app_;
  ComPtr<_NameSpace> ns_;
  bool ok_ = false;
};

void upgrade(benchmark::State& state, const char* message_class) {
  const int notes = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto machine = std::make_unique<Machine>(notes, message_class);
    if (!machine->ok()) {
      state.SkipWithError("the machine could not be made");
      return;
    }
    state.ResumeTiming();
    const bool done = machine->upgrade(notes);
    state.PauseTiming();
    machine.reset();
    state.ResumeTiming();
    if (!done) {
      state.SkipWithError("the upgrade did not carry every note");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * notes);
}

void BM_UpgradeOlderNotes(benchmark::State& state) { upgrade(state, "IPM.Post.ScribbixPost"); }
void BM_UpgradeCurrentNotes(benchmark::State& state) { upgrade(state, "IPM.Post.ScribbixPost2"); }

BENCHMARK(BM_UpgradeOlderNotes)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_UpgradeCurrentNotes)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
