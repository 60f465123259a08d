// Address options ("/M:x" monitoring, "/F:x" data format) and the leading macro.
#pragma once

#include <string>

#include "platform/variant.h"

struct VpiRequest;

enum MonitorMode : int { kMonitorNone = 0, kMonitorPolling = 1, kMonitorBinding = 2 };

// Cuts lonPart (in: the address) into the LON part and optionsPart. 1 when options were found.
int SplitOptions(VpiRequest* request, std::string& lonPart, std::string& optionsPart);
// Reads the first "/M:" and the first "/F:" option. 0, or 1 on a bad option.
int GetOptions(const std::string& optionsPart, int& monitorMode, int& boundOpt,
               VARTYPE& formatType);
// What GetOptions passes over in optionsPart, described for a log line ("'/X:q', 'i' after
// '/M:p'"); empty when every part of it counts.
std::string IgnoredOptions(const std::string& optionsPart);
// Replaces the leading macro name of lonPart by its value. 0 or 1.
int ParseMacro(VpiRequest* request, std::string& lonPart, std::string& macroName,
               std::string& macroValue);
