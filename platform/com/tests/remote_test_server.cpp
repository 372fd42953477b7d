// The other process of the tests between processes.
//
//   sxcom_remote_test_server MACHINE serve   registers the probe class for the machine and serves
//                                            it; writes MACHINE/released each time the last
//                                            reference other processes held is given back
//   sxcom_remote_test_server MACHINE hold    creates a probe from the server and a child of it,
//                                            writes MACHINE/holding, and waits to be killed
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "remote_objects.h"
#include "sx/machine.h"

SX_COM_PROXY(IProbe, SX_TEST_PROBE_MEMBERS);

namespace {

int serve(const std::string& machine) {
  CoInitialize(nullptr);
  sx::com::on_last_external_release([machine] {
    std::ofstream(machine + "/released", std::ios::app) << "released\n";
  });
  DWORD cookie = 0;
  auto factory = sx::com::make_class_factory<remote_test::Probe>();
  if (FAILED(CoRegisterClassObject(kProbeClsid, factory.Get(), CLSCTX_LOCAL_SERVER,
                                   REGCLS_MULTIPLEUSE, &cookie))) {
    return 2;
  }
  remote_test::Probe::on_revoke = [&cookie] {
    CoRevokeClassObject(cookie);
    cookie = 0;
  };
  sx::com::run_message_loop();
  if (cookie != 0) CoRevokeClassObject(cookie);
  CoUninitialize();
  return 0;
}

int hold(const std::string& machine) {
  CoInitialize(nullptr);
  sx::com::ComPtr<IProbe> probe;
  if (FAILED(CoCreateInstance(kProbeClsid, nullptr, CLSCTX_LOCAL_SERVER, IProbe::kIid,
                              probe.PutVoid()))) {
    return 3;
  }
  sx::com::ComPtr<IProbe> child;
  if (FAILED(probe->MakeChild(child.ReleaseAndGetAddressOf()))) return 4;
  std::ofstream(machine + "/holding") << "holding\n";
  for (;;) Sleep(1000);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 1;
  const std::string machine = argv[1];
  sx::machine::set_root(machine);
  if (std::strcmp(argv[2], "serve") == 0) return serve(machine);
  if (std::strcmp(argv[2], "hold") == 0) return hold(machine);
  return 1;
}
