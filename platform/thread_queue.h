// Per-thread message queues addressed by thread id, as the worker thread's message queue.
// A thread has no queue until it calls ThreadQueueCreate; posting to a thread without a queue
// fails.
#pragma once

#include <cstdint>

#include "platform/thread.h"

struct ThreadMessage {
  uint32_t id;
  uintptr_t wParam;
  intptr_t lParam;
};

void ThreadQueueCreate();   // for the calling thread; idempotent
void ThreadQueueDestroy();  // for the calling thread; drops what is queued
// False when the thread has no queue, or when its queue exists but takes nothing more (the
// system's limit of queued messages, or no memory): then `*full` (when given) becomes true and
// LastSystemError tells why. The message is not queued in either case.
bool ThreadQueuePost(ThreadId thread, uint32_t id, uintptr_t wParam, intptr_t lParam,
                     bool* full = nullptr);
// Removes the oldest message of the calling thread's queue without waiting; false when empty.
bool ThreadQueueTake(ThreadMessage* message);
