// Host messages, the parsers' thread messages and the station's monitoring switch.
#include "lon/monitoring.h"

#include <string>
#include <vector>

#include "core/test_point.h"
#include "core/worker.h"
#include "lon/lns_connection.h"
#include "platform/process_shared.h"
#include "tests/io/io_fixture.h"

namespace iotest {
namespace {

using Args = std::vector<int64_t>;

class MonitoringTest : public IoFixture {
 protected:
  void SetUp() override {
    IoFixture::SetUp();
    ProcessSharedData()->stationActive = 0;
    temp_ = Item(kSpaceTemp, VT_R4);
  }
  void TearDown() override {
    IoFixture::TearDown();
    ProcessSharedData()->stationActive = 0;
    ProcessSharedRemove();
  }
  static void Host(uint16_t code, uint32_t gateId = 0, uint16_t subCode = 0) {
    HostMessage m{};
    m.msgCode = code, m.gateId = gateId, m.subCode = subCode;
    EXPECT_EQ(ProcessKestMsg(&m), 0);
  }
  static void Thread(uint32_t id, uintptr_t wParam, intptr_t lParam) {
    ThreadMessage m{id, wParam, lParam};
    EXPECT_EQ(ProcessThreadMsg(&m), 0);
  }
  // A message about a binding carries the record's generation.
  static void Thread(uint32_t id, uintptr_t wParam, const GateBinding* binding) {
    Thread(id, wParam, static_cast<intptr_t>(binding->generation));
  }
  bool Listens(uint32_t gateId, CNVItem* item = nullptr, int field = -1) {
    item = item ? item : temp_;
    return (field < 0 ? inst_->lns->IsListener(item, gateId)
                      : inst_->lns->IsListener(item, field, gateId)) == 0;
  }
  CNVItem* temp_ = nullptr;
};

TEST_F(MonitoringTest, StationStateSwitchesMonitoringOfListenedItems) {
  Host(kMsgHbActive);  // nothing bound yet
  EXPECT_TRUE(kesthost::LogContains("telMAR> ProcessKestMsg(), KEST_HB_ACTIVE message", 32));
  EXPECT_EQ(ProcessSharedData()->stationActive.load(), 1);
  Host(kMsgHbPassive);
  EXPECT_TRUE(kesthost::LogContains("telMAR> ProcessKestMsg(), KEST_HB_PASSIVE message", 32));
  EXPECT_EQ(ProcessSharedData()->stationActive.load(), 0);
  EXPECT_EQ(lonsim::CallCount("GetListenersCount") + lonsim::CallCount("MonitorNV"), 0);

  // Bound while passive: listens, gets its first value, and its NV's monitoring goes off.
  ASSERT_TRUE(lonsim::SetNVValue(kSpaceTemp, 19.25));
  lonsim::Drain();
  Thread(kMsgStartListening, 10, Bind(10, temp_, -1, 2));
  EXPECT_TRUE(Listens(10));
  EXPECT_EQ(lonsim::LastArgs("ReadNV"), Args{1});
  kesthost::Gate g;
  ASSERT_TRUE(kesthost::GetGate(10, &g));
  EXPECT_EQ(AsFloat(g.raw), 19.25f);
  EXPECT_EQ(lonsim::LastArgs("MonitorNV"), Args{0});

  // A second gate of the same NV, a field gate, and a bound gate that does not listen.
  Thread(kMsgStartListening, 11, Bind(11, temp_, -1, 2));
  CNVItem* lamp = Item(kLampIn, VT_I2);
  int value = Field(lamp, "value");
  Thread(kMsgStartListening, 12, Bind(12, lamp, value, 2));
  EXPECT_EQ(lonsim::LastArgs("MonitorNVF"), (Args{value, 0}));
  Bind(13, Item(kSetpoint, VT_R4), -1, 0);
  for (int on : {1, 0}) {
    lonsim::ResetCounters();
    Host(on ? kMsgHbActive : kMsgHbPassive);
    EXPECT_EQ(lonsim::CallCount("MonitorNV"), 2) << "once per gate of the NV";
    EXPECT_EQ(lonsim::LastArgs("MonitorNV"), Args{on});
    EXPECT_EQ(lonsim::LastArgs("MonitorNVF"), (Args{value, on}));
  }
}

TEST_F(MonitoringTest, ActivityAndDefinitionChangesFollowTheUpdateMode) {
  struct {
    uint16_t code, subCode;
    int32_t updateMode;
    bool before, after;
  } cases[] = {
      {109, 1, 1, false, true},  {109, 0, 1, true, false},  {109, 5, 1, true, true},
      {109, 1, 2, false, false}, {109, 0, 2, true, true},   {109, 1, 0, false, false},
      {109, 0, 0, true, true},   {121, 1, 2, false, true},  {121, 2, 2, false, true},
      {121, 1, 0, true, false},  {121, 2, 0, true, false},  {121, 1, 1, true, false},
      {121, 2, 1, false, false}, {121, 0, 2, false, false}, {121, 4, 0, true, true},
  };
  uint32_t gateId = 100;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + "/" + std::to_string(c.subCode) + " mode " +
                 std::to_string(c.updateMode));
    Bind(++gateId, temp_, -1, c.updateMode);
    if (c.before) inst_->lns->AddListener(temp_, gateId);
    Host(c.code, gateId, c.subCode);
    EXPECT_EQ(Listens(gateId), c.after);
  }
  // No binding, or no definition from the host: nothing happens.
  kesthost::Gate g;
  g.id = 200, g.updateMode = 1;
  kesthost::AddGate(g);
  Host(kMsgGateActivity, 200, 1);
  inst_->bindingMap.Set(201, new GateBinding{temp_, 1, 0, {}, 0});
  Host(kMsgGateActivity, 201, 1);
  EXPECT_FALSE(Listens(200) || Listens(201));
}

