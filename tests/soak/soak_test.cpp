// Ten thousand gates on a generated network. The host thread reads, writes, re-binds and sends
// the host's messages in a seeded random mix while another thread changes values, presses
// service pins and detaches devices, with the network's clock running. Afterwards every listened
// gate holds its NV's last value, and received at least every change made while it was known
// to listen with the station active.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/driver_instance.h"
#include "core/vpi_main.h"
#include "core/worker.h"
#include "host/kest_host.h"
#include "netsim/lonsim_control.h"
#include "platform/process_shared.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kDevices = 100;
constexpr int kNvsPerDevice = 100;
constexpr int kGates = kDevices * kNvsPerDevice;  // one gate per NV, id = index + 1
constexpr int kInputs = 40;                       // n00..n39: SNVT_temp_p inputs, writable
constexpr int kTemps = 80;                        // n40..n79: SNVT_temp_p outputs
constexpr int kAlwaysListening = 40;              // n00 of the first devices: updateMode 2
constexpr int kNodeGates = 10;                    // the first devices have a node gate
constexpr uint32_t kNodeGateBase = 20000;
constexpr uint32_t kServicePinGate = 30000;
constexpr int kDetachable = 10;  // the network thread detaches only the last devices
constexpr uint32_t kPoison = 0xA5A5A5A5u;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultSeconds = 3;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
constexpr int kDefaultSeconds = 3;
#else
constexpr int kDefaultSeconds = 10;
#endif
#else
constexpr int kDefaultSeconds = 10;
#endif

int Device(int index) {
  return index / kNvsPerDevice;
}
int Slot(int index) {
  return index % kNvsPerDevice;
}
bool IsSwitch(int index) {
  return Slot(index) >= kTemps;
}

std::string DevicePath(int device) {
  char name[16];
  std::snprintf(name, sizeof name, "S.D%02d", device);
  return name;
}
// The gate's address and the path of what it listens to: an NV, or the switch's value field.
std::string Address(int index) {
  char name[8];
  std::snprintf(name, sizeof name, ".n%02d", Slot(index));
  return DevicePath(Device(index)) + name + (IsSwitch(index) ? ".value" : "");
}

std::string NetworkFile() {
  std::string text = "network Soak\nsubsystem S\n";
  for (int d = 0; d < kDevices; ++d) {
    char line[96];
    std::snprintf(line, sizeof line, "device %s handle %d neuron 0000000A%04X\n",
                  DevicePath(d).c_str(), d + 1, d);
    text += line;
    for (int k = 0; k < kNvsPerDevice; ++k) {
      std::snprintf(line, sizeof line, "nv %s.n%02d %s\n", DevicePath(d).c_str(), k,
                    k < kInputs  ? "input SNVT_temp_p value 20"
                    : k < kTemps ? "output SNVT_temp_p value 20"
                                 : "output SNVT_switch value 0 0");
      text += line;
    }
  }
  return text;
}

float FloatCell(uint32_t raw) {
  float f;
  std::memcpy(&f, &raw, sizeof f);
  return f;
}

// What the host knows of a gate; the flags the network thread reads are atomics.
struct GateState {
  int32_t updateMode = 0;
  bool bound = false;
  bool wantListen = false;  // listens once the worker has handled the messages sent so far
  uint32_t bindingWord = 0;
  CNVItem* item = nullptr;
};

class Soak : public ::testing::Test {
 protected:
  void SetUp() override {
    lonsim::Reset();
    lonsim::SetNetworkRecordFile(dir_.path() + "/lonsim.network");
    kesthost::Reset();
    ProcessSharedData()->stationActive = 0;
    dir_.WriteFile("soak.net", NetworkFile());
    dir_.WriteFile("TELMAR01.int", "[Lns]\nNetwork=" + dir_.path() + "/soak.net\n[Macros]\n");
    block_ = std::calloc(1, sizeof(DriverInstance));
    gates_.resize(kGates);
    counting_ = std::make_unique<std::atomic<bool>[]>(kGates);
    expected_ = std::make_unique<std::atomic<uint64_t>[]>(kGates);
  }
  void TearDown() override {
    std::free(block_);
    ProcessSharedData()->stationActive = 0;
    ProcessSharedRemove();
    lonsim::Reset();
  }

