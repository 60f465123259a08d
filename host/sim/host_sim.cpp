#include "host/sim/host_sim.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "browser/dialog_script.h"
#include "host/kest_host.h"
#include "host/sim/sim_os.h"
#include "host/sim/values.h"
#include "netsim/lonsim_control.h"
#include "platform/attributes.h"

namespace hostsim {
namespace {

// The browse command runs the dialog script on the thread that called VpiMain, so the steps of
// the running browse can be handed over through a plain pointer.
const std::vector<BrowseStep>* activeSteps = nullptr;
BrowseOutcome* activeOutcome = nullptr;

std::string WallClock() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm local = LocalTime(t);
  int ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                local.tm_sec, ms);
  return buffer;
}

void PrintOrKeep(Console& console, const std::string& line) {
  std::lock_guard<std::mutex> guard(console.lock);
  if (console.pane) {
    console.recent.push_back(line);
    while (console.recent.size() > console.paneLines) console.recent.pop_front();
  } else {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
}

uint32_t CellFromReal(uint16_t type, double v) {
  uint32_t cell = 0;
  std::string text, error;
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), type == 3 ? "%.9g" : "%.0f", v);
  ParseGateValue(type, buffer, &cell, &text, &error);
  return cell;
}

uint32_t Call(Host& host, uint32_t command, void* params) {
  VpiRequest request{};
  request.instance = static_cast<DriverInstance*>(host.instance);
  request.command = command;
  request.instanceNumber = host.instanceNumber;
  request.params = params;
  return host.vpiMain(&request);
}

// Keeps a new value, with host.lock held; a change of a watched gate is noted for the watch.
void SetValue(Host& host, HostGate& gate, uint32_t cell, const std::string& text) {
  bool changed = !gate.hasValue || cell != gate.cell || text != gate.text;
  std::string before;
  if (changed && host.watched.count(gate.spec.id)) before = GateValueText(gate);
  if (changed) gate.changedAt = HostNow(host);
  gate.cell = cell;
  gate.text = text;
  gate.hasValue = true;
  if (!changed || !host.watched.count(gate.spec.id)) return;
  if (host.watchChanges.size() >= kWatchBacklog) {
    ++host.watchDropped;
    return;
  }
  host.watchChanges.push_back(
      WatchChange{gate.changedAt, gate.spec.id, before, GateValueText(gate)});
}

// The driver's line for a listened update it could not put names the gate: the gate shows a
// read error with that line as its reason until a value is put again.
void NoteUpdateNotPut(Host* host, const std::string& text) {
  static const char kMark[] = "OnNetworkVariableUpdate, update of gate ";
  size_t at = text.find(kMark);
  if (at == std::string::npos) return;
  uint32_t id =
      static_cast<uint32_t>(std::strtoul(text.c_str() + at + sizeof kMark - 1, nullptr, 10));
  auto it = host->gates.find(id);
  if (it == host->gates.end()) return;
  it->second.lastReadFailed = true;
  it->second.lastError = text;
}

// The put sink: values the driver puts into gates, on the driver's and the network's threads.
void OnPut(Host* host, const kesthost::Gate& put) {
  std::lock_guard<std::mutex> guard(host->lock);
  auto it = host->gates.find(put.id);
  if (it == host->gates.end()) return;
  HostGate& gate = it->second;
  uint32_t cell = gate.cell;
  std::string text = gate.text;
  switch (put.lastPut) {
    case kesthost::Gate::kPutRaw:
      cell = put.raw;
      break;
    case kesthost::Gate::kPutText:
      text = put.text;
      break;
    case kesthost::Gate::kPutValue:
      cell = CellFromReal(gate.spec.type, put.value);
      host->routedWrites.push_back(put.id);
      break;
    default:
      return;
  }
  SetValue(*host, gate, cell, text);
  gate.firstValueDue = false;
  gate.lastReadFailed = false;
  ++gate.puts;
}

