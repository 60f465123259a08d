// Network files, the demo network, the tree and re-browsing.
#include <cstdlib>
#include <filesystem>
#include <map>

#include "tests/netsim/netsim_fixture.h"

namespace {

// Records the tree and gives each item's path as the browser composes it.
class Tree : public LnsTreeControl {
 public:
  uintptr_t InsertItem(const char* text, int image, uintptr_t parent) override {
    items.push_back({text, image, parent});
    return items.size();
  }
  std::string Path(size_t i) const {  // joined with ".", without the root
    std::string path;
    for (size_t at = i + 1; items[at - 1].parent != 0; at = items[at - 1].parent) {
      path = items[at - 1].text + (path.empty() ? "" : "." + path);
    }
    return path;
  }
  struct Item {
    std::string text;
    int image;
    uintptr_t parent;
  };
  std::vector<Item> items;
};

const char* kOffice = R"(# a small test network
network Office
type UNVT_valve struct
  field position unsigned8 scale 0.5  # engineering value = raw * 0.5
  field t0..t2 signed16 scale 0.01
end
type UNVT_flow scalar unsigned16 scale 0.1 offset -10
type UNVT_note text 60
subsystem Site
device Site.Ahu handle 31999 neuron 0102030405aB program 9000A70A0A040401
block Site.Ahu.Fan
nv Site.Ahu.nvoValve output UNVT_valve value 50 1.5 -2 0
nv Site.Ahu.nvoFlow output UNVT_flow value 0
nv Site.Ahu.nviNote input UNVT_note value "  two # blanks"  # '#' in quotes is text
device Site.Spare handle 7 neuron 0102030405AC detached	# starts detached
nv Site.Spare.nvoTemp output SNVT_temp_p value 19.5
)";

class NetworkTest : public NetsimTest {};

