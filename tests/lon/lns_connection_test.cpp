// The network connection and the three network events, on a set-up instance with the host
// stand-in and the simulated network.
#include "lon/lns_connection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/driver_instance.h"
#include "core/host_api.h"
#include "host/kest_host.h"
#include "lon/value_conversion.h"
#include "netsim/lonsim_control.h"
#include "tests/support/variant_values.h"

namespace {

constexpr uint32_t kPinGate = 50;
constexpr uint32_t kTextGate = 51;
constexpr uint32_t kBcdGate = 52;
constexpr uint32_t kFloatGate = 53;
constexpr uint32_t kNodeGate = 54;

std::tm March12th2001() {
  std::tm t{};
  t.tm_year = 101;
  t.tm_mon = 2;
  t.tm_mday = 12;
  t.tm_hour = 8;
  t.tm_min = 5;
  t.tm_sec = 9;
  return t;
}

// True when text has the shape of pattern, where '9' stands for any digit.
bool HasShape(const std::string& text, const std::string& pattern) {
  if (text.size() != pattern.size()) return false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    bool ok = pattern[i] == '9' ? text[i] >= '0' && text[i] <= '9' : text[i] == pattern[i];
    if (!ok) return false;
  }
  return true;
}

class LnsConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    kesthost::Reset();
    lonsim::Reset();
    lonsim::UseManualClock();
    request_.instance = reinterpret_cast<DriverInstance*>(block_);
    request_.command = kColdStart;
    request_.instanceNumber = 1;
    InstanceSetup(&request_);
    inst_ = request_.instance;
    inst_->network = "Demo";
    inst_->delimiter = '.';
    uint8_t client = 0;
    ASSERT_EQ(KestMkClient("TelMAR", 1, 0, &client), 0);
    inst_->clientId = client;
    kesthost::ClearCalls();
  }
  void TearDown() override {
    SetServicePinTimeSource(nullptr);
    inst_->clientId = 0;
    if (inst_->lns) inst_->lns->Release();
    inst_->lns = nullptr;
    delete inst_->listener;
    inst_->listener = nullptr;
    InstanceTeardown(inst_);
    lonsim::Reset();
  }

  void AddGate(uint32_t id, uint16_t type, const std::string& address) {
    kesthost::Gate g;
    g.id = id;
    g.type = type;
    g.address = address;
    kesthost::AddGate(g);
  }
  kesthost::Gate Gate(uint32_t id) {
    kesthost::Gate g;
    EXPECT_TRUE(kesthost::GetGate(id, &g));
    return g;
  }
  void ReleaseConnection() {
    if (inst_->lns) inst_->lns->Release();
    inst_->lns = nullptr;
    delete inst_->listener;
    inst_->listener = nullptr;
  }

  alignas(DriverInstance) unsigned char block_[sizeof(DriverInstance)];
  VpiRequest request_{};
  DriverInstance* inst_ = nullptr;
  DriverListener listener_;
};

TEST_F(LnsConnection, BrowseFlagsFollowTheThreeOptions) {
  const struct {
    int32_t fromLns, subsysAll, subsysDiscovered;
    int flags;
  } rows[] = {{1, 1, 1, 1}, {0, 0, 0, 15}, {0, 1, 1, 3}, {1, 0, 1, 5}, {1, 1, 0, 9}};
  for (const auto& row : rows) {
    EXPECT_EQ(LnsBrowseFlags(row.fromLns, row.subsysAll, row.subsysDiscovered), row.flags);
    inst_->browseFromLns = row.fromLns;
    inst_->browseSubsysAll = row.subsysAll;
    inst_->browseSubsysDiscovered = row.subsysDiscovered;
    lonsim::ResetCounters();
    ASSERT_EQ(InitLns(&request_), 0);
    EXPECT_EQ(lonsim::LastArgs("Browse"), (std::vector<int64_t>{row.flags, 1}));
    ReleaseConnection();
  }
}

