// Threads and the last system error code.
#pragma once

#include <cstddef>
#include <cstdint>

using ThreadId = uint32_t;  // 0 is never a valid id

// Starts fn(arg) on a new detached thread with at least stackSize bytes of stack (never less
// than the platform's minimum). Returns false on failure; *id is set before fn starts running.
bool ThreadCreateDetached(void (*fn)(void*), void* arg, size_t stackSize, ThreadId* id);
// As ThreadCreateDetached, but the thread is waited for with ThreadJoin, which returns once
// nothing of it runs any more.
struct ThreadHandle;  // opaque, owned by the backend
bool ThreadCreateJoinable(void (*fn)(void*), void* arg, size_t stackSize, ThreadId* id,
                          ThreadHandle** handle);
void ThreadJoin(ThreadHandle* handle);  // frees the handle; null is ignored
ThreadId CurrentThreadId();
uint32_t LastSystemError();  // errno here
