#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "core/handoff.h"
#include "core/test_point.h"
#include "core/vpi_main.h"
#include "core/worker.h"
#include "host/kest_host.h"
#include "platform/process_shared.h"
#include "tests/core/driver_fixture.h"

namespace {

// A process other than this one that lives until EndOtherProcess: on Windows a suspended copy
// of this program (under Wine the parent of a program is no Windows process), else the parent.
#if defined(_WIN32)
PROCESS_INFORMATION other{};
int32_t StartOtherProcess() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, sizeof path);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessA(path, nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                      &startup, &other)) {
    return 0;
  }
  return static_cast<int32_t>(other.dwProcessId);
}
void EndOtherProcess() {
  TerminateProcess(other.hProcess, 0);
  WaitForSingleObject(other.hProcess, INFINITE);
  CloseHandle(other.hThread);
  CloseHandle(other.hProcess);
}
#else
int32_t StartOtherProcess() {
  return static_cast<int32_t>(getppid());
}
void EndOtherProcess() {}
#endif

int32_t otherProcess = 0;
int claimWaits = 0;
// Turns of the waiter while the other claim stays open: many, yet few enough to stay far inside
// the wait limit on a busy machine (a turn is a yield).
constexpr int kOpenTurns = 2000;

// Another process is in the middle of its claim for a long while, then completes it.
void CompleteTheOtherClaimLate(const char* point) {
  if (std::string(point) != "ClaimRunning:wait") return;
  if (++claimWaits < kOpenTurns) return;
  ProcessShared* shared = ProcessSharedData();
  shared->threadRunning.store(3);
  shared->threadOwner.store(otherProcess);
}

// A waiter never takes a live claimer for dead: it waits until the claim is complete, and a
// completed claim of another process keeps it out.
TEST_F(DriverTest, AClaimOfALiveProcessIsAwaitedNeverTakenOver) {
  otherProcess = StartOtherProcess();
  ASSERT_TRUE(ProcessAlive(otherProcess));
  ProcessShared* shared = ProcessSharedData();
  shared->threadRunning.store(0);
  shared->threadOwner.store(-otherProcess);
  claimWaits = 0;
  SetTestPointHook(CompleteTheOtherClaimLate);
  uint32_t rc = ColdStart();
  SetTestPointHook(nullptr);
  EXPECT_EQ(rc, 2u);
  EXPECT_GE(claimWaits, kOpenTurns);
  EXPECT_GE(LogIndex("telMAR: StartVpiThread() fail: only one instance of the driver allowed"), 0);
  EXPECT_FALSE(WorkerAlive());
  shared->threadRunning.store(0);
  shared->threadOwner.store(0);
  EndOtherProcess();

  // A claim left by this process itself (it holds no worker) is stale and taken over.
  shared->threadOwner.store(-CurrentProcessId());
  EXPECT_EQ(ColdStart(), 0u);
  EXPECT_EQ(shared->threadOwner.load(), CurrentProcessId());
}

TEST_F(DriverTest, NoHostPollingWithoutAClient) {
  kesthost::FailCall("KestMkClient", 3);
  ASSERT_EQ(ColdStart(), 2u);
  kesthost::PushMessage(kMsgHbActive);
  // Two round trips: the worker has been through its wait between them.
  ASSERT_EQ(Call(kWarmStart), 0u);
  ASSERT_EQ(Call(kWarmStart), 0u);
  EXPECT_EQ(kesthost::PendingMessages(), 1u);
  EXPECT_EQ(LogIndex("KEST_HB_ACTIVE"), -1);
}

TEST_F(DriverTest, HostMessagesGoToProcessKestMsg) {
  ASSERT_EQ(ColdStart(), 0u);
  kesthost::PushMessage(kMsgHbActive);
  ASSERT_TRUE(kesthost::WaitFor([] { return kesthost::PendingMessages() == 0; }));
  ASSERT_TRUE(kesthost::WaitFor([] {
    return kesthost::LogContains("telMAR> ProcessKestMsg(), KEST_HB_ACTIVE message", 32);
  }));
  EXPECT_EQ(ProcessSharedData()->stationActive.load(), 1);
}

