// Gate addresses through the single-address parser against the demo network: options, macros,
// special gates and arbitrary bytes. The first byte chooses the gate type and the gate id.
#include <cstdint>
#include <cstring>
#include <string>

#include "address/address_parser.h"
#include "config/macros.h"
#include "config/share_data.h"
#include "fuzz/fuzz_support.h"

namespace {
FuzzDriver* driver;
ShareData share;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  driver = &FuzzSetUp("[Lns]\nNetwork=Demo\n[Macros]\n#001 = Building.Floor1\n#R = Building\n", true);
  driver->instance->shareView = &share;
  LoadMacros(&driver->request, &driver->instance->macros);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string address(reinterpret_cast<const char*>(data + 1), size - 1);
  GateAddressParams params;
  std::memset(&params, 0xA5, sizeof(params));
  params.address = address.c_str();
  params.gateId = 1 + (data[0] >> 4);
  params.gateType = data[0] % 10;
  driver->request.command = kSingleAddressParser;
  driver->request.params = &params;
  SingleAddressParser(&driver->request);
  FuzzForgetHostRecords();
  return 0;
}
