// telmar-host: runs the driver as a SCADA host would, on the simulated network.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/kest_host.h"
#include "host/sim/demo.h"
#include "host/sim/host_sim.h"
#include "host/sim/line_editor.h"
#include "host/sim/run.h"
#include "host/sim/script.h"
#include "host/sim/sim_os.h"
#include "netsim/lonsim_control.h"

namespace {

const char* const kUsage =
    "Usage: telmar-host [OPTIONS]\n"
    "Runs the telmar driver (libtelmar.so) as a SCADA host would, against the simulated\n"
    "LonWorks network: it loads the driver, sends ColdStart from a working directory that holds\n"
    "the option file TELMAR01.int, parses the gates of a gate list, reads and writes them and\n"
    "shows the driver's log. Commands come from a script file or standard input.\n"
    "\n"
    "  --demo                 the demo: a scenario on the built-in demo network, then a summary\n"
    "  --fast                 demo: run on the simulation clock without waiting (for CI)\n"
    "  --duration SECONDS     demo: how long the scenario takes in real time (default 40)\n"
    "  --keep                 keep a temporary working directory at the end\n"
    "  --script FILE          run the commands of FILE; exit 1 at the first failed line\n"
    "  --gates FILE           define the gates of a gate list before the commands run\n"
    "  --start                send ColdStart and parse every gate before the commands run; when\n"
    "                         a gate is not bound, list it and exit 1 at the end\n"
    "  --allow-unbound        with --start: gates that are not bound do not fail the run\n"
    "  --workdir DIR          the driver's working directory (created when missing);\n"
    "                         default: the current directory\n"
    "  --temp-workdir         a fresh temporary working directory, removed at the end\n"
    "  --option-file FILE     copy FILE into the working directory as the option file; refused\n"
    "                         when the directory holds a different one (macros that browses\n"
    "                         added, for instance)\n"
    "  --replace-option-file  with --option-file: replace a different option file all the\n"
    "                         same, keeping it as TELMARnn.int.bak\n"
    "  --network NAME|FILE    when the working directory has no option file, write one on this\n"
    "                         network (Demo: the built-in demo network; else a network file)\n"
    "  --driver PATH          the driver library (default: the one built with this program)\n"
    "  --instance N           the driver instance number (default 1: option file TELMAR01.int)\n"
    "  --browse-only          only browse (command 16) while another process runs the driver\n"
    "  --log-level N          show log lines of level N and above (default 8: all). The driver\n"
    "                         logs at 8 (trace) and 32; level 32 holds its failures but also\n"
    "                         routine lines (the option listing, 'driver loaded', ...)\n"
    "  --errors               show only the log lines that report a failure or something the\n"
    "                         driver passed over ('fail', 'ERROR', 'not found', 'refused',\n"
    "                         'ignores', ...): a filter of telmar-host, not a level\n"
    "  --log-file FILE        also write every log line (all levels) and every line of the\n"
    "                         host, with its time, to FILE\n"
    "  --clock manual|real    the simulation clock (default: manual for scripts, real on a\n"
    "                         terminal and for the demo)\n"
    "  --expect-timeout MS    how long an expectation waits for the driver (default 3000)\n"
    "  --check-network FILE   only check a network file (or Demo) and say what is wrong in it\n"
    "  --check-gates FILE     only check a gate list and say what is wrong in it; with\n"
    "                         --network NAME|FILE the driver also resolves every address on\n"
    "                         that network (with the macros of --option-file FILE)\n"
    "  --help [COMMAND]       this text and every command, or one command's help\n"
    "\n"
    "Address options (after the first '/' of a gate's address; one /M: and one /F:):\n"
    "  /M:p  the network library polls the NV at the gate's polling rate (0: never)\n"
    "  /M:b /M:c /M:i /M:e /M:a  binding options 1 to 5 (Bounded, -, Implicit, Explicit,\n"
    "        App. Host)\n"
    "  /F:i 32-bit integer, /F:r 32-bit float, /F:d boolean, /F:w text, /F:b byte array\n"
    "  Without /F: the format follows the gate type. Other text in the options is ignored\n"
    "  (the driver logs a level-32 line naming it).\n"
    "\n"
    "Exit status: 0 success; 1 a failed expectation or command, or the driver could not be\n"
    "loaded; 2 a bad option, gate list or script line; 130 interrupted.\n";

constexpr size_t kHistoryEntries = 20000;

struct Options {
  bool demo = false, fast = false, keep = false, start = false, browseOnly = false;
  bool allowUnbound = false, errorsOnly = false, replaceOptionFile = false;
  bool tempWorkdir = false;
  double duration = 40;
  std::string script, gates, workdir, optionFile, network, driver, clock, helpTopic;
  std::string checkNetwork, checkGates, logFile;
  bool help = false;
  int instance = 1, logLevel = 8, expectTimeout = 3000;
};

std::string Absolute(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  auto p = std::filesystem::absolute(path, ec);
  return ec ? path : p.lexically_normal().string();
}

// A network as the driver gets it: the built-in Demo by name, a network file by its absolute
// path.
std::string NetworkPath(const std::string& network) {
  return network == "Demo" ? network : Absolute(network);
}

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        *error = "the option " + a + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    auto number = [&](long long lo, long long hi, long long* out) {
      std::string v;
      if (!value(&v)) return false;
      if (!hostsim::ReadInt(v, lo, hi, out)) {
        *error = "the option " + a + " needs a number " + std::to_string(lo) + ".." +
                 std::to_string(hi) + ", not '" + v + "'";
        return false;
      }
      return true;
    };
    long long n = 0;
    std::string v;
    if (a == "--demo") {
      o->demo = true;
    } else if (a == "--fast") {
      o->fast = true;
    } else if (a == "--keep") {
      o->keep = true;
    } else if (a == "--start") {
      o->start = true;
    } else if (a == "--errors") {
      o->errorsOnly = true;
    } else if (a == "--replace-option-file") {
      o->replaceOptionFile = true;
    } else if (a == "--log-file") {
      if (!value(&o->logFile)) return false;
    } else if (a == "--allow-unbound") {
      o->allowUnbound = true;
    } else if (a == "--browse-only") {
      o->browseOnly = true;
    } else if (a == "--temp-workdir") {
      o->tempWorkdir = true;
    } else if (a == "--help" || a == "-h") {
      o->help = true;
      if (i + 1 < argc && argv[i + 1][0] != '-') o->helpTopic = argv[++i];
    } else if (a == "--duration") {
      if (!number(1, 3600, &n)) return false;
      o->duration = static_cast<double>(n);
    } else if (a == "--check-network") {
      if (!value(&o->checkNetwork)) return false;
    } else if (a == "--check-gates") {
      if (!value(&o->checkGates)) return false;
    } else if (a == "--script") {
      if (!value(&o->script)) return false;
    } else if (a == "--gates") {
      if (!value(&o->gates)) return false;
    } else if (a == "--workdir") {
      if (!value(&o->workdir)) return false;
    } else if (a == "--option-file") {
      if (!value(&o->optionFile)) return false;
    } else if (a == "--network") {
      if (!value(&o->network)) return false;
    } else if (a == "--driver") {
      if (!value(&o->driver)) return false;
    } else if (a == "--instance") {
      if (!number(0, 255, &n)) return false;
      o->instance = static_cast<int>(n);
    } else if (a == "--log-level") {
      if (!number(0, 1000, &n)) return false;
      o->logLevel = static_cast<int>(n);
    } else if (a == "--expect-timeout") {
      if (!number(0, 600000, &n)) return false;
      o->expectTimeout = static_cast<int>(n);
    } else if (a == "--clock") {
      if (!value(&o->clock)) return false;
      if (o->clock != "manual" && o->clock != "real") {
        *error = "--clock takes manual or real, not '" + o->clock + "'";
        return false;
      }
    } else {
      *error = "unknown option '" + a + "' (see --help)";
      return false;
    }
  }
  if (o->demo && (o->errorsOnly || !o->logFile.empty())) {
    *error = "--errors and --log-file do not apply to --demo";
    return false;
  }
  if (o->replaceOptionFile && o->optionFile.empty()) {
    *error = "--replace-option-file goes with --option-file FILE";
    return false;
  }
  if (o->workdir.size() && o->tempWorkdir) {
    *error = "--workdir and --temp-workdir exclude each other";
    return false;
  }
  return true;
}

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *text = s.str();
  return true;
}

