#include "bench/support/table_row.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

GoalResult CheckGoal(double value, const char* op, double limit) {
  bool met = false;
  if (std::strcmp(op, "<=") == 0) met = value <= limit;
  if (std::strcmp(op, "<") == 0) met = value < limit;
  if (std::strcmp(op, ">=") == 0) met = value >= limit;
  if (std::strcmp(op, ">") == 0) met = value > limit;
  return met ? GoalResult::kMet : GoalResult::kMissed;  // NaN misses every goal
}

void PrintRow(const std::string& figure, const std::string& value, const std::string& baseline,
              double ratio, const std::string& goal, GoalResult result) {
  const char* verdict = result == GoalResult::kMet      ? "met"
                        : result == GoalResult::kMissed ? "missed"
                                                        : "-";
  std::string ratioText = std::isnan(ratio) ? "-" : Format("%.2f", ratio);
  std::printf("row|%s|%s|%s|%s|%s|%s\n", figure.c_str(), value.c_str(), baseline.c_str(),
              ratioText.c_str(), goal.c_str(), verdict);
  std::fflush(stdout);
}

std::string Format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string Duration(double nanoseconds) {
  if (nanoseconds < 10) return Format("%.1f ns", nanoseconds);
  if (nanoseconds < 1e3) return Format("%.0f ns", nanoseconds);
  if (nanoseconds < 1e6) return Format("%.2f us", nanoseconds / 1e3);
  return Format("%.2f ms", nanoseconds / 1e6);
}
