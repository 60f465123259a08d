// Registration, formats, reads and writes, listening and monitoring, polling and bindings.
#include "tests/netsim/netsim_fixture.h"

namespace {

const std::string kRoom = "Building.Floor1.Room101.";

class LnsTest : public NetsimTest {
 protected:
  void SetUp() override {
    NetsimTest::SetUp();
    lns_ = OpenLns("Demo");
    ASSERT_NE(lns_, nullptr);
  }
};

TEST_F(LnsTest, LooksUpObjectsByKind) {
  struct Case {
    const char* name;
    int kind;  // 0: not found
  } cases[] = {
      {"Building.Floor1.Room101", kLnsKindAppDevice},
      {"Building.Floor1.Room101.nvoSpaceTemp", kLnsKindNV},
      {"Building.Floor1.Room101.nvoLamp.state", kLnsKindNVField},
      {"Building.Plant.Logger.nvoSamples.s299", kLnsKindNVField},
      {"Building.Floor1", kLnsKindSubsystem},
      {"Building.Floor1.Room101.Thermostat", kLnsKindFunctionalBlock},
      {"Building.Floor1.Room101.Thermostat.nvoSpaceTemp", 0},
      {"Building.Floor1.Room101.nvoSpaceTemp.value", 0},  // not structured
      {"Building.Floor1.Room101.nvoLamp.brightness", 0},
      {"Building.Floor1.Room999", 0},
      {"", 0},
  };
  for (const Case& c : cases) {
    int kind = -7;
    int found = lns_->IsFound(c.name, &kind);
    EXPECT_EQ(found != 0, c.kind != 0) << c.name;
    EXPECT_EQ(kind, c.kind ? c.kind : -7) << c.name;
  }
}

TEST_F(LnsTest, RegistersItemsOnceAndGivesTheirDevice) {
  CNVItem* a = Add(kRoom + "nvoLamp");
  EXPECT_EQ(lns_->AddNV((kRoom + "nvoLamp").c_str(), nullptr), a);
  EXPECT_EQ(lns_->AddNV((kRoom + "nvoLamp.state").c_str(), nullptr), nullptr);
  EXPECT_EQ(lns_->AddNV("Building.Floor1.Room101", nullptr), nullptr);
  NVStructStat stat{-1, -1, -1, -1, -1};
  ASSERT_EQ(lns_->GetNVStat(a, &stat), 0);
  EXPECT_EQ(stat.hNode, 1);
  EXPECT_EQ(stat.direction, 1);
  EXPECT_EQ(stat.typeIndex, 95);
  EXPECT_EQ(stat.length, 2);
  EXPECT_EQ(stat.fieldCount, 2);
  EXPECT_EQ(lns_->GetAppDeviceHandle("Building.Floor1.Room101"), 1);
  EXPECT_EQ(lns_->GetAppDeviceHandle("Building.Floor1.Room101.nvoLamp"), -1);
  EXPECT_EQ(lns_->GetAppDeviceHandle("Building.Nowhere"), -1);
}

TEST_F(LnsTest, SplitsAndIndexesFields) {
  char nv[64] = "poison", field[16] = "poison";
  const std::string lampName = kRoom + "nvoLamp";
  ASSERT_EQ(lns_->SplitNVFName((lampName + ".state").c_str(), nv, sizeof nv, field, sizeof field),
            0);
  EXPECT_EQ(std::string(nv), lampName);
  EXPECT_STREQ(field, "state");
  EXPECT_NE(lns_->SplitNVFName("nodelimiter", nv, sizeof nv, field, sizeof field), 0);
  EXPECT_NE(lns_->SplitNVFName("trailing.", nv, sizeof nv, field, sizeof field), 0);
  // A part that does not fit its buffer with its NUL is refused, not cut.
  EXPECT_NE(
      lns_->SplitNVFName((lampName + ".state").c_str(), nv, lampName.size(), field, sizeof field),
      0);
  EXPECT_NE(lns_->SplitNVFName((lampName + ".state").c_str(), nv, sizeof nv, field, 5), 0);
  EXPECT_EQ(lns_->SplitNVFName((lampName + ".state").c_str(), nv, lampName.size() + 1, field, 6),
            0);

  CNVItem* lamp = Add(kRoom + "nvoLamp");
  EXPECT_EQ(lns_->NVFNameToIndex(lamp, "value"), 0);
  EXPECT_EQ(lns_->NVFNameToIndex(lamp, "state"), 1);
  EXPECT_LT(lns_->NVFNameToIndex(lamp, "State"), 0);
  EXPECT_LT(lns_->NVFNameToIndex(Add(kRoom + "nvoSpaceTemp"), "value"), 0);
  CNVItem* samples = Add("Building.Plant.Logger.nvoSamples");
  EXPECT_EQ(lns_->NVFNameToIndex(samples, "s299"), 299);
  EXPECT_EQ(lns_->AddNVF(samples, "s299", 299), 0);
  EXPECT_NE(lns_->AddNVF(samples, "s299", 298), 0);  // name and index disagree
  EXPECT_NE(lns_->AddNVF(samples, "s300", 300), 0);
}

TEST_F(LnsTest, ReadsInTheItemsFormatAndRefusesOtherFormats) {
  struct Case {
    const char* nv;
    VARTYPE vt;
    Update expected;
  } cases[] = {
      {"nvoSpaceTemp", VT_R4, {0, -1, VT_R4, 21.5, "", {}}},
      {"nvoSpaceTemp", VT_I2, {0, -1, VT_I2, 22, "", {}}},
      {"nvoSpaceTemp", VT_I4, {0, -1, VT_I4, 22, "", {}}},
      {"nvoSpaceTemp", VT_BOOL, {0, -1, VT_BOOL, -1, "", {}}},
      {"nvoSpaceTemp", VT_BSTR, {0, -1, VT_BSTR, 0, "21.5", {}}},
      {"nvoSpaceTemp", VT_ARRAY_UI1, {0, -1, VT_ARRAY_UI1, 0, "", {0x08, 0x66}}},
      {"nvoOccupancy", VT_BSTR, {0, -1, VT_BSTR, 0, "OC_OCCUPIED", {}}},
      {"nviDisplay", VT_BSTR, {0, -1, VT_BSTR, 0, "Welcome", {}}},
      {"nciSetpoints", VT_BSTR, {0, -1, VT_BSTR, 0, "26 28 30 21 19 16", {}}},
  };
  for (const Case& c : cases) {
    CNVItem* item = Add(kRoom + c.nv);
    ASSERT_EQ(lns_->SetNVFormatType(item, c.vt), 0) << c.nv << " " << c.vt;
    VARIANT v;
    VariantInit(&v);
    v.vt = 0x7777;
    ASSERT_EQ(lns_->ReadNV(item, &v, kIOOptDevice), 0) << c.nv << " " << lonsim::LastError();
    Update got = Decode(0, -1, v);
    VariantClear(&v);
    EXPECT_EQ(got.vt, c.expected.vt) << c.nv;
    EXPECT_EQ(got.number, c.expected.number) << c.nv << " " << c.vt;
    EXPECT_EQ(got.text, c.expected.text) << c.nv;
    EXPECT_EQ(got.bytes, c.expected.bytes) << c.nv;
  }

  CNVItem* temp = Add(kRoom + "nvoSpaceTemp");
  CNVItem* text = Add(kRoom + "nviDisplay");
  ASSERT_EQ(lns_->SetNVFormatType(temp, VT_I2), 0);
  for (VARTYPE vt : {VARTYPE{VT_EMPTY}, VARTYPE{9}, VARTYPE{VT_UI1}}) {
    EXPECT_NE(lns_->SetNVFormatType(temp, vt), 0) << vt;
  }
  EXPECT_NE(lns_->SetNVFormatType(text, VT_R4), 0);
  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(lns_->ReadNV(temp, &v, kIOOptDevice), 0);
  EXPECT_EQ(v.vt, VT_I2);  // a refused format leaves the item's format as it was

  // Fields take their own format, once added.
  CNVItem* lamp = Add(kRoom + "nviLamp");
  EXPECT_NE(lns_->SetNVFFormatType(lamp, 1, VT_I2), 0);
  ASSERT_EQ(lns_->AddNVF(lamp, "state", 1), 0);
  ASSERT_EQ(lns_->SetNVFFormatType(lamp, 1, VT_I2), 0);
  EXPECT_NE(lns_->SetNVFFormatType(lamp, 1, VT_EMPTY), 0);
  ASSERT_EQ(lns_->ReadNVF(lamp, 1, &v, kIOOptDevice), 0);
  EXPECT_EQ(v.vt, VT_I2);
  EXPECT_EQ(v.iVal, 0);
}

TEST_F(LnsTest, WritesInputsOfAttachedDevicesOnly) {
  CNVItem* setpoint = Add(kRoom + "nviSetpoint");
  CNVItem* temp = Add(kRoom + "nvoSpaceTemp");
  VARIANT text = MakeBstr("22.75");
  ASSERT_EQ(lns_->WriteNV(setpoint, &text), 0) << lonsim::LastError();
  double value = 0;
  ASSERT_TRUE(lonsim::GetNVValue(kRoom + "nviSetpoint", &value));
  EXPECT_DOUBLE_EQ(value, 22.75);

  VARIANT r4 = MakeR4(400);  // above SNVT_temp_p's range
  EXPECT_NE(lns_->WriteNV(setpoint, &r4), 0);
  r4.fltVal = 20;
  EXPECT_NE(lns_->WriteNV(temp, &r4), 0);  // an output
  ASSERT_TRUE(lonsim::GetNVValue(kRoom + "nviSetpoint", &value));
  EXPECT_DOUBLE_EQ(value, 22.75);

  ASSERT_TRUE(lonsim::SetDeviceAttached("Building.Floor1.Room101", false));
  EXPECT_NE(lns_->TestNodeByHandle(1, kIOOptMonitored), 0);
  EXPECT_NE(lns_->WriteNV(setpoint, &r4), 0);
  VARIANT v;
  VariantInit(&v);
  EXPECT_NE(lns_->ReadNV(temp, &v, kIOOptDevice), 0);
  EXPECT_NE(lonsim::LastError().find("detached"), std::string::npos);
  ASSERT_EQ(lns_->ReadNV(temp, &v, kIOOptMonitored), 0);  // the value last seen
  EXPECT_FLOAT_EQ(v.fltVal, 21.5);
  ASSERT_EQ(lns_->MonitorNV(temp, 0), 0);
  EXPECT_NE(lns_->ReadNV(temp, &v, kIOOptMonitored), 0);  // unmonitored: reads the device

  ASSERT_TRUE(lonsim::SetDeviceAttached("Building.Floor1.Room101", true));
  EXPECT_EQ(lns_->TestNodeByHandle(1, kIOOptMonitored), 0);
  ASSERT_EQ(lns_->WriteNV(setpoint, &r4), 0);

  // A field write changes that field alone; the lamp output follows its input.
  CNVItem* lamp = Add(kRoom + "nviLamp");
  ASSERT_EQ(lns_->AddNVF(lamp, "value", 0), 0);
  VARIANT half = MakeBstr("50");
  ASSERT_EQ(lns_->WriteNVF(lamp, 0, &half), 0);
  std::vector<uint8_t> raw;
  ASSERT_TRUE(lonsim::GetNVRaw(kRoom + "nvoLamp", &raw));
  EXPECT_EQ(raw, (std::vector<uint8_t>{100, 0}));
  EXPECT_NE(lns_->WriteNVF(lamp, 1, &half), 0);  // field 1 not added

  VARIANT longText = MakeBstr(std::string(31, 'x'));
  EXPECT_NE(lns_->WriteNV(Add(kRoom + "nviDisplay"), &longText), 0);
  VariantClear(&text);
  VariantClear(&half);
  VariantClear(&longText);
}

TEST_F(LnsTest, ReportsEachChangeOnceToEachGateOfAMonitoredItem) {
  CNVItem* temp = Add(kRoom + "nvoSpaceTemp");
  ASSERT_EQ(lns_->SetNVFormatType(temp, VT_BSTR), 0);
  for (uint32_t gate : {7u, 8u, 7u}) ASSERT_EQ(lns_->AddListener(temp, gate), 0);
  EXPECT_EQ(lns_->GetListenersCount(temp), 2);
  EXPECT_EQ(lns_->IsListener(temp, 8u), 0);
  EXPECT_NE(lns_->IsListener(temp, 9u), 0);
  EXPECT_EQ(lonsim::LastArgs("AddListener"), (std::vector<int64_t>{7}));

  ASSERT_TRUE(lonsim::SetNVValue(kRoom + "nvoSpaceTemp", 19.25));
  ASSERT_TRUE(lonsim::SetNVValue(kRoom + "nvoSpaceTemp", 19.25));  // every update counts
  ASSERT_TRUE(lonsim::SetNVValue(kRoom + "nvoCount", 3));          // nobody listens
  lonsim::Drain();
  std::vector<Update> got = listener_.Updates();
  ASSERT_EQ(got.size(), 4u);
  for (const Update& u : got) {
    EXPECT_EQ(u.text, "19.25");
    EXPECT_EQ(u.field, -1);
  }
  EXPECT_EQ(got[0].gateId + got[1].gateId, 15u);

  ASSERT_EQ(lns_->RemoveListener(temp, 8u), 0);
  EXPECT_NE(lns_->RemoveListener(temp, 8u), 0);
  EXPECT_NE(lns_->IsListener(temp, 8u), 0);
  ASSERT_TRUE(lonsim::SetNVValue(kRoom + "nvoSpaceTemp", 20));
  lonsim::Drain();
  got = listener_.Updates();
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[4].gateId, 7u);
  EXPECT_EQ(got[4].text, "20");
}