// What a failed command left to explain it, with host.lock held: the driver's level-32 line of
// the command, if it logged one, and the network's reason.
std::string FailureText(const Host& host, uint64_t errorsBefore) {
  std::string text;
  for (const std::string& line : DriverLinesSince(host, errorsBefore)) {
    text += (text.empty() ? "" : " / ") + line;
  }
  if (!host.networkReason.empty()) {
    text += (text.empty() ? "" : " (network: ") + host.networkReason + (text.empty() ? "" : ")");
  }
  return text.empty() ? host.lastCommand + " -> " + std::to_string(host.lastResult) : text;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A list entry by index or by its label ("Implicit", "app. host"), -1 when there is none.
int ListIndex(const TelmarDialogApi* api, TelmarDialog* dlg, int control, const std::string& arg,
              std::string* entries) {
  char* end = nullptr;
  long n = std::strtol(arg.c_str(), &end, 10);
  if (!arg.empty() && *end == '\0') return static_cast<int>(n);
  int count = api->itemCount(dlg, control);
  for (int i = 0; i < count; ++i) {
    char text[128];
    if (api->getItem(dlg, control, i, text, sizeof(text), nullptr, nullptr) < 0) continue;
    if (Lower(text) == Lower(arg)) return i;
    *entries += (entries->empty() ? "" : ", ") + std::string(text);
  }
  return -2;
}

std::string DialogBoxes(const TelmarDialogApi* api, TelmarDialog* dlg) {
  char address[512] = "", macro[512] = "";
  api->getText(dlg, kTelmarIdAddress, address, sizeof(address));
  api->getText(dlg, kTelmarIdMacro, macro, sizeof(macro));
  return std::string("address '") + address + "', macro '" + macro + "'";
}

}  // namespace

uint64_t DriverErrors(const Host& host) {
  std::lock_guard<std::mutex> guard(host.lock);
  return host.driverErrors;
}

std::vector<std::string> DriverLinesSince(const Host& host, uint64_t before) {
  uint64_t lines = std::min<uint64_t>(host.driverErrors - before, host.lastDriverErrors.size());
  return std::vector<std::string>(host.lastDriverErrors.end() - static_cast<std::ptrdiff_t>(lines),
                                  host.lastDriverErrors.end());
}

void Say(Console& console, const std::string& line) {
  {
    std::lock_guard<std::mutex> guard(console.lock);
    if (console.logFile) {
      std::fprintf(console.logFile, "%s      %s\n", WallClock().c_str(), line.c_str());
      std::fflush(console.logFile);
    }
  }
  PrintOrKeep(console, line);
}

bool IsFailureLine(const std::string& text) {
  static const char* const kMarks[] = {
      "fail",    "FAIL",       "ERROR",         "error",        "Error",        "not found",
      "refused", "WARNING",    "cannot",        "ignores",      "not used",     "not a number",
      "not NV",  "wrong",      "not supported", "never polled", "changed from", "already",
      "invalid", "no network", "no memory",
  };
  for (const char* mark : kMarks) {
    if (text.find(mark) != std::string::npos) return true;
  }
  return false;
}

void ShowLogLine(Console& console, int level, const std::string& text) {
  char head[48];
  std::snprintf(head, sizeof(head), "%s [%2d] ", WallClock().c_str(), level);
  {
    std::lock_guard<std::mutex> guard(console.lock);
    if (console.logFile) {
      std::fprintf(console.logFile, "%s%s\n", head, text.c_str());
      std::fflush(console.logFile);
    }
    if (level < console.logLevel || (console.errorsOnly && !IsFailureLine(text))) {
      ++console.hidden;
      return;
    }
    ++console.shown;
  }
  PrintOrKeep(console, head + text);
}

bool LoadDriver(Host& host, const std::string& path, std::string* error) {
  std::string why;
  host.driver = LoadLibrary(path, false, &why);
  if (!host.driver) {
    *error = "cannot load the driver '" + path + "': " + why;
    return false;
  }
  host.vpiMain = reinterpret_cast<VpiMainFn>(LibrarySymbol(host.driver, "VpiMain"));
  if (!host.vpiMain) {
    *error = "the driver '" + path + "' exports no VpiMain";
    UnloadLibrary(host.driver);
    host.driver = nullptr;
    return false;
  }
  VpiInfo info{};
  uint32_t rc = Call(host, kGetVpiInfo, &info);
  if (rc != 0 || info.instanceSize == 0) {
    *error = "GetVpiInfo failed (status " + std::to_string(rc) + ", instance size " +
             std::to_string(info.instanceSize) + ")";
    UnloadLibrary(host.driver);
    host.driver = nullptr;
    return false;
  }
  host.banner = info.banner ? info.banner : "";
  host.instanceSize = info.instanceSize;
  size_t size = (static_cast<size_t>(info.instanceSize) + 15) / 16 * 16;
  host.instance = std::calloc(1, size);  // aligned for any fundamental type
  host.clockStart = lonsim::Now();
  return true;
}

