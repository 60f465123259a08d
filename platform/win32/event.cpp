// Auto-reset events are the system's own.
#include "platform/event.h"

#include <windows.h>

PlatformEvent* EventCreate() {
  return reinterpret_cast<PlatformEvent*>(CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

void EventClose(PlatformEvent* event) {
  if (event) CloseHandle(reinterpret_cast<HANDLE>(event));
}

bool EventSet(PlatformEvent* event) {
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return SetEvent(reinterpret_cast<HANDLE>(event)) != FALSE;
}

WaitResult EventWait(PlatformEvent* event, int timeoutMs) {
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WaitResult::kFailed;
  }
  DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  switch (WaitForSingleObject(reinterpret_cast<HANDLE>(event), limit)) {
    case WAIT_OBJECT_0:
      return WaitResult::kSignalled;
    case WAIT_TIMEOUT:
      return WaitResult::kTimeout;
    default:
      return WaitResult::kFailed;
  }
}
