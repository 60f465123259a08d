// The module handle is the DLL's own HMODULE (its load address); keeping it loaded pins it.
#include "platform/module.h"

#include <windows.h>

namespace {

HMODULE ThisModule(DWORD extraFlags) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | extraFlags,
                          reinterpret_cast<LPCSTR>(&ThisModule), &module)) {
    return nullptr;
  }
  return module;
}

}  // namespace

void* ModuleHandle() {
  return ThisModule(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
}

bool ModuleKeepLoaded() {
  return ThisModule(GET_MODULE_HANDLE_EX_FLAG_PIN) != nullptr;
}

// The path as the loader gives it, compared without regard to case as the file system does.
uint64_t ModuleFileHash() {
  static const uint64_t hash = [] {
    char path[MAX_PATH] = "";
    if (HMODULE module = ThisModule(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT)) {
      GetModuleFileNameA(module, path, sizeof path);
    }
    CharLowerA(path);
    uint64_t h = 1469598103934665603ull;
    for (const char* c = path; *c; ++c) {
      h ^= static_cast<unsigned char>(*c);
      h *= 1099511628211ull;
    }
    return h;
  }();
  return hash;
}
