#include "platform/user_files.h"

#include <windows.h>

#include "platform/text.h"

std::string UserStateDirectory() {
  wchar_t path[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, path);
  if (n == 0 || n > MAX_PATH) return "";
  while (n > 0 && (path[n - 1] == L'\\' || path[n - 1] == L'/')) --n;
  return WideToMultiByte(std::u16string(reinterpret_cast<const char16_t*>(path), n));
}
