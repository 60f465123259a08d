#include <cstdio>

#include "tests/address/address_fixture.h"

namespace {

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

  EXPECT_EQ(Parse(kRoom, 62, 3, &p), 1u);
  EXPECT_EQ(p.bindingWord, 0u);
  EXPECT_EQ(Errors().back(),
            "TelMAR: ParseNode '" + kRoom + "' fail, invalid gateType (not integer 3)");
  EXPECT_EQ(lonsim::CallCount("GetAppDeviceHandle"), 2);

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