void UnloadDriver(Host& host) {
  if (!host.driver) return;
  if (host.coldStarted) EndDriver(host);
  // After EndVpi no driver thread touches the block. The library stays loaded: its worker may
  // still be returning from its last instructions, and the process ends soon anyway.
  std::free(host.instance);
  host.instance = nullptr;
  host.driver = nullptr;
  host.vpiMain = nullptr;
}

void ConnectHostApi(Host& host) {
  Console* console = host.console;
  Host* h = &host;
  kesthost::SetLogSink([console, h](int level, const std::string& text) {
    if (level >= 32) {
      std::lock_guard<std::mutex> guard(h->lock);
      h->lastDriverErrors.push_back(text);
      if (h->lastDriverErrors.size() > 4) h->lastDriverErrors.pop_front();
      ++h->driverErrors;
      NoteUpdateNotPut(h, text);
    }
    if (console) ShowLogLine(*console, level, text);
  });
  kesthost::SetPutSink([h](const kesthost::Gate& gate) { OnPut(h, gate); });
}

void DisconnectHostApi() {
  kesthost::SetLogSink(nullptr);
  kesthost::SetPutSink(nullptr);
}

int64_t HostNow(const Host& host) {
  return lonsim::Now() - host.clockStart;
}

uint32_t SendCommand(Host& host, uint32_t command, void* params, const char* name) {
  lonsim::ClearLastError();
  uint32_t rc = Call(host, command, params);
  host.networkReason = rc != 0 ? lonsim::LastError() : std::string();
  host.lastResult = rc;
  host.lastCommand = name;
  ++host.commands;
  return rc;
}

uint32_t ColdStartDriver(Host& host, bool connectNetwork) {
  ColdStartParams params{};
  params.connectNetwork = connectNetwork ? 1 : 0;
  if (!host.coldStarted) host.threadsBefore = ThreadCount();
  host.coldStarted = true;  // even a failed ColdStart leaves what EndVpi releases
  return SendCommand(host, kColdStart, &params, "ColdStart");
}

uint32_t EndDriver(Host& host) {
  const char* started = "VpiThread() started";
  const char* stopping = "VpiThread() stopping";
  // The worker runs when its latest start line came after its latest stop line; with both
  // gone from the bounded history, a ColdStart was sent since the last EndVpi.
  bool running = host.coldStarted;
  std::vector<kesthost::LogLine> log = kesthost::Log();
  for (auto it = log.rbegin(); it != log.rend(); ++it) {
    if (it->text.find(started) != std::string::npos ||
        it->text.find(stopping) != std::string::npos) {
      running = it->text.find(started) != std::string::npos;
      break;
    }
  }
  uint64_t before = kesthost::LogTotal();
  uint32_t rc = SendCommand(host, kEndVpi, nullptr, "EndVpi");
  host.coldStarted = false;
  // The worker logs its end after EndVpi has returned; wait for it so that the log is complete,
  // and until the driver's and the network's threads are gone, so that an exit right after
  // finds no thread half ended (leak checkers stumble over those).
  if (running)
    kesthost::WaitFor([&] { return kesthost::LogContainsSince(stopping, before); }, 2000);
  if (host.threadsBefore > 0) {
    kesthost::WaitFor([&] { return ThreadCount() <= host.threadsBefore; }, 2000);
  }
  return rc;
}

bool DefineGate(Host& host, const GateSpec& spec) {
  {
    std::lock_guard<std::mutex> guard(host.lock);
    if (host.gates.count(spec.id)) return false;
  }
  kesthost::Gate gate;
  gate.id = spec.id;
  gate.type = spec.type;
  gate.address = spec.address;
  gate.updateMode = spec.updateMode;
  gate.pollingRate = spec.pollingRate;
  kesthost::AddGate(gate);
  std::lock_guard<std::mutex> guard(host.lock);
  HostGate entry;
  entry.spec = spec;
  host.gates[spec.id] = entry;
  return true;
}

bool HostGateCopy(const Host& host, uint32_t id, HostGate* out) {
  std::lock_guard<std::mutex> guard(host.lock);
  auto it = host.gates.find(id);
  if (it == host.gates.end()) return false;
  *out = it->second;
  return true;
}

bool Listens(const HostGate& gate) {
  return gate.spec.updateMode == 2 || (gate.spec.updateMode == 1 && gate.activityOn);
}

