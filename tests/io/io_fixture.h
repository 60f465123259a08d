// A driver instance set up in place and connected to the simulated demo network, with helpers
// to bind gates by hand and to build read/write requests, for tests of reads, writes and
// monitoring that call the handlers directly (no worker).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "address/nv_binding.h"
#include "core/driver_instance.h"
#include "core/host_records.h"
#include "host/kest_host.h"
#include "lon/lns.h"
#include "netsim/lonsim_control.h"

namespace iotest {

inline const std::string kRoom = "Building.Floor1.Room101";
inline const std::string kSpaceTemp = kRoom + ".nvoSpaceTemp";
inline const std::string kSetpoint = kRoom + ".nviSetpoint";
inline const std::string kLamp = kRoom + ".nvoLamp";
inline const std::string kLampIn = kRoom + ".nviLamp";  // nvoLamp follows it
inline const std::string kDisplay = kRoom + ".nvoDisplay";
inline const std::string kPump = "Building.Plant.Pump";
inline const std::string kMessage = "Building.Plant.Logger.nvoMessage";  // text of up to 120

constexpr uint32_t kPoison = 0xA5A5A5A5u;

inline uint16_t Cell16(uint32_t cell) {
  return static_cast<uint16_t>(cell >> 16);
}
inline float CellFloat(uint32_t cell) {
  float f;
  std::memcpy(&f, &cell, sizeof f);
  return f;
}
inline uint32_t FloatCell(float f) {
  uint32_t c;
  std::memcpy(&c, &f, sizeof c);
  return c;
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
    inst_->delimiter = '.';
    uint8_t client = 0;
    ASSERT_EQ(KestMkClient("TelMAR", 1, 0, &client), 0);
    inst_->clientId = client;
    inst_->lns = CLns::GetLnsObject(0, 0, 1, '.', "", "", "");
    ASSERT_NE(inst_->lns, nullptr);
    ASSERT_EQ(inst_->lns->Init(nullptr, 1), 0);
    ASSERT_EQ(inst_->lns->Open("Demo", "", "", ""), 0);
    lonsim::ResetCounters();
    kesthost::ClearCalls();
    kesthost::ClearLog();
  }

  void TearDown() override {
    if (!inst_) return;
    if (inst_->lns) inst_->lns->Release();
    inst_->lns = nullptr;
    InstanceTeardown(inst_);
    GlobalInst = nullptr;
    inst_ = nullptr;
    lonsim::Reset();
  }

  // Registers an NV with the library as the parser would, and remembers it as ours.
  CNVItem* AddItem(const std::string& path, VARTYPE vt) {
    int unused = 0;
    CNVItem* item = inst_->lns->AddNV(path.c_str(), &unused);
    EXPECT_NE(item, nullptr) << path;
    if (!item) return nullptr;
    EXPECT_EQ(inst_->lns->SetNVFormatType(item, vt), 0);
    inst_->knownItems.insert(item);
    return item;
  }

  // Registers a field; returns its index (negative on failure).
  int AddField(CNVItem* item, const std::string& field, VARTYPE vt) {
    int index = inst_->lns->NVFNameToIndex(item, field.c_str());
    EXPECT_GE(index, 0) << field;
    if (index < 0) return index;
    EXPECT_EQ(inst_->lns->AddNVF(item, field.c_str(), index), 0);
    EXPECT_EQ(inst_->lns->SetNVFFormatType(item, index, vt), 0);
    return index;
  }

  // Puts a binding into bindingMap as a successful parse leaves it.
  GateBinding* Bind(uint32_t gateId, CNVItem* item, uint8_t kind, uint8_t fieldIndex = 0) {
    auto* binding = new GateBinding{item, kind, fieldIndex, {0, 0}};
    EXPECT_TRUE(inst_->bindingMap.Set(gateId, binding));
    return binding;
  }

  static void AddHostGate(uint32_t id, uint16_t type, const std::string& address,
                          int32_t updateMode = 0, int32_t pollingRate = 0) {
    kesthost::Gate g;
    g.id = id;
    g.type = type;
    g.address = address;
    g.updateMode = updateMode;
    g.pollingRate = pollingRate;
    kesthost::AddGate(g);
  }

  // A SingleRead/SingleWrite request for a gate with the given binding words.
  VpiRequest IoRequest(GateIoParams* io, uint32_t command, const char* address,
                       uint32_t bindingWord, CNVItem* item, int32_t gateType, void* cell,
                       int32_t nodeValue = 0) {
    std::memset(io, 0x5A, sizeof *io);
    io->address = address;
    io->nodeValue = nodeValue;
    io->bindingWord = bindingWord;
    io->nvItem = item;
    io->gateType = gateType;
    io->valueCell = cell;
    VpiRequest r = request_;
    r.command = command;
    r.params = io;
    return r;
  }

  alignas(DriverInstance) unsigned char block_[sizeof(DriverInstance)];
  VpiRequest request_{};
  DriverInstance* inst_ = nullptr;
};

}  // namespace iotest