TEST_F(DriverTest, HostShutdownRemovesTheClientAndEndVpiStillStops) {
  ASSERT_EQ(ColdStart(), 0u);
  const uint8_t client = kesthost::CurrentClient();
  kesthost::ClearCalls();
  kesthost::BeginShutdown();
  ASSERT_TRUE(kesthost::WaitFor([] {
    return kesthost::LogContains("telMAR> VpiThread() kestcon shutdown, client removed", 32);
  }));
  EXPECT_LT(LogIndex("telMAR> VpiThread() kestcon shutdown, remove client..."),
            LogIndex("telMAR> VpiThread() kestcon shutdown, client removed"));
  kesthost::Call call;
  ASSERT_TRUE(kesthost::LastCall("KestRqNetMsg", &call));
  EXPECT_EQ(call.args, (std::vector<int64_t>{client, 2}));
  ASSERT_TRUE(kesthost::LastCall("KestRmClient", &call));
  EXPECT_EQ(call.args, (std::vector<int64_t>{client}));
  EXPECT_EQ(inst()->clientId.load(), 0);

  // Without a client the worker still executes commands, and EndVpi has no client to remove.
  EXPECT_EQ(Call(kBlockWrite), 1u);
  ASSERT_EQ(EndVpi(), 0u);
  EXPECT_EQ(kesthost::CallCount("KestRmClient"), 1u);
  EXPECT_EQ(kesthost::LogCount("kestcon shutdown, remove client"), 1u);
  EXPECT_FALSE(WorkerAlive());
}

TEST_F(DriverTest, ThreadMessageIsHandledAfterTheCommandThatPostedIt) {
  kesthost::Gate gate;
  gate.id = 17;
  gate.type = 1;
  kesthost::AddGate(gate);
  std::atomic<bool> posted{false};
  std::atomic<bool> coldStartReturned{false};
  std::atomic<int> putAfterReturn{-1};
  // Post from inside ColdStart, on the worker, as the parsers post from inside their command.
  kesthost::SetLogSink([&](int, const std::string& text) {
    if (text == "TelMAR: driver loaded") posted = PostWorkerMessage(kMsgPutNodeValue, 1, 17);
  });
  // The put runs on the worker: it may only come once the command's result is with the host.
  kesthost::SetPutSink([&](const kesthost::Gate&) {
    putAfterReturn = kesthost::WaitFor([&] { return coldStartReturned.load(); }) ? 1 : 0;
  });
  ASSERT_EQ(ColdStart(), 0u);
  coldStartReturned = true;
  EXPECT_TRUE(posted.load());
  ASSERT_TRUE(kesthost::WaitFor([&] { return putAfterReturn.load() >= 0; }));
  EXPECT_EQ(putAfterReturn.load(), 1);
  ASSERT_TRUE(kesthost::GetGate(17, &gate));
  EXPECT_EQ(gate.raw, 65536u);
}

TEST_F(DriverTest, HostMessagesQueuedBeforeACommandAreHandledBeforeIt) {
  ASSERT_EQ(ColdStart(), 0u);
  for (int round = 0; round < 40; ++round) {
    // The worker has just found the queue empty and now waits for a command: the message and
    // the command reach it together.
    uint64_t polls = kesthost::EmptyPolls();
    ASSERT_TRUE(kesthost::WaitFor([&] { return kesthost::EmptyPolls() > polls; }));
    bool active = round % 2 == 0;
    kesthost::PushMessage(active ? kMsgHbActive : kMsgHbPassive);
    ASSERT_EQ(Call(kWarmStart), 0u);
    ASSERT_EQ(ProcessSharedData()->stationActive.load(), active ? 1 : 0) << "round " << round;
  }
}

TEST_F(DriverTest, QueuedThreadMessagesDoNotWaitForACommandEach) {
  kesthost::Gate gate;
  gate.type = 1;
  constexpr uint32_t kGates = 400;  // at one message per 50 ms idle turn: 20 s
  for (uint32_t id = 1; id <= kGates; ++id) {
    gate.id = id;
    kesthost::AddGate(gate);
  }
  ASSERT_EQ(ColdStart(), 0u);
  for (uint32_t id = 1; id <= kGates; ++id) {
    ASSERT_TRUE(PostWorkerMessage(kMsgPutNodeValue, 1, id));
  }
  EXPECT_TRUE(kesthost::WaitFor(
      [] {
        kesthost::Gate g;
        return kesthost::GetGate(kGates, &g) && g.puts == 1;
      },
      10000));
}

