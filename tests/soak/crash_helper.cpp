// The other process of the crash tests, run in the test's working directory.
//   soak_crash_helper host RECORD        ColdStart instance 1 on the network of TELMAR01.int,
//                                        print "ready", then wait to be killed.
//   soak_crash_helper browse ok|cancel RECORD
//                                        command 16 with a script that selects an NV and clicks
//                                        OK or Cancel; prints "result N" and "address TEXT".
// RECORD is the file in which the simulated network records the open network for a browse.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "browser/dialog_script.h"
#include "config/share_data.h"
#include "core/driver_instance.h"
#include "core/host_records.h"
#include "core/vpi_main.h"
#include "host/kest_host.h"
#include "netsim/lonsim_control.h"

namespace {

int HostThenWait() {
  void* block = std::calloc(1, sizeof(DriverInstance));
  ColdStartParams params{};
  params.connectNetwork = 1;
  VpiRequest request{static_cast<DriverInstance*>(block), kColdStart, 1, 0, &params};
  uint32_t rc = VpiMain(&request);
  // The block's name comes from this program's file, which the test program does not share.
  std::printf("ready %u block %s\n", rc, ShareDataName(1).c_str());
  std::fflush(stdout);
  // The worker runs until the test kills this process.
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

int ClickAfterSelecting(const TelmarDialogApi* api, TelmarDialog* dlg, void* context) {
  int button = *static_cast<int*>(context);
  api->selectTreePath(dlg, "Building.Floor1.Room101.nvoSpaceTemp");
  return api->click(dlg, button) == 0 ? 0 : 1;
}

int Browse(const char* how) {
  int button = std::strcmp(how, "ok") == 0 ? kTelmarIdOk : kTelmarIdCancel;
  SetDialogScript(&ClickAfterSelecting, &button);
  // Room for a larger address than the driver may write, so an overrun shows.
  char buffer[kBrowseAddressCapacity + 64];
  std::memset(buffer, 'Z', sizeof buffer);
  BrowseParams params{buffer};
  VpiRequest request{nullptr, kBrowseAddress, 1, 0, &params};
  uint32_t rc = VpiMain(&request);
  size_t length = strnlen(buffer, sizeof buffer);
  std::printf("result %u\nlength %zu\naddress %.*s\n", rc, length, static_cast<int>(length),
              buffer);
  for (const kesthost::LogLine& line : kesthost::Log()) std::printf("log %s\n", line.text.c_str());
  std::fflush(stdout);
  SetDialogScript(nullptr, nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "host") == 0) {
    lonsim::SetNetworkRecordFile(argv[2]);
    return HostThenWait();
  }
  if (argc == 4 && std::strcmp(argv[1], "browse") == 0) {
    lonsim::SetNetworkRecordFile(argv[3]);
    return Browse(argv[2]);
  }
  std::fprintf(stderr, "usage: soak_crash_helper host RECORD | browse ok|cancel RECORD\n");
  return 2;
}