TEST_F(NetworkTest, ReportsFileErrorsWithFileAndLine) {
  struct Case {
    const char* text;
    const char* message;  // expected in LastError after "net.txt:<line>: "
    int line;
  } cases[] = {
      {"subsystem A\nbogus A.B\n", "unknown statement 'bogus'", 2},
      {"device A.B handle 1 neuron 000000000001\n", "the parent of A.B is not defined", 1},
      {"device D handle 32000 neuron 000000000001\n", "handle must be 0 to 31999", 1},
      {"device D handle 1 neuron 0000000001\n", "neuron id must be 12 hex digits", 1},
      {"device D handle 1 neuron 000000000001\ndevice E handle 1 neuron 000000000002\n",
       "handle 1 already used", 2},
      {"device D handle 1 neuron 000000000001\nnv D.x output SNVT_nothing\n",
       "unknown type 'SNVT_nothing'", 2},
      {"device D handle 1 neuron 000000000001 detatched\n", "unknown word 'detatched'", 1},
      {"device D handle 1 neuron 000000000001\nnv D.x output SNVT_count pol\n",
       "unknown word 'pol'", 2},
      {"device D handle 1 neuron 000000000001\nnv D.x output SNVT_temp_p value 400\n",
       "bad value: value 400 out of range -273.17 to 327.67 and beyond the raw range -327.68 to "
       "327.67",
       2},
      {"device D handle 1 neuron 000000000001\nnv D.x output SNVT_temp_p value -300\n",
       "bad value: value -300 out of range -273.17 to 327.67", 2},
      {"device D handle 1 neuron 000000000001\nnv D.x output SNVT_hvac_mode value HVAC_WARM\n",
       "bad value: 'HVAC_WARM' is not a constant of the enumeration hvac_t (", 2},
      {"device D handle 1 neuron 000000000001\nnv D.x output SNVT_occupancy value OC_BUSY\n",
       "bad value: 'OC_BUSY' is not a constant of the enumeration occup_t (constants: ", 2},
      {"device D handle 1 neuron 000000000001\nnv D.x sideways SNVT_temp_p\n",
       "direction must be input or output", 2},
      {"device D handle 1 neuron 000000000001\nnv D.x output SNVT_count\nnv D.x input SNVT_count\n",
       "object D.x already defined", 3},
      {"type U struct\n  field a unsigned8\n", "type U has no 'end'", 1},
      {"type U struct\n  field s5..s2 unsigned8\nend\n", "bad field range 's5..s2'", 2},
      {"type U scalar float32 scale 2\n", "float32 takes no scale or offset", 1},
      {"device D handle 1 neuron 000000000001\nnv D.o output SNVT_count follows i\n"
       "nv D.i input SNVT_temp_p\n",
       "follows: an output follows an input NV of the same type", 2},
      {"device D handle 1 neuron 000000000001\nblock D.B profile SFPTnothing\n",
       "unknown profile 'SFPTnothing'", 2},
      {"device D handle 1 neuron 000000000001\n"
       "block D.B profile SFPTspaceComfortController with nviSetpoint, nviNothing\n",
       "profile SFPTspaceComfortController has no member 'nviNothing'", 2},
      {"device D handle 1 neuron 000000000001\n"
       "block D.B profile SFPTopenLoopSensor with nvoValue as SNVT_nothing\n",
       "unknown type 'SNVT_nothing'", 2},
      {"device D handle 1 neuron 000000000001\nblock D.B profile SFPTopenLoopSensor\n",
       "member nvoValue of SFPTopenLoopSensor takes any type", 2},
      {"device D handle 1 neuron 000000000001\n"
       "block D.B profile SFPTspaceComfortController with nviSpaceTemp as SNVT_temp\n",
       "member nviSpaceTemp of SFPTspaceComfortController is SNVT_temp_p; 'as' types only", 2},
      {"device D handle 1 neuron 000000000001\nblock D.A profile SFPTlampActuator\n"
       "block D.B profile SFPTlampActuator\n",
       "member nviLampValue of SFPTlampActuator: the device already has an object nviLampValue "
       "(a second block of a profile names its members with 'prefix P' or 'suffix S')",
       3},
      {"device D handle 1 neuron 000000000001\nblock D.B profile SFPTlampActuator suffix\n",
       "'suffix' needs letters, digits, '_' or '-'", 2},
      {"device D handle 1 neuron 000000000001\nblock D.B profile SFPTlampActuator sufix _2\n",
       "unknown word 'sufix'", 2},
  };
  for (const Case& c : cases) {
    dir_.WriteFile("net.txt", c.text);
    CLns* lns = CLns::GetLnsObject(0, 1, 1, '.', "", "", "");
    ASSERT_NE(lns, nullptr);
    EXPECT_NE(lns->Open("net.txt", "", "", ""), 0) << c.text;
    std::string expected = "net.txt:" + std::to_string(c.line) + ": " + c.message;
    EXPECT_NE(lonsim::LastError().find(expected), std::string::npos)
        << lonsim::LastError() << "\nexpected: " << expected;
    lns->Release();
  }
}

TEST_F(NetworkTest, OpensOnlyKnownNetworksAndOnlyOnce) {
  CLns* lns = CLns::GetLnsObject(0, 1, 1, 0, "", "", "");
  EXPECT_NE(lns->Open("NoSuchNetwork", "", "", ""), 0);
  EXPECT_NE(lonsim::LastError().find("NoSuchNetwork"), std::string::npos);
  EXPECT_NE(lns->Open("", "", "", ""), 0);
  EXPECT_EQ(lns->Open("Demo", "", "", ""), 0);
  EXPECT_NE(lns->Open("Demo", "", "", ""), 0);
  int kind = 0;
  EXPECT_NE(lns->IsFound("Building.Floor1.Room101", &kind), 0);  // delimiter 0 means "."
  lns->Release();
}

