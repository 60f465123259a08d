#include "host/sim/script.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>

#include "host/sim/gate_list.h"

namespace hostsim {
namespace {

const std::vector<CommandInfo> kCommands = {
    {"help", "[COMMAND]", "Shows every command, or one command's help."},
    {"gate", "ID TYPE MODE RATE ADDRESS",
     "Defines a gate in the host's gate database, as a line of a gate list. The address\n"
     "@address stands for the address the last browse returned. An id defined already is\n"
     "refused: 'remove ID' first."},
    {"gates", "FILE", "Defines every gate of a gate list file."},
    {"info", "", "Sends GetVpiInfo (14) and shows the driver's banner."},
    {"coldstart", "[CONNECT]",
     "Sends ColdStart (1); CONNECT 1 (default) opens the network, 0 does not."},
    {"parse", "ID|all",
     "Sends SingleAddressParser (3) for a gate (or every gate) and keeps the binding words."},
    {"read", "ID|all", "Sends SingleRead (5) for a parsed gate (or every parsed gate)."},
    {"write", "ID VALUE",
     "Sends SingleWrite (7) with VALUE in the gate's type (integer, float, 0/1, or a text)."},
    {"activity", "ID start|stop", "Host message 109 (gate activity) with sub-code 1 or 0."},
    {"redefine", "ID MODE RATE",
     "Changes the gate's updateMode and pollingRate and sends message 121 with sub-code 1."},
    {"remove", "ID", "Sends message 121 with sub-code 3 and removes the gate from the host."},
    {"message", "CODE [GATE [SUBCODE]]", "Sends any host message."},
    {"active", "", "Host message 123: the station becomes active (KEST_HB_ACTIVE)."},
    {"passive", "", "Host message 124: the station becomes passive (KEST_HB_PASSIVE)."},
    {"shutdown", "", "The host shuts down: KestWaitMsg answers 0 from now on."},
    {"net", "EVENT ARGS",
     "A network event of the simulated network:\n"
     "  net value PATH NUMBER   a device reports a new value (engineering units)\n"
     "  net value PATH CONSTANT ... or an enumeration's constant by name (HVAC_HEAT)\n"
     "  net text PATH TEXT      a device reports a text value\n"
     "  net raw PATH HEX        a device reports raw bytes (e.g. 0A1B)\n"
     "  net pin DEVICE          the device's service pin is pressed\n"
     "  net detach DEVICE       the device detaches\n"
     "  net attach DEVICE       the device attaches again\n"
     "  net list [PATH]         the network's objects at and below PATH: an NV's index,\n"
     "                          type, direction, size, config, block and value; a structured\n"
     "                          NV's fields when PATH is that NV"},
    {"advance", "MS",
     "Moves the simulation clock on by MS milliseconds; gates due for polling are read on the "
     "way. With the real-time clock it waits that long."},
    {"settle", "", "Waits until network events and host messages so far have been handled."},
    {"browse", "[STEP...]",
     "Sends BrowseAddress (16). Without steps on a display: the dialog for the user. Steps\n"
     "script the dialog: select PATH, binding N|LABEL, type N|LABEL, polling, clear,\n"
     "refresh, tree (lists the tree), ok, cancel, close. E.g.\n"
     "  browse select Building.Floor1.Room101.nvoSpaceTemp binding Implicit type Real ok"},
    {"endvpi", "", "Sends EndVpi (11)."},
    {"command", "CODE",
     "Sends a command code without parameters (e.g. 2, 4, 6, 8, 10, 12, 13, 15, 17, 99)."},
    {"show", "[ID]",
     "Prints the gate table, as wide as the terminal; with ID, that gate whole (address, type,\n"
     "mode, value, last change, reads, errors, writes, the last error text).\n"
     "  update: listen (updateMode 2, the driver puts every change), listen* (updateMode 1,\n"
     "          listening since 'activity ID start'), demand (updateMode 1, not listening),\n"
     "          poll N (the host reads it every N ms), - (read only on demand)\n"
     "  status: ok, not bound (the parse failed), read error (the last read failed, or the\n"
     "          last listened update could not be put),\n"
     "          detached (its device is detached), stale (/M:p at polling rate 0: the\n"
     "          library never polls it)\n"
     "  changed: simulation seconds since the start when the value last changed"},
    {"watch", "ID...",
     "At the prompt: a line for every change of the named gates' values and status, until\n"
     "Enter (standard input: until its next line). Not in scripts: they check with expect."},
    {"export", "gates|macros [FILE]",
     "Writes CSV to FILE (in the working directory; a file of another kind is not replaced),\n"
     "or shows it:\n"
     "  export gates   the gates as bound: id, type, updateMode, pollingRate, address,\n"
     "                 binding word, status\n"
     "  export macros  the option file's macros: name, value, the gates that use it"},
    {"log", "LEVEL",
     "Shows log lines of LEVEL and above (8 all; 32 the driver's level-32 lines, failures and\n"
     "routine ones alike; 99 none)."},
    {"clearlog", "", "Forgets the log lines so far (for expect log / nolog)."},
    {"sleep", "MS", "Waits MS milliseconds of real time."},
    {"wait-file", "NAME [MS]",
     "Waits until the file NAME exists in the working directory (default at most 20000 ms)."},
    {"touch", "NAME", "Creates the file NAME in the working directory."},
    {"echo", "[TEXT...]", "Prints the text."},
    {"expect", "WHAT ARGS",
     "Checks, and fails the script when it does not hold (waiting up to the expect timeout for\n"
     "things that arrive from the driver's threads):\n"
     "  expect result N          status of the last driver command\n"
     "  expect value ID VALUE    the gate's value (floats with a small tolerance)\n"
     "  expect contains ID TEXT  the gate's value, as text, contains TEXT\n"
     "  expect binding ID WORD   the binding word SingleAddressParser returned (e.g. 0x0104)\n"
     "  expect node ID N         the nodeValue SingleAddressParser returned\n"
     "  expect address TEXT      the address the last browse returned\n"
     "  expect log TEXT          a log line containing TEXT was logged\n"
     "  expect nolog TEXT        no log line contains TEXT\n"
     "  expect file NAME TEXT    the file NAME contains TEXT\n"
     "  expect refused NET TEXT  the network file NET is refused, with TEXT in the refusal"},
    {"quit", "", "Ends: EndVpi if the driver runs, then exit."},
};

bool IsId(const std::string& w) {
  long long v;
  return ReadInt(w, 1, UINT32_MAX, &v);
}

std::string Need(const char* what, const std::string& word) {
  return std::string(what) + " expected, not '" + word + "'";
}

bool CountOk(const ScriptLine& line, size_t lo, size_t hi, std::string* error) {
  size_t n = line.words.size() - 1;
  if (n >= lo && n <= hi) return true;
  const CommandInfo* info = FindCommand(line.words[0]);
  *error = "usage: " + line.words[0] + (info && *info->usage ? std::string(" ") + info->usage : "");
  return false;
}

bool CheckNet(const std::vector<std::string>& w, std::string* error) {
  if (w.size() < 2) {
    *error = "usage: net value|text|raw|pin|detach|attach ...";
    return false;
  }
  const std::string& ev = w[1];
  if (ev == "list") {
    if (w.size() <= 3) return true;
    *error = "usage: net list [PATH]";
    return false;
  }
  size_t need = (ev == "value" || ev == "text" || ev == "raw") ? 4 : 3;
  if (ev != "value" && ev != "text" && ev != "raw" && ev != "pin" && ev != "detach" &&
      ev != "attach") {
    *error = "unknown network event '" + ev + "' (value, text, raw, pin, detach, attach, list)";
    return false;
  }
  if (w.size() != need) {
    *error = "usage: net " + ev + (need == 4 ? " PATH VALUE" : " DEVICE");
    return false;
  }
  if (ev == "value") {
    char* end = nullptr;
    std::strtod(w[3].c_str(), &end);
    if (w[3].empty() || (*end && !IsConstantName(w[3]))) {
      *error = Need("a number", w[3]);
      return false;
    }
  }
  if (ev == "raw") {
    const std::string& hex = w[3];
    bool ok = !hex.empty() && hex.size() % 2 == 0 &&
              hex.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (!ok) {
      *error = Need("an even number of hex digits", hex);
      return false;
    }
  }
  return true;
}

bool CheckBrowse(const std::vector<std::string>& w, std::string* error) {
  for (size_t i = 1; i < w.size(); ++i) {
    const std::string& s = w[i];
    if (s == "select" || s == "binding" || s == "type") {
      if (i + 1 >= w.size()) {
        *error = "browse step '" + s + "' needs an argument";
        return false;
      }
      ++i;
    } else if (s != "polling" && s != "clear" && s != "refresh" && s != "tree" && s != "ok" &&
               s != "cancel" && s != "close") {
      *error = "unknown browse step '" + s +
               "' (select, binding, type, polling, clear, refresh, tree, ok, cancel, close)";
      return false;
    }
  }
  return true;
}

bool CheckExpect(const std::vector<std::string>& w, std::string* error) {
  if (w.size() < 2) {
    *error = "usage: expect result|value|contains|binding|node|address|log|nolog|file|refused ...";
    return false;
  }
  const std::string& what = w[1];
  long long v;
  auto args = [&](size_t n, const char* usage) {
    if (w.size() == n + 2) return true;
    *error = std::string("usage: expect ") + what + " " + usage;
    return false;
  };
  if (what == "result") {
    if (!args(1, "N")) return false;
    if (!ReadInt(w[2], 0, UINT32_MAX, &v)) return *error = Need("a status", w[2]), false;
  } else if (what == "value" || what == "contains") {
    if (!args(2, what == "value" ? "ID VALUE" : "ID TEXT")) return false;
    if (!IsId(w[2])) return *error = Need("a gate id", w[2]), false;
  } else if (what == "binding" || what == "node") {
    if (!args(2, what == "node" ? "ID N" : "ID WORD")) return false;
    if (!IsId(w[2])) return *error = Need("a gate id", w[2]), false;
    if (!ReadInt(w[3], INT32_MIN, UINT32_MAX, &v)) return *error = Need("a number", w[3]), false;
  } else if (what == "address" || what == "log" || what == "nolog") {
    if (!args(1, "TEXT")) return false;
  } else if (what == "file") {
    if (!args(2, "NAME TEXT")) return false;
  } else if (what == "refused") {
    if (!args(2, "NETWORK-FILE TEXT")) return false;
  } else {
    *error = "unknown expectation '" + what +
             "' (result, value, contains, binding, node, address, log, nolog, file, refused)";
    return false;
  }
  return true;
}

bool CheckArguments(const ScriptLine& line, std::string* error) {
  const std::vector<std::string>& w = line.words;
  const std::string& verb = w[0];
  long long v;
  if (verb == "help") return CountOk(line, 0, 1, error);
  if (verb == "gate") {
    GateSpec gate;
    std::string rest = line.text.substr(line.text.find("gate") + 4);
    return GateFromLine(rest, &gate, error);
  }
  if (verb == "gates" || verb == "touch" || verb == "remove") {
    if (!CountOk(line, 1, 1, error)) return false;
    if (verb == "remove" && !IsId(w[1])) return *error = Need("a gate id", w[1]), false;
    return true;
  }
  if (verb == "coldstart") {
    if (!CountOk(line, 0, 1, error)) return false;
    if (w.size() == 2 && w[1] != "0" && w[1] != "1") return *error = Need("0 or 1", w[1]), false;
    return true;
  }
  if (verb == "parse" || verb == "read") {
    if (!CountOk(line, 1, 1, error)) return false;
    if (w[1] != "all" && !IsId(w[1])) return *error = Need("a gate id or all", w[1]), false;
    return true;
  }
  if (verb == "write") {
    if (!CountOk(line, 2, 2, error)) return false;
    if (!IsId(w[1])) return *error = Need("a gate id", w[1]), false;
    return true;
  }
  if (verb == "activity") {
    if (!CountOk(line, 2, 2, error)) return false;
    if (!IsId(w[1])) return *error = Need("a gate id", w[1]), false;
    if (w[2] != "start" && w[2] != "stop") return *error = Need("start or stop", w[2]), false;
    return true;
  }
  if (verb == "redefine") {
    if (!CountOk(line, 3, 3, error)) return false;
    if (!IsId(w[1])) return *error = Need("a gate id", w[1]), false;
    if (!ReadInt(w[2], 0, 2, &v)) return *error = Need("updateMode 0..2", w[2]), false;
    if (!ReadInt(w[3], 0, INT32_MAX, &v)) return *error = Need("a polling rate", w[3]), false;
    return true;
  }
  if (verb == "message") {
    if (!CountOk(line, 1, 3, error)) return false;
    if (!ReadInt(w[1], 0, UINT16_MAX, &v)) return *error = Need("a message code", w[1]), false;
    if (w.size() > 2 && !ReadInt(w[2], 0, UINT32_MAX, &v))
      return *error = Need("a gate id", w[2]), false;
    if (w.size() > 3 && !ReadInt(w[3], 0, UINT16_MAX, &v))
      return *error = Need("a sub-code", w[3]), false;
    return true;
  }
  if (verb == "net") return CheckNet(w, error);
  if (verb == "advance" || verb == "sleep") {
    if (!CountOk(line, 1, 1, error)) return false;
    if (!ReadInt(w[1], 0, 24LL * 3600 * 1000, &v))
      return *error = Need("milliseconds", w[1]), false;
    return true;
  }
  if (verb == "wait-file") {
    if (!CountOk(line, 1, 2, error)) return false;
    if (w.size() == 3 && !ReadInt(w[2], 0, 3600 * 1000, &v))
      return *error = Need("milliseconds", w[2]), false;
    return true;
  }
  if (verb == "browse") return CheckBrowse(w, error);
  if (verb == "command") {
    if (!CountOk(line, 1, 1, error)) return false;
    if (!ReadInt(w[1], 0, UINT32_MAX, &v)) return *error = Need("a command code", w[1]), false;
    // These read or write a parameter record: they have commands of their own.
    static const char* const own[] = {"", "coldstart", "",     "parse", "",      "read",
                                      "", "write",     "",     "",      "",      "endvpi",
                                      "", "",          "info", "",      "browse"};
    if (v < 17 && *own[v]) {
      *error = "command " + w[1] + " takes a parameter record: use '" + own[v] + "'";
      return false;
    }
    return true;
  }
  if (verb == "log") {
    if (!CountOk(line, 1, 1, error)) return false;
    if (!ReadInt(w[1], 0, 1000, &v)) return *error = Need("a log level", w[1]), false;
    return true;
  }
  if (verb == "show") {
    if (!CountOk(line, 0, 1, error)) return false;
    if (w.size() == 2 && !IsId(w[1])) return *error = Need("a gate id", w[1]), false;
    return true;
  }
  if (verb == "expect") return CheckExpect(w, error);
  if (verb == "watch") {
    if (w.size() < 2) return CountOk(line, 1, 1, error);
    for (size_t i = 1; i < w.size(); ++i) {
      if (!IsId(w[i])) return *error = Need("a gate id", w[i]), false;
    }
    return true;
  }
  if (verb == "export") {
    if (!CountOk(line, 1, 2, error)) return false;
    if (w[1] != "gates" && w[1] != "macros") return *error = Need("gates or macros", w[1]), false;
    return true;
  }
  if (verb == "echo" || verb == "browse") return true;
  return CountOk(line, 0, 0, error);  // info, active, passive, shutdown, settle, show, ...
}

}  // namespace

const std::vector<CommandInfo>& Commands() {
  return kCommands;
}

const CommandInfo* FindCommand(const std::string& name) {
  for (const CommandInfo& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

bool IsConstantName(const std::string& word) {
  if (word.empty() || word[0] < 'A' || word[0] > 'Z') return false;
  for (char c : word) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

bool ReadInt(const std::string& word, long long lo, long long hi, long long* out) {
  if (word.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(word.c_str(), &end, 0);
  if (*end || errno == ERANGE || v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool ParseCommandLine(const std::string& text, ScriptLine* line, std::string* error) {
  line->text = text;
  line->words.clear();
  size_t first = text.find_first_not_of(" \t\r\v\f");
  if (first == std::string::npos || text[first] == ';') return true;
  if (!SplitWords(text, &line->words, error)) return false;
  if (!FindCommand(line->words[0])) {
    *error = "unknown command '" + line->words[0] + "' (try help)";
    return false;
  }
  return CheckArguments(*line, error);
}

bool ParseScript(const std::string& text, const std::string& name, std::vector<ScriptLine>* lines,
                 std::string* error) {
  std::istringstream in(text);
  std::string raw;
  std::map<uint32_t, std::string> defined;  // gate ids of the script's gate lines, and where
  for (int number = 1; std::getline(in, raw); ++number) {
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    ScriptLine line;
    line.origin = name + ":" + std::to_string(number);
    std::string what;
    if (!ParseCommandLine(raw, &line, &what)) {
      *error = line.origin + ": " + what;
      return false;
    }
    if (line.words.empty()) continue;
    const std::string& verb = line.words[0];
    if (verb == "watch") {
      *error = line.origin + ": watch waits for Enter: it is for the prompt (a script checks " +
               "values with expect)";
      return false;
    }
    // A gate id defined again without a remove in between would be refused when the line
    // runs; said now, nothing of the script has run.
    if (verb == "gate" || verb == "remove") {
      long long id = 0;
      ReadInt(line.words[1], 1, UINT32_MAX, &id);
      auto it = defined.find(static_cast<uint32_t>(id));
      if (verb == "remove" && it != defined.end()) {
        defined.erase(it);
      } else if (verb == "gate" && it != defined.end()) {
        *error = line.origin + ": " + RedefinitionText(static_cast<uint32_t>(id), it->second);
        return false;
      } else if (verb == "gate") {
        defined.emplace(static_cast<uint32_t>(id), line.origin);
      }
    }
    lines->push_back(line);
  }
  return true;
}

std::string RedefinitionText(uint32_t id, const std::string& origin) {
  std::string n = std::to_string(id);
  return "gate " + n + " is already defined" + (origin.empty() ? "" : " (" + origin + ")") +
         ": 'remove " + n + "' first, or take another id";
}

std::string CommandHelp(const std::string& name) {
  const CommandInfo* c = FindCommand(name);
  if (!c) return "";
  std::string out = std::string(c->name) + (*c->usage ? std::string(" ") + c->usage : "") + "\n";
  std::istringstream in(c->help);
  std::string line;
  while (std::getline(in, line)) out += "    " + line + "\n";
  return out;
}

std::string CommandHelp() {
  std::string out;
  for (const CommandInfo& c : kCommands) out += CommandHelp(c.name);
  return out;
}

}  // namespace hostsim
