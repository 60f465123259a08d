// Threads of the system, numbered by the system's thread ids.
#include "platform/thread.h"

#include <windows.h>

#include <new>

struct ThreadHandle {
  HANDLE thread;
};

namespace {

struct ThreadStart {
  void (*fn)(void*);
  void* arg;
};

DWORD WINAPI ThreadTrampoline(LPVOID raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  start.fn(start.arg);
  return 0;
}

// No thread gets less, whatever it asks for, as in the POSIX backend.
constexpr size_t kLeastStack = 64 * 1024;

// The thread starts suspended, so that *id is set before fn runs.
HANDLE StartThread(void (*fn)(void*), void* arg, size_t stackSize, ThreadId* id) {
  ThreadStart* start = new (std::nothrow) ThreadStart{fn, arg};
  if (!start) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  size_t size = stackSize < kLeastStack ? kLeastStack : stackSize;
  DWORD threadId = 0;
  HANDLE thread = CreateThread(nullptr, size, ThreadTrampoline, start,
                               CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &threadId);
  if (!thread) {
    DWORD error = GetLastError();
    delete start;
    if (id) *id = 0;
    SetLastError(error);
    return nullptr;
  }
  if (id) *id = threadId;
  ResumeThread(thread);
  return thread;
}

}  // namespace

bool ThreadCreateDetached(void (*fn)(void*), void* arg, size_t stackSize, ThreadId* id) {
  HANDLE thread = StartThread(fn, arg, stackSize, id);
  if (!thread) return false;
  CloseHandle(thread);
  return true;
}

bool ThreadCreateJoinable(void (*fn)(void*), void* arg, size_t stackSize, ThreadId* id,
                          ThreadHandle** handle) {
  ThreadHandle* h = new (std::nothrow) ThreadHandle{};
  if (!h) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  h->thread = StartThread(fn, arg, stackSize, id);
  if (!h->thread) {
    DWORD error = GetLastError();
    delete h;
    SetLastError(error);
    return false;
  }
  *handle = h;
  return true;
}

void ThreadJoin(ThreadHandle* handle) {
  if (!handle) return;
  WaitForSingleObject(handle->thread, INFINITE);
  CloseHandle(handle->thread);
  delete handle;
}

ThreadId CurrentThreadId() {
  return GetCurrentThreadId();
}

uint32_t LastSystemError() {
  return GetLastError();
}
