#include "config/deferred_log.h"

#include <cstdarg>
#include <cstdio>

#include "core/host_api.h"

void Defer(DeferredLog* log, int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<size_t>(n));
  }
  va_end(again);
  log->lines.emplace_back(level, std::move(text));
}

void FlushLog(DeferredLog* log) {
  for (const auto& [level, text] : log->lines) err(level, "%s", text.c_str());
  log->lines.clear();
}
