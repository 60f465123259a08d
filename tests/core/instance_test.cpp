#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "address/nv_binding.h"
#include "core/driver_instance.h"
#include "tests/core/heap_count.h"

namespace {

class InstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(block_, 0xCD, sizeof(block_));  // raw host memory
    request_.instance = reinterpret_cast<DriverInstance*>(block_);
    request_.instanceNumber = 1;
  }
  void TearDown() override { GlobalInst = nullptr; }

  alignas(DriverInstance) unsigned char block_[sizeof(DriverInstance)];
  VpiRequest request_{};
};

TEST_F(InstanceTest, SetupInitialisesEveryFieldOfRawMemory) {
  request_.instanceNumber = 300;
  ASSERT_EQ(InstanceSetup(&request_), 0);
  DriverInstance* inst = request_.instance;
  EXPECT_EQ(GlobalInst.load(), inst);
  EXPECT_EQ(inst->name, "TelMAR");
  EXPECT_EQ(inst->clientName, "TelMAR");
  EXPECT_EQ(inst->version, 0x0241);
  EXPECT_EQ(inst->clientId.load(), 0);
  EXPECT_EQ(inst->instanceNumber, 44);  // the low byte of 300
  EXPECT_EQ(inst->fullInstanceNumber, 300u);
  EXPECT_EQ(inst->lns, nullptr);
  EXPECT_EQ(inst->listener, nullptr);
  for (const std::string* text :
       {&inst->network, &inst->networkInterface, &inst->hostInterface, &inst->typesDirectory,
        &inst->standardTypeFile, &inst->unvtTypeFile}) {
    EXPECT_TRUE(text->empty());
  }
  EXPECT_TRUE(inst->bindingMap.Empty());
  EXPECT_FALSE(inst->bindingMap.HasBuckets());
  EXPECT_TRUE(inst->nodeMap.Empty());
  EXPECT_EQ(inst->macros.Count(), 0u);
  EXPECT_TRUE(inst->knownItems.empty());
  EXPECT_EQ(inst->shareHandle, nullptr);
  EXPECT_EQ(inst->shareView, nullptr);
  EXPECT_EQ(inst->samplerActive, 1);
  EXPECT_EQ(inst->samplerChecked, 0u);
  EXPECT_EQ(inst->initialised, 1);
  InstanceTeardown(inst);
}

// The host frees the block without running a destructor: teardown must give back everything.
TEST_F(InstanceTest, TeardownLeavesNothingOnTheHeap) {
  const std::string longText(300, 'x');  // beyond any small-string buffer
  long before = LiveHeapBlocks();
  ASSERT_EQ(InstanceSetup(&request_), 0);
  DriverInstance* inst = request_.instance;
  for (std::string* text : {&inst->name, &inst->clientName, &inst->network, &inst->networkInterface,
                            &inst->hostInterface, &inst->typesDirectory, &inst->standardTypeFile,
                            &inst->unvtTypeFile}) {
    *text = longText;
  }
  for (uint32_t gate = 1; gate <= 25; ++gate) {
    ASSERT_TRUE(inst->bindingMap.Set(gate, new GateBinding{nullptr, 1, 0, {0, 0}, 0}));
    ASSERT_TRUE(inst->nodeMap.Set(32000 + gate, gate));
  }
  inst->macros.Set("#001", longText);
  inst->knownItems.try_emplace(reinterpret_cast<CNVItem*>(block_));
  ASSERT_GT(LiveHeapBlocks(), before);

  InstanceTeardown(inst);
  EXPECT_EQ(LiveHeapBlocks(), before);
  EXPECT_EQ(inst->initialised, 0);
  EXPECT_EQ(GlobalInst.load(), nullptr);
  EXPECT_TRUE(inst->bindingMap.Empty());
  EXPECT_EQ(inst->macros.Count(), 0u);

  // The block can be set up again and torn down again, as a ColdStart after EndVpi does.
  ASSERT_EQ(InstanceSetup(&request_), 0);
  EXPECT_EQ(inst->name, "TelMAR");
  EXPECT_TRUE(inst->bindingMap.Empty());
  InstanceTeardown(inst);
  EXPECT_EQ(LiveHeapBlocks(), before);
}

}  // namespace
