// The host's duties with the real driver loaded into this process: which gates it polls, the
// binding words it hands back, the writes it routes to the driver, the values the driver puts,
// and the scripted browse dialog.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/host_api.h"
#include "host/kest_host.h"
#include "host/sim/host_sim.h"
#include "host/sim/run.h"
#include "host/sim/script.h"
#include "host/sim/values.h"
#include "netsim/lonsim_control.h"
#include "tests/support/temp_dir.h"

namespace hostsim {
namespace {

class HostDuties : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.WriteFile("TELMAR01.int",
                   "[Lns]\nNetwork=Demo\n\n[Macros]\n#R101 = Building.Floor1.Room101\n");
    kesthost::Reset();
    lonsim::Reset();
    lonsim::UseManualClock();
    host_.manualClock = true;
    ConnectHostApi(host_);
    std::string error;
    ASSERT_TRUE(LoadDriver(host_, TELMAR_DRIVER_PATH, &error)) << error;
    ASSERT_EQ(ColdStartDriver(host_, true), 0u);
    // The station's state outlives processes; start from a passive one.
    kesthost::PushMessage(kMsgHbPassive);
    Settle(host_);
  }

  void TearDown() override {
    UnloadDriver(host_);
    DisconnectHostApi();
    lonsim::Reset();
  }

  void Define(uint32_t id, uint16_t type, int32_t mode, int32_t rate, const char* address,
              bool parse = true) {
    GateSpec spec;
    spec.id = id;
    spec.type = type;
    spec.updateMode = mode;
    spec.pollingRate = rate;
    spec.address = address;
    DefineGate(host_, spec);
    if (!parse) return;
    uint32_t rc = 99;
    ASSERT_TRUE(ParseGate(host_, id, &rc));
  }

  HostGate Gate(uint32_t id) {
    HostGate g;
    EXPECT_TRUE(HostGateCopy(host_, id, &g)) << id;
    return g;
  }

  ScopedTempDir dir_;
  Host host_;
};

TEST_F(HostDuties, ReadsOnlyTheGatesThatDoNotListenAtTheirPollingRate) {
  Define(1, 3, 0, 1000, "#R101.nviSetpoint");
  Define(2, 3, 2, 1000, "Building.Floor1.Room101.nvoSpaceTemp");  // always listens
  Define(3, 3, 1, 1000, "Building.Floor1.Room102.nvoSpaceTemp");  // listens after activity
  Define(4, 3, 0, 0, "Building.Floor1.Room102.nviSetpoint");      // no polling rate
  Define(5, 7, 0, 1000, "!ServicePin");                           // only written
  Define(6, 3, 0, 1000, "Building.Floor1.Room101.nvoNothing");    // not bound
  WaitForFirstValues(host_, 3000);

  AdvanceClock(host_, 4500);  // due at 0, 1000, ... 4000
  EXPECT_EQ(Gate(1).reads, 5u);
  EXPECT_EQ(Gate(3).reads, 5u);
  for (uint32_t id : {2u, 4u, 5u, 6u}) {
    EXPECT_EQ(Gate(id).reads + Gate(id).readErrors, 0u) << "gate " << id << " was read";
  }

  {
    std::lock_guard<std::mutex> guard(host_.lock);
    host_.gates[3].activityOn = true;
  }
  kesthost::PushMessage(kMsgGateActivity, 3, 1);
  Settle(host_);
  AdvanceClock(host_, 2000);
  EXPECT_EQ(Gate(1).reads, 7u);
  EXPECT_EQ(Gate(3).reads, 5u) << "a gate that listens is no longer polled";
}