bool ParseGate(Host& host, uint32_t id, uint32_t* result) {
  HostGate gate;
  if (!HostGateCopy(host, id, &gate)) return false;
  GateAddressParams params{};
  params.address = gate.spec.address.c_str();
  params.gateId = id;
  params.gateType = gate.spec.type;
  uint64_t errorsBefore = DriverErrors(host);
  *result = SendCommand(host, kSingleAddressParser, &params, "SingleAddressParser");
  std::lock_guard<std::mutex> guard(host.lock);
  auto it = host.gates.find(id);
  if (it == host.gates.end()) return true;
  HostGate& g = it->second;
  g.parseTried = true;
  g.parseResult = *result;
  if (*result != 0) g.lastError = FailureText(host, errorsBefore);
  g.nodeValue = params.nodeValue;
  g.bindingWord = params.bindingWord;
  g.nvItem = params.nvItem;
  g.nextPoll = HostNow(host);
  uint8_t kind = g.bindingWord & 0xFF;
  // The worker may have put the first value already, before this thread took the lock again:
  // a value put since the command went out is the one owed.
  bool putSince = g.puts != gate.puts;
  g.firstValueDue =
      *result == 0 && !putSince &&
      (kind == kBindNode || ((kind == kBindNV || kind == kBindNVF) && g.spec.updateMode == 2));
  return true;
}

std::vector<UnboundGate> ParseGates(Host& host, const std::vector<GateSpec>& specs) {
  std::vector<UnboundGate> unbound;
  for (const GateSpec& spec : specs) {
    uint32_t parsed = 0;
    HostGate gate;
    if (!ParseGate(host, spec.id, &parsed) || parsed == 0) continue;
    if (HostGateCopy(host, spec.id, &gate)) unbound.push_back(UnboundGate{spec, gate.lastError});
  }
  return unbound;
}

void WaitForFirstValues(Host& host, int timeoutMs) {
  auto due = [&host] {
    std::lock_guard<std::mutex> guard(host.lock);
    for (const auto& [id, g] : host.gates) {
      if (g.firstValueDue) return true;
    }
    return false;
  };
  if (!due()) return;
  kesthost::WaitFor([&] { return !due(); }, timeoutMs);
  std::lock_guard<std::mutex> guard(host.lock);
  for (auto& [id, g] : host.gates) g.firstValueDue = false;
}

bool ReadGate(Host& host, uint32_t id, uint32_t* result) {
  HostGate gate;
  if (!HostGateCopy(host, id, &gate)) return false;
  uint32_t cell = gate.cell;
  char text[256] = {};  // the host's text buffer; the driver writes at most 80 bytes and a NUL
  std::snprintf(text, sizeof(text), "%s", gate.text.c_str());
  GateIoParams params{};
  params.address = gate.spec.address.c_str();
  params.nodeValue = gate.nodeValue;
  params.bindingWord = gate.bindingWord;
  params.nvItem = gate.nvItem;
  params.gateType = gate.spec.type;
  params.valueCell = gate.spec.type == kTextGateType ? static_cast<void*>(text) : &cell;
  uint64_t errorsBefore = DriverErrors(host);
  *result = SendCommand(host, kSingleRead, &params, "SingleRead");
  std::lock_guard<std::mutex> guard(host.lock);
  auto it = host.gates.find(id);
  if (it == host.gates.end()) return true;
  HostGate& g = it->second;
  g.lastReadFailed = *result != 0;
  if (*result == 0) {
    ++g.reads;
    text[sizeof(text) - 1] = '\0';
    SetValue(host, g, cell, gate.spec.type == kTextGateType ? std::string(text) : g.text);
  } else {
    ++g.readErrors;
    g.lastError = FailureText(host, errorsBefore);
  }
  return true;
}

bool WriteGate(Host& host, uint32_t id, uint32_t cell, const std::string& text, uint32_t* result) {
  HostGate gate;
  if (!HostGateCopy(host, id, &gate)) return false;
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  GateIoParams params{};
  params.address = gate.spec.address.c_str();
  params.nodeValue = gate.nodeValue;
  params.bindingWord = gate.bindingWord;
  params.nvItem = gate.nvItem;
  params.gateType = gate.spec.type;
  params.valueCell = gate.spec.type == kTextGateType ? static_cast<void*>(buffer.data()) : &cell;
  uint64_t errorsBefore = DriverErrors(host);
  *result = SendCommand(host, kSingleWrite, &params, "SingleWrite");
  std::lock_guard<std::mutex> guard(host.lock);
  auto it = host.gates.find(id);
  if (it == host.gates.end()) return true;
  HostGate& g = it->second;
  if (*result == 0) {
    ++g.writes;
    SetValue(host, g, cell, text);
  } else {
    ++g.writeErrors;
    g.lastError = FailureText(host, errorsBefore);
  }
  return true;
}

