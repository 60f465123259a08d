// The worker thread: the one thread per process that executes every command but GetVpiInfo
// and BrowseAddress, polls the host for messages and takes the parsers' thread messages.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/host_records.h"
#include "platform/thread.h"

// Thread messages that the address parsers post to the worker.
enum WorkerMessage : uint32_t {
  kMsgStartListening = 2024,  // wParam gate id, lParam the GateBinding's generation
  kMsgPutNodeValue = 2025,    // wParam 16-bit value, lParam gate id
  kMsgSetPollingRate = 2026,  // wParam gate id, lParam the GateBinding's generation
};

extern std::atomic<ThreadId> workerThreadId;

// Starts the worker for a ColdStart request unless it runs already. 0 or 2.
uint32_t StartVpiThread(VpiRequest* request);
// Posts a thread message to the worker; the result is false when it has no queue.
bool PostWorkerMessage(uint32_t id, uintptr_t wParam, intptr_t lParam);
