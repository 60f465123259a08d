// The worker thread: executes the handed commands, polls the host for messages and takes the
// thread messages that the address parsers post to it.
#include "core/worker.h"

#include <chrono>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "core/driver_instance.h"
#include "core/handoff.h"
#include "core/host_api.h"
#include "core/test_point.h"
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
// While a process changes threadRunning, threadOwner holds its process id negated: a waiter asks
// whether that process lives. A live claimer takes microseconds (it makes no host call while its
// claim is open); one that stays longer than this is stalled, and the waiter gives up.
constexpr auto kClaimWaitLimit = std::chrono::seconds(30);

// threadRunning of this process's own worker (instanceNumber + 1), 0 when none runs here. The
// shared value tells other processes; this one decides what this process's worker does.
std::atomic<int32_t> localRunning{0};
std::atomic<bool> workerAlive{false};
// The worker's thread, joined once it has left its loop. Used under VpiMain's hand-off lock.
ThreadHandle* workerHandle = nullptr;

// Thread messages that the worker's queue refused (the system limits a queue, 10,000 messages by
// default on Windows, and a parse burst posts one per gate): kept here, in order, and taken by
// the worker after what its queue holds. While any is kept, later posts are kept here too, so
// that the order stays first in, first out.
struct Overflow {
  std::mutex lock;
  std::deque<ThreadMessage> messages;
  std::atomic<bool> inUse{false};  // messages is not empty
};
Overflow& KeptMessages() {
  static Overflow* overflow = new Overflow;  // the worker may take while the process exits
  return *overflow;
}

// The oldest kept message; false when none is kept.
bool TakeKeptMessage(ThreadMessage* message) {
  Overflow& o = KeptMessages();
  if (!o.inUse.load()) return false;
  std::lock_guard<std::mutex> held(o.lock);
  if (o.messages.empty()) return false;
  *message = o.messages.front();
  o.messages.pop_front();
  o.inUse.store(!o.messages.empty());
  return true;
}

// The next thread message: the system queue's first, then the kept ones in order.
bool TakeThreadMessage(ThreadMessage* message) {
  return ThreadQueueTake(message) || TakeKeptMessage(message);
}

void DropKeptMessages() {
  Overflow& o = KeptMessages();
  std::lock_guard<std::mutex> held(o.lock);
  o.messages.clear();
  o.inUse.store(false);
}

int32_t RunningTag(int32_t instanceNumber) {
  return static_cast<int32_t>(static_cast<uint32_t>(instanceNumber) + 1u);
}

// The process-shared values; the first use says when they are this process's own.
ProcessShared* SharedValues() {
  static std::once_flag told;
  std::call_once(told, [] {
    ProcessSharedFault fault{};
    if (!ProcessSharedFallback(&fault)) return;
    err(kLogError, "telMAR: ProcessSharedData() fail on %s '%s', LastError %08x", fault.step,
        ProcessSharedName(), static_cast<unsigned>(fault.error));
    err(kLogError, "telMAR: ProcessSharedData(), values are shared by this process only");
  });
  return ProcessSharedData();
}

// Gives the worker slot back: no worker runs here any more.
void ReleaseRunning() {
  int32_t tag = localRunning.exchange(0);
  ProcessShared* shared = SharedValues();
  if (tag != 0 && shared->threadOwner.load() == CurrentProcessId()) {
    shared->threadRunning.compare_exchange_strong(tag, 0);
  }
}

// Makes this process the owner of threadRunning for tag. 0, or 2 after logging why not. Nothing
// between marking the claim and completing it calls the host: a host that blocks in its log
// output must not hold other processes' claims.
uint32_t ClaimRunning(int32_t tag) {
  ProcessShared* shared = SharedValues();
  const int32_t self = CurrentProcessId();
  const auto waitEnd = std::chrono::steady_clock::now() + kClaimWaitLimit;
  for (;;) {
    int32_t owner = shared->threadOwner.load();
    if (owner < 0) {
      // Another process is claiming: wait while it lives; a dead one never completes its claim.
      const int32_t claimer = -owner;
      if (claimer == self || !ProcessAlive(claimer)) {
        shared->threadOwner.compare_exchange_strong(owner, 0);
        continue;
      }
      if (std::chrono::steady_clock::now() > waitEnd) {
        err(kLogError,
            "telMAR: StartVpiThread() fail: process %d has been claiming the worker for %d s "
            "without completing",
            claimer, static_cast<int>(kClaimWaitLimit.count()));
        return 2;
      }
      TestPoint("ClaimRunning:wait");
      std::this_thread::yield();
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
    if (!shared->threadOwner.compare_exchange_strong(owner, -self)) continue;
    if (shared->threadRunning.load() != running) {
      shared->threadOwner.store(owner);
      continue;
    }
    // threadRunning holds the new value before the worker first tests it.
    localRunning.store(tag);
    shared->threadRunning.store(tag);
    shared->threadOwner.store(self);
    // The claim is complete: the host may be told now.
    if (running != 0 && owner != self) {
      err(kLogError,
          "telMAR: StartVpiThread(), process %d ended without EndVpi; its worker no longer runs",
          owner);
    }
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
    // Once the queue has overflowed, its backlog goes before the next command: the parse burst
    // that filled it does not grow it further.
    if (KeptMessages().inUse.load() && TakeThreadMessage(threadMessage)) {
      return Outcome::kThreadMessage;
    }
    if (*commandPending) {
      *commandPending = false;
      return Outcome::kCommand;
    }
    if (EventWait(requestEvent, 0) == WaitResult::kSignalled) {
      *commandPending = true;
      continue;
    }
    if (TakeThreadMessage(threadMessage)) {
      return Outcome::kThreadMessage;
    }
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
    TestPoint("VpiThread:command");
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
  DropKeptMessages();
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
  const ThreadId worker = workerThreadId.load();
  if (worker == 0) return false;
  Overflow& o = KeptMessages();
  bool refusedNow = false;
  uint32_t error = 0;
  bool kept = false;
  {
    std::lock_guard<std::mutex> held(o.lock);
    if (o.messages.empty()) {
      bool full = false;
      if (ThreadQueuePost(worker, id, wParam, lParam, &full)) return true;
      if (!full) return false;  // the worker has no queue (it ends)
      refusedNow = true;
      error = LastSystemError();
    }
    try {
      o.messages.push_back(ThreadMessage{id, wParam, lParam});
      o.inUse.store(true);
      kept = true;
    } catch (...) {
    }
  }
  // Logged once the list is given back; once per overflow, not once per message.
  if (refusedNow) {
    err(kLogError,
        "telMAR: thread message %u refused by the worker's queue, LastError %08x; it and the "
        "messages after it wait in the driver's own list",
        id, error);
  }
  if (!kept) {
    err(kLogError, "telMAR: thread message %u for gate %llu lost: no memory to keep it", id,
        static_cast<unsigned long long>(id == kMsgPutNodeValue ? lParam : wParam));
  }
  return kept;
}