TEST_F(LnsTest, ReportsAFieldWhenItsValueChanges) {
  CNVItem* lamp = Add(kRoom + "nvoLamp");
  ASSERT_EQ(lns_->AddNVF(lamp, "state", 1), 0);
  ASSERT_EQ(lns_->SetNVFFormatType(lamp, 1, VT_I2), 0);
  ASSERT_EQ(lns_->AddListener(lamp, 1, 40u), 0);
  EXPECT_EQ(lns_->GetListenersCount(lamp, 1), 1);
  EXPECT_EQ(lns_->GetListenersCount(lamp), 0);
  EXPECT_EQ(lonsim::LastArgs("AddListener"), (std::vector<int64_t>{1, 40}));

  ASSERT_TRUE(lonsim::SetNVText(kRoom + "nvoLamp", "20 0"));  // state stays 0
  ASSERT_TRUE(lonsim::SetNVText(kRoom + "nvoLamp", "100 1"));
  ASSERT_TRUE(lonsim::SetNVValue(kRoom + "nvoLamp.state", -1));
  lonsim::Drain();
  std::vector<Update> got = listener_.Updates();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].field, 1);
  EXPECT_EQ(got[0].vt, VT_I2);
  EXPECT_EQ(got[0].number, 1);
  EXPECT_EQ(got[1].number, -1);
}

