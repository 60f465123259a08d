#include "host/sim/run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "host/kest_host.h"
#include "host/sim/sim_os.h"
#include "host/sim/values.h"
#include "netsim/lonsim_control.h"
#include "platform/display.h"

namespace hostsim {
namespace {

struct Context {
  Host& host;
  const RunOptions& options;
  const ScriptLine& line;
  RunStats* stats;
  std::string* error;
};

uint32_t Id(const std::string& word) {
  long long v = 0;
  ReadInt(word, 0, UINT32_MAX, &v);
  return static_cast<uint32_t>(v);
}

void Out(Host& host, const std::string& text) {
  if (host.console) Say(*host.console, text);
}

std::string Hex(uint32_t v, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof(buffer), "0x%0*X", digits, v);
  return buffer;
}

// After a driver command that failed inside the network library: the network's reason, which
// the driver's own line does not carry.
void Explain(Host& host) {
  if (host.lastResult != 0 && !host.networkReason.empty()) {
    Out(host, "  network: " + host.networkReason);
  }
}

bool Fail(Context& c, const std::string& what) {
  *c.error = what;
  return false;
}

std::string ReadWholeFile(const std::string& path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  *ok = static_cast<bool>(in);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Locate(const RunOptions& options, const std::string& name) {
  std::filesystem::path p(name);
  if (p.is_relative() && !options.baseDir.empty()) {
    std::filesystem::path candidate = std::filesystem::path(options.baseDir) / p;
    if (std::filesystem::exists(candidate)) return candidate.string();
  }
  return name;
}

bool NeedDriver(Context& c) {
  if (c.options.browseOnly) {
    return Fail(c, "'" + c.line.words[0] + "' needs the driver: this process only browses");
  }
  return true;
}

bool NeedGate(Context& c, uint32_t id, HostGate* gate) {
  if (HostGateCopy(c.host, id, gate)) return true;
  return Fail(c, "gate " + std::to_string(id) + " is not defined");
}

void Push(Context& c, uint16_t code, uint32_t gate, uint16_t sub) {
  kesthost::PushMessage(code, gate, sub);
  Settle(c.host);
}

bool ParseOne(Context& c, uint32_t id) {
  uint32_t rc;
  if (!ParseGate(c.host, id, &rc)) return Fail(c, "gate " + std::to_string(id) + " is not defined");
  HostGate g;
  HostGateCopy(c.host, id, &g);
  Out(c.host, "parse " + std::to_string(id) + " '" + g.spec.address + "' -> " + std::to_string(rc) +
                  ", binding " + Hex(g.bindingWord, 4) + ", node " + std::to_string(g.nodeValue));
  Explain(c.host);
  return true;
}

bool ReadOne(Context& c, uint32_t id) {
  uint32_t rc;
  if (!ReadGate(c.host, id, &rc)) return Fail(c, "gate " + std::to_string(id) + " is not defined");
  HostGate g;
  HostGateCopy(c.host, id, &g);
  std::string value = g.hasValue ? FormatGateValue(g.spec.type, g.cell, g.text) : "-";
  Out(c.host, "read " + std::to_string(id) + " -> " + std::to_string(rc) + ", value " + value);
  Explain(c.host);
  return true;
}

std::vector<uint32_t> GateIds(const Host& host, bool parsedOnly) {
  std::vector<uint32_t> ids;
  std::lock_guard<std::mutex> guard(host.lock);
  for (const auto& [id, g] : host.gates) {
    if (!parsedOnly || (g.parseTried && g.parseResult == 0)) ids.push_back(id);
  }
  return ids;
}

// net list: one line per object. An NV's line holds its index on the device, type, direction,
// size, `config`, its block and its value; a block's its profile; a field's its base type,
// scaling and limits. A long value is cut with '~' unless the listing is of that one NV, and a
// note then says how to see it whole.
void ListLines(Context& c, const std::vector<lonsim::ObjectInfo>& objects, bool whole) {
  size_t longest = 4, blockWidth = 0;
  for (const lonsim::ObjectInfo& o : objects) {
    longest = std::max(longest, o.path.size());
    if (!o.block.empty()) blockWidth = std::max(blockWidth, o.block.size() + 6);
  }
  bool cut = false;
  for (const lonsim::ObjectInfo& o : objects) {
    std::string value = o.value;
    if (!whole && value.size() > 60) {
      value = value.substr(0, 59) + "~";
      cut = true;
    }
    char head[1024];
    std::snprintf(head, sizeof(head), "%-*s  %-9s ", static_cast<int>(longest), o.path.c_str(),
                  o.kind.c_str());
    std::string text = head;
    char part[512];
    if (o.kind == "nv") {
      std::string block = o.block.empty() ? "" : "block " + o.block;
      std::snprintf(part, sizeof(part), "#%-4d %-14s %-3s %9s  %-6s  %-*s  ", o.index,
                    o.type.c_str(), o.direction.c_str(),
                    (std::to_string(o.size) + (o.size == 1 ? " byte" : " bytes")).c_str(),
                    o.config ? "config" : "", static_cast<int>(blockWidth), block.c_str());
      text += part + value;
    } else if (o.kind == "block") {
      text += o.profile < 0 ? std::string()
                            : "profile " + std::to_string(o.profile) + " " + o.profileName;
    } else if (o.kind == "field") {
      std::snprintf(part, sizeof(part), "%-14s ", o.type.c_str());
      text += part;
      if (!o.scaling.empty()) text += "scaling " + o.scaling + "  ";
      if (!o.limits.empty()) text += "limits " + o.limits + "  ";
      text += "value " + value;
    } else {
      std::snprintf(part, sizeof(part), "%-14s %-3s ", o.type.c_str(), o.direction.c_str());
      text += part + value;
    }
    text.erase(text.find_last_not_of(' ') + 1);
    Out(c.host, text);
  }
  if (cut) Out(c.host, "(a value cut with '~': net list PATH of its NV shows it whole)");
}

bool RunNet(Context& c) {
  const std::vector<std::string>& w = c.line.words;
  const std::string& ev = w[1];
  if (ev == "list") {
    std::vector<lonsim::ObjectInfo> objects;
    std::string path = w.size() > 2 ? w[2] : "";
    if (!lonsim::ListObjects(path, &objects)) {
      return Fail(c, path.empty() ? std::string("no network is open (coldstart first)")
                                  : "the network has no object '" + path + "'");
    }
    ListLines(c, objects, !path.empty() && !objects.empty() && objects[0].kind == "nv");
    return true;
  }
  bool ok = false;
  lonsim::ClearLastError();
  if (ev == "value" && IsConstantName(w[3])) {
    ok = lonsim::SetNVText(w[2], w[3]);
  } else if (ev == "value") {
    ok = lonsim::SetNVValue(w[2], std::strtod(w[3].c_str(), nullptr));
  } else if (ev == "text") {
    ok = lonsim::SetNVText(w[2], w[3]);
  } else if (ev == "raw") {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < w[3].size(); i += 2) {
      bytes.push_back(static_cast<uint8_t>(std::stoul(w[3].substr(i, 2), nullptr, 16)));
    }
    ok = lonsim::SetNVRaw(w[2], bytes);
  } else if (ev == "pin") {
    ok = lonsim::PressServicePin(w[2]);
  } else {
    ok = lonsim::SetDeviceAttached(w[2], ev == "attach");
  }
  if (!ok) {
    // The network says why: no such object, or a value that its field cannot hold.
    std::string why = lonsim::LastError();
    if (!why.empty()) return Fail(c, why);
    bool device = ev == "pin" || ev == "detach" || ev == "attach";
    return Fail(c, std::string("the network has no ") + (device ? "device" : "NV") + " '" + w[2] +
                       "' (or refused the value)");
  }
  Settle(c.host);
  return true;
}

bool RunBrowse(Context& c) {
  std::vector<BrowseStep> steps;
  if (!ParseBrowseSteps(c.line.words, 1, &steps, c.error)) return false;
  // Without steps a user at a display gets the real dialog: the hook must then be absent. So
  // must it where the driver can show no window at all, so that the driver says why; a window
  // that nobody could click (a script's, or an offscreen one) the hook closes at once.
  std::string noWindow;
  bool userSees = c.options.interactive && HasDisplay();
  bool scripted = !steps.empty() || (!userSees && GuiDisplayAvailable(&noWindow));
  uint64_t errorsBefore = DriverErrors(c.host);
  BrowseOutcome outcome = Browse(c.host, steps, scripted, c.options.hookPath);
  for (const std::string& t : outcome.tree) Out(c.host, "  " + t);
  if (!outcome.shown.empty()) Out(c.host, "dialog: " + outcome.shown);
  Out(c.host,
      "browse -> " + std::to_string(outcome.result) + ", address '" + outcome.address + "'");
  Explain(c.host);
  bool logShown = c.host.console && c.host.console->logLevel <= 32;
  std::vector<std::string> why;
  if (outcome.result != 0 && !logShown) {
    // The driver's reason, which the log level hides.
    std::lock_guard<std::mutex> guard(c.host.lock);
    why = DriverLinesSince(c.host, errorsBefore);
  }
  if (outcome.result != 0 && steps.empty() && scripted) {
    why.push_back(
        "a browse without steps shows the dialog only at a terminal with a display; "
        "here it closes at once (steps script it)");
  }
  for (const std::string& w : why) Out(c.host, "  why: " + w);
  if (!outcome.error.empty()) return Fail(c, outcome.error);
  return true;
}

// The watch: the gates' current values, then a line per change until the next input line.
bool RunWatch(Context& c) {
  Host& host = c.host;
  const std::vector<std::string>& w = c.line.words;
  if (!c.options.readInput) {
    return Fail(c, "watch waits for Enter: it is for the prompt (a script checks with expect)");
  }
  std::set<uint32_t> ids;
  for (size_t i = 1; i < w.size(); ++i) {
    HostGate g;
    if (!NeedGate(c, Id(w[i]), &g)) return false;
    ids.insert(Id(w[i]));
  }
  auto time = [](int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof(text), "%8.1fs", static_cast<double>(ms) / 1000.0);
    return std::string(text);
  };
  std::map<uint32_t, std::string> status;
  std::vector<std::string> lines;
  {
    std::lock_guard<std::mutex> guard(host.lock);
    host.watched = ids;
    host.watchChanges.clear();
    host.watchDropped = 0;
    for (uint32_t id : ids) {
      const HostGate& g = host.gates[id];
      status[id] = GateStatus(g);
      lines.push_back(time(HostNow(host)) + "  gate " + std::to_string(id) + " '" + g.spec.address +
                      "'  " + GateValueText(g) + "  " + status[id]);
    }
  }
  Out(host, "watching " + std::to_string(ids.size()) + " gate" + (ids.size() == 1 ? "" : "s") +
                " (Enter ends):");
  for (const std::string& l : lines) Out(host, l);
  std::string input;
  InputStatus in;
  while ((in = c.options.readInput(&input, 50)) == InputStatus::kTimeout && !Interrupted()) {
    if (!host.manualClock) PollDueGates(host);
    lonsim::Drain();
    RouteWrites(host);
    std::deque<WatchChange> changes;
    uint64_t dropped = 0;
    lines.clear();
    {
      std::lock_guard<std::mutex> guard(host.lock);
      changes.swap(host.watchChanges);
      std::swap(dropped, host.watchDropped);
      for (uint32_t id : ids) {
        auto it = host.gates.find(id);
        std::string now = it == host.gates.end() ? "removed" : GateStatus(it->second);
        if (now == status[id]) continue;
        lines.push_back(time(HostNow(host)) + "  gate " + std::to_string(id) + "  status " +
                        status[id] + " -> " + now);
        status[id] = now;
      }
    }
    for (const WatchChange& ch : changes) {
      Out(host,
          time(ch.at) + "  gate " + std::to_string(ch.id) + "  " + ch.before + " -> " + ch.after);
    }
    if (dropped) Out(host, "  (" + std::to_string(dropped) + " more changes not shown)");
    for (const std::string& l : lines) Out(host, l);
  }
  {
    std::lock_guard<std::mutex> guard(host.lock);
    host.watched.clear();
    host.watchChanges.clear();
  }
  Out(host, "watch ended");
  return true;
}

