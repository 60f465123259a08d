// A name the host process exports: from its program first, then from every loaded module.
#include <windows.h>

#include <psapi.h>

#include <vector>

#include "platform/module.h"

void* HostSymbol(const char* name) {
  HMODULE program = GetModuleHandleA(nullptr);
  if (FARPROC found = GetProcAddress(program, name)) return reinterpret_cast<void*>(found);
  HANDLE process = GetCurrentProcess();
  std::vector<HMODULE> modules(64);
  DWORD needed = 0;
  while (EnumProcessModules(process, modules.data(),
                            static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed) &&
         needed > modules.size() * sizeof(HMODULE)) {
    modules.resize(needed / sizeof(HMODULE));
  }
  modules.resize(needed / sizeof(HMODULE));
  for (HMODULE module : modules) {
    if (FARPROC found = GetProcAddress(module, name)) return reinterpret_cast<void*>(found);
  }
  return nullptr;
}
