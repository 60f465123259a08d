#include "host/kest_host.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "core/host_api.h"

namespace kesthost {
namespace {

struct Failure {
  uint16_t result;
  int times;
};

// A recorded call as kept: the name is one of the API's literal names and at most kMaxArgs
// integer arguments sit in place, so recording a call allocates nothing unless it has a text.
// Call records are built from it only when the history is read.
constexpr size_t kMaxArgs = 8;
struct CallEntry {
  const char* name = "";
  uint8_t argCount = 0;
  int64_t args[kMaxArgs] = {};
  std::string text;
  double real = 0;
};

Call ToCall(const CallEntry& e) {
  Call c;
  c.name = e.name;
  c.args.assign(e.args, e.args + e.argCount);
  c.text = e.text;
  c.real = e.real;
  return c;
}

// The latest entries, oldest first; all of them while limit is 0, else at most limit, kept in a
// ring that reuses its slots instead of freeing and allocating one per entry.
template <typename T>
struct History {
  std::vector<T> items;
  size_t first = 0;  // index of the oldest entry once the ring is full
  size_t limit = 0;

  size_t size() const { return items.size(); }
  const T& at(size_t i) const { return items[(first + i) % items.size()]; }
  void clear() {
    items.clear();
    first = 0;
  }
  void push(T&& entry) {
    if (limit == 0 || items.size() < limit) {
      items.push_back(std::move(entry));
    } else {
      items[first] = std::move(entry);
      first = (first + 1) % limit;
    }
  }
  void setLimit(size_t entries) {
    size_t keep = entries && items.size() > entries ? entries : items.size();
    std::vector<T> latest;
    latest.reserve(keep);
    for (size_t i = items.size() - keep; i < items.size(); ++i)
      latest.push_back(std::move(slot(i)));
    items = std::move(latest);
    first = 0;
    limit = entries;
  }
  template <typename F>
  void forEach(F f) const {
    for (size_t i = 0; i < items.size(); ++i) f(at(i));
  }

 private:
  T& slot(size_t i) { return items[(first + i) % items.size()]; }
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
  History<CallEntry> calls;
  History<LogLine> log;
  uint64_t logTotal = 0;  // log lines ever kept, dropped ones included
  std::map<std::string, Failure, std::less<>> failures;
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
bool Record(HostState& s, CallEntry call, uint16_t* result) {
  const char* name = call.name;
  s.calls.push(std::move(call));
  if (s.failures.empty()) return false;
  auto it = s.failures.find(std::string_view(name));
  if (it == s.failures.end()) return false;
  *result = it->second.result;
  if (--it->second.times <= 0) s.failures.erase(it);
  return true;
}

CallEntry MakeCall(const char* name, std::initializer_list<int64_t> args,
                   const char* text = nullptr) {
  CallEntry c;
  c.name = name;
  for (int64_t a : args) {
    if (c.argCount < kMaxArgs) c.args[c.argCount++] = a;
  }
  if (text) c.text = text;
  return c;
}

// Hands the put gate to the sink, if there is one, outside the lock.
void NotifyPut(HostState& s, const Gate& g, std::unique_lock<std::mutex>& held) {
  if (!s.putSink) return;
  auto sink = s.putSink;
  Gate copy = g;
  held.unlock();
  sink(copy);
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
  std::vector<LogLine> lines;
  lines.reserve(s.log.size());
  s.log.forEach([&](const LogLine& l) { lines.push_back(l); });
  return lines;
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
    if (s.log.at(i).text.find(text) != std::string::npos) return true;
  }
  return false;
}

void SetHistoryLimit(size_t entries) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  s.log.setLimit(entries);
  s.calls.setLimit(entries);
}

size_t LogCount(const std::string& text, int level) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  size_t n = 0;
  s.log.forEach([&](const LogLine& l) {
    if ((level < 0 || l.level == level) && l.text.find(text) != std::string::npos) ++n;
  });
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
  std::vector<Call> calls;
  calls.reserve(s.calls.size());
  s.calls.forEach([&](const CallEntry& e) { calls.push_back(ToCall(e)); });
  return calls;
}

size_t CallCount(const std::string& name) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  size_t n = 0;
  s.calls.forEach([&](const CallEntry& e) { n += name == e.name; });
  return n;
}

bool LastCall(const std::string& name, Call* out) {
  HostState& s = State();
  std::lock_guard<std::mutex> g(s.lock);
  for (size_t i = s.calls.size(); i-- > 0;) {
    if (name == s.calls.at(i).name) {
      if (out) *out = ToCall(s.calls.at(i));
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

using kesthost::CallEntry;
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
  // As much of the address as fits, always terminated.
  const std::string& address = it->second.address;
  std::memcpy(def->address, address.data(), std::min(address.size(), sizeof(def->address) - 1));
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
  CallEntry c = MakeCall("KestPutGateVal", {clientId, gateId, count, a, b});
  c.real = value;
  if (Record(s, std::move(c), &rc)) return rc;
  auto it = s.gates.find(gateId);
  if (it == s.gates.end()) return 3;
  it->second.value = value;
  it->second.lastPut = Gate::kPutValue;
  ++it->second.puts;
  kesthost::NotifyPut(s, it->second, g);
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
  kesthost::NotifyPut(s, it->second, g);
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
  kesthost::NotifyPut(s, it->second, g);
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
  s.log.push(kesthost::LogLine{level, line});
  ++s.logTotal;
  auto sink = s.logSink;
  g.unlock();
  if (sink) sink(level, line);
}

}  // extern "C"
