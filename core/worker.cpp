// The worker thread: executes the handed commands, polls the host for messages and takes the
// thread messages that the address parsers post to it.
#include "core/worker.h"

#include <exception>
#include <thread>

#include "core/driver_instance.h"
#include "core/handoff.h"
#include "core/host_api.h"
#include "core/vpi_main.h"
#include "lon/lns.h"
#include "lon/monitoring.h"
#include "platform/module.h"
#include "platform/process_shared.h"
#include "platform/thread_queue.h"

std::atomic<ThreadId> workerThreadId{0};

namespace {

// Well above what the commands, the network library and a sanitizer build need.
constexpr size_t kWorkerStackSize = 1024 * 1024;
// Wait for a command this long between polls of the host and of the thread queue.
constexpr int kCommandWaitMs = 50;
// threadOwner while a process is changing threadRunning.
constexpr int32_t kClaiming = -1;
// Turns a claimer may spend changing threadRunning before it counts as dead.
constexpr int kClaimSpins = 100000;

// threadRunning of this process's own worker (instanceNumber + 1), 0 when none runs here. The
// shared value tells other processes; this one decides what this process's worker does.
std::atomic<int32_t> localRunning{0};
std::atomic<bool> workerAlive{false};
// The worker's thread, joined once it has left its loop. Used under VpiMain's hand-off lock.
ThreadHandle* workerHandle = nullptr;

int32_t RunningTag(int32_t instanceNumber) {
  return static_cast<int32_t>(static_cast<uint32_t>(instanceNumber) + 1u);
}

// Gives the worker slot back: no worker runs here any more.
void ReleaseRunning() {
  int32_t tag = localRunning.exchange(0);
  ProcessShared* shared = ProcessSharedData();
  if (tag != 0 && shared->threadOwner.load() == CurrentProcessId()) {
    shared->threadRunning.compare_exchange_strong(tag, 0);
  }
}

// Makes this process the owner of threadRunning for tag. 0, or 2 after logging why not.
uint32_t ClaimRunning(int32_t tag) {
  ProcessShared* shared = ProcessSharedData();
  int32_t self = CurrentProcessId();
  for (int spins = 0;; ++spins) {
    int32_t owner = shared->threadOwner.load();
    if (owner == kClaiming) {
      if (spins < kClaimSpins) {
        std::this_thread::yield();
        continue;
      }
      // The claimer died half-way: its claim never completed.
      shared->threadOwner.compare_exchange_strong(owner, 0);
      spins = 0;
      continue;
    }
    int32_t running = shared->threadRunning.load();
    // Our own process holds no worker (localRunning is 0), so a claim of ours is stale.
    bool held = running != 0 && owner != self && ProcessAlive(owner);
    if (held) {
      if (running == tag) {
        err(kLogError,
            "telMAR: StartVpiThread() fail: instance %d of the driver runs in process %d, "
            "not in this one",
            tag - 1, owner);
      } else {
        err(kLogError, "telMAR: StartVpiThread() fail: only one instance of the driver allowed");
      }
      return 2;
    }
    if (!requestEvent || !doneEvent) {
      err(kLogError, "telMAR: StartVpiThread() ERROR");
      return 2;
    }
    if (!shared->threadOwner.compare_exchange_strong(owner, kClaiming)) continue;
    if (shared->threadRunning.load() != running) {
      shared->threadOwner.store(owner);
      continue;
    }
    if (running != 0 && owner != self) {
      err(kLogError,
          "telMAR: StartVpiThread(), process %d ended without EndVpi; its worker no longer runs",
          owner);
    }
    // threadRunning holds the new value before the worker first tests it.
    localRunning.store(tag);
    shared->threadRunning.store(tag);
    shared->threadOwner.store(self);
    return 0;
  }
}

enum class Outcome { kCommand, kHostMessage, kHostShutdown, kThreadMessage };

// What comes next, in order of precedence: a host message, a command, a thread message. A
// command that arrives while the worker waits is taken only once the host messages queued by
// then have been handled: a host that queues a message and then calls VpiMain (say, removes a
// gate and parses it again) sees them handled in that order. `commandPending` carries a
// signalled command across calls. Queued thread messages are taken one per turn without
// waiting, so that a parse of thousands of gates does not wait 50 ms per gate.
Outcome WaitNextEvent(HostMessage* hostMessage, ThreadMessage* threadMessage,
                      bool* commandPending) {
  for (;;) {
    DriverInstance* inst = GlobalInst.load();
    if (inst) {
      uint8_t client = inst->clientId.load();
      if (client != 0) {
        uint16_t rc = KestWaitMsg(client, hostMessage, 0);
        if (rc == kWaitMsgShutdown) return Outcome::kHostShutdown;
        if (rc == kWaitMsgDelivered) return Outcome::kHostMessage;
      }
    }
    if (*commandPending) {
      *commandPending = false;
      return Outcome::kCommand;
    }
    if (EventWait(requestEvent, 0) == WaitResult::kSignalled) {
      *commandPending = true;
      continue;
    }
    if (ThreadQueueTake(threadMessage)) return Outcome::kThreadMessage;
    if (EventWait(requestEvent, kCommandWaitMs) == WaitResult::kSignalled) {
      *commandPending = true;
    }
  }
}

uint32_t RunHandler(VpiRequest* request) {
  CommandHandler handler = CommandTableHandler(request->command);
  if (!handler) return 2;
  try {
    return handler(request);
  } catch (const std::exception& e) {
    err(kLogError, "telMAR> VpiThread() ERROR: exception in command %u: %s", request->command,
        e.what());
  } catch (...) {
    err(kLogError, "telMAR> VpiThread() ERROR: exception in command %u", request->command);
  }
  return 2;
}

void ExecuteRequest() {
  resultSlot = 0;
  if (localRunning.load() != 0) {
    VpiRequest* request = requestSlot;
    resultSlot = RunHandler(request);
    if (request->command == kEndVpi) ReleaseRunning();
  }
  if (!EventSet(doneEvent)) {
    err(kLogError, "TELMAR> VpiThread() ERROR: SetEvent() LastError %08x", LastSystemError());
    ReleaseRunning();
  }
}

void HostShutdown() {
  err(kLogError, "telMAR> VpiThread() kestcon shutdown, remove client...");
  DriverInstance* inst = GlobalInst.load();
  if (!inst) return;
  uint8_t client = inst->clientId.load();
  if (client == 0) return;
  if (inst->lns) inst->lns->EnableNotifyListeners(0);
  KestRqNetMsg(client, 2);
  KestRmClient(client);
  inst->clientId.store(0);
  err(kLogError, "telMAR> VpiThread() kestcon shutdown, client removed");
}

template <typename Fn>
void Guarded(const char* what, Fn&& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    err(kLogError, "telMAR> VpiThread() ERROR: exception in %s: %s", what, e.what());
  } catch (...) {
    err(kLogError, "telMAR> VpiThread() ERROR: exception in %s", what);
  }
}