TEST_F(NetworkTest, ReadsUserTypesValuesAndDevicesFromAFile) {
  dir_.WriteFile("office.net", kOffice);
  lns_ = OpenLns("office.net", '/');
  ASSERT_NE(lns_, nullptr);
  int kind = 0;
  EXPECT_NE(lns_->IsFound("Site/Ahu/nvoValve/t2", &kind), 0);
  EXPECT_EQ(kind, kLnsKindNVField);
  EXPECT_EQ(lns_->IsFound("Site.Ahu.nvoValve", &kind), 0);  // "." is no delimiter here
  EXPECT_EQ(lns_->GetAppDeviceHandle("Site/Ahu"), 31999);

  CNVItem* valve = Add("Site/Ahu/nvoValve");
  NVStructStat stat{};
  ASSERT_EQ(lns_->GetNVStat(valve, &stat), 0);
  EXPECT_EQ(stat.length, 7);
  EXPECT_EQ(stat.fieldCount, 4);
  EXPECT_EQ(stat.typeIndex, 0);
  ASSERT_EQ(lns_->SetNVFormatType(valve, VT_BSTR), 0);
  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(lns_->ReadNV(valve, &v, kIOOptDevice), 0);
  EXPECT_EQ(Text(v), "50 1.5 -2 0");
  VariantClear(&v);

  double flow = 0;
  ASSERT_TRUE(lonsim::GetNVValue("Site/Ahu/nvoFlow", &flow));
  EXPECT_DOUBLE_EQ(flow, 0);
  std::vector<uint8_t> raw;
  ASSERT_TRUE(lonsim::GetNVRaw("Site/Ahu/nvoFlow", &raw));
  EXPECT_EQ(raw, (std::vector<uint8_t>{0x00, 0x64}));  // (0 + 10) / 0.1

  CNVItem* note = Add("Site/Ahu/nviNote");
  ASSERT_EQ(lns_->ReadNV(note, &v, kIOOptDevice), 0);
  EXPECT_EQ(Text(v), "  two # blanks");
  VariantClear(&v);

  EXPECT_NE(lns_->TestNodeByHandle(7, kIOOptDevice), 0);  // starts detached
  EXPECT_EQ(lns_->TestNodeByHandle(31999, kIOOptDevice), 0);
  EXPECT_NE(lns_->TestNodeByHandle(8, kIOOptDevice), 0);
}

TEST_F(NetworkTest, TreePathsAreTheObjectNamesAndImagesTellTheKind) {
  lns_ = OpenLns("Demo");
  ASSERT_NE(lns_, nullptr);
  Tree tree;
  CLnsArchive archive(nullptr, &tree, 1, 2);
  ASSERT_EQ(archive.Serialize(), 0);
  EXPECT_EQ(lonsim::LastArgs("Serialize"), (std::vector<int64_t>{1, 2}));
  ASSERT_FALSE(tree.items.empty());
  EXPECT_EQ(tree.items[0].text, "Demo");
  EXPECT_EQ(tree.items[0].parent, 0u);
  EXPECT_EQ(tree.items[0].image, 1);

  const std::map<int, int> kindOfImage = {{13, kLnsKindSubsystem},
                                          {6, kLnsKindAppDevice},
                                          {4, kLnsKindFunctionalBlock},
                                          {8, kLnsKindNV},
                                          {10, kLnsKindNVField}};
  std::map<int, int> count;
  for (size_t i = 1; i < tree.items.size(); ++i) {
    EXPECT_NE(tree.items[i].parent, 0u) << "one root only";
    std::string path = tree.Path(i);
    int kind = 0;
    ASSERT_NE(lns_->IsFound(path.c_str(), &kind), 0) << path;
    ASSERT_TRUE(kindOfImage.count(tree.items[i].image)) << path;
    EXPECT_EQ(kind, kindOfImage.at(tree.items[i].image)) << path;
    ++count[kind];
  }
  EXPECT_GE(count[kLnsKindAppDevice], 10);
  EXPECT_GE(count[kLnsKindNV], 40);
  EXPECT_EQ(count[kLnsKindSubsystem], 4);
  EXPECT_GE(count[kLnsKindNVField], 300);
}

