#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "address/nv_binding.h"
#include "config/share_data.h"
#include "core/handoff.h"
#include "host/kest_host.h"
#include "platform/shared_memory.h"
#include "tests/core/driver_fixture.h"

namespace {

std::vector<int64_t> Args(const std::string& name) {
  kesthost::Call call;
  if (!kesthost::LastCall(name, &call)) return {};
  return call.args;
}

// Matches text against a shape where 'A' is an upper-case letter, 'a' a lower-case one, '9' a
// digit, '_' a blank or a digit; every other character stands for itself.
bool MatchesShape(const std::string& text, const std::string& shape) {
  if (text.size() != shape.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool ok = false;
    switch (shape[i]) {
      case 'A':
        ok = std::isupper(c);
        break;
      case 'a':
        ok = std::islower(c);
        break;
      case '9':
        ok = std::isdigit(c);
        break;
      case '_':
        ok = c == ' ' || std::isdigit(c);
        break;
      default:
        ok = text[i] == shape[i];
    }
    if (!ok) return false;
  }
  return true;
}

std::vector<std::string> CallNames() {
  std::vector<std::string> names;
  for (const kesthost::Call& c : kesthost::Calls()) names.push_back(c.name);
  return names;
}

TEST_F(DriverTest, ColdStartLoadsWithoutNetworkAndEndVpiUnloads) {
  ASSERT_EQ(ColdStart(1, 0), 0u);

  std::vector<kesthost::LogLine> log = kesthost::Log();
  ASSERT_GE(log.size(), 4u);
  int entered = LogIndex("TelMAR: ColdStart() entered, Version: 02.41");
  int compiled = LogIndex("TelMAR: version compiled on ");
  int macros = LogIndex("TelMAR: number of macros: 0");
  int loaded = LogIndex("TelMAR: driver loaded");
  ASSERT_GE(entered, 0);
  EXPECT_LT(entered, compiled);
  EXPECT_LT(compiled, macros);
  EXPECT_LT(macros, loaded);
  EXPECT_EQ(log[entered].text, "TelMAR: ColdStart() entered, Version: 02.41");
  EXPECT_TRUE(
      MatchesShape(log[compiled].text, "TelMAR: version compiled on Aaa _9 9999 at time 99:99:99"))
      << log[compiled].text;

  // Registration in its order, with the client id the host gave.
  std::vector<std::string> expected = {"KestMkClient", "KestRqGateMsg", "KestRqNetMsg"};
  EXPECT_EQ(CallNames(), expected);
  kesthost::Call mk;
  ASSERT_TRUE(kesthost::LastCall("KestMkClient", &mk));
  EXPECT_EQ(mk.text, "TelMAR");
  EXPECT_EQ(mk.args, (std::vector<int64_t>{1, 0}));
  const uint8_t client = kesthost::CurrentClient();
  ASSERT_NE(client, 0);
  EXPECT_EQ(Args("KestRqGateMsg"), (std::vector<int64_t>{client, 0, 0, 96}));
  EXPECT_EQ(Args("KestRqNetMsg"), (std::vector<int64_t>{client, 1}));

  // The instance: registered, no connection, the shared block tells browsers about it.
  EXPECT_EQ(inst()->clientId.load(), client);
  EXPECT_EQ(inst()->lns, nullptr);
  EXPECT_EQ(inst()->listener, nullptr);
  EXPECT_EQ(GlobalInst.load(), inst());
  ASSERT_NE(inst()->shareView, nullptr);
  EXPECT_EQ(inst()->shareView->clientId, client);
  EXPECT_EQ(inst()->shareView->delimiter, '.');

  kesthost::ClearCalls();
  kesthost::ClearLog();
  ASSERT_EQ(EndVpi(), 0u);
  expected = {"KestRqNetMsg", "KestRmClient"};
  EXPECT_EQ(CallNames(), expected);
  EXPECT_EQ(Args("KestRqNetMsg"), (std::vector<int64_t>{client, 2}));
  EXPECT_EQ(Args("KestRmClient"), (std::vector<int64_t>{client}));
  EXPECT_EQ(kesthost::CurrentClient(), 0);
  int unload = LogIndex("TelMAR: unload driver ...");
  int unloaded = LogIndex("TelMAR: driver unloaded");
  ASSERT_GE(unload, 0);
  EXPECT_LT(unload, unloaded);

  // Nothing of the instance is left, and browse commands can no longer find the block.
  EXPECT_EQ(inst()->initialised, 0);
  EXPECT_EQ(inst()->clientId.load(), 0);
  EXPECT_EQ(inst()->shareView, nullptr);
  EXPECT_EQ(GlobalInst.load(), nullptr);
  EXPECT_EQ(SharedMemoryOpen(ShareDataName(1).c_str()), nullptr);
}

TEST_F(DriverTest, MacrosOfTheOptionFileAreCounted) {
  dir_.WriteFile("TELMAR01.int",
                 "[Lns]\nDelimiter=-\n[Macros]\n#001 = a-b-c\n#002 = d-e\n003 = f-g\n");
  ASSERT_EQ(ColdStart(), 0u);
  EXPECT_GE(LogIndex("TelMAR: number of macros: 2"), 0);
  // The start names the line it does not use.
  EXPECT_GE(LogIndex("telMar: [Macros] line 6 '003 = f-g' is not used"), 0);
  EXPECT_EQ(inst()->shareView->delimiter, '-');
}

TEST_F(DriverTest, ColdStartFailuresAreLoggedAndEndVpiReleasesWhatWasTaken) {
  struct Case {
    const char* name;
    std::function<void(const std::string& dir)> arrange;
    const char* line;
    bool clientLeft;  // registered when ColdStart gives up
  };
  const Case cases[] = {
      {"no option file",
       [](const std::string& dir) { std::remove((dir + "/TELMAR01.int").c_str()); },
       "TelMAR: ReadIntFile() fail on LoadMacros", false},
      {"client refused", [](const std::string&) { kesthost::FailCall("KestMkClient", 5); },
       "TelMAR: Error while registering as a DedeRir client, rc = 5", false},
      {"gate messages refused", [](const std::string&) { kesthost::FailCall("KestRqGateMsg", 7); },
       "TelMAR: Error while registering on DedeRir message, rc = 7", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kesthost::Reset();
    dir_.WriteFile("TELMAR01.int", "[Macros]\n");
    c.arrange(dir_.path());
    EXPECT_EQ(ColdStart(), 2u);
    EXPECT_GE(LogIndex(c.line), 0);
    EXPECT_EQ(LogIndex("driver loaded"), -1);
    EXPECT_EQ(kesthost::CurrentClient() != 0, c.clientLeft);

    // The failed start leaves its worker running; EndVpi gives everything back.
    EXPECT_TRUE(WorkerAlive());
    ASSERT_EQ(EndVpi(), 0u);
    EXPECT_EQ(kesthost::CallCount("KestRmClient"), c.clientLeft ? 1u : 0u);
    EXPECT_EQ(kesthost::CurrentClient(), 0);
    EXPECT_EQ(inst()->initialised, 0);
    EXPECT_FALSE(WorkerAlive());
  }
}

TEST_F(DriverTest, CommandsThatDoNothingChangeNothing) {
  ASSERT_EQ(ColdStart(), 0u);
  kesthost::ClearCalls();
  kesthost::ClearLog();
  const uint8_t client = inst()->clientId.load();
  struct Case {
    uint32_t command;
    uint32_t result;
  };
  const Case cases[] = {
      {kWarmStart, 0}, {kCloseCom, 0}, {kReOpenCom, 0}, {kChangeVpiParams, 0}, {kBlockWrite, 1}};
  for (const Case& c : cases) EXPECT_EQ(Call(c.command), c.result) << c.command;
  EXPECT_TRUE(kesthost::Calls().empty());
  EXPECT_TRUE(kesthost::Log().empty());
  EXPECT_EQ(inst()->clientId.load(), client);
  EXPECT_EQ(inst()->initialised, 1);
}

TEST_F(DriverTest, SecondColdStartReleasesWhatTheFirstHeld) {
  ASSERT_EQ(ColdStart(), 0u);
  const uint8_t first = kesthost::CurrentClient();
  ShareData* firstView = inst()->shareView;
  // A binding the second setup must not leak (the leak check of sanitizer builds sees it).
  ASSERT_TRUE(inst()->bindingMap.Set(7, new GateBinding{nullptr, 1, 0, {0, 0}, 0}));
  kesthost::ClearCalls();

  ASSERT_EQ(ColdStart(), 0u);
  EXPECT_GE(LogIndex("TelMAR: ColdStart(), releasing the running instance first"), 0);
  EXPECT_EQ(Args("KestRmClient"), (std::vector<int64_t>{first}));
  const uint8_t second = kesthost::CurrentClient();
  EXPECT_NE(second, 0);
  EXPECT_NE(second, first);
  EXPECT_EQ(inst()->clientId.load(), second);
  EXPECT_TRUE(inst()->bindingMap.Empty());
  ASSERT_NE(inst()->shareView, nullptr);
  EXPECT_EQ(inst()->shareView->clientId, second);
  (void)firstView;
  // Still the one worker.
  EXPECT_EQ(kesthost::LogCount("VpiThread() started successfully"), 1u);
}

TEST_F(DriverTest, OnlyOneInstanceRunsAtATime) {
  dir_.WriteFile("TELMAR02.int", "[Macros]\n");
  ASSERT_EQ(ColdStart(1), 0u);
  kesthost::ClearLog();
  EXPECT_EQ(ColdStart(2), 2u);
  std::vector<kesthost::LogLine> log = kesthost::Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].text, "telMAR: StartVpiThread() fail: only one instance of the driver allowed");
  EXPECT_EQ(log[0].level, 32);
  EXPECT_EQ(Call(kBlockWrite, nullptr, 1), 1u);  // instance 1 is served as before
  EXPECT_EQ(Call(kBlockWrite, nullptr, 2), 0u);  // instance 2 is not