// The library delivers a change after the first value was read and before it is put: the gate
// must end on the delivered, newer value.
void DeliverAChangeBeforeTheFirstPut(const char* point) {
  if (std::string(point) != "StartListening:first value read") return;
  ASSERT_TRUE(lonsim::SetNVValue(kSpaceTemp, 23.5));
  lonsim::Drain();
}

TEST_F(MonitoringTest, AChangeDeliveredDuringTheFirstReadIsNotOverwritten) {
  DriverListener listener;
  ASSERT_EQ(inst_->lns->AddListener(&listener), 0);
  ProcessSharedData()->stationActive = 1;
  ASSERT_TRUE(lonsim::SetNVValue(kSpaceTemp, 19.25));
  lonsim::Drain();
  SetTestPointHook(DeliverAChangeBeforeTheFirstPut);
  Thread(kMsgStartListening, 10, Bind(10, temp_, -1, 2));
  SetTestPointHook(nullptr);
  kesthost::Gate g;
  ASSERT_TRUE(kesthost::GetGate(10, &g));
  EXPECT_GE(g.puts, 1u);
  EXPECT_EQ(AsFloat(g.raw), 23.5f);
  // Without a change in between, the value read is put as before.
  Thread(kMsgStartListening, 11, Bind(11, temp_, -1, 2));
  ASSERT_TRUE(kesthost::GetGate(11, &g));
  EXPECT_EQ(AsFloat(g.raw), 23.5f);
  inst_->lns->Release();  // no callback reaches the listener once this has returned
  inst_->lns = nullptr;
}

// An on-demand field gate is registered in the field form, and must be found in that form.
TEST_F(MonitoringTest, OnDemandFieldGateStopsOnDefinitionChange) {
  CNVItem* lamp = Item(kLampIn, VT_I2);
  int state = Field(lamp, "state");
  Bind(60, lamp, state, 1);
  Host(kMsgGateActivity, 60, 1);
  ASSERT_TRUE(Listens(60, lamp, state));
  Host(kMsgGateDefChange, 60, 2);
  EXPECT_FALSE(Listens(60, lamp, state));
}

