#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <new>

#include "host/kest_host.h"
#include "lon/lns.h"
#include "netsim/lonsim_control.h"

FuzzDriver& FuzzSetUp(const std::string& optionFile, bool connect) {
  static FuzzDriver driver;
  char dir[] = "/tmp/telmar-fuzz-XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) std::abort();
  std::ofstream("TELMAR01.int") << optionFile;

  alignas(alignof(DriverInstance)) static unsigned char block[sizeof(DriverInstance)];
  driver.request.instance = reinterpret_cast<DriverInstance*>(block);
  driver.request.command = kColdStart;
  driver.request.instanceNumber = 1;
  InstanceSetup(&driver.request);
  driver.instance = driver.request.instance;
  driver.instance->delimiter = '.';
  if (connect) {
    lonsim::UseManualClock();
    CLns* lns = CLns::GetLnsObject(0, 0, 1, '.', "", "", "");
    if (!lns || lns->Init(nullptr, 1) != 0 || lns->Open("Demo", "", "", "") != 0) std::abort();
    driver.instance->lns = lns;
  }
  return driver;
}

void FuzzForgetHostRecords() {
  kesthost::ClearLog();
  kesthost::ClearCalls();
}
