// The host simulator: a SCADA host's side of the driver interface. It loads libtelmar.so,
// allocates the instance block, sends the driver its commands from one thread (the driver
// allows one worker command at a time), keeps every gate's binding words and value, reads the
// gates that do not listen at their polling rate, keeps the values the driver puts into
// listened gates, and shows the driver's log.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/host_records.h"
#include "host/sim/gate_list.h"

namespace hostsim {

using VpiMainFn = uint32_t (*)(VpiRequest*);

// A gate as the host holds it.
struct HostGate {
  GateSpec spec;
  // What SingleAddressParser returned; handed back with every read and write.
  bool parseTried = false;
  uint32_t parseResult = 0;
  int32_t nodeValue = 0;
  uint32_t bindingWord = 0;
  CNVItem* nvItem = nullptr;
  bool activityOn = false;  // message 109 start sent (updateMode 1)
  // The parse made the driver owe a first value (thread messages 2024, 2025), not yet put.
  bool firstValueDue = false;
  // The value: a cell, or a text for type 7.
  uint32_t cell = 0;
  std::string text;
  bool hasValue = false;
  int64_t changedAt = -1;  // host clock, ms
  uint64_t reads = 0, readErrors = 0, writes = 0, writeErrors = 0, puts = 0;
  int64_t nextPoll = 0;
  std::string lastError;  // why the last failed parse, read or write failed
  bool lastReadFailed = false;
};

// A change of a watched gate's value, as the watch command shows it.
struct WatchChange {
  int64_t at = 0;  // host clock, ms
  uint32_t id = 0;
  std::string before, after;  // the values as shown ("-" for none)
};

// Where the host's lines go: plain lines, or (the demo on a terminal) a log pane.
struct Console {
  std::mutex lock;
  int logLevel = 8;                // log lines below this level are not shown
  bool errorsOnly = false;         // show only the log lines that report a failure
  std::FILE* logFile = nullptr;    // every log and host line also goes here, unfiltered
  bool pane = false;               // keep log lines for the demo's pane instead of printing
  std::deque<std::string> recent;  // the pane's lines
  size_t paneLines = 200;          // lines the pane keeps; the demo shows the last that fit
  uint64_t shown = 0, hidden = 0;
};

void Say(Console& console, const std::string& line);  // a line of the host itself
// Whether a driver log line reports a failure or something the driver passed over ("fail",
// "ERROR", "not found", "refused", "ignores", ...): what --errors shows.
bool IsFailureLine(const std::string& text);
void ShowLogLine(Console& console, int level, const std::string& text);

struct Host {
  Console* console = nullptr;
  void* driver = nullptr;
  VpiMainFn vpiMain = nullptr;
  void* instance = nullptr;
  uint32_t instanceSize = 0;
  int32_t instanceNumber = 1;
  std::string banner;
  bool coldStarted = false;  // a ColdStart was sent and no EndVpi since
  int threadsBefore = -1;    // threads of the process before the driver started its own
  uint32_t lastResult = 0;
  std::string lastCommand;
  // Why the last command failed inside the network library ("file:line: what", "... is
  // detached"); empty when it succeeded or failed in the driver alone.
  std::string networkReason;
  // The driver's last few level-32 lines and how many it has logged (guarded by lock).
  std::deque<std::string> lastDriverErrors;
  uint64_t driverErrors = 0;
  std::string lastBrowse;
  uint64_t commands = 0;
  int64_t clockStart = 0;
  bool manualClock = true;