  uint32_t Call(uint32_t command, void* params) {
    VpiRequest request{static_cast<DriverInstance*>(block_), command, 1, 0, params};
    return VpiMain(&request);
  }
  uint32_t Parse(uint32_t id, uint16_t type, const std::string& address, GateAddressParams* out) {
    *out = GateAddressParams{};
    out->address = address.c_str(), out->gateId = id, out->gateType = type;
    return Call(kSingleAddressParser, out);
  }
  void AddHostGate(uint32_t id, uint16_t type, const std::string& address, int32_t mode) {
    kesthost::Gate g;
    g.id = id, g.type = type, g.address = address, g.updateMode = mode;
    kesthost::AddGate(g);
  }
  uint32_t Io(uint32_t command, int index, uint32_t* cell) {
    std::string address = Address(index);
    GateIoParams io{};
    io.address = address.c_str(), io.bindingWord = gates_[index].bindingWord;
    io.nvItem = gates_[index].item, io.gateType = 3, io.valueCell = cell;
    return Call(command, &io);
  }

  // The worker has handled every host message sent so far: the queue is empty and a command
  // issued afterwards has come back (host messages go before commands).
  void Quiesce() {
    // The worker looks for a host message before each command, so commands hurry the queue on.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (kesthost::PendingMessages() > 0 && std::chrono::steady_clock::now() < deadline) {
      ASSERT_EQ(Call(kWarmStart, nullptr), 0u);
    }
    ASSERT_EQ(kesthost::PendingMessages(), 0u);
    ASSERT_EQ(Call(kWarmStart, nullptr), 0u);
  }
  // Closes a window: with the network thread held, every change counted in the window has been
  // delivered, so each gate has had at least as many puts since the window opened. Then changes
  // count afresh for every gate that listens with the station active.
  void Confirm() {
    HoldNetwork(true);
    lonsim::Drain();
    for (int i = 0; i < kGates; ++i) {
      uint64_t expected = expected_[i].load();
      bool counting = gates_[i].bound && gates_[i].wantListen && stationActive_;
      if (expected == 0 && !counting) continue;
      kesthost::Gate g;
      ASSERT_TRUE(kesthost::GetGate(i + 1, &g));
      if (g.puts - windowPuts_[i] < expected && ++lost_ <= 10) {
        ADD_FAILURE() << Address(i) << ": " << g.puts - windowPuts_[i] << " puts for " << expected
                      << " changes while it listened; window from step " << windowStep_ << " to "
                      << step_ << "; " << History(i);
      }
      windowPuts_[i] = g.puts;
      expected_[i] = 0;
      counting_[i] = counting;
    }
    windowStep_ = step_;
    HoldNetwork(false);
  }
  void HoldNetwork(bool hold) {
    if (!networkRuns_) return;
    std::unique_lock<std::mutex> lock(holdLock_);
    holdWanted_ = hold;
    holdChanged_.notify_all();
    holdChanged_.wait(lock, [&] { return held_ == hold; });
  }
  // The network thread's side of HoldNetwork, between two changes.
  void AllowHold() {
    std::unique_lock<std::mutex> lock(holdLock_);
    if (!holdWanted_) return;
    held_ = true;
    holdChanged_.notify_all();
    holdChanged_.wait(lock, [&] { return !holdWanted_; });
    held_ = false;
    holdChanged_.notify_all();
  }
  void StopCounting(int index) { counting_[index] = false; }

  // The host's last messages and parses of a gate, for the report of a lost update.
  void Note(int index, char what, int arg = 0) {
    history_[index][historyNext_[index]++ % kHistory] = Action{step_, what, arg};
  }
  std::string History(int index) const {
    std::string text =
        "last host actions (step:what[arg]; a activity, d mode*10+sub, r removed, "
        "b parsed back):";
    for (unsigned k = 0; k < kHistory; ++k) {
      const Action& a = history_[index][(historyNext_[index] + k) % kHistory];
      if (a.what) text += " " + std::to_string(a.step) + ":" + a.what + std::to_string(a.arg);
    }
    return text + "; station last active at step " + std::to_string(activeStep_) + ", passive at " +
           std::to_string(passiveStep_);
  }

  void BindAll() {
    for (int i = 0; i < kGates; ++i) {
      GateState& g = gates_[i];
      g.updateMode = i < kAlwaysListening * kNvsPerDevice && Slot(i) == 0 ? 2 : i % 2;
      AddHostGate(i + 1, 3, Address(i), g.updateMode);
      GateAddressParams p;
      ASSERT_EQ(Parse(i + 1, 3, Address(i), &p), 0u) << Address(i);
      ASSERT_EQ(p.bindingWord & 0xFF, IsSwitch(i) ? 2u : 1u);
      g.bound = true, g.wantListen = g.updateMode == 2;
      g.bindingWord = p.bindingWord, g.item = p.nvItem;
    }
    for (int d = 0; d < kNodeGates; ++d) {
      AddHostGate(kNodeGateBase + d, 1, DevicePath(d), 0);
      GateAddressParams p;
      ASSERT_EQ(Parse(kNodeGateBase + d, 1, DevicePath(d), &p), 0u);
    }
    AddHostGate(kServicePinGate, 7, "!ServicePin", 0);
    GateAddressParams p;
    ASSERT_EQ(Parse(kServicePinGate, 7, "!ServicePin", &p), 0u);
    // The parsers' thread messages: the always-listening gates get their first value, the node
    // gates their 1.
    ASSERT_TRUE(kesthost::WaitFor(
        [] {
          kesthost::Gate g;
          for (int d = 0; d < kAlwaysListening; ++d) {
            if (!kesthost::GetGate(d * kNvsPerDevice + 1, &g) || g.puts == 0) return false;
          }
          for (int d = 0; d < kNodeGates; ++d) {
            if (!kesthost::GetGate(kNodeGateBase + d, &g) || g.raw != 0x10000u) return false;
          }
          return true;
        },
        60000));
  }

  // The host's side: one random operation.
  void HostStep(std::mt19937& rng) {
    int what = static_cast<int>(rng() % 100);
    // Messages go to a few dozen gates, so that each sees many turns of its listening.
    int index = what < 50 ? static_cast<int>(rng() % kGates) : static_cast<int>(rng() % 60) * 166;
    GateState& g = gates_[index];
    uint32_t id = index + 1;
    if (what < 30) {  // read
      if (!g.bound) return;
      uint32_t cell = kPoison;
      uint32_t rc = Io(kSingleRead, index, &cell);
      ASSERT_TRUE(rc == 0 || (rc == 1 && cell == kPoison)) << rc << " " << Address(index);
      ++reads_, readFailures_ += rc;
    } else if (what < 50) {  // write an input
      index -= Slot(index) - static_cast<int>(rng() % kInputs);
      if (!gates_[index].bound) return;
      float value = static_cast<float>(static_cast<int>(rng() % 6000) - 3000) / 10;
      uint32_t cell;
      std::memcpy(&cell, &value, sizeof cell);
      uint32_t rc = Io(kSingleWrite, index, &cell);
      ASSERT_LE(rc, 1u);
      ++writes_, writeFailures_ += rc;
    } else if (what < 70) {  // gate activity
      uint16_t start = rng() % 2;
      if (g.bound && g.updateMode == 1) {
        if (!start) StopCounting(index);
        g.wantListen = start;
      }
      Note(index, 'a', start);
      kesthost::PushMessage(kMsgGateActivity, id, start);
    } else if (what < 85) {  // definition changed
      int32_t mode = static_cast<int32_t>(rng() % 3);
      kesthost::SetGateDef(id, mode, 0);
      g.updateMode = mode;
      if (g.bound) {
        if (mode != 2) StopCounting(index);
        g.wantListen = mode == 2;
      }
      auto sub = static_cast<uint16_t>(1 + rng() % 2);
      Note(index, 'd', mode * 10 + sub);
      kesthost::PushMessage(kMsgGateDefChange, id, sub);
    } else if (what < 89) {  // gate removed
      StopCounting(index);
      g.bound = false, g.wantListen = false;
      Note(index, 'r');
      kesthost::PushMessage(kMsgGateDefChange, id, 3);
    } else if (what < 93) {  // a removed gate comes back, listening on demand
      if (g.bound) return;
      kesthost::SetGateDef(id, 1, 0);
      g.updateMode = 1;
      GateAddressParams p;
      std::string address = Address(index);
      ASSERT_EQ(Parse(id, 3, address, &p), 0u) << address;
      Note(index, 'b');
      g.bound = true, g.bindingWord = p.bindingWord, g.item = p.nvItem;
    } else if (what < 96) {  // a node gate parsed again, and the parser's message by hand
      uint32_t node = kNodeGateBase + rng() % kNodeGates;
      GateAddressParams p;
      std::string address = DevicePath(node - kNodeGateBase);
      ASSERT_EQ(Parse(node, 1, address, &p), 0u);
      PostWorkerMessage(kMsgPutNodeValue, 1, node);
    } else if (what < 98) {
      stationActive_ = true;
      activeStep_ = step_;
      kesthost::PushMessage(kMsgHbActive);
    } else {
      for (int i = 0; i < kGates; ++i) StopCounting(i);
      stationActive_ = false;
      passiveStep_ = step_;
      kesthost::PushMessage(kMsgHbPassive);
    }
  }

  // The network's side, on its own thread until `stop`.
  void NetworkLoop(const std::atomic<bool>* stop) {
    std::mt19937 rng(4711);
    std::vector<bool> attached(kDevices, true);
    std::vector<int> switchValue(kGates, 0);
    // What the library last heard of each switch: a detached device's changes never reach it.
    std::vector<int> heardValue(kGates, 0);
    while (!stop->load()) {
      AllowHold();
      std::this_thread::yield();  // leave the host's threads room on a small machine
      int what = static_cast<int>(rng() % 1000);
      if (what < 980) {
        int index = static_cast<int>(rng() % kGates);
        double value;
        if (IsSwitch(index)) {
          // A field reports only a value that differs from the one the library last heard,
          // which after a detachment can be older than the device's.
          int v = static_cast<int>(rng() % 101);
          while (v == switchValue[index] || v == heardValue[index]) v = (v + 1) % 101;
          switchValue[index] = v;
          if (attached[Device(index)]) heardValue[index] = v;
          value = v;
        } else {
          value = static_cast<int>(rng() % 601) - 300;  // whole degrees
        }
        bool counts = counting_[index].load();
        bool changed = lonsim::SetNVValue(Address(index), value);
        ASSERT_TRUE(changed) << Address(index);
        if (counts && counting_[index].load() && attached[Device(index)]) ++expected_[index];
        ++changes_;
      } else if (what < 990) {
        ASSERT_TRUE(lonsim::PressServicePin(DevicePath(static_cast<int>(rng() % kDevices))));
        ++pins_;
      } else {
        int d = kDevices - 1 - static_cast<int>(rng() % kDetachable);
        attached[d] = !attached[d];
        ASSERT_TRUE(lonsim::SetDeviceAttached(DevicePath(d), attached[d]));
        ++attachments_;
      }
    }
    for (int d = 0; d < kDevices; ++d) {
      if (!attached[d]) {
        ASSERT_TRUE(lonsim::SetDeviceAttached(DevicePath(d), true));
      }
    }
  }

  ScopedTempDir dir_;
  void* block_ = nullptr;
  std::vector<GateState> gates_;
  bool stationActive_ = false;
  std::unique_ptr<std::atomic<bool>[]> counting_;
  std::unique_ptr<std::atomic<uint64_t>[]> expected_;  // counted changes in the window
  std::vector<uint64_t> windowPuts_ = std::vector<uint64_t>(kGates);
  int lost_ = 0;
  struct Action {
    uint64_t step;
    char what;
    int arg;
  };
  static constexpr unsigned kHistory = 8;
  std::vector<std::array<Action, kHistory>> history_ =
      std::vector<std::array<Action, kHistory>>(kGates);
  std::vector<unsigned> historyNext_ = std::vector<unsigned>(kGates);
  uint64_t step_ = 0, windowStep_ = 0, activeStep_ = 0, passiveStep_ = 0;
  std::mutex holdLock_;
  std::condition_variable holdChanged_;
  bool holdWanted_ = false, held_ = false;
  bool networkRuns_ = false;
  uint64_t reads_ = 0, readFailures_ = 0, writes_ = 0, writeFailures_ = 0;
  std::atomic<uint64_t> changes_{0}, pins_{0}, attachments_{0};
};