TEST_F(LnsTest, MonitoringOffSilencesAnItemAndOnCatchesUp) {
  CNVItem* count = Add(kRoom + "nvoCount");
  ASSERT_EQ(lns_->SetNVFormatType(count, VT_I4), 0);
  ASSERT_EQ(lns_->AddListener(count, 5u), 0);
  ASSERT_EQ(lns_->MonitorNV(count, 0), 0);
  EXPECT_EQ(lonsim::LastArgs("MonitorNV"), (std::vector<int64_t>{0}));
  ASSERT_TRUE(lonsim::SetNVValue(kRoom + "nvoCount", 11));
  ASSERT_TRUE(lonsim::SetNVValue(kRoom + "nvoCount", 12));
  lonsim::Drain();
  EXPECT_TRUE(listener_.Updates().empty());

  ASSERT_EQ(lns_->MonitorNV(count, 1), 0);  // the change made while off arrives once
  ASSERT_EQ(lns_->MonitorNV(count, 1), 0);
  lonsim::Drain();
  ASSERT_EQ(listener_.Updates().size(), 1u);
  EXPECT_EQ(listener_.Updates()[0].number, 12);

  ASSERT_EQ(lns_->MonitorNV(count, 0), 0);
  ASSERT_EQ(lns_->MonitorNV(count, 1), 0);  // nothing changed meanwhile
  lonsim::Drain();
  EXPECT_EQ(listener_.Updates().size(), 1u);
}