  // Guards the gates: the driver puts values on its worker and on the network's thread.
  mutable std::mutex lock;
  std::map<uint32_t, HostGate> gates;
  std::deque<uint32_t> routedWrites;  // gates written by a browser's Refresh, to pass on
  // The gates a watch command shows, and their changes not yet shown: every change is kept
  // (up to kWatchBacklog), so an NV that changes twice between two looks shows both.
  std::set<uint32_t> watched;
  std::deque<WatchChange> watchChanges;
  uint64_t watchDropped = 0;  // changes beyond the backlog, not kept
};

constexpr size_t kWatchBacklog = 1000;

// Loads the driver, resolves VpiMain, sends GetVpiInfo and allocates the instance block.
bool LoadDriver(Host& host, const std::string& path, std::string* error);
// EndVpi if still running, then frees the block and unloads the library.
void UnloadDriver(Host& host);
// Sends the host log and the driver's puts to this host.
void ConnectHostApi(Host& host);
void DisconnectHostApi();

// The host clock: the simulation's time in ms since the host started.
int64_t HostNow(const Host& host);

// One driver command with its parameter record; the result is kept in lastResult.
uint32_t SendCommand(Host& host, uint32_t command, void* params, const char* name);
uint32_t ColdStartDriver(Host& host, bool connectNetwork);
uint32_t EndDriver(Host& host);
// How many level-32 lines the driver has logged so far.
uint64_t DriverErrors(const Host& host);
// The driver's level-32 lines logged since it had logged `before` of them, as far as
// lastDriverErrors still holds them; with host.lock held.
std::vector<std::string> DriverLinesSince(const Host& host, uint64_t before);

// Adds a gate to the host's database. False, and nothing changed, when the id is defined
// already: the driver may still be putting the old binding's values into that gate, so a gate
// of the same id must first be removed (message 121, sub-code 3).
bool DefineGate(Host& host, const GateSpec& spec);
// False when the gate is unknown (no command sent).
bool ParseGate(Host& host, uint32_t id, uint32_t* result);
// A gate that the driver did not bind, and why (its lastError after the parse).
struct UnboundGate {
  GateSpec spec;
  std::string reason;
};
// Parses every gate of specs in turn; returns those whose parse failed.
std::vector<UnboundGate> ParseGates(Host& host, const std::vector<GateSpec>& specs);
bool ReadGate(Host& host, uint32_t id, uint32_t* result);
bool WriteGate(Host& host, uint32_t id, uint32_t cell, const std::string& text, uint32_t* result);
bool HostGateCopy(const Host& host, uint32_t id, HostGate* out);
bool Listens(const HostGate& gate);

// Waits until the driver has put the first value it owes a freshly parsed gate (a node gate's 1,
// the current value of a gate that always listens): the worker does that after the parse
// returned, between commands. A gate whose value does not come within timeoutMs is no longer
// waited for.
void WaitForFirstValues(Host& host, int timeoutMs);

// Reads every gate that is due; returns how many were read.
int PollDueGates(Host& host);
// Moves the clock on; gates are polled on the way.
void AdvanceClock(Host& host, int64_t ms);
// Waits until the network's events and the host messages so far are handled, then passes the
// routed writes on.
void Settle(Host& host);
void RouteWrites(Host& host);

// A step of a scripted browse dialog.
struct BrowseStep {
  std::string action;  // select, binding, type, polling, clear, refresh, tree, ok, cancel, close
  std::string argument;
};
struct BrowseOutcome {
  uint32_t result = 53;
  std::string address;            // the host's buffer after the command
  std::string shown;              // address and macro boxes before the dialog ended
  std::string error;              // a step that could not be done
  std::vector<std::string> tree;  // lines of a "tree" step
};
bool ParseBrowseSteps(const std::vector<std::string>& words, size_t first,
                      std::vector<BrowseStep>* steps, std::string* error);
// Sends BrowseAddress. With steps the dialog runs headless by them; without steps the driver
// shows it to the user when it can. hookPath: the library that exports the dialog script hook.
BrowseOutcome Browse(Host& host, const std::vector<BrowseStep>& steps, bool scripted,
                     const std::string& hookPath);

// The gate table: a header line and one line per gate, never wider than `width` columns.
std::vector<std::string> GateTable(const Host& host, size_t width);
// One gate whole, a line per property; empty when the gate is unknown.
std::vector<std::string> GateDetail(const Host& host, uint32_t id);
// ok, not bound, read error, detached, stale (/M:p at polling rate 0), or - (not parsed).
std::string GateStatus(const HostGate& gate);
// The value as the table shows it: "(not parsed)", "(parse failed)", "-" for none, texts quoted.
std::string GateValueText(const HostGate& gate);

// The gate list as bound, as CSV: a header line, then id, type, updateMode, pollingRate,
// address, binding word (0x0104; empty before a parse), status.
std::vector<std::string> GatesCsv(const Host& host);
// Where the [Macros] header line of an option file's text starts (the header in any case,
// blanks around it), or npos when the text has none.
size_t MacrosHeaderAt(const std::string& text);
// The macros of an option file's contents ("#NAME = VALUE" lines after [Macros], read as the
// driver reads them, 8-bit or UTF-16 after its byte-order mark; the first line of a name counts),
// as CSV: name, value, and the ids of the gates whose address uses the macro.
std::vector<std::string> MacrosCsv(const Host& host, const std::string& optionFile);
// A CSV field: quoted when it holds a comma, a quote, a line break or blanks at its ends.
std::string CsvField(const std::string& text);

}  // namespace hostsim
