// Auto-reset events over a mutex and a condition variable.
#include "platform/event.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

struct PlatformEvent {
  std::mutex lock;
  std::condition_variable changed;
  bool signalled = false;
};

PlatformEvent* EventCreate() {
  PlatformEvent* event = new (std::nothrow) PlatformEvent;
  if (!event) errno = ENOMEM;
  return event;
}

void EventClose(PlatformEvent* event) {
  delete event;
}

bool EventSet(PlatformEvent* event) {
  if (!event) {
    errno = EINVAL;
    return false;
  }
  // Notify under the lock: the released waiter may close the event as soon as it returns.
  std::lock_guard<std::mutex> held(event->lock);
  event->signalled = true;
  event->changed.notify_one();
  return true;
}

WaitResult EventWait(PlatformEvent* event, int timeoutMs) {
  if (!event) {
    errno = EINVAL;
    return WaitResult::kFailed;
  }
  std::unique_lock<std::mutex> held(event->lock);
  if (timeoutMs == 0) {
    // A test of the state: no wait on the condition, which would cost a system call even
    // with a deadline already past.
    if (!event->signalled) return WaitResult::kTimeout;
  } else if (timeoutMs < 0) {
    event->changed.wait(held, [event] { return event->signalled; });
  } else if (!event->changed.wait_for(held, std::chrono::milliseconds(timeoutMs),
                                      [event] { return event->signalled; })) {
    return WaitResult::kTimeout;
  }
  event->signalled = false;  // the one released wait resets it
  return WaitResult::kSignalled;
}