TEST_F(LnsTest, ServicePinsAndAttachmentsReachListeners) {
  ASSERT_TRUE(lonsim::PressServicePin("Building.Floor1.Room101"));
  ASSERT_TRUE(lonsim::SetDeviceAttached("Building.Plant.Pump", false));
  ASSERT_TRUE(lonsim::SetDeviceAttached("Building.Plant.Pump", false));  // no change, no event
  ASSERT_TRUE(lonsim::SetDeviceAttached("Building.Plant.Pump", true));
  EXPECT_FALSE(lonsim::PressServicePin("Building.Floor1"));
  EXPECT_FALSE(lonsim::SetDeviceAttached("Building.Nowhere", false));
  lonsim::Drain();
  EXPECT_EQ(listener_.Pins(), (std::vector<std::string>{"00A1B2C3D4E5 Building.Floor1.Room101 1"}));
  EXPECT_EQ(listener_.Attachments(),
            (std::vector<std::string>{"Building.Plant.Pump 11 0", "Building.Plant.Pump 11 1"}));
  EXPECT_EQ(lonsim::DeviceHandle("Building.Plant.Pump"), 11);
  EXPECT_EQ(lonsim::DeviceHandle("Building.Plant.Pump.nvoSpeed"), -1);
}

TEST_F(LnsTest, DemoDevicesBehaveOnTheManualClock) {
  CNVItem* count = Add(kRoom + "nvoCount");
  ASSERT_EQ(lns_->AddListener(count, 1u), 0);
  double before = 0, after = 0;
  ASSERT_TRUE(lonsim::GetNVValue(kRoom + "nvoCount", &before));
  lonsim::AdvanceClock(120000);  // delivers before returning
  ASSERT_TRUE(lonsim::GetNVValue(kRoom + "nvoCount", &after));
  EXPECT_EQ(after - before, 120);
  EXPECT_EQ(listener_.Updates().size(), 120u);
  std::vector<std::string> att = listener_.Attachments();
  ASSERT_GE(att.size(), 2u);  // the pump leaves at second 45 and is back at 55 of each minute
  EXPECT_EQ(att[0], "Building.Plant.Pump 11 0");
  EXPECT_EQ(att[1], "Building.Plant.Pump 11 1");
  EXPECT_FALSE(listener_.Pins().empty());
}