// Whether a file may be written by export: a new one, or one an export wrote (its header).
bool MayReplace(const std::string& path, const std::string& header) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) || std::filesystem::file_size(path, ec) == 0) return true;
  std::ifstream in(path, std::ios::binary);
  std::string first;
  std::getline(in, first);
  if (!first.empty() && first.back() == '\r') first.pop_back();
  return first == header;
}

bool RunExport(Context& c) {
  Host& host = c.host;
  const std::vector<std::string>& w = c.line.words;
  std::vector<std::string> lines;
  if (w[1] == "gates") {
    lines = GatesCsv(host);
  } else {
    std::string name = OptionFileName(host.instanceNumber);
    bool ok;
    std::string text = ReadWholeFile(name, &ok);
    if (!ok) return Fail(c, "cannot read the option file '" + name + "'");
    lines = MacrosCsv(host, text);
  }
  if (w.size() < 3) {
    for (const std::string& l : lines) Out(host, l);
    return true;
  }
  const std::string& path = w[2];
  if (!MayReplace(path, lines[0])) {
    return Fail(c, "the file '" + path + "' exists and is no export of " + w[1] + ": not replaced");
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const std::string& l : lines) out << l << "\n";
  out.close();
  if (!out) return Fail(c, "cannot write the file '" + path + "'");
  Out(host, std::to_string(lines.size() - 1) + " " + w[1] + " written to " + path);
  return true;
}

