// The hand-off of a worker command that does nothing (WarmStart) through VpiMain, against a bare
// ping-pong between two threads over the same platform events; and the CPU that an idle started
// driver takes. Goals: the round trip costs at most 1.5 ping-pongs (the median ratio of rounds
// that alternate the two, so that both see the same load of a shared machine); an idle started
// driver takes under 1 % of one core.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/table_row.h"
#include "core/host_records.h"
#include "core/vpi_main.h"
#include "host/kest_host.h"
#include "platform/event.h"
#include "platform/process_shared.h"
#include "platform/thread.h"
#include "tests/support/temp_dir.h"

namespace {

// A started driver for the benchmarks that need one.
class Driver {
 public:
  Driver() {
    kesthost::Reset();
    dir_.WriteFile("TELMAR01.int", "[Macros]\n");
    ColdStartParams params{};
    started_ = Call(kColdStart, &params) == 0;
  }
  ~Driver() {
    Call(kEndVpi, nullptr);
    ProcessSharedRemove();
  }
  bool started() const { return started_; }
  uint32_t Call(uint32_t command, void* params) {
    VpiRequest request{};
    request.instance = reinterpret_cast<DriverInstance*>(block_);
    request.command = command;
    request.instanceNumber = 1;
    request.params = params;
    return VpiMain(&request);
  }

 private:
  ScopedTempDir dir_;
  alignas(std::max_align_t) unsigned char block_[4096];
  bool started_ = false;
};

void BM_WarmStartRoundTrip(benchmark::State& state) {
  Driver driver;
  if (!driver.started()) {
    state.SkipWithError("ColdStart failed");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(driver.Call(kWarmStart, nullptr));
  }
}
BENCHMARK(BM_WarmStartRoundTrip)->UseRealTime();

struct PingPong {
  PlatformEvent* ping = EventCreate();
  PlatformEvent* pong = EventCreate();
  std::atomic<bool> stop{false};
  std::atomic<bool> ended{false};
};

void Ponger(void* raw) {
  auto* p = static_cast<PingPong*>(raw);
  for (;;) {
    EventWait(p->ping, -1);
    if (p->stop) break;
    EventSet(p->pong);
  }
  p->ended = true;
}

void BM_EventPingPong(benchmark::State& state) {
  PingPong p;
  ThreadId id = 0;
  if (!ThreadCreateDetached(Ponger, &p, 256 * 1024, &id)) {
    state.SkipWithError("no thread");
    return;
  }
  for (auto _ : state) {
    EventSet(p.ping);
    EventWait(p.pong, -1);
  }
  p.stop = true;
  EventSet(p.ping);
  while (!p.ended) std::this_thread::yield();
  EventClose(p.ping);
  EventClose(p.pong);
}
BENCHMARK(BM_EventPingPong)->UseRealTime();

// Rounds of kRoundTrips WarmStarts and as many bare ping-pongs, one of each in turn (which goes
// first alternates), so that both see the same load of a shared machine: the ratio of each
// round's totals, and the median of the rounds of all iterations (a burst of load on a shared
// machine can skew every round of one iteration).
constexpr int kRounds = 21;
constexpr int kRoundTrips = 500;

void BM_InterleavedHandOffRatio(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  Driver driver;
  PingPong p;
  ThreadId id = 0;
  if (!driver.started() || !ThreadCreateDetached(Ponger, &p, 256 * 1024, &id)) {
    state.SkipWithError("no driver or no thread");
    return;
  }
  auto warmStart = [&] {
    auto t0 = Clock::now();
    driver.Call(kWarmStart, nullptr);
    return Clock::now() - t0;
  };
  auto pingPong = [&] {
    auto t0 = Clock::now();
    EventSet(p.ping);
    EventWait(p.pong, -1);
    return Clock::now() - t0;
  };
  std::vector<double> ratios;
  double warmSeconds = 0, bareSeconds = 0;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      Clock::duration warmTime{}, bareTime{};
      for (int i = 0; i < kRoundTrips; ++i) {
        if (i % 2 == 0) {
          warmTime += warmStart();
          bareTime += pingPong();
        } else {
          bareTime += pingPong();
          warmTime += warmStart();
        }
      }
      double warm = std::chrono::duration<double>(warmTime).count();
      double bare = std::chrono::duration<double>(bareTime).count();
      warmSeconds += warm;
      bareSeconds += bare;
      ratios.push_back(warm / bare);
    }
  }
  p.stop = true;
  EventSet(p.ping);
  while (!p.ended) std::this_thread::yield();
  EventClose(p.ping);
  EventClose(p.pong);
  std::sort(ratios.begin(), ratios.end());
  const double trips = static_cast<double>(ratios.size()) * kRoundTrips;
  state.counters["rounds"] = static_cast<double>(ratios.size());
  state.counters["median_ratio"] = ratios[ratios.size() / 2];
  state.counters["lowest_ratio"] = ratios.front();
  state.counters["highest_ratio"] = ratios.back();
  state.counters["warm_ns"] = warmSeconds * 1e9 / trips;
  state.counters["bare_ns"] = bareSeconds * 1e9 / trips;
}
BENCHMARK(BM_InterleavedHandOffRatio)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_IdleDriverCpu(benchmark::State& state) {
  Driver driver;
  if (!driver.started()) {
    state.SkipWithError("ColdStart failed");
    return;
  }
  double share = 0;
  for (auto _ : state) {
    double cpuBefore = ProcessCpuSeconds();
    auto wallBefore = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    share = (ProcessCpuSeconds() - cpuBefore) / wall;
  }
  state.counters["cpu_percent_of_core"] = share * 100;
}
BENCHMARK(BM_IdleDriverCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps every run's real time per iteration and its counters, to print the ratios afterwards.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      std::string name = run.benchmark_name();
      nanos[name.substr(0, name.find('/'))] = run.GetAdjustedRealTime();
      for (const auto& [key, counter] : run.counters) counters[key] = counter.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> nanos;
  std::map<std::string, double> counters;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto& c = reporter.counters;
  if (c.count("median_ratio")) {
    double ratio = c.at("median_ratio");
    PrintRow(Format("WarmStart round trip through VpiMain, median of %.0f interleaved rounds",
                    c.at("rounds")),
             Duration(c.at("warm_ns")), "event ping-pong " + Duration(c.at("bare_ns")), ratio,
             "ratio <= 1.5", CheckGoal(ratio, "<=", 1.5));
  }
  if (c.count("cpu_percent_of_core")) {
    double idle = c.at("cpu_percent_of_core");
    PrintRow("idle started driver, CPU of one core", Format("%.3f %%", idle), "-", NAN, "< 1 %",
             CheckGoal(idle, "<", 1.0));
  }
  benchmark::Shutdown();
  return 0;
}