  ASSERT_EQ(EndVpi(1), 0u);
  EXPECT_EQ(ColdStart(2), 0u);
  EXPECT_EQ(inst()->instanceNumber, 2);
}

TEST_F(DriverTest, InstanceNumbersAreKeptWhole) {
  dir_.WriteFile("TELMAR300.int", "[Macros]\n");
  dir_.WriteFile("TELMAR44.int", "[Macros]\n");
  ASSERT_EQ(ColdStart(300), 0u);
  EXPECT_EQ(inst()->instanceNumber, 44);  // the byte the host calls take
  // The worker runs for 300, not for its low byte.
  EXPECT_EQ(Call(kBlockWrite, nullptr, 44), 0u);
  EXPECT_EQ(ColdStart(44), 2u);
  EXPECT_EQ(Call(kBlockWrite, nullptr, 300), 1u);
  ASSERT_EQ(EndVpi(300), 0u);
  EXPECT_EQ(SharedMemoryOpen(ShareDataName(300).c_str()), nullptr);

  kesthost::ClearLog();
  EXPECT_EQ(ColdStart(-1), 2u);
  EXPECT_GE(LogIndex("telMAR: StartVpiThread() fail: invalid instance number -1"), 0);
  EXPECT_FALSE(WorkerAlive());
}

}  // namespace
