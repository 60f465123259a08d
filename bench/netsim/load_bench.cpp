// Loading a network file of 1,000 devices whose NVs come from standard functional profiles,
// against the same devices with every NV written out on an `nv` line (the baseline). Each
// device has a space comfort controller with two optional members and a lamp actuator: seven
// NVs. Goal: profiles take at most 2 x the time of the explicit lines.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/support/median_time.h"
#include "bench/support/table_row.h"
#include "lon/lns.h"
#include "netsim/lonsim_control.h"

namespace {

constexpr int kDevices = 1000;

std::string Device(int d) {
  char neuron[13];
  std::snprintf(neuron, sizeof neuron, "%012X", d + 1);
  return "device Plant.D" + std::to_string(d) + " handle " + std::to_string(d + 1) + " neuron " +
         neuron + "\n";
}

std::string Text(bool profiles) {
  std::string text = "subsystem Plant\n";
  for (int d = 0; d < kDevices; ++d) {
    std::string p = "Plant.D" + std::to_string(d);
    text += Device(d);
    if (profiles) {
      text += "block " + p +
              ".Comfort profile SFPTspaceComfortController with nviSetpoint, nvoHeatPrimary\n";
      text += "block " + p + ".Lamp profile SFPTlampActuator\n";
      continue;
    }
    text += "block " + p + ".Comfort\n";
    text += "nv " + p + ".nviSpaceTemp input SNVT_temp_p\n";
    text += "nv " + p + ".nviSetpoint input SNVT_temp_p\n";
    text += "nv " + p + ".nvoSpaceTemp output SNVT_temp_p\n";
    text += "nv " + p + ".nvoUnitStatus output SNVT_hvac_status\n";
    text += "nv " + p + ".nvoHeatPrimary output SNVT_lev_percent\n";
    text += "block " + p + ".Lamp\n";
    text += "nv " + p + ".nviLampValue input SNVT_switch\n";
    text += "nv " + p + ".nvoLampValueFb output SNVT_switch\n";
  }
  return text;
}

void Load(benchmark::State& state, bool profiles) {
  auto dir = std::filesystem::temp_directory_path() / "lonsim-load-bench";
  std::filesystem::create_directories(dir);
  std::string file = (dir / (profiles ? "profiles.net" : "explicit.net")).string();
  std::ofstream(file) << Text(profiles);
  lonsim::SetNetworkRecordFile((dir / "record").string());
  for (auto _ : state) {
    CLns* lns = CLns::GetLnsObject(0, 1, 1, '.', "", "", "");
    if (lns->Open(file.c_str(), "", "", "") != 0) {
      state.SkipWithError(lonsim::LastError().c_str());
      lns->Release();
      break;
    }
    lns->Release();
    lonsim::Reset();  // the next Open reads the file again
  }
  state.SetItemsProcessed(state.iterations() * kDevices);
  std::filesystem::remove_all(dir);
}

void BM_LoadExplicitNvLines(benchmark::State& state) {
  Load(state, false);
}
void BM_LoadProfiles(benchmark::State& state) {
  Load(state, true);
}

// Times are CPU time of the whole process (the library's threads included), so that a busy
// machine does not tilt the ratio; medians of a few repetitions.
constexpr int kRepetitions = 5;
BENCHMARK(BM_LoadExplicitNvLines)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Repetitions(kRepetitions);
BENCHMARK(BM_LoadProfiles)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Repetitions(kRepetitions);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  MedianTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto p = reporter.time.find("BM_LoadProfiles");
  auto e = reporter.time.find("BM_LoadExplicitNvLines");
  if (p != reporter.time.end() && e != reporter.time.end() && e->second > 0) {
    double ratio = p->second / e->second;
    PrintRow("load a network file of 1000 devices built from profiles",
             Format("%.2f ms", p->second),
             Format("the same with explicit NV lines %.2f ms", e->second), ratio, "ratio <= 2",
             CheckGoal(ratio, "<=", 2));
  }
  return 0;
}