TEST_F(NetworkTest, ArchiveLoadsTheRecordedNetworkWhenNoneIsOpen) {
  Tree none;
  CLnsArchive before(nullptr, &none, 1, 2);
  EXPECT_NE(before.Serialize(), 0);  // nothing recorded in this test's record file yet

  dir_.WriteFile("office.net", kOffice);
  CLns* lns = OpenLns("office.net");
  ASSERT_NE(lns, nullptr);
  lns->Release();
  EXPECT_EQ(dir_.ReadFile("record"), (std::filesystem::path(dir_.path()) / "office.net").string());

  Tree tree;
  CLnsArchive archive(nullptr, &tree, 1, 2);
  ASSERT_EQ(archive.Serialize(), 0);
  ASSERT_GE(tree.items.size(), 2u);
  EXPECT_EQ(tree.items[0].text, "Office");
  EXPECT_EQ(tree.Path(tree.items.size() - 1), "Site.Spare.nvoTemp");

  lonsim::FailNext("Serialize", 5);
  EXPECT_EQ(archive.Serialize(), 5);

  // An Open that fails (a driver whose ColdStart failed) leaves no older network to show.
  CLns* failed = CLns::GetLnsObject(0, 1, 1, '.', "", "", "");
  ASSERT_NE(failed, nullptr);
  EXPECT_NE(failed->Open("missing.net", "", "", ""), 0);
  failed->Release();
  Tree after;
  CLnsArchive again(nullptr, &after, 1, 2);
  EXPECT_NE(again.Serialize(), 0);
  EXPECT_TRUE(after.items.empty());
  EXPECT_EQ(lonsim::LastError(), "no network: the driver's network did not open");
}

// Sets an environment variable for the test's life.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    Set(value.c_str());
  }
  ~ScopedEnv() { Set(had_ ? old_.c_str() : nullptr); }

 private:
  void Set(const char* value) {
#if defined(_WIN32)
    _putenv_s(name_, value ? value : "");
#else
    value ? setenv(name_, value, 1) : unsetenv(name_);
#endif
  }
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST_F(NetworkTest, EachDriverInstanceOfAUserHasItsOwnRecord) {
  // The user's state directory is this test's own.
#if defined(_WIN32)
  ScopedEnv state("TMP", dir_.path());
#else
  ScopedEnv state("XDG_RUNTIME_DIR", dir_.path());
#endif
  lonsim::SetDriverInstance(1);
  CLns* lns = OpenLns("Demo");
  ASSERT_NE(lns, nullptr);
  lns->Release();

  Tree other;
  lonsim::SetDriverInstance(2);
  EXPECT_NE(CLnsArchive(nullptr, &other, 1, 2).Serialize(), 0);  // instance 2 opened nothing
  EXPECT_TRUE(other.items.empty());

  Tree own;
  lonsim::SetDriverInstance(1);
  ASSERT_EQ(CLnsArchive(nullptr, &own, 1, 2).Serialize(), 0) << lonsim::LastError();
  ASSERT_FALSE(own.items.empty());
  EXPECT_EQ(own.items[0].text, "Demo");
  size_t records = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
    records += e.path().filename().string().rfind("lonsim-01-", 0) == 0;
  }
  EXPECT_EQ(records, 1u);
}

TEST_F(NetworkTest, BrowseAddsNewObjectsAndKeepsValues) {
  dir_.WriteFile("office.net", kOffice);
  lns_ = OpenLns("office.net");
  ASSERT_NE(lns_, nullptr);
  ASSERT_TRUE(lonsim::SetNVValue("Site.Spare.nvoTemp", 23.25));
  dir_.WriteFile("office.net", std::string(kOffice) +
                                   "nv Site.Spare.nvoHumidity output "
                                   "SNVT_lev_percent value 45\n");
  int kind = 0;
  EXPECT_EQ(lns_->IsFound("Site.Spare.nvoHumidity", &kind), 0);
  Tree tree;
  ASSERT_EQ(lns_->Browse(7, 1, &tree, nullptr), 0);
  EXPECT_EQ(lonsim::LastArgs("Browse"), (std::vector<int64_t>{7, 1}));
  EXPECT_NE(lns_->IsFound("Site.Spare.nvoHumidity", &kind), 0);
  EXPECT_EQ(tree.Path(tree.items.size() - 1), "Site.Spare.nvoHumidity");
  double v = 0;
  ASSERT_TRUE(lonsim::GetNVValue("Site.Spare.nvoTemp", &v));
  EXPECT_DOUBLE_EQ(v, 23.25);
  ASSERT_TRUE(lonsim::GetNVValue("Site.Spare.nvoHumidity", &v));
  EXPECT_DOUBLE_EQ(v, 45);

  dir_.WriteFile("office.net", "garbage\n");
  EXPECT_NE(lns_->Browse(1, 1, nullptr, nullptr), 0);
  EXPECT_NE(lns_->IsFound("Site.Spare.nvoHumidity", &kind), 0);
}