// A long session keeps only the latest log lines and calls, and still ends the driver cleanly
// although the worker's start line is long gone.
TEST_F(HostDuties, KeepsABoundedHistory) {
  kesthost::SetHistoryLimit(40);
  Define(1, 3, 0, 100, "Building.Floor1.Room101.nvoNothing");  // every parse and read fails
  Define(2, 3, 0, 100, "#R101.nviSetpoint");
  for (int i = 0; i < 60; ++i) {
    uint32_t rc;
    ParseGate(host_, 1, &rc);
    ParseGate(host_, 2, &rc);  // asks the host for the gate's definition
  }
  AdvanceClock(host_, 4950);
  EXPECT_EQ(Gate(2).reads, 50u);
  EXPECT_EQ(kesthost::Log().size(), 40u);
  EXPECT_EQ(kesthost::Calls().size(), 40u);
  EXPECT_GT(kesthost::LogTotal(), 60u);
  EXPECT_FALSE(kesthost::LogContains("VpiThread() started"));
  EXPECT_TRUE(kesthost::LogContainsSince("not found in Lon tree", kesthost::LogTotal() - 40));
  EXPECT_FALSE(kesthost::LogContainsSince("not found in Lon tree", kesthost::LogTotal()));

  uint64_t before = kesthost::LogTotal();
  EndDriver(host_);
  EXPECT_TRUE(kesthost::LogContainsSince("VpiThread() stopping", before));
  kesthost::SetHistoryLimit(0);
}

TEST_F(HostDuties, HandsBackTheBindingWordsOfTheParse) {
  Define(1, 6, 0, 0, "#R101.nvoLamp.state/F:d");
  HostGate parsed = Gate(1);
  EXPECT_EQ(parsed.parseResult, 0u);
  EXPECT_EQ(parsed.bindingWord, 0x0102u);
  EXPECT_NE(parsed.nvItem, nullptr);
  EXPECT_EQ(parsed.nodeValue, 1);

  ASSERT_TRUE(lonsim::SetNVRaw("Building.Floor1.Room101.nvoLamp", {0xC8, 0x01}));
  uint32_t rc = 99;
  ASSERT_TRUE(ReadGate(host_, 1, &rc));
  EXPECT_EQ(rc, 0u);
  EXPECT_EQ(FormatGateValue(6, Gate(1).cell, ""), "1");

  // The words come from the parse, not from the address: without them nothing is read.
  {
    std::lock_guard<std::mutex> guard(host_.lock);
    host_.gates[1].bindingWord = 0;
  }
  ASSERT_TRUE(ReadGate(host_, 1, &rc));
  EXPECT_EQ(rc, 1u);
  EXPECT_EQ(Gate(1).readErrors, 1u);
  EXPECT_TRUE(kesthost::LogContains("SingleRead fail, invalid memType (0)"));
}

TEST_F(HostDuties, PassesAWriteOfTheBrowseGateOnToTheDriver) {
  Define(12, 1, 0, 0, "!Browse");
  host_.lastResult = 77;  // the script's last command
  // What the browser's Refresh does through the host.
  ASSERT_EQ(KestPutGateVal(kesthost::CurrentClient(), 12, 1, 1.0, 0, 0), 0);
  RouteWrites(host_);
  EXPECT_TRUE(kesthost::LogContains("SingleWrite reBrowse"));
  EXPECT_EQ(Gate(12).writes, 1u);
  EXPECT_EQ(FormatGateValue(1, Gate(12).cell, ""), "1");
  EXPECT_EQ(host_.lastResult, 77u) << "the host's own write is not the script's result";

  // Values the driver puts are kept, never written back.
  ASSERT_EQ(KestPutGateRawValue(kesthost::CurrentClient(), 12, 2u << 16, 0, 2, 0, 0), 0);
  RouteWrites(host_);
  EXPECT_EQ(Gate(12).writes, 1u);
  EXPECT_EQ(FormatGateValue(1, Gate(12).cell, ""), "2");
}

TEST_F(HostDuties, KeepsPutValuesAndTheTimeTheyChanged) {
  Define(7, 4, 0, 0, "#R101.nvoCount/F:i", false);
  Define(8, 7, 0, 0, "#R101.nvoDisplay", false);
  uint8_t client = kesthost::CurrentClient();
  KestPutGateRawValue(client, 7, 41, 0, 2, 0, 0);
  int64_t first = Gate(7).changedAt;
  ASSERT_GE(first, 0);
  lonsim::AdvanceClock(1000);
  KestPutGateRawValue(client, 7, 41, 0, 2, 0, 0);
  EXPECT_EQ(Gate(7).changedAt, first) << "the same value again is no change";
  EXPECT_EQ(Gate(7).puts, 2u);
  lonsim::AdvanceClock(1000);
  KestPutGateRawValue(client, 7, 42, 0, 2, 0, 0);
  EXPECT_EQ(Gate(7).changedAt, first + 2000);
  EXPECT_EQ(FormatGateValue(4, Gate(7).cell, ""), "42");

  KestPutGateStr(client, 8, 2, "Hello host", 0, 0);
  EXPECT_EQ(Gate(8).text, "Hello host");
  EXPECT_EQ(Gate(8).cell, 0u);
}

