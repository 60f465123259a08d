// PLACEHOLDER: replaced by the real backend.
#include "platform/profile.h"
#include <cstring>
size_t ProfileGetString(const char*, const char*, const char* fallback, char* buffer, size_t size,
                        const char*) {
  if (!size) return 0;
  std::strncpy(buffer, fallback, size - 1);
  buffer[size - 1] = 0;
  return std::strlen(buffer);
}
int ProfileGetInt(const char*, const char*, int fallback, const char*) { return fallback; }
