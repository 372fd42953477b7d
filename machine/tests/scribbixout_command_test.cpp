// The machine tool installs the Outlook access component the way setup does: COM then creates
// "ScribbixOut.Class1" from the installation directory; uninstalling takes it away again.
#include <gtest/gtest.h>

#include "comdef.h"
#include "machine_files.h"
#include "registry_test_util.h"
#include "scribbixout/scribbixout.h"
#include "sx/testing/temp_machine.h"

namespace sx::registry::testing {
namespace {

class ScribbixOutCommandTest : public ::testing::Test {
 protected:
  sx::testing::TempMachine machine_;
};

HRESULT create_component() {
  CoInitialize(nullptr);
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(u"ScribbixOut.Class1", &clsid);
  if (SUCCEEDED(hr)) {
    sx::com::ComPtr<_Class1> component;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, _Class1::kIid, component.PutVoid());
    LONG loaded = -1;
    if (SUCCEEDED(hr)) hr = component->IsOutlookLoaded(&loaded);
    if (SUCCEEDED(hr) && loaded != 0) hr = E_UNEXPECTED;
  }
  CoFreeUnusedLibraries();
  CoUninitialize();
  return hr;
}

TEST_F(ScribbixOutCommandTest, InstallPutsTheServerInThePathAndRegistersItUninstallUndoesIt) {
  ToolResult r = run_tool({"scribbixout", "install"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_TRUE(
      std::filesystem::exists(machine_.c("Program Files\\Vorlan\\Scribbix\\ScribbixOut.dll")));
  r = run_tool({"reg", "query", "HKLM\\SOFTWARE\\Vorlan Software\\Scribbix", "/v", "Path"});
  EXPECT_NE(r.output.find("C:\\Program Files\\Vorlan\\Scribbix"), std::string::npos) << r.output;
  EXPECT_EQ(create_component(), S_OK);
  ASSERT_EQ(run_tool({"scribbixout", "install"}).exit_code, 0);  // again: replaced in place
  EXPECT_EQ(create_component(), S_OK);

  r = run_tool({"scribbixout", "uninstall"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_FALSE(
      std::filesystem::exists(machine_.c("Program Files\\Vorlan\\Scribbix\\ScribbixOut.dll")));
  EXPECT_EQ(create_component(), CO_E_CLASSSTRING);
  r = run_tool({"scribbixout", "uninstall"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("ScribbixOut is not installed"), std::string::npos) << r.output;
}

TEST_F(ScribbixOutCommandTest, AFailedUpgradeLeavesTheInstalledServer) {
  ASSERT_EQ(run_tool({"scribbixout", "install"}).exit_code, 0);
  const auto before = files_of(machine_.root());
  write_file(machine_.root() / "not-a-library.dll", "MZ nothing to load");
  for (const std::string& file : {(machine_.root() / "missing.dll").string(),
                                  (machine_.root() / "not-a-library.dll").string()}) {
    ToolResult r = run_tool({"scribbixout", "install", "--file", file, "--path", "C:\\Elsewhere"});
    EXPECT_EQ(r.exit_code, 1) << file;
    EXPECT_NE(r.output.find("The machine is as it was."), std::string::npos) << r.output;
    auto after = files_of(machine_.root());
    after.erase("not-a-library.dll");
    EXPECT_EQ(after, before) << file;  // the old server, its keys and no temporary left
  }
  EXPECT_FALSE(std::filesystem::exists(machine_.c("Elsewhere")));  // "Path" was set already
  EXPECT_EQ(create_component(), S_OK);
}

}  // namespace
}  // namespace sx::registry::testing
