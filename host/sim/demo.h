// The demo: the driver on the built-in demo network with a gate list that shows every kind of
// gate, and a short scenario that shows every capability, as a live table on a terminal or as
// plain lines otherwise.
#pragma once

#include <string>

namespace hostsim {

struct DemoOptions {
  std::string driverPath;
  std::string hookPath;
  std::string workdir;     // "" for a fresh temporary directory
  bool keep = false;       // keep the temporary directory
  bool fast = false;       // on the simulation clock, without waiting
  double duration = 40.0;  // seconds the scenario takes in real time
  int logLevel = 8;
};

// The demo's option file and gate list, as written into its working directory.
extern const char* const kDemoOptionFile;
extern const char* const kDemoGateList;

// Runs the demo; the process's exit status: 0 when every check of the scenario held.
int RunDemo(const DemoOptions& options);

}  // namespace hostsim
