// The operating-system services of the host simulator program: loading libraries, the terminal,
// interrupts, directories and standard input with a time limit. The driver has its own layer in
// platform/; the simulator keeps its few calls here so that the rest of it is plain C++.
#pragma once

#include <ctime>
#include <string>

namespace hostsim {

// Loads a shared library; global makes its symbols visible to later lookups by name from any
// library (RTLD_GLOBAL). Null with *error set on failure.
void* LoadLibrary(const std::string& path, bool global, std::string* error);
void* LibrarySymbol(void* library, const char* name);
void UnloadLibrary(void* library);

bool StdoutIsTerminal();
bool StdinIsTerminal();
// The terminal's size in characters; 0 when standard output is no terminal.
void TerminalSize(int* columns, int* rows);
// True when a user could see a window: an X or Wayland display, or a Qt platform plugin chosen
// explicitly other than offscreen or minimal.
bool HasDisplay();

// Threads of this process now; -1 when unknown.
int ThreadCount();

// The local time of t; thread-safe.
std::tm LocalTime(std::time_t t);

// Ctrl-C and SIGTERM only set a flag, which Interrupted() reports.
void InstallInterruptHandler();
bool Interrupted();

// Creates a fresh directory under the system's temporary directory; "" on failure.
std::string MakeTempDir(const std::string& prefix);
bool ChangeDir(const std::string& path);
std::string CurrentDir();

enum class InputStatus { kLine, kTimeout, kEnd };
// Reads one line of standard input (without its line break), waiting at most timeoutMs.
InputStatus ReadInputLine(std::string* line, int timeoutMs);

}  // namespace hostsim
