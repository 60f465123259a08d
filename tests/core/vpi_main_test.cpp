#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/handoff.h"
#include "core/vpi_main.h"
#include "host/kest_host.h"
#include "tests/core/driver_fixture.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(DriverTest, CodesOutOfRangeOrWithoutCommandAreRejected) {
  struct Case {
    uint32_t command;
    const char* line;
  };
  const Case cases[] = {
      {0, "TELMAR: Exited VpiMain() #1"},    {18, "TELMAR: Exited VpiMain() #1"},
      {1000, "TELMAR: Exited VpiMain() #1"}, {0xFFFFFFFFu, "TELMAR: Exited VpiMain() #1"},
      {8, "TELMAR: Exited VpiMain() #2"},    {9, "TELMAR: Exited VpiMain() #2"},
      {17, "TELMAR: Exited VpiMain() #2"},
  };
  for (const Case& c : cases) {
    kesthost::ClearLog();
    EXPECT_EQ(Call(c.command), 2u) << c.command;
    std::vector<kesthost::LogLine> log = kesthost::Log();
    ASSERT_EQ(log.size(), 1u) << c.command;
    EXPECT_EQ(log[0].text, c.line);
    EXPECT_EQ(log[0].level, 32);
  }
  // Codes without a command must not start a worker either, even with the ColdStart record.
  EXPECT_FALSE(WorkerAlive());
}

TEST_F(DriverTest, WorkerCommandsBeforeColdStartAreNotExecuted) {
  GateIoParams io;
  std::memset(&io, 0x5A, sizeof(io));
  GateAddressParams address;
  std::memset(&address, 0x5A, sizeof(address));
  address.address = "Building.Floor1.Room101.nvoSpaceTemp";
  const GateIoParams ioBefore = io;
  const GateAddressParams addressBefore = address;

  struct Case {
    uint32_t command;
    void* params;
  };
  const Case cases[] = {{kWarmStart, nullptr},
                        {kSingleAddressParser, &address},
                        {kBlockAddressParser, &address},
                        {kSingleRead, &io},
                        {kBlockRead, &io},
                        {kSingleWrite, &io},
                        {kBlockWrite, &io},
                        {kEndVpi, nullptr},
                        {kCloseCom, nullptr},
                        {kReOpenCom, nullptr},
                        {kChangeVpiParams, nullptr}};
  for (const Case& c : cases) EXPECT_EQ(Call(c.command, c.params), 0u) << c.command;
  EXPECT_TRUE(kesthost::Log().empty());
  EXPECT_TRUE(kesthost::Calls().empty());
  EXPECT_EQ(std::memcmp(&io, &ioBefore, sizeof(io)), 0);
  EXPECT_EQ(std::memcmp(&address, &addressBefore, sizeof(address)), 0);
  EXPECT_FALSE(WorkerAlive());
}

TEST_F(DriverTest, GetVpiInfoNeedsNoInstance) {
  VpiInfo info;
  std::memset(&info, 0xEE, sizeof(info));
  VpiRequest request{};
  request.command = kGetVpiInfo;
  request.instanceNumber = 1;
  request.params = &info;
  ASSERT_EQ(VpiMain(&request), 0u);

  EXPECT_EQ(info.infoTag, 77u);
  ASSERT_NE(info.description, nullptr);
  EXPECT_STREQ(info.description, "LonWorks LCA");
  EXPECT_EQ(info.instanceSize, sizeof(DriverInstance));
  EXPECT_EQ(info.infoKind, 2u);
  EXPECT_EQ(info.reserved[0], 0xEEEEEEEEu);
  EXPECT_EQ(info.reserved[1], 0xEEEEEEEEu);
  EXPECT_EQ(info.infoTail, 44u);

  ASSERT_NE(info.banner, nullptr);
  const std::string banner = info.banner;
  ASSERT_EQ(banner.front(), '\n');
  ASSERT_EQ(banner.back(), '\n');
  std::vector<std::string> lines = Lines(banner.substr(1));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], std::string(61, '/'));
  EXPECT_EQ(lines[1], " / -=-=-=-=-=-=-=-=-=-=- T E L M A R -=-=-=-=-=-=-=-=-=-=-   /");
  EXPECT_EQ(lines[2], " /             LonWorks LCA, Driver installed.               /");
  EXPECT_EQ(lines[3], " /             LonWorks using LCA Object Server.             /");
  EXPECT_EQ(lines[5], " " + std::string(61, '/'));
  // Our own line keeps the frame and the width.
  EXPECT_EQ(lines[4].size(), 62u);
  EXPECT_EQ(lines[4].rfind(" /             ", 0), 0u);
  EXPECT_EQ(lines[4].back(), '/');
  EXPECT_TRUE(kesthost::Log().empty());
  EXPECT_FALSE(WorkerAlive());
}

TEST_F(DriverTest, MissingRecordsAreRefusedWithoutACrash) {
  EXPECT_EQ(VpiMain(nullptr), 2u);
  EXPECT_EQ(Call(kGetVpiInfo, nullptr), 2u);

  VpiRequest request{};
  request.command = kColdStart;
  request.instanceNumber = 1;
  EXPECT_EQ(VpiMain(&request), 2u);
  EXPECT_FALSE(WorkerAlive());

  // A running worker is never handed a command without an instance block.
  ASSERT_EQ(ColdStart(), 0u);
  request.command = kWarmStart;
  EXPECT_EQ(VpiMain(&request), 2u);
  EXPECT_EQ(Call(kWarmStart), 0u);
  EXPECT_EQ(kesthost::LogCount("without an instance record", 32), 2u);
}

TEST_F(DriverTest, CommandsAfterEndVpiAreNotExecuted) {
  ASSERT_EQ(ColdStart(), 0u);
  ASSERT_EQ(EndVpi(), 0u);
  kesthost::ClearLog();
  kesthost::ClearCalls();
  EXPECT_EQ(Call(kBlockRead), 0u);  // 1 if it reached the handler
  EXPECT_EQ(EndVpi(), 0u);
  EXPECT_TRUE(kesthost::Log().empty());
  EXPECT_TRUE(kesthost::Calls().empty());
}

TEST_F(DriverTest, HostThreadsCallingAtOnceEachGetTheirOwnResult) {
  ASSERT_EQ(ColdStart(), 0u);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        // BlockRead answers 1 and WarmStart 0: a result taken from another caller's slot shows.
        uint32_t command = (i + t) % 2 ? kBlockRead : kWarmStart;
        uint32_t expected = command == kBlockRead ? 1 : 0;
        if (Call(command) != expected) ++wrong;
        VpiInfo info{};
        if (Call(kGetVpiInfo, &info) != 0 || info.infoTag != 77) ++wrong;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