namespace {

bool Pollable(const HostGate& g) {
  return g.parseTried && g.parseResult == 0 && !Listens(g) && g.spec.pollingRate > 0 &&
         (g.bindingWord & 0xFF) != kBindSpecial;
}

}  // namespace

int PollDueGates(Host& host) {
  std::vector<uint32_t> due;
  {
    std::lock_guard<std::mutex> guard(host.lock);
    int64_t now = HostNow(host);
    for (auto& [id, g] : host.gates) {
      if (!Pollable(g) || g.nextPoll > now) continue;
      due.push_back(id);
      g.nextPoll = now + g.spec.pollingRate;
    }
  }
  for (uint32_t id : due) {
    uint32_t rc;
    ReadGate(host, id, &rc);
  }
  return static_cast<int>(due.size());
}

void AdvanceClock(Host& host, int64_t ms) {
  int64_t target = HostNow(host) + ms;
  for (;;) {
    PollDueGates(host);
    RouteWrites(host);
    int64_t now = HostNow(host);
    if (now >= target || Interrupted()) break;
    if (!host.manualClock) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(20, target - now)));
      continue;
    }
    int64_t next = target;
    {
      std::lock_guard<std::mutex> guard(host.lock);
      for (const auto& [id, g] : host.gates) {
        if (Pollable(g) && g.nextPoll > now) next = std::min(next, g.nextPoll);
      }
    }
    lonsim::AdvanceClock(std::max<int64_t>(1, next - now));
  }
}

void RouteWrites(Host& host) {
  for (;;) {
    uint32_t id;
    uint32_t cell;
    std::string text;
    {
      std::lock_guard<std::mutex> guard(host.lock);
      if (host.routedWrites.empty()) return;
      id = host.routedWrites.front();
      host.routedWrites.pop_front();
      auto it = host.gates.find(id);
      if (it == host.gates.end()) continue;
      cell = it->second.cell;
      text = it->second.text;
    }
    // The script's "last result" stays the command it gave, not this write of the host's own.
    uint32_t lastResult = host.lastResult;
    std::string lastCommand = host.lastCommand;
    std::string networkReason = host.networkReason;
    uint32_t rc;
    WriteGate(host, id, cell, text, &rc);
    host.lastResult = lastResult;
    host.lastCommand = lastCommand;
    host.networkReason = networkReason;
    if (host.console) {
      Say(*host.console, "host: gate " + std::to_string(id) +
                             " was written by the browser; SingleWrite -> " + std::to_string(rc));
    }
  }
}

void Settle(Host& host) {
  lonsim::Drain();
  if (host.coldStarted && kesthost::CurrentClient() != 0) {
    kesthost::WaitFor([] { return kesthost::PendingMessages() == 0; }, 3000);
    // The worker handles a message it has taken before it looks at the next command, so a
    // command that does nothing returns only after the last message was handled.
    Call(host, kWarmStart, nullptr);
  }
  lonsim::Drain();
  RouteWrites(host);
}

bool ParseBrowseSteps(const std::vector<std::string>& words, size_t first,
                      std::vector<BrowseStep>* steps, std::string* error) {
  for (size_t i = first; i < words.size(); ++i) {
    BrowseStep step;
    step.action = words[i];
    if (step.action == "select" || step.action == "binding" || step.action == "type") {
      if (i + 1 >= words.size()) {
        *error = "browse step '" + step.action + "' needs an argument";
        return false;
      }
      step.argument = words[++i];
    }
    steps->push_back(step);
  }
  return true;
}

BrowseOutcome Browse(Host& host, const std::vector<BrowseStep>& steps, bool scripted,
                     const std::string& hookPath) {
  BrowseOutcome outcome;
  void* hook = nullptr;
  if (scripted) {
    std::string why;
    hook = LoadLibrary(hookPath, true, &why);
    if (!hook) {
      outcome.error = "cannot load the dialog script hook '" + hookPath + "': " + why;
      return outcome;
    }
  }
  std::vector<char> buffer(kBrowseAddressCapacity, '\0');
  BrowseParams params{buffer.data()};
  activeSteps = &steps;
  activeOutcome = &outcome;
  outcome.result = SendCommand(host, kBrowseAddress, &params, "BrowseAddress");
  activeSteps = nullptr;
  activeOutcome = nullptr;
  if (hook) UnloadLibrary(hook);
  outcome.address.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
  host.lastBrowse = outcome.address;
  RouteWrites(host);
  return outcome;
}

