// A second host process for the one-instance tests: loads libtelmar.so, starts the driver for
// an instance number and prints the host log. Usage: core_second_host <instance> end|die
// "end" ends the driver again; "die" exits at once while the worker runs. The exit status is
// ColdStart's result.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/host_records.h"
#include "host/kest_host.h"

int main(int argc, char** argv) {
  if (argc != 3) return 100;
  void* library = dlopen(TELMAR_LIBRARY, RTLD_NOW);
  if (!library) return 101;
  auto vpiMain = reinterpret_cast<uint32_t (*)(VpiRequest*)>(dlsym(library, "VpiMain"));
  if (!vpiMain) return 102;

  VpiInfo info{};
  VpiRequest request{};
  request.command = kGetVpiInfo;
  request.params = &info;
  if (vpiMain(&request) != 0) return 103;

  void* block = std::calloc(1, info.instanceSize);
  ColdStartParams params{};
  request.instance = static_cast<DriverInstance*>(block);
  request.command = kColdStart;
  request.instanceNumber = std::atoi(argv[1]);
  request.params = &params;
  uint32_t rc = vpiMain(&request);
  for (const kesthost::LogLine& line : kesthost::Log()) std::printf("%s\n", line.text.c_str());
  std::fflush(stdout);
  if (std::strcmp(argv[2], "die") == 0) _exit(static_cast<int>(rc));

  request.command = kEndVpi;
  request.params = nullptr;
  vpiMain(&request);
  std::free(block);
  return static_cast<int>(rc);
}
