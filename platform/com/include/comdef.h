// Compiler-support style COM helpers, as <comdef.h> offers them on Windows: the error exception
// (sx::com::ComError, like _com_error), the smart pointer (sx::com::ComPtr), the owning VARIANT
// (sx::com::Variant, like _variant_t) and the owning BSTR (sx::com::Bstr).
#pragma once

#include "com/com_error.h"
#include "com/dispatch_table.h"
#include "com/object.h"
#include "com/proxy.h"
#include "com/ptr.h"
#include "com/variant_value.h"
#include "objbase.h"