TEST_F(LnsTest, InjectsFailuresAndCountsCalls) {
  CNVItem* temp = Add(kRoom + "nvoSpaceTemp");
  lonsim::ResetCounters();
  lonsim::FailNext("PollNV", 3, 2);
  EXPECT_EQ(lns_->PollNV(temp, 500, 1), 3);
  EXPECT_EQ(lns_->PollNV(temp, 600, 1), 3);
  EXPECT_EQ(lns_->PollNV(temp, 700, 1), 0);
  EXPECT_EQ(lonsim::CallCount("PollNV"), 3);
  EXPECT_EQ(lonsim::LastArgs("PollNV"), (std::vector<int64_t>{700, 1}));

  lonsim::FailNext("AddNV");
  EXPECT_EQ(lns_->AddNV((kRoom + "nvoSpaceTemp").c_str(), nullptr), nullptr);
  lonsim::FailNext("IsFound");
  int kind = 0;
  EXPECT_EQ(lns_->IsFound("Building.Floor1.Room101", &kind), 0);
  lonsim::FailNext("GetAppDeviceHandle", 32000);
  EXPECT_EQ(lns_->GetAppDeviceHandle("Building.Floor1.Room101"), 32000);
  lonsim::FailNext("NVFNameToIndex");
  EXPECT_LT(lns_->NVFNameToIndex(Add(kRoom + "nvoLamp"), "state"), 0);
  lonsim::FailNext("Open");
  CLns* other = CLns::GetLnsObject(0, 1, 1, '.', "", "", "");
  EXPECT_EQ(other->Open("Demo", "", "", ""), 1);
  other->Release();
  lonsim::FailNext("GetLnsObject");
  EXPECT_EQ(CLns::GetLnsObject(0, 1, 1, '.', "", "", ""), nullptr);

  lonsim::FailNext("SetNVFormatType", 1, 5);
  lonsim::ClearFailures();
  EXPECT_EQ(lns_->SetNVFormatType(temp, VT_R4), 0);
  EXPECT_EQ(lonsim::LastArgs("SetNVFormatType"), (std::vector<int64_t>{VT_R4}));
  lonsim::ResetCounters();
  EXPECT_EQ(lonsim::CallCount("PollNV"), 0);
  EXPECT_TRUE(lonsim::LastArgs("PollNV").empty());
}

