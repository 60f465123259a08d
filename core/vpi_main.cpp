// The exported entry point: validates the command code, runs GetVpiInfo and BrowseAddress on the
// caller's thread and hands every other command to the worker, waiting for its result.
#include "core/vpi_main.h"

#include <exception>
#include <mutex>

#include "address/address_parser.h"
#include "browser/browse_address.h"
#include "core/handoff.h"
#include "core/host_api.h"
#include "core/lifecycle.h"
#include "core/worker.h"
#include "lon/single_io.h"
#include "platform/attributes.h"
#include "platform/thread.h"

PlatformEvent* requestEvent = nullptr;
PlatformEvent* doneEvent = nullptr;
VpiRequest* requestSlot = nullptr;
uint32_t resultSlot = 0;

namespace {

// Indexed by command code; null marks a code without a command.
constexpr CommandHandler kCommandTable[kLastCommand + 1] = {
    nullptr,              // 0
    ColdStart,            // 1
    WarmStart,            // 2
    SingleAddressParser,  // 3
    BlockAddressParser,   // 4
    SingleRead,           // 5
    BlockRead,            // 6
    SingleWrite,          // 7
    nullptr,              // 8
    nullptr,              // 9
    BlockWrite,           // 10
    EndVpi,               // 11
    CloseCom,             // 12
    ReOpenCom,            // 13
    GetVpiInfo,           // 14
    ChangeVpiParams,      // 15
    BrowseAddress,        // 16
    nullptr,              // 17
};

// A host may call from several threads; only one worker command may be in the slots at a time.
std::mutex handoffLock;

// How long the caller waits for the worker's answer before checking that the worker still lives.
constexpr int kDoneCheckMs = 100;

// The events live from library load to unload. While a worker runs (a host that exits without
// EndVpi) they stay open: the worker may still be waiting on them.
struct HandoffEvents {
  HandoffEvents() {
    requestEvent = EventCreate();
    doneEvent = EventCreate();
  }
  ~HandoffEvents() {
    if (WorkerAlive()) return;
    EventClose(requestEvent);
    EventClose(doneEvent);
    requestEvent = doneEvent = nullptr;
  }
};
HandoffEvents handoffEvents;

// Waits for the worker's answer. A worker that ended without answering ends the wait as failed.
WaitResult WaitForDone() {
  for (;;) {
    WaitResult w = EventWait(doneEvent, kDoneCheckMs);
    if (w != WaitResult::kTimeout) return w;
    if (!WorkerAlive()) {
      w = EventWait(doneEvent, 0);
      return w == WaitResult::kSignalled ? w : WaitResult::kFailed;
    }
  }
}

uint32_t HandToWorker(VpiRequest* request) {
  std::lock_guard<std::mutex> held(handoffLock);
  if (request->command == kColdStart) {
    if (!request->instance) {
      err(kLogError, "telMAR: VpiMain() ERROR: ColdStart without an instance record");
      return 2;
    }
    if (StartVpiThread(request) != 0) return 2;
  }
  // Before ColdStart and after EndVpi the command is not executed.
  if (!WorkerRunsFor(request->instanceNumber)) return 0;
  if (!request->instance) {
    err(kLogError, "telMAR: VpiMain() ERROR: command %u without an instance record",
        request->command);
    return 2;
  }

  requestSlot = request;
  if (!EventSet(requestEvent)) {
    err(kLogError, "telMAR: VpiMain() ERROR: SetEvent() LastError %08x", LastSystemError());
    return 2;
  }
  if (WaitForDone() != WaitResult::kSignalled) {
    err(kLogError, "telMAR: VpiMain() ERROR on: WaitForSingleObject(), LastError %08x",
        LastSystemError());
    return 2;
  }
  uint32_t result = resultSlot;
  // After EndVpi the worker leaves its loop: return only once it has, so that the host may
  // unload the library as soon as EndVpi returns.
  if (!WorkerRunsFor(request->instanceNumber)) AwaitWorkerEnd();
  return result;
}

uint32_t Dispatch(VpiRequest* request) {
  if (!request) {
    err(kLogError, "telMAR: VpiMain() ERROR: no request");
    return 2;
  }
  uint32_t command = request->command;
  if (command == 0 || command > kLastCommand) {
    err(kLogError, "TELMAR: Exited VpiMain() #1");
    return 2;
  }
  CommandHandler handler = kCommandTable[command];
  if (!handler) {
    err(kLogError, "TELMAR: Exited VpiMain() #2");
    return 2;
  }
  if (command == kGetVpiInfo || command == kBrowseAddress) return handler(request);
  return HandToWorker(request);
}

}  // namespace

extern "C" PLATFORM_EXPORT uint32_t VpiMain(VpiRequest* request) {
  try {
    return Dispatch(request);
  } catch (const std::exception& e) {
    err(kLogError, "telMAR: VpiMain() ERROR: exception: %s", e.what());
  } catch (...) {
    err(kLogError, "telMAR: VpiMain() ERROR: unknown exception");
  }
  return 2;
}

CommandHandler CommandTableHandler(uint32_t command) {
  return command <= kLastCommand ? kCommandTable[command] : nullptr;
}
