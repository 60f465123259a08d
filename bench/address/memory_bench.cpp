// Memory of a bound NV gate: resident bytes that parsing and binding one NV gate on a generated
// network adds to the process, driver and network library together (the binding record, the
// driver's maps, the library's item and its name copies). The host stand-in keeps no history
// here, so its own records do not count.
//
// Row: bytes per gate at 100,000 gates (goal <= 256), against the figure at 10,000 gates in the
// same run.
#include <malloc.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/table_row.h"
#include "core/driver_instance.h"
#include "core/vpi_main.h"
#include "host/kest_host.h"
#include "netsim/lonsim_control.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kNvsPerDevice = 100;

std::string DevicePath(int device) {
  char name[24];
  std::snprintf(name, sizeof name, "S.D%04d", device);
  return name;
}

std::string NvPath(int index) {
  char name[8];
  std::snprintf(name, sizeof name, ".n%02d", index % kNvsPerDevice);
  return DevicePath(index / kNvsPerDevice) + name;
}

std::string NetworkFile(int nvs) {
  std::string text = "network Scale\nsubsystem S\n";
  for (int d = 0; d * kNvsPerDevice < nvs; ++d) {
    char line[96];
    std::snprintf(line, sizeof line, "device %s handle %d neuron 0000000B%04X\n",
                  DevicePath(d).c_str(), d + 1, d);
    text += line;
    for (int k = 0; k < kNvsPerDevice; ++k) {
      std::snprintf(line, sizeof line, "nv %s.n%02d output SNVT_temp_p value 20\n",
                    DevicePath(d).c_str(), k);
      text += line;
    }
  }
  return text;
}

// Resident bytes of the process, from /proc/self/statm; 0 when it cannot be read.
int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t size = 0, resident = 0;
  if (!(statm >> size >> resident)) return 0;
  return resident * 4096;
}

// Bytes per gate that binding `gates` NV gates (one gate per NV) adds; negative on failure.
double BytesPerGate(int gates) {
  ScopedTempDir dir;
  dir.WriteFile("scale.net", NetworkFile(gates));
  dir.WriteFile("TELMAR01.int", "[Lns]\nNetwork=" + dir.path() + "/scale.net\n[Macros]\n");
  kesthost::Reset();
  kesthost::SetHistoryLimit(1);
  lonsim::Reset();
  alignas(DriverInstance) static unsigned char block[sizeof(DriverInstance)];
  auto call = [&](uint32_t command, void* params) {
    VpiRequest request{};
    request.instance = reinterpret_cast<DriverInstance*>(block);
    request.command = command;
    request.instanceNumber = 1;
    request.params = params;
    return VpiMain(&request);
  };
  ColdStartParams cold{};
  cold.connectNetwork = 1;
  if (call(kColdStart, &cold) != 0) return -1;
  std::vector<std::string> addresses(gates);
  for (int i = 0; i < gates; ++i) {
    addresses[i] = NvPath(i);
    kesthost::Gate gate;
    gate.id = static_cast<uint32_t>(i + 1);
    gate.type = 3;
    gate.address = addresses[i];
    kesthost::AddGate(gate);
  }
  malloc_trim(0);
  const size_t heapBefore = mallinfo2().uordblks;
  const int64_t before = ResidentBytes();
  GateAddressParams params{};
  params.gateType = 3;
  int failed = 0;
  for (int i = 0; i < gates; ++i) {
    params.address = addresses[i].c_str();
    params.gateId = static_cast<uint32_t>(i + 1);
    failed += call(kSingleAddressParser, &params) != 0;
  }
  const int64_t after = ResidentBytes();
  std::printf("%d gates: heap in use %.1f bytes per gate\n", gates,
              static_cast<double>(mallinfo2().uordblks - heapBefore) / gates);
  call(kEndVpi, nullptr);
  kesthost::Reset();
  kesthost::SetHistoryLimit(0);
  lonsim::Reset();
  malloc_trim(0);
  if (failed || before <= 0 || after <= 0) return -1;
  return static_cast<double>(after - before) / gates;
}

}  // namespace

int main() {
  const double small = BytesPerGate(10000);
  const double large = BytesPerGate(100000);
  std::printf("bytes per bound NV gate: %.1f at 10,000 gates, %.1f at 100,000 gates\n", small,
              large);
  if (small < 0 || large < 0) {
    PrintRow("memory per bound NV gate", "-", "-", NAN, "<= 256 bytes", GoalResult::kMissed);
    return 1;
  }
  PrintRow("memory per bound NV gate, 10000 gates", Format("%.0f bytes", small), "-", NAN, "-",
           GoalResult::kNone);
  PrintRow("memory per bound NV gate, 100000 gates", Format("%.0f bytes", large),
           Format("10000 gates %.0f bytes", small), large / small, "<= 256 bytes",
           CheckGoal(large, "<=", 256));
  return 0;
}
