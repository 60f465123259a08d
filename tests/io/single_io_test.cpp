// Single read and write through the command handlers, against the simulated demo network.
#include <string>
#include <vector>

#include "tests/io/io_fixture.h"

namespace iotest {
namespace {

using Args = std::vector<int64_t>;
using SingleIoTest = IoFixture;
constexpr uint32_t kServicePin = 0x0104, kBrowse = 0x0204;
uint32_t FieldWord(int index) {
  return kBindNVF | uint32_t(index & 0xFF) << 8;
}

TEST_F(SingleIoTest, NodeReadTestsTheHandleAndKeepsTheHostHalf) {
  ASSERT_TRUE(lonsim::SetDeviceAttached("Building.Plant.Pump", false));  // handle 11
  lonsim::Drain();
  struct {
    int32_t nodeValue;
    uint32_t result;
    int64_t handle;  // -1: not asked
    uint32_t cell;
  } cases[] = {{32001, 0, 1, 0x0001A5A5},
               {32011, 0, 11, 0x0000A5A5},
               {32000, 0, 0, 0x0000A5A5},
               {31999, 1, -1, kPoison}};
  for (const auto& c : cases) {
    lonsim::ResetCounters();
    uint32_t cell = kPoison;
    EXPECT_EQ(Io(kSingleRead, kBindNode, nullptr, 1, &cell, c.nodeValue), c.result);
    EXPECT_EQ(cell, c.cell) << c.nodeValue;
    EXPECT_EQ(lonsim::LastArgs("TestNodeByHandle"), (c.handle < 0 ? Args{} : Args{c.handle, 1}));
  }
  EXPECT_TRUE(kesthost::LogContains("TelMAR: SingleRead fail, invalid node (31999)", 32));
}

TEST_F(SingleIoTest, SpecialGatesOddKindsAndBlockCommands) {
  uint32_t cell = kPoison;
  EXPECT_EQ(Io(kSingleRead, kServicePin, nullptr, 7, &cell), 1u);
  EXPECT_EQ(Io(kSingleRead, kBrowse, nullptr, 1, &cell), 1u);
  EXPECT_TRUE(kesthost::Log().empty());
  EXPECT_EQ(Io(kSingleRead, 7, nullptr, 1, &cell, 0, "odd"), 1u);
  EXPECT_TRUE(kesthost::LogContains("TelMAR: SingleRead fail, invalid memType (7) (addr = 'odd')"));
  EXPECT_EQ(Io(kSingleWrite, kServicePin, nullptr, 7, &cell), 1u);
  EXPECT_EQ(Io(kSingleWrite, kBindNode, nullptr, 1, &cell, 32001), 1u);
  EXPECT_EQ(lonsim::CallCount("Browse") + lonsim::CallCount("TestNodeByHandle"), 0);
  EXPECT_EQ(cell, kPoison);

  // {browseSubsysAll, browseSubsysDiscovered, browseFromLns (never counts here), flags}
  const int cases[][4] = {{1, 1, 0, 1}, {0, 1, 1, 5}, {1, 0, 0, 9}, {0, 0, 1, 13}};
  for (const auto& c : cases) {
    inst_->browseSubsysAll = c[0], inst_->browseSubsysDiscovered = c[1],
    inst_->browseFromLns = c[2];
    EXPECT_EQ(Io(kSingleWrite, kBrowse, nullptr, 1, &cell, 0, "!Browse"), 0u);
    EXPECT_EQ(lonsim::LastArgs("Browse"), (Args{c[3], 1}));
  }
  EXPECT_TRUE(kesthost::LogContains("TelMAR: SingleWrite enter, (addr = '!Browse')", 8));
  EXPECT_EQ(kesthost::LogCount("TelMAR: SingleWrite reBrowse", 8), 4u);

  EXPECT_EQ(BlockRead(&request_), 1u);
  EXPECT_TRUE(kesthost::LogContains("TelMAR: BlockRead () not supported in this driver", 32));
  size_t lines = kesthost::Log().size();
  EXPECT_EQ(BlockWrite(&request_), 1u);
  EXPECT_EQ(kesthost::Log().size(), lines);
}

TEST_F(SingleIoTest, SamplerIsAskedOnlyAtTheFirstRead) {
  // {ask fails, active, warnings}
  const int cases[][3] = {{0, 1, 1}, {0, 0, 0}, {1, 1, 0}};
  for (const auto& c : cases) {
    inst_->samplerChecked = 0;
    kesthost::ClearCalls(), kesthost::ClearLog();
    kesthost::SetSampler(0, c[1]);
    if (c[0]) kesthost::FailCall("KestGetSingleVpiSampler", 5);
    Io(kSingleRead, kBrowse, nullptr, 1, nullptr);
    Io(kSingleRead, kBrowse, nullptr, 1, nullptr);
    EXPECT_EQ(kesthost::CallCount("KestGetSingleVpiSampler"), 1u);
    EXPECT_EQ(kesthost::LogCount("TelMAR: WARNING, vpi sampler is active, dederir.dll is not "
                                 "update !!!",
                                 32),
              size_t(c[2]));
  }
}

TEST_F(SingleIoTest, ReadsChooseTheMonitoredValueOnlyForListenedItems) {
  CNVItem* temp = Item(kSpaceTemp, VT_R4);
  CNVItem* lamp = Item(kLampIn, VT_I2);
  int state = Field(lamp, "state");
  ASSERT_TRUE(lonsim::SetNVValue(kSpaceTemp, 21.5));
  lonsim::Drain();
  uint32_t cell = kPoison;
  ASSERT_EQ(Io(kSingleRead, kBindNV, temp, 3, &cell), 0u);
  EXPECT_EQ(AsFloat(cell), 21.5f);
  EXPECT_EQ(lonsim::LastArgs("ReadNV"), Args{0});
  inst_->lns->AddListener(temp, 40u);
  ASSERT_EQ(Io(kSingleRead, kBindNV, temp, 3, &cell), 0u);
  EXPECT_EQ(lonsim::LastArgs("ReadNV"), Args{1});

  inst_->lns->AddListener(lamp, 41u);  // the whole NV's listener does not count for a field
  ASSERT_EQ(Io(kSingleRead, FieldWord(state), lamp, 1, &cell), 0u);
  EXPECT_EQ(lonsim::LastArgs("ReadNVF"), (Args{state, 0}));
  inst_->lns->AddListener(lamp, state, 42u);
  ASSERT_EQ(Io(kSingleRead, FieldWord(state), lamp, 1, &cell), 0u);
  EXPECT_EQ(lonsim::LastArgs("ReadNVF"), (Args{state, 1}));
}

TEST_F(SingleIoTest, FailedReadsAndWritesSayWhichStepFailed) {
  CNVItem* temp = Item(kSpaceTemp, VT_BSTR);  // text "21.5" still converts to a float
  CNVItem* message = Item(kMessage, VT_BSTR);
  CNVItem* setpoint = Item(kSetpoint, VT_R4);
  CNVItem* lamp = Item(kLampIn, VT_I2);
  int state = Field(lamp, "state");
  uint32_t cell = kPoison;
  struct {
    const char* op;
    uint32_t command, word;
    CNVItem* item;
    const char* message;
    int level;
  } cases[] = {
      {"ReadNV", kSingleRead, kBindNV, temp, "NVSingleRead fail on ReadNV", 8},
      {"ReadNVF", kSingleRead, FieldWord(state), lamp, "NVFSingleRead fail on GetNVFVal", 8},
      {"", kSingleRead, kBindNV, message, "NVSingleRead fail on VariantToKestValue", 8},
      {"WriteNV", kSingleWrite, kBindNV, setpoint, "NVSingleWrite failed on WriteNV", 32},
      {"WriteNVF", kSingleWrite, FieldWord(state), lamp, "NVFSingleWrite failed on PutNVFVal", 32},
  };
  for (const auto& c : cases) {
    if (*c.op) lonsim::FailNext(c.op);
    EXPECT_EQ(Io(c.command, c.word, c.item, 3, &cell), 1u) << c.message;
    EXPECT_TRUE(kesthost::LogContains(std::string("TelMAR: ") + c.message + " (addr = 'gate.addr')",
                                      c.level))
        << c.message;
  }
  EXPECT_EQ(cell, kPoison);
  ASSERT_EQ(Io(kSingleRead, kBindNV, temp, 3, &cell), 0u);
  EXPECT_EQ(AsFloat(cell), 21.5f);

  // A network value that the gate type cannot hold fails the read with the value and the range,
  // at level 32: four BCD digits do not hold -2.5.
  ASSERT_TRUE(lonsim::SetNVValue(kSpaceTemp, -2.5));
  lonsim::Drain();
  cell = kPoison;
  kesthost::ClearLog();
  EXPECT_EQ(Io(kSingleRead, kBindNV, Item(kSpaceTemp, VT_R4), 2, &cell), 1u);
  EXPECT_EQ(cell, kPoison);
  EXPECT_TRUE(
      kesthost::LogContains("TelMAR: NVSingleRead fail, value -2.5 does not fit gate type "
                            "2 (four-digit BCD, 0 to 9999) (addr = 'gate.addr')",
                            32));
}

TEST_F(SingleIoTest, WritesReachTheNetworkAndTextIsCutAtEighty) {
  uint32_t cell = 0x41B80000;  // 23.0f
  ASSERT_EQ(Io(kSingleWrite, kBindNV, Item(kSetpoint, VT_R4), 3, &cell), 0u);
  double value = 0;
  ASSERT_TRUE(lonsim::GetNVValue(kSetpoint, &value));
  EXPECT_EQ(value, 23.0);
  CNVItem* lamp = Item(kLampIn, VT_I2);
  cell = 1u << 16;
  ASSERT_EQ(Io(kSingleWrite, FieldWord(Field(lamp, "state")), lamp, 1, &cell), 0u);
  std::vector<uint8_t> raw;
  ASSERT_TRUE(lonsim::GetNVRaw(kLampIn, &raw));
  EXPECT_EQ(raw, (std::vector<uint8_t>{0, 1}));

  std::string text;
  for (int i = 0; i < 100; ++i) text += char('a' + i % 26);
  ASSERT_TRUE(lonsim::SetNVText(kMessage, text));
  lonsim::Drain();
  char buffer[128];
  std::memset(buffer, 'X', sizeof buffer);
  ASSERT_EQ(Io(kSingleRead, kBindNV, Item(kMessage, VT_BSTR), 7, buffer), 0u);
  EXPECT_EQ(std::string(buffer), text.substr(0, 80));
  EXPECT_EQ(buffer[81], 'X');
}

// The host hands back what it stored: a missing cell, or an item this instance's parser never
// returned, is refused before anything is dereferenced.
TEST_F(SingleIoTest, MissingCellOrForeignItemIsRefused) {
  CNVItem* temp = Item(kSpaceTemp, VT_R4);
  int unused = 0;
  CNVItem* foreign = inst_->lns->AddNV(kSetpoint.c_str(), &unused);
  uint32_t cell = kPoison;
  const std::pair<CNVItem*, uint32_t*> cases[] = {
      {temp, nullptr}, {foreign, &cell}, {reinterpret_cast<CNVItem*>(16), &cell}, {nullptr, &cell}};
  for (const auto& [item, cellPtr] : cases) {
    for (uint32_t command : {kSingleRead, kSingleWrite}) {
      for (uint32_t word : {uint32_t{kBindNV}, FieldWord(0)}) {
        kesthost::ClearLog();
        EXPECT_EQ(Io(command, word, item, 3, cellPtr), 1u);
        auto log = kesthost::Log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().level, 32);
        EXPECT_EQ(log.back().text.rfind("TelMAR: ", 0), 0u);
        EXPECT_NE(log.back().text.find("gate.addr"), std::string::npos) << log.back().text;
      }
    }
  }
  EXPECT_EQ(cell, kPoison);
  for (const char* op : {"ReadNV", "ReadNVF", "WriteNV", "WriteNVF", "GetListenersCount"})
    EXPECT_EQ(lonsim::CallCount(op), 0) << op;
  EXPECT_EQ(Io(kSingleRead, kBindNode, nullptr, 1, nullptr, 32001), 1u);
  EXPECT_TRUE(kesthost::LogContains("gate.addr", 32));
}

}  // namespace
}  // namespace iotest
