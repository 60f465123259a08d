// The "Lns" section of the option file: read into the instance and listed in the host log,
// reading and listing interleaved so that the listing shows every value as read.
#include "config/option_file.h"

#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/driver_instance.h"
#include "core/host_api.h"
#include "platform/profile.h"

namespace {

constexpr const char* kSection = "Lns";
// Text options are read into a buffer of 255 characters including the terminator.
constexpr size_t kTextSize = 255;

int32_t ReadInt(const std::string& path, const char* key, int fallback) {
  return ProfileGetInt(kSection, key, fallback, path.c_str());
}

std::string ReadText(const std::string& path, const char* key, const char* fallback) {
  char buffer[kTextSize];
  ProfileGetString(kSection, key, fallback, buffer, sizeof buffer, path.c_str());
  return std::string(buffer);
}

// Every key of the section, in the order of reading; the integer ones are checked as numbers.
constexpr const char* kIntKeys[] = {"Remote",
                                    "Single",
                                    "PinEvent",
                                    "CheckBindings",
                                    "BrowseFromLns",
                                    "BrowseSubsysALL",
                                    "BrowseSubsysDiscoverd",
                                    "DebugLevel"};
constexpr const char* kTextKeys[] = {"Delimiter",     "Network",        "NetworkInterface",
                                     "HostInterface", "TypesDirectory", "StandardTypeFile",
                                     "UnvtTypeFile"};

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// A number as the integer reading takes it whole: a sign, a 0x, 0o or 0b prefix, digits.
bool IsNumber(std::string_view v) {
  if (!v.empty() && (v.front() == '+' || v.front() == '-')) v.remove_prefix(1);
  int base = 10;
  if (v.size() > 1 && v[0] == '0' && (v[1] == 'x' || v[1] == 'o' || v[1] == 'b')) {
    base = v[1] == 'x' ? 16 : v[1] == 'o' ? 8 : 2;
    v.remove_prefix(2);
  }
  if (v.empty()) return false;
  for (char c : v) {
    int digit = std::isdigit(static_cast<unsigned char>(c))   ? c - '0'
                : std::isalpha(static_cast<unsigned char>(c)) ? std::tolower(c) - 'a' + 10
                                                              : 99;
    if (digit >= base) return false;
  }
  return true;
}

// Says what in the section the driver does not use as written: unknown keys (a typing error
// leaves the option at its default) and integer options that are no number.
void CheckSection(const std::string& path, const char* n) {
  // The keys as the option reader sees them: the file read in its own encoding and line ends.
  for (const std::string& key : ProfileKeys(kSection, path.c_str())) {
    bool known = false;
    for (const char* k : kIntKeys) known = known || EqualNoCase(key, k);
    for (const char* k : kTextKeys) known = known || EqualNoCase(key, k);
    if (!known) {
      err(kLogError, "%s: option file: unknown option '%s' in [%s] is not used", n, key.c_str(),
          kSection);
    }
  }
  for (const char* key : kIntKeys) {
    std::string text = ReadText(path, key, "");
    if (text.empty() || IsNumber(text)) continue;
    err(kLogError, "%s: option file: %s = '%s' is not a number, read as %d", n, key, text.c_str(),
        ReadInt(path, key, 0));
  }
}

}  // namespace

std::string OptionFileName(unsigned instanceNumber) {
  char name[32];
  std::snprintf(name, sizeof name, "TELMAR%02u.int", instanceNumber);
  return name;
}

int ReadIntFile(VpiRequest* request) {
  DriverInstance* inst = request->instance;
  const char* n = inst->name.c_str();
  const std::string path =
      ProfileLocalPath(OptionFileName(static_cast<unsigned>(request->instanceNumber)).c_str());

  inst->remote = ReadInt(path, "Remote", 0);
  inst->single = ReadInt(path, "Single", 0);
  inst->pinEvent = ReadInt(path, "PinEvent", 1);
  // Only the first character counts. An empty value and "/", which begins the options of an
  // address, would make every macro address fail: they fall back to ".".
  const std::string delimiter = ReadText(path, "Delimiter", ".");
  inst->delimiter = delimiter.empty() || delimiter[0] == '/' ? '.' : delimiter[0];

  err(kLogError, "%s: ----------   LON Options   ----------", n);
  err(kLogError, "%s: Remote = %d", n, inst->remote);
  err(kLogError, "%s: Single = %d", n, inst->single);
  err(kLogError, "%s: PinEvent = %d", n, inst->pinEvent);
  err(kLogError, "%s: Delimiter = '%c'", n, inst->delimiter);
  if (delimiter.empty() || delimiter[0] == '/') {
    err(kLogError,
        "%s: option file: Delimiter = '%s' cannot separate the parts of a path, '.' is "
        "used",
        n, delimiter.c_str());
  }

  inst->checkBindings = ReadInt(path, "CheckBindings", 0);
  inst->browseFromLns = ReadInt(path, "BrowseFromLns", 0);
  inst->browseSubsysAll = ReadInt(path, "BrowseSubsysALL", 0);
  inst->browseSubsysDiscovered = ReadInt(path, "BrowseSubsysDiscoverd", 0);
  inst->debugLevel = ReadInt(path, "DebugLevel", 3);

  err(kLogError, "%s: CheckBindings = %d", n, inst->checkBindings);
  err(kLogError, "%s: BrowseFromLns = %d", n, inst->browseFromLns);
  err(kLogError, "%s: BrowseSubsysALL = %d", n, inst->browseSubsysAll);
  err(kLogError, "%s: BrowseSubsysDiscoverd = %d", n, inst->browseSubsysDiscovered);
  err(kLogError, "%s: DebugLevel = %d", n, inst->debugLevel);

  inst->network = ReadText(path, "Network", "");
  inst->networkInterface = ReadText(path, "NetworkInterface", "");
  inst->hostInterface = ReadText(path, "HostInterface", "");

  err(kLogError, "%s: Network = '%s'", n, inst->network.c_str());
  err(kLogError, "%s: NetworkInterface = '%s'", n, inst->networkInterface.c_str());
  err(kLogError, "%s: HostInterface = '%s'", n, inst->hostInterface.c_str());

  inst->typesDirectory = ReadText(path, "TypesDirectory", "");
  inst->standardTypeFile = ReadText(path, "StandardTypeFile", "");
  inst->unvtTypeFile = ReadText(path, "UnvtTypeFile", "");

  err(kLogError, "%s: TypesDirectory = '%s'", n, inst->typesDirectory.c_str());
  err(kLogError, "%s: StandardTypeFile = '%s'", n, inst->standardTypeFile.c_str());
  err(kLogError, "%s: UnvtTypeFile = '%s'", n, inst->unvtTypeFile.c_str());

  err(kLogError, "%s: ----------   End LON Options   ----------", n);
  CheckSection(path, n);
  return 0;
}
