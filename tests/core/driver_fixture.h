// The driver driven through VpiMain as a host drives it: a raw instance block, an option file in
// a fresh current directory, the host stand-in reset, and the worker stopped after every test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "core/driver_instance.h"
#include "core/host_records.h"
#include "tests/support/temp_dir.h"

class DriverTest : public ::testing::Test {
 protected:
  DriverTest();
  ~DriverTest() override;
  void SetUp() override;
  void TearDown() override;

  // VpiMain with the fixture's block.
  uint32_t Call(uint32_t command, void* params = nullptr, int32_t instanceNumber = 1);
  uint32_t ColdStart(int32_t instanceNumber = 1, uint32_t connectNetwork = 0);
  uint32_t EndVpi(int32_t instanceNumber = 1);

  DriverInstance* inst() { return reinterpret_cast<DriverInstance*>(block_); }
  // Texts of the host log, in order.
  static std::vector<std::string> LogTexts();
  // Index of the first log line containing text at level, or -1.
  static int LogIndex(const std::string& text, int level = 32);

  ScopedTempDir dir_;
  void* block_ = nullptr;  // host memory: raw, freed without a destructor
  std::set<int32_t> started_;
};
