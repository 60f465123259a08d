// Process-wide state of the simulated network library: the loaded networks, the open CLns
// objects with their registered items, the simulation clock, the delivery of callbacks, and the
// call counters and injected failures. One mutex (Sim::mu) guards the model and registrations;
// each CLns delivers its callbacks on its own thread from its own queue.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lon/lns.h"
#include "netsim/network.h"

namespace lonsim {

// What a service-pin or attachment callback tells about its device.
struct DeviceInfo {
  int32_t subsystem = 0;
  int32_t handle = 0;
  int32_t isAttached = 0;
  std::string neuronId, programId, name;
};

// One callback to deliver; kept small, as millions of value updates pass through the queue.
struct Event {
  enum Kind : uint8_t { kUpdate, kServicePin, kAttachment } kind = kUpdate;
  uint32_t gateId = 0;
  int32_t fieldIndex = -1;
  VARIANT value{};
  std::unique_ptr<DeviceInfo> device;  // service pin and attachment only
};

// The callback queue and thread of one CLns. Shared with Drain, which may outlive the CLns.
struct Delivery {
  std::mutex mu;
  std::condition_variable cv;      // work for the thread
  std::condition_variable doneCv;  // progress: delivered, busy, stop
  std::vector<Event> queue;
  std::vector<ILnsListener*> listeners;
  uint64_t raised = 0;     // events queued so far
  uint64_t delivered = 0;  // events delivered or dropped so far
  bool busy = false;       // a batch is being delivered
  bool stop = false;
  bool waiting = false;              // the thread sleeps on cv
  std::atomic<bool> hasWork{false};  // the queue is not empty
  std::atomic<bool> notify{true};
  std::thread thread;
  std::thread::id threadId;
};

struct FieldReg {
  bool added = false;
  VARTYPE vt = VT_R4;
  bool monitor = true;
  std::vector<uint32_t> gates;
  int pollRate = 0;
  int64_t nextPoll = 0;
  int bound = 0;
  std::vector<uint8_t> seenAtOff;  // the item's `seen` when monitoring was switched off
};

}  // namespace lonsim

class CNVItem {
 public:
  CLns::Impl* owner = nullptr;
  int nv = -1;
  VARTYPE vt = VT_R4;
  bool monitor = true;
  std::vector<uint32_t> gates;
  int pollRate = 0;
  int64_t nextPoll = 0;
  int bound = 0;
  std::vector<uint8_t> seen;       // the value the library last saw from the device
  std::vector<uint8_t> seenAtOff;  // `seen` when monitoring was switched off
  std::vector<lonsim::FieldReg> fields;
};

struct CLns::Impl {
  CLns* self = nullptr;
  char delimiter = '.';
  std::shared_ptr<lonsim::Network> net;  // null until Open
  std::vector<std::unique_ptr<CNVItem>> items;
  std::vector<CNVItem*> byNv;
  std::shared_ptr<lonsim::Delivery> delivery;
};

namespace lonsim {

struct Counter {
  int count = 0;
  std::vector<int64_t> last;
};

struct Failure {
  int result = 1;
  int times = 0;
};

// The file of that name in the user's own state directory; empty when there is none.
std::string UserStateFile(const std::string& name);
// The record file of a process whose host named no driver instance: in the user's own directory.
std::string DefaultRecordFile();

struct Sim {
  std::mutex mu;  // everything below but the counters
  std::map<std::string, std::shared_ptr<Network>> cache;
  std::vector<CLns::Impl*> open;  // opened, in order of opening
  std::vector<std::shared_ptr<Delivery>> deliveries;
  bool manual = false;
  int64_t base = 0;                              // simulation time at `anchor`
  int64_t anchor = 0;                            // steady clock in ms
  std::string recordFile = DefaultRecordFile();  // empty: none is kept
  std::string lastError;
  // The real-time ticker, while some CLns is open; it ends when `tickerGen` moves on.
  std::thread ticker;
  std::condition_variable tickerCv;
  uint64_t tickerGen = 0;

  // Looked up by the operation's literal name on every library call: transparent comparison
  // spares a string per lookup.
  std::mutex counterMu;
  std::map<std::string, Counter, std::less<>> counters;
  std::map<std::string, Failure, std::less<>> failures;
};

Sim& S();

// Counts the call and its arguments; returns true with *result when it is to fail.
bool Intercept(const char* op, std::initializer_list<int64_t> args, int* result);
void SetError(std::string text);  // with S().mu held

// Simulation time; with S().mu held.
int64_t NowLocked();
// Runs the polls and demo behaviour due up to `target`, in time order; with S().mu held.
void RunUntil(int64_t target);
void StartTicker();  // with S().mu held
void StopTickerIfIdle(std::unique_lock<std::mutex>& lock);

// The network of the latest open CLns, and its delimiter; with S().mu held.
Network* CurrentNetwork(char* delimiter);
// Converts a name with `delimiter` to the model's dotted path; false when it cannot be one.
bool ToDotted(std::string_view name, char delimiter, std::string* path);
// Object index of an NV field path: *nvIndex and *field set; false when it is none.
bool FindField(Network* net, std::string_view path, int* nvIndex, int* field);

// Network events; with S().mu held. `write` marks a write through CLns.
void DeviceUpdate(Network* net, int nvIndex, const std::vector<uint8_t>& raw, bool write);
void SetAttached(Network* net, int deviceIndex, bool attached);
void ServicePin(Network* net, int deviceIndex);
void DemoStep(Network* net, int64_t second);

// Reports the item's value (field -1) or one field's to its gates, in the item's format.
void Report(CNVItem* item, int field, const std::vector<uint8_t>& raw);
// Monitoring of an item or field switched; reports what changed while it was off.
void MonitorSwitched(CNVItem* item, int field, bool on);

// Waits until each delivery has passed the events it had raised when called.
void DrainAll();
std::shared_ptr<Delivery> StartDelivery();
// Stops delivery: no callback runs or starts once it returns (unless called from a callback).
void StopDelivery(const std::shared_ptr<Delivery>& d);
void SetNotify(Delivery* d, bool on);

// The record of the network opened last, for processes without an open CLns: the user's own
// file, one per driver instance where the host names the instance. An empty name records that
// the last Open failed, so that no older network is taken for the driver's.
void WriteRecord(const std::string& name);  // with S().mu held
// False when nothing was recorded; with S().mu held.
bool ReadRecord(std::string* name);
// Fills a tree control with the network tree; with S().mu NOT held. 0 on success.
int FillTree(std::shared_ptr<Network> net, LnsTreeControl* tree);

}  // namespace lonsim
