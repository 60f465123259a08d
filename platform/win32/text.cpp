// Multibyte text is in the system's ANSI code page; the system converts it.
#include <windows.h>

#include "platform/text.h"

namespace {

bool Convert(const std::string& text, std::u16string* out) {
  out->clear();
  if (text.empty()) return true;
  int length = static_cast<int>(text.size());
  bool valid = true;
  int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  DWORD flags = MB_ERR_INVALID_CHARS;
  if (n == 0) {
    valid = false;  // malformed: converted again with the replacement character
    flags = 0;
    n = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  }
  out->resize(static_cast<size_t>(n));
  MultiByteToWideChar(CP_ACP, flags, text.data(), length, reinterpret_cast<wchar_t*>(out->data()),
                      n);
  return valid;
}

}  // namespace

std::u16string MultiByteToWide(const std::string& text) {
  std::u16string out;
  Convert(text, &out);
  return out;
}

bool MultiByteToWideChecked(const std::string& text, std::u16string* out) {
  return Convert(text, out);
}

std::string WideToMultiByte(const std::u16string& text) {
  if (text.empty()) return std::string();
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
  int length = static_cast<int>(text.size());
  int n = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, length, out.data(), n, nullptr, nullptr);
  return out;
}

size_t MultiBytePrefix(const char* text, size_t length, size_t max) {
  if (length <= max) return length;
  const UINT codePage = GetACP();
  if (codePage == CP_UTF8) {
    size_t end = max;
    // Step back over continuation bytes to the start of the character that straddles the cut.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return end;
  }
  CPINFO info;
  if (!GetCPInfo(codePage, &info) || info.MaxCharSize == 1) return max;  // one byte a character
  // A double-byte code page: a lead byte and the byte after it are one character, and only a
  // walk from the start tells a trail byte from a lead byte.
  size_t end = 0;
  while (end < length) {
    size_t step =
        IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[end])) && end + 1 < length ? 2 : 1;
    if (end + step > max) break;
    end += step;
  }
  return end;
}

unsigned MultiByteCodePage() {
  return GetACP();
}

std::tm LocalTimeNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::tm local{};
  local.tm_year = now.wYear - 1900;
  local.tm_mon = now.wMonth - 1;
  local.tm_mday = now.wDay;
  local.tm_hour = now.wHour;
  local.tm_min = now.wMinute;
  local.tm_sec = now.wSecond;
  local.tm_wday = now.wDayOfWeek;
  static const int kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  bool leap = now.wYear % 4 == 0 && (now.wYear % 100 != 0 || now.wYear % 400 == 0);
  local.tm_yday = kDaysBefore[now.wMonth - 1] + now.wDay - 1 + (leap && now.wMonth > 2);
  local.tm_isdst = -1;
  return local;
}
