// PLACEHOLDER: replaced by the real worker.
#include "core/worker.h"
#include "platform/thread_queue.h"
std::atomic<ThreadId> workerThreadId{0};
uint32_t StartVpiThread(VpiRequest*) { return 2; }
bool PostWorkerMessage(uint32_t id, uintptr_t wParam, intptr_t lParam) {
  return ThreadQueuePost(workerThreadId.load(), id, wParam, lParam);
}
