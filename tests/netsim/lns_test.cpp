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
  std::string nv = "poison", field = "poison";
  ASSERT_EQ(lns_->SplitNVFName((kRoom + "nvoLamp.state").c_str(), nv, field), 0);
  EXPECT_EQ(nv, kRoom + "nvoLamp");
  EXPECT_EQ(field, "state");
  EXPECT_NE(lns_->SplitNVFName("nodelimiter", nv, field), 0);
  EXPECT_NE(lns_->SplitNVFName("trailing.", nv, field), 0);

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

}  // namespace