bool Eventually(Host& host, int timeoutMs, const std::function<bool()>& holds) {
  if (holds()) return true;
  return kesthost::WaitFor(
      [&] {
        lonsim::Drain();
        RouteWrites(host);
        return holds();
      },
      timeoutMs);
}

bool RunExpect(Context& c) {
  const std::vector<std::string>& w = c.line.words;
  const std::string& what = w[1];
  ++c.stats->expectations;
  Host& host = c.host;
  if (what == "result") {
    uint32_t want = Id(w[2]);
    if (host.lastResult == want) return true;
    return Fail(c, "expected result " + w[2] + ", " + host.lastCommand + " returned " +
                       std::to_string(host.lastResult));
  }
  if (what == "address") {
    if (host.lastBrowse == w[2]) return true;
    return Fail(
        c, "expected the address '" + w[2] + "', the browse returned '" + host.lastBrowse + "'");
  }
  if (what == "refused") {
    // A network file that must not load: its refusal is shown and must hold TEXT.
    std::string error;
    if (lonsim::CheckNetwork(std::filesystem::absolute(Locate(c.options, w[2])).string(), &error)) {
      return Fail(c, "the network file '" + w[2] + "' is not refused");
    }
    Out(host, "refused: " + error);
    if (error.find(w[3]) != std::string::npos) return true;
    return Fail(c, "the refusal does not contain '" + w[3] + "'");
  }
  if (what == "file") {
    bool ok;
    std::string text = ReadWholeFile(w[2], &ok);
    if (!ok) return Fail(c, "cannot read the file '" + w[2] + "'");
    if (text.find(w[3]) != std::string::npos) return true;
    return Fail(c, "the file '" + w[2] + "' does not contain '" + w[3] + "'");
  }
  if (!c.options.browseOnly) Settle(host);
  if (what == "log") {
    if (Eventually(host, c.options.expectTimeoutMs, [&] { return kesthost::LogContains(w[2]); }))
      return true;
    return Fail(c, "no log line contains '" + w[2] + "'");
  }
  if (what == "nolog") {
    for (const kesthost::LogLine& l : kesthost::Log()) {
      if (l.text.find(w[2]) != std::string::npos) {
        return Fail(
            c, "a log line contains '" + w[2] + "': [" + std::to_string(l.level) + "] " + l.text);
      }
    }
    return true;
  }
  uint32_t id = Id(w[2]);
  HostGate g;
  if (!NeedGate(c, id, &g)) return false;
  if (what == "binding" || what == "node") {
    long long want = 0;
    ReadInt(w[3], INT32_MIN, UINT32_MAX, &want);
    if (!g.parseTried) return Fail(c, "gate " + w[2] + " was never parsed");
    bool ok = what == "binding" ? g.bindingWord == static_cast<uint32_t>(want)
                                : g.nodeValue == static_cast<int32_t>(want);
    if (ok) return true;
    return Fail(c, "gate " + w[2] + ": expected " + what + " " + w[3] + ", the parser returned " +
                       (what == "binding" ? Hex(g.bindingWord, 4) : std::to_string(g.nodeValue)));
  }
  // value, contains
  bool contains = what == "contains";
  auto matches = [&] {
    HostGate now;
    if (!HostGateCopy(host, id, &now) || !now.hasValue) return false;
    if (contains) {
      return FormatGateValue(now.spec.type, now.cell, now.text).find(w[3]) != std::string::npos;
    }
    return GateValueMatches(now.spec.type, now.cell, now.text, w[3]);
  };
  if (Eventually(host, c.options.expectTimeoutMs, matches)) return true;
  HostGateCopy(host, id, &g);
  return Fail(c, "gate " + w[2] + ": expected " +
                     (contains ? "a value containing '" : "the value '") + w[3] + "', it holds " +
                     (g.hasValue ? "'" + FormatGateValue(g.spec.type, g.cell, g.text) + "'"
                                 : std::string("no value")));
}

