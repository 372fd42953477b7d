#include "variant_args.h"

namespace sx::assist {

VARIANT* target_of(VARIANT* arg) {
  if (arg != nullptr && arg->vt == (VT_BYREF | VT_VARIANT)) return arg->pvarVal;
  return arg;
}

bool given(VARIANT* arg) {
  const VARIANT* v = target_of(arg);
  if (v == nullptr) return false;
  const VARTYPE type = v->vt & ~VT_BYREF;
  return type != VT_EMPTY && type != VT_NULL;
}

std::u16string text_of(VARIANT* arg) {
  const sx::com::Variant text = sx::com::Variant(*target_of(arg)).changed_to(VT_BSTR);
  return sx::com::bstr_to_u16(text.get().bstrVal);
}

double number_of(VARIANT* arg) { return sx::com::Variant(*target_of(arg)).to_r8(); }
LONG long_of(VARIANT* arg) { return sx::com::Variant(*target_of(arg)).to_i4(); }
DATE date_of(VARIANT* arg) { return sx::com::Variant(*target_of(arg)).to_date(); }

void put(VARIANT* arg, sx::com::Variant value) {
  VARIANT* v = target_of(arg);
  if (v == nullptr) return;
  VariantClear(v);
  *v = value.detach();
}

}  // namespace sx::assist
