// Update1's late-bound side: the nineteen methods by name, with the dispatch ids of the type
// library. Arguments are the caller's VARIANTs (missing ones are "not given"); the result is the
// method's value (VT_I4, VT_BOOL, or the VARIANT ShortcutGroups gives).
#include <array>
#include <tuple>

#include "update1.h"

namespace sx::update {
namespace {

using sx::com::DispatchArgs;
using sx::com::Variant;

template <std::size_t count>
std::array<VARIANT*, count> slots_of(const DispatchArgs& args) {
  std::array<VARIANT*, count> slots{};
  for (std::size_t i = 0; i < count; ++i)
    slots[i] = i < args.count() && !args.omitted(static_cast<UINT>(i))
                   ? args.at(static_cast<UINT>(i))
                   : nullptr;
  return slots;
}

void put_result(VARIANT* result, Variant value) {
  if (result == nullptr) return;
  VariantClear(result);
  *result = value.detach();
}

// A method with `count` VARIANT arguments and a result of type R, handed back as a VARIANT.
template <std::size_t count, class R, class Method>
sx::com::DispatchTable::Handler handler(Update1* object, Method method) {
  return [object, method](WORD, const DispatchArgs& args, VARIANT* result) -> HRESULT {
    R value{};
    const HRESULT hr = std::apply([&](auto*... v) { return (object->*method)(v..., &value); },
                                  slots_of<count>(args));
    if (FAILED(hr)) return hr;
    if constexpr (std::is_same_v<R, LONG>) put_result(result, Variant::from_i4(value));
    if constexpr (std::is_same_v<R, VARIANT_BOOL>)
      put_result(result, Variant::from_bool(value != VARIANT_FALSE));
    if constexpr (std::is_same_v<R, VARIANT>) put_result(result, Variant(value));
    if constexpr (std::is_same_v<R, VARIANT>) VariantClear(&value);
    return hr;
  };
}

// An argument that is an object reference of interface I (null when not given or Nothing).
template <class I>
HRESULT object_argument(VARIANT* arg, sx::com::ComPtr<I>* object) {
  *object = nullptr;
  if (arg != nullptr && arg->vt == (VT_BYREF | VT_VARIANT)) arg = arg->pvarVal;
  if (arg == nullptr) return S_OK;
  IUnknown* unknown = nullptr;
  if (arg->vt == VT_DISPATCH)
    unknown = arg->pdispVal;
  else if (arg->vt == VT_UNKNOWN)
    unknown = arg->punkVal;
  else if (arg->vt == (VT_BYREF | VT_DISPATCH) && arg->ppdispVal != nullptr)
    unknown = *arg->ppdispVal;
  else if (arg->vt != VT_EMPTY && arg->vt != VT_NULL)
    return DISP_E_TYPEMISMATCH;
  if (unknown == nullptr) return S_OK;
  return unknown->QueryInterface(I::kIid, object->PutVoid());
}

}  // namespace

void Update1::build_dispatch_table() {
  using namespace scribbixupdate;
  table_.add(u"AddPst", handler<1, LONG>(this, &Update1::AddPst), kDispAddPst);
  table_.add(u"RenameUpdate", handler<0, LONG>(this, &Update1::RenameUpdate), kDispRenameUpdate);
  table_.add(u"FindFolder", handler<1, LONG>(this, &Update1::FindFolder), kDispFindFolder);
  table_.add(u"RemoveUpdateFolder", handler<0, LONG>(this, &Update1::RemoveUpdateFolder),
             kDispRemoveUpdateFolder);
  table_.add(u"RemoveScribbixFolder", handler<0, LONG>(this, &Update1::RemoveScribbixFolder),
             kDispRemoveScribbixFolder);
  table_.add(u"FindAddIn", handler<1, LONG>(this, &Update1::FindAddIn), kDispFindAddIn);
  table_.add(u"SetAddIn", handler<2, LONG>(this, &Update1::SetAddIn), kDispSetAddIn);
  table_.add(u"NextUpdate", handler<0, LONG>(this, &Update1::NextUpdate), kDispNextUpdate);
  table_.add(u"BeginUpdate", handler<2, LONG>(this, &Update1::BeginUpdate), kDispBeginUpdate);
  table_.add(u"EndUpdate", handler<0, LONG>(this, &Update1::EndUpdate), kDispEndUpdate);
  table_.add(
      u"SetNameSpace",
      [this](WORD, const DispatchArgs& args, VARIANT* result) -> HRESULT {
        sx::com::ComPtr<_NameSpace> ns;
        const HRESULT hr = object_argument(slots_of<1>(args)[0], &ns);
        if (FAILED(hr)) return hr;
        _NameSpace* given = ns.Get();
        LONG value = 0;
        const HRESULT call = SetNameSpace(&given, &value);
        if (SUCCEEDED(call)) put_result(result, Variant::from_i4(value));
        return call;
      },
      kDispSetNameSpace);
  table_.add(u"CountScribbix", handler<0, LONG>(this, &Update1::CountScribbix), kDispCountScribbix);
  table_.add(u"RenameX", handler<0, LONG>(this, &Update1::RenameX), kDispRenameX);
  table_.add(u"GroupExists", handler<1, VARIANT_BOOL>(this, &Update1::GroupExists),
             kDispGroupExists);
  table_.add(u"ShortCutExists", handler<2, VARIANT_BOOL>(this, &Update1::ShortCutExists),
             kDispShortCutExists);
  table_.add(
      u"FolderShortcutCreate",
      [this](WORD, const DispatchArgs& args, VARIANT*) -> HRESULT {
        const auto slots = slots_of<2>(args);
        sx::com::ComPtr<MAPIFolder> folder;
        const HRESULT hr = object_argument(slots[1], &folder);
        if (FAILED(hr)) return hr;
        MAPIFolder* given = folder.Get();
        return FolderShortcutCreate(slots[0], &given);
      },
      kDispFolderShortcutCreate);
  table_.add(u"CheckScribbixShortcut", handler<0, LONG>(this, &Update1::CheckScribbixShortcut),
             kDispCheckScribbixShortcut);
  table_.add(
      u"ShortcutGroups",
      [this](WORD, const DispatchArgs&, VARIANT* result) -> HRESULT {
        Variant value;
        const HRESULT hr = ShortcutGroups(value.put());
        if (SUCCEEDED(hr)) put_result(result, std::move(value));
        return hr;
      },
      kDispShortcutGroups);
  table_.add(u"CreateScribbixShortcut", handler<1, LONG>(this, &Update1::CreateScribbixShortcut),
             kDispCreateScribbixShortcut);
}

}  // namespace sx::update
