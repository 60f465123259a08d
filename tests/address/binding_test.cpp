#include <cstdio>

#include "lon/single_io.h"
#include "tests/address/address_fixture.h"

namespace {

// What the driver passes over or refuses without failing the parse gets a level-32 line of its
// own: ignored option text, a format changed under another gate, polling that never happens,
// writes to gates that are only read. Each step parses (or writes) one gate; `line` is the text
// its one new level-32 line contains, null when none may come.
TEST_F(NetworkTest, PassedOverAndRefusedGetALineOfTheirOwn) {
  DefineGate(1, 3, 0, 0);
  DefineGate(2, 3, 0, 1000);
  const struct {
    const char* address;
    uint32_t gate, type;
    const char* line;
  } steps[] = {
      {"/X:q/", 3, 3, "ignores '/X:q', '/' in the options '/X:q/'"},
      {" /m:p", 3, 3, "ignores '/m:p' (options are written /M: and /F:)"},
      {"/M:pi/M:e /F:r/F:i", 2, 3,
       "ignores 'i' after '/M:p', '/M:e' (only the first /M: counts), '/F:i' (only the first /F: "
       "counts)"},
      {"/M:b/F:r", 3, 3, nullptr},
      // Gate 1 polls at rate 0: never.
      {"/M:p", 1, 3,
       "ParseNV '"
       "Building.Floor1.Room101.nvoSpaceTemp' polled by the library "
       "(/M:p) at polling rate 0 (gate 1)"},
      // Gate 4 takes the NV's format from gate 1's VT_R4 to VT_I4.
      {"/F:i", 4, 3,
       "format of 'Building.Floor1.Room101.nvoSpaceTemp' changed from /F:r real (gate 1) to "
       "/F:i integer (gate 4): both gates share it, so gate 1 now gets /F:i integer too and loses "
       "the decimals"},
      {"/F:i", 5, 3, nullptr},  // the same format again
      {"", 4, 3,
       "from /F:i integer (gate 5) to /F:r real (gate 4): both gates share it, so gate 5 now gets "
       "/F:r real too"},  // gate 4 parsed again
      {"/F:b", 8, 7,
       "from /F:r real (gate 4) to /F:b binary (gate 8): both gates share it, so gate 4 now gets "
       "/F:b binary too and fails to read unless it is a text gate"},  // text gate: hex digits
      {"/F:b", 9, 3, "has the byte-array format (/F:b), which only a text gate (type 7) can read"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.address);
    kesthost::ClearLog();
    ASSERT_EQ(Parse(kSpaceTemp + step.address, step.gate, step.type), 0u);
    std::vector<std::string> errors = Errors();
    ASSERT_EQ(errors.size(), step.line ? 1u : 0u) << (errors.empty() ? "" : errors[0]);
    if (step.line) {
      EXPECT_NE(errors[0].find(step.line), std::string::npos) << errors[0];
    }
  }

  // A field and its NV keep formats of their own.
  kesthost::ClearLog();
  ASSERT_EQ(Parse(kLampValue + "/F:d", 6, 3), 0u);
  ASSERT_EQ(Parse(kLampValue + "/F:i", 7, 3), 0u);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_NE(Errors()[0].find("ParseNVF format of '" + kLampValue +
                             "' changed from /F:d discrete (gate 6) to /F:i integer"),
            std::string::npos);

  // Writes that are refused before the network is asked.
  uint32_t cell = 0;
  const std::pair<uint32_t, const char*> writes[] = {
      {0x0003, "SingleWrite refused, a node gate is only read (addr = 'a node')"},
      {0x0104, "SingleWrite refused, this special gate is only read (addr = 'a node')"},
      {0x0009, "SingleWrite refused, invalid memType (9) (addr = 'a node')"},
  };
  for (const auto& [word, line] : writes) {
    kesthost::ClearLog();
    GateIoParams io{};
    io.address = "a node";
    io.nodeValue = 32001;
    io.bindingWord = word;
    io.gateType = 1;
    io.valueCell = &cell;
    request_.params = &io;
    EXPECT_EQ(SingleWrite(&request_), 1u);
    ASSERT_EQ(Errors().size(), 1u) << line;
    EXPECT_EQ(Errors()[0], std::string("TelMAR: ") + line);
  }
}

using Args = std::vector<int64_t>;
using BindingTest = NetworkTest;

TEST_F(BindingTest, NVAndFieldGatesAreRecordedAndReported) {
  DefineGate(11, 3);
  const int32_t hNode = lonsim::DeviceHandle(kRoom);
  GateAddressParams p;
  ASSERT_EQ(Parse(kSpaceTemp, 11, 3, &p), 0u);
  EXPECT_EQ(p.bindingWord, 1u);
  EXPECT_EQ(p.nodeValue, hNode);
  EXPECT_EQ(lonsim::LastArgs("SetNVFormatType"), Args{4});  // the gate type's
  GateBinding* b = Binding(11);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->nvItem, p.nvItem);
  EXPECT_EQ(b->kind + b->fieldIndex, 1);
  EXPECT_EQ(inst_->knownItems.count(p.nvItem), 1u);
  EXPECT_TRUE(kesthost::LogContains(
      "TelMAR: ParseNV NV = '" + kSpaceTemp + "' hNode = " + std::to_string(hNode), 8));

