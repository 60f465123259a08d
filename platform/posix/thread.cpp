// PLACEHOLDER: replaced by the real backend.
#include "platform/thread.h"
bool ThreadCreateDetached(void (*)(void*), void*, size_t, ThreadId*) { return false; }
ThreadId CurrentThreadId() { return 1; }
uint32_t LastSystemError() { return 0; }
