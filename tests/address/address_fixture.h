// A driver instance set up in place as after ColdStart, for calling the address functions
// directly: on the simulated demo network (or none), with a local shared block, and with a
// message queue on the test thread standing in for the worker's.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "address/address_parser.h"
#include "address/nv_binding.h"
#include "config/share_data.h"
#include "core/driver_instance.h"
#include "core/worker.h"
#include "host/kest_host.h"
#include "lon/lns.h"
#include "netsim/lonsim_control.h"
#include "platform/thread_queue.h"
#include "tests/support/temp_dir.h"

inline const std::string kRoom = "Building.Floor1.Room101";
inline const std::string kSpaceTemp = kRoom + ".nvoSpaceTemp";
inline const std::string kLampValue = kRoom + ".nvoLamp.value";
inline const std::string kSamples = "Building.Plant.Logger.nvoSamples";

class AddressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kesthost::Reset();
    lonsim::Reset();
    request_.instance = reinterpret_cast<DriverInstance*>(block_);
    request_.instanceNumber = 7;
    ASSERT_EQ(InstanceSetup(&request_), 0);
    inst_ = request_.instance;
    inst_->delimiter = '.';
    inst_->clientId = 1;
    inst_->shareView = &share_;
    ThreadQueueCreate();
    workerThreadId = CurrentThreadId();
  }
  void TearDown() override {
    workerThreadId = 0;
    ThreadQueueDestroy();
    inst_->bindingMap.ForEach([](uint32_t, GateBinding*& b) { delete b; });
    inst_->bindingMap.RemoveAll();
    if (inst_->lns) inst_->lns->Release();
    inst_->lns = nullptr;
    inst_->shareView = nullptr;  // ours, not a mapping
    InstanceTeardown(inst_);
    GlobalInst = nullptr;
  }

  // Command 3 with the out fields poisoned, so that a field claimed but not written shows.
  uint32_t Parse(const std::string& address, uint32_t gateId, uint32_t gateType,
                 GateAddressParams* out = nullptr, bool nullAddress = false) {
    GateAddressParams p;
    std::memset(&p, 0xA5, sizeof(p));
    p.address = nullAddress ? nullptr : address.c_str();
    p.gateId = gateId;
    p.gateType = gateType;
    request_.command = kSingleAddressParser;
    request_.params = &p;
    uint32_t rc = SingleAddressParser(&request_);
    if (out) *out = p;
    return rc;
  }

  static void DefineGate(uint32_t id, uint16_t type, int32_t updateMode = 0,
                         int32_t pollingRate = 0) {
    kesthost::Gate gate;
    gate.id = id;
    gate.type = type;
    gate.updateMode = updateMode;
    gate.pollingRate = pollingRate;
    kesthost::AddGate(gate);
  }
  static std::vector<ThreadMessage> TakeMessages() {
    std::vector<ThreadMessage> messages;
    ThreadMessage m;
    while (ThreadQueueTake(&m)) messages.push_back(m);
    return messages;
  }
  GateBinding* Binding(uint32_t gateId) {
    GateBinding** found = inst_->bindingMap.Find(gateId);
    return found ? *found : nullptr;
  }
  // The level-32 lines, in order.
  static std::vector<std::string> Errors() {
    std::vector<std::string> lines;
    for (const kesthost::LogLine& line : kesthost::Log()) {
      if (line.level == 32) lines.push_back(line.text);
    }
    return lines;
  }

  ScopedTempDir dir_;
  alignas(DriverInstance) unsigned char block_[sizeof(DriverInstance)];
  DriverInstance* inst_ = nullptr;
  VpiRequest request_{};
  ShareData share_{};
};

class NetworkTest : public AddressTest {
 protected:
  void SetUp() override {
    AddressTest::SetUp();
    CLns* lns = inst_->lns = CLns::GetLnsObject(0, 0, 1, '.', "", "", "");
    ASSERT_NE(lns, nullptr);
    ASSERT_EQ(lns->Init(nullptr, 1), 0);
    ASSERT_EQ(lns->Open("Demo", "", "", ""), 0);
    lonsim::ResetCounters();
  }
};

inline void ExpectInitialOutFields(const GateAddressParams& p) {
  EXPECT_EQ(p.nodeValue, 0);
  EXPECT_EQ(p.bindingWord, 0u);
  EXPECT_EQ(p.nvItem, nullptr);
  EXPECT_EQ(p.resultMinus1, -1);
  EXPECT_EQ(p.result32, 32u);
  EXPECT_EQ(p.reserved, 0xA5A5A5A5u);
}
