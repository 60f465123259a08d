#include "netsim/text.h"

namespace lonsim {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimEnd(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return TrimEnd(s);
}

std::vector<std::string_view> Split(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    size_t start = i;
    while (i < s.size() && !IsBlank(s[i])) ++i;
    if (i > start) out.push_back(s.substr(start, i - start));
  }
  return out;
}

bool ParseInteger(std::string_view s, size_t maxChars, long long* value) {
  if (s.empty() || s.size() > maxChars) return false;
  bool neg = s[0] == '-';
  size_t i = neg ? 1 : 0;
  if (i == s.size()) return false;
  long long n = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    n = n * 10 + (s[i] - '0');
  }
  *value = neg ? -n : n;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string UpperHex(std::string_view s) {
  std::string u(s);
  for (char& c : u) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 32);
  }
  return u;
}

}  // namespace lonsim