TEST_F(LnsConnection, InitLnsConnectsAndRegistersTheListener) {
  inst_->debugLevel = 7;
  ASSERT_EQ(InitLns(&request_), 0);
  ASSERT_NE(inst_->lns, nullptr);
  ASSERT_NE(inst_->listener, nullptr);
  EXPECT_EQ(inst_->lns->debugLevel, 7);
  EXPECT_EQ(lonsim::CallCount("Open"), 1);
  EXPECT_EQ(lonsim::CallCount("AddListener"), 1);

  // Already connected: nothing is asked of the library again.
  CLns* first = inst_->lns;
  lonsim::ResetCounters();
  EXPECT_EQ(InitLns(&request_), 0);
  EXPECT_EQ(inst_->lns, first);
  EXPECT_EQ(lonsim::CallCount("Init"), 0);
  EXPECT_EQ(lonsim::CallCount("Open"), 0);
  EXPECT_EQ(lonsim::CallCount("Browse"), 0);
}

TEST_F(LnsConnection, InitLnsFailuresReportTheStep) {
  const struct {
    const char* operation;
    const char* message;  // null: no message of its own
  } rows[] = {{"Init", "TelMAR: InitLns failed on Lns Init"},
              {"Open", "TelMAR: InitLns failed on Lns Open"},
              {"AddListener", nullptr}};
  for (const auto& row : rows) {
    kesthost::ClearLog();
    lonsim::FailNext(row.operation);
    EXPECT_EQ(InitLns(&request_), 2) << row.operation;
    // The connection stays for EndVpi to release.
    EXPECT_NE(inst_->lns, nullptr);
    if (row.message) {
      EXPECT_TRUE(kesthost::LogContains(row.message, 32)) << row.message;
    } else {
      EXPECT_FALSE(kesthost::LogContains("InitLns"));
    }
    ReleaseConnection();
  }
  // An unknown network fails to open.
  inst_->network = "no such network file";
  EXPECT_EQ(InitLns(&request_), 2);
  EXPECT_TRUE(kesthost::LogContains("TelMAR: InitLns failed on Lns Open", 32));
}

TEST_F(LnsConnection, GuardStopsEveryEventWithoutARegisteredHost) {
  const char* messages[] = {"telMAR: OnNetworkVariableUpdate, no GlobalInst or bad hook.",
                            "telMAR: OnSystemServicePin, no GlobalInst or bad hook",
                            "telMAR: OnAttachmentLca, no GlobalInst or bad hook"};
  AddGate(kPinGate, kGateText, "!ServicePin");
  AddGate(kBcdGate, kGateBcd, "Some.Nv");
  auto fireAll = [&] {
    VARIANT v = OfI2(12);
    listener_.OnNetworkVariableUpdate(kBcdGate, &v, -1);
    listener_.OnSystemServicePin(0, 0, 1, "00A1B2C3D4E5", "", "", 1, 2, 0);
    listener_.OnAttachmentLca(0, 0, 4, 1, "dev", 1);
  };
  for (int pass = 0; pass < 2; ++pass) {
    kesthost::ClearLog();
    kesthost::ClearCalls();
    if (pass == 0) {
      inst_->clientId = 0;  // not registered, or the host shut down
    } else {
      GlobalInst = nullptr;  // no ColdStart yet
    }
    fireAll();
    for (const char* m : messages) {
      EXPECT_EQ(kesthost::LogCount(m, 32), 1u) << m;
    }
    EXPECT_EQ(kesthost::Log().size(), 3u);
    EXPECT_TRUE(kesthost::Calls().empty());
  }
  GlobalInst = inst_;
}

