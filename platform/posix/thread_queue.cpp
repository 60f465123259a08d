// Per-thread message queues: a registry from thread id to queue, under one lock (posting and
// taking are rare and short).
#include "platform/thread_queue.h"

#include <cerrno>
#include <deque>
#include <mutex>
#include <unordered_map>

namespace {

// A queue takes at most this many messages, as a Windows thread's queue does by default, so that
// a caller's handling of a full queue runs here too.
constexpr size_t kMaxQueued = 10000;

struct Registry {
  std::mutex lock;
  std::unordered_map<ThreadId, std::deque<ThreadMessage>> queues;
};

// Never destroyed: a worker may still take or post while the process exits.
Registry& Queues() {
  static Registry* registry = new Registry;
  return *registry;
}

}  // namespace

void ThreadQueueCreate() {
  ThreadId self = CurrentThreadId();
  Registry& r = Queues();
  std::lock_guard<std::mutex> held(r.lock);
  try {
    r.queues.try_emplace(self);
  } catch (...) {
    // Out of memory: the thread stays without a queue and posts to it fail.
  }
}

void ThreadQueueDestroy() {
  ThreadId self = CurrentThreadId();
  Registry& r = Queues();
  std::lock_guard<std::mutex> held(r.lock);
  r.queues.erase(self);
}

bool ThreadQueuePost(ThreadId thread, uint32_t id, uintptr_t wParam, intptr_t lParam, bool* full) {
  if (full) *full = false;
  if (thread == 0) return false;
  Registry& r = Queues();
  std::lock_guard<std::mutex> held(r.lock);
  auto it = r.queues.find(thread);
  if (it == r.queues.end()) return false;
  if (it->second.size() >= kMaxQueued) {
    if (full) *full = true;
    errno = EAGAIN;
    return false;
  }
  try {
    it->second.push_back(ThreadMessage{id, wParam, lParam});
  } catch (...) {
    // Out of memory: the post fails, as a full queue would.
    if (full) *full = true;
    errno = ENOMEM;
    return false;
  }
  return true;
}

bool ThreadQueueTake(ThreadMessage* message) {
  ThreadId self = CurrentThreadId();
  Registry& r = Queues();
  std::lock_guard<std::mutex> held(r.lock);
  auto it = r.queues.find(self);
  if (it == r.queues.end() || it->second.empty()) return false;
  *message = it->second.front();
  it->second.pop_front();
  return true;
}
