// The "Lns" section of the option file: read into the instance and listed in the host log,
// reading and listing interleaved so that the listing shows every value as read.
#include "config/option_file.h"

#include <cstdio>

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

}  // namespace

std::string OptionFileName(unsigned instanceNumber) {
  char name[32];
  std::snprintf(name, sizeof name, "TELMAR%02u.int", instanceNumber);
  return name;
}

int ReadIntFile(VpiRequest* request) {
  DriverInstance* inst = request->instance;
  const char* n = inst->name.c_str();
  const std::string path = "./" + OptionFileName(static_cast<unsigned>(request->instanceNumber));

  inst->remote = ReadInt(path, "Remote", 0);
  inst->single = ReadInt(path, "Single", 0);
  inst->pinEvent = ReadInt(path, "PinEvent", 1);
  // Only the first character counts; an empty value gives the character 0.
  inst->delimiter = ReadText(path, "Delimiter", ".").c_str()[0];

  err(kLogError, "%s: ----------   LON Options   ----------", n);
  err(kLogError, "%s: Remote = %d", n, inst->remote);
  err(kLogError, "%s: Single = %d", n, inst->single);
  err(kLogError, "%s: PinEvent = %d", n, inst->pinEvent);
  err(kLogError, "%s: Delimiter = '%c'", n, inst->delimiter);

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
  return 0;
}
