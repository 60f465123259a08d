// Starting another program of the build and waiting for its end, its standard streams taken
// from or sent to files: how the tests run a second host or telmar-host as a user would.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
  int status = -1;  // its exit code; -1 when it could not be started or did not exit normally
  long pid = 0;     // its process id, once started
};

// Runs `program` with `args` (which hold no quotes) and waits for it. `input` names the file
// that becomes its standard input, `output` and `error` the files that its standard output and
// error replace; an empty name leaves the caller's own stream.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input, const std::string& output,
                      const std::string& error);