namespace {

std::string UpdateText(const HostGate& g) {
  if (g.spec.updateMode == 2) return "listen";
  if (g.spec.updateMode == 1) return g.activityOn ? "listen*" : "demand";
  return g.spec.pollingRate > 0 ? "poll " + std::to_string(g.spec.pollingRate) : "-";
}

}  // namespace

std::string GateValueText(const HostGate& g) {
  if (!g.parseTried) return "(not parsed)";
  if (g.parseResult != 0) return "(parse failed)";
  if (!g.hasValue) return "-";
  std::string value = FormatGateValue(g.spec.type, g.cell, g.text);
  return g.spec.type == kTextGateType ? "'" + value + "'" : value;
}

namespace {

std::string ChangedText(const HostGate& g) {
  if (g.changedAt < 0) return "-";
  char changed[32];
  std::snprintf(changed, sizeof(changed), "%.1fs", static_cast<double>(g.changedAt) / 1000.0);
  return changed;
}

std::string Cut(const std::string& text, size_t width) {
  if (text.size() <= width) return text;
  return width == 0 ? "" : text.substr(0, width - 1) + "~";
}

}  // namespace

// A gate polled by the library ("/M:p", the first monitor option) at polling rate 0 is never
// polled: it keeps its first value.
bool NeverPolled(const HostGate& g) {
  uint8_t kind = g.bindingWord & 0xFF;
  if (g.spec.pollingRate != 0 || (kind != kBindNV && kind != kBindNVF)) return false;
  size_t slash = g.spec.address.find('/');
  size_t at = slash == std::string::npos ? slash : g.spec.address.find("/M:", slash);
  return at != std::string::npos && g.spec.address.compare(at, 4, "/M:p") == 0;
}

std::string GateStatus(const HostGate& g) {
  if (!g.parseTried) return "-";
  if (g.parseResult != 0) return "not bound";
  if (NeverPolled(g)) return "stale";
  bool detachedNode = (g.bindingWord & 0xFF) == kBindNode && g.hasValue && (g.cell >> 16) == 0;
  if (detachedNode) return "detached";
  if (g.lastReadFailed) {
    return g.lastError.find("detached") != std::string::npos ? "detached" : "read error";
  }
  return "ok";
}

std::vector<std::string> GateTable(const Host& host, size_t width) {
  // Every column but the address and the value, with the blanks between columns.
  constexpr size_t kFixed = 73;
  std::vector<std::string> rows;
  std::lock_guard<std::mutex> guard(host.lock);
  size_t longestAddress = 7, longestValue = 5;
  for (const auto& [id, g] : host.gates) {
    longestAddress = std::max(longestAddress, g.spec.address.size());
    longestValue = std::max(longestValue, GateValueText(g).size());
  }
  // Values get the spare width first (a text shown whole says more than a long path), then the
  // address; the row never gets wider than `width`.
  size_t spare = width > kFixed ? width - kFixed : 0;
  size_t minAddress = std::min<size_t>(longestAddress, 16);
  size_t valueWidth = std::min(longestValue, spare > minAddress + 5 ? spare - minAddress : 5);
  size_t addressWidth = std::min(longestAddress, spare > valueWidth + 7 ? spare - valueWidth : 7);
  auto row = [&](const std::string& gate, const std::string& address, const std::string& type,
                 const std::string& update, const std::string& status, const std::string& value,
                 const std::string& changed, const std::string& reads, const std::string& rerr,
                 const std::string& writes, const std::string& puts) {
    char line[2048];
    std::snprintf(line, sizeof(line), "%6s  %-*s %-6s %-10s %-10s %-*s %8s %6s %5s %6s %5s",
                  gate.c_str(), static_cast<int>(addressWidth), Cut(address, addressWidth).c_str(),
                  type.c_str(), Cut(update, 10).c_str(), status.c_str(),
                  static_cast<int>(valueWidth), Cut(value, valueWidth).c_str(), changed.c_str(),
                  reads.c_str(), rerr.c_str(), writes.c_str(), puts.c_str());
    rows.push_back(line);
  };
  row("gate", "address", "type", "update", "status", "value", "changed", "reads", "rerr", "writes",
      "puts");
  for (const auto& [id, g] : host.gates) {
    row(std::to_string(id), g.spec.address, GateTypeName(g.spec.type), UpdateText(g), GateStatus(g),
        GateValueText(g), ChangedText(g), std::to_string(g.reads), std::to_string(g.readErrors),
        std::to_string(g.writes), std::to_string(g.puts));
  }
  return rows;
}

