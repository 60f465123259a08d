#include "config/macro_names.h"

#include <cstdio>

#include "platform/text.h"

namespace {

// Lower case of the letters of the Latin, Greek and Cyrillic alphabets; other characters stay.
char16_t FoldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130) return u'i';
    if (c == 0x178) return 0xFF;
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    return oddUpper ? ((c & 1) ? c + 1 : c) : ((c & 1) ? c : c + 1);
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

}  // namespace

bool MacroValuesEqual(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::u16string wa = MultiByteToWide(a);
  std::u16string wb = MultiByteToWide(b);
  // Malformed text decodes to replacement characters, which would make unequal texts equal.
  if (wa.find(u'\uFFFD') != std::u16string::npos || wb.find(u'\uFFFD') != std::u16string::npos ||
      wa.size() != wb.size()) {
    return false;
  }
  for (size_t i = 0; i < wa.size(); ++i) {
    if (FoldCase(wa[i]) != FoldCase(wb[i])) return false;
  }
  return true;
}

bool FindMacroByValue(const MacroTable& macros, const std::string& value, std::string& name) {
  bool found = false;
  macros.ForEach([&](const std::string& macroName, const std::string& macroValue) {
    if (!found && MacroValuesEqual(macroValue, value)) {
      name = macroName;
      found = true;
    }
  });
  return found;
}

std::string NewMacroName(const MacroTable& macros) {
  char name[32];
  for (size_t n = macros.Count() + 1;; ++n) {
    std::snprintf(name, sizeof name, "#%03zu", n);
    if (!macros.Contains(name)) return name;
  }
}
