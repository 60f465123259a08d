// Initialisation files are read by the system's own profile functions.
#include "platform/profile.h"

#include <windows.h>

#include <climits>

size_t ProfileGetString(const char* section, const char* key, const char* fallback, char* buffer,
                        size_t size, const char* path) {
  if (!buffer || size == 0) return 0;
  DWORD capacity = size > UINT_MAX ? UINT_MAX : static_cast<DWORD>(size);
  return GetPrivateProfileStringA(section, key, fallback ? fallback : "", buffer, capacity, path);
}

int ProfileGetInt(const char* section, const char* key, int fallback, const char* path) {
  return static_cast<int>(GetPrivateProfileIntA(section, key, fallback, path));
}

std::string ProfileLocalPath(const char* name) {
  return std::string(".\\") + name;
}
