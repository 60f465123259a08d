// A driver instance set up in host-like raw memory, the host stand-in reset, and a fresh current
// directory for the option file.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/driver_instance.h"
#include "host/kest_host.h"
#include "tests/support/temp_dir.h"

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kesthost::Reset();
    SetUpInstance(1);
  }
  void TearDown() override { TearDownInstance(); }

  void SetUpInstance(int32_t instanceNumber) {
    request_ = VpiRequest{};
    request_.instance = reinterpret_cast<DriverInstance*>(block_);
    request_.command = kColdStart;
    request_.instanceNumber = instanceNumber;
    ASSERT_EQ(InstanceSetup(&request_), 0);
    inst_ = request_.instance;
  }
  void TearDownInstance() {
    if (!inst_) return;
    InstanceTeardown(inst_);
    inst_ = nullptr;
  }

  // The log texts at one level, in order.
  static std::vector<std::string> LogAt(int level) {
    std::vector<std::string> out;
    for (const kesthost::LogLine& line : kesthost::Log()) {
      if (line.level == level) out.push_back(line.text);
    }
    return out;
  }

  ScopedTempDir dir_;
  alignas(DriverInstance) unsigned char block_[sizeof(DriverInstance)];
  VpiRequest request_{};
  DriverInstance* inst_ = nullptr;
};
