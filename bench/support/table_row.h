// The rows of the table that ./run-benchmarks prints at its end. A benchmark program prints each
// figure it checks as one line of its output:
//
//   row|<figure>|<measured value>|<baseline and its value>|<ratio>|<goal>|<met, missed or ->
//
// ./run-benchmarks collects these lines from every program, lays them out as one table and
// exits non-zero when a row says "missed". A field holds no "|"; "-" stands for none.
#pragma once

#include <string>

enum class GoalResult { kNone, kMet, kMissed };

// Whether `value` keeps to the goal `value op limit`, op one of "<=", "<", ">=", ">".
GoalResult CheckGoal(double value, const char* op, double limit);

// Prints one row; a ratio that is not a number is shown as "-".
void PrintRow(const std::string& figure, const std::string& value, const std::string& baseline,
              double ratio, const std::string& goal, GoalResult result);

// printf into a string, for the value and baseline fields.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A duration in nanoseconds with a readable unit: "3.4 ns", "850 ns", "5.12 us", "3.40 ms".
std::string Duration(double nanoseconds);
