#include "host/kest_host.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "core/host_api.h"

namespace kesthost {
namespace {

struct Failure {
  uint16_t result;
  int times;
};

struct HostState {
  std::mutex lock;
  std::map<uint32_t, Gate> gates;
  std::deque<HostMessage> messages;
  uint64_t emptyPolls = 0;  // KestWaitMsg calls that found no message
  bool shuttingDown = false;
  uint8_t nextClient = 1;
  uint8_t client = 0;
  // The history: the latest calls and log lines, at most historyLimit of each (0: all).
  std::deque<Call> calls;
  std::deque<LogLine> log;
  size_t historyLimit = 0;
  uint64_t logTotal = 0;  // log lines ever kept, dropped ones included
  std::map<std::string, Failure> failures;
  uint16_t samplerResult = 0;
  int32_t samplerActive = 0;
  std::function<void(int, const std::string&)> logSink;
  std::function<void(const Gate&)> putSink;
};

HostState& State() {
  static HostState* state = new HostState;  // never destroyed: the driver may log at exit
  return *state;
}

// Records the call; returns true with *result set when the call is to fail.
bool Record(HostState& s, Call call, uint16_t* result) {
  auto it = s.failures.find(call.name);
  s.calls.push_back(std::move(call));
  if (s.historyLimit && s.calls.size() > s.historyLimit) s.calls.pop_front();
  if (it == s.failures.end()) return false;
  *result = it->second.result;
  if (--it->second.times <= 0) s.failures.erase(it);
  return true;
}

Call MakeCall(const char* name, std::initializer_list<int64_t> args, const char* text = nullptr) {
  Call c;
  c.name = name;
  c.args = args;
  if (text) c.text = text;
  return c;
}

void NotifyPut(HostState& s, const Gate& g, std::unique_lock<std::mutex>& held) {
  auto sink = s.putSink;
  held.unlock();
  if (sink) sink(g);
}

}  // namespace

void Reset() {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.gates.clear();
  s.messages.clear();
  s.emptyPolls = 0;
  s.shuttingDown = false;
  s.nextClient = 1;
  s.client = 0;
  s.calls.clear();
  s.log.clear();
  s.logTotal = 0;
  s.failures.clear();
  s.samplerResult = 0;
  s.samplerActive = 0;
}

void AddGate(const Gate& gate) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.gates[gate.id] = gate;
}

void RemoveGate(uint32_t id) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.gates.erase(id);
}

bool GetGate(uint32_t id, Gate* out) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  auto it = s.gates.find(id);
  if (it == s.gates.end()) return false;
  if (out) *out = it->second;
  return true;
}

void SetGateDef(uint32_t id, int32_t updateMode, int32_t pollingRate) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  auto it = s.gates.find(id);
  if (it == s.gates.end()) return;
  it->second.updateMode = updateMode;
  it->second.pollingRate = pollingRate;
}

void PushMessage(uint16_t msgCode, uint32_t gateId, uint16_t subCode) {
  HostMessage m{};
  m.msgCode = msgCode;
  m.gateId = gateId;
  m.subCode = subCode;
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.messages.push_back(m);
}

size_t PendingMessages() {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  return s.messages.size();
}

uint64_t EmptyPolls() {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  return s.emptyPolls;
}

void BeginShutdown() {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.shuttingDown = true;
}

uint8_t CurrentClient() {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  return s.client;
}

std::vector<LogLine> Log() {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  return std::vector<LogLine>(s.log.begin(), s.log.end());
}

uint64_t LogTotal() {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  return s.logTotal;
}

bool LogContainsSince(const std::string& text, uint64_t sequence) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  uint64_t first = s.logTotal - s.log.size();  // the sequence number of s.log.front()
  size_t skip = sequence > first ? static_cast<size_t>(sequence - first) : 0;
  for (size_t i = skip; i < s.log.size(); ++i) {
    if (s.log[i].text.find(text) != std::string::npos) return true;
  }
  return false;
}

void SetHistoryLimit(size_t entries) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.historyLimit = entries;
  while (entries && s.log.size() > entries) s.log.pop_front();
  while (entries && s.calls.size() > entries) s.calls.pop_front();
}