bool Run(Context& c) {
  const std::vector<std::string>& w = c.line.words;
  const std::string& verb = w[0];
  Host& host = c.host;
  static const char* const browseOnlyVerbs[] = {"help",   "gate",      "gates",   "info", "browse",
                                                "sleep",  "wait-file", "touch",   "echo", "log",
                                                "expect", "quit",      "clearlog"};
  if (c.options.browseOnly) {
    bool allowed = false;
    for (const char* v : browseOnlyVerbs) allowed = allowed || verb == v;
    if (!allowed) return NeedDriver(c);
  }
  if (verb == "help") {
    std::string text = w.size() > 1 ? CommandHelp(w[1]) : CommandHelp();
    if (text.empty()) return Fail(c, "no command '" + w[1] + "'");
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l)) Out(host, l);
    return true;
  }
  if (verb == "gate") {
    GateSpec spec;
    std::string rest = c.line.text.substr(c.line.text.find("gate") + 4);
    if (!GateFromLine(rest, &spec, c.error)) return false;
    if (spec.address == "@address") {
      // The address the last browse returned, as a host takes it from its dialog.
      if (host.lastBrowse.empty()) return Fail(c, "no browse has returned an address yet");
      spec.address = host.lastBrowse;
    }
    spec.origin = c.line.origin;
    if (DefineGate(host, spec)) return true;
    HostGate old;
    HostGateCopy(host, spec.id, &old);
    return Fail(c,
                RedefinitionText(spec.id, old.spec.origin) + " (it is '" + old.spec.address + "')");
  }
  if (verb == "gates") {
    bool ok;
    std::string path = Locate(c.options, w[1]);
    std::string text = ReadWholeFile(path, &ok);
    if (!ok) return Fail(c, "cannot read the gate list '" + path + "'");
    std::vector<GateSpec> gates;
    if (!ParseGateList(text, w[1], &gates, c.error)) return false;
    // All or none: a list that would redefine a gate defines nothing.
    for (const GateSpec& g : gates) {
      HostGate old;
      if (HostGateCopy(host, g.id, &old)) {
        return Fail(c, g.origin + ": " + RedefinitionText(g.id, old.spec.origin));
      }
    }
    for (const GateSpec& g : gates) DefineGate(host, g);
    Out(host, std::to_string(gates.size()) + " gates defined from " + w[1]);
    return true;
  }
  if (verb == "info") {
    VpiInfo info{};
    uint32_t rc = SendCommand(host, kGetVpiInfo, &info, "GetVpiInfo");
    Out(host, "GetVpiInfo -> " + std::to_string(rc) + ": '" +
                  (info.description ? info.description : "") + "', instance size " +
                  std::to_string(info.instanceSize));
    std::istringstream in(info.banner ? info.banner : "");
    std::string l;
    while (std::getline(in, l)) Out(host, l);
    return true;
  }
  if (verb == "coldstart") {
    uint32_t rc = ColdStartDriver(host, w.size() < 2 || w[1] == "1");
    Out(host, "ColdStart -> " + std::to_string(rc));
    Explain(host);
    return true;
  }
  if (verb == "endvpi") {
    uint32_t rc = EndDriver(host);
    Out(host, "EndVpi -> " + std::to_string(rc));
    return true;
  }
  if (verb == "parse" || verb == "read") {
    bool parse = verb == "parse";
    std::vector<uint32_t> ids =
        w[1] == "all" ? GateIds(host, !parse) : std::vector<uint32_t>{Id(w[1])};
    for (uint32_t id : ids) {
      if (!(parse ? ParseOne(c, id) : ReadOne(c, id))) return false;
    }
    if (parse) WaitForFirstValues(host, c.options.expectTimeoutMs);
    return true;
  }
  if (verb == "write") {
    HostGate g;
    if (!NeedGate(c, Id(w[1]), &g)) return false;
    uint32_t cell = 0;
    std::string text, why;
    if (!ParseGateValue(g.spec.type, w[2], &cell, &text, &why)) {
      return Fail(c, "gate " + w[1] + " is of type " + std::to_string(g.spec.type) + " (" +
                         GateTypeName(g.spec.type) + "): " + why);
    }
    uint32_t rc;
    WriteGate(host, Id(w[1]), cell, text, &rc);
    Out(host, "write " + w[1] + " " + w[2] + " -> " + std::to_string(rc));
    Explain(host);
    return true;
  }
  if (verb == "activity") {
    uint32_t id = Id(w[1]);
    HostGate g;
    if (!NeedGate(c, id, &g)) return false;
    {
      std::lock_guard<std::mutex> guard(host.lock);
      host.gates[id].activityOn = w[2] == "start";
    }
    Push(c, kMsgGateActivity, id, w[2] == "start" ? 1 : 0);
    return true;
  }
  if (verb == "redefine") {
    uint32_t id = Id(w[1]);
    HostGate g;
    if (!NeedGate(c, id, &g)) return false;
    int32_t mode = static_cast<int32_t>(Id(w[2]));
    int32_t rate = static_cast<int32_t>(Id(w[3]));
    kesthost::SetGateDef(id, mode, rate);
    {
      std::lock_guard<std::mutex> guard(host.lock);
      host.gates[id].spec.updateMode = mode;
      host.gates[id].spec.pollingRate = rate;
    }
    Push(c, kMsgGateDefChange, id, 1);
    return true;
  }
  if (verb == "remove") {
    uint32_t id = Id(w[1]);
    HostGate g;
    if (!NeedGate(c, id, &g)) return false;
    Push(c, kMsgGateDefChange, id, 3);
    kesthost::RemoveGate(id);
    std::lock_guard<std::mutex> guard(host.lock);
    host.gates.erase(id);
    return true;
  }
  if (verb == "message") {
    Push(c, static_cast<uint16_t>(Id(w[1])), w.size() > 2 ? Id(w[2]) : 0,
         static_cast<uint16_t>(w.size() > 3 ? Id(w[3]) : 0));
    return true;
  }
  if (verb == "active" || verb == "passive") {
    Push(c, verb == "active" ? kMsgHbActive : kMsgHbPassive, 0, 0);
    return true;
  }
  if (verb == "shutdown") {
    kesthost::BeginShutdown();
    if (host.coldStarted && kesthost::CurrentClient() != 0) {
      kesthost::WaitFor([] { return kesthost::CurrentClient() == 0; }, c.options.expectTimeoutMs);
    }
    Out(host, "host shutdown: client " + std::to_string(kesthost::CurrentClient()));
    return true;
  }
  if (verb == "net") return RunNet(c);
  if (verb == "advance") {
    AdvanceClock(host, Id(w[1]));
    Settle(host);
    return true;
  }
  if (verb == "settle") {
    Settle(host);
    return true;
  }
  if (verb == "browse") return RunBrowse(c);
  if (verb == "watch") return RunWatch(c);
  if (verb == "export") return RunExport(c);
  if (verb == "command") {
    uint32_t rc = SendCommand(host, Id(w[1]), nullptr, "command");
    host.lastCommand = "command " + w[1];
    Out(host, "command " + w[1] + " -> " + std::to_string(rc));
    return true;
  }
  if (verb == "show") {
    if (w.size() > 1) {
      std::vector<std::string> lines = GateDetail(host, Id(w[1]));
      if (lines.empty()) return Fail(c, "gate " + w[1] + " is not defined");
      for (const std::string& l : lines) Out(host, l);
      return true;
    }
    int columns = 0, rows = 0;
    TerminalSize(&columns, &rows);
    // A line as wide as the terminal would wrap on some; not on a terminal: 120 columns.
    size_t width = columns > 0 ? static_cast<size_t>(columns) - 1 : 120;
    for (const std::string& row : GateTable(host, width)) Out(host, row);
    return true;
  }
  if (verb == "log") {
    if (host.console) {
      std::lock_guard<std::mutex> guard(host.console->lock);
      host.console->logLevel = static_cast<int>(Id(w[1]));
    }
    return true;
  }
  if (verb == "clearlog") {
    kesthost::ClearLog();
    return true;
  }
  if (verb == "sleep") {
    std::this_thread::sleep_for(std::chrono::milliseconds(Id(w[1])));
    return true;
  }
  if (verb == "wait-file") {
    int timeout = w.size() > 2 ? static_cast<int>(Id(w[2])) : 20000;
    if (kesthost::WaitFor([&] { return std::filesystem::exists(w[1]) || Interrupted(); },
                          timeout) &&
        std::filesystem::exists(w[1])) {
      return true;
    }
    return Fail(c,
                "the file '" + w[1] + "' did not appear within " + std::to_string(timeout) + " ms");
  }
  if (verb == "touch") {
    std::ofstream out(w[1], std::ios::app);
    if (!out) return Fail(c, "cannot create the file '" + w[1] + "'");
    return true;
  }
  if (verb == "echo") {
    std::string text;
    for (size_t i = 1; i < w.size(); ++i) text += (i > 1 ? " " : "") + w[i];
    Out(host, text);
    return true;
  }
  if (verb == "expect") return RunExpect(c);
  return Fail(c, "the command '" + verb + "' cannot run here");
}

}  // namespace

std::string OptionFileName(int instance) {
  char name[32];
  std::snprintf(name, sizeof(name), "TELMAR%02u.int", static_cast<unsigned>(instance));
  return name;
}

LineOutcome RunLine(Host& host, const RunOptions& options, const ScriptLine& line, RunStats* stats,
                    std::string* error) {
  if (line.words.empty()) return LineOutcome::kOk;
  ++stats->lines;
  if (line.words[0] == "quit") return LineOutcome::kQuit;
  Context c{host, options, line, stats, error};
  return Run(c) ? LineOutcome::kOk : LineOutcome::kFailed;
}

}  // namespace hostsim
