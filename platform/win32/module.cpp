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
