// Named locks on Win32: a named mutex, created with the default security of the creating user.
// A mutex whose holder ended without releasing it comes back as abandoned: the next waiter owns
// it, and the state it guards is as the ended holder left it.
#include "platform/named_lock.h"

#include <windows.h>

#include <new>

struct NamedLock {
  HANDLE mutex;
  bool held;
};

NamedLock* NamedLockOpen(const char* name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  if (!mutex) return nullptr;
  NamedLock* lock = new (std::nothrow) NamedLock{mutex, false};
  if (!lock) {
    CloseHandle(mutex);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  return lock;
}

bool NamedLockAcquire(NamedLock* lock, int timeoutMs) {
  if (!lock) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  DWORD rc =
      WaitForSingleObject(lock->mutex, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  lock->held = rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED;
  if (rc == WAIT_TIMEOUT) SetLastError(WAIT_TIMEOUT);
  return lock->held;
}

void NamedLockRelease(NamedLock* lock) {
  if (!lock || !lock->held) return;
  ReleaseMutex(lock->mutex);
  lock->held = false;
}

void NamedLockClose(NamedLock* lock) {
  if (!lock) return;
  NamedLockRelease(lock);
  CloseHandle(lock->mutex);
  delete lock;
}
