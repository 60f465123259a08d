// Cost of parsing and binding NV gates through VpiMain, and of the worker's handling of one
// gate-definition message per bound gate, against the bare hand-off round trip to the worker
// measured in the same run.
//
// Counters: handoff_ns (one WarmStart round trip), parse_ns_per_gate, msg121_ns_per_gate, and
// their ratios to the hand-off (goal at 100,000 gates: parse <= 2, message 121 < 1).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/support/table_row.h"
#include "core/driver_instance.h"
#include "core/vpi_main.h"
#include "host/kest_host.h"
#include "netsim/lonsim_control.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kInstanceNumber = 1;
constexpr int kHandOffRounds = 2000;

// Demo NVs and fields; the gates are spread over them, many gates per item.
const char* const kAddresses[] = {
    "Building.Floor1.Room101.nvoSpaceTemp", "Building.Floor1.Room101.nvoLamp.value",
    "Building.Floor1.Room102.nvoSpaceTemp", "Building.Floor2.Room201.nvoCO2",
    "Building.Plant.Boiler.nvoFlowTemp",    "Building.Plant.Pump.nvoSpeed",
    "Building.Plant.Meter.nvoPower",        "Building.Plant.Logger.nvoSamples.s7",
};
constexpr size_t kAddressCount = sizeof(kAddresses) / sizeof(kAddresses[0]);

double Nanoseconds(Clock::duration d) {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count());
}

class Driver {
 public:
  Driver() {
    kesthost::Reset();
    lonsim::Reset();
    dir_.WriteFile("TELMAR01.int", "[Lns]\nNetwork=Demo\n[Macros]\n");
    ColdStartParams cold{};
    cold.connectNetwork = 1;
    ok_ = Call(kColdStart, &cold) == 0;
  }
  ~Driver() {
    if (ok_) Call(kEndVpi, nullptr);
  }
  bool ok() const { return ok_; }

  uint32_t Call(uint32_t command, void* params) {
    VpiRequest request{};
    request.instance = reinterpret_cast<DriverInstance*>(block_);
    request.command = command;
    request.instanceNumber = kInstanceNumber;
    request.params = params;
    return VpiMain(&request);
  }

  // Nanoseconds of one bare command round trip to the worker.
  double HandOff() {
    Clock::time_point t0 = Clock::now();
    for (int i = 0; i < kHandOffRounds; ++i) Call(kWarmStart, nullptr);
    return Nanoseconds(Clock::now() - t0) / kHandOffRounds;
  }

 private:
  ScopedTempDir dir_;
  alignas(DriverInstance) unsigned char block_[sizeof(DriverInstance)];
  bool ok_ = false;
};

void BM_ParseAndBindNVGates(benchmark::State& state) {
  const uint32_t gates = static_cast<uint32_t>(state.range(0));
  double handoff = 0;
  double parse = 0;
  double message = 0;
  for (auto _ : state) {
    Driver driver;
    if (!driver.ok()) {
      state.SkipWithError("ColdStart failed");
      return;
    }
    for (uint32_t id = 1; id <= gates; ++id) {
      kesthost::Gate gate;
      gate.id = id;
      gate.type = 3;
      kesthost::AddGate(gate);
    }
    const double handoffBefore = driver.HandOff();

    GateAddressParams params{};
    params.gateType = 3;
    uint32_t failed = 0;
    Clock::time_point t0 = Clock::now();
    for (uint32_t id = 1; id <= gates; ++id) {
      params.address = kAddresses[id % kAddressCount];
      params.gateId = id;
      failed += driver.Call(kSingleAddressParser, &params);
    }
    Clock::duration parsing = Clock::now() - t0;
    state.SetIterationTime(std::chrono::duration<double>(parsing).count());
    if (failed) {
      state.SkipWithError("a parse failed");
      return;
    }
    parse += Nanoseconds(parsing) / gates;
    // The machine's load moves the round trip: take it on both sides of the parses.
    const double roundTrip = (handoffBefore + driver.HandOff()) / 2;
    handoff += roundTrip;
    const auto roundTripTime = std::chrono::nanoseconds(static_cast<int64_t>(roundTrip));

    // Host messages queued before a command are handled before it: the command returns once
    // the worker has drained them. Count its own round trip off.
    t0 = Clock::now();
    for (uint32_t id = 1; id <= gates; ++id) kesthost::PushMessage(121, id, 1);
    driver.Call(kWarmStart, nullptr);
    Clock::duration draining = Clock::now() - t0 - roundTripTime;
    if (kesthost::PendingMessages() != 0) {
      state.SkipWithError("messages left after the command");
      return;
    }
    message += Nanoseconds(draining) / gates;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["handoff_ns"] = handoff / n;
  state.counters["parse_ns_per_gate"] = parse / n;
  state.counters["msg121_ns_per_gate"] = message / n;
  state.counters["parse_per_handoff"] = parse / handoff;
  state.counters["msg121_per_handoff"] = message / handoff;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * gates);
}
BENCHMARK(BM_ParseAndBindNVGates)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The baseline on its own: one command handed to the worker and its result handed back.
void BM_HandOffRoundTrip(benchmark::State& state) {
  Driver driver;
  if (!driver.ok()) {
    state.SkipWithError("ColdStart failed");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(driver.Call(kWarmStart, nullptr));
}
BENCHMARK(BM_HandOffRoundTrip)->Unit(benchmark::kMicrosecond);

// Keeps the counters of every run of the parse benchmark, by gate count.
class CounterReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred || r.run_name.function_name != "BM_ParseAndBindNVGates") continue;
      std::string gates = r.run_name.args;
      for (const auto& [name, counter] : r.counters) counters[gates][name] = counter.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, std::map<std::string, double>> counters;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CounterReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // The goals hold for the largest table; smaller ones are shown for the trend.
  for (const char* gates : {"1000", "10000", "100000"}) {
    auto it = reporter.counters.find(gates);
    if (it == reporter.counters.end()) continue;
    const auto& c = it->second;
    const bool goal = std::string(gates) == "100000";
    const std::string handOff = "WarmStart hand-off " + Duration(c.at("handoff_ns"));
    PrintRow(Format("parse and bind an NV gate, %s gates", gates),
             Duration(c.at("parse_ns_per_gate")), handOff, c.at("parse_per_handoff"),
             goal ? "ratio <= 2" : "-",
             goal ? CheckGoal(c.at("parse_per_handoff"), "<=", 2) : GoalResult::kNone);
    PrintRow(Format("message 121 of a bound gate, %s gates", gates),
             Duration(c.at("msg121_ns_per_gate")), handOff, c.at("msg121_per_handoff"),
             goal ? "ratio < 1" : "-",
             goal ? CheckGoal(c.at("msg121_per_handoff"), "<", 1) : GoalResult::kNone);
  }
  benchmark::Shutdown();
  return 0;
}
