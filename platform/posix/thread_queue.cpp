// PLACEHOLDER: replaced by the real backend.
#include "platform/thread_queue.h"
void ThreadQueueCreate() {}
void ThreadQueueDestroy() {}
bool ThreadQueuePost(ThreadId, uint32_t, uintptr_t, intptr_t) { return false; }
bool ThreadQueueTake(ThreadMessage*) { return false; }