TEST_F(Soak, TenThousandGatesUnderABusyNetworkLoseNoUpdate) {
  int seconds = kDefaultSeconds;
  if (const char* env = std::getenv("TELMAR_SOAK_SECONDS")) seconds = std::atoi(env);
  ColdStartParams cold{};
  cold.connectNetwork = 1;
  ASSERT_EQ(Call(kColdStart, &cold), 0u) << lonsim::LastError();
  BindAll();
  if (HasFatalFailure()) return;

  std::atomic<bool> stop{false};
  networkRuns_ = true;
  std::thread network([&] { NetworkLoop(&stop); });
  std::mt19937 rng(1234);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (step_ = 1; std::chrono::steady_clock::now() < end; ++step_) {
    HostStep(rng);
    if (HasFatalFailure()) break;
    if (step_ % 200 == 0) {
      Quiesce();
      Confirm();
      kesthost::ClearCalls();  // the host's call record would grow by every put
      kesthost::ClearLog();
    }
  }
  stop = true;
  HoldNetwork(false);
  network.join();
  networkRuns_ = false;
  ASSERT_FALSE(HasFatalFailure());

  // Station active, everything handled, then a last distinct value on every listened NV.
  stationActive_ = true;
  kesthost::PushMessage(kMsgHbActive);
  Quiesce();
  Confirm();
  lonsim::Drain();
  std::vector<float> last(kGates);
  int listened = 0;
  for (int i = 0; i < kGates; ++i) {
    if (!counting_[i]) continue;
    ++listened;
    // Half degrees and half steps were never set during the soak.
    last[i] = IsSwitch(i) ? static_cast<float>(i % 100) + 0.5f
                          : static_cast<float>(i % 1000) / 100 - 5.005f;
    double value = IsSwitch(i) ? last[i] : std::round(last[i] * 100) / 100;
    last[i] = static_cast<float>(value);
    ASSERT_TRUE(lonsim::SetNVValue(Address(i), value));
    ++expected_[i];
  }
  Confirm();  // drains, and checks the last window's counts

  int stale = 0;
  for (int i = 0; i < kGates; ++i) {
    if (!counting_[i]) continue;
    kesthost::Gate g;
    ASSERT_TRUE(kesthost::GetGate(i + 1, &g));
    if (std::fabs(FloatCell(g.raw) - last[i]) > 0.004f && ++stale <= 10) {
      ADD_FAILURE() << Address(i) << " holds " << FloatCell(g.raw) << ", not " << last[i];
    }
  }
  EXPECT_EQ(stale, 0);
  EXPECT_EQ(lost_, 0);
  EXPECT_GT(listened, 0);
  EXPECT_GT(changes_.load(), 0u);
  EXPECT_GT(pins_.load(), 0u);
  kesthost::Gate pin;
  ASSERT_TRUE(kesthost::GetGate(kServicePinGate, &pin));
  EXPECT_EQ(pin.text.rfind("NeuronId 0000000A", 0), 0u) << pin.text;
  std::printf(
      "soak: %d s, %llu reads (%llu failed), %llu writes (%llu failed), %llu changes, "
      "%llu pins, %llu attachments, %d listened gates at the end\n",
      seconds, (unsigned long long)reads_, (unsigned long long)readFailures_,
      (unsigned long long)writes_, (unsigned long long)writeFailures_,
      (unsigned long long)changes_.load(), (unsigned long long)pins_.load(),
      (unsigned long long)attachments_.load(), listened);

  EXPECT_EQ(Call(kEndVpi, nullptr), 0u);
}

}  // namespace