  // The same gate again, now on a field: one record, rewritten in place.
  GateAddressParams q;
  ASSERT_EQ(Parse(kLampValue + " /F:b", 11, 3, &q), 0u);
  const int64_t index = lonsim::LastArgs("AddNVF").at(0);
  EXPECT_EQ(q.bindingWord, 2u | static_cast<uint32_t>(index) << 8);
  EXPECT_EQ(lonsim::LastArgs("SetNVFFormatType"), (Args{index, 0x2011}));
  EXPECT_EQ(inst_->bindingMap.Count(), 1u);
  EXPECT_EQ(Binding(11), b);
  EXPECT_EQ(b->nvItem, q.nvItem);
  EXPECT_NE(q.nvItem, p.nvItem);
  EXPECT_EQ(b->kind, 2);
  EXPECT_EQ(b->fieldIndex, index);
  EXPECT_TRUE(kesthost::LogContains("TelMAR: ParseNVF '" + kLampValue + "' pass", 8));
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(BindingTest, PollingBindingAndTheWorkersFollowUp) {
  const struct {
    std::string address;
    bool defined;
    int32_t updateMode;
    const char* call;
    Args args;  // of the call
    uint32_t message;
  } cases[] = {
      {kSpaceTemp + "/M:p", true, 0, "PollNV", {2500, 1}, 0},
      {kSpaceTemp + "/M:p", false, 0, "PollNV", {0, 1}, 2026},
      {kLampValue + "/M:p", false, 0, "PollNVF", {3000, 1}, 2026},
      {kLampValue + "/M:e", false, 0, "BindNVF", {4, 0}, 0},
      {kSpaceTemp + "/M:a", true, 2, "BindNV", {5, 0}, 2024},
      {kLampValue + "/M:p", true, 2, "PollNVF", {2500, 1}, 2024},
      {kSpaceTemp, true, 2, nullptr, {}, 2024},
      {kSpaceTemp, false, 2, nullptr, {}, 0},
  };
  uint32_t gate = 100;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address + (c.defined ? " defined" : " undefined"));
    kesthost::ClearLog();
    lonsim::ResetCounters();
    if (c.defined)
      DefineGate(++gate, 3, c.updateMode, 2500);
    else
      ++gate;
    ASSERT_EQ(Parse(c.address, gate, 3), 0u);
    if (c.call) {
      Args args = lonsim::LastArgs(c.call);
      if (std::string(c.call).back() == 'F') args.erase(args.begin());  // the field index
      EXPECT_EQ(args, c.args);
    }
    EXPECT_EQ(lonsim::CallCount("PollNV") + lonsim::CallCount("BindNV") +
                  lonsim::CallCount("PollNVF") + lonsim::CallCount("BindNVF"),
              c.call ? 1 : 0);
    EXPECT_EQ(kesthost::LogCount("fail on Kest5GetGateDef", 8), c.defined ? 0u : 1u);
    std::vector<ThreadMessage> messages = TakeMessages();
    ASSERT_EQ(messages.size(), c.message ? 1u : 0u);
    if (c.message) {
      EXPECT_EQ(messages[0].id, c.message);
      EXPECT_EQ(messages[0].wParam, gate);
      EXPECT_EQ(messages[0].lParam, static_cast<intptr_t>(Binding(gate)->generation));
    }
  }
}

