// Update delivery of the simulated network: changes per second that reach a listener doing
// nothing, with 1, 100 and 10,000 listened items (goal: 1,000,000 per second on one core, with
// the producer and the delivery thread kept on one processor; shown without a goal with the two
// threads free, and with each on a processor of its own).
// Baseline: the same changes made to items that nobody listens to; the ratio of the two rates
// shows what reporting and delivery cost.
#include <benchmark/benchmark.h>
#include <sched.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench/support/table_row.h"
#include "lon/lns.h"
#include "netsim/lonsim_control.h"

namespace {

class NullListener : public ILnsListener {
 public:
  void OnNetworkVariableUpdate(uint32_t, VARIANT*, int32_t) override {}
  void OnSystemServicePin(int32_t, int32_t, int32_t, const char*, const char*, const char*, int32_t,
                          int32_t, int32_t) override {}
  void OnAttachmentLca(int32_t, int32_t, int32_t, int32_t, const char*, int32_t) override {}
};

constexpr int kBatch = 10000;

// A network of `items` SNVT_temp_p outputs, 100 per device.
struct Network {
  explicit Network(int items) {
    file = (std::filesystem::temp_directory_path() / "lonsim-bench.net").string();
    std::ofstream out(file);
    out << "subsystem Bench\n";
    for (int i = 0; i < items; ++i) {
      int device = i / 100;
      if (i % 100 == 0) {
        char neuron[13];
        std::snprintf(neuron, sizeof neuron, "%012X", device + 1);
        out << "device Bench.D" << device << " handle " << device + 1 << " neuron " << neuron
            << "\n";
      }
      std::string path = "Bench.D" + std::to_string(device) + ".nvoTemp" + std::to_string(i);
      out << "nv " << path << " output SNVT_temp_p value 20\n";
      paths.push_back(path);
    }
    out.close();
    lonsim::Reset();
    lonsim::UseManualClock();
    lonsim::SetNetworkRecordFile(file + ".record");
    lns = CLns::GetLnsObject(0, 1, 1, '.', "", "", "");
    lns->Open(file.c_str(), "", "", "");
    lns->AddListener(&listener);
  }
  ~Network() {
    lns->Release();
    lonsim::Reset();
    std::filesystem::remove(file);
    std::filesystem::remove(file + ".record");
  }
  void Listen() {
    for (size_t i = 0; i < paths.size(); ++i) {
      CNVItem* item = lns->AddNV(paths[i].c_str(), nullptr);
      lns->SetNVFormatType(item, VT_R4);
      lns->AddListener(item, static_cast<uint32_t>(i + 1));
    }
  }
  std::string file;
  std::vector<std::string> paths;
  CLns* lns = nullptr;
  NullListener listener;
};

// Where the producer (the benchmark's thread) and the library's delivery thread run.
enum class Placement {
  kFree,      // wherever the scheduler puts them
  kOneCore,   // both on one processor
  kTwoCores,  // each on a processor of its own
};

// Pins the calling thread for the life of the object; threads it starts meanwhile (the delivery
// thread, started when the network opens) inherit the processor it is pinned to at that moment.
class Pinning {
 public:
  Pinning() { saved_ok_ = sched_getaffinity(0, sizeof saved_, &saved_) == 0; }
  ~Pinning() {
    if (saved_ok_) sched_setaffinity(0, sizeof saved_, &saved_);
  }
  // The n-th processor this thread may run on, -1 when there is none.
  int Allowed(int n) const {
    for (int cpu = 0; saved_ok_ && cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &saved_) && n-- == 0) return cpu;
    }
    return -1;
  }
  bool PinTo(int cpu) {
    if (cpu < 0) return false;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return sched_setaffinity(0, sizeof one, &one) == 0;
  }

 private:
  cpu_set_t saved_;
  bool saved_ok_ = false;
};

void Run(benchmark::State& state, bool listen, Placement placement = Placement::kFree) {
  Pinning pinning;
  // The delivery thread takes the processor of the thread that opens the network.
  int producer = pinning.Allowed(0);
  int delivery = placement == Placement::kTwoCores ? pinning.Allowed(1) : producer;
  if (placement != Placement::kFree && !pinning.PinTo(delivery)) {
    state.SkipWithError("cannot place the threads on the processors wanted");
    return;
  }
  Network net(static_cast<int>(state.range(0)));
  if (placement == Placement::kTwoCores) pinning.PinTo(producer);
  if (listen) net.Listen();
  size_t n = net.paths.size();
  size_t next = 0;
  double value = 20;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      lonsim::SetNVValue(net.paths[next], value);
      if (++next == n) next = 0;
      value = value > 30 ? 20 : value + 0.01;
    }
    lonsim::Drain();  // delivered, not just raised
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_ChangesUnlistened(benchmark::State& state) {
  Run(state, false);
}
void BM_ChangesDelivered(benchmark::State& state) {
  Run(state, true);
}
// The goal's figure: producer and delivery thread share one processor, so the rate shows what
// the simulator's own work costs.
void BM_ChangesDeliveredOneCore(benchmark::State& state) {
  Run(state, true, Placement::kOneCore);
}
// Each thread on a processor of its own: every change then travels from one processor's cache to
// the other's, at a price that depends much on the machine.
void BM_ChangesDeliveredTwoCores(benchmark::State& state) {
  Run(state, true, Placement::kTwoCores);
}

// Rates are per second of CPU time of the whole process (the producing thread and the
// library's delivery thread together), i.e. what one core achieves, whatever else the machine
// runs meanwhile. Medians of a few repetitions.
constexpr int kRepetitions = 3;
BENCHMARK(BM_ChangesUnlistened)
    ->Arg(1)
    ->Arg(100)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Repetitions(kRepetitions);
BENCHMARK(BM_ChangesDelivered)
    ->Arg(1)
    ->Arg(100)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Repetitions(kRepetitions);
BENCHMARK(BM_ChangesDeliveredOneCore)
    ->Arg(1)
    ->Arg(100)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Repetitions(kRepetitions);
BENCHMARK(BM_ChangesDeliveredTwoCores)
    ->Arg(1)
    ->Arg(100)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Repetitions(kRepetitions);

// Keeps the median rate of every run, to print the ratios and the goal after the table.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred || r.run_type != Run::RT_Aggregate || r.aggregate_name != "median") {
        continue;
      }
      auto it = r.counters.find("items_per_second");
      if (it != r.counters.end()) {
        rate[r.run_name.function_name + "/" + r.run_name.args] = it->second.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rate;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* items : {"1", "100", "10000"}) {
    auto u = reporter.rate.find(std::string("BM_ChangesUnlistened/") + items);
    if (u == reporter.rate.end() || u->second <= 0) continue;
    const std::string baseline = Format("unlistened changes %.2f M/CPU s", u->second / 1e6);
    const std::pair<const char*, const char*> runs[] = {
        {"BM_ChangesDelivered/", "threads free"},
        {"BM_ChangesDeliveredTwoCores/", "two processors"},
        {"BM_ChangesDeliveredOneCore/", "one processor"},
    };
    for (const auto& [run, where] : runs) {
      auto d = reporter.rate.find(run + std::string(items));
      if (d == reporter.rate.end()) continue;
      const bool goal = std::string(where) == "one processor";
      PrintRow(Format("simulator delivery, %s listened items, %s", items, where),
               Format("%.2f M changes/CPU s", d->second / 1e6), baseline, d->second / u->second,
               goal ? ">= 1 M changes/CPU s" : "-",
               goal ? CheckGoal(d->second, ">=", 1e6) : GoalResult::kNone);
    }
  }
  return 0;
}
