// File locks on Win32: LockFileEx on one byte far beyond any data. Byte-range locks are binding
// for every reader and writer of the range on this system, so the locked byte lies where no
// read or write ever reaches: the lock then keeps out only those who take it too.
#include "platform/file_lock.h"

#include <io.h>
#include <windows.h>

namespace {

constexpr DWORD kLockOffsetLow = 0xFFFFFFFEu;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFFu;

HANDLE FileHandle(std::FILE* file) {
  return file ? reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))) : INVALID_HANDLE_VALUE;
}

}  // namespace

bool FileLock(std::FILE* file, int timeoutMs) {
  HANDLE handle = FileHandle(file);
  if (handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  OVERLAPPED at{};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  if (timeoutMs < 0) return LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
  // The system's lock has no limit of its own: try without blocking until the limit has passed.
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  for (;;) {
    if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
      return true;
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION && GetLastError() != ERROR_IO_PENDING) return false;
    if (GetTickCount64() >= end) {
      SetLastError(WAIT_TIMEOUT);
      return false;
    }
    Sleep(1);
  }
}

void FileUnlock(std::FILE* file) {
  HANDLE handle = FileHandle(file);
  if (handle == INVALID_HANDLE_VALUE) return;
  OVERLAPPED at{};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  UnlockFileEx(handle, 0, 1, 0, &at);
}