std::vector<std::string> GateDetail(const Host& host, uint32_t id) {
  HostGate g;
  if (!HostGateCopy(host, id, &g)) return {};
  std::vector<std::string> lines;
  lines.push_back("gate " + std::to_string(id) + " (" + g.spec.origin + ")");
  lines.push_back("  address     '" + g.spec.address + "'");
  lines.push_back("  type        " + std::to_string(g.spec.type) + " (" +
                  GateTypeName(g.spec.type) + ")");
  lines.push_back("  mode        updateMode " + std::to_string(g.spec.updateMode) +
                  ", pollingRate " + std::to_string(g.spec.pollingRate) + " ms: " + UpdateText(g));
  char binding[64];
  std::snprintf(binding, sizeof(binding), "binding 0x%04X, node %d", g.bindingWord, g.nodeValue);
  lines.push_back("  status      " + GateStatus(g) +
                  (g.parseTried ? std::string(", ") + binding : ""));
  lines.push_back("  value       " + GateValueText(g));
  lines.push_back("  changed     " + ChangedText(g));
  lines.push_back("  reads       " + std::to_string(g.reads) + ", read errors " +
                  std::to_string(g.readErrors) + ", writes " + std::to_string(g.writes) +
                  ", write errors " + std::to_string(g.writeErrors) + ", puts " +
                  std::to_string(g.puts));
  lines.push_back("  last error  " + (g.lastError.empty() ? std::string("-") : g.lastError));
  return lines;
}

