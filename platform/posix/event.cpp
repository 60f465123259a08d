// PLACEHOLDER: replaced by the real backend.
#include "platform/event.h"
PlatformEvent* EventCreate() { return nullptr; }
void EventClose(PlatformEvent*) {}
bool EventSet(PlatformEvent*) { return false; }
WaitResult EventWait(PlatformEvent*, int) { return WaitResult::kFailed; }
