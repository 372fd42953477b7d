// Class1's late-bound side: the thirteen methods by name, with the dispatch ids of the type
// library. Arguments are the caller's VARIANTs (by reference when the caller passes them so, which
// lets the filled values of ReadItem and OutlookVersionString reach it); the result is a VT_I4.
#include <array>
#include <tuple>

#include "class1.h"

namespace sx::assist {
namespace {

using sx::com::DispatchArgs;

// Calls `method` with the `count` arguments given (missing ones are null, "not given"), and
// hands back its LONG as the result.
template <std::size_t count, class Method>
sx::com::DispatchTable::Handler handler(Class1* object, Method method) {
  return [object, method](WORD, const DispatchArgs& args, VARIANT* result) -> HRESULT {
    std::array<VARIANT*, count> slots{};
    for (std::size_t i = 0; i < count; ++i)
      slots[i] = i < args.count() && !args.omitted(static_cast<UINT>(i))
                     ? args.at(static_cast<UINT>(i))
                     : nullptr;
    LONG value = 0;
    const HRESULT hr =
        std::apply([&](auto*... v) { return (object->*method)(v..., &value); }, slots);
    if (SUCCEEDED(hr) && result != nullptr) {
      VariantClear(result);
      result->vt = VT_I4;
      result->lVal = value;
    }
    return hr;
  };
}

}  // namespace

void Class1::build_dispatch_table() {
  using namespace scribbixout;
  table_.add(u"IsOutlookLoaded", handler<0>(this, &Class1::IsOutlookLoaded), kDispIsOutlookLoaded);
  table_.add(u"LoadOutlook", handler<0>(this, &Class1::LoadOutlook), kDispLoadOutlook);
  table_.add(u"UnloadOutlook", handler<0>(this, &Class1::UnloadOutlook), kDispUnloadOutlook);
  table_.add(u"LogonOutlook", handler<1>(this, &Class1::LogonOutlook), kDispLogonOutlook);
  table_.add(u"GetScribbixFolder", handler<0>(this, &Class1::GetScribbixFolder),
             kDispGetScribbixFolder);
  table_.add(u"BeginItem", handler<0>(this, &Class1::BeginItem), kDispBeginItem);
  table_.add(u"NextItem", handler<0>(this, &Class1::NextItem), kDispNextItem);
  table_.add(u"EndItem", handler<0>(this, &Class1::EndItem), kDispEndItem);
  table_.add(u"ReadItem", handler<9>(this, &Class1::ReadItem), kDispReadItem);
  table_.add(u"NewItem", handler<9>(this, &Class1::NewItem), kDispNewItem);
  table_.add(u"UpdateItem", handler<9>(this, &Class1::UpdateItem), kDispUpdateItem);
  table_.add(u"DeleteItem", handler<1>(this, &Class1::DeleteItem), kDispDeleteItem);
  table_.add(u"OutlookVersionString", handler<1>(this, &Class1::OutlookVersionString),
             kDispOutlookVersionString);
}

}  // namespace sx::assist
