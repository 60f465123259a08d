// The hand-off of a worker command that does nothing (WarmStart) through VpiMain, against a bare
// ping-pong between two threads over the same platform events; and the CPU that an idle started
// driver takes. Prints the ratio of the two round trips (goal: at most 1.5) and the idle CPU
// share of one core (goal: under 1 %).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

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
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto warm = reporter.nanos.find("BM_WarmStartRoundTrip");
  auto bare = reporter.nanos.find("BM_EventPingPong");
  if (warm != reporter.nanos.end() && bare != reporter.nanos.end() && bare->second > 0) {
    std::printf("WarmStart round trip / event ping-pong: %.2f (goal <= 1.5)\n",
                warm->second / bare->second);
  }
  auto idle = reporter.counters.find("cpu_percent_of_core");
  if (idle != reporter.counters.end()) {
    std::printf("Idle started driver: %.3f %% of one core (goal < 1 %%)\n", idle->second);
  }
  benchmark::Shutdown();
  return 0;
}