size_t LogCount(const std::string& text, int level) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  size_t n = 0;
  for (const LogLine& l : s.log) {
    if ((level < 0 || l.level == level) && l.text.find(text) != std::string::npos) ++n;
  }
  return n;
}

bool LogContains(const std::string& text, int level) {
  return LogCount(text, level) > 0;
}

void ClearLog() {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.log.clear();
}

std::vector<Call> Calls() {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  return std::vector<Call>(s.calls.begin(), s.calls.end());
}

size_t CallCount(const std::string& name) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  size_t n = 0;
  for (const Call& c : s.calls) n += c.name == name;
  return n;
}

bool LastCall(const std::string& name, Call* out) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  for (auto it = s.calls.rbegin(); it != s.calls.rend(); ++it) {
    if (it->name == name) {
      if (out) *out = *it;
      return true;
    }
  }
  return false;
}

void ClearCalls() {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.calls.clear();
}

void FailCall(const std::string& name, uint16_t result, int times) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.failures[name] = Failure{result, times};
}

void ClearFailures() {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.failures.clear();
}

void SetSampler(uint16_t result, int32_t active) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.samplerResult = result;
  s.samplerActive = active;
}

void SetLogSink(std::function<void(int, const std::string&)> sink) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.logSink = std::move(sink);
}

void SetPutSink(std::function<void(const Gate&)> sink) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.putSink = std::move(sink);
}

bool WaitFor(const std::function<bool()>& cond, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= deadline) return cond();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace kesthost

using kesthost::Call;
using kesthost::Gate;
using kesthost::HostState;
using kesthost::MakeCall;
using kesthost::Record;
using kesthost::State;

extern "C" {

uint16_t KestMkClient(const char* clientName, uint32_t mode, uint32_t flags, uint8_t* clientId) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  uint16_t rc = 0;
  if (Record(s, MakeCall("KestMkClient", {mode, flags}, clientName), &rc)) return rc;
  s.client = s.nextClient++;
  if (s.nextClient == 0) s.nextClient = 1;
  *clientId = s.client;
  return 0;
}

uint16_t KestRqGateMsg(uint8_t clientId, uint32_t a, uint32_t b, uint32_t mask) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  uint16_t rc = 0;
  if (Record(s, MakeCall("KestRqGateMsg", {clientId, a, b, mask}), &rc)) return rc;
  return 0;
}

uint16_t KestRqNetMsg(uint8_t clientId, uint32_t request) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  uint16_t rc = 0;
  if (Record(s, MakeCall("KestRqNetMsg", {clientId, request}), &rc)) return rc;
  return 0;
}

uint16_t KestRmClient(uint8_t clientId) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  uint16_t rc = 0;
  if (Record(s, MakeCall("KestRmClient", {clientId}), &rc)) return rc;
  if (s.client == clientId) s.client = 0;
  return 0;
}

uint16_t KestWaitMsg(uint8_t clientId, HostMessage* msg, uint32_t timeout) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  uint16_t rc = 0;
  // Not recorded: the worker polls twenty times a second and would flood the record.
  (void)clientId;
  (void)timeout;
  auto it = s.failures.find("KestWaitMsg");
  if (it != s.failures.end()) {
    rc = it->second.result;
    if (--it->second.times <= 0) s.failures.erase(it);
    return rc;
  }
  if (!s.messages.empty()) {
    *msg = s.messages.front();
    s.messages.pop_front();
    return kWaitMsgDelivered;
  }
  if (s.shuttingDown) return kWaitMsgShutdown;
  ++s.emptyPolls;
  return 1;  // nothing pending
}

uint16_t KestGetGateDef(uint8_t clientId, uint32_t gateId, GateDef* def) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  uint16_t rc = 0;
  if (Record(s, MakeCall("KestGetGateDef", {clientId, gateId}), &rc)) return rc;
  auto it = s.gates.find(gateId);
  if (it == s.gates.end()) return 3;
  std::memset(def, 0, sizeof(*def));
  def->gateType = it->second.type;
  std::snprintf(def->address, sizeof(def->address), "%s", it->second.address.c_str());
  def->updateMode = it->second.updateMode;
  def->pollingRate = it->second.pollingRate;
  return 0;
}

