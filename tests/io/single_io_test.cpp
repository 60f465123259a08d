// Single read and write through the command handlers, against the simulated demo network.
#include "lon/single_io.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/host_api.h"
#include "lon/value_conversion.h"
#include "tests/io/io_fixture.h"

namespace iotest {
namespace {

constexpr uint32_t kWordNV = kBindNV;
constexpr uint32_t kWordNode = kBindNode;
constexpr uint32_t kWordServicePin = 0x0104;
constexpr uint32_t kWordBrowse = 0x0204;

uint32_t NVFWord(int index) {
  return kBindNVF | (static_cast<uint32_t>(index & 0xFF) << 8);
}

using SingleIoTest = IoFixture;

TEST_F(SingleIoTest, NodeReadsTestTheHandleAboveTheOffset) {
  ASSERT_EQ(lonsim::DeviceHandle(kRoom), 1);
  int32_t pump = lonsim::DeviceHandle(kPump);
  ASSERT_GE(pump, 0);
  ASSERT_TRUE(lonsim::SetDeviceAttached(kPump, false));
  lonsim::Drain();

  struct Case {
    const char* what;
    int32_t nodeValue;
    uint32_t result;
    int expectedHandle;  // -1: the library is not asked
    uint16_t expectedValue;
  };
  const Case cases[] = {
      {"answering node", 32000 + 1, 0, 1, 1},
      {"detached node", 32000 + pump, 0, pump, 0},
      {"handle 0", 32000, 0, 0, 0},
      {"below the offset", 31999, 1, -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    lonsim::ResetCounters();
    kesthost::ClearLog();
    uint32_t cell = kPoison;
    GateIoParams io;
    VpiRequest r = IoRequest(&io, kSingleRead, "node", kWordNode, nullptr, 1, &cell, c.nodeValue);
    EXPECT_EQ(SingleRead(&r), c.result);
    if (c.expectedHandle < 0) {
      EXPECT_EQ(lonsim::CallCount("TestNodeByHandle"), 0);
      EXPECT_EQ(cell, kPoison);
      EXPECT_TRUE(kesthost::LogContains(
          "TelMAR: SingleRead fail, invalid node (" + std::to_string(c.nodeValue) + ")", 32));
      continue;
    }
    EXPECT_EQ(lonsim::LastArgs("TestNodeByHandle"),
              (std::vector<int64_t>{c.expectedHandle, kIOOptMonitored}));
    EXPECT_EQ(Cell16(cell), c.expectedValue);
    EXPECT_EQ(cell & 0xFFFFu, kPoison & 0xFFFFu) << "bytes 0..1 belong to the host";
  }
}

TEST_F(SingleIoTest, SpecialGatesAreWriteOnlyAndBrowseReloadsTheTree) {
  uint32_t cell = kPoison;
  for (uint32_t word : {kWordServicePin, kWordBrowse}) {
    GateIoParams io;
    VpiRequest r = IoRequest(&io, kSingleRead, "!special", word, nullptr, 1, &cell);
    kesthost::ClearLog();
    EXPECT_EQ(SingleRead(&r), 1u);
    EXPECT_TRUE(kesthost::Log().empty());
    EXPECT_EQ(cell, kPoison);
  }

  GateIoParams io;
  VpiRequest pin = IoRequest(&io, kSingleWrite, "!ServicePin", kWordServicePin, nullptr, 7, &cell);
  EXPECT_EQ(SingleWrite(&pin), 1u);
  EXPECT_EQ(lonsim::CallCount("Browse"), 0);

  // browseFromLns never changes the reload's flags.
  struct Case {
    int32_t subsysAll, subsysDiscovered, fromLns;
    int64_t flags;
  };
  const Case cases[] = {{1, 1, 0, 1}, {0, 1, 1, 5}, {1, 0, 0, 9}, {0, 0, 1, 13}, {0, 0, 0, 13}};
  for (const Case& c : cases) {
    inst_->browseSubsysAll = c.subsysAll;
    inst_->browseSubsysDiscovered = c.subsysDiscovered;
    inst_->browseFromLns = c.fromLns;
    kesthost::ClearLog();
    VpiRequest r = IoRequest(&io, kSingleWrite, "!Browse", kWordBrowse, nullptr, 1, &cell);
    EXPECT_EQ(SingleWrite(&r), 0u);
    EXPECT_EQ(lonsim::LastArgs("Browse"), (std::vector<int64_t>{c.flags, 1}));
    EXPECT_TRUE(kesthost::LogContains("TelMAR: SingleWrite enter, (addr = '!Browse')", 8));
    EXPECT_TRUE(kesthost::LogContains("TelMAR: SingleWrite reBrowse", 8));
  }
}

TEST_F(SingleIoTest, UnknownKindsAndBlockCommandsFail) {
  uint32_t cell = kPoison;
  GateIoParams io;
  VpiRequest r = IoRequest(&io, kSingleRead, "odd.gate", 7, nullptr, 1, &cell);
  EXPECT_EQ(SingleRead(&r), 1u);
  EXPECT_TRUE(kesthost::LogContains(
      "TelMAR: SingleRead fail, invalid memType (7) (addr = 'odd.gate')", 32));

  kesthost::ClearLog();
  r = IoRequest(&io, kSingleWrite, "node", kWordNode, nullptr, 1, &cell, 32001);
  EXPECT_EQ(SingleWrite(&r), 1u);
  r.params = &io;
  io.bindingWord = 7;
  EXPECT_EQ(SingleWrite(&r), 1u);
  EXPECT_EQ(kesthost::Log().size(), 2u) << "only the two enter lines";
  EXPECT_EQ(lonsim::CallCount("TestNodeByHandle"), 0);

  kesthost::ClearLog();
  EXPECT_EQ(BlockRead(&request_), 1u);
  EXPECT_TRUE(kesthost::LogContains("TelMAR: BlockRead () not supported in this driver", 32));
  kesthost::ClearLog();
  EXPECT_EQ(BlockWrite(&request_), 1u);
  EXPECT_TRUE(kesthost::Log().empty());
}

TEST_F(SingleIoTest, SamplerIsAskedOnceAtTheFirstRead) {
  struct Case {
    const char* what;
    bool fail;
    int32_t active;
    size_t warnings;
  };
  const Case cases[] = {
      {"active", false, 1, 1}, {"inactive", false, 0, 0}, {"ask fails", true, 1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    inst_->samplerChecked = 0;
    kesthost::ClearCalls();
    kesthost::ClearLog();
    kesthost::SetSampler(0, c.active);
    if (c.fail) kesthost::FailCall("KestGetSingleVpiSampler", 5);
    uint32_t cell = 0;
    GateIoParams io;
    VpiRequest r = IoRequest(&io, kSingleRead, "!Browse", kWordBrowse, nullptr, 1, &cell);
    SingleRead(&r);
    SingleRead(&r);
    // Even a failed ask is not repeated.
    EXPECT_EQ(kesthost::CallCount("KestGetSingleVpiSampler"), 1u);
    EXPECT_EQ(inst_->samplerChecked, 1u);
    EXPECT_EQ(kesthost::LogCount(
                  "TelMAR: WARNING, vpi sampler is active, dederir.dll is not update !!!", 32),
              c.warnings);
  }
}

TEST_F(SingleIoTest, NVReadUsesTheMonitoredValueOnlyWhenListened) {
  CNVItem* temp = AddItem(kSpaceTemp, VT_R4);
  CNVItem* lamp = AddItem(kLamp, VT_I2);
  int field = AddField(lamp, "state", VT_I2);
  ASSERT_GE(field, 0);
  uint32_t cell = 0;
  GateIoParams io;
  VpiRequest nv = IoRequest(&io, kSingleRead, kSpaceTemp.c_str(), kWordNV, temp, 3, &cell);
  ASSERT_EQ(SingleRead(&nv), 0u);
  EXPECT_EQ(lonsim::LastArgs("ReadNV").back(), kIOOptDevice);
  ASSERT_EQ(inst_->lns->AddListener(temp, 40u), 0);
  ASSERT_EQ(SingleRead(&nv), 0u);
  EXPECT_EQ(lonsim::LastArgs("ReadNV").back(), kIOOptMonitored);

  GateIoParams fio;
  VpiRequest nvf = IoRequest(&fio, kSingleRead, "lamp.state", NVFWord(field), lamp, 1, &cell);
  ASSERT_EQ(SingleRead(&nvf), 0u);
  EXPECT_EQ(lonsim::LastArgs("ReadNVF").back(), kIOOptDevice);
  ASSERT_EQ(inst_->lns->AddListener(lamp, field, 41u), 0);
  ASSERT_EQ(SingleRead(&nvf), 0u);
  EXPECT_EQ(lonsim::LastArgs("ReadNVF").back(), kIOOptMonitored);
  // A listener of the NV as a whole does not make a field read monitored, and vice versa.
  EXPECT_EQ(inst_->lns->RemoveListener(lamp, field, 41u), 0);
  ASSERT_EQ(inst_->lns->AddListener(lamp, 42u), 0);
  ASSERT_EQ(SingleRead(&nvf), 0u);
  EXPECT_EQ(lonsim::LastArgs("ReadNVF").back(), kIOOptDevice);
}

TEST_F(SingleIoTest, NVReadFillsTheCellOrLeavesItOnFailure) {
  CNVItem* temp = AddItem(kSpaceTemp, VT_R4);
  ASSERT_TRUE(lonsim::SetNVValue(kSpaceTemp, 21.5));
  lonsim::Drain();
  uint32_t cell = kPoison;
  GateIoParams io;
  VpiRequest r = IoRequest(&io, kSingleRead, "temp", kWordNV, temp, 3, &cell);
  ASSERT_EQ(SingleRead(&r), 0u);
  EXPECT_FLOAT_EQ(CellFloat(cell), 21.5f);

  cell = kPoison;
  lonsim::FailNext("ReadNV");
  EXPECT_EQ(SingleRead(&r), 1u);
  EXPECT_EQ(cell, kPoison);
  EXPECT_TRUE(kesthost::LogContains("TelMAR: NVSingleRead fail on ReadNV (addr = 'temp')", 8));

  // Letters cannot become a float.
  CNVItem* display = AddItem(kDisplay, VT_BSTR);
  ASSERT_TRUE(lonsim::SetNVText(kDisplay, "hello"));
  lonsim::Drain();
  r = IoRequest(&io, kSingleRead, "display", kWordNV, display, 3, &cell);
  EXPECT_EQ(SingleRead(&r), 1u);
  EXPECT_EQ(cell, kPoison);
  EXPECT_TRUE(kesthost::LogContains(
      "TelMAR: NVSingleRead fail on VariantToKestValue (addr = 'display')", 8));
}

TEST_F(SingleIoTest, TextGateReceivesAtMostEightyCharacters) {
  CNVItem* message = AddItem(kMessage, VT_BSTR);
  std::string text;
  for (int i = 0; i < 100; ++i) text += static_cast<char>('a' + i % 26);
  ASSERT_TRUE(lonsim::SetNVText(kMessage, text));
  lonsim::Drain();
  char buffer[128];
  std::memset(buffer, 'X', sizeof buffer);
  GateIoParams io;
  VpiRequest r = IoRequest(&io, kSingleRead, "message", kWordNV, message, 7, buffer);
  ASSERT_EQ(SingleRead(&r), 0u);
  EXPECT_EQ(std::string(buffer), text.substr(0, 80));
  EXPECT_EQ(buffer[81], 'X') << "nothing written past the 81-byte buffer";
}

TEST_F(SingleIoTest, NVAndFieldWritesReachTheNetwork) {
  CNVItem* setpoint = AddItem(kSetpoint, VT_R4);
  uint32_t cell = FloatCell(23.0f);
  GateIoParams io;
  VpiRequest r = IoRequest(&io, kSingleWrite, "setpoint", kWordNV, setpoint, 3, &cell);
  ASSERT_EQ(SingleWrite(&r), 0u);
  double value = 0;
  ASSERT_TRUE(lonsim::GetNVValue(kSetpoint, &value));
  EXPECT_DOUBLE_EQ(value, 23.0);

  lonsim::FailNext("WriteNV");
  EXPECT_EQ(SingleWrite(&r), 1u);
  EXPECT_TRUE(
      kesthost::LogContains("TelMAR: NVSingleWrite failed on WriteNV (addr = 'setpoint')", 32));

  CNVItem* lamp = AddItem(kLampIn, VT_I2);
  int field = AddField(lamp, "state", VT_I2);
  ASSERT_GE(field, 0);
  cell = 1u << 16;
  GateIoParams fio;
  VpiRequest fw = IoRequest(&fio, kSingleWrite, "lamp.state", NVFWord(field), lamp, 1, &cell);
  ASSERT_EQ(SingleWrite(&fw), 0u);
  EXPECT_EQ(lonsim::LastArgs("WriteNVF").front(), field);
  uint32_t back = kPoison;
  VpiRequest fr = IoRequest(&fio, kSingleRead, "lamp.state", NVFWord(field), lamp, 1, &back);
  ASSERT_EQ(SingleRead(&fr), 0u);
  EXPECT_EQ(Cell16(back), 1u);
  std::vector<uint8_t> raw;
  ASSERT_TRUE(lonsim::GetNVRaw(kLamp, &raw));
  ASSERT_EQ(raw.size(), 2u);
  EXPECT_EQ(raw[1], 1u) << "the output follows the written input";

  lonsim::FailNext("WriteNVF");
  fw = IoRequest(&fio, kSingleWrite, "lamp.state", NVFWord(field), lamp, 1, &cell);
  EXPECT_EQ(SingleWrite(&fw), 1u);
  EXPECT_TRUE(kesthost::LogContains(
      "TelMAR: NVFSingleWrite failed on PutNVFVal (addr = 'lamp.state')", 32));
  lonsim::FailNext("ReadNVF");
  EXPECT_EQ(SingleRead(&fr), 1u);
  EXPECT_TRUE(
      kesthost::LogContains("TelMAR: NVFSingleRead fail on GetNVFVal (addr = 'lamp.state')", 8));
}

// The host hands back whatever it stored; a missing cell or an item this instance never
// registered must be refused before the library sees it.
TEST_F(SingleIoTest, MissingCellOrForeignItemIsRefused) {
  CNVItem* temp = AddItem(kSpaceTemp, VT_R4);
  int unused = 0;
  CNVItem* foreign = inst_->lns->AddNV(kSetpoint.c_str(), &unused);  // not from our parser
  ASSERT_NE(foreign, nullptr);
  auto* bogus = reinterpret_cast<CNVItem*>(uintptr_t{0x10});
  uint32_t cell = kPoison;

  struct Case {
    const char* what;
    CNVItem* item;
    void* cell;
    const char* expected;
  };
  const Case cases[] = {
      {"null cell", temp, nullptr, "no value cell"},
      {"foreign item", foreign, &cell, "unknown nvItem"},
      {"bogus item", bogus, &cell, "unknown nvItem"},
      {"null item", nullptr, &cell, "unknown nvItem"},
  };
  for (const Case& c : cases) {
    for (uint32_t command : {uint32_t{kSingleRead}, uint32_t{kSingleWrite}}) {
      for (uint32_t word : {kWordNV, NVFWord(0)}) {
        SCOPED_TRACE(std::string(c.what) + (command == kSingleRead ? " read" : " write") +
                     (word == kWordNV ? " NV" : " NVF"));
        lonsim::ResetCounters();
        kesthost::ClearLog();
        GateIoParams io;
        VpiRequest r = IoRequest(&io, command, "gate.addr", word, c.item, 3, c.cell);
        uint32_t result = command == kSingleRead ? SingleRead(&r) : SingleWrite(&r);
        EXPECT_EQ(result, 1u);
        EXPECT_EQ(cell, kPoison);
        bool logged = false;
        for (const kesthost::LogLine& line : kesthost::Log()) {
          if (line.level == 32 && line.text.rfind("TelMAR: ", 0) == 0 &&
              line.text.find(c.expected) != std::string::npos &&
              line.text.find("gate.addr") != std::string::npos)
            logged = true;
        }
        EXPECT_TRUE(logged);
        for (const char* op : {"ReadNV", "ReadNVF", "WriteNV", "WriteNVF", "GetListenersCount"})
          EXPECT_EQ(lonsim::CallCount(op), 0) << op;
      }
    }
  }

  // A node read without a cell is refused the same way.
  kesthost::ClearLog();
  GateIoParams io;
  VpiRequest r = IoRequest(&io, kSingleRead, "node.addr", kWordNode, nullptr, 1, nullptr, 32001);
  EXPECT_EQ(SingleRead(&r), 1u);
  EXPECT_TRUE(kesthost::LogContains("node.addr", 32));
}

}  // namespace
}  // namespace iotest
