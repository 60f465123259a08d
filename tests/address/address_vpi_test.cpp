// Gate addresses through the driver's entry point, with the worker running on the demo network.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/share_data.h"
#include "core/driver_instance.h"
#include "core/vpi_main.h"
#include "host/kest_host.h"
#include "netsim/lonsim_control.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(AddressVpiTest, ParsedGatesAreServedByTheWorkerAfterTheCommand) {
  kesthost::Reset();
  lonsim::Reset();
  ScopedTempDir dir;
  dir.WriteFile("TELMAR03.int", "[Lns]\nNetwork=Demo\n[Macros]\n#R = Building.Floor1.Room101\n");
  alignas(DriverInstance) unsigned char block[sizeof(DriverInstance)];
  auto call = [&](uint32_t command, void* params) {
    VpiRequest request{reinterpret_cast<DriverInstance*>(block), command, 3, 0, params};
    return VpiMain(&request);
  };
  GateAddressParams p{};
  auto parse = [&](const char* address, uint32_t gateId, uint32_t gateType) {
    std::memset(&p, 0xA5, sizeof(p));
    p.address = address;
    p.gateId = gateId;
    p.gateType = gateType;
    return call(kSingleAddressParser, &p);
  };
  auto gate = [](uint32_t id) {
    kesthost::Gate g;
    kesthost::GetGate(id, &g);
    return g;
  };
  kesthost::Gate g;
  g.id = 1, g.type = 3, g.updateMode = 2;
  kesthost::AddGate(g);
  g.id = 2, g.type = 1, g.updateMode = 0;
  kesthost::AddGate(g);
  ColdStartParams cold{};
  cold.connectNetwork = 1;
  ASSERT_EQ(call(kColdStart, &cold), 0u);

  // A browser in another process left a new macro; the address using it parses at once.
  VpiRequest browse{nullptr, kBrowseAddress, 3, 0, nullptr};
  SharedMemory* handle = nullptr;
  ShareData* view = nullptr;
  ASSERT_EQ(OpenShareData(&browse, &handle, &view), 0);
  std::strcpy(view->pendingValue, "Building.Floor1");
  std::strcpy(view->pendingName, "#F1");
  EXPECT_EQ(parse("#F1.Room101.nvoSpaceTemp /F:r", 1, 3), 0u);
  EXPECT_EQ(p.bindingWord, 1u);
  EXPECT_EQ(p.nodeValue, lonsim::DeviceHandle("Building.Floor1.Room101"));
  EXPECT_EQ(view->pendingName[0] | view->pendingValue[0], 0);
  CloseShareData(handle, view);
  EXPECT_NE(dir.ReadFile("TELMAR03.int").find("#F1 = Building.Floor1"), std::string::npos);
  // updateMode 2: after the command the worker starts listening and puts the current value.
  EXPECT_TRUE(kesthost::WaitFor([&] { return gate(1).puts > 0; }));

  EXPECT_EQ(parse("#R", 2, 1), 1u);
  EXPECT_EQ(parse("#R /M:b", 2, 1), 1u);
  EXPECT_EQ(parse("#R.x", 2, 1), 1u);
  EXPECT_EQ(parse("#F1.Room101/M:b", 2, 1), 0u);
  EXPECT_EQ(p.bindingWord, 3u);
  EXPECT_TRUE(kesthost::WaitFor([&] { return gate(2).raw == 0x10000u; }));
  EXPECT_EQ(parse("!servicepin", 3, 7), 0u);
  EXPECT_EQ(p.bindingWord, 0x0104u);
  EXPECT_EQ(call(kBlockAddressParser, &p), 1u);
  EXPECT_EQ(call(kEndVpi, nullptr), 0u);
}

}  // namespace