TEST_F(LnsConnection, ValueUpdatesWriteTextAndRawCells) {
  AddGate(kTextGate, kGateText, "Room.nvoDisplay");
  AddGate(kBcdGate, kGateBcd, "Room.nvoCount");
  AddGate(kFloatGate, kGateFloat, "Room.nvoSpaceTemp");

  VARIANT text = OfText(u"Hello 21\u00b0C");
  listener_.OnNetworkVariableUpdate(kTextGate, &text, -1);
  kesthost::Call call;
  ASSERT_TRUE(kesthost::LastCall("KestPutGateStr", &call));
  EXPECT_EQ(call.args, (std::vector<int64_t>{inst_->clientId, kTextGate, 2, 0, 0}));
  EXPECT_EQ(Gate(kTextGate).text,
            "Hello 21\xC2\xB0"
            "C");
  VariantClear(&text);

  VARIANT count = OfI2(1234);
  listener_.OnNetworkVariableUpdate(kBcdGate, &count, -1);
  ASSERT_TRUE(kesthost::LastCall("KestPutGateRawValue", &call));
  EXPECT_EQ(call.args, (std::vector<int64_t>{inst_->clientId, kBcdGate, 0x12340000, 0, 2, 0, 0}));
  EXPECT_EQ(Gate(kBcdGate).raw, 0x12340000u);

  // A value of another type is coerced for the gate.
  VARIANT temp = OfText(u"21.5");
  EXPECT_EQ(KestGatePutValueFromVariant(kFloatGate, &temp), 0);
  float f;
  uint32_t raw = Gate(kFloatGate).raw;
  std::memcpy(&f, &raw, 4);
  EXPECT_EQ(f, 21.5f);
  VariantClear(&temp);
}

TEST_F(LnsConnection, PutValueFailuresNameTheGate) {
  AddGate(kFloatGate, kGateFloat, "Room.nvoSpaceTemp");
  VARIANT letters = OfText(u"warm");
  EXPECT_EQ(KestGatePutValueFromVariant(kFloatGate, &letters), -1);
  EXPECT_TRUE(kesthost::LogContains(
      "TelMAR: KestGatePutValueFromVariant fail on VariantToKestValue 'addr = 'Room.nvoSpaceTemp'",
      32));
  VariantClear(&letters);

  // A value the gate type cannot hold: logged with the value, the range and the gate, or, for a
  // caller that asks, reported in the fault record alone.
  AddGate(kBcdGate, kGateBcd, "Room.nvoCount");
  VARIANT count = OfI2(12873);
  EXPECT_EQ(KestGatePutValueFromVariant(kBcdGate, &count), -1);
  const std::string line =
      "TelMAR: KestGatePutValueFromVariant fail, value 12873 does not fit "
      "gate type 2 (four-digit BCD, 0 to 9999) (gate " +
      std::to_string(kBcdGate) + ", addr = 'Room.nvoCount')";
  EXPECT_TRUE(kesthost::LogContains(line, 32)) << line;
  kesthost::ClearLog();
  ValueFault fault;
  EXPECT_EQ(KestGatePutValueFromVariant(kBcdGate, &count, &fault), -1);
  EXPECT_EQ(fault.kind, kValueFaultRange);
  EXPECT_EQ(fault.value, 12873);
  EXPECT_FALSE(kesthost::LogContains("KestGatePutValueFromVariant fail"));

  VARIANT v = OfI2(1);
  EXPECT_EQ(KestGatePutValueFromVariant(999, &v), -1);
  EXPECT_TRUE(kesthost::LogContains(
      "TelMAR: KestGatePutValueFromVariant fail on KestGetGateDef (gateId = 999)", 32));
  EXPECT_EQ(kesthost::CallCount("KestPutGateRawValue"), 0u);
  EXPECT_EQ(kesthost::CallCount("KestPutGateStr"), 0u);
}

