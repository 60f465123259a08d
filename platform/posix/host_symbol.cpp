#include <dlfcn.h>

#include "platform/module.h"

void* HostSymbol(const char* name) {
  return dlsym(RTLD_DEFAULT, name);
}
