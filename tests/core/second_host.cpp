// A second host process for the one-instance tests: loads libtelmar.so (telmar.dll), starts the
// driver for an instance number and prints the host log. Usage: core_second_host <instance> end|die
// "end" ends the driver again; "die" exits at once while the worker runs. The exit status is
// ColdStart's result.
#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/host_records.h"
#include "host/kest_host.h"

namespace {

#if defined(_WIN32)
void* OpenLibrary(const char* path) {
  return reinterpret_cast<void*>(LoadLibraryA(path));
}
void* LibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
// Ends at once, as a process killed from outside does.
[[noreturn]] void Die(int status) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  for (;;) {
  }
}
#else
void* OpenLibrary(const char* path) {
  return dlopen(path, RTLD_NOW);
}
void* LibrarySymbol(void* library, const char* name) {
  return dlsym(library, name);
}
[[noreturn]] void Die(int status) {
  _exit(status);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 100;
  void* library = OpenLibrary(TELMAR_LIBRARY);
  if (!library) return 101;
  auto vpiMain = reinterpret_cast<uint32_t (*)(VpiRequest*)>(LibrarySymbol(library, "VpiMain"));
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
  if (std::strcmp(argv[2], "die") == 0) Die(static_cast<int>(rc));

  request.command = kEndVpi;
  request.params = nullptr;
  vpiMain(&request);
  std::free(block);
  return static_cast<int>(rc);
}