// Messages queued at parse time may arrive after the host removed the gate.
TEST_F(MonitoringTest, RemovedGateDropsItsBindingAndLaterMessages) {
  GateBinding* record = Bind(70, temp_, -1, 2);
  const intptr_t stale = record->generation;
  Thread(kMsgStartListening, 70, record);
  Host(kMsgGateDefChange, 70, 3);
  EXPECT_FALSE(Listens(70));
  EXPECT_EQ(FindBinding(70), nullptr);
  lonsim::ResetCounters();
  kesthost::ClearCalls();
  Thread(kMsgStartListening, 70, stale);
  Thread(kMsgSetPollingRate, 70, stale);
  Host(kMsgGateActivity, 70, 1);
  Host(kMsgGateDefChange, 70, 3);
  EXPECT_EQ(lonsim::CallCount("AddListener") + lonsim::CallCount("RemoveListener") +
                lonsim::CallCount("SetNVPollingRate"),
            0);
  EXPECT_EQ(kesthost::CallCount("KestGetGateDef"), 0u);

  GateBinding* fresh = Bind(70, temp_, -1, 2);  // bound again: only its own record counts
  Thread(kMsgStartListening, 70, stale);
  EXPECT_FALSE(Listens(70));
  Thread(kMsgStartListening, 70, fresh);
  EXPECT_TRUE(Listens(70));

  // The allocator may well give the removed record's address to the next record: a message of
  // the removed gate must not take that record for its own.
  GateBinding* reused = Bind(71, temp_, -1, 0);
  const intptr_t removed = reused->generation;
  GateBinding* next = Bind(71, temp_, -1, 0);  // removed, defined again, parsed again ...
  *reused = *next;                             // ... into a record at the old address
  delete next;
  inst_->bindingMap.Set(71, reused);
  Thread(kMsgStartListening, 71, removed);
  EXPECT_FALSE(Listens(71));
}

TEST_F(MonitoringTest, ThreadMessagesPutNodeValuesAndPollingRates) {
  Thread(kMsgPutNodeValue, 1, intptr_t{17});
  kesthost::Call call;
  ASSERT_TRUE(kesthost::LastCall("KestPutGateRawValue", &call));
  EXPECT_EQ(call.args, (Args{inst_->clientId.load(), 17, 65536, 0, 2, 0, 0}));

  Thread(kMsgSetPollingRate, 20, Bind(20, temp_, -1, 0, 1500));
  EXPECT_EQ(lonsim::LastArgs("SetNVPollingRate"), Args{1500});
  CNVItem* lamp = Item(kLampIn, VT_I2);
  int value = Field(lamp, "value");
  Thread(kMsgSetPollingRate, 21, Bind(21, lamp, value, 0, 2500));
  EXPECT_EQ(lonsim::LastArgs("SetNVFPollingRate"), (Args{value, 2500}));

  lonsim::ResetCounters();
  kesthost::FailCall("KestGetGateDef", 3);  // the definition is still unreadable
  Thread(kMsgSetPollingRate, 20, FindBinding(20));
  kesthost::ClearCalls();
  Thread(2027, 20, FindBinding(20));
  EXPECT_TRUE(kesthost::Calls().empty());
  EXPECT_EQ(lonsim::CallCount("SetNVPollingRate") + lonsim::CallCount("AddListener"), 0);

  // A refused registration reads nothing; a failed first read still leaves the gate listening.
  lonsim::FailNext("AddListener");
  Thread(kMsgStartListening, 20, FindBinding(20));
  EXPECT_EQ(lonsim::CallCount("ReadNV"), 0);
  lonsim::FailNext("ReadNV");
  Thread(kMsgStartListening, 20, FindBinding(20));
  EXPECT_TRUE(Listens(20));
  EXPECT_EQ(kesthost::CallCount("KestPutGateRawValue"), 0u);
}

}  // namespace
}  // namespace iotest
