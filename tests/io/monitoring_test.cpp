// Host messages, the parsers' thread messages and the station's monitoring switch.
#include "lon/monitoring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/host_api.h"
#include "core/worker.h"
#include "platform/process_shared.h"
#include "tests/io/io_fixture.h"

namespace iotest {
namespace {

class MonitoringTest : public IoFixture {
 protected:
  void SetUp() override {
    IoFixture::SetUp();
    ProcessSharedData()->stationActive = 0;
  }
  void TearDown() override {
    ProcessSharedData()->stationActive = 0;
    IoFixture::TearDown();
    ProcessSharedRemove();
  }

  static void Host(uint16_t code, uint32_t gateId = 0, uint16_t subCode = 0) {
    HostMessage m{};
    m.msgCode = code;
    m.gateId = gateId;
    m.subCode = subCode;
    EXPECT_EQ(ProcessKestMsg(&m), 0);
  }
  static void Thread(uint32_t id, uintptr_t wParam, intptr_t lParam) {
    ThreadMessage m{id, wParam, lParam};
    EXPECT_EQ(ProcessThreadMsg(&m), 0);
  }
  static intptr_t Ptr(GateBinding* b) { return reinterpret_cast<intptr_t>(b); }

  bool Listens(CNVItem* item, uint32_t gateId) { return inst_->lns->IsListener(item, gateId) == 0; }
  bool ListensField(CNVItem* item, int field, uint32_t gateId) {
    return inst_->lns->IsListener(item, field, gateId) == 0;
  }

  // An NV gate of type 3 on nvoSpaceTemp, bound and known to the host.
  GateBinding* TempGate(uint32_t gateId, int32_t updateMode) {
    if (!temp_) temp_ = AddItem(kSpaceTemp, VT_R4);
    AddHostGate(gateId, 3, kSpaceTemp, updateMode);
    return Bind(gateId, temp_, kBindNV);
  }

  CNVItem* temp_ = nullptr;
};

TEST_F(MonitoringTest, StationStateSwitchesMonitoringOfListenedItems) {
  Host(kMsgHbActive);
  EXPECT_TRUE(kesthost::LogContains("telMAR> ProcessKestMsg(), KEST_HB_ACTIVE message", 32));
  EXPECT_EQ(ProcessSharedData()->stationActive.load(), 1);
  EXPECT_EQ(lonsim::CallCount("MonitorNV") + lonsim::CallCount("MonitorNVF"), 0);
  Host(kMsgHbPassive);
  EXPECT_TRUE(kesthost::LogContains("telMAR> ProcessKestMsg(), KEST_HB_PASSIVE message", 32));
  EXPECT_EQ(ProcessSharedData()->stationActive.load(), 0);

  // A gate that always listens, bound while passive: first value, then monitoring off.
  ASSERT_TRUE(lonsim::SetNVValue(kSpaceTemp, 19.25));
  lonsim::Drain();
  GateBinding* b = TempGate(10, 2);
  kesthost::ClearCalls();
  Thread(kMsgStartListening, 10, Ptr(b));
  EXPECT_TRUE(Listens(temp_, 10));
  EXPECT_EQ(lonsim::LastArgs("ReadNV").back(), kIOOptMonitored);
  kesthost::Gate g;
  ASSERT_TRUE(kesthost::GetGate(10, &g));
  EXPECT_FLOAT_EQ(CellFloat(g.raw), 19.25f);
  EXPECT_EQ(lonsim::LastArgs("MonitorNV"), std::vector<int64_t>{0});

  // Two more gates: a second listener of the same NV, and a field listener; an unlistened
  // binding is left alone.
  CNVItem* lamp = AddItem(kLamp, VT_I2);
  int field = AddField(lamp, "value", VT_I2);
  ASSERT_GE(field, 0);
  AddHostGate(11, 3, kSpaceTemp, 2);
  GateBinding* b2 = Bind(11, temp_, kBindNV);
  AddHostGate(12, 1, kLamp + ".value", 2);
  GateBinding* bf = Bind(12, lamp, kBindNVF, static_cast<uint8_t>(field));
  CNVItem* setpoint = AddItem(kSetpoint, VT_R4);
  Bind(13, setpoint, kBindNV);
  Thread(kMsgStartListening, 11, Ptr(b2));
  Thread(kMsgStartListening, 12, Ptr(bf));
  EXPECT_TRUE(ListensField(lamp, field, 12));
  EXPECT_EQ(lonsim::LastArgs("MonitorNVF"), (std::vector<int64_t>{field, 0}));

  lonsim::ResetCounters();
  Host(kMsgHbActive);
  EXPECT_EQ(lonsim::CallCount("MonitorNV"), 2) << "once per gate of the NV";
  EXPECT_EQ(lonsim::LastArgs("MonitorNV"), std::vector<int64_t>{1});
  EXPECT_EQ(lonsim::CallCount("MonitorNVF"), 1);
  EXPECT_EQ(lonsim::LastArgs("MonitorNVF"), (std::vector<int64_t>{field, 1}));

  // Starting while active leaves monitoring on.
  AddHostGate(14, 4, kSetpoint, 2);
  GateBinding* b4 = Bind(14, setpoint, kBindNV);
  lonsim::ResetCounters();
  Thread(kMsgStartListening, 14, Ptr(b4));
  EXPECT_EQ(lonsim::CallCount("MonitorNV"), 0);

  lonsim::ResetCounters();
  Host(kMsgHbPassive);
  // Gate 13 does not listen itself, but its NV now has a listener.
  EXPECT_EQ(lonsim::CallCount("MonitorNV"), 4);
  EXPECT_EQ(lonsim::LastArgs("MonitorNV"), std::vector<int64_t>{0});
  EXPECT_EQ(lonsim::LastArgs("MonitorNVF"), (std::vector<int64_t>{field, 0}));
}

TEST_F(MonitoringTest, GateActivityStartsAndStopsOnlyOnDemandGates) {
  struct Case {
    int32_t updateMode;
    uint16_t subCode;
    bool listeningBefore;
    bool listeningAfter;
  };
  const Case cases[] = {
      {1, 1, false, true},  {1, 0, true, false}, {1, 5, true, true},   {1, 5, false, false},
      {2, 1, false, false}, {2, 0, true, true},  {0, 1, false, false}, {0, 0, true, true},
  };
  uint32_t gateId = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE("updateMode " + std::to_string(c.updateMode) + " subCode " +
                 std::to_string(c.subCode));
    ++gateId;
    TempGate(gateId, c.updateMode);
    if (c.listeningBefore) {
      ASSERT_EQ(inst_->lns->AddListener(temp_, gateId), 0);
    }
    Host(kMsgGateActivity, gateId, c.subCode);
    EXPECT_EQ(Listens(temp_, gateId), c.listeningAfter);
  }

