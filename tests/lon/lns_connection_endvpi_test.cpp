// Network events keep arriving while the driver stops: EndVpi ends cleanly, and once it has
// returned no event reaches the host any more.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "core/host_records.h"
#include "core/test_point.h"
#include "core/vpi_main.h"
#include "host/kest_host.h"
#include "netsim/lonsim_control.h"
#include "platform/process_shared.h"
#include "tests/support/temp_dir.h"

namespace {

const char kSpaceTemp[] = "Building.Floor1.Room101.nvoSpaceTemp";
const char kRoom[] = "Building.Floor1.Room101";
const char kPump[] = "Building.Plant.Pump";
constexpr uint32_t kTempGate = 5;
constexpr uint32_t kPumpGate = 6;
constexpr uint32_t kPinGate = 7;

void AddGate(uint32_t id, uint16_t type, const char* address, int32_t updateMode) {
  kesthost::Gate g;
  g.id = id;
  g.type = type;
  g.address = address;
  g.updateMode = updateMode;
  kesthost::AddGate(g);
}

uint32_t Command(DriverInstance* instance, uint32_t command, void* params) {
  VpiRequest r{instance, command, 1, 0, params};
  return VpiMain(&r);
}

uint32_t Parse(DriverInstance* instance, const char* address, uint32_t gateId, uint32_t type) {
  GateAddressParams p{};
  p.address = address;
  p.gateId = gateId;
  p.gateType = type;
  return Command(instance, kSingleAddressParser, &p);
}

uint64_t PutsOf(uint32_t id) {
  kesthost::Gate g;
  return kesthost::GetGate(id, &g) ? g.puts : 0;
}
uint64_t Puts() {
  return PutsOf(kTempGate) + PutsOf(kPumpGate) + PutsOf(kPinGate);
}

// Raises every kind of network event as fast as it can until stopped.
class Storm {
 public:
  Storm()
      : thread_([this] {
          for (int i = 0; !stop_.load(); ++i) {
            lonsim::SetNVValue(kSpaceTemp, 15.0 + (i % 100) * 0.1);
            lonsim::SetDeviceAttached(kPump, (i & 1) != 0);
            if (i % 8 == 0) lonsim::PressServicePin(kRoom);
            raised_.store(i + 1);
          }
        }) {}
  ~Storm() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  int Raised() const { return raised_.load(); }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<int> raised_{0};
  std::thread thread_;
};

TEST(LnsConnectionEndVpi, CallbackStormDuringEndVpiEndsCleanly) {
  ScopedTempDir dir;
  dir.WriteFile("TELMAR01.int", "[Lns]\nNetwork=Demo\n[Macros]\n");
  kesthost::Reset();
  lonsim::Reset();
  lonsim::UseManualClock();
  ProcessSharedData()->stationActive = 0;

  VpiInfo info{};
  ASSERT_EQ(Command(nullptr, kGetVpiInfo, &info), 0u);
  auto release = [](void* p) { ::operator delete (p, std::align_val_t{64}); };
  std::unique_ptr<void, decltype(release)> block(
      ::operator new ((info.instanceSize + 63) / 64 * 64, std::align_val_t{64}), release);
  ASSERT_NE(block, nullptr);
  auto* instance = static_cast<DriverInstance*>(block.get());

  AddGate(kTempGate, 3, kSpaceTemp, 2);
  AddGate(kPumpGate, 0, kPump, 0);
  AddGate(kPinGate, 7, "!ServicePin", 0);

  for (int cycle = 0; cycle < 5; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    uint64_t temp = PutsOf(kTempGate), pump = PutsOf(kPumpGate), pin = PutsOf(kPinGate);
    ColdStartParams cold{};
    cold.connectNetwork = 1;
    ASSERT_EQ(Command(instance, kColdStart, &cold), 0u);
    ASSERT_EQ(Parse(instance, kSpaceTemp, kTempGate, 3), 0u);
    ASSERT_EQ(Parse(instance, kPump, kPumpGate, 0), 0u);
    ASSERT_EQ(Parse(instance, "!ServicePin", kPinGate, 7), 0u);
    // The temperature gate listens once the worker has given it its first value; the station
    // turning active switches monitoring on.
    ASSERT_TRUE(kesthost::WaitFor([&] { return PutsOf(kTempGate) > temp; }));
    lonsim::ResetCounters();
    kesthost::PushMessage(kMsgHbActive);
    ASSERT_TRUE(
        kesthost::WaitFor([] { return lonsim::LastArgs("MonitorNV") == std::vector<int64_t>{1}; }));

    Storm storm;
    // Every kind of event is arriving when EndVpi starts.
    ASSERT_TRUE(kesthost::WaitFor([&] {
      return PutsOf(kTempGate) > temp + 50 && PutsOf(kPumpGate) > pump + 50 &&
             PutsOf(kPinGate) > pin + 5;
    }));
    ASSERT_EQ(Command(instance, kEndVpi, nullptr), 0u);

    // From here on nothing may reach the host, however many events are still raised.
    uint64_t atEnd = Puts();
    size_t logAtEnd = kesthost::Log().size();
    int raisedAtEnd = storm.Raised();
    ASSERT_TRUE(kesthost::WaitFor([&] { return storm.Raised() > raisedAtEnd + 100; }));
    storm.Stop();
    lonsim::SetNVValue(kSpaceTemp, 30.0);
    lonsim::SetDeviceAttached(kPump, true);
    lonsim::PressServicePin(kRoom);
    lonsim::Drain();
    EXPECT_EQ(Puts(), atEnd);
    EXPECT_EQ(kesthost::Log().size(), logAtEnd);
    EXPECT_TRUE(kesthost::LogContains("TelMAR: driver unloaded", 32));
    kesthost::ClearLog();
  }
  ProcessSharedData()->stationActive = 0;
  ProcessSharedRemove();
  lonsim::Reset();
}

// A change that the library delivers while EndVpi is between ending the connection and ending
// the host registration finds the driver as it was before EndVpi, not a client id of 0.
void DeliverAChangeInsideEndVpi(const char* point) {
  if (std::string(point) != "EndVpi:between connection and client") return;
  lonsim::SetNVValue(kSpaceTemp, 27.5);
  lonsim::Drain();
}

TEST(LnsConnectionEndVpi, AnUpdateInFlightDuringEndVpiNeverCallsTheHostWithoutAClient) {
  ScopedTempDir dir;
  dir.WriteFile("TELMAR01.int", "[Lns]\nNetwork=Demo\n[Macros]\n");
  kesthost::Reset();
  lonsim::Reset();
  lonsim::UseManualClock();
  ProcessSharedData()->stationActive = 1;
  VpiInfo info{};
  ASSERT_EQ(Command(nullptr, kGetVpiInfo, &info), 0u);
  auto release = [](void* p) { ::operator delete (p, std::align_val_t{64}); };
  std::unique_ptr<void, decltype(release)> block(
      ::operator new ((info.instanceSize + 63) / 64 * 64, std::align_val_t{64}), release);
  auto* instance = static_cast<DriverInstance*>(block.get());
  AddGate(kTempGate, 3, kSpaceTemp, 2);
  ColdStartParams cold{};
  cold.connectNetwork = 1;
  ASSERT_EQ(Command(instance, kColdStart, &cold), 0u);
  ASSERT_EQ(Parse(instance, kSpaceTemp, kTempGate, 3), 0u);
  ASSERT_TRUE(kesthost::WaitFor([] { return PutsOf(kTempGate) > 0; }));

  SetTestPointHook(DeliverAChangeInsideEndVpi);
  EXPECT_EQ(Command(instance, kEndVpi, nullptr), 0u);
  SetTestPointHook(nullptr);
  EXPECT_FALSE(kesthost::LogContains("no GlobalInst or bad hook"));
  EXPECT_FALSE(kesthost::LogContains("KestGatePutValueFromVariant fail"));
  ProcessSharedData()->stationActive = 0;
  ProcessSharedRemove();
  lonsim::Reset();
}

}  // namespace
