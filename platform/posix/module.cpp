// The module handle is the load address of the object that holds the driver's code, as a
// module handle is on the original platform.
#include "platform/module.h"

#include <dlfcn.h>
#include <link.h>

void* ModuleHandle() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModuleHandle), &info) == 0) return nullptr;
  return info.dli_fbase;
}

bool ModuleKeepLoaded() {
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&ModuleKeepLoaded), &info, reinterpret_cast<void**>(&map),
              RTLD_DL_LINKMAP) == 0 ||
      !map) {
    return false;
  }
  if (!map->l_name || map->l_name[0] == '\0') return true;  // the program itself stays anyway
  // The reference taken here is never given back.
  return dlopen(map->l_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}
