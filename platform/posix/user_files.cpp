#include "platform/user_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

// A directory (not a link) owned by this user that no one else may write into.
bool OwnedPrivateDirectory(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 022) == 0;
}

}  // namespace

std::string UserStateDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime == '/' && OwnedPrivateDirectory(runtime)) return runtime;
  std::string dir = "/tmp/telmar-" + std::to_string(getuid());
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return "";
  return OwnedPrivateDirectory(dir) ? dir : "";
}
