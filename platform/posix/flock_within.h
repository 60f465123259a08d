// The wait for an exclusive flock that both the file lock and the named lock use.
#ifndef TELMAR_PLATFORM_POSIX_FLOCK_WITHIN_H
#define TELMAR_PLATFORM_POSIX_FLOCK_WITHIN_H

// Takes an exclusive flock on fd, waiting at most timeoutMs (no limit when negative); false with
// errno set (ETIMEDOUT when the limit passed).
bool FlockWithin(int fd, int timeoutMs);

#endif
