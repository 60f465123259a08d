// ColdStart and EndVpi with the network connected (the simulated demo network).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/handoff.h"
#include "host/kest_host.h"
#include "netsim/lonsim_control.h"
#include "tests/core/driver_fixture.h"

namespace {

constexpr char kDemoOptions[] = "[Lns]\nNetwork=Demo\n[Macros]\n";
constexpr char kRoom101[] = "Building.Floor1.Room101";

class NetworkDriverTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    lonsim::Reset();
    dir_.WriteFile("TELMAR01.int", kDemoOptions);
  }
  void TearDown() override {
    DriverTest::TearDown();
    lonsim::Reset();
  }
};

TEST_F(NetworkDriverTest, ColdStartConnectsAndEndVpiReleasesTheConnection) {
  ASSERT_EQ(ColdStart(1, 1), 0u);
  EXPECT_NE(inst()->lns, nullptr);
  EXPECT_NE(inst()->listener, nullptr);
  EXPECT_EQ(lonsim::CallCount("Open"), 1);

  // A second ColdStart ends the first connection before it opens its own.
  ASSERT_EQ(ColdStart(1, 1), 0u);
  EXPECT_EQ(lonsim::CallCount("Release"), 1);
  EXPECT_EQ(lonsim::CallCount("Open"), 2);

  ASSERT_EQ(EndVpi(), 0u);
  EXPECT_EQ(lonsim::CallCount("Release"), 2);
  EXPECT_EQ(inst()->lns, nullptr);
  EXPECT_EQ(inst()->listener, nullptr);
}

TEST_F(NetworkDriverTest, FailedConnectionFailsColdStartAndIsReleasedByEndVpi) {
  lonsim::FailNext("Open");
  EXPECT_EQ(ColdStart(1, 1), 2u);
  EXPECT_GE(LogIndex("TelMAR: InitLns failed on Lns Open"), 0);
  EXPECT_GE(LogIndex("TelMAR: ColdStart(), error on InitLns()"), 0);
  EXPECT_EQ(kesthost::CallCount("KestMkClient"), 0u);
  EXPECT_NE(inst()->lns, nullptr);  // kept until EndVpi
  EXPECT_EQ(lonsim::CallCount("Release"), 0);

  // Each parse then says the cause, once, not that the name is missing.
  const std::string address = std::string(kRoom101) + ".nvoSpaceTemp";
  for (int parse = 1; parse <= 2; ++parse) {
    GateAddressParams params{};
    params.address = address.c_str();
    params.gateId = 7;
    params.gateType = 3;
    EXPECT_EQ(Call(kSingleAddressParser, &params), 1u);
    EXPECT_EQ(kesthost::LogCount("TelMAR: SingleAddressParser fail, the driver is not started "
                                 "(its ColdStart failed) (addr = '" +
                                     address + "')",
                                 32),
              size_t(parse));
  }
  EXPECT_FALSE(kesthost::LogContains("not found in Lon tree"));
  ASSERT_EQ(EndVpi(), 0u);
  EXPECT_EQ(lonsim::CallCount("Release"), 1);
}

TEST_F(NetworkDriverTest, HostShutdownSwitchesNetworkEventsOff) {
  ASSERT_EQ(ColdStart(1, 1), 0u);
  kesthost::BeginShutdown();
  ASSERT_TRUE(
      kesthost::WaitFor([] { return kesthost::LogContains("kestcon shutdown, client removed"); }));
  EXPECT_EQ(lonsim::LastArgs("EnableNotifyListeners"), std::vector<int64_t>{0});
  // Events now reach nobody.
  size_t reports = kesthost::CallCount("KestSetPlcCommStatus");
  ASSERT_TRUE(lonsim::SetDeviceAttached(kRoom101, false));
  lonsim::Drain();
  EXPECT_EQ(kesthost::CallCount("KestSetPlcCommStatus"), reports);
}

TEST_F(NetworkDriverTest, EventStormDuringEndVpiEndsCleanly) {
  ASSERT_EQ(ColdStart(1, 1), 0u);
  std::atomic<bool> stop{false};
  std::thread storm([&] {
    for (bool attached = false; !stop; attached = !attached) {
      lonsim::SetDeviceAttached(kRoom101, attached);
      lonsim::PressServicePin(kRoom101);
    }
  });
  ASSERT_TRUE(kesthost::WaitFor([] { return kesthost::CallCount("KestSetPlcCommStatus") > 10; }));
  ASSERT_EQ(EndVpi(), 0u);
  // Once EndVpi has returned, no event reaches the host any more.
  size_t reports = kesthost::CallCount("KestSetPlcCommStatus");
  size_t guards = kesthost::LogCount("no GlobalInst or bad hook");
  stop = true;
  storm.join();
  lonsim::Drain();
  EXPECT_EQ(kesthost::CallCount("KestSetPlcCommStatus"), reports);
  EXPECT_EQ(kesthost::LogCount("no GlobalInst or bad hook"), guards);
  EXPECT_FALSE(WorkerAlive());
}

}  // namespace