  // No binding, or a definition the host cannot give: nothing happens.
  lonsim::ResetCounters();
  AddHostGate(200, 3, kSpaceTemp, 1);
  Host(kMsgGateActivity, 200, 1);
  Bind(201, temp_, kBindNV);  // no host gate 201
  Host(kMsgGateActivity, 201, 1);
  EXPECT_FALSE(Listens(temp_, 200));
  EXPECT_FALSE(Listens(temp_, 201));
  EXPECT_EQ(lonsim::CallCount("AddListener"), 0);
}

TEST_F(MonitoringTest, DefinitionChangesFollowTheNewUpdateMode) {
  struct Case {
    uint16_t subCode;
    int32_t updateMode;
    bool listeningBefore;
    bool listeningAfter;
  };
  const Case cases[] = {
      {1, 2, false, true}, {2, 2, false, true},  {1, 0, true, false},  {2, 0, true, false},
      {1, 1, true, false}, {1, 1, false, false}, {0, 2, false, false}, {4, 2, false, false},
      {4, 0, true, true},  {0, 0, true, true},
  };
  uint32_t gateId = 300;
  for (const Case& c : cases) {
    SCOPED_TRACE("subCode " + std::to_string(c.subCode) + " updateMode " +
                 std::to_string(c.updateMode));
    ++gateId;
    TempGate(gateId, c.updateMode);
    if (c.listeningBefore) {
      ASSERT_EQ(inst_->lns->AddListener(temp_, gateId), 0);
    }
    Host(kMsgGateDefChange, gateId, c.subCode);
    EXPECT_EQ(Listens(temp_, gateId), c.listeningAfter);
    EXPECT_NE(FindBinding(gateId), nullptr);
  }

  kesthost::FailCall("KestGetGateDef", 3);
  TempGate(350, 2);
  Host(kMsgGateDefChange, 350, 1);
  EXPECT_FALSE(Listens(temp_, 350));
}

TEST_F(MonitoringTest, FieldGateOnDemandStopsOnDefinitionChange) {
  CNVItem* lamp = AddItem(kLamp, VT_I2);
  int field = AddField(lamp, "state", VT_I2);
  ASSERT_GE(field, 0);
  AddHostGate(60, 1, kLamp + ".state", 1);
  Bind(60, lamp, kBindNVF, static_cast<uint8_t>(field));
  Host(kMsgGateActivity, 60, 1);
  ASSERT_TRUE(ListensField(lamp, field, 60));
  Host(kMsgGateDefChange, 60, 2);
  EXPECT_FALSE(ListensField(lamp, field, 60));
}

TEST_F(MonitoringTest, RemovedGateForgetsItsBindingAndLaterMessages) {
  GateBinding* b = TempGate(70, 2);
  Thread(kMsgStartListening, 70, Ptr(b));
  ASSERT_TRUE(Listens(temp_, 70));
  // Queued at parse time, handled after the removal: the record is gone.
  GateBinding* stale = b;
  Host(kMsgGateDefChange, 70, 3);
  EXPECT_FALSE(Listens(temp_, 70));
  EXPECT_EQ(FindBinding(70), nullptr);
  EXPECT_FALSE(inst_->bindingMap.Contains(70));

  lonsim::ResetCounters();
  kesthost::ClearCalls();
  Thread(kMsgStartListening, 70, Ptr(stale));
  Thread(kMsgSetPollingRate, 70, Ptr(stale));
  Host(kMsgGateActivity, 70, 1);
  Host(kMsgGateDefChange, 70, 2);
  Host(kMsgGateDefChange, 70, 3);
  EXPECT_EQ(lonsim::CallCount("AddListener"), 0);
  EXPECT_EQ(lonsim::CallCount("RemoveListener"), 0);
  EXPECT_EQ(lonsim::CallCount("SetNVPollingRate"), 0);
  EXPECT_EQ(kesthost::CallCount("KestGetGateDef"), 0u);

  // The same gate bound again gets a new record; a message carrying the old one is dropped.
  GateBinding* fresh = TempGate(70, 2);
  if (fresh != stale) {
    Thread(kMsgStartListening, 70, Ptr(stale));
    EXPECT_FALSE(Listens(temp_, 70));
  }
  Thread(kMsgStartListening, 70, Ptr(fresh));
  EXPECT_TRUE(Listens(temp_, 70));
}

TEST_F(MonitoringTest, ThreadMessagesPutNodeValuesAndPollingRates) {
  AddHostGate(17, 1, kRoom);
  Thread(kMsgPutNodeValue, 1, 17);
  kesthost::Call call;
  ASSERT_TRUE(kesthost::LastCall("KestPutGateRawValue", &call));
  EXPECT_EQ(call.args, (std::vector<int64_t>{inst_->clientId.load(), 17, 65536, 0, 2, 0, 0}));

  GateBinding* b = TempGate(20, 0);
  kesthost::SetGateDef(20, 0, 1500);
  Thread(kMsgSetPollingRate, 20, Ptr(b));
  EXPECT_EQ(lonsim::LastArgs("SetNVPollingRate"), std::vector<int64_t>{1500});

  CNVItem* lamp = AddItem(kLamp, VT_I2);
  int field = AddField(lamp, "value", VT_I2);
  ASSERT_GE(field, 0);
  AddHostGate(21, 1, kLamp + ".value", 0, 2500);
  GateBinding* bf = Bind(21, lamp, kBindNVF, static_cast<uint8_t>(field));
  Thread(kMsgSetPollingRate, 21, Ptr(bf));
  EXPECT_EQ(lonsim::LastArgs("SetNVFPollingRate"), (std::vector<int64_t>{field, 2500}));

  // The definition is still unreadable: nothing changes.
  lonsim::ResetCounters();
  kesthost::FailCall("KestGetGateDef", 3);
  Thread(kMsgSetPollingRate, 20, Ptr(b));
  EXPECT_EQ(lonsim::CallCount("SetNVPollingRate"), 0);

  // Unknown ids are ignored.
  kesthost::ClearCalls();
  Thread(2027, 20, Ptr(b));
  Thread(kMsgStartListening - 1, 20, Ptr(b));
  EXPECT_TRUE(kesthost::Calls().empty());
  EXPECT_EQ(lonsim::CallCount("AddListener") + lonsim::CallCount("SetNVPollingRate"), 0);
}

TEST_F(MonitoringTest, FailuresEndTheHandlingSilently) {
  GateBinding* b = TempGate(80, 2);
  lonsim::FailNext("AddListener");
  Thread(kMsgStartListening, 80, Ptr(b));
  EXPECT_FALSE(Listens(temp_, 80));
  EXPECT_EQ(lonsim::CallCount("ReadNV"), 0);

  // A failed first read still leaves the gate listening, without a value.
  lonsim::FailNext("ReadNV");
  kesthost::ClearCalls();
  Thread(kMsgStartListening, 80, Ptr(b));
  EXPECT_TRUE(Listens(temp_, 80));
  EXPECT_EQ(kesthost::CallCount("KestPutGateRawValue"), 0u);
  EXPECT_EQ(lonsim::LastArgs("MonitorNV"), std::vector<int64_t>{0});
  for (const kesthost::LogLine& line : kesthost::Log()) ADD_FAILURE() << line.text;

  // Unknown host message codes do nothing.
  lonsim::ResetCounters();
  Host(122, 80, 3);
  Host(0, 80, 1);
  EXPECT_NE(FindBinding(80), nullptr);
  EXPECT_EQ(lonsim::CallCount("RemoveListener"), 0);
}

}  // namespace
}  // namespace iotest
