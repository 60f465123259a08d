// The module handle is the load address of the object that holds the driver's code, as a
// module handle is on the original platform.
#include "platform/module.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace {

// The link map of the object that holds this code; null when the loader cannot say.
link_map* ThisLinkMap() {
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&ThisLinkMap), &info, reinterpret_cast<void**>(&map),
              RTLD_DL_LINKMAP) == 0) {
    return nullptr;
  }
  return map;
}

// The real path of the module file; the main program's link map carries no name.
std::string ModuleFilePath() {
  link_map* map = ThisLinkMap();
  if (map && map->l_name && map->l_name[0] != '\0') {
    char resolved[PATH_MAX];
    if (realpath(map->l_name, resolved)) return resolved;
    return map->l_name;
  }
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  if (n > 0) return std::string(exe, static_cast<size_t>(n));
  return "telmar";
}

}  // namespace

uint64_t ModuleFileHash() {
  static const uint64_t hash = [] {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : ModuleFilePath()) {
      h ^= c;
      h *= 1099511628211ull;
    }
    return h;
  }();
  return hash;
}

void* ModuleHandle() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModuleHandle), &info) == 0) return nullptr;
  return info.dli_fbase;
}

bool ModuleKeepLoaded() {
  link_map* map = ThisLinkMap();
  if (!map) return false;
  if (!map->l_name || map->l_name[0] == '\0') return true;  // the program itself stays anyway
  // The reference taken here is never given back.
  return dlopen(map->l_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}
