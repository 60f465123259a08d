// The host stand-in: our implementation of the host's driver API (Kest*, err) over an in-memory
// gate database and message queue, for tests and for the host simulator. It records every call
// with its arguments, keeps the driver's log lines, and can make a chosen call fail.
// All functions are thread-safe: the driver calls the API from its worker, from the network
// library's thread and from host threads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/host_records.h"

namespace kesthost {

struct Gate {
  uint32_t id = 0;
  uint16_t type = 0;
  std::string address;
  int32_t updateMode = 0;
  int32_t pollingRate = 0;
  // What the driver last put: raw 32-bit cell (KestPutGateRawValue), text (KestPutGateStr),
  // or a double (KestPutGateVal).
  uint32_t raw = 0;
  std::string text;
  double value = 0;
  uint64_t puts = 0;  // number of puts of any kind
  // Which kind of put came last: a host routes a KestPutGateVal (a write by a browser's Refresh)
  // to the driver's SingleWrite, while raw and text puts are values for the host to keep.
  enum PutKind : uint8_t { kPutNone, kPutRaw, kPutText, kPutValue };
  PutKind lastPut = kPutNone;
};

struct Call {
  std::string name;           // "KestPutGateRawValue", ...
  std::vector<int64_t> args;  // integer arguments in order (client id first)
  std::string text;           // the text argument, if any
  double real = 0;            // the double argument of KestPutGateVal
};

struct LogLine {
  int level;
  std::string text;
};

// Forgets gates, messages, calls, log, failures and the shutdown state; client ids restart at 1.
void Reset();

void AddGate(const Gate& gate);
void RemoveGate(uint32_t id);
bool GetGate(uint32_t id, Gate* out);
void SetGateDef(uint32_t id, int32_t updateMode, int32_t pollingRate);

// Queues a message for KestWaitMsg (the FIFO is shared by all clients).
void PushMessage(uint16_t msgCode, uint32_t gateId = 0, uint16_t subCode = 0);
size_t PendingMessages();
// How many times KestWaitMsg found the queue empty: a rise means the driver has just looked.
uint64_t EmptyPolls();
// From now on KestWaitMsg answers 0 (the host is shutting down), after the queued messages.
void BeginShutdown();

// The registered client id, 0 when none is registered.
uint8_t CurrentClient();

// The history of log lines and calls. Unbounded unless a limit is set: then only the latest
// `entries` log lines and the latest `entries` calls are kept (a long host session, a fuzz
// run), and the functions below see only those.
void SetHistoryLimit(size_t entries);

std::vector<LogLine> Log();
// Log lines ever logged since the start or the last Reset (dropped and cleared ones counted),
// and whether a line logged after the first `sequence` of them contains text.
uint64_t LogTotal();
bool LogContainsSince(const std::string& text, uint64_t sequence);
bool LogContains(const std::string& text, int level = -1);  // substring; level -1 any
size_t LogCount(const std::string& text, int level = -1);
void ClearLog();

std::vector<Call> Calls();
size_t CallCount(const std::string& name);
bool LastCall(const std::string& name, Call* out);
void ClearCalls();

// The next `times` calls of `name` (e.g. "KestRqGateMsg") return `result` without effect.
void FailCall(const std::string& name, uint16_t result, int times = 1);
void ClearFailures();

// Answer of KestGetSingleVpiSampler: result and flag.
void SetSampler(uint16_t result, int32_t active);

// Every err line also goes to this sink (the host simulator prints them); null to remove.
// Without a sink, lines are only kept (Log()).
void SetLogSink(std::function<void(int level, const std::string& text)> sink);
// Every put (raw, text or value) also goes to this sink; null to remove.
void SetPutSink(std::function<void(const Gate& gate)> sink);

// Polls cond until it holds or timeoutMs passes; true when it held. For tests that await a
// condition reached on another thread.
bool WaitFor(const std::function<bool()>& cond, int timeoutMs = 5000);

}  // namespace kesthost
