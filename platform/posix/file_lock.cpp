// File locks on POSIX: an advisory whole-file lock (flock) on the file's descriptor.
#include "platform/file_lock.h"

#include "platform/posix/flock_within.h"

#include <sys/file.h>

#include <unistd.h>

#include <cerrno>
#include <chrono>

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

bool FileLock(std::FILE* file, int timeoutMs) {
  if (!file) {
    errno = EINVAL;
    return false;
  }
  return FlockWithin(fileno(file), timeoutMs);
}

void FileUnlock(std::FILE* file) {
  if (file) flock(fileno(file), LOCK_UN);
}
