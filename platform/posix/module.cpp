// The module handle is the load address of the object that holds the driver's code, as a
// module handle is on the original platform.
#include "platform/module.h"

#include <dlfcn.h>

void* ModuleHandle() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModuleHandle), &info) == 0) return nullptr;
  return info.dli_fbase;
}
