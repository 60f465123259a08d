// POSIX threads numbered by ids of our own, so that a thread id is known (and can be posted to)
// before the thread runs.
#include "platform/thread.h"

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>

struct ThreadHandle {
  pthread_t thread;
};

namespace {

std::atomic<ThreadId> lastThreadId{0};
thread_local ThreadId currentThreadId = 0;

ThreadId NextThreadId() {
  ThreadId id;
  do {
    id = lastThreadId.fetch_add(1) + 1;
  } while (id == 0);  // 0 never names a thread, even after wrapping
  return id;
}

struct ThreadStart {
  void (*fn)(void*);
  void* arg;
  ThreadId id;
};

void* ThreadTrampoline(void* raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  currentThreadId = start.id;
  start.fn(start.arg);
  return nullptr;
}

// No thread gets less, whatever it asks for: the system's minimum leaves no room for the C
// library's and the sanitizers' own use of the stack.
constexpr size_t kLeastStack = 64 * 1024;

size_t StackSizeFor(size_t requested) {
  size_t least = kLeastStack;
  if (least < static_cast<size_t>(PTHREAD_STACK_MIN)) least = PTHREAD_STACK_MIN;
  size_t size = requested < least ? least : requested;
  long page = sysconf(_SC_PAGESIZE);
  if (page > 0) {
    size_t p = static_cast<size_t>(page);
    size = (size + p - 1) / p * p;
  }
  return size;
}

bool StartThread(void (*fn)(void*), void* arg, size_t stackSize, bool detached, ThreadId* id,
                 pthread_t* thread) {
  ThreadStart* start = new (std::nothrow) ThreadStart{fn, arg, NextThreadId()};
  if (!start) {
    errno = ENOMEM;
    return false;
  }
  if (id) *id = start->id;
  pthread_attr_t attr;
  int rc = pthread_attr_init(&attr);
  if (rc == 0) {
    rc = pthread_attr_setdetachstate(&attr,
                                     detached ? PTHREAD_CREATE_DETACHED : PTHREAD_CREATE_JOINABLE);
    if (rc == 0) rc = pthread_attr_setstacksize(&attr, StackSizeFor(stackSize));
    if (rc == 0) rc = pthread_create(thread, &attr, ThreadTrampoline, start);
    pthread_attr_destroy(&attr);
  }
  if (rc != 0) {
    delete start;
    if (id) *id = 0;
    errno = rc;
    return false;
  }
  return true;
}

}  // namespace

bool ThreadCreateDetached(void (*fn)(void*), void* arg, size_t stackSize, ThreadId* id) {
  pthread_t thread;
  return StartThread(fn, arg, stackSize, true, id, &thread);
}

bool ThreadCreateJoinable(void (*fn)(void*), void* arg, size_t stackSize, ThreadId* id,
                          ThreadHandle** handle) {
  ThreadHandle* h = new (std::nothrow) ThreadHandle{};
  if (!h) {
    errno = ENOMEM;
    return false;
  }
  if (!StartThread(fn, arg, stackSize, false, id, &h->thread)) {
    int error = errno;
    delete h;
    errno = error;
    return false;
  }
  *handle = h;
  return true;
}

void ThreadJoin(ThreadHandle* handle) {
  if (!handle) return;
  pthread_join(handle->thread, nullptr);
  delete handle;
}

ThreadId CurrentThreadId() {
  if (currentThreadId == 0) currentThreadId = NextThreadId();
  return currentThreadId;
}

uint32_t LastSystemError() {
  return static_cast<uint32_t>(errno);
}
