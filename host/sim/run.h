// Runs the host simulator's commands (script.h) against a loaded driver.
#pragma once

#include <functional>
#include <string>

#include "host/sim/host_sim.h"
#include "host/sim/script.h"
#include "host/sim/sim_os.h"

namespace hostsim {

struct RunOptions {
  bool interactive = false;  // a user types: errors are shown and the session goes on
  bool browseOnly = false;   // this process only browses; another one runs the driver
  int expectTimeoutMs = 3000;
  std::string hookPath;  // the library exporting the dialog script hook
  std::string baseDir;   // relative file names are looked up here first (the script's folder)
  // Standard input, for watch to wait on its next line (Enter); unset in scripts. Waits at
  // most timeoutMs.
  std::function<InputStatus(std::string* line, int timeoutMs)> readInput;
};

enum class LineOutcome { kOk, kFailed, kQuit };

struct RunStats {
  int lines = 0;
  int expectations = 0;
};

// The option file of a driver instance in the working directory: TELMAR01.int for 1.
std::string OptionFileName(int instance);

// Runs one checked line. kFailed with *error set when an expectation does not hold or the
// command could not be carried out (unknown gate, file missing, ...).
LineOutcome RunLine(Host& host, const RunOptions& options, const ScriptLine& line, RunStats* stats,
                    std::string* error);

}  // namespace hostsim