// Blocks from standard functional profiles: their members become NVs of the block's device.
class FunctionalProfileTest : public NetsimTest {
 protected:
  void Load(const std::string& blocks) {
    dir_.WriteFile("plant.net", "device D handle 1 neuron 000000000001\n" + blocks);
    lns_ = OpenLns("plant.net");
    ASSERT_NE(lns_, nullptr) << lonsim::LastError();
  }
  // "SNVT index, direction" of an NV, or "none".
  std::string Member(const std::string& name) {
    int kind = 0;
    if (!lns_->IsFound(("D." + name).c_str(), &kind) || kind != kLnsKindNV) return "none";
    NVStructStat stat{};
    lns_->GetNVStat(Add("D." + name), &stat);
    return std::to_string(stat.typeIndex) + (stat.direction ? " out" : " in");
  }
};

TEST_F(FunctionalProfileTest, ABlockBringsItsProfilesMandatoryMembers) {
  Load("block D.Comfort profile SFPTspaceComfortController\n");
  int kind = 0;
  ASSERT_NE(lns_->IsFound("D.Comfort", &kind), 0);
  EXPECT_EQ(kind, kLnsKindFunctionalBlock);
  EXPECT_EQ(Member("nviSpaceTemp"), "105 in");
  EXPECT_EQ(Member("nvoSpaceTemp"), "105 out");
  EXPECT_EQ(Member("nvoUnitStatus"), "112 out");  // SNVT_hvac_status
  EXPECT_EQ(Member("nviSetpoint"), "none");       // optional
}

TEST_F(FunctionalProfileTest, OptionalMembersComeByName) {
  Load("block D.Comfort profile SFPTspaceComfortController with nviSetpoint,nvoHeatPrimary\n");
  EXPECT_EQ(Member("nviSetpoint"), "105 in");
  EXPECT_EQ(Member("nvoHeatPrimary"), "81 out");
  EXPECT_EQ(Member("nviSpaceTemp"), "105 in");
  EXPECT_EQ(Member("nvoCoolPrimary"), "none");
}

TEST_F(FunctionalProfileTest, AMemberOfAnyTypeTakesTheDeclaredOne) {
  Load(
      "block D.Sensor profile SFPTopenLoopSensor with nvoValue as SNVT_press_p\n"
      "value D.nvoValue 1500\n");
  EXPECT_EQ(Member("nvoValue"), "113 out");
  double v = 0;
  ASSERT_TRUE(lonsim::GetNVValue("D.nvoValue", &v));
  EXPECT_EQ(v, 1500);
}

TEST_F(FunctionalProfileTest, BlocksOfOneProfileNameTheirMembersApart) {
  Load(
      "block D.Ch1 profile SFPTlampActuator\n"
      "block D.Ch2 profile SFPTlampActuator suffix _2 with nvoRunHours\n"
      "block D.Ch3 profile SFPTlampActuator prefix Ch3_ suffix -b\n"
      "value D.nviLampValue_2 50 1  # the second channel's own value\n");
  EXPECT_EQ(Member("nviLampValue"), "95 in");
  EXPECT_EQ(Member("nviLampValue_2"), "95 in");
  EXPECT_EQ(Member("nvoLampValueFb_2"), "95 out");
  EXPECT_EQ(Member("nvoRunHours_2"), "87 out");
  EXPECT_EQ(Member("nvoRunHours"), "none");
  EXPECT_EQ(Member("Ch3_nvoLampValueFb-b"), "95 out");
  std::vector<uint8_t> first, second;
  ASSERT_TRUE(lonsim::GetNVRaw("D.nviLampValue", &first));
  ASSERT_TRUE(lonsim::GetNVRaw("D.nviLampValue_2", &second));
  EXPECT_EQ(first, (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(second, (std::vector<uint8_t>{100, 1}));
}

}  // namespace