// A listened update that the gate's type cannot hold shows the gate as a read error with the
// driver's reason, until a value that fits comes.
TEST_F(HostDuties, ShowsAListenedUpdateThatCannotBePutAsAReadError) {
  const char* co2 = "Building.Floor2.Room201.nvoCO2";
  kesthost::PushMessage(kMsgHbActive);
  Settle(host_);
  // A 16-bit integer gate on an NV of 0 to 65535 ppm, handed over as a 32-bit integer.
  Define(9, 0, 2, 0, "Building.Floor2.Room201.nvoCO2/F:i");
  WaitForFirstValues(host_, 3000);
  ASSERT_EQ(GateStatus(Gate(9)), "ok");

  ASSERT_TRUE(lonsim::SetNVValue(co2, 48211));
  lonsim::Drain();
  HostGate g = Gate(9);
  EXPECT_EQ(GateStatus(g), "read error");
  EXPECT_NE(g.lastError.find("the value 48211 does not fit a 16-bit integer gate"),
            std::string::npos)
      << g.lastError;
  EXPECT_EQ(FormatGateValue(0, g.cell, ""), "540") << "the gate keeps its last value";

  ASSERT_TRUE(lonsim::SetNVValue(co2, 600));
  lonsim::Drain();
  EXPECT_EQ(GateStatus(Gate(9)), "ok");
  EXPECT_EQ(FormatGateValue(0, Gate(9).cell, ""), "600");
}

TEST_F(HostDuties, ScriptedBrowseReportsTheStepItCannotDo) {
  struct Case {
    std::vector<BrowseStep> steps;
    const char* error;
  } cases[] = {
      {{{"select", "Building.Nowhere"}, {"ok", ""}}, "the tree has no item 'Building.Nowhere'"},
      {{{"select", "Building.Floor1.Room101.nvoSpaceTemp"}, {"binding", "Sideways"}},
       "the binding list has no entry 'Sideways' (Bounded, Implicit, Explicit, App. Host)"},
      {{{"select", "Building.Floor1.Room101"}, {"type", "Real"}},
       "the type list is disabled or has no entry Real"},
      {{{"cancel", ""}, {"ok", ""}}, "browse step 'ok' comes after the dialog ended"},
  };
  for (const Case& c : cases) {
    BrowseOutcome out = Browse(host_, c.steps, true, TELMAR_DIALOG_HOOK_PATH);
    EXPECT_EQ(out.error, c.error);
    EXPECT_EQ(out.result, 53u) << c.error;
    EXPECT_EQ(out.address, "") << c.error;
  }

  // A path whose prefix is a macro's value comes back with that macro.
  BrowseOutcome out = Browse(
      host_, {{"select", "Building.Floor1.Room101.nvoSpaceTemp"}, {"type", "Real"}, {"ok", ""}},
      true, TELMAR_DIALOG_HOOK_PATH);
  EXPECT_EQ(out.error, "");
  EXPECT_EQ(out.result, 0u);
  EXPECT_EQ(out.address, "#R101.nvoSpaceTemp/F:r");
  EXPECT_EQ(host_.lastBrowse, out.address);
  EXPECT_EQ(out.shown, "address '#R101.nvoSpaceTemp/F:r', macro 'Building.Floor1.Room101'");
}

