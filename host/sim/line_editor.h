// Line editing and history for the interactive prompt, where a line editor library (libedit)
// was found when the program was built; without one, input is read as plain lines.
#pragma once

#include <string>

#include "host/sim/sim_os.h"

namespace hostsim {

// Starts editing standard input (a terminal) with this prompt. False when the program has no
// line editor: the caller then prints its own prompt and uses ReadInputLine.
bool LineEditorStart(const std::string& prompt);
// One edited line, waiting at most timeoutMs; the prompt comes again for the next line.
InputStatus LineEditorRead(std::string* line, int timeoutMs);
void LineEditorStop();

}  // namespace hostsim