void VpiThreadEntry(void*) {
  VpiThread();
}

}  // namespace

bool WorkerRunsFor(int32_t instanceNumber) {
  int32_t tag = localRunning.load();
  return tag != 0 && tag == RunningTag(instanceNumber);
}

bool WorkerAlive() {
  return workerAlive.load();
}

void AwaitWorkerEnd() {
  ThreadJoin(workerHandle);
  workerHandle = nullptr;
}

uint32_t VpiThread() {
  ThreadQueueCreate();  // before anyone posts to this thread
  err(kLogError, "telMAR> VpiThread() started successfully");
  HostMessage hostMessage{};
  ThreadMessage threadMessage{};
  bool commandPending = false;
  do {
    switch (WaitNextEvent(&hostMessage, &threadMessage, &commandPending)) {
      case Outcome::kCommand:
        ExecuteRequest();
        break;
      case Outcome::kHostMessage: {
        DriverInstance* inst = GlobalInst.load();
        if (inst && inst->clientId.load() != 0) {
          Guarded("ProcessKestMsg", [&] { ProcessKestMsg(&hostMessage); });
        }
        break;
      }
      case Outcome::kHostShutdown:
        Guarded("host shutdown", HostShutdown);
        break;
      case Outcome::kThreadMessage:
        Guarded("ProcessThreadMsg", [&] { ProcessThreadMsg(&threadMessage); });
        break;
    }
  } while (localRunning.load() != 0);
  err(kLogError, "telMAR> VpiThread() stopping successfully");
  ThreadQueueDestroy();
  workerThreadId.store(0);
  workerAlive.store(false);
  return 0;
}

uint32_t StartVpiThread(VpiRequest* request) {
  int32_t tag = RunningTag(request->instanceNumber);
  int32_t mine = localRunning.load();
  if (mine == tag && mine != 0) return 0;
  if (mine != 0) {
    err(kLogError, "telMAR: StartVpiThread() fail: only one instance of the driver allowed");
    return 2;
  }
  if (tag == 0) {
    err(kLogError, "telMAR: StartVpiThread() fail: invalid instance number %d",
        request->instanceNumber);
    return 2;
  }
  if (ClaimRunning(tag) != 0) return 2;

  // A host may unload the library right after EndVpi, while the ended worker is still
  // returning through the library's code: keep the code mapped.
  static const bool pinned = ModuleKeepLoaded();
  if (!pinned) {
    err(kLogError, "telMAR: StartVpiThread(), the driver library cannot be kept loaded");
  }
  AwaitWorkerEnd();  // an earlier worker that ended without being waited for
  workerAlive.store(true);
  ThreadId id = 0;
  if (!ThreadCreateJoinable(VpiThreadEntry, nullptr, kWorkerStackSize, &id, &workerHandle)) {
    uint32_t error = LastSystemError();
    workerAlive.store(false);
    ReleaseRunning();
    err(kLogError, "telMAR: StartVpiThread() fail on CreateThread(), LastError %08xh", error);
    return 2;
  }
  workerThreadId.store(id);
  return 0;
}

bool PostWorkerMessage(uint32_t id, uintptr_t wParam, intptr_t lParam) {
  return ThreadQueuePost(workerThreadId.load(), id, wParam, lParam);
}
