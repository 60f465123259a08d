// Loading a network file of 1,000 devices built from one device interface file of 173 NVs (the
// file is read once), against the same devices with the same blocks and NVs written out on
// `block` and `nv` lines (the baseline). Goal: interface files take at most 2 x the time of the
// explicit lines. Also reported: the time per device built from the interface file.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/median_time.h"
#include "bench/support/table_row.h"
#include "lon/lns.h"
#include "netsim/lonsim_control.h"

namespace {

constexpr int kDevices = 1000;
const std::string kXif = std::string(TELMAR_XIF_DEVICES) + "/FLON-01.xif";

std::string Device(int d) {
  char neuron[13];
  std::snprintf(neuron, sizeof neuron, "%012X", d + 1);
  return "device Plant.D" + std::to_string(d) + " handle " + std::to_string(d + 1) + " neuron " +
         neuron;
}

std::filesystem::path Dir() {
  return std::filesystem::temp_directory_path() / "lonsim-xif-bench";
}

// The blocks and NVs of one device built from the interface file, as block and nv lines of a
// device named `p` (read once through the library itself).
std::string ExplicitLines(const std::string& p) {
  static std::vector<lonsim::ObjectInfo> objects;
  if (objects.empty()) {
    std::string one = (Dir() / "one.net").string();
    std::ofstream(one) << "subsystem Plant\n" << Device(0) << " xif \"" << kXif << "\"\n";
    CLns* lns = CLns::GetLnsObject(0, 1, 1, '.', "", "", "");
    if (lns->Open(one.c_str(), "", "", "") == 0) lonsim::ListObjects("Plant.D0", &objects);
    lns->Release();
    lonsim::Reset();
  }
  std::string text;
  for (const lonsim::ObjectInfo& o : objects) {
    if (o.kind != "block" && o.kind != "nv") continue;
    std::string name = o.path.substr(o.path.find('.', 6));  // ".nvoX" after "Plant.D0"
    if (o.kind == "block") text += "block " + p + name + "\n";
    if (o.kind == "nv") {
      text += "nv " + p + name + (o.direction == "out" ? " output " : " input ") + o.type + "\n";
    }
  }
  return text;
}

std::string Text(bool xif) {
  std::string text = "subsystem Plant\n";
  for (int d = 0; d < kDevices; ++d) {
    text += Device(d);
    text += xif ? " xif \"" + kXif + "\"\n" : "\n" + ExplicitLines("Plant.D" + std::to_string(d));
  }
  return text;
}

void Load(benchmark::State& state, bool xif) {
  if (!std::filesystem::exists(kXif)) {
    state.SkipWithError(("no interface file " + kXif).c_str());
    return;
  }
  std::filesystem::create_directories(Dir());
  lonsim::SetNetworkRecordFile((Dir() / "record").string());
  std::string file = (Dir() / (xif ? "xif.net" : "explicit.net")).string();
  std::ofstream(file) << Text(xif);
  for (auto _ : state) {
    CLns* lns = CLns::GetLnsObject(0, 1, 1, '.', "", "", "");
    if (lns->Open(file.c_str(), "", "", "") != 0) {
      state.SkipWithError(lonsim::LastError().c_str());
      lns->Release();
      break;
    }
    lns->Release();
    lonsim::Reset();  // the next Open reads the file again
    lonsim::SetNetworkRecordFile((Dir() / "record").string());
  }
  state.SetItemsProcessed(state.iterations() * kDevices);
}

void BM_LoadExplicitLines(benchmark::State& state) {
  Load(state, false);
}
void BM_LoadInterfaceFiles(benchmark::State& state) {
  Load(state, true);
}

// CPU time of the whole process, medians of a few repetitions, as in the profile load.
constexpr int kRepetitions = 5;
BENCHMARK(BM_LoadExplicitLines)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Repetitions(kRepetitions);
BENCHMARK(BM_LoadInterfaceFiles)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Repetitions(kRepetitions);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  MedianTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::filesystem::remove_all(Dir());
  auto x = reporter.time.find("BM_LoadInterfaceFiles");
  auto e = reporter.time.find("BM_LoadExplicitLines");
  if (x == reporter.time.end() || e == reporter.time.end() || e->second <= 0) {
    PrintRow("load 1000 devices from a 173-NV interface file", "-",
             "the shared interface files are missing", NAN, "ratio <= 2", GoalResult::kMissed);
    return 0;
  }
  double ratio = x->second / e->second;
  PrintRow("load 1000 devices from a 173-NV interface file", Format("%.2f ms", x->second),
           Format("the same as block and nv lines %.2f ms", e->second), ratio, "ratio <= 2",
           CheckGoal(ratio, "<=", 2));
  PrintRow("time per device from the interface file", Duration(x->second * 1e6 / kDevices),
           Format("per device of nv lines %s", Duration(e->second * 1e6 / kDevices).c_str()), ratio,
           "-", GoalResult::kNone);
  return 0;
}
