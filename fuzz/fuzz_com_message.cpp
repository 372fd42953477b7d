// Fuzz target for what another process sends a COM object: any bytes, taken as a method number
// and its arguments, are read by the stubs made from a member list (and by IDispatch's, for
// method numbers below 16) without crashing; what cannot be read is refused with
// RPC_X_BAD_STUB_DATA and nothing else, and the results of a call that ran read back whole.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "comdef.h"

struct IFuzzed;

#define SX_FUZZED_MEMBERS(M)                                                          \
  M(Take, (BSTR, text), (LONG, number), (GUID, id), (DATE, when), (VARIANT, value))     \
  M(Give, (BSTR*, text), (LONG*, number), (VARIANT*, value), (VARIANT_BOOL*, flag))     \
  M(Objects, (IUnknown*, in), (IFuzzed**, out))                                         \
  M(Echo, (VARIANT, value), (VARIANT*, echoed))

struct IFuzzed : IDispatch {
  static constexpr IID kIid = sx::com::guid("{4F0C7A21-9D3E-4B6A-8E1F-2A3B4C5D6E70}");
  using Base = IDispatch;
  SX_COM_MEMBERS(SX_FUZZED_MEMBERS)

 protected:
  ~IFuzzed() = default;
};

SX_COM_PROXY(IFuzzed, SX_FUZZED_MEMBERS);

namespace {

class Fuzzed : public sx::com::DispatchObject<IFuzzed> {
 public:
  Fuzzed() {
    table_.add(u"Value", [](WORD, const sx::com::DispatchArgs& args, VARIANT* result) {
      if (result != nullptr && args.count() > 0) return VariantCopyInd(result, args.at(0));
      return S_OK;
    });
  }
  STDMETHODIMP Take(BSTR, LONG, GUID, DATE, VARIANT) override { return S_OK; }
  STDMETHODIMP Give(BSTR* text, LONG* number, VARIANT* value, VARIANT_BOOL* flag) override {
    if (text != nullptr) *text = SysAllocString(u"given");
    if (number != nullptr) *number = 7;
    if (value != nullptr) *value = sx::com::Variant::from_r8(0.5).detach();
    if (flag != nullptr) *flag = VARIANT_TRUE;
    return S_OK;
  }
  STDMETHODIMP Objects(IUnknown*, IFuzzed** out) override {
    if (out != nullptr) *out = nullptr;
    return S_OK;
  }
  STDMETHODIMP Echo(VARIANT value, VARIANT* echoed) override {
    if (echoed == nullptr) return E_POINTER;
    VariantInit(echoed);
    return VariantCopy(echoed, &value);
  }

 protected:
  const sx::com::DispatchTable& dispatch_table() const override { return table_; }

 private:
  sx::com::DispatchTable table_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static auto* object = sx::com::make_object<Fuzzed>().Detach();
  const sx::com::detail::RemoteInterface* remote = sx::com::detail::find_remote(IFuzzed::kIid);
  if (remote == nullptr) std::abort();
  // The first byte picks the method: IDispatch's 0-3, the list's from 16.
  const std::uint32_t method = data[0] < 4 ? data[0] : sx::com::detail::kFirstMember + data[0] % 5;
  sx::com::wire::Reader in(nullptr, data + 1, size - 1);
  sx::com::wire::Writer out(nullptr);
  try {
    (void)sx::com::detail::run_remote_method(*remote, static_cast<IFuzzed*>(object), method, in,
                                             out);
  } catch (const sx::com::wire::Failure& failure) {
    if (failure.hr != RPC_X_BAD_STUB_DATA && failure.hr != E_OUTOFMEMORY &&
        failure.hr != DISP_E_BADVARTYPE)
      std::abort();
    return 0;
  }
  // Results of the list's methods that hand back a VARIANT read back as one.
  if (method == sx::com::detail::kFirstMember + 3 && !out.data().empty()) {
    sx::com::wire::Reader back(nullptr, out.data().data(), out.data().size());
    VARIANT v;
    VariantInit(&v);
    try {
      back.variant(&v);
    } catch (const sx::com::wire::Failure&) {
      std::abort();
    }
    VariantClear(&v);
    if (!back.at_end()) std::abort();
  }
  return 0;
}
