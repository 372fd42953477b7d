// The machine tool installs the folder maintenance component the way setup does: the server and
// the update store "SXUpdate.pst" go into the installation directory, COM then creates
// "ScribbixUpdate.Update1" from there, and the installed store is the one a fresh install names
// into the notes layout; uninstalling takes both away again.
#include <gtest/gtest.h>

#include "comdef.h"
#include "machine_files.h"
#include "outlook/outlook.h"
#include "registry_test_util.h"
#include "scribbixupdate/scribbixupdate.h"
#include "sx/testing/temp_machine.h"

namespace sx::registry::testing {
namespace {

using sx::com::Bstr;
using sx::com::ComPtr;
using sx::com::Variant;

class ScribbixUpdateCommandTest : public ::testing::Test {
 protected:
  sx::testing::TempMachine machine_;
};

// Creates the component, hands it the namespace of the default profile and names the installed
// update store into the notes layout (AddPst); the HRESULT of the first failure, or AddPst's code.
LONG add_installed_store() {
  CoInitialize(nullptr);
  LONG code = -1;
  {
    CLSID clsid{};
    ComPtr<_Update1> component;
    ComPtr<_Application> app;
    ComPtr<_NameSpace> ns;
    if (SUCCEEDED(CLSIDFromProgID(u"ScribbixUpdate.Update1", &clsid)) &&
        SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, _Update1::kIid,
                                   component.PutVoid())) &&
        SUCCEEDED(CLSIDFromProgID(u"Outlook.Application", &clsid)) &&
        SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, _Application::kIid,
                                   app.PutVoid())) &&
        SUCCEEDED(app->GetNamespace(Bstr(u"MAPI").get(), ns.ReleaseAndGetAddressOf()))) {
      Variant none;
      ns->Logon(none.get(), none.get(), none.get(), none.get());
      _NameSpace* given = ns.Get();
      LONG kept = 0;
      component->SetNameSpace(&given, &kept);
      Variant path = Variant::from_utf8("C:\\Program Files\\Vorlan\\Scribbix\\SXUpdate.pst");
      component->AddPst(&path.get(), &code);
      component = nullptr;
      ns = nullptr;
      app->Quit();
    }
  }
  CoFreeUnusedLibraries();
  CoUninitialize();
  return code;
}

TEST_F(ScribbixUpdateCommandTest, InstallPutsTheServerAndTheUpdateStoreInThePathUninstallUndoesIt) {
  ASSERT_EQ(run_tool({"outlook", "install"}).exit_code, 0);
  ToolResult r = run_tool({"scribbixupdate", "install"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const auto dir = machine_.c("Program Files\\Vorlan\\Scribbix");
  EXPECT_TRUE(std::filesystem::exists(dir / "ScribbixUpdate.dll"));
  EXPECT_TRUE(std::filesystem::exists(dir / "SXUpdate.pst"));
  EXPECT_EQ(add_installed_store(), 0);
  r = run_tool({"scribbixupdate", "uninstall"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_FALSE(std::filesystem::exists(dir / "ScribbixUpdate.dll"));
  EXPECT_FALSE(std::filesystem::exists(dir / "SXUpdate.pst"));
  r = run_tool({"scribbixupdate", "uninstall"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("ScribbixUpdate is not installed"), std::string::npos) << r.output;
}

TEST_F(ScribbixUpdateCommandTest, AFailedUpgradeLeavesTheInstalledFiles) {
  ASSERT_EQ(run_tool({"scribbixupdate", "install"}).exit_code, 0);
  const auto before = files_of(machine_.root());
  write_file(machine_.root() / "not-a-library.dll", "MZ nothing to load");
  ToolResult r = run_tool(
      {"scribbixupdate", "install", "--file", (machine_.root() / "not-a-library.dll").string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("The machine is as it was."), std::string::npos) << r.output;
  auto after = files_of(machine_.root());
  after.erase("not-a-library.dll");
  EXPECT_EQ(after, before);  // the old server, the update store, the keys, no temporary left
}

}  // namespace
}  // namespace sx::registry::testing