TEST_F(LnsTest, RefusesItemsOfOtherConnectionsAndNullArguments) {
  CNVItem* temp = Add(kRoom + "nvoSpaceTemp");
  CLns* other = CLns::GetLnsObject(0, 1, 1, '.', "", "", "");
  ASSERT_EQ(other->Open("Demo", "", "", ""), 0);
  VARIANT v;
  VariantInit(&v);
  EXPECT_NE(other->ReadNV(temp, &v, kIOOptDevice), 0);
  EXPECT_NE(other->AddListener(temp, 1u), 0);
  EXPECT_NE(lns_->ReadNV(nullptr, &v, kIOOptDevice), 0);
  EXPECT_NE(lns_->ReadNV(temp, nullptr, kIOOptDevice), 0);
  EXPECT_NE(lns_->ReadNV(temp, &v, 2), 0);
  EXPECT_NE(lns_->WriteNV(temp, nullptr), 0);
  EXPECT_NE(lns_->GetNVStat(temp, nullptr), 0);
  EXPECT_NE(lns_->AddListener(static_cast<ILnsListener*>(nullptr)), 0);
  EXPECT_EQ(lns_->GetListenersCount(nullptr), 0);
  EXPECT_EQ(lns_->IsFound(nullptr, nullptr), 0);
  EXPECT_EQ(v.vt, VT_EMPTY);

  // Both connections see the same devices: a write through one reaches the other's listener.
  CNVItem* mine = other->AddNV((kRoom + "nviSetpoint").c_str(), nullptr);
  RecordingListener second;
  ASSERT_EQ(other->AddListener(&second), 0);
  ASSERT_EQ(other->AddListener(mine, 3u), 0);
  VARIANT r4 = MakeR4(23);
  ASSERT_EQ(lns_->WriteNV(Add(kRoom + "nviSetpoint"), &r4), 0);
  lonsim::Drain();
  ASSERT_EQ(second.Updates().size(), 1u);
  EXPECT_EQ(second.Updates()[0].number, 23);
  other->Release();
}

// A network of its own, without demo behaviour: polling and binding.
class PollTest : public NetsimTest {
 protected:
  void SetUp() override {
    NetsimTest::SetUp();
    dir_.WriteFile("plant.net",
                   "device D handle 4 neuron 000000000004\n"
                   "nv D.nvoPolled output SNVT_count poll value 1\n"
                   "nv D.nvoSwitch output SNVT_switch poll value 0 0\n"
                   "nv D.nvoSent output SNVT_count value 1\n");
    lns_ = OpenLns("plant.net");
    ASSERT_NE(lns_, nullptr);
  }
};

