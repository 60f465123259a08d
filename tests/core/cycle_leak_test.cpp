// A thousand ColdStart/EndVpi cycles with the network connected leave nothing behind. The
// program counts its live heap blocks (the network library's included, as it allocates through
// the same operator new); once warmed up, cycles must not add any.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/driver_instance.h"
#include "core/handoff.h"
#include "core/vpi_main.h"
#include "host/kest_host.h"
#include "netsim/lonsim_control.h"
#include "platform/process_shared.h"
#include "tests/core/heap_count.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(CycleLeakTest, ThousandConnectedStartsAndStopsLeaveNothingBehind) {
  ScopedTempDir dir;
  dir.WriteFile("TELMAR01.int", "[Lns]\nNetwork=Demo\n[Macros]\n#001 = Building.Floor1\n");
  void* block = std::malloc(sizeof(DriverInstance));
  ColdStartParams params{};
  params.connectNetwork = 1;
  auto call = [&](uint32_t command, void* p) {
    VpiRequest request{};
    request.instance = static_cast<DriverInstance*>(block);
    request.command = command;
    request.instanceNumber = 1;
    request.params = p;
    return VpiMain(&request);
  };

  long warm = 0;
  constexpr int kCycles = 1000;
  constexpr int kWarmUp = 20;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    kesthost::Reset();  // the host's record of calls and lines would grow otherwise
    ASSERT_EQ(call(kColdStart, &params), 0u) << cycle;
    ASSERT_EQ(call(kEndVpi, nullptr), 0u) << cycle;
    if (cycle == kWarmUp) warm = LiveHeapBlocks();
  }
  EXPECT_FALSE(WorkerAlive());
  EXPECT_EQ(LiveHeapBlocks(), warm);
  std::free(block);  // as the host does: no destructor
  lonsim::Reset();
  ProcessSharedRemove();
}

}  // namespace
