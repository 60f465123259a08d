// Auto-reset events: a set event releases exactly one wait and then resets itself.
#pragma once

#include <cstdint>

struct PlatformEvent;  // opaque, owned by the backend

enum class WaitResult { kSignalled, kTimeout, kFailed };

// Creates an event that is not signalled; null on failure (LastSystemError tells why).
PlatformEvent* EventCreate();
void EventClose(PlatformEvent* event);  // null is ignored
bool EventSet(PlatformEvent* event);    // false on failure
// timeoutMs < 0 waits without a time limit.
WaitResult EventWait(PlatformEvent* event, int timeoutMs);