std::promise<void>* inCommand = nullptr;
std::shared_future<void> posted;

void HoldTheWorkerInItsCommand(const char* point) {
  if (std::string(point) != "VpiThread:command" || !inCommand) return;
  std::exchange(inCommand, nullptr)->set_value();
  posted.wait();
}

// Far more thread messages arrive during one command than a system queue holds (10,000): none is
// lost, and each is taken once.
TEST_F(DriverTest, ThreadMessagesPastTheQueuesLimitAreKeptAndEachTakenOnce) {
  constexpr uint32_t kMessages = 30000;
  kesthost::Gate gate;
  gate.type = 1;
  for (uint32_t id = 1; id <= kMessages; ++id) {
    gate.id = id;
    kesthost::AddGate(gate);
  }
  ASSERT_EQ(ColdStart(), 0u);
  std::promise<void> entered, done;
  inCommand = &entered;
  posted = done.get_future().share();
  SetTestPointHook(HoldTheWorkerInItsCommand);
  std::thread host([this] { Call(kWarmStart); });
  entered.get_future().wait();
  bool allPosted = true;
  for (uint32_t id = 1; id <= kMessages; ++id) {
    allPosted = PostWorkerMessage(kMsgPutNodeValue, id % 2, id) && allPosted;
  }
  done.set_value();
  host.join();
  SetTestPointHook(nullptr);
  EXPECT_TRUE(allPosted);
  ASSERT_TRUE(kesthost::WaitFor(
      [] {
        kesthost::Gate g;
        return kesthost::GetGate(kMessages, &g) && g.puts == 1;
      },
      60000));
  for (uint32_t id = 1; id <= kMessages; ++id) {
    kesthost::Gate g;
    ASSERT_TRUE(kesthost::GetGate(id, &g));
    ASSERT_EQ(g.puts, 1u) << "gate " << id;
  }
  EXPECT_LT(LogIndex("lost"), 0);
}

TEST_F(DriverTest, EndVpiReturnsOnlyOnceTheLoopHasEnded) {
  ASSERT_EQ(ColdStart(), 0u);
  ASSERT_EQ(EndVpi(), 0u);
  std::vector<std::string> log = LogTexts();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "telMAR> VpiThread() stopping successfully");
  EXPECT_FALSE(WorkerAlive());
  // Its queue went with it, and the host is no longer polled.
  EXPECT_FALSE(PostWorkerMessage(kMsgPutNodeValue, 1, 17));
  kesthost::PushMessage(kMsgHbActive);
  ASSERT_EQ(ColdStart(), 0u);  // a new worker, which takes the message
  EXPECT_EQ(kesthost::LogCount("VpiThread() started successfully"), 2u);
  ASSERT_TRUE(kesthost::WaitFor([] { return kesthost::PendingMessages() == 0; }));
}

TEST_F(DriverTest, ExceptionsNeverCrossVpiMainOrTheWorkerLoop) {
  // The host's log call throws once on a chosen line; the driver must contain it.
  std::string throwOn;
  std::atomic<bool> thrown{false};
  kesthost::SetLogSink([&](int, const std::string& text) {
    if (!thrown && text.find(throwOn) != std::string::npos) {
      thrown = true;
      throw std::runtime_error("host failure");
    }
  });

  throwOn = "TelMAR: driver loaded";  // inside a worker command
  EXPECT_EQ(ColdStart(), 2u);
  EXPECT_GE(LogIndex("telMAR> VpiThread() ERROR: exception in command 1: host failure"), 0);
  EXPECT_EQ(Call(kBlockWrite), 1u);  // the worker serves on

  thrown = false;
  throwOn = "KEST_HB_ACTIVE";  // inside a host message
  kesthost::PushMessage(kMsgHbActive);
  ASSERT_TRUE(kesthost::WaitFor([] {
    return kesthost::LogContains("telMAR> VpiThread() ERROR: exception in ProcessKestMsg");
  }));
  EXPECT_EQ(Call(kBlockWrite), 1u);

  thrown = false;
  throwOn = "no request";  // on the caller's thread
  EXPECT_EQ(VpiMain(nullptr), 2u);
  EXPECT_GE(LogIndex("telMAR: VpiMain() ERROR: exception: host failure"), 0);
}

}  // namespace
