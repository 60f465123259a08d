// Initialisation files are read by the system's own profile functions.
#include "platform/profile.h"

#include <windows.h>

#include <climits>
#include <cstring>

size_t ProfileGetString(const char* section, const char* key, const char* fallback, char* buffer,
                        size_t size, const char* path) {
  if (!buffer || size == 0) return 0;
  DWORD capacity = size > UINT_MAX ? UINT_MAX : static_cast<DWORD>(size);
  return GetPrivateProfileStringA(section, key, fallback ? fallback : "", buffer, capacity, path);
}

int ProfileGetInt(const char* section, const char* key, int fallback, const char* path) {
  return static_cast<int>(GetPrivateProfileIntA(section, key, fallback, path));
}

std::vector<std::string> ProfileKeys(const char* section, const char* path) {
  std::vector<std::string> keys;
  // Without a key name the system gives every key name of the section, each with its NUL and
  // a second NUL after the last; a full buffer (its size less 2) may have cut the list.
  std::vector<char> buffer(4096);
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD n = GetPrivateProfileStringA(section, nullptr, "", buffer.data(), size, path);
    if (n + 2 < size || buffer.size() >= (1u << 24)) {
      buffer.resize(n);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  for (size_t at = 0; at < buffer.size();) {
    size_t length = strnlen(buffer.data() + at, buffer.size() - at);
    if (length > 0) keys.emplace_back(buffer.data() + at, length);
    at += length + 1;
  }
  return keys;
}

std::string ProfileLocalPath(const char* name) {
  return std::string(".\\") + name;
}