// A listened update that no gate of its type can hold leaves the gate as it was and is logged
// with its reason, once per gate until a value of it fits again; the success path stays quiet.
TEST_F(LnsConnection, ListenedUpdatesThatCannotBePutAreLoggedOncePerGate) {
  constexpr uint32_t kIntGate = 55;
  AddGate(kIntGate, kGateInt16, "Plant.Meter.nvoEnergy");
  AddGate(kFloatGate, kGateFloat, "Room.nvoSpaceTemp");
  const std::string intLine = "update of gate 55 not put";
  const std::string floatLine = "update of gate 53 not put";
  const std::string again = "gate 55 takes listened values again";
  struct Step {
    uint32_t gate;
    int32_t value;  // VT_I4; 0x7FFFFFFF stands for the text "warm"
    size_t intLines, floatLines, againLines;
    uint64_t intPuts;
  };
  const Step steps[] = {
      {kIntGate, 48211, 1, 0, 0, 0},         // does not fit: logged, nothing put
      {kIntGate, 50000, 1, 0, 0, 0},         // again: not logged again
      {kFloatGate, 0x7FFFFFFF, 1, 1, 0, 0},  // another gate's failure is its own news
      {kIntGate, 1234, 1, 1, 1, 1},          // fits: put, and said at level 8
      {kIntGate, 1234, 1, 1, 1, 2},          // fits still: nothing more said
      {kIntGate, -40000, 2, 1, 1, 2},        // fails again: logged again
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.value);
    VARIANT v;
    if (step.value == 0x7FFFFFFF) {
      v = OfText(u"warm");
    } else {
      VariantInit(&v);
      v.vt = VT_I4;
      v.lVal = step.value;
    }
    listener_.OnNetworkVariableUpdate(step.gate, &v, -1);
    VariantClear(&v);
    EXPECT_EQ(kesthost::LogCount(intLine, 32), step.intLines);
    EXPECT_EQ(kesthost::LogCount(floatLine, 32), step.floatLines);
    EXPECT_EQ(kesthost::LogCount(again, 8), step.againLines);
    EXPECT_EQ(Gate(kIntGate).puts, step.intPuts);
  }
  EXPECT_EQ(Gate(kIntGate).raw, 1234u << 16) << "a value that did not fit replaced nothing";
  EXPECT_TRUE(kesthost::LogContains(
      "TelMAR: OnNetworkVariableUpdate, update of gate 55 not put: the value 48211 does not fit "
      "a 16-bit integer gate (type 0, addr = 'Plant.Meter.nvoEnergy')",
      32));
  EXPECT_TRUE(kesthost::LogContains("the value -40000 does not fit", 32));
}

TEST_F(LnsConnection, ServicePinTextFitsItsBuffer) {
  const std::string longId(100, 'F');
  const struct {
    const char* id;
    std::string text;
  } rows[] = {
      {"00A1B2C3D4E5", "NeuronId 00A1B2C3D4E5 ServicePin press, at 03/12/01 08:05:09"},
      {"", "NeuronId  ServicePin press, at 03/12/01 08:05:09"},
      {nullptr, "NeuronId  ServicePin press, at 03/12/01 08:05:09"},
      {longId.c_str(),
       "NeuronId " + std::string(35, 'F') + " ServicePin press, at 03/12/01 08:05:09"},
  };
  for (const auto& row : rows) {
    char buffer[kServicePinTextSize + 8];
    std::memset(buffer, 0x5A, sizeof(buffer));
    FormatServicePinText(buffer, row.id, March12th2001());
    EXPECT_EQ(std::string(buffer), row.text);
    EXPECT_EQ(buffer[kServicePinTextSize], 0x5A) << "written past the buffer";
  }
  EXPECT_EQ(rows[3].text.size(), kServicePinTextSize - 1);

  // Fields out of their ranges are cut, not written past the end.
  std::tm odd{};
  odd.tm_year = 2000000000;
  odd.tm_mon = -2000000000;
  odd.tm_mday = -2000000000;
  odd.tm_hour = odd.tm_min = odd.tm_sec = 2000000000;
  char buffer[kServicePinTextSize + 8];
  std::memset(buffer, 0x5A, sizeof(buffer));
  FormatServicePinText(buffer, longId.c_str(), odd);
  EXPECT_EQ(std::strlen(buffer), kServicePinTextSize - 1);
  EXPECT_EQ(buffer[kServicePinTextSize], 0x5A);
}