// --check-gates with --network: every gate parsed by the driver on that network (with the
// macros of --option-file), in a temporary working directory, so that nothing of the user's
// changes. 0 when every address resolves, 2 otherwise.
int ResolveGates(const Options& o, const std::string& driver,
                 const std::vector<hostsim::GateSpec>& specs) {
  std::string network = NetworkPath(o.network);
  std::string macros = "[Macros]\n";
  if (!o.optionFile.empty()) {
    std::string text;
    if (!ReadFile(o.optionFile, &text)) {
      std::fprintf(stderr, "telmar-host: cannot read the option file '%s'\n", o.optionFile.c_str());
      return 2;
    }
    size_t header = hostsim::MacrosHeaderAt(text);
    if (header != std::string::npos) macros = text.substr(header);
  }
  std::string home = hostsim::CurrentDir();
  std::string dir = hostsim::MakeTempDir("telmar-check-");
  if (dir.empty() || !hostsim::ChangeDir(dir)) {
    std::fprintf(stderr, "telmar-host: cannot make a temporary working directory\n");
    return 2;
  }
  std::ofstream(hostsim::OptionFileName(o.instance)) << "[Lns]\nNetwork=" << network << "\n\n"
                                                     << macros;
  lonsim::UseManualClock();
  kesthost::SetHistoryLimit(kHistoryEntries);
  hostsim::Console console;
  console.logLevel = 1000;  // the driver's lines are kept for the reasons, not shown
  hostsim::Host host;
  host.console = &console;
  host.instanceNumber = o.instance;
  hostsim::ConnectHostApi(host);
  std::string error;
  std::vector<std::string> failures;
  if (!hostsim::LoadDriver(host, driver, &error)) {
    failures.push_back("telmar-host: " + error);
  } else {
    for (const hostsim::GateSpec& g : specs) hostsim::DefineGate(host, g);
    uint32_t rc = hostsim::ColdStartDriver(host, true);
    if (rc != 0) {
      std::string why = host.networkReason;
      std::lock_guard<std::mutex> guard(host.lock);
      if (why.empty() && !host.lastDriverErrors.empty()) why = host.lastDriverErrors.back();
      failures.push_back("telmar-host: ColdStart on the network " + o.network + " -> " +
                         std::to_string(rc) + (why.empty() ? std::string() : ": " + why));
    } else {
      for (const hostsim::UnboundGate& u : hostsim::ParseGates(host, specs)) {
        failures.push_back(u.spec.origin + ": gate " + std::to_string(u.spec.id) + " '" +
                           u.spec.address + "' does not resolve: " + u.reason);
      }
    }
    hostsim::UnloadDriver(host);
  }
  hostsim::DisconnectHostApi();
  hostsim::ChangeDir(home);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  if (failures.empty()) {
    std::printf("%s: %zu gates, the gate list is good; every address resolves on the network %s\n",
                o.checkGates.c_str(), specs.size(), o.network.c_str());
    return 0;
  }
  for (const std::string& f : failures) std::fprintf(stderr, "%s\n", f.c_str());
  std::fprintf(stderr, "%s: checked on the network %s%s\n", o.checkGates.c_str(), o.network.c_str(),
               o.optionFile.empty() ? "" : (" with the macros of " + o.optionFile).c_str());
  return 2;
}

