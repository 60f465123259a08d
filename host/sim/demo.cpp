#include "host/sim/demo.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "host/kest_host.h"
#include "host/sim/host_sim.h"
#include "host/sim/run.h"
#include "host/sim/sim_os.h"
#include "host/sim/values.h"
#include "netsim/lonsim_control.h"

namespace hostsim {

const char* const kDemoOptionFile =
    "; Option file of driver instance 1 on the built-in demo network.\n"
    "[Lns]\n"
    "Network=Demo\n"
    "Delimiter=.\n"
    "PinEvent=1\n"
    "DebugLevel=3\n"
    "\n"
    "[Macros]\n"
    "#R101 = Building.Floor1.Room101\n";

const char* const kDemoGateList =
    "; id type updateMode pollingRate address\n"
    "; NV gates: a float that always listens, an input NV behind a macro read every second\n"
    "1  3 2 0    Building.Floor1.Room101.nvoSpaceTemp\n"
    "2  3 0 1000 #R101.nviSetpoint\n"
    "; NV fields of a structured NV, in Integer and Discrete format\n"
    "3  0 2 0    #R101.nvoLamp.value/F:i\n"
    "4  6 2 0    #R101.nvoLamp.state/F:d\n"
    "; packed BCD and 32-bit integers: host polling, an LNS binding, library polling\n"
    "5  2 0 2000 Building.Floor1.Room101.nvoCount/F:i\n"
    "6  4 2 0    Building.Plant.Pump.nvoSpeed /M:b\n"
    "7  5 0 1500 Building.Plant.Boiler.nvoRunHours /M:p /F:i\n"
    "; a text NV in Raw format\n"
    "8  7 2 0    #R101.nvoDisplay/F:w\n"
    "; node gates: 1 while the device is attached\n"
    "9  1 0 1000 Building.Plant.Pump\n"
    "10 1 0 0    Building.Floor1.Room101\n"
    "; the special gates\n"
    "11 7 0 0    !ServicePin\n"
    "12 1 0 0    !Browse\n"
    "; listens on demand (gate activity)\n"
    "13 3 1 0    Building.Floor2.Room201.nvoSpaceTemp\n";

namespace {

// What a step must show once its commands ran. `gate` 0 checks something else than a gate.
struct Check {
  enum Kind {
    kValue,       // the gate holds `expected` (floats within a thousandth)
    kSomeValue,   // the driver has put a value into the gate
    kUnchanged,   // the gate holds the value it had before the step (never `expected`)
    kPinText,     // the gate holds a service-pin text of the device with Neuron ID `expected`
    kBrowsed,     // the last browse returned `expected`
    kOptionFile,  // the option file holds `expected`
  };
  Kind kind;
  uint32_t gate;
  const char* expected;
};

struct Step {
  double at;  // seconds into the scenario (of 40)
  const char* caption;
  std::vector<const char*> lines;
  std::vector<Check> checks;
};

// The scenario, as commands of the host simulator.
const std::vector<Step>& Scenario() {
  static const std::vector<Step> steps = {
      {1, "The station becomes active: monitoring of listened NVs switches on", {"active"}, {}},
      {4,
       "Room 101 gets warmer",
       {"net value Building.Floor1.Room101.nvoSpaceTemp 23.5"},
       {{Check::kValue, 1, "23.5"}}},
      {7,
       "The lamp of room 101 switches on (a structured NV, two field gates)",
       {"net raw Building.Floor1.Room101.nvoLamp C801"},
       {{Check::kValue, 3, "100"}, {Check::kValue, 4, "1"}}},
      {10,
       "Gate 13 (updateMode 1) starts listening: gate activity",
       {"activity 13 start"},
       {{Check::kSomeValue, 13, ""}}},
      {13,
       "The service pin of room 101 is pressed",
       {"net pin Building.Floor1.Room101"},
       {{Check::kPinText, 11, "00A1B2C3D4E5"}}},
      {16, "The pump detaches", {"net detach Building.Plant.Pump"}, {{Check::kValue, 9, "0"}}},
      {19,
       "The host writes 23 into the input NV nviSetpoint",
       {"write 2 23", "read 2"},
       {{Check::kValue, 2, "23"}}},
      {22,
       "The pump attaches again",
       {"net attach Building.Plant.Pump"},
       {{Check::kValue, 9, "1"}}},
      {25,
       "A browse picks Room201.nvoSpaceTemp: a new macro, a new gate",
       {"browse select Building.Floor2.Room201.nvoSpaceTemp refresh binding Implicit type Real ok",
        "gate 20 3 2 0 @address", "parse 20"},
       {{Check::kBrowsed, 0, "#002.nvoSpaceTemp/M:i/F:r"},
        {Check::kOptionFile, 0, "#002 = Building.Floor2.Room201"},
        {Check::kSomeValue, 20, ""}}},
      {29,
       "Room 201 gets colder",
       {"net value Building.Floor2.Room201.nvoSpaceTemp 19.5"},
       {{Check::kValue, 20, "19.5"}, {Check::kValue, 13, "19.5"}}},
      {33, "The station becomes passive: monitoring switches off", {"passive"}, {}},
      {36,
       "Room 101 changes, unseen while passive",
       {"net value Building.Floor1.Room101.nvoSpaceTemp 25"},
       {{Check::kUnchanged, 1, "25"}}},
      {40, "End of the scenario", {}, {}},
  };
  return steps;
}

struct Demo {
  const DemoOptions& options;
  Host& host;
  Console& console;
  bool live = false;
  std::string caption;
  std::vector<std::string> failures;  // steps that could not be done
};

// The gate table, and below it in full every text that the table had to cut.
std::vector<std::string> TableLines(const Host& host, size_t width) {
  std::vector<std::string> table = GateTable(host, width);
  std::vector<std::string> whole;
  {
    std::lock_guard<std::mutex> guard(host.lock);
    for (const auto& [id, g] : host.gates) {
      if (g.spec.type != kTextGateType || !g.hasValue) continue;
      std::string value = "'" + FormatGateValue(g.spec.type, g.cell, g.text) + "'";
      bool shown = std::any_of(table.begin(), table.end(), [&](const std::string& row) {
        return row.find(value) != std::string::npos;
      });
      if (!shown) whole.push_back("  gate " + std::to_string(id) + " in full: " + value);
    }
  }
  table.insert(table.end(), whole.begin(), whole.end());
  return table;
}

void Render(Demo& d) {
  if (!d.live) return;
  int columns = 0, rows = 0;
  TerminalSize(&columns, &rows);
  size_t width = columns >= 80 ? static_cast<size_t>(columns) - 1 : 119;
  std::vector<std::string> table = TableLines(d.host, std::min<size_t>(width, 140));
  // The log pane takes the lines that the heading and the table leave.
  size_t paneLines =
      rows > 0 ? static_cast<size_t>(std::max(3, rows - 7 - static_cast<int>(table.size()))) : 12;
  std::string frame = "\x1b[H";
  char head[256];
  std::snprintf(head, sizeof(head), "telmar host simulator - demo network    t = %5.1f s    %s",
                static_cast<double>(HostNow(d.host)) / 1000.0,
                d.options.fast ? "(simulation clock)" : "(Ctrl-C ends)");
  frame += std::string(head) + "\x1b[K\n\x1b[1m" + d.caption + "\x1b[0m\x1b[K\n\x1b[K\n";
  for (const std::string& row : table) frame += row + "\x1b[K\n";
  frame += "\x1b[K\nhost log:\x1b[K\n";
  {
    std::lock_guard<std::mutex> guard(d.console.lock);
    size_t skip = d.console.recent.size() > paneLines ? d.console.recent.size() - paneLines : 0;
    for (const std::string& l : d.console.recent) {
      if (skip > 0) {
        --skip;
        continue;
      }
      frame += l.substr(0, width) + "\x1b[K\n";
    }
  }
  frame += "\x1b[J";
  std::fputs(frame.c_str(), stdout);
  std::fflush(stdout);
}

void RunStepLines(Demo& d, const Step& step) {
  RunOptions run;
  run.hookPath = d.options.hookPath;
  run.expectTimeoutMs = 3000;
  RunStats stats;
  for (const char* text : step.lines) {
    ScriptLine line;
    std::string error;
    if (!ParseCommandLine(text, &line, &error) ||
        RunLine(d.host, run, line, &stats, &error) == LineOutcome::kFailed) {
      d.failures.push_back(std::string(text) + ": " + error);
      Say(d.console, std::string("demo: ") + text + ": " + error);
    }
  }
}

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

std::string ShownValue(const HostGate& g) {
  if (!g.hasValue) return "no value";
  std::string value = FormatGateValue(g.spec.type, g.cell, g.text);
  return g.spec.type == kTextGateType ? Quoted(value) : value;
}

// "NeuronId <neuronId> ServicePin press, at MM/DD/YY HH:MM:SS"
bool IsPinText(const std::string& text, const std::string& neuronId) {
  const std::string head = "NeuronId " + neuronId + " ServicePin press, at ";
  const std::string shape = "00/00/00 00:00:00";
  if (text.size() != head.size() + shape.size() || text.compare(0, head.size(), head) != 0) {
    return false;
  }
  for (size_t i = 0; i < shape.size(); ++i) {
    char c = text[head.size() + i];
    bool digit = c >= '0' && c <= '9';
    if (shape[i] == '0' ? !digit : c != shape[i]) return false;
  }
  return true;
}

std::string OptionFileText() {
  std::ifstream file("TELMAR01.int");
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Whether the check holds now; `seen` and `expected` say what was found and what should be.
bool Evaluate(Demo& d, const Check& c, const std::string& before, std::string* seen,
              std::string* expected) {
  HostGate g;
  if (c.gate != 0) HostGateCopy(d.host, c.gate, &g);
  switch (c.kind) {
    case Check::kValue:
      *seen = ShownValue(g);
      *expected = c.expected;
      return g.hasValue && GateValueMatches(g.spec.type, g.cell, g.text, c.expected);
    case Check::kSomeValue:
      *seen = ShownValue(g);
      *expected = "a value put by the driver";
      return g.hasValue && g.puts > 0;
    case Check::kUnchanged:
      *seen = ShownValue(g);
      *expected = before + " as before, not " + c.expected;
      return *seen == before;
    case Check::kPinText:
      *seen = ShownValue(g);
      *expected =
          std::string("'NeuronId ") + c.expected + " ServicePin press, at MM/DD/YY HH:MM:SS'";
      return g.hasValue && IsPinText(g.text, c.expected);
    case Check::kBrowsed: {
      std::lock_guard<std::mutex> guard(d.host.lock);
      *seen = Quoted(d.host.lastBrowse);
      *expected = Quoted(c.expected);
      return d.host.lastBrowse == c.expected;
    }
    case Check::kOptionFile: {
      bool found = OptionFileText().find(c.expected) != std::string::npos;
      *seen = found ? "the line" : "no such line";
      *expected = Quoted(c.expected);
      return found;
    }
  }
  return false;
}

// Where a check looks, for its line.
std::string Subject(const Check& c) {
  if (c.kind == Check::kBrowsed) return "browse";
  if (c.kind == Check::kOptionFile) return "TELMAR01.int";
  return "gate " + std::to_string(c.gate);
}

// Checks what a step must show, waiting a moment for values still on their way, and prints
// one line per check: what it saw against what it expected. Failures go to the summary.
void RunStepChecks(Demo& d, const Step& step, const std::vector<std::string>& before) {
  if (step.checks.empty()) return;
  Settle(d.host);
  for (size_t i = 0; i < step.checks.size(); ++i) {
    const Check& c = step.checks[i];
    std::string seen, expected;
    bool held = Evaluate(d, c, before[i], &seen, &expected);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!held && c.kind != Check::kUnchanged && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      RouteWrites(d.host);
      held = Evaluate(d, c, before[i], &seen, &expected);
    }
    if (c.kind == Check::kPinText && held) {
      // The text in full, on a line of its own; the table shows only its beginning.
      HostGate g;
      HostGateCopy(d.host, c.gate, &g);
      Say(d.console, "   " + g.text);
      seen = "the text above";
    }
    std::string line = "   " + Subject(c) + ": seen " + seen + ", expected " + expected;
    Say(d.console, line + (held ? "  ok" : "  FAILED"));
    if (!held) d.failures.push_back(Subject(c) + ": seen " + seen + ", expected " + expected);
  }
}

// Waits until the scenario's clock reaches `seconds`, polling, routing and redrawing.
void WaitUntil(Demo& d, double seconds) {
  double scale = d.options.fast ? 1.0 : d.options.duration / 40.0;
  int64_t target = static_cast<int64_t>(seconds * scale * 1000.0);
  if (d.options.fast) {
    int64_t now = HostNow(d.host);
    if (target > now) AdvanceClock(d.host, target - now);
    Settle(d.host);
    Render(d);
    return;
  }
  auto lastDraw = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  while (HostNow(d.host) < target && !Interrupted()) {
    PollDueGates(d.host);
    RouteWrites(d.host);
    if (std::chrono::steady_clock::now() - lastDraw > std::chrono::milliseconds(250)) {
      Render(d);
      lastDraw = std::chrono::steady_clock::now();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Render(d);
}

// What the scenario must have shown; each failure is reported in the summary.
std::vector<std::string> Checks(Demo& d, uint32_t coldStart, uint32_t endVpi) {
  std::vector<std::string> failed = d.failures;
  if (coldStart != 0) failed.push_back("ColdStart returned " + std::to_string(coldStart));
  {
    std::lock_guard<std::mutex> guard(d.host.lock);
    for (const auto& [id, g] : d.host.gates) {
      if (!g.parseTried || g.parseResult != 0) {
        failed.push_back("gate " + std::to_string(id) + " '" + g.spec.address + "' was not bound");
      }
    }
  }
  if (endVpi != 0) failed.push_back("EndVpi returned " + std::to_string(endVpi));
  return failed;
}

void Summary(Demo& d, const std::vector<std::string>& failed, bool interrupted) {
  std::vector<std::string> lines;
  lines.push_back("");
  lines.push_back(interrupted ? "Demo interrupted: EndVpi sent." : "Demo finished: EndVpi sent.");
  uint64_t reads = 0, readErrors = 0, writes = 0, puts = 0;
  {
    std::lock_guard<std::mutex> guard(d.host.lock);
    for (const auto& [id, g] : d.host.gates) {
      reads += g.reads;
      readErrors += g.readErrors;
      writes += g.writes;
      puts += g.puts;
    }
    lines.push_back(std::to_string(d.host.gates.size()) + " gates, " +
                    std::to_string(d.host.commands) + " driver commands: " + std::to_string(reads) +
                    " reads (" + std::to_string(readErrors) + " failed), " +
                    std::to_string(writes) + " writes, " + std::to_string(puts) +
                    " values put by the driver.");
  }
  size_t errors = 0, all = 0;
  for (const kesthost::LogLine& l : kesthost::Log()) {
    ++all;
    errors += l.level >= 32;
  }
  lines.push_back(std::to_string(all) + " log lines (" + std::to_string(errors) +
                  " at level 32); simulation time " + std::to_string(HostNow(d.host) / 1000) +
                  " s.");
  if (!interrupted) {
    if (failed.empty()) {
      lines.push_back("Every step of the scenario showed what it should.");
    } else {
      for (const std::string& f : failed) lines.push_back("CHECK FAILED: " + f);
    }
  }
  for (const std::string& l : lines) Say(d.console, l);
}

}  // namespace

int RunDemo(const DemoOptions& options) {
  std::string dir = options.workdir;
  bool temporary = dir.empty();
  if (temporary) dir = MakeTempDir("telmar-demo-");
  std::error_code ec;
  if (dir.empty() || (std::filesystem::create_directories(dir, ec), !ChangeDir(dir))) {
    std::fprintf(stderr, "telmar-host: cannot use the working directory '%s'\n", dir.c_str());
    return 1;
  }
  std::ofstream("TELMAR01.int", std::ios::trunc) << kDemoOptionFile;
  std::ofstream("demo.gates", std::ios::trunc) << kDemoGateList;

  Console console;
  console.logLevel = options.logLevel;
  Host host;
  host.console = &console;
  host.manualClock = options.fast;
  if (options.fast) lonsim::UseManualClock();
  ConnectHostApi(host);
  InstallInterruptHandler();

  Demo d{options, host, console, false, "", {}};
  d.live = StdoutIsTerminal();
  console.pane = d.live;
  if (d.live) std::fputs("\x1b[2J", stdout);
  Say(console, "demo: working directory " + dir);

  std::string error;
  if (!LoadDriver(host, options.driverPath, &error)) {
    console.pane = false;
    std::fprintf(stderr, "telmar-host: %s\n", error.c_str());
    DisconnectHostApi();
    return 1;
  }
  std::vector<GateSpec> gates;
  ParseGateList(kDemoGateList, "demo.gates", &gates, &error);
  for (const GateSpec& g : gates) DefineGate(host, g);

  d.caption = "ColdStart on the demo network, then every gate of demo.gates is parsed";
  Say(console, "== " + d.caption);
  uint32_t coldStart = ColdStartDriver(host, true);
  for (const GateSpec& g : gates) {
    uint32_t rc;
    ParseGate(host, g.id, &rc);
  }
  WaitForFirstValues(host, 3000);
  Settle(host);
  if (!d.live) {
    for (const std::string& row : TableLines(host, 110)) Say(console, row);
  }
  Render(d);

  for (const Step& step : Scenario()) {
    WaitUntil(d, step.at);
    if (Interrupted()) break;
    d.caption = step.caption;
    char head[64];
    std::snprintf(head, sizeof(head), "== t = %.1f s: ", static_cast<double>(HostNow(host)) / 1000);
    Say(console, head + d.caption);
    std::vector<std::string> before;
    for (const Check& c : step.checks) {
      HostGate g;
      if (c.gate != 0) HostGateCopy(host, c.gate, &g);
      before.push_back(ShownValue(g));
    }
    RunStepLines(d, step);
    RunStepChecks(d, step, before);
    Render(d);
  }
  bool interrupted = Interrupted();
  Settle(host);
  uint32_t endVpi = EndDriver(host);
  Render(d);
  console.pane = false;
  if (d.live) std::fputs("\n", stdout);
  if (!d.live) {
    for (const std::string& row : TableLines(host, 110)) Say(console, row);
  }
  std::vector<std::string> failed = Checks(d, coldStart, endVpi);
  Summary(d, failed, interrupted);
  UnloadDriver(host);
  DisconnectHostApi();
  if (temporary && !options.keep) {
    ChangeDir("/");
    std::filesystem::remove_all(dir, ec);
  } else {
    Say(console, "demo: the working directory is kept: " + dir);
  }
  if (interrupted) return 130;
  return failed.empty() ? 0 : 1;
}

}  // namespace hostsim
