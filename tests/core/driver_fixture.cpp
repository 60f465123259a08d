#include "tests/core/driver_fixture.h"

#include <cstdlib>
#include <cstring>

#include "core/handoff.h"
#include "core/vpi_main.h"
#include "host/kest_host.h"
#include "platform/process_shared.h"

DriverTest::DriverTest() {
  block_ = std::malloc(sizeof(DriverInstance));
  std::memset(block_, 0xCD, sizeof(DriverInstance));
}

DriverTest::~DriverTest() {
  std::free(block_);
}

void DriverTest::SetUp() {
  kesthost::Reset();
  dir_.WriteFile("TELMAR01.int", "[Macros]\n");
  ASSERT_FALSE(WorkerAlive()) << "a worker of an earlier test still runs";
}

void DriverTest::TearDown() {
  kesthost::SetLogSink(nullptr);
  kesthost::SetPutSink(nullptr);
  kesthost::ClearFailures();
  for (int32_t number : started_) EndVpi(number);
  EXPECT_FALSE(WorkerAlive());
  ProcessSharedData()->stationActive.store(0);
  ProcessSharedRemove();
}

uint32_t DriverTest::Call(uint32_t command, void* params, int32_t instanceNumber) {
  VpiRequest request{};
  request.instance = inst();
  request.command = command;
  request.instanceNumber = instanceNumber;
  request.params = params;
  return VpiMain(&request);
}

uint32_t DriverTest::ColdStart(int32_t instanceNumber, uint32_t connectNetwork) {
  started_.insert(instanceNumber);
  ColdStartParams params{};
  params.connectNetwork = connectNetwork;
  return Call(kColdStart, &params, instanceNumber);
}

uint32_t DriverTest::EndVpi(int32_t instanceNumber) {
  return Call(kEndVpi, nullptr, instanceNumber);
}

std::vector<std::string> DriverTest::LogTexts() {
  std::vector<std::string> texts;
  for (const kesthost::LogLine& line : kesthost::Log()) texts.push_back(line.text);
  return texts;
}

int DriverTest::LogIndex(const std::string& text, int level) {
  std::vector<kesthost::LogLine> log = kesthost::Log();
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].level == level && log[i].text.find(text) != std::string::npos) {
      return static_cast<int>(i);
    }
  }
  return -1;
}
