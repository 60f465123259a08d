// A driver instance set up in place on the simulated demo network, with gates bound by hand,
// for tests that call the read, write and message handlers directly (no worker).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "address/nv_binding.h"
#include "core/driver_instance.h"
#include "core/host_api.h"
#include "host/kest_host.h"
#include "lon/lns.h"
#include "lon/single_io.h"
#include "netsim/lonsim_control.h"

namespace iotest {

inline const std::string kRoom = "Building.Floor1.Room101";
inline const std::string kSpaceTemp = kRoom + ".nvoSpaceTemp";
inline const std::string kSetpoint = kRoom + ".nviSetpoint";
inline const std::string kLampIn = kRoom + ".nviLamp";
inline const std::string kMessage = "Building.Plant.Logger.nvoMessage";  // text up to 120
constexpr uint32_t kPoison = 0xA5A5A5A5u;

inline float AsFloat(uint32_t cell) {
  float f;
  std::memcpy(&f, &cell, sizeof f);
  return f;
}

class IoFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    lonsim::Reset();
    lonsim::UseManualClock();
    kesthost::Reset();
    request_.instance = reinterpret_cast<DriverInstance*>(block_);
    request_.instanceNumber = 1;
    ASSERT_EQ(InstanceSetup(&request_), 0);
    inst_ = request_.instance;
    uint8_t client = 0;
    ASSERT_EQ(KestMkClient("TelMAR", 1, 0, &client), 0);
    inst_->clientId = client;
    inst_->lns = CLns::GetLnsObject(0, 0, 1, '.', "", "", "");
    ASSERT_EQ(inst_->lns->Init(nullptr, 1), 0);
    ASSERT_EQ(inst_->lns->Open("Demo", "", "", ""), 0);
    lonsim::ResetCounters();
    kesthost::ClearLog();
  }
  void TearDown() override {
    if (!inst_) return;
    if (inst_->lns) inst_->lns->Release();
    InstanceTeardown(inst_);
    lonsim::Reset();
  }

  // An NV registered as the parser registers it, and so known to this instance.
  CNVItem* Item(const std::string& path, VARTYPE vt) {
    int unused = 0;
    CNVItem* item = inst_->lns->AddNV(path.c_str(), &unused);
    EXPECT_EQ(inst_->lns->SetNVFormatType(item, vt), 0) << path;
    inst_->knownItems.try_emplace(item);
    return item;
  }
  int Field(CNVItem* item, const char* name) {
    int index = inst_->lns->NVFNameToIndex(item, name);
    EXPECT_EQ(inst_->lns->AddNVF(item, name, index), 0) << name;
    return index;
  }
  // The host's gate and the binding that a successful parse leaves in bindingMap.
  GateBinding* Bind(uint32_t gateId, CNVItem* item, int field, int32_t updateMode,
                    int32_t pollingRate = 0) {
    kesthost::Gate g;
    g.id = gateId;
    g.type = 3;
    g.updateMode = updateMode;
    g.pollingRate = pollingRate;
    kesthost::AddGate(g);
    static uint32_t generation = 0;
    auto* b = new GateBinding{
        item, uint8_t(field < 0 ? 1 : 2), uint8_t(field < 0 ? 0 : field), {0, 0}, ++generation};
    inst_->bindingMap.Set(gateId, b);
    return b;
  }
  // SingleRead or SingleWrite of a gate with these binding words; the record is poisoned first.
  uint32_t Io(uint32_t command, uint32_t word, CNVItem* item, int32_t type, void* cell,
              int32_t nodeValue = 0, const char* address = "gate.addr") {
    GateIoParams io;
    std::memset(&io, 0x5A, sizeof io);
    io.address = address;
    io.nodeValue = nodeValue;
    io.bindingWord = word;
    io.nvItem = item;
    io.gateType = type;
    io.valueCell = cell;
    VpiRequest r = request_;
    r.params = &io;
    return command == kSingleRead ? SingleRead(&r) : SingleWrite(&r);
  }

  alignas(DriverInstance) unsigned char block_[sizeof(DriverInstance)];
  VpiRequest request_{};
  DriverInstance* inst_ = nullptr;
};

}  // namespace iotest