std::string CsvField(const std::string& text) {
  bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
               (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return text;
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::vector<std::string> GatesCsv(const Host& host) {
  std::vector<std::string> lines = {"id,type,updateMode,pollingRate,address,binding,status"};
  std::lock_guard<std::mutex> guard(host.lock);
  for (const auto& [id, g] : host.gates) {
    char binding[16] = "";
    if (g.parseTried && g.parseResult == 0) {
      std::snprintf(binding, sizeof(binding), "0x%04X", g.bindingWord);
    }
    std::string status = GateStatus(g);
    lines.push_back(std::to_string(id) + "," + std::to_string(g.spec.type) + "," +
                    std::to_string(g.spec.updateMode) + "," + std::to_string(g.spec.pollingRate) +
                    "," + CsvField(g.spec.address) + "," + binding + "," +
                    CsvField(status == "-" ? "not parsed" : status));
  }
  return lines;
}

namespace {

std::string Trimmed(const std::string& s) {
  size_t first = s.find_first_not_of(" \t\r\n\v\f");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r\n\v\f") - first + 1);
}

// Whether an address starts with the macro: "#R101" in "#R101.nvoSpaceTemp", not in "#R1010".
bool UsesMacro(const std::string& address, const std::string& name) {
  if (address.compare(0, name.size(), name) != 0) return false;
  return address.size() == name.size() || address[name.size()] == '.' ||
         address[name.size()] == '/' || address[name.size()] == ' ';
}

// An option file's text as UTF-8: the driver also reads UTF-16 of either byte order after its
// byte-order mark (an editor's "Unicode"); anything else is taken as it is.
std::string OptionFileText(const std::string& raw) {
  if (raw.size() < 2) return raw;
  unsigned char b0 = static_cast<unsigned char>(raw[0]), b1 = static_cast<unsigned char>(raw[1]);
  bool little = b0 == 0xFF && b1 == 0xFE;
  if (!little && !(b0 == 0xFE && b1 == 0xFF)) return raw;
  auto unit = [&](size_t at) {
    unsigned lo = static_cast<unsigned char>(raw[at]), hi = static_cast<unsigned char>(raw[at + 1]);
    return little ? lo | hi << 8 : lo << 8 | hi;
  };
  std::string out;
  for (size_t at = 2; at + 1 < raw.size(); at += 2) {  // a stray last byte is dropped
    unsigned c = unit(at);
    if (c >= 0xD800 && c < 0xDC00 && at + 3 < raw.size()) {
      unsigned low = unit(at + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        at += 2;
      }
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

size_t MacrosHeaderAt(const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (Lower(Trimmed(text.substr(at, end - at))) == "[macros]") return at;
    at = end + 1;
  }
  return std::string::npos;
}

std::vector<std::string> MacrosCsv(const Host& host, const std::string& optionFile) {
  const std::string optionFileText = OptionFileText(optionFile);
  std::vector<std::pair<std::string, std::string>> macros;
  size_t start = MacrosHeaderAt(optionFileText);
  if (start != std::string::npos) start = optionFileText.find('\n', start);
  if (start != std::string::npos) ++start;
  while (start < optionFileText.size()) {
    size_t end = optionFileText.find('\n', start);
    if (end == std::string::npos) end = optionFileText.size();
    std::string line = Trimmed(optionFileText.substr(start, end - start));
    start = end + 1;
    size_t eq = line.find('=');
    if (line.empty() || line[0] != '#' || eq == std::string::npos) continue;
    std::string name = Trimmed(line.substr(0, eq)), value = Trimmed(line.substr(eq + 1));
    // The driver keeps the first definition of a name and passes over the later ones.
    auto same = [&](const auto& m) { return m.first == name; };
    if (std::find_if(macros.begin(), macros.end(), same) == macros.end()) {
      macros.emplace_back(name, value);
    }
  }
  std::vector<std::string> lines = {"name,value,gates"};
  std::lock_guard<std::mutex> guard(host.lock);
  for (const auto& [name, value] : macros) {
    std::string users;
    for (const auto& [id, g] : host.gates) {
      if (UsesMacro(g.spec.address, name)) users += (users.empty() ? "" : " ") + std::to_string(id);
    }
    lines.push_back(CsvField(name) + "," + CsvField(value) + "," + users);
  }
  return lines;
}

}  // namespace hostsim

// Runs the steps of the browse command under way inside the driver's dialog. Exported from the
// executable: the small hook library that the driver finds by name forwards to it.
extern "C" PLATFORM_EXPORT int TelmarHostDialogScript(const TelmarDialogApi* api,
                                                      TelmarDialog* dlg) {
  using hostsim::activeOutcome;
  using hostsim::activeSteps;
  if (!activeSteps || !activeOutcome) return 0;
  hostsim::BrowseOutcome& out = *activeOutcome;
  bool ended = false;
  for (const hostsim::BrowseStep& step : *activeSteps) {
    if (ended) {
      out.error = "browse step '" + step.action + "' comes after the dialog ended";
      break;
    }
    int rc = 0;
    const std::string& a = step.action;
    if (a == "select") {
      rc = api->selectTreePath(dlg, step.argument.c_str());
      if (rc < 0) out.error = "the tree has no item '" + step.argument + "'";
    } else if (a == "binding" || a == "type") {
      int control = a == "binding" ? kTelmarIdBinding : kTelmarIdTypes;
      std::string entries;
      int index = hostsim::ListIndex(api, dlg, control, step.argument, &entries);
      if (index == -2) {
        out.error = "the " + a + " list has no entry '" + step.argument + "' (" + entries + ")";
        break;
      }
      rc = a == "binding" ? api->selectBinding(dlg, index) : api->selectType(dlg, index);
      if (rc < 0) out.error = "the " + a + " list is disabled or has no entry " + step.argument;
    } else if (a == "polling" || a == "clear" || a == "refresh") {
      int control = a == "polling" ? kTelmarIdPolling
                    : a == "clear" ? kTelmarIdClearOptions
                                   : kTelmarIdRefresh;
      rc = api->click(dlg, control);
      if (rc < 0) out.error = "the " + a + " button is disabled";
    } else if (a == "tree") {
      int count = api->itemCount(dlg, kTelmarIdTree);
      for (int i = 0; i < count; ++i) {
        char text[256];
        int image = -1, depth = 0;
        if (api->getItem(dlg, kTelmarIdTree, i, text, sizeof(text), &image, &depth) < 0) continue;
        out.tree.push_back(std::string(static_cast<size_t>(depth) * 2, ' ') + text + "  [" +
                           std::to_string(image) + "]");
      }
    } else if (a == "ok" || a == "cancel" || a == "close") {
      out.shown = hostsim::DialogBoxes(api, dlg);
      int control = a == "ok" ? kTelmarIdOk : a == "cancel" ? kTelmarIdCancel : kTelmarCloseBox;
      rc = api->click(dlg, control);
      ended = true;
      if (rc < 0) out.error = "the dialog refused '" + a + "'";
    } else {
      out.error = "unknown browse step '" + a + "'";
    }
    if (!out.error.empty()) break;
  }
  if (!ended) out.shown = hostsim::DialogBoxes(api, dlg);
  return 0;  // a dialog the steps did not end closes as with the close box
}