uint16_t KestGetGateIdByAddressStr(uint8_t clientId, uint8_t instanceNumber, const char* address,
                                   uint32_t* gateId) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  uint16_t rc = 0;
  if (Record(s, MakeCall("KestGetGateIdByAddressStr", {clientId, instanceNumber}, address), &rc))
    return rc;
  for (const auto& [id, gate] : s.gates) {
    if (gate.address == address) {
      *gateId = id;
      return 0;
    }
  }
  return 3;
}

uint16_t KestPutGateVal(uint8_t clientId, uint32_t gateId, uint32_t count, double value, uint32_t a,
                        uint32_t b) {
  HostState& s = State();
  std::unique_lock<std::mutex> g(s.lock);
  uint16_t rc = 0;
  Call c = MakeCall("KestPutGateVal", {clientId, gateId, count, a, b});
  c.real = value;
  if (Record(s, std::move(c), &rc)) return rc;
  auto it = s.gates.find(gateId);
  if (it == s.gates.end()) return 3;
  it->second.value = value;
  it->second.lastPut = Gate::kPutValue;
  ++it->second.puts;
  Gate copy = it->second;
  kesthost::NotifyPut(s, copy, g);
  return 0;
}

uint16_t KestPutGateRawValue(uint8_t clientId, uint32_t gateId, uint32_t rawValue, uint32_t a,
                             uint32_t mode, uint32_t b, uint32_t c) {
  HostState& s = State();
  std::unique_lock<std::mutex> g(s.lock);
  uint16_t rc = 0;
  if (Record(s, MakeCall("KestPutGateRawValue", {clientId, gateId, rawValue, a, mode, b, c}), &rc))
    return rc;
  auto it = s.gates.find(gateId);
  if (it == s.gates.end()) return 3;
  it->second.raw = rawValue;
  it->second.lastPut = Gate::kPutRaw;
  ++it->second.puts;
  Gate copy = it->second;
  kesthost::NotifyPut(s, copy, g);
  return 0;
}

uint16_t KestPutGateStr(uint8_t clientId, uint32_t gateId, uint32_t mode, const char* text,
                        uint32_t a, uint32_t b) {
  HostState& s = State();
  std::unique_lock<std::mutex> g(s.lock);
  uint16_t rc = 0;
  if (Record(s, MakeCall("KestPutGateStr", {clientId, gateId, mode, a, b}, text), &rc)) return rc;
  auto it = s.gates.find(gateId);
  if (it == s.gates.end()) return 3;
  it->second.text = text ? text : "";
  it->second.lastPut = Gate::kPutText;
  ++it->second.puts;
  Gate copy = it->second;
  kesthost::NotifyPut(s, copy, g);
  return 0;
}

uint16_t KestSetPlcCommStatus(uint8_t clientId, uint8_t instanceNumber, int32_t node, uint32_t a,
                              uint32_t detached) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  uint16_t rc = 0;
  if (Record(s, MakeCall("KestSetPlcCommStatus", {clientId, instanceNumber, node, a, detached}),
             &rc))
    return rc;
  return 0;
}

uint16_t KestGetSingleVpiSampler(uint8_t clientId, uint8_t instanceNumber, int32_t* active) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  uint16_t rc = 0;
  if (Record(s, MakeCall("KestGetSingleVpiSampler", {clientId, instanceNumber}), &rc)) return rc;
  *active = s.samplerActive;
  return s.samplerResult;
}

void err(int level, const char* format, ...) {
  char line[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  HostState& s = State();
  std::unique_lock<std::mutex> g(s.lock);
  s.log.push_back(kesthost::LogLine{level, line});
  ++s.logTotal;
  if (s.historyLimit && s.log.size() > s.historyLimit) s.log.pop_front();
  auto sink = s.logSink;
  g.unlock();
  if (sink) sink(level, line);
}

}  // extern "C"
