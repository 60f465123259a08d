// Named locks on POSIX: an advisory whole-file lock (flock) on a shared-memory object of that
// name. The lock goes with the opening, so two openings exclude each other, and the system drops
// it when its holder ends. The empty object stays after its last user: removing a lock's name
// while another process waits on the old object would let a third one take a new lock at once.
#include "platform/named_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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

namespace {

// flock has no limit of its own: try without blocking until the limit has passed.
bool FlockWithin(int fd, int timeoutMs) {
  if (timeoutMs < 0) {
    int rc;
    do {
      rc = flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= end) {
      errno = ETIMEDOUT;
      return false;
    }
    usleep(1000);
  }
}

}  // namespace

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