TEST_F(BindingTest, FailedStepLeavesResultsAndMapUntouched) {
  const struct {
    const char* operation;
    int result;
    std::string address, line;
  } cases[] = {
      {"AddNV", 1, kSpaceTemp, "ParseNV fail on AddNV '" + kSpaceTemp + "'"},
      {"SetNVFormatType", 1, kSpaceTemp,
       "ParseNV fail on SetNVFormatType '" + kSpaceTemp + "' (vt = 4)"},
      {"PollNV", 1, kSpaceTemp + "/M:p", "ParseNV fail on PollNV '" + kSpaceTemp + "'"},
      {"SplitNVFName", 1, kLampValue, "ParseNVF fail on SplitNVFName '" + kLampValue + "'"},
      {"AddNV", 1, kLampValue, "ParseNVF fail on AddNV '" + kRoom + ".nvoLamp'"},
      {"NVFNameToIndex", -1, kLampValue,
       "ParseNVF fail on NVFNameToIndex '" + kLampValue + "', 'value'"},
      {"AddNVF", 1, kLampValue, "ParseNVF fail on AddNVF '" + kLampValue + "'"},
      {"BindNVF", 1, kLampValue + "/M:a", "ParseNVF fail on BindNVF '" + kLampValue + "'"},
  };
  DefineGate(30, 3, 2, 1000);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.operation) + " " + c.address);
    kesthost::ClearLog();
    lonsim::FailNext(c.operation, c.result);
    GateAddressParams p;
    EXPECT_EQ(Parse(c.address, 30, 3, &p), 1u);
    ExpectInitialOutFields(p);
    EXPECT_TRUE(inst_->bindingMap.Empty());
    EXPECT_EQ(Errors(), std::vector<std::string>{"TelMAR: " + c.line});
    EXPECT_TRUE(TakeMessages().empty());
  }
  EXPECT_EQ(inst_->knownItems.size(), 2u);  // both items the library did give stay known
}

TEST_F(BindingTest, FieldIndexMustFitItsByte) {
  DefineGate(40, 3);
  GateAddressParams p;
  ASSERT_EQ(Parse(kSamples + ".s255", 40, 3, &p), 0u);
  EXPECT_EQ(p.bindingWord, 0xFF02u);
  EXPECT_EQ(Binding(40)->fieldIndex, 255);
  for (int index : {256, 299}) {
    SCOPED_TRACE(index);
    kesthost::ClearLog();
    lonsim::ResetCounters();
    std::string address = kSamples + ".s" + std::to_string(index);
    EXPECT_EQ(Parse(address, 41, 3, &p), 1u);
    ExpectInitialOutFields(p);
    EXPECT_EQ(Binding(41), nullptr);
    EXPECT_EQ(lonsim::CallCount("AddNVF") + lonsim::CallCount("SetNVFFormatType"), 0);
    std::vector<std::string> errors = Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("TelMAR: ", 0), 0u);
    size_t at = errors[0].find(address);
    ASSERT_NE(at, std::string::npos) << errors[0];
    EXPECT_NE(errors[0].erase(at, address.size()).find(std::to_string(index)), std::string::npos);
  }
}

// A boolean gate shows one bit: a field of several bits on one gets a level-32 line at parse
// (the gate binds all the same); a one-bit field, or an integer gate, none.
TEST_F(BindingTest, BooleanGateOnAFieldOfSeveralBitsIsSaidAtParse) {
  dir_.WriteFile("bits.net",
                 "subsystem Plant\n"
                 "device Plant.Unit handle 1 neuron 00A1B2C3D601 program 9000A7200A040410\n"
                 "block Plant.Unit.Ctl\n"
                 "nv Plant.Unit.nvoDoor output SNVT_ent_status\n"
                 "nv Plant.Unit.nvoCard output SNVT_ISO_7811\n"
                 "nv Plant.Unit.nvoLamp output SNVT_switch value 100 1\n");
  inst_->lns->Release();
  inst_->lns = CLns::GetLnsObject(0, 0, 1, '.', "", "", "");
  ASSERT_NE(inst_->lns, nullptr);
  ASSERT_EQ(inst_->lns->Init(nullptr, 1), 0);
  ASSERT_EQ(inst_->lns->Open("bits.net", "", "", ""), 0) << lonsim::LastError();
  const struct {
    const char* field;
    uint32_t type;
    int bits;  // 0: no line
  } rows[] = {
      {"Plant.Unit.nvoCard.digit1", 6, 4},     {"Plant.Unit.nvoLamp.value", 6, 8},
      {"Plant.Unit.nvoDoor.unlocked", 6, 0},   {"Plant.Unit.nvoCard.digit2", 0, 0},
      {"Plant.Unit.nvoLamp.state /F:i", 6, 8},
  };
  uint32_t gate = 90;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.field);
    kesthost::ClearLog();
    ASSERT_EQ(Parse(row.field, gate, row.type), 0u);
    std::vector<std::string> errors = Errors();
    ASSERT_EQ(errors.size(), row.bits ? 1u : 0u) << (errors.empty() ? "" : errors[0]);
    if (row.bits) {
      std::string address = row.field;
      address.erase(address.find_first_of(' ') == std::string::npos ? address.size()
                                                                    : address.find(' '));
      EXPECT_EQ(errors[0], "TelMAR: ParseNVF '" + address + "' is a field of " +
                               std::to_string(row.bits) + " bits on a boolean gate (gate " +
                               std::to_string(gate) +
                               "): every value but 0 reads as 1 (true); an integer gate shows "
                               "its values");
    }
    ++gate;
  }
}

