#include "registration.h"

#include "scribbix/com_registration.h"
#include "scribbixout/scribbixout.h"

namespace sx::assist {
namespace {

constexpr sx::common::AutomationServer kServer{scribbixout::kClass1ProgId,
                                               scribbixout::kClass1Clsid,
                                               "_Class1",
                                               _Class1::kIid,
                                               scribbixout::kLibid,
                                               scribbixout::kLibraryHelpString,
                                               scribbixout::kLibraryLocale};

}  // namespace

HRESULT register_server(const std::string& module_path) {
  return sx::common::register_automation_server(kServer, module_path);
}

HRESULT unregister_server() { return sx::common::unregister_automation_server(kServer); }

}  // namespace sx::assist