TEST_F(LnsConnection, ServicePinPressWritesTheServicePinGate) {
  AddGate(kPinGate, kGateText, "!ServicePin");
  SetServicePinTimeSource(&March12th2001);
  listener_.OnSystemServicePin(1, 2, 3, "00A1B2C3D4E5", "9F:FF:FF:05:01:84:04:00", "dev", 1, 2, 0);
  EXPECT_EQ(Gate(kPinGate).text, "NeuronId 00A1B2C3D4E5 ServicePin press, at 03/12/01 08:05:09");
  kesthost::Call call;
  ASSERT_TRUE(kesthost::LastCall("KestGetGateIdByAddressStr", &call));
  EXPECT_EQ(call.args, (std::vector<int64_t>{inst_->clientId, 1}));
  EXPECT_EQ(call.text, "!ServicePin");

  // With the real clock the line has the same shape.
  SetServicePinTimeSource(nullptr);
  listener_.OnSystemServicePin(1, 2, 3, "0102030405", "", "", 1, 2, 0);
  EXPECT_TRUE(
      HasShape(Gate(kPinGate).text, "NeuronId 0102030405 ServicePin press, at 99/99/99 99:99:99"))
      << Gate(kPinGate).text;
}

TEST_F(LnsConnection, ServicePinPressWithoutItsGateWritesNothing) {
  listener_.OnSystemServicePin(1, 2, 3, "00A1B2C3D4E5", "", "", 1, 2, 0);
  EXPECT_TRUE(
      kesthost::LogContains("TelMAR: OnSystemServicePin fail on KestGetGateIdByAddressStr", 8));
  EXPECT_EQ(kesthost::CallCount("KestPutGateStr"), 0u);
}

TEST_F(LnsConnection, AttachmentReportsTheNodeAndWritesItsGate) {
  AddGate(kNodeGate, kGateInt16, "Building.Plant.Pump");
  {
    std::lock_guard<std::mutex> lock(inst_->nodeMapLock);
    inst_->nodeMap.Set(5 + 32000, kNodeGate);
  }
  const struct {
    int32_t isAttached;
    int64_t detached;
    uint32_t raw;
    int lowByte;
  } rows[] = {{1, 0, 65537, 1},
              {0, 1, 0, 0},
              {0x0301, 0, 0x10301, 1},  // attached: the low byte is nonzero
              {0x0100, 1, 0x00100, 0},  // detached: the low byte is zero
              {0x7FFF0002, 0, 0x10002, 2}};
  for (const auto& row : rows) {
    kesthost::ClearLog();
    listener_.OnAttachmentLca(0, 0, 4, row.isAttached, "Pump", 5);
    kesthost::Call call;
    ASSERT_TRUE(kesthost::LastCall("KestSetPlcCommStatus", &call));
    EXPECT_EQ(call.args, (std::vector<int64_t>{inst_->clientId, 1, 5, 1, row.detached}));
    ASSERT_TRUE(kesthost::LastCall("KestPutGateRawValue", &call));
    EXPECT_EQ(call.args, (std::vector<int64_t>{inst_->clientId, kNodeGate, row.raw, 0, 2, 0, 0}));
    std::string n = std::to_string(row.lowByte);
    EXPECT_TRUE(kesthost::LogContains("TelMAR: OnAttachmentLca, hObject 5 IsAttached " + n, 32));
    EXPECT_TRUE(kesthost::LogContains(
        "TelMAR: OnAttachmentLca, GateID = 54. hObject 5 IsAttached " + n, 8));
  }
}

TEST_F(LnsConnection, DetachWithoutANodeGateOnlyReportsTheState) {
  listener_.OnAttachmentLca(0, 0, 4, 0, "Other", 9);
  kesthost::Call call;
  ASSERT_TRUE(kesthost::LastCall("KestSetPlcCommStatus", &call));
  EXPECT_EQ(call.args, (std::vector<int64_t>{inst_->clientId, 1, 9, 1, 1}));
  EXPECT_EQ(kesthost::CallCount("KestPutGateRawValue"), 0u);
  EXPECT_FALSE(kesthost::LogContains("GateID"));
}

