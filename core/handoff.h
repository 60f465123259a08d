// The hand-off of a worker command between VpiMain (on a host thread) and the worker thread:
// one request slot, one result slot and auto-reset events, created when the library is loaded.
#pragma once

#include <cstdint>

#include "core/host_records.h"
#include "platform/event.h"

extern PlatformEvent* requestEvent;  // VpiMain -> worker: requestSlot holds a command
extern PlatformEvent* doneEvent;     // worker -> VpiMain: resultSlot holds its result
extern VpiRequest* requestSlot;
extern uint32_t resultSlot;

// True while this process's worker runs for that instance number.
bool WorkerRunsFor(int32_t instanceNumber);
// True from the start of this process's worker until it has left its loop.
bool WorkerAlive();
// Waits until a worker that has left its loop has ended completely; nothing of it runs after.
void AwaitWorkerEnd();
// The worker's body; returns 0 when it stops.
uint32_t VpiThread();
