// Private-profile reading, following the original platform's rules: lines end at LF or CR;
// blanks around lines, keys and values are dropped; "[name]" opens a section (the name runs to the
// last ']' and is trimmed); section and key names compare without regard to case; the first
// section of a name and the first key of a name in it count; a line starting with ';' is a
// comment; a key line without '=' has no value and reads as missing. A file that begins with a
// UTF-16 byte-order mark (little or big endian) is read as UTF-16 and its values given in the
// local code page, as the platform's functions read files saved as "Unicode".
#include "platform/profile.h"

#include "platform/text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// The platform counts ^Z (end-of-file mark of old editors) as a blank.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == 0x1a;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool ReadWholeFile(const char* path, std::string* out) {
  if (!path) return false;
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out->append(chunk, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  if (!ok) return false;
  if (out->size() >= 2) {
    const auto b0 = static_cast<unsigned char>((*out)[0]);
    const auto b1 = static_cast<unsigned char>((*out)[1]);
    const bool little = b0 == 0xFF && b1 == 0xFE;
    if (little || (b0 == 0xFE && b1 == 0xFF)) {
      std::u16string wide;
      wide.reserve(out->size() / 2);
      for (size_t i = 2; i + 1 < out->size(); i += 2) {  // a stray last byte is dropped
        const auto lo = static_cast<unsigned char>((*out)[little ? i : i + 1]);
        const auto hi = static_cast<unsigned char>((*out)[little ? i + 1 : i]);
        wide.push_back(static_cast<char16_t>(lo | (hi << 8)));
      }
      *out = WideToMultiByte(wide);
    }
  }
  // The platform skips a UTF-8 byte-order mark at the start of the file.
  if (out->rfind("\xef\xbb\xbf", 0) == 0) out->erase(0, 3);
  return true;
}

// Calls line(text) for every line of the first section named `section`, trimmed, neither empty
// nor a comment. Keys above the first header belong to the section with the empty name.
// A file that cannot be read has no lines.
template <typename Fn>
void ForEachSectionLine(const char* path, const char* section, Fn&& line) {
  std::string text;
  if (!ReadWholeFile(path, &text)) return;
  const std::string_view wantSection = Trim(section ? section : "");

  bool inTarget = wantSection.empty();
  bool targetSeen = inTarget;
  std::string_view rest(text);
  while (!rest.empty()) {
    size_t end = rest.find_first_of("\r\n");
    std::string_view current = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);

    current = Trim(current);
    if (current.empty() || current.front() == ';') continue;
    if (current.front() == '[') {
      size_t close = current.rfind(']');
      if (close != std::string_view::npos) {
        if (targetSeen) return;  // the first section of the name has ended
        inTarget = EqualNoCase(Trim(current.substr(1, close - 1)), wantSection);
        targetSeen = inTarget;
        continue;
      }
      // Without a closing bracket the line is an ordinary key line.
    }
    if (inTarget && !line(current)) return;
  }
}

enum class Lookup { kMissing, kNoValue, kValue };

// Finds key in the first section named `section`.
Lookup FindKey(const char* path, const char* section, const char* key, std::string* value) {
  const std::string_view wantKey = Trim(key ? key : "");
  Lookup found = Lookup::kMissing;
  ForEachSectionLine(path, section, [&](std::string_view line) {
    size_t eq = line.find('=');
    std::string_view name = eq == std::string_view::npos ? line : Trim(line.substr(0, eq));
    if (!EqualNoCase(name, wantKey)) return true;
    if (eq == std::string_view::npos) {
      found = Lookup::kNoValue;
    } else {
      *value = std::string(Trim(line.substr(eq + 1)));
      found = Lookup::kValue;
    }
    return false;
  });
  return found;
}

// Copies at most size - 1 characters and a NUL. A value enclosed in matching quotes loses them;
// the closing quote is dropped only when the buffer holds the whole rest of the value, which
// costs the last character when it fits exactly (the platform's own behaviour, kept).
size_t CopyEntry(std::string_view value, char* buffer, size_t size) {
  bool quoted = false;
  if (value.size() > 1 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    quoted = true;
    value.remove_prefix(1);
  }
  size_t n = value.size() < size - 1 ? value.size() : size - 1;
  if (quoted && size >= value.size() && n > 0) --n;
  std::memcpy(buffer, value.data(), n);
  buffer[n] = 0;
  return n;
}

}  // namespace

size_t ProfileGetString(const char* section, const char* key, const char* fallback, char* buffer,
                        size_t size, const char* path) {
  if (!buffer || size == 0) return 0;
  std::string value;
  if (FindKey(path, section, key, &value) == Lookup::kValue) {
    return CopyEntry(value, buffer, size);
  }
  std::string_view def = fallback ? fallback : "";
  while (!def.empty() && def.back() == ' ') def.remove_suffix(1);
  return CopyEntry(def, buffer, size);
}

int ProfileGetInt(const char* section, const char* key, int fallback, const char* path) {
  // The platform reads integers through a 30-character buffer.
  char buffer[30];
  if (ProfileGetString(section, key, "", buffer, sizeof buffer, path) == 0) return fallback;

  const char* p = buffer;
  while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
  bool minus = false;
  if (*p == '+' || *p == '-') minus = *p++ == '-';
  uint32_t base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'o' || p[1] == 'b')) {
    base = p[1] == 'x' ? 16 : p[1] == 'o' ? 8 : 2;
    p += 2;
  }
  uint32_t total = 0;  // wraps like the platform's unsigned accumulator
  for (;; ++p) {
    uint32_t digit;
    if (*p >= '0' && *p <= '9') {
      digit = static_cast<uint32_t>(*p - '0');
    } else if (*p >= 'a' && *p <= 'z') {
      digit = static_cast<uint32_t>(*p - 'a' + 10);
    } else if (*p >= 'A' && *p <= 'Z') {
      digit = static_cast<uint32_t>(*p - 'A' + 10);
    } else {
      break;
    }
    if (digit >= base) break;
    total = total * base + digit;
  }
  if (minus) total = 0u - total;
  return static_cast<int>(total);
}

std::vector<std::string> ProfileKeys(const char* section, const char* path) {
  std::vector<std::string> keys;
  ForEachSectionLine(path, section, [&keys](std::string_view line) {
    size_t eq = line.find('=');
    if (eq != std::string_view::npos) keys.emplace_back(Trim(line.substr(0, eq)));
    return true;
  });
  return keys;
}

std::string ProfileLocalPath(const char* name) {
  return std::string("./") + name;
}
