// File locks on POSIX: an advisory whole-file lock (flock) on the file's descriptor.
#include "platform/file_lock.h"

#include <sys/file.h>

#include <cerrno>

bool FileLock(std::FILE* file) {
  if (!file) {
    errno = EINVAL;
    return false;
  }
  int fd = fileno(file);
  int rc;
  do {
    rc = flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

void FileUnlock(std::FILE* file) {
  if (file) flock(fileno(file), LOCK_UN);
}
