// The thread queue is the thread's own Win32 message queue: PostThreadMessage and
// PeekMessage(PM_REMOVE). The system gives a thread its queue at its first PeekMessage, and never
// takes it away; a registry of the threads whose queue is open makes posts to a thread without
// one (never created, or destroyed) fail as the contract requires.
#include "platform/thread_queue.h"

#include <windows.h>

#include <mutex>
#include <unordered_set>

namespace {

struct Registry {
  std::mutex lock;  // held around each post, so that a destroyed queue receives nothing more
  std::unordered_set<ThreadId> open;
};

// Never destroyed: a worker may still take or post while the process exits.
Registry& Queues() {
  static Registry* registry = new Registry;
  return *registry;
}

void DropQueued() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

}  // namespace

void ThreadQueueCreate() {
  MSG msg;
  PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // makes the system's queue
  Registry& r = Queues();
  std::lock_guard<std::mutex> held(r.lock);
  try {
    r.open.insert(GetCurrentThreadId());
  } catch (...) {
    // Out of memory: the thread stays without a queue and posts to it fail.
  }
}

void ThreadQueueDestroy() {
  Registry& r = Queues();
  {
    std::lock_guard<std::mutex> held(r.lock);
    r.open.erase(GetCurrentThreadId());
  }
  DropQueued();
}

bool ThreadQueuePost(ThreadId thread, uint32_t id, uintptr_t wParam, intptr_t lParam, bool* full) {
  if (full) *full = false;
  if (thread == 0) return false;
  Registry& r = Queues();
  std::lock_guard<std::mutex> held(r.lock);
  if (r.open.count(thread) == 0) return false;
  // The system refuses posts past its limit per queue (10,000 by default): ERROR_NOT_ENOUGH_QUOTA.
  if (PostThreadMessageA(thread, id, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam))) {
    return true;
  }
  if (full) *full = true;
  return false;
}

bool ThreadQueueTake(ThreadMessage* message) {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  message->id = msg.message;
  message->wParam = static_cast<uintptr_t>(msg.wParam);
  message->lParam = static_cast<intptr_t>(msg.lParam);
  return true;
}
