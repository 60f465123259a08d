// The shared macro block as another process could leave it (arbitrary 514 bytes), followed by
// an address parse, which takes over the pending macro, and a browse command, which reads the
// delimiter and client id and writes the pending macro back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "address/address_parser.h"
#include "browser/browse_address.h"
#include "browser/dialog_script.h"
#include "config/share_data.h"
#include "fuzz/fuzz_support.h"

namespace {

FuzzDriver* driver;

int PickLongPathAndOk(const TelmarDialogApi* api, TelmarDialog* dlg, void*) {
  api->selectTreePath(dlg, "Building.Floor1.Room101.nvoSpaceTemp");
  api->selectBinding(dlg, 1);
  api->click(dlg, kTelmarIdOk);
  return 0;
}

void LeaveBlock(const uint8_t* data, size_t size) {
  std::memset(driver->instance->shareView, 0, sizeof(ShareData));
  std::memcpy(driver->instance->shareView, data, size < sizeof(ShareData) ? size : sizeof(ShareData));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  driver = &FuzzSetUp("[Lns]\n[Macros]\n", true);
  if (CreateShareData(&driver->request) != 0) __builtin_trap();
  std::atexit([] { RemoveShareData(1); });
  SetDialogScript(PickLongPathAndOk, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::ofstream("TELMAR01.int", std::ios::trunc) << "[Lns]\n[Macros]\n";
  driver->instance->macros.RemoveAll();

  LeaveBlock(data, size);
  GateAddressParams params{};
  params.address = "Building.Floor1.Room101.nvoSpaceTemp";
  params.gateId = 1;
  params.gateType = 3;
  driver->request.command = kSingleAddressParser;
  driver->request.params = &params;
  SingleAddressParser(&driver->request);

  LeaveBlock(data, size);
  char address[kBrowseAddressCapacity];
  std::memset(address, 0x5A, sizeof(address));
  BrowseParams browse{address};
  VpiRequest request{};
  request.command = kBrowseAddress;
  request.instanceNumber = 1;
  request.params = &browse;
  BrowseAddress(&request);
  FuzzForgetHostRecords();
  return 0;
}