// --check-network and --check-gates: the file alone, without the driver; with --network the
// gate list's addresses are also resolved by the driver. 0 good, 2 bad.
int CheckFiles(const Options& o, const std::string& driver) {
  int status = 0;
  if (!o.checkNetwork.empty()) {
    std::string error;
    std::string name = NetworkPath(o.checkNetwork);
    lonsim::NetworkCounts counts;
    if (lonsim::CheckNetwork(name, &error, &counts)) {
      std::printf("%s: the network file is good\n", o.checkNetwork.c_str());
      std::printf("%d devices, %d network variables (%d from XIF files)\n", counts.devices,
                  counts.nvs, counts.fromXif);
    } else {
      std::fprintf(stderr, "%s\n", error.c_str());
      status = 2;
    }
  }
  if (!o.checkGates.empty()) {
    std::string text, error;
    std::vector<hostsim::GateSpec> specs;
    if (!ReadFile(o.checkGates, &text)) {
      std::fprintf(stderr, "telmar-host: cannot read the gate list '%s'\n", o.checkGates.c_str());
      status = 2;
    } else if (!hostsim::ParseGateList(text, o.checkGates, &specs, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      status = 2;
    } else if (o.network.empty()) {
      std::printf(
          "%s: %zu gates, the gate list is good (its addresses are not resolved: "
          "--network NAME|FILE resolves them)\n",
          o.checkGates.c_str(), specs.size());
    } else {
      status = ResolveGates(o, driver, specs);
    }
  }
  return status;
}

// Runs checked lines one after the other; stops at the first failure.
int RunLines(hostsim::Host& host, const hostsim::RunOptions& run,
             const std::vector<hostsim::ScriptLine>& lines, hostsim::RunStats* stats) {
  for (const hostsim::ScriptLine& line : lines) {
    if (hostsim::Interrupted()) return 130;
    std::string error;
    hostsim::LineOutcome outcome = hostsim::RunLine(host, run, line, stats, &error);
    if (outcome == hostsim::LineOutcome::kQuit) return 0;
    if (outcome == hostsim::LineOutcome::kFailed) {
      std::fprintf(stderr, "%s: FAILED: %s\n    %s\n", line.origin.c_str(), line.text.c_str(),
                   error.c_str());
      return 1;
    }
  }
  return 0;
}

// Standard input: a user at a terminal (errors shown, the session goes on, gates polled while
// waiting) or a pipe (like a script, line by line as it comes).
int RunInputLines(hostsim::Host& host, const hostsim::RunOptions& run, hostsim::RunStats* stats,
                  bool edited);

int RunInput(hostsim::Host& host, const hostsim::RunOptions& options, hostsim::RunStats* stats) {
  hostsim::RunOptions run = options;
  // watch waits for the next line as it comes, unedited (Enter alone ends it).
  run.readInput = [](std::string* line, int timeoutMs) {
    return hostsim::ReadInputLine(line, timeoutMs);
  };
  // At a terminal, lines are edited (arrow keys, history) when the program has a line editor.
  bool edited = run.interactive && hostsim::LineEditorStart("telmar-host> ");
  int status = RunInputLines(host, run, stats, edited);
  if (edited) hostsim::LineEditorStop();
  return status;
}

int RunInputLines(hostsim::Host& host, const hostsim::RunOptions& run, hostsim::RunStats* stats,
                  bool edited) {
  for (int number = 1;; ++number) {
    if (run.interactive && !edited) {
      std::fputs("telmar-host> ", stdout);
      std::fflush(stdout);
    }
    std::string text;
    hostsim::InputStatus status;
    auto read = [&] {
      return edited ? hostsim::LineEditorRead(&text, 50) : hostsim::ReadInputLine(&text, 50);
    };
    while ((status = read()) == hostsim::InputStatus::kTimeout) {
      if (hostsim::Interrupted()) return 130;
      if (run.interactive && !host.manualClock) {
        hostsim::PollDueGates(host);
        hostsim::RouteWrites(host);
      }
    }
    if (status == hostsim::InputStatus::kEnd) return 0;
    hostsim::ScriptLine line;
    line.origin = "stdin:" + std::to_string(number);
    std::string error;
    if (!hostsim::ParseCommandLine(text, &line, &error)) {
      std::fprintf(stderr, "%s: %s\n", line.origin.c_str(), error.c_str());
      if (run.interactive) continue;
      return 2;
    }
    hostsim::LineOutcome outcome = hostsim::RunLine(host, run, line, stats, &error);
    if (outcome == hostsim::LineOutcome::kQuit) return 0;
    if (outcome == hostsim::LineOutcome::kFailed) {
      std::fprintf(stderr, "%s: FAILED: %s\n    %s\n", line.origin.c_str(), text.c_str(),
                   error.c_str());
      if (!run.interactive) return 1;
    }
  }
}

int Main(int argc, char** argv) {
  Options o;
  std::string error;
  if (!ParseOptions(argc, argv, &o, &error)) {
    std::fprintf(stderr, "telmar-host: %s\n", error.c_str());
    return 2;
  }
  if (o.help) {
    if (!o.helpTopic.empty()) {
      std::string text = hostsim::CommandHelp(o.helpTopic);
      if (text.empty()) {
        std::fprintf(stderr, "telmar-host: no command '%s'\n", o.helpTopic.c_str());
        return 2;
      }
      std::fputs(text.c_str(), stdout);
      return 0;
    }
    std::printf("%s\nCommands (script lines; ';' starts a comment line):\n%s", kUsage,
                hostsim::CommandHelp().c_str());
    return 0;
  }
  std::string driver = Absolute(o.driver.empty() ? TELMAR_DRIVER_PATH : o.driver);
  if (!o.checkNetwork.empty() || !o.checkGates.empty()) return CheckFiles(o, driver);
  std::string hook = TELMAR_DIALOG_HOOK_PATH;
  if (o.demo) {
    kesthost::SetHistoryLimit(kHistoryEntries);
    hostsim::DemoOptions demo;
    demo.driverPath = driver;
    demo.hookPath = hook;
    demo.workdir = Absolute(o.workdir);
    demo.keep = o.keep;
    demo.fast = o.fast || o.clock == "manual";
    demo.duration = o.duration;
    demo.logLevel = o.logLevel;
    return hostsim::RunDemo(demo);
  }

  std::string script = Absolute(o.script), gates = Absolute(o.gates);
  std::string optionFile = Absolute(o.optionFile);
  std::string logFile = Absolute(o.logFile);
  std::string network = NetworkPath(o.network);
  std::string scriptText;
  std::vector<hostsim::ScriptLine> lines;
  if (!script.empty()) {
    if (!ReadFile(script, &scriptText)) {
      std::fprintf(stderr, "telmar-host: cannot read the script '%s'\n", o.script.c_str());
      return 2;
    }
    if (!hostsim::ParseScript(scriptText, o.script, &lines, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 2;
    }
  }
  std::vector<hostsim::GateSpec> gateSpecs;
  if (!gates.empty()) {
    std::string text;
    if (!ReadFile(gates, &text)) {
      std::fprintf(stderr, "telmar-host: cannot read the gate list '%s'\n", o.gates.c_str());
      return 2;
    }
    if (!hostsim::ParseGateList(text, o.gates, &gateSpecs, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 2;
    }
  }

  std::string dir = o.tempWorkdir ? hostsim::MakeTempDir("telmar-host-") : Absolute(o.workdir);
  std::error_code ec;
  if (!dir.empty() && (std::filesystem::create_directories(dir, ec), !hostsim::ChangeDir(dir))) {
    std::fprintf(stderr, "telmar-host: cannot use the working directory '%s'\n", dir.c_str());
    return 1;
  }
  std::string optionName = hostsim::OptionFileName(o.instance);
  if (!optionFile.empty()) {
    std::string wanted, present;
    if (!ReadFile(optionFile, &wanted)) {
      std::fprintf(stderr, "telmar-host: cannot read the option file '%s'\n", o.optionFile.c_str());
      return 1;
    }
    if (ReadFile(optionName, &present) && present != wanted) {
      if (!o.replaceOptionFile) {
        std::fprintf(stderr,
                     "telmar-host: the working directory's %s differs from '%s' (it may hold "
                     "macros that browses added); not replaced. --replace-option-file replaces "
                     "it and keeps it as %s.bak\n",
                     optionName.c_str(), o.optionFile.c_str(), optionName.c_str());
        return 2;
      }
      // Removed first: the Windows C++ library's copy_file does not overwrite.
      std::filesystem::remove(optionName + ".bak", ec);
      std::filesystem::copy_file(optionName, optionName + ".bak",
                                 std::filesystem::copy_options::overwrite_existing, ec);
      if (ec) {
        std::fprintf(stderr, "telmar-host: cannot keep %s as %s.bak: %s\n", optionName.c_str(),
                     optionName.c_str(), ec.message().c_str());
        return 1;
      }
      std::fprintf(stderr, "telmar-host: %s replaced by '%s'; the old one is %s.bak\n",
                   optionName.c_str(), o.optionFile.c_str(), optionName.c_str());
    }
    // Removed first (the Windows C++ library's copy_file does not overwrite), unless it is the
    // very file to copy.
    if (!std::filesystem::equivalent(optionFile, optionName, ec)) {
      std::filesystem::remove(optionName, ec);
    }
    std::filesystem::copy_file(optionFile, optionName,
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
      std::fprintf(stderr, "telmar-host: cannot copy the option file '%s': %s\n",
                   o.optionFile.c_str(), ec.message().c_str());
      return 1;
    }
    if (!network.empty()) {
      std::fprintf(stderr,
                   "telmar-host: --network %s is not used: the Network key of '%s' counts\n",
                   o.network.c_str(), o.optionFile.c_str());
    }
  } else if (!network.empty() && !std::filesystem::exists(optionName)) {
    std::ofstream(optionName) << "[Lns]\nNetwork=" << network << "\n\n[Macros]\n";
  } else if (!network.empty()) {
    std::fprintf(stderr,
                 "telmar-host: --network %s is not used: the working directory already has %s, "
                 "whose Network key counts\n",
                 o.network.c_str(), optionName.c_str());
  }

  bool interactive = script.empty() && hostsim::StdinIsTerminal();
  bool manual = o.clock.empty() ? !interactive : o.clock == "manual";
  if (manual && !o.browseOnly) lonsim::UseManualClock();
  hostsim::InstallInterruptHandler();

  // A long session keeps only the latest log lines and host calls (what `expect log` sees).
  kesthost::SetHistoryLimit(kHistoryEntries);
  hostsim::Console console;
  console.logLevel = o.logLevel;
  console.errorsOnly = o.errorsOnly;
  if (!o.logFile.empty()) {
    console.logFile = std::fopen(logFile.c_str(), "a");
    if (!console.logFile) {
      std::fprintf(stderr, "telmar-host: cannot write the log file '%s'\n", o.logFile.c_str());
      return 2;
    }
  }
  hostsim::Host host;
  host.console = &console;
  host.instanceNumber = o.instance;
  // The simulated network keeps the network this instance opened for its own browses only.
  lonsim::SetDriverInstance(o.instance);
  host.manualClock = manual;
  hostsim::ConnectHostApi(host);
  if (!hostsim::LoadDriver(host, driver, &error)) {
    std::fprintf(stderr, "telmar-host: %s\n", error.c_str());
    hostsim::DisconnectHostApi();
    return 1;
  }
  for (const hostsim::GateSpec& g : gateSpecs) hostsim::DefineGate(host, g);

  hostsim::RunOptions run;
  run.interactive = interactive;
  run.browseOnly = o.browseOnly;
  run.expectTimeoutMs = o.expectTimeout;
  run.hookPath = hook;
  run.baseDir = script.empty() ? "" : std::filesystem::path(script).parent_path().string();
  if (interactive) {
    hostsim::Say(console, "telmar-host: driver loaded from " + driver + ", working directory " +
                              hostsim::CurrentDir() + ". Type help for the commands.");
  }
  size_t unbound = 0;
  if (o.start && !o.browseOnly) {
    uint32_t rc = hostsim::ColdStartDriver(host, true);
    hostsim::Say(console, "ColdStart -> " + std::to_string(rc));
    if (rc != 0 && !host.networkReason.empty()) {
      hostsim::Say(console, "  network: " + host.networkReason);
    }
    std::vector<std::string> failures;
    for (const hostsim::UnboundGate& u : hostsim::ParseGates(host, gateSpecs)) {
      failures.push_back("  gate " + std::to_string(u.spec.id) + " '" + u.spec.address + "' (" +
                         u.spec.origin + "): " + u.reason);
    }
    hostsim::Settle(host);
    hostsim::Say(console, std::to_string(gateSpecs.size() - failures.size()) + " of " +
                              std::to_string(gateSpecs.size()) + " gates bound");
    for (const std::string& f : failures) hostsim::Say(console, f);
    unbound = failures.size();
  }

  hostsim::RunStats stats;
  int status = script.empty() ? RunInput(host, run, &stats) : RunLines(host, run, lines, &stats);
  if (host.coldStarted) {
    uint32_t rc = hostsim::EndDriver(host);
    if (status != 0 || !script.empty()) hostsim::Say(console, "EndVpi -> " + std::to_string(rc));
  }
  hostsim::UnloadDriver(host);
  hostsim::DisconnectHostApi();
  if (status == 0 && unbound > 0 && !o.allowUnbound) {
    std::fprintf(stderr,
                 "telmar-host: %zu gate%s not bound at the start (--allow-unbound accepts that)\n",
                 unbound, unbound == 1 ? " was" : "s were");
    status = 1;
  } else if (!script.empty() && status == 0) {
    hostsim::Say(console, o.script + ": passed (" + std::to_string(stats.lines) + " commands, " +
                              std::to_string(stats.expectations) + " expectations)");
  }
  if (console.logFile) {
    std::fclose(console.logFile);
    console.logFile = nullptr;
  }
  if (o.tempWorkdir) {
    if (o.keep) {
      hostsim::Say(console, "the working directory is kept: " + dir);
    } else {
      hostsim::ChangeDir("/");
      std::filesystem::remove_all(dir, ec);
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  return Main(argc, argv);
}
