// A console reporter that keeps, per benchmark function, the median CPU time of its
// repetitions (in the benchmark's unit), so that a program can print the ratio of two of them
// after the table.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class MedianTimeReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (!r.error_occurred && r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
        time[r.run_name.function_name] = r.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> time;
};
