// One gate from its address to a live value, through VpiMain, the worker, the parser, the
// simulated network and the host stand-in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core/vpi_main.h"
#include "host/kest_host.h"
#include "netsim/lonsim_control.h"
#include "platform/process_shared.h"
#include "tests/support/temp_dir.h"

namespace {

const char kSetpoint[] = "Building.Floor1.Room101.nviSetpoint";  // an input: writable too

float GateValue(uint32_t id = 5) {
  kesthost::Gate g;
  kesthost::GetGate(id, &g);
  float f;
  std::memcpy(&f, &g.raw, sizeof f);
  return f;
}
bool MonitorIs(int64_t on) {
  return lonsim::LastArgs("MonitorNV") == std::vector<int64_t>{on};
}

// Instance 1 of the driver in a fresh directory, on the demo network with a manual clock.
class RoadOfOneGate : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.WriteFile("TELMAR01.int", "[Lns]\nNetwork=Demo\n[Macros]\n");
    kesthost::Reset();
    lonsim::Reset();
    lonsim::UseManualClock();
    ProcessSharedData()->stationActive = 0;
    VpiInfo info{};
    VpiRequest r{nullptr, kGetVpiInfo, 1, 0, &info};
    ASSERT_EQ(VpiMain(&r), 0u);
    block_ = ::operator new ((info.instanceSize + 63) / 64 * 64, std::align_val_t{64});
  }
  void TearDown() override {
    if (!block_) return;
    run(kEndVpi, nullptr);  // again, for a test that stopped before its own EndVpi
    ::operator delete (block_, std::align_val_t{64});
    ProcessSharedData()->stationActive = 0;
    ProcessSharedRemove();
    lonsim::Reset();
  }
  uint32_t run(uint32_t command, void* params) {
    VpiRequest q{static_cast<DriverInstance*>(block_), command, 1, 0, params};
    return VpiMain(&q);
  }

  ScopedTempDir dir_;
  void* block_ = nullptr;
};

TEST_F(RoadOfOneGate, FromAddressToLiveValue) {
  ColdStartParams cold{};
  cold.connectNetwork = 1;
  ASSERT_EQ(run(kColdStart, &cold), 0u);
  ASSERT_TRUE(lonsim::SetNVValue(kSetpoint, 20.5));
  kesthost::Gate gate;
  gate.id = 5, gate.type = 3, gate.address = kSetpoint, gate.updateMode = 2;
  kesthost::AddGate(gate);
  GateAddressParams parse{};
  parse.address = kSetpoint, parse.gateId = 5, parse.gateType = 3;
  ASSERT_EQ(run(kSingleAddressParser, &parse), 0u);
  ASSERT_EQ(parse.bindingWord, 1u);

  // After the parse returned, the worker makes the gate listen: first value, monitoring off.
  ASSERT_TRUE(kesthost::WaitFor([] { return MonitorIs(0); }));
  EXPECT_EQ(GateValue(), 20.5f);
  kesthost::PushMessage(kMsgHbActive);
  ASSERT_TRUE(kesthost::WaitFor([] { return MonitorIs(1); }));
  ASSERT_TRUE(lonsim::SetNVValue(kSetpoint, 26.75));
  lonsim::Drain();
  EXPECT_EQ(GateValue(), 26.75f);

  uint32_t cell = 0;
  GateIoParams io{};
  io.address = kSetpoint, io.bindingWord = parse.bindingWord, io.nvItem = parse.nvItem;
  io.gateType = 3, io.valueCell = &cell;
  ASSERT_EQ(run(kSingleRead, &io), 0u);
  EXPECT_EQ(cell, 0x41D60000u);  // 26.75f
  cell = 0x41900000u;            // 18.0f
  ASSERT_EQ(run(kSingleWrite, &io), 0u);
  double onNetwork = 0;
  ASSERT_TRUE(lonsim::GetNVValue(kSetpoint, &onNetwork));
  EXPECT_EQ(onNetwork, 18.0);
  lonsim::Drain();
  EXPECT_EQ(GateValue(), 18.0f) << "the write comes back through the listener";

  EXPECT_EQ(run(kEndVpi, nullptr), 0u);
  EXPECT_TRUE(kesthost::LogContains("TelMAR: driver unloaded", 32));
}

// A host parses a large gate list in one burst: each listening gate posts a thread message to
// the worker, which takes them only after the burst, far more than a system queue holds (10,000
// on Windows). Every gate must listen all the same.
TEST_F(RoadOfOneGate, EveryGateOfALargeParseBurstListens) {
  constexpr uint32_t kGates = 30000;
  ColdStartParams cold{};
  cold.connectNetwork = 1;
  ASSERT_EQ(run(kColdStart, &cold), 0u);
  ASSERT_TRUE(lonsim::SetNVValue(kSetpoint, 20.5));
  kesthost::Gate gate;
  gate.type = 3, gate.address = kSetpoint, gate.updateMode = 2;
  for (uint32_t id = 1; id <= kGates; ++id) {
    gate.id = id;
    kesthost::AddGate(gate);
    GateAddressParams parse{};
    parse.address = kSetpoint, parse.gateId = id, parse.gateType = 3;
    ASSERT_EQ(run(kSingleAddressParser, &parse), 0u) << id;
  }
  // Every gate gets its first value, and then every change.
  auto everyGateHas = [](float expected) {
    for (uint32_t id = 1; id <= kGates; ++id) {
      kesthost::Gate g;
      if (!kesthost::GetGate(id, &g) || g.puts == 0 || GateValue(id) != expected) return false;
    }
    return true;
  };
  // The messages are taken in order: once the last gate has its value, all have had their turn.
  ASSERT_TRUE(kesthost::WaitFor(
      [] {
        kesthost::Gate g;
        return kesthost::GetGate(kGates, &g) && g.puts > 0;
      },
      120000));
  EXPECT_TRUE(everyGateHas(20.5f));
  kesthost::PushMessage(kMsgHbActive);
  ASSERT_TRUE(kesthost::WaitFor([] { return MonitorIs(1); }));
  ASSERT_TRUE(lonsim::SetNVValue(kSetpoint, 21.25));
  lonsim::Drain();
  EXPECT_TRUE(everyGateHas(21.25f));
  EXPECT_FALSE(kesthost::LogContains("lost"));

  EXPECT_EQ(run(kEndVpi, nullptr), 0u);
}

}  // namespace
