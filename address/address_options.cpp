#include "address/address_options.h"

#include <cstring>

#include "core/driver_instance.h"
#include "core/host_api.h"

namespace {

constexpr const char* kBlanks = " \t\r\n\v\f";

void TrimLeft(std::string& text) {
  text.erase(0, text.find_first_not_of(kBlanks));
}

void TrimRight(std::string& text) {
  size_t last = text.find_last_not_of(kBlanks);
  text.erase(last == std::string::npos ? 0 : last + 1);
}

struct MonitorOption {
  char letter;
  int monitorMode;
  int boundOpt;  // 0: boundOpt stays as it is
};
constexpr MonitorOption kMonitorOptions[] = {
    {'p', kMonitorPolling, 0}, {'b', kMonitorBinding, 1}, {'c', kMonitorBinding, 2},
    {'i', kMonitorBinding, 3}, {'e', kMonitorBinding, 4}, {'a', kMonitorBinding, 5},
};

struct FormatOption {
  char letter;
  VARTYPE formatType;
};
constexpr FormatOption kFormatOptions[] = {
    {'i', VT_I4}, {'r', VT_R4}, {'d', VT_BOOL}, {'w', VT_BSTR}, {'b', VT_ARRAY_UI1},
};

// The character right after the first occurrence of tag, '\0' at the end of the text; false when
// tag does not occur.
bool OptionLetter(const std::string& optionsPart, const char* tag, char* letter) {
  size_t at = optionsPart.find(tag);
  if (at == std::string::npos) return false;
  size_t next = at + std::strlen(tag);
  *letter = next < optionsPart.size() ? optionsPart[next] : '\0';
  return true;
}

}  // namespace

int SplitOptions(VpiRequest* request, std::string& lonPart, std::string& optionsPart) {
  optionsPart.clear();
  TrimLeft(lonPart);
  TrimRight(lonPart);
  size_t slash = lonPart.find('/');
  if (slash == std::string::npos) return 0;
  optionsPart = lonPart.substr(slash);
  TrimLeft(optionsPart);
  lonPart.erase(slash);
  TrimRight(lonPart);
  err(kLogTrace, "%s: SplitOptions lon = '%s', options = '%s'", request->instance->name.c_str(),
      lonPart.c_str(), optionsPart.c_str());
  return 1;
}

int GetOptions(const std::string& optionsPart, int& monitorMode, int& boundOpt,
               VARTYPE& formatType) {
  monitorMode = kMonitorNone;
  formatType = VT_EMPTY;
  char letter = 0;
  if (OptionLetter(optionsPart, "/M:", &letter)) {
    const MonitorOption* found = nullptr;
    for (const MonitorOption& option : kMonitorOptions) {
      if (option.letter == letter) found = &option;
    }
    if (!found) {
      err(kLogError, "telMAR: GetOptions '%s' fail, wronge monitor options = '%c'",
          optionsPart.c_str(), letter);
      return 1;
    }
    monitorMode = found->monitorMode;
    if (found->monitorMode == kMonitorBinding) boundOpt = found->boundOpt;
  }
  if (!OptionLetter(optionsPart, "/F:", &letter)) return 0;
  for (const FormatOption& option : kFormatOptions) {
    if (option.letter == letter) {
      formatType = option.formatType;
      return 0;
    }
  }
  err(kLogError, "telMAR: GetOptions '%s' fail, wronge DS format options = '%c'",
      optionsPart.c_str(), letter);
  return 1;
}

std::string IgnoredOptions(const std::string& optionsPart) {
  std::string ignored;
  auto add = [&ignored](const std::string& what) {
    ignored += (ignored.empty() ? "" : ", ") + what;
  };
  bool monitorSeen = false, formatSeen = false;
  size_t at = optionsPart.find('/');
  while (at != std::string::npos) {
    size_t next = optionsPart.find('/', at + 1);
    std::string piece = optionsPart.substr(at, next == std::string::npos ? next : next - at);
    TrimRight(piece);
    at = next;
    bool monitor = piece.compare(0, 3, "/M:") == 0;
    bool format = piece.compare(0, 3, "/F:") == 0;
    if (!monitor && !format) {
      bool lower = piece.compare(0, 3, "/m:") == 0 || piece.compare(0, 3, "/f:") == 0;
      add("'" + piece + "'" + (lower ? " (options are written /M: and /F:)" : ""));
      continue;
    }
    bool& seen = monitor ? monitorSeen : formatSeen;
    if (seen) {
      add("'" + piece + "' (only the first " + piece.substr(0, 3) + " counts)");
      continue;
    }
    seen = true;
    // The first option of its kind: its one letter counts, what follows it does not.
    if (piece.size() > 4) add("'" + piece.substr(4) + "' after '" + piece.substr(0, 4) + "'");
  }
  return ignored;
}

int ParseMacro(VpiRequest* request, std::string& lonPart, std::string& macroName,
               std::string& macroValue) {
  DriverInstance* instance = request->instance;
  macroName.clear();
  macroValue.clear();
  size_t at = lonPart.find(instance->delimiter);
  if (at == std::string::npos || at == 0) {
    err(kLogError, "%s: ParseMacro() fail, delimiter not found '%s'", instance->name.c_str(),
        lonPart.c_str());
    return 1;
  }
  // The LON part as the parser received it, for the not-found line.
  const std::string received = lonPart;
  macroName = lonPart.substr(0, at);
  lonPart.erase(0, at);
  if (!instance->macros.Lookup(macroName, &macroValue)) {
    err(kLogError, "%s: ParseMacro() macro '%s' not found '%s'", instance->name.c_str(),
        macroName.c_str(), received.c_str());
    return 1;
  }
  lonPart.insert(0, macroValue);
  err(kLogTrace, "%s: ParseMacro gas = '%s', mName = '%s', mVal = '%s'", instance->name.c_str(),
      lonPart.c_str(), macroName.c_str(), macroValue.c_str());
  return 0;
}