// The worker fills nodeMap and a host shutdown clears clientId while events arrive on the
// library's thread; run under the thread sanitizer this shows both sides safe.
TEST_F(LnsConnection, EventsRaceSafelyWithTheWorker) {
  AddGate(kNodeGate, kGateInt16, "Building.Plant.Pump");
  std::atomic<bool> stop{false};
  std::thread events([&] {
    int32_t handle = 0;
    while (!stop.load()) {
      listener_.OnAttachmentLca(0, 0, 4, handle & 1, "dev", handle % 400);
      ++handle;
    }
  });
  for (uint32_t i = 0; i < 400; ++i) {
    std::lock_guard<std::mutex> lock(inst_->nodeMapLock);
    inst_->nodeMap.Set(i + 32000, kNodeGate);
  }
  uint8_t client = inst_->clientId;
  for (int i = 0; i < 200; ++i) inst_->clientId = (i & 1) ? client : 0;
  inst_->clientId = client;
  ASSERT_TRUE(kesthost::WaitFor([] { return kesthost::CallCount("KestPutGateRawValue") > 0; }));
  stop = true;
  events.join();
}

// Events raised on the simulated network reach the gates through the registered listener.
TEST_F(LnsConnection, NetworkEventsArriveThroughTheLibrary) {
  ASSERT_EQ(InitLns(&request_), 0);
  AddGate(kPinGate, kGateText, "!ServicePin");
  AddGate(kFloatGate, kGateFloat, "Building.Floor1.Room101.nvoSpaceTemp");
  AddGate(kNodeGate, kGateInt16, "Building.Floor1.Room101");
  SetServicePinTimeSource(&March12th2001);

  ASSERT_TRUE(lonsim::PressServicePin("Building.Floor1.Room101"));
  lonsim::Drain();
  EXPECT_EQ(Gate(kPinGate).text, "NeuronId 00A1B2C3D4E5 ServicePin press, at 03/12/01 08:05:09");

  CNVItem* item = inst_->lns->AddNV("Building.Floor1.Room101.nvoSpaceTemp", nullptr);
  ASSERT_NE(item, nullptr);
  ASSERT_EQ(inst_->lns->SetNVFormatType(item, VT_R4), 0);
  ASSERT_EQ(inst_->lns->AddListener(item, kFloatGate), 0);
  ASSERT_TRUE(lonsim::SetNVValue("Building.Floor1.Room101.nvoSpaceTemp", 23.5));
  lonsim::Drain();
  float f;
  uint32_t raw = Gate(kFloatGate).raw;
  std::memcpy(&f, &raw, 4);
  EXPECT_FLOAT_EQ(f, 23.5f);

  int32_t handle = lonsim::DeviceHandle("Building.Floor1.Room101");
  ASSERT_GE(handle, 0);
  {
    std::lock_guard<std::mutex> lock(inst_->nodeMapLock);
    inst_->nodeMap.Set(uint32_t(handle) + 32000, kNodeGate);
  }
  ASSERT_TRUE(lonsim::SetDeviceAttached("Building.Floor1.Room101", false));
  lonsim::Drain();
  kesthost::Call call;
  ASSERT_TRUE(kesthost::LastCall("KestSetPlcCommStatus", &call));
  EXPECT_EQ(call.args, (std::vector<int64_t>{inst_->clientId, 1, handle, 1, 1}));
  EXPECT_EQ(Gate(kNodeGate).raw & 0xFFFF0000u, 0u);
  ASSERT_TRUE(lonsim::SetDeviceAttached("Building.Floor1.Room101", true));
  lonsim::Drain();
  EXPECT_EQ(Gate(kNodeGate).raw >> 16, 1u);
}

}  // namespace
