// Named locks on POSIX: an advisory whole-file lock (flock) on a shared-memory object of that
// name. The lock goes with the opening, so two openings exclude each other, and the system drops
// it when its holder ends. The empty object stays after its last user: removing a lock's name
// while another process waits on the old object would let a third one take a new lock at once.
#include "platform/named_lock.h"

#include "platform/posix/flock_within.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <new>

struct NamedLock {
  int fd;
  bool held;
};

NamedLock* NamedLockOpen(const char* name) {
  if (!name) {
    errno = EINVAL;
    return nullptr;
  }
  int fd = shm_open(name, O_RDWR | O_CREAT, 0600);
  if (fd < 0) return nullptr;
  NamedLock* lock = new (std::nothrow) NamedLock{fd, false};
  if (!lock) {
    close(fd);
    errno = ENOMEM;
  }
  return lock;
}

bool NamedLockAcquire(NamedLock* lock, int timeoutMs) {
  if (!lock) {
    errno = EINVAL;
    return false;
  }
  lock->held = FlockWithin(lock->fd, timeoutMs);
  return lock->held;
}

void NamedLockRelease(NamedLock* lock) {
  if (!lock || !lock->held) return;
  flock(lock->fd, LOCK_UN);
  lock->held = false;
}

void NamedLockClose(NamedLock* lock) {
  if (!lock) return;
  close(lock->fd);  // releases a lock still held
  delete lock;
}
