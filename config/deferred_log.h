// Log lines kept while a cross-process lock is held and given to the host once it is released:
// a host whose logging is slow never holds up another process that waits for the lock.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/attributes.h"

struct DeferredLog {
  std::vector<std::pair<int, std::string>> lines;  // level, text
};

// Keeps a line as err() would log it.
void Defer(DeferredLog* log, int level, const char* format, ...) PLATFORM_PRINTF(3, 4);
// Logs the kept lines in their order and forgets them.
void FlushLog(DeferredLog* log);
