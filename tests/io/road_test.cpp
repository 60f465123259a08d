// One gate from its address to a live value, through VpiMain, the worker, the parser, the
// simulated network and the host stand-in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/host_records.h"
#include "core/vpi_main.h"
#include "host/kest_host.h"
#include "netsim/lonsim_control.h"
#include "platform/process_shared.h"
#include "tests/support/temp_dir.h"

namespace {

// An input, so that the host may write it too.
const char kSetpoint[] = "Building.Floor1.Room101.nviSetpoint";
constexpr uint32_t kGate = 5;

float GateFloat(uint32_t gateId) {
  kesthost::Gate g;
  if (!kesthost::GetGate(gateId, &g)) return -1000.0f;
  float f;
  std::memcpy(&f, &g.raw, sizeof f);
  return f;
}

std::vector<int64_t> MonitorArgs() {
  return lonsim::LastArgs("MonitorNV");
}

TEST(RoadOfOneGate, FromAddressToLiveValue) {
  ScopedTempDir dir;
  dir.WriteFile("TELMAR01.int", "[Lns]\nNetwork=Demo\n[Macros]\n");
  kesthost::Reset();
  lonsim::Reset();
  lonsim::UseManualClock();
  ProcessSharedData()->stationActive = 0;

  VpiInfo info{};
  VpiRequest infoRequest{nullptr, kGetVpiInfo, 1, 0, &info};
  ASSERT_EQ(VpiMain(&infoRequest), 0u);
  ASSERT_GT(info.instanceSize, 0u);
  std::unique_ptr<void, decltype(&std::free)> block(
      std::aligned_alloc(64, (info.instanceSize + 63) / 64 * 64), &std::free);
  ASSERT_NE(block, nullptr);
  auto* instance = static_cast<DriverInstance*>(block.get());

  ColdStartParams cold{};
  cold.connectNetwork = 1;
  VpiRequest start{instance, kColdStart, 1, 0, &cold};
  ASSERT_EQ(VpiMain(&start), 0u);

  ASSERT_TRUE(lonsim::SetNVValue(kSetpoint, 20.5));
  lonsim::Drain();
  kesthost::Gate gate;
  gate.id = kGate;
  gate.type = 3;
  gate.address = kSetpoint;
  gate.updateMode = 2;
  kesthost::AddGate(gate);

  GateAddressParams parse{};
  parse.address = kSetpoint;
  parse.gateId = kGate;
  parse.gateType = 3;
  VpiRequest parseRequest{instance, kSingleAddressParser, 1, 0, &parse};
  ASSERT_EQ(VpiMain(&parseRequest), 0u);
  EXPECT_EQ(parse.bindingWord & 0xFF, 1u);
  ASSERT_NE(parse.nvItem, nullptr);

  // The worker starts listening after the parse has returned: first value, monitoring off.
  ASSERT_TRUE(kesthost::WaitFor([] { return MonitorArgs() == std::vector<int64_t>{0}; }));
  EXPECT_FLOAT_EQ(GateFloat(kGate), 20.5f);

  kesthost::PushMessage(kMsgHbActive);
  ASSERT_TRUE(kesthost::WaitFor([] { return MonitorArgs() == std::vector<int64_t>{1}; }));
  EXPECT_EQ(ProcessSharedData()->stationActive.load(), 1);

  ASSERT_TRUE(lonsim::SetNVValue(kSetpoint, 26.75));
  lonsim::Drain();
  EXPECT_FLOAT_EQ(GateFloat(kGate), 26.75f);

  GateIoParams io{};
  uint32_t cell = 0;
  io.address = kSetpoint;
  io.nodeValue = parse.nodeValue;
  io.bindingWord = parse.bindingWord;
  io.nvItem = parse.nvItem;
  io.gateType = 3;
  io.valueCell = &cell;
  VpiRequest read{instance, kSingleRead, 1, 0, &io};
  ASSERT_EQ(VpiMain(&read), 0u);
  float f;
  std::memcpy(&f, &cell, sizeof f);
  EXPECT_FLOAT_EQ(f, 26.75f);

  float written = 18.0f;
  std::memcpy(&cell, &written, sizeof cell);
  VpiRequest write{instance, kSingleWrite, 1, 0, &io};
  ASSERT_EQ(VpiMain(&write), 0u);
  double onNetwork = 0;
  ASSERT_TRUE(lonsim::GetNVValue(kSetpoint, &onNetwork));
  EXPECT_DOUBLE_EQ(onNetwork, 18.0);
  lonsim::Drain();
  EXPECT_FLOAT_EQ(GateFloat(kGate), 18.0f) << "the write comes back through the listener";

  VpiRequest end{instance, kEndVpi, 1, 0, nullptr};
  EXPECT_EQ(VpiMain(&end), 0u);
  EXPECT_TRUE(kesthost::LogContains("TelMAR: driver unloaded", 32));
  ProcessSharedData()->stationActive = 0;
  ProcessSharedRemove();
  lonsim::Reset();
}

}  // namespace
