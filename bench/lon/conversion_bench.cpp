// The bare VARIANT -> host cell conversion, the baseline of the listener path, with the steps a
// network update adds to it measured in the same run:
//   BareConversionR4   VT_R4 into a type-3 cell (the common analogue value)
//   BareConversionI2   VT_I2 into a type-0 cell
//   CoercedConversion  VT_I2 into a type-3 cell: the value changes type first
//   PutValueFromVariant the whole last step of an update: gate definition, conversion, put into
//                       the host stand-in
// Ratios to BareConversionR4 are printed after the table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "bench/support/table_row.h"
#include "core/driver_instance.h"
#include "core/host_api.h"
#include "host/kest_host.h"
#include "lon/lns_connection.h"
#include "lon/value_conversion.h"

namespace {

constexpr uint32_t kFloatGate = 7;

void BM_BareConversionR4(benchmark::State& state) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R4;
  uint8_t cell[4] = {};
  float f = 0;
  for (auto _ : state) {
    v.fltVal = f;
    f += 0.5f;
    benchmark::DoNotOptimize(VariantToKestValue(&v, kGateFloat, cell, nullptr));
    benchmark::DoNotOptimize(cell);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_BareConversionI2(benchmark::State& state) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I2;
  uint8_t cell[4] = {};
  int16_t i = 0;
  for (auto _ : state) {
    v.iVal = i++;
    benchmark::DoNotOptimize(VariantToKestValue(&v, kGateInt16, cell, nullptr));
    benchmark::DoNotOptimize(cell);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_CoercedConversion(benchmark::State& state) {
  VARIANT v;
  VariantInit(&v);
  uint8_t cell[4] = {};
  int16_t i = 0;
  size_t n = 0;
  for (auto _ : state) {
    v.vt = VT_I2;
    v.iVal = i++;
    benchmark::DoNotOptimize(VariantToKestValue(&v, kGateFloat, cell, nullptr));
    benchmark::DoNotOptimize(cell);
    // Each coercion logs its trace line; keep the stand-in's record bounded.
    if ((++n & 4095) == 0) kesthost::ClearLog();
  }
  kesthost::ClearLog();
  state.SetItemsProcessed(state.iterations());
}

void BM_PutValueFromVariant(benchmark::State& state) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R4;
  float f = 0;
  size_t n = 0;
  for (auto _ : state) {
    v.fltVal = f;
    f += 0.5f;
    if (KestGatePutValueFromVariant(kFloatGate, &v) != 0) state.SkipWithError("put failed");
    if ((++n & 4095) == 0) kesthost::ClearCalls();
  }
  kesthost::ClearCalls();
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_BareConversionR4);
BENCHMARK(BM_BareConversionI2);
BENCHMARK(BM_CoercedConversion);
BENCHMARK(BM_PutValueFromVariant);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred || r.iterations == 0) continue;
      nsPerItem[r.run_name.function_name] =
          r.real_accumulated_time * 1e9 / static_cast<double>(r.iterations);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> nsPerItem;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  // A registered instance and one float gate, so that the put path runs as on an update.
  kesthost::Reset();
  alignas(DriverInstance) static unsigned char block[sizeof(DriverInstance)];
  VpiRequest request{reinterpret_cast<DriverInstance*>(block), kColdStart, 1, 0, nullptr};
  InstanceSetup(&request);
  uint8_t client = 0;
  KestMkClient("TelMAR", 1, 0, &client);
  request.instance->clientId = client;
  kesthost::Gate gate;
  gate.id = kFloatGate;
  gate.type = kGateFloat;
  gate.address = "Room.nvoSpaceTemp";
  kesthost::AddGate(gate);

  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  request.instance->clientId = 0;
  InstanceTeardown(request.instance);

  auto base = reporter.nsPerItem.find("BM_BareConversionR4");
  if (base == reporter.nsPerItem.end() || base->second <= 0) return 0;
  const char* const figures[][2] = {
      {"BM_BareConversionI2", "VT_I2 to a float gate, bare"},
      {"BM_CoercedConversion", "VT_I2 to a float gate, coerced with its log line"},
      {"BM_PutValueFromVariant", "KestGatePutValueFromVariant into the host stand-in"},
  };
  for (const auto& [name, figure] : figures) {
    auto it = reporter.nsPerItem.find(name);
    if (it == reporter.nsPerItem.end()) continue;
    PrintRow(figure, Duration(it->second), "bare VT_R4 conversion " + Duration(base->second),
             it->second / base->second, "-", GoalResult::kNone);
  }
  return 0;
}
