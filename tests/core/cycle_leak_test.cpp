// A thousand ColdStart/EndVpi cycles with the network connected leave nothing behind. The
// program counts its live heap blocks (the network library's included, as it allocates through
// the same operator new); once warmed up, cycles must not add any.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "core/driver_instance.h"
#include "core/handoff.h"
#include "core/vpi_main.h"
#include "host/kest_host.h"
#include "netsim/lonsim_control.h"
#include "platform/process_shared.h"
#include "tests/support/temp_dir.h"

namespace {
std::atomic<long> liveBlocks{0};

void* Allocate(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (p) liveBlocks.fetch_add(1, std::memory_order_relaxed);
  return p;
}
void Release(void* p) {
  if (!p) return;
  liveBlocks.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
}
}  // namespace

void* operator new(size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void operator delete(void* p) noexcept {
  Release(p);
}
void operator delete[](void* p) noexcept {
  Release(p);
}
void operator delete(void* p, size_t) noexcept {
  Release(p);
}
void operator delete[](void* p, size_t) noexcept {
  Release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  Release(p);
}

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
    if (cycle == kWarmUp) warm = liveBlocks.load();
  }
  EXPECT_FALSE(WorkerAlive());
  EXPECT_EQ(liveBlocks.load(), warm);
  std::free(block);  // as the host does: no destructor
  lonsim::Reset();
  ProcessSharedRemove();
}

}  // namespace
