// A thousand connected ColdStart/EndVpi cycles with gates bound and listening leave nothing
// behind: no heap blocks (the network library's included, as it allocates through the same
// operator new), no open files, no threads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/driver_instance.h"
#include "core/handoff.h"
#include "core/vpi_main.h"
#include "host/kest_host.h"
#include "netsim/lonsim_control.h"
#include "platform/process_shared.h"
#include "tests/core/heap_count.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kCycles = 1000;
constexpr int kWarmUp = 40;
// Every other cycle waits for the gates to listen and lets the network talk; the others end the
// driver right after the parses, often while the thread messages of the parses are still queued.
constexpr int kListeningEvery = 2;

}  // namespace

// What the process holds: open files (handles on Windows) and threads. The heap count sees only
// the program's own allocations; on Windows the host stand-in and the network library are DLLs
// with allocations of their own.
#if defined(_WIN32)
#include <windows.h>

#include <tlhelp32.h>

namespace {
constexpr bool kHeapCountSeesEveryModule = false;
int OpenFiles() {
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return static_cast<int>(count);
}
int Threads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  int n = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    n += entry.th32OwnerProcessID == GetCurrentProcessId();
  }
  CloseHandle(snapshot);
  return n;
}
}  // namespace
#else
#include <dirent.h>

namespace {
constexpr bool kHeapCountSeesEveryModule = true;
int Entries(const char* directory) {
  int n = 0;
  if (DIR* d = opendir(directory)) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}
int OpenFiles() {
  return Entries("/proc/self/fd");
}
int Threads() {
  return Entries("/proc/self/task");
}
}  // namespace
#endif

namespace {

struct GateSpec {
  uint32_t id;
  uint16_t type;
  int32_t updateMode;
  const char* address;
  uint32_t bindingKind;
};
const GateSpec kGates[] = {
    {1, 3, 2, "Building.Floor1.Room101.nvoSpaceTemp", 1},
    {2, 3, 2, "#001.nvoLamp.value", 2},  // a field, through a macro
    {3, 1, 0, "Building.Plant.Pump", 3},
    {4, 7, 0, "!ServicePin", 4},
};

float FloatOf(uint32_t gateId) {
  kesthost::Gate g;
  kesthost::GetGate(gateId, &g);
  float f;
  std::memcpy(&f, &g.raw, sizeof f);
  return f;
}
uint64_t Puts(uint32_t gateId) {
  kesthost::Gate g;
  return kesthost::GetGate(gateId, &g) ? g.puts : 0;
}

TEST(SoakCycles, ConnectedStartsAndStopsWithListeningGatesLeaveNothingBehind) {
  ScopedTempDir dir;
  dir.WriteFile("TELMAR01.int", "[Lns]\nNetwork=Demo\n[Macros]\n#001 = Building.Floor1.Room101\n");
  lonsim::Reset();
  lonsim::SetNetworkRecordFile(dir.path() + "/lonsim.network");
  lonsim::UseManualClock();
  ProcessSharedData()->stationActive = 0;
  void* block = std::malloc(sizeof(DriverInstance));
  auto call = [&](uint32_t command, void* p) {
    VpiRequest request{static_cast<DriverInstance*>(block), command, 1, 0, p};
    return VpiMain(&request);
  };

  long heap = 0;
  int files = 0, threads = 0;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    SCOPED_TRACE(cycle);
    kesthost::Reset();  // the host's record of calls and lines would grow otherwise
    for (const GateSpec& s : kGates) {
      kesthost::Gate g;
      g.id = s.id, g.type = s.type, g.address = s.address, g.updateMode = s.updateMode;
      kesthost::AddGate(g);
    }
    ColdStartParams cold{};
    cold.connectNetwork = 1;
    ASSERT_EQ(call(kColdStart, &cold), 0u);
    for (const GateSpec& s : kGates) {
      GateAddressParams parse{};
      parse.address = s.address, parse.gateId = s.id, parse.gateType = s.type;
      ASSERT_EQ(call(kSingleAddressParser, &parse), 0u) << s.address;
      ASSERT_EQ(parse.bindingWord & 0xFF, s.bindingKind) << s.address;
    }
    if (cycle % kListeningEvery != 0) {
      ASSERT_EQ(call(kEndVpi, nullptr), 0u);
      continue;
    }
    // The worker makes the two listening gates listen and sets the node gate after the parses.
    ASSERT_TRUE(kesthost::WaitFor([] { return Puts(1) > 0 && Puts(2) > 0 && Puts(3) > 0; }));
    if (cycle == 0) {
      kesthost::PushMessage(kMsgHbActive);
      ASSERT_TRUE(kesthost::WaitFor([] { return ProcessSharedData()->stationActive == 1; }));
      // Monitoring switches on after the flag: the worker has done with the message once it
      // polls the host again and finds nothing.
      ASSERT_TRUE(kesthost::WaitFor([] { return kesthost::PendingMessages() == 0; }));
      const uint64_t polls = kesthost::EmptyPolls();
      ASSERT_TRUE(kesthost::WaitFor([polls] { return kesthost::EmptyPolls() > polls; }));
    }
    // Events from the network reach the gates on the library's thread.
    float temp = 15.0f + static_cast<float>(cycle % 100) / 10;
    ASSERT_TRUE(lonsim::SetNVValue("Building.Floor1.Room101.nvoSpaceTemp", temp));
    ASSERT_TRUE(lonsim::SetNVValue("Building.Floor1.Room101.nvoLamp.value", cycle % 2 ? 50 : 0));
    ASSERT_TRUE(lonsim::PressServicePin("Building.Floor1.Room101"));
    lonsim::Drain();
    EXPECT_FLOAT_EQ(FloatOf(1), temp);
    EXPECT_FLOAT_EQ(FloatOf(2), cycle % 2 ? 50.0f : 0.0f);
    EXPECT_GE(Puts(4), 1u) << "service-pin text";

    ASSERT_EQ(call(kEndVpi, nullptr), 0u);
    if (cycle == kWarmUp) {
      kesthost::Reset();  // count without the host's records of this cycle
      heap = LiveHeapBlocks();
      files = OpenFiles();
      threads = Threads();
    }
  }
  EXPECT_FALSE(WorkerAlive());
  kesthost::Reset();
  if (kHeapCountSeesEveryModule) {
    EXPECT_EQ(LiveHeapBlocks(), heap);
  }
  EXPECT_EQ(OpenFiles(), files);
  EXPECT_EQ(Threads(), threads);
  std::free(block);  // as the host does: no destructor
  ProcessSharedData()->stationActive = 0;
  ProcessSharedRemove();
  lonsim::Reset();
}

}  // namespace