TEST_F(PollTest, PollingReportsChangesAtItsRateUntilStopped) {
  CNVItem* polled = Add("D.nvoPolled");
  ASSERT_EQ(lns_->AddListener(polled, 2u), 0);
  ASSERT_TRUE(lonsim::SetNVValue("D.nvoPolled", 5));  // the device keeps it to itself
  lonsim::Drain();
  EXPECT_TRUE(listener_.Updates().empty());
  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(lns_->ReadNV(polled, &v, kIOOptMonitored), 0);
  EXPECT_FLOAT_EQ(v.fltVal, 1);  // the library has not seen it yet
  ASSERT_EQ(lns_->ReadNV(polled, &v, kIOOptDevice), 0);
  EXPECT_FLOAT_EQ(v.fltVal, 5);

  ASSERT_EQ(lns_->PollNV(polled, 1000, 1), 0);
  lonsim::AdvanceClock(999);
  EXPECT_TRUE(listener_.Updates().empty());
  lonsim::AdvanceClock(1);
  ASSERT_EQ(listener_.Updates().size(), 1u);
  EXPECT_EQ(listener_.Updates()[0].number, 5);
  lonsim::AdvanceClock(5000);  // no change, no report
  EXPECT_EQ(listener_.Updates().size(), 1u);

  ASSERT_EQ(lns_->SetNVPollingRate(polled, 250), 0);
  ASSERT_TRUE(lonsim::SetNVValue("D.nvoPolled", 6));
  lonsim::AdvanceClock(250);
  EXPECT_EQ(listener_.Updates().size(), 2u);

  ASSERT_EQ(lns_->SetNVPollingRate(polled, 0), 0);
  ASSERT_TRUE(lonsim::SetNVValue("D.nvoPolled", 7));
  lonsim::AdvanceClock(10000);
  EXPECT_EQ(listener_.Updates().size(), 2u);
  EXPECT_NE(lns_->PollNV(polled, -1, 1), 0);

  // A detached device answers no poll; its change arrives after it is back.
  ASSERT_EQ(lns_->PollNV(polled, 100, 1), 0);
  ASSERT_TRUE(lonsim::SetDeviceAttached("D", false));
  lonsim::AdvanceClock(1000);
  EXPECT_EQ(listener_.Updates().size(), 2u);
  ASSERT_TRUE(lonsim::SetDeviceAttached("D", true));
  lonsim::AdvanceClock(100);
  ASSERT_EQ(listener_.Updates().size(), 3u);
  EXPECT_EQ(listener_.Updates()[2].number, 7);
}

TEST_F(PollTest, FieldPollingReportsOnlyItsField) {
  CNVItem* sw = Add("D.nvoSwitch");
  ASSERT_EQ(lns_->AddNVF(sw, "state", 1), 0);
  ASSERT_EQ(lns_->AddListener(sw, 1, 9u), 0);
  ASSERT_EQ(lns_->PollNVF(sw, 1, 3000, 1), 0);
  EXPECT_EQ(lonsim::LastArgs("PollNVF"), (std::vector<int64_t>{1, 3000, 1}));
  ASSERT_TRUE(lonsim::SetNVText("D.nvoSwitch", "50 0"));
  lonsim::AdvanceClock(3000);
  EXPECT_TRUE(listener_.Updates().empty());
  ASSERT_TRUE(lonsim::SetNVText("D.nvoSwitch", "50 1"));
  lonsim::AdvanceClock(3000);
  ASSERT_EQ(listener_.Updates().size(), 1u);
  EXPECT_EQ(listener_.Updates()[0].field, 1);
  EXPECT_EQ(listener_.Updates()[0].number, 1);
  ASSERT_EQ(lns_->SetNVFPollingRate(sw, 1, 0), 0);
  ASSERT_TRUE(lonsim::SetNVText("D.nvoSwitch", "50 0"));
  lonsim::AdvanceClock(9000);
  EXPECT_EQ(listener_.Updates().size(), 1u);
}

TEST_F(PollTest, BindingMakesEveryUpdateArrive) {
  CNVItem* polled = Add("D.nvoPolled");
  ASSERT_EQ(lns_->AddListener(polled, 2u), 0);
  for (int option : {0, 6, -1}) EXPECT_NE(lns_->BindNV(polled, option, 0), 0) << option;
  ASSERT_EQ(lns_->BindNV(polled, 3, 0), 0);
  EXPECT_EQ(lonsim::LastArgs("BindNV"), (std::vector<int64_t>{3, 0}));
  ASSERT_TRUE(lonsim::SetNVValue("D.nvoPolled", 8));
  ASSERT_TRUE(lonsim::SetNVValue("D.nvoPolled", 8));
  lonsim::Drain();
  EXPECT_EQ(listener_.Updates().size(), 2u);

  CNVItem* sw = Add("D.nvoSwitch");
  ASSERT_EQ(lns_->AddNVF(sw, "value", 0), 0);
  ASSERT_EQ(lns_->AddListener(sw, 0, 4u), 0);
  ASSERT_EQ(lns_->BindNVF(sw, 0, 1, 0), 0);
  ASSERT_TRUE(lonsim::SetNVText("D.nvoSwitch", "12.5 1"));
  lonsim::Drain();
  ASSERT_EQ(listener_.Updates().size(), 3u);
  EXPECT_EQ(listener_.Updates()[2].number, 12.5);
}

}  // namespace