// watch: the gates' values at the start, then a line for every change of a watched gate (two
// changes between two looks give two lines) and of its status, until a line of input comes.
TEST_F(HostDuties, WatchShowsEveryChangeOfTheWatchedGatesUntilALineComes) {
  kesthost::PushMessage(kMsgHbActive);  // listened NVs are monitored on an active station
  Settle(host_);
  Define(1, 3, 2, 0, "Building.Floor1.Room101.nvoSpaceTemp");
  Define(2, 3, 2, 0, "Building.Floor1.Room102.nvoSpaceTemp");
  Define(3, 1, 0, 0, "Building.Floor1.Room101");
  WaitForFirstValues(host_, 3000);
  Console console;
  console.pane = true;
  host_.console = &console;
  RunOptions run;
  int looks = 0;
  run.readInput = [&](std::string* line, int) {
    switch (looks++) {
      case 0:
        EXPECT_TRUE(lonsim::SetNVValue("Building.Floor1.Room101.nvoSpaceTemp", 22));
        lonsim::Drain();
        EXPECT_TRUE(lonsim::SetNVValue("Building.Floor1.Room101.nvoSpaceTemp", 22.5));
        EXPECT_TRUE(lonsim::SetNVValue("Building.Floor1.Room102.nvoSpaceTemp", 30));
        return InputStatus::kTimeout;
      case 1:
        EXPECT_TRUE(lonsim::SetDeviceAttached("Building.Floor1.Room101", false));
        Settle(host_);
        return InputStatus::kTimeout;
      default:
        *line = "";
        return InputStatus::kLine;
    }
  };
  ScriptLine line;
  std::string error;
  ASSERT_TRUE(ParseCommandLine("watch 1 3", &line, &error)) << error;
  RunStats stats;
  ASSERT_EQ(RunLine(host_, run, line, &stats, &error), LineOutcome::kOk) << error;
  std::string shown;
  for (const std::string& l : console.recent) shown += l + "\n";
  host_.console = nullptr;
  auto has = [&](const std::string& part) { return shown.find(part) != std::string::npos; };
  EXPECT_TRUE(has("watching 2 gates (Enter ends):\n")) << shown;
  EXPECT_TRUE(has("  gate 1 'Building.Floor1.Room101.nvoSpaceTemp'  21.5  ok\n")) << shown;
  EXPECT_TRUE(has("  gate 1  21.5 -> 22\n")) << shown;
  EXPECT_TRUE(has("  gate 1  22 -> 22.5\n")) << shown;
  EXPECT_TRUE(has("  gate 3  1 -> 0\n")) << shown;
  EXPECT_TRUE(has("  gate 3  status ok -> detached\n")) << shown;
  EXPECT_FALSE(has("gate 2")) << "not watched: " << shown;
  EXPECT_TRUE(has("watch ended\n")) << shown;
  EXPECT_EQ(looks, 3);
  // Once it ended, changes are no longer kept for a watch.
  EXPECT_TRUE(lonsim::SetNVValue("Building.Floor1.Room101.nvoSpaceTemp", 23));
  Settle(host_);
  std::lock_guard<std::mutex> guard(host_.lock);
  EXPECT_TRUE(host_.watchChanges.empty());
}

// export macros reads the option file as the driver does: only "#NAME = VALUE" lines after
// [Macros], the first of a name counting, in 8-bit text or UTF-16 after its byte-order mark.
TEST(HostExport, MacrosAreReadAsTheDriverReadsThem) {
  Host host;
  GateSpec spec;
  spec.id = 7;
  spec.address = "#R1.nvoSpaceTemp";
  host.gates[7].spec = spec;
  spec.id = 8;
  spec.address = "#R10.nvoSpaceTemp";
  host.gates[8].spec = spec;
  const std::string text =
      "[Lns]\n#NOT = a macro\n[macros]\r\n#R1 = A.Old\nR2 = no hash\n #R1=A.Room1 \n"
      "#R10 = A,\"Room10\"\n";
  const std::vector<std::string> want = {"name,value,gates", "#R1,A.Old,7",
                                         "#R10,\"A,\"\"Room10\"\"\",8"};
  EXPECT_EQ(MacrosCsv(host, text), want);
  std::string wide = "\xFF\xFE";
  for (char c : text) wide += std::string(1, c) + '\0';
  EXPECT_EQ(MacrosCsv(host, wide), want);
  wide = "\xFE\xFF";
  for (char c : text) wide += std::string(1, '\0') + c;
  EXPECT_EQ(MacrosCsv(host, wide), want);
}

}  // namespace
}  // namespace hostsim