TEST_F(BindingTest, NodeGates) {
  const int32_t hNode = lonsim::DeviceHandle(kRoom);
  GateAddressParams p;
  ASSERT_EQ(Parse(kRoom, 60, 1, &p), 0u);
  EXPECT_EQ(p.bindingWord, 3u);
  EXPECT_EQ(p.nodeValue, hNode + 32000);
  EXPECT_EQ(p.nvItem, nullptr);
  // A second gate on the node is set too, but events keep updating the first.
  ASSERT_EQ(Parse(kRoom + " /M:p /F:r", 61, 0, &p), 0u);
  EXPECT_EQ(p.nodeValue, hNode + 32000);
  EXPECT_EQ(inst_->nodeMap.Count(), 1u);
  EXPECT_EQ(*inst_->nodeMap.Find(hNode + 32000), 60u);
  EXPECT_EQ(kesthost::LogCount("TelMAR: ParseNode AddNodeToMap Node = '" + kRoom +
                               "' hNode = " + std::to_string(hNode)),
            1u);
  std::vector<ThreadMessage> messages = TakeMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].id, 2025u);
  EXPECT_EQ(messages[1].wParam, 1u);
  EXPECT_EQ(messages[1].lParam, 61);
  EXPECT_EQ(lonsim::CallCount("AddNV") + lonsim::CallCount("PollNV"), 0);

  // The first value is the node's state at parse time: 0 for a detached device.
  ASSERT_TRUE(lonsim::SetDeviceAttached(kRoom, false));
  lonsim::Drain();
  ASSERT_EQ(Parse(kRoom, 61, 1, &p), 0u);
  messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].id, 2025u);
  EXPECT_EQ(messages[0].wParam, 0u);
  ASSERT_TRUE(lonsim::SetDeviceAttached(kRoom, true));
  lonsim::Drain();

  EXPECT_EQ(Parse(kRoom, 62, 3, &p), 1u);
  EXPECT_EQ(p.bindingWord, 0u);
  EXPECT_EQ(Errors().back(),
            "TelMAR: ParseNode '" + kRoom + "' fail, invalid gateType (not integer 3)");
  EXPECT_EQ(lonsim::CallCount("GetAppDeviceHandle"), 3);

  const struct {
    int32_t handle;
    uint32_t rc;
  } handles[] = {{31999, 0}, {-5, 0}, {0x7FFFFFFF, 1}, {32000, 1}};
  for (const auto& c : handles) {
    SCOPED_TRACE(c.handle);
    inst_->nodeMap.RemoveAll();
    lonsim::FailNext("GetAppDeviceHandle", c.handle);
    EXPECT_EQ(Parse(kRoom, 70, 1, &p), c.rc);
    EXPECT_EQ(p.bindingWord, 3u);
    EXPECT_EQ(p.nodeValue, c.rc ? 0 : c.handle + 32000);
    EXPECT_EQ(inst_->nodeMap.Count(), c.rc ? 0u : 1u);
    EXPECT_EQ(TakeMessages().size(), c.rc ? 0u : 1u);
  }
  EXPECT_EQ(Errors().back(), "TelMAR: ParseNode '" + kRoom + "' fail, invalid hNode = '7d00'");
}

}  // namespace