namespace {

// The turns of listening that the soak mixes, one at a time: a gate that listened while the
// station was passive, stopped, and listens again once the station is active.
TEST_F(Soak, AGateListeningAgainOnAnActiveStationHearsChanges) {
  ColdStartParams cold{};
  cold.connectNetwork = 1;
  ASSERT_EQ(Call(kColdStart, &cold), 0u) << lonsim::LastError();
  const int index = 41;  // an output of S.D00, listening on demand
  AddHostGate(index + 1, 3, Address(index), 1);
  GateAddressParams p;
  ASSERT_EQ(Parse(index + 1, 3, Address(index), &p), 0u);
  auto puts = [&] {
    kesthost::Gate g;
    kesthost::GetGate(index + 1, &g);
    return g.puts;
  };
  for (auto [code, sub] : {std::pair{kMsgGateActivity, 1},
                           {kMsgGateActivity, 0},
                           {kMsgHbActive, 0},
                           {kMsgGateActivity, 1}}) {
    kesthost::PushMessage(code, index + 1, static_cast<uint16_t>(sub));
  }
  Quiesce();
  uint64_t before = puts();
  ASSERT_TRUE(lonsim::SetNVValue(Address(index), 12.5));
  lonsim::Drain();
  EXPECT_EQ(puts(), before + 1) << "the change did not reach the listening gate";
  EXPECT_EQ(Call(kEndVpi, nullptr), 0u);
}

}  // namespace
